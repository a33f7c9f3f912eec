#!/usr/bin/python3
"""Windows Installer's Internal Consistency Evaluators, checked on a built package.

Wine's msiexec enforces none of them, and Windows Installer enforces some
only at run time (a misplaced RemoveExistingProducts stops every install
with error 2613). This reads the package's tables with `msiinfo export`
and its summary with `msiinfo suminfo`, and applies the evaluators that
concern what these packages hold, each written from its page of
Microsoft's ICE reference (learn.microsoft.com/windows/win32/msi/iceNN).
It prints one line per finding, "ICEnn: ...", and fails if any is an
error. A warning that the package takes on purpose is printed with its
reason and does not fail.

    ice_check.py PACKAGE.msi
"""
import re
import subprocess
import sys
import tempfile

SEQUENCE_TABLES = (
    "InstallExecuteSequence",
    "InstallUISequence",
    "AdminExecuteSequence",
    "AdminUISequence",
    "AdvtExecuteSequence",
)
EXECUTE_TABLES = ("InstallExecuteSequence", "AdminExecuteSequence", "AdvtExecuteSequence")

# Custom action type bits (CustomAction table, "Custom Action Types" and
# "Custom Action In-Script Execution Options").
CONTINUE, ASYNC = 0x40, 0x80
FIRST_SEQUENCE, ONCE_PER_PROCESS = 0x100, 0x200
IN_SCRIPT, ROLLBACK, COMMIT = 0x400, 0x100, 0x200
NO_IMPERSONATE, SCRIPT_64BIT, HIDE_TARGET, TS_AWARE, PATCH_UNINSTALL = 0x800, 0x1000, 0x2000, 0x4000, 0x8000
# The base types (the low six bits) of "Summary List of All Custom Action
# Types": DLL, EXE, JScript, VBScript in the Binary table (1, 2, 5, 6), as
# an installed file (17, 18, 21, 22), an error text (19), a nested
# installation (7, 23, 39), an EXE in a directory (34), a directory set
# (35), script text (37, 38), an EXE named by a property (50), a property
# set (51), script in a property (53, 54).
BASE_TYPES = {1, 2, 5, 6, 7, 17, 18, 19, 21, 22, 23, 34, 35, 37, 38, 39, 50, 51, 53, 54}
SCRIPT_TYPES = {5, 6, 21, 22, 37, 38, 53, 54}
# Types that change the installer's own state and cannot be deferred to the
# script, where that state no longer exists.
NOT_IN_SCRIPT = {19, 35, 51}
BINARY_SOURCE = {1, 2, 5, 6}

# Folders of the current user's profile (Property Reference, "System Folder
# Properties"), for ICE38, ICE57 and ICE64.
PROFILE_FOLDERS = {
    "AppDataFolder", "DesktopFolder", "FavoritesFolder", "FontsFolder", "LocalAppDataFolder",
    "MyPicturesFolder", "NetHoodFolder", "PersonalFolder", "PrintHoodFolder", "ProgramMenuFolder",
    "RecentFolder", "SendToFolder", "StartMenuFolder", "StartupFolder", "TemplateFolder",
}
FOLDERS_64 = {"ProgramFiles64Folder", "CommonFiles64Folder", "System64Folder"}
FOLDERS_32 = {"ProgramFilesFolder", "CommonFilesFolder", "SystemFolder"}

# The documented schema of the standard tables these packages hold (each
# table's page in the Database Tables reference): the columns in order, as
# msiinfo writes their types (s/S string, l/L localizable, i/I integer, v
# stream; upper case nullable). A size is left out where the reference
# allows either (File.Sequence is i2 in old schemas, i4 since 2.0).
SCHEMA = {
    "AdminExecuteSequence": "Action:s72 Condition:S255 Sequence:I2",
    "AdminUISequence": "Action:s72 Condition:S255 Sequence:I2",
    "AdvtExecuteSequence": "Action:s72 Condition:S255 Sequence:I2",
    "AppSearch": "Property:s72 Signature_:s72",
    "Binary": "Name:s72 Data:v0",
    "Component": "Component:s72 ComponentId:S38 Directory_:s72 Attributes:i2 Condition:S255 KeyPath:S72",
    "CreateFolder": "Directory_:s72 Component_:s72",
    "CustomAction": "Action:s72 Type:i2 Source:S72 Target:S255 ExtendedType:I4",
    "Directory": "Directory:s72 Directory_Parent:S72 DefaultDir:l255",
    "Error": "Error:i2 Message:L0",
    "Feature": "Feature:s38 Feature_Parent:S38 Title:L64 Description:L255 Display:I2 Level:i2 "
               "Directory_:S72 Attributes:i2",
    "FeatureComponents": "Feature_:s38 Component_:s72",
    "File": "File:s72 Component_:s72 FileName:l255 FileSize:i4 Version:S72 Language:S20 Attributes:I2 Sequence:i",
    "Icon": "Name:s72 Data:v0",
    "InstallExecuteSequence": "Action:s72 Condition:S255 Sequence:I2",
    "InstallUISequence": "Action:s72 Condition:S255 Sequence:I2",
    "LaunchCondition": "Condition:s255 Description:l255",
    "Media": "DiskId:i2 LastSequence:i DiskPrompt:L64 Cabinet:S255 VolumeLabel:S32 Source:S72",
    "MsiFileHash": "File_:s72 Options:i2 HashPart1:i4 HashPart2:i4 HashPart3:i4 HashPart4:i4",
    "Property": "Property:s72 Value:l0",
    "RegLocator": "Signature_:s72 Root:i2 Key:s255 Name:S255 Type:I2",
    "Registry": "Registry:s72 Root:i2 Key:l255 Name:L255 Value:L0 Component_:s72",
    "RemoveFile": "FileKey:s72 Component_:s72 FileName:L255 DirProperty:s72 InstallMode:i2",
    "Signature": "Signature:s72 FileName:s255 MinVersion:S20 MaxVersion:S20 MinSize:I4 MaxSize:I4 MinDate:I4 "
                 "MaxDate:I4 Languages:S255",
    "Upgrade": "UpgradeCode:s38 VersionMin:S20 VersionMax:S20 Language:S255 Attributes:i4 Remove:S255 "
               "ActionProperty:s72",
}

# Foreign keys: (table, column) -> the table whose primary key it names.
FOREIGN_KEYS = {
    ("AppSearch", "Signature_"): ("Signature", "RegLocator"),
    ("Component", "Directory_"): ("Directory",),
    ("CreateFolder", "Directory_"): ("Directory",),
    ("CreateFolder", "Component_"): ("Component",),
    ("Directory", "Directory_Parent"): ("Directory",),
    ("Feature", "Feature_Parent"): ("Feature",),
    ("Feature", "Directory_"): ("Directory",),
    ("FeatureComponents", "Feature_"): ("Feature",),
    ("FeatureComponents", "Component_"): ("Component",),
    ("File", "Component_"): ("Component",),
    ("MsiFileHash", "File_"): ("File",),
    ("Registry", "Component_"): ("Component",),
    ("RemoveFile", "Component_"): ("Component",),
}
GUID = re.compile(r"^\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}$")
IDENTIFIER = re.compile(r"^[A-Za-z_][A-Za-z0-9_.]*$")
VERSION = re.compile(r"^\d{1,5}(\.\d{1,5}){0,3}$")
SHORT_NAME = re.compile(r"^[^\\/?|><:*\"+,;=\[\] ]{1,8}(\.[^\\/?|><:*\".+,;=\[\] ]{0,3})?$")
LONG_NAME = re.compile(r"^[^\\/?|><:*\"]+$")


def run(*args):
    # (msiinfo export writes the streams of a table, Binary's and Icon's, as
    # files into its working folder: a throwaway one.)
    with tempfile.TemporaryDirectory() as scratch:
        return subprocess.run(args, check=True, capture_output=True, text=True, errors="replace",
                              cwd=scratch).stdout


class Table:
    def __init__(self, name, columns, types, rows):
        self.name, self.columns, self.types, self.rows = name, columns, types, rows
        self.keys = []

    def dicts(self):
        return [dict(zip(self.columns, row)) for row in self.rows]


class Package:
    def __init__(self, path):
        self.path = path
        self.tables = {}
        for name in run("msiinfo", "tables", path).split():
            if name.startswith("_"):
                continue
            lines = run("msiinfo", "export", path, name).replace("\r", "").split("\n")
            table = Table(name, lines[0].split("\t"), lines[1].split("\t"),
                          [line.split("\t") for line in lines[3:] if line])
            table.keys = lines[2].split("\t")[1:]
            self.tables[name] = table
        self.summary = dict(
            line.split(": ", 1) for line in run("msiinfo", "suminfo", path).splitlines() if ": " in line)
        self.properties = {row["Property"]: row["Value"] for row in self.rows("Property")}
        self.actions = {row["Action"]: row for row in self.rows("CustomAction")}
        self.directories = {row["Directory"]: row for row in self.rows("Directory")}

    def rows(self, name):
        return self.tables[name].dicts() if name in self.tables else []

    def sequence(self, name):
        """The actions of a sequence table, in order, as (sequence, action)."""
        rows = [(int(row["Sequence"]), row["Action"]) for row in self.rows(name) if row["Sequence"] not in ("",)]
        return sorted(rows)

    def custom_type(self, action):
        return int(self.actions[action]["Type"]) if action in self.actions else None

    def folders(self, directory):
        """The directory and its ancestors."""
        seen = []
        while directory and directory not in seen:
            seen.append(directory)
            directory = self.directories.get(directory, {}).get("Directory_Parent", "")
        return seen


class Findings:
    def __init__(self):
        self.errors, self.notes = [], []

    def error(self, ice, text):
        self.errors.append(f"{ice}: {text}")

    def accepted(self, ice, text, reason):
        self.notes.append(f"{ice} (warning, accepted: {reason}): {text}")


def position(sequence, action):
    for number, name in sequence:
        if name == action:
            return number
    return None


# ICE03: data types and foreign keys (learn.microsoft.com/windows/win32/msi/ice03): null in a
# column that is not nullable, integers out of range, strings past their column's size,
# duplicate primary keys, foreign keys to rows that do not exist, and the data types of
# the columns whose type the reference names (Identifier, GUID, Version, Filename,
# DefaultDir, UpperCase properties).
def ice03(package, findings):
    for table in package.tables.values():
        key_columns = [table.columns.index(key) for key in table.keys if key in table.columns]
        seen = set()
        for row in table.rows:
            if len(row) != len(table.columns):
                findings.error("ICE03", f"{table.name}: a row of {len(row)} fields, not {len(table.columns)}")
                continue
            key = tuple(row[i] for i in key_columns)
            if key in seen:
                findings.error("ICE03", f"{table.name}: duplicate primary key {key}")
            seen.add(key)
            for column, kind, value in zip(table.columns, table.types, row):
                where = f"{table.name}.{column} ({'/'.join(key)})"
                if value == "" and kind[0].islower():
                    findings.error("ICE03", f"{where}: null in a column that is not nullable")
                    continue
                if value == "":
                    continue
                size = int(kind[1:] or 0)
                if kind[0] in "iI":
                    limit = 32767 if size == 2 else 2147483647
                    if not re.fullmatch(r"-?\d+", value) or not -limit <= int(value) <= limit:
                        findings.error("ICE03", f"{where}: {value} is not an integer of {size} bytes")
                elif kind[0] in "sSlL" and size and len(value) > size:
                    findings.error("ICE03", f"{where}: {len(value)} characters, more than {size}")
    keys = {name: {row[0] for row in table.rows} for name, table in package.tables.items()}
    for (name, column), targets in FOREIGN_KEYS.items():
        for row in package.rows(name):
            value = row.get(column, "")
            if value and not any(value in keys.get(target, ()) for target in targets):
                if (name, column) == ("Directory", "Directory_Parent") and value == row["Directory"]:
                    continue
                findings.error("ICE03", f"{name}.{column} {value}: not a key of {' or '.join(targets)}")
    for action, row in package.actions.items():
        if (int(row["Type"]) & 0x3F) in BINARY_SOURCE and row["Source"] not in keys.get("Binary", ()):
            findings.error("ICE03", f"CustomAction {action}: its source {row['Source']} is not in the Binary table")
    for name in ("Component", "Directory", "File", "Feature", "Registry", "Binary", "CustomAction", "Property"):
        for value in keys.get(name, ()):
            if not IDENTIFIER.match(value):
                findings.error("ICE03", f"{name} {value}: not an Identifier")
    for row in package.rows("Component"):
        if row["ComponentId"] and not GUID.match(row["ComponentId"]):
            findings.error("ICE03", f"Component.ComponentId {row['ComponentId']}: not a GUID in upper case")
    for row in package.rows("Upgrade"):
        if not GUID.match(row["UpgradeCode"]):
            findings.error("ICE03", f"Upgrade.UpgradeCode {row['UpgradeCode']}: not a GUID in upper case")
        for column in ("VersionMin", "VersionMax"):
            if row[column] and not VERSION.match(row[column]):
                findings.error("ICE03", f"Upgrade.{column} {row[column]}: not a Version")
    for name in ("ProductCode", "UpgradeCode"):
        if name in package.properties and not GUID.match(package.properties[name]):
            findings.error("ICE03", f"Property {name}: {package.properties[name]} is not a GUID in upper case")
    for row in package.rows("File"):
        if not filename(row["FileName"]):
            findings.error("ICE03", f"File.FileName {row['FileName']} ({row['File']}): not a Filename "
                                    "(a short 8.3 name, then |long name)")
        if row["Version"] and not VERSION.match(row["Version"]) and row["Version"] not in keys["File"]:
            findings.error("ICE03", f"File.Version {row['Version']} ({row['File']}): not a Version or a File key")
    for row in package.rows("Directory"):
        if not all(part in (".", "SourceDir") or filename(part) for part in row["DefaultDir"].split(":")):
            findings.error("ICE03", f"Directory.DefaultDir {row['DefaultDir']} ({row['Directory']}): "
                                    "not a DefaultDir (Filename[:Filename], or .)")


def filename(text):
    short, bar, long = text.partition("|")
    return bool(SHORT_NAME.match(short)) and (not bar or bool(LONG_NAME.match(long)))


# ICE06: every column that the schema defines for a table is in the database
# (learn.microsoft.com/windows/win32/msi/ice06); with ICE03's check of each column
# against its definition, every column of the database is one the installer knows.
def ice06(package, findings):
    for name, definition in SCHEMA.items():
        if name not in package.tables:
            continue
        table = package.tables[name]
        expected = [column.split(":") for column in definition.split()]
        for index, (column, kind) in enumerate(expected):
            if column not in table.columns:
                findings.error("ICE06", f"Column {column} of table {name} is not defined in the database")
                continue
            actual = table.types[table.columns.index(column)]
            if table.columns.index(column) != index or not actual.startswith(kind):
                findings.error("ICE06", f"{name}.{column}: {actual} at {table.columns.index(column) + 1}, "
                                        f"the schema has {kind} at {index + 1}")
        for column in table.columns:
            if column not in [c for c, _ in expected]:
                findings.error("ICE03", f"{name}.{column}: a column the schema does not define")


# ICE12: directory-setting custom actions and CostFinalize
# (learn.microsoft.com/windows/win32/msi/ice12): a sequence holding a type 35 or a type 51
# that sets a Directory entry has CostFinalize; type 35 comes after it, such a type 51
# before it; type 35 names a Directory entry.
def ice12(package, findings):
    for table in SEQUENCE_TABLES:
        sequence = package.sequence(table)
        cost_finalize = position(sequence, "CostFinalize")
        for number, action in sequence:
            kind = package.custom_type(action)
            if kind is None:
                continue
            source = package.actions[action]["Source"]
            if kind & 0x3F == 35:
                if source not in package.directories:
                    findings.error("ICE12", f"{action}: folder {source} not found in the Directory table")
                if cost_finalize is None or number <= cost_finalize:
                    findings.error("ICE12", f"{action} at {number} in {table} must come after CostFinalize "
                                            f"({cost_finalize})")
            elif kind & 0x3F == 51 and source in package.directories:
                if cost_finalize is None or number >= cost_finalize:
                    findings.error("ICE12", f"{action} at {number} in {table} sets a directory: it must come "
                                            f"before CostFinalize ({cost_finalize})")


# ICE27: sequence tables (learn.microsoft.com/windows/win32/msi/ice27): every action is a
# standard action, a custom action or a dialog; the Search, Costing, Selection and Execution
# sections hold their own actions; actions that depend on one another are in order; and
# InstallFinalize is there exactly when the Execution section holds script actions.
STANDARD_ACTIONS = set("""
ADMIN ADVERTISE AllocateRegistrySpace AppSearch BindImage CCPSearch CostFinalize CostInitialize CreateFolders
CreateShortcuts DeleteServices DisableRollback DuplicateFiles ExecuteAction FileCost FindRelatedProducts
ForceReboot INSTALL InstallAdminPackage InstallExecute InstallExecuteAgain InstallFiles InstallFinalize
InstallInitialize InstallODBC InstallServices InstallSFPCatalogFile InstallValidate IsolateComponents
LaunchConditions MigrateFeatureStates MoveFiles MsiConfigureServices MsiPublishAssemblies MsiUnpublishAssemblies
PatchFiles ProcessComponents PublishComponents PublishFeatures PublishProduct RegisterClassInfo
RegisterComPlus RegisterExtensionInfo RegisterFonts RegisterMIMEInfo RegisterProduct RegisterProgIdInfo
RegisterTypeLibraries RegisterUser RemoveDuplicateFiles RemoveEnvironmentStrings RemoveExistingProducts
RemoveFiles RemoveFolders RemoveIniValues RemoveODBC RemoveRegistryValues RemoveShortcuts ResolveSource
RMCCPSearch ScheduleReboot SelfRegModules SelfUnregModules SEQUENCE SetODBCFolders StartServices StopServices
UnpublishComponents UnpublishFeatures UnregisterClassInfo UnregisterComPlus UnregisterExtensionInfo
UnregisterFonts UnregisterMIMEInfo UnregisterProgIdInfo UnregisterTypeLibraries ValidateProductID
WriteEnvironmentStrings WriteIniValues WriteRegistryValues
""".split())
SEARCH = {"AppSearch", "CCPSearch", "RMCCPSearch"}
COSTING = {"FileCost"}
SCRIPT_ACTIONS = {
    "AllocateRegistrySpace", "BindImage", "CreateFolders", "CreateShortcuts", "DeleteServices", "DuplicateFiles",
    "InstallFiles", "InstallODBC", "InstallServices", "MoveFiles", "PatchFiles", "ProcessComponents",
    "PublishComponents", "PublishFeatures", "PublishProduct", "RegisterClassInfo", "RegisterComPlus",
    "RegisterExtensionInfo", "RegisterFonts", "RegisterMIMEInfo", "RegisterProduct", "RegisterProgIdInfo",
    "RegisterTypeLibraries", "RegisterUser", "RemoveDuplicateFiles", "RemoveEnvironmentStrings", "RemoveFiles",
    "RemoveFolders", "RemoveIniValues", "RemoveODBC", "RemoveRegistryValues", "RemoveShortcuts",
    "SelfRegModules", "SelfUnregModules", "StartServices", "StopServices", "UnpublishComponents",
    "UnpublishFeatures", "UnregisterClassInfo", "UnregisterComPlus", "UnregisterExtensionInfo", "UnregisterFonts",
    "UnregisterMIMEInfo", "UnregisterProgIdInfo", "UnregisterTypeLibraries", "WriteEnvironmentStrings",
    "WriteIniValues", "WriteRegistryValues", "InstallAdminPackage",
}
# (before, after): the standard actions' own pages state these dependencies.
ORDER = [
    ("FindRelatedProducts", "MigrateFeatureStates"), ("FindRelatedProducts", "RemoveExistingProducts"),
    ("AppSearch", "LaunchConditions"), ("CostInitialize", "FileCost"), ("FileCost", "CostFinalize"),
    ("CostInitialize", "CostFinalize"), ("CostFinalize", "MigrateFeatureStates"),
    ("CostFinalize", "InstallValidate"), ("InstallValidate", "InstallInitialize"),
    ("InstallInitialize", "ProcessComponents"), ("InstallInitialize", "InstallFinalize"),
    ("UnpublishFeatures", "PublishFeatures"), ("RemoveRegistryValues", "WriteRegistryValues"),
    ("RemoveFiles", "InstallFiles"),
    ("RegisterProduct", "PublishProduct"), ("PublishFeatures", "PublishProduct"),
    ("ProcessComponents", "InstallFiles"), ("ProcessComponents", "WriteRegistryValues"),
    ("PublishProduct", "InstallFinalize"), ("RegisterProduct", "InstallFinalize"),
    ("InstallAdminPackage", "InstallFinalize"), ("InstallFiles", "InstallFinalize"),
]


def ice27(package, findings):
    dialogs = {row[0] for row in package.tables["Dialog"].rows} if "Dialog" in package.tables else set()
    for table in SEQUENCE_TABLES:
        sequence = package.sequence(table)
        if not sequence:
            continue
        at = {action: number for number, action in sequence}
        for number, action in sequence:
            if action not in STANDARD_ACTIONS and action not in package.actions and action not in dialogs:
                findings.error("ICE27", f"Unknown action: '{action}' of {table} table. Not a standard action and "
                                        "not found in CustomAction or Dialog tables")
        cost_initialize, cost_finalize = at.get("CostInitialize"), at.get("CostFinalize")
        validate, finalize = at.get("InstallValidate"), at.get("InstallFinalize")
        for number, action in sequence:
            if action in SEARCH and cost_initialize is not None and number > cost_initialize:
                findings.error("ICE27", f"'{action}' in {table} table in wrong place. Current: after "
                                        "CostInitialize, Correct: Search")
            if action in COSTING and (cost_initialize is None or cost_finalize is None
                                      or not cost_initialize < number < cost_finalize):
                findings.error("ICE27", f"'{action}' in {table} table in wrong place. Correct: Costing")
            if action in SCRIPT_ACTIONS:
                if (validate is not None and number < validate) or (finalize is not None and number > finalize):
                    findings.error("ICE27", f"'{action}' in {table} table in wrong place. Correct: Execution "
                                            f"(InstallValidate {validate} to InstallFinalize {finalize})")
        script = [action for _, action in sequence if action in SCRIPT_ACTIONS]
        if script and finalize is None:
            findings.error("ICE27", f"InstallFinalize must be called in {table} table as script operations "
                                    f"exist to be executed ({', '.join(script[:3])})")
        if finalize is not None and not script and table != "AdvtExecuteSequence":
            in_script = [a for _, a in sequence if (package.custom_type(a) or 0) & IN_SCRIPT]
            if not in_script:
                findings.error("ICE27", f"'InstallFinalize' action in {table} table can only be called when "
                                        "script operations exist to be executed")
        for before, after in ORDER:
            if before in at and after in at and at[before] >= at[after]:
                findings.error("ICE27", f"'{after}' in {table} table must come after '{before}' "
                                        f"({at[after]} <= {at[before]})")


# ICE38: a component installed under the current user's profile has a registry key under
# HKEY_CURRENT_USER as its key path (learn.microsoft.com/windows/win32/msi/ice38).
def ice38(package, findings):
    registry = {row["Registry"]: row for row in package.rows("Registry")}
    for component in package.rows("Component"):
        if not PROFILE_FOLDERS & set(package.folders(component["Directory_"])):
            continue
        name = component["Component"]
        if not int(component["Attributes"]) & 0x4:
            findings.error("ICE38", f"Component {name} installs to user profile. It must use a registry key "
                                    "under HKCU as its KeyPath, not a file.")
        elif not component["KeyPath"]:
            findings.error("ICE38", f"Component {name} installs to user profile. It must use a registry key "
                                    "under HKCU as its KeyPath. The KeyPath is currently NULL.")
        elif registry.get(component["KeyPath"], {}).get("Root") != "1":
            findings.error("ICE38", f"Component {name} installs to user profile. Its KeyPath registry key "
                                    "must fall under HKCU.")


# ICE57: no component mixes per-user and per-machine data: registry entries, files,
# directory key paths (learn.microsoft.com/windows/win32/msi/ice57). HKCU (1) is per user,
# HKLM (2), HKU (3) per machine; HKCR (0) and -1 follow ALLUSERS, per machine in a package
# whose ALLUSERS is 1.
def ice57(package, findings):
    per_machine_package = package.properties.get("ALLUSERS") == "1"

    def scope_of_root(root):
        if root == "1":
            return "user"
        if root in ("2", "3") or per_machine_package:
            return "machine"
        return "either"

    def scope_of_directory(directory):
        return "user" if PROFILE_FOLDERS & set(package.folders(directory)) else "machine"

    scopes = {}
    for row in package.rows("Registry"):
        scopes.setdefault(row["Component_"], set()).add(scope_of_root(row["Root"]))
    for component in package.rows("Component"):
        name = component["Component"]
        if any(f["Component_"] == name for f in package.rows("File")) or not component["KeyPath"]:
            scopes.setdefault(name, set()).add(scope_of_directory(component["Directory_"]))
        found = scopes.get(name, set())
        if "user" in found and "machine" in found:
            findings.error("ICE57", f"Component '{name}' has both per-user and per-machine data")
        elif "either" in found and len(found) > 1:
            findings.error("ICE57", f"Component '{name}' has a registry entry that can be either per-user or "
                                    "per-machine beside data of one kind")


# ICE61: the Upgrade table (learn.microsoft.com/windows/win32/msi/ice61).
def ice61(package, findings):
    rows = package.rows("Upgrade")
    secure = set(package.properties.get("SecureCustomProperties", "").split(";"))
    current = version_tuple(package.properties.get("ProductVersion", "0"))
    seen = set()
    for row in rows:
        prop = row["ActionProperty"]
        if prop in package.properties:
            findings.error("ICE61", f"Upgrade.ActionProperty {prop} must not be authored in the Property table")
        if prop != prop.upper():
            findings.error("ICE61", f"Upgrade.ActionProperty {prop} must not contain lowercase letters")
        if prop not in secure:
            findings.error("ICE61", f"Upgrade.ActionProperty {prop} must be added to the SecureCustomProperties "
                                    "property")
        if prop in seen:
            findings.error("ICE61", f"Upgrade.ActionProperty {prop} may be used in only one record of the "
                                    "Upgrade table")
        seen.add(prop)
        low, high = row["VersionMin"], row["VersionMax"]
        for value in (low, high):
            if value and not valid_product_version(value):
                findings.error("ICE61", f"Upgrade version {value} ({prop}) is not a valid ProductVersion")
        if low and high and version_tuple(high) < version_tuple(low):
            findings.error("ICE61", f"Upgrade.VersionMax cannot be less than Upgrade.VersionMin. ({prop})")
        attributes = int(row["Attributes"])
        if high and not attributes & 0x2:  # msidbUpgradeAttributesOnlyDetect
            ceiling = version_tuple(high)
            inclusive = bool(attributes & 0x200)  # msidbUpgradeAttributesVersionMaxInclusive
            if ceiling > current:
                findings.error("ICE61", f"This product should remove only older versions of itself. The "
                                        f"Maximum version is greater than the current product. ({high} {current})")
            elif ceiling == current and inclusive:
                # Windows Installer compares three fields; every build is a version of
                # its own, and a rebuild of the same version, or the other
                # architecture's package of it, replaces the installed one instead of
                # going beside it.
                findings.accepted("ICE61", f"the Maximum version is the current product's ({high}, inclusive)",
                                  "a package of the same version replaces the installed one")


def version_tuple(text):
    return tuple(int(part) for part in text.split(".")[:3]) + (0,) * (3 - len(text.split(".")[:3]))


def valid_product_version(text):
    # ProductVersion: major.minor.build, at most 255.255.65535 (a fourth field is ignored).
    parts = text.split(".")
    if not 1 <= len(parts) <= 4 or not all(part.isdigit() for part in parts):
        return False
    limits = (255, 255, 65535, 65535)
    return all(int(part) <= limit for part, limit in zip(parts, limits))


# ICE63: the place of RemoveExistingProducts (learn.microsoft.com/windows/win32/msi/ice63):
# between InstallValidate and InstallInitialize; right after InstallInitialize, with no action
# between them that writes to the script; right after InstallExecute or InstallExecuteAgain,
# before InstallFinalize, under the same restriction; or after InstallFinalize. Whether an
# action between writes to the script depends on its condition at run time, so any action
# between is a failure here (Windows Installer stops with error 2613).
def ice63(package, findings):
    sequence = package.sequence("InstallExecuteSequence")
    at = {action: number for number, action in sequence}
    if "RemoveExistingProducts" not in at:
        return
    rep = at["RemoveExistingProducts"]
    validate, initialize = at.get("InstallValidate"), at.get("InstallInitialize")
    finalize = at.get("InstallFinalize")
    execute = max((at[a] for a in ("InstallExecute", "InstallExecuteAgain") if a in at and at[a] < rep), default=None)
    if validate is not None and initialize is not None and validate < rep < initialize:
        return
    if finalize is not None and rep > finalize:
        return
    start = execute if execute is not None else initialize
    if start is None or rep < start:
        findings.error("ICE63", f"RemoveExistingProducts ({rep}) comes before InstallValidate or "
                                "InstallInitialize")
        return
    between = [action for number, action in sequence if start < number < rep]
    if between:
        anchor = "InstallExecute" if execute is not None else "InstallInitialize"
        findings.error("ICE63", f"Some action falls between {anchor} and RemoveExistingProducts: "
                                f"{', '.join(between)}")


# ICE64: new directories in the user profile are listed in the RemoveFile table, so that
# they are removed with the product (learn.microsoft.com/windows/win32/msi/ice64).
def ice64(package, findings):
    removed = {row["DirProperty"] for row in package.rows("RemoveFile") if not row["FileName"]}
    for directory, row in package.directories.items():
        if directory in PROFILE_FOLDERS or not PROFILE_FOLDERS & set(package.folders(directory)):
            continue
        if directory not in removed:
            findings.error("ICE64", f"The directory {directory} is in the user profile but is not listed in "
                                    "the RemoveFile table.")


# ICE68: custom action types are valid (learn.microsoft.com/windows/win32/msi/ice68), with
# the in-script options of "Custom Action In-Script Execution Options"; deferred actions
# stand in the execution sequences only (ICE77 checks where there).
def ice68(package, findings):
    for action, row in package.actions.items():
        kind = int(row["Type"])
        base = kind & 0x3F
        invalid = base not in BASE_TYPES
        if kind & SCRIPT_64BIT and base not in SCRIPT_TYPES:
            invalid = True
        if kind & IN_SCRIPT:
            if base in NOT_IN_SCRIPT or kind & (ROLLBACK | COMMIT) == ROLLBACK | COMMIT:
                invalid = True
            if kind & ROLLBACK and kind & ASYNC:
                invalid = True  # rollback actions cannot run asynchronously
            if kind & TS_AWARE and kind & NO_IMPERSONATE:
                invalid = True
        elif kind & TS_AWARE:
            invalid = True
        if invalid:
            findings.error("ICE68", f"Invalid custom action type for action '{action}'. {kind} is not a valid "
                                    "action type.")
        if kind & NO_IMPERSONATE and not kind & IN_SCRIPT:
            findings.error("ICE68", f"Even though custom action '{action}' is marked to be elevated (with "
                                    "attribute msidbCustomActionTypeNoImpersonate), it will not be run with "
                                    "elevated privileges because it's not deferred (with attribute "
                                    "msidbCustomActionTypeInScript).")
    for table in ("InstallUISequence", "AdminUISequence"):
        for number, action in package.sequence(table):
            if (package.custom_type(action) or 0) & IN_SCRIPT:
                findings.error("ICE68", f"{action}: a deferred custom action in {table}, where no script is "
                                        "written")


# ICE77: in-script custom actions come after InstallInitialize and before InstallFinalize
# in InstallExecuteSequence and AdminExecuteSequence (learn.microsoft.com/windows/win32/msi/ice77).
def ice77(package, findings):
    for table in ("InstallExecuteSequence", "AdminExecuteSequence"):
        sequence = package.sequence(table)
        in_script = [(n, a) for n, a in sequence if (package.custom_type(a) or 0) & IN_SCRIPT]
        if not in_script:
            continue
        initialize, finalize = position(sequence, "InstallInitialize"), position(sequence, "InstallFinalize")
        for missing, at in (("InstallInitialize", initialize), ("InstallFinalize", finalize)):
            if at is None:
                findings.error("ICE77", f"{missing} is missing from '{table}'.")
        for number, action in in_script:
            if (initialize is not None and number <= initialize) or (finalize is not None and number >= finalize):
                findings.error("ICE77", f"{action} is a in-script custom action. It must be sequenced in between "
                                        f"the InstallInitialize action and the InstallFinalize action in the "
                                        f"{table} Sequence table.")


# ICE80: the platform of the Template summary property against 64-bit components and
# script custom actions, the schema (page count) it needs, the ProductLanguage in the
# Template's languages, and 64-bit components under 64-bit folders only
# (learn.microsoft.com/windows/win32/msi/ice80).
def ice80(package, findings):
    template = package.summary.get("Template", "")
    platform, _, languages = template.partition(";")
    if not platform and not languages:
        findings.error("ICE80", "Bad value in Summary Information Stream for Template")
    wide = platform in ("Intel64", "x64", "Arm64")
    schema = int(package.summary.get("Version", "0").split()[0] or 0)
    for marked, minimum in (("Intel64", 150), ("x64", 200), ("Arm64", 500)):
        if platform == marked and schema < minimum:
            findings.error("ICE80", f"This package is marked with {marked}, but it has a schema less than "
                                    f"{minimum} ({schema}).")
    language = package.properties.get("ProductLanguage", "")
    if language and language not in languages.split(","):
        findings.error("ICE80", f"The 'ProductLanguage' property in the Property table has a value of "
                                f"'{language}' that is not contained in the Template Summary property stream.")

    def bitness(directory):
        for folder in package.folders(directory):
            if folder in FOLDERS_64:
                return 64
            if folder in FOLDERS_32:
                return 32
        return None

    for component in package.rows("Component"):
        name, is64 = component["Component"], bool(int(component["Attributes"]) & 0x100)
        if is64 and not wide:
            findings.error("ICE80", f"This package contains 64 bit component '{name}' but the Template Summary "
                                    "Property does not contain Intel64, x64 or Arm64.")
        folder = bitness(component["Directory_"])
        if is64 and folder == 32:
            findings.error("ICE80", f"This 64BitComponent {name} uses 32BitDirectory {component['Directory_']}")
        if not is64 and folder == 64:
            findings.error("ICE80", f"This 32BitComponent {name} uses 64BitDirectory {component['Directory_']}")
    for action, row in package.actions.items():
        if int(row["Type"]) & SCRIPT_64BIT and not wide:
            findings.error("ICE80", f"This package contains 64 bit custom action script '{action}' but the "
                                    "Template Summary Property does not contain Intel64, x64 or Arm64.")
    if not wide:
        for folder in FOLDERS_64 & set(package.directories):
            findings.error("ICE80", f"This 32BitPackage uses 64BitProperty {folder}")
        for row in package.rows("RegLocator"):
            if row["Type"] and int(row["Type"]) & 0x10:
                findings.error("ICE80", f"This 32BitPackage uses 64Bit Locator type in RegLocator entry "
                                        f"{row['Signature_']}")


# ICE82: no two actions of a sequence table share a sequence number (a warning there,
# a failure here: the order between them is then undefined), and RegisterProduct,
# RegisterUser, PublishProduct and PublishFeatures are all in InstallExecuteSequence or
# none of them (learn.microsoft.com/windows/win32/msi/ice82).
def ice82(package, findings):
    for table in SEQUENCE_TABLES:
        numbers = {}
        for number, action in package.sequence(table):
            if number > 0 and number in numbers:
                findings.error("ICE82", f"This action {action} has duplicate sequence number {number} in the "
                                        f"table {table} (with {numbers[number]})")
            numbers.setdefault(number, action)
    present = {action for _, action in package.sequence("InstallExecuteSequence")}
    four = ["RegisterProduct", "RegisterUser", "PublishProduct", "PublishFeatures"]
    missing = [action for action in four if action not in present]
    if missing and len(missing) < len(four):
        findings.error("ICE82", "The InstallExecuteSequence should either contain all of the actions mentioned "
                                f"below or none of them. Actions Missing: {', '.join(missing)}")


RULES = [ice03, ice06, ice12, ice27, ice38, ice57, ice61, ice63, ice64, ice68, ice77, ice80, ice82]


def check(path):
    package = Package(path)
    findings = Findings()
    for rule in RULES:
        rule(package, findings)
    return findings


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    findings = check(sys.argv[1])
    for line in findings.notes + findings.errors:
        print(line)
    if findings.errors:
        print(f"FAIL: {sys.argv[1]}: {len(findings.errors)} finding(s) of Windows Installer's rules")
        sys.exit(1)
    print(f"PASS: {sys.argv[1]}: {len(RULES)} evaluators")


if __name__ == "__main__":
    main()
