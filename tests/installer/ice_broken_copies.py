#!/usr/bin/python3
"""The static check of Windows Installer's rules (ice_check.py), shown to fail.

For each evaluator, a copy of PACKAGE with that rule broken (its tables
edited with msibuild, as a careless change to the .wxs or to
build_package.cmake would) must fail the check with that evaluator's
finding; PACKAGE itself must pass.

    ice_broken_copies.py PACKAGE.msi WORK_DIR
"""
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ice_check  # noqa: E402

PROFILE_FOLDER = [
    "INSERT INTO Directory (Directory, Directory_Parent, DefaultDir) VALUES ('AppDataFolder', 'TARGETDIR', '.')",
    "INSERT INTO Directory (Directory, Directory_Parent, DefaultDir) "
    "VALUES ('ProfileDir', 'AppDataFolder', 'QUILLB~9|Quillbrook')",
]
BROKEN = {
    # A long file name without its short one.
    "ICE03": ["UPDATE File SET FileName = 'quillbrook-cli.exe' WHERE File = 'quillbrook_cli.exe'"],
    # A table without a column of its schema.
    "ICE06": ["DROP TABLE LaunchCondition",
              "CREATE TABLE LaunchCondition (Condition CHAR(255) NOT NULL PRIMARY KEY Condition)"],
    # The install folder set from a property before costing has made it.
    "ICE12": ["INSERT INTO CustomAction (Action, Type, Source, Target) "
              "VALUES ('SetInstallDir', 35, 'INSTALLDIR', '[ProgramFiles64Folder]Other')",
              "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('SetInstallDir', 990)"],
    # Files installed before the old ones are removed.
    "ICE27": ["UPDATE InstallExecuteSequence SET Sequence = 3400 WHERE Action = 'InstallFiles'"],
    # A component in the user's profile keyed by a file.
    "ICE38": PROFILE_FOLDER + [
        "INSERT INTO Component (Component, ComponentId, Directory_, Attributes, KeyPath) "
        "VALUES ('Profile', '{5F3C1D0E-7A55-4C3B-9B0E-1D2A3B4C5D6E}', 'ProfileDir', 0, 'profile.txt')",
        "INSERT INTO File (File, Component_, FileName, FileSize, Attributes, Sequence) "
        "VALUES ('profile.txt', 'Profile', 'profile.txt', 1, 512, 9)"],
    # A value under HKCU in the per-machine module's component.
    "ICE57": ["INSERT INTO Registry (Registry, Root, `Key`, Name, Value, Component_) "
              "VALUES ('UserValue', 1, 'Software\\Quillbrook', 'Test', '1', 'Module')"],
    # The upgrade's property not passed to the installation's server side.
    "ICE61": ["UPDATE Property SET Value = 'WIX_DOWNGRADE_DETECTED' WHERE Property = 'SecureCustomProperties'"],
    # A rollback action between InstallInitialize and RemoveExistingProducts (error 2613).
    "ICE63": ["UPDATE InstallExecuteSequence SET Sequence = 1504 WHERE Action = 'RemoveExistingProducts'"],
    # A folder in the user's profile that nothing removes.
    "ICE64": PROFILE_FOLDER + [
        "INSERT INTO Registry (Registry, Root, `Key`, Name, Value, Component_) "
        "VALUES ('ProfileKey', 1, 'Software\\Quillbrook', 'Profile', '1', 'Profile')",
        "INSERT INTO Component (Component, ComponentId, Directory_, Attributes, KeyPath) "
        "VALUES ('Profile', '{5F3C1D0E-7A55-4C3B-9B0E-1D2A3B4C5D6E}', 'ProfileDir', 4, 'ProfileKey')"],
    # The example of the reference: 1027 is no custom action type.
    "ICE68": ["UPDATE CustomAction SET Type = 1027 WHERE Action = 'BindFlac'"],
    # The bind written to the script after InstallFinalize has run it.
    "ICE77": ["UPDATE InstallExecuteSequence SET Sequence = 6601 WHERE Action = 'BindFlac'"],
    # The native module's component marked 32-bit under the 64-bit Program Files.
    "ICE80": ["UPDATE Component SET Attributes = 0 WHERE Component = 'Module'"],
    # Two actions at one sequence number: their order is undefined.
    "ICE82": ["UPDATE InstallExecuteSequence SET Sequence = 1591 WHERE Action = 'UndoUnbindFlac'"],
}


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    package, work = sys.argv[1:]
    os.makedirs(work, exist_ok=True)
    failures = []
    findings = ice_check.check(package)
    if findings.errors:
        failures.append(f"{package} itself fails: {findings.errors}")
    checked = {rule.__name__.upper() for rule in ice_check.RULES}
    if checked != set(BROKEN):
        failures.append(f"evaluators without a broken copy, or copies without an evaluator: "
                        f"{sorted(checked ^ set(BROKEN))}")
    for ice, queries in BROKEN.items():
        copy = os.path.join(work, f"broken-{ice}.msi")
        shutil.copyfile(package, copy)
        for query in queries:
            result = subprocess.run(["msibuild", copy, "-q", query], capture_output=True, text=True)
            if result.returncode != 0 or "failed" in result.stderr:
                failures.append(f"{ice}: msibuild cannot apply {query}: {result.stderr.strip()}")
        found = [line for line in ice_check.check(copy).errors if line.startswith(ice + ":")]
        print(f"{ice}: {found[0] if found else 'NOT FOUND'}")
        if not found:
            failures.append(f"{ice}: the copy with the rule broken passes")
    if failures:
        print("FAIL:\n  " + "\n  ".join(failures))
        sys.exit(1)
    print(f"PASS: {len(BROKEN)} broken copies of {os.path.basename(package)} fail, the package passes")


if __name__ == "__main__":
    main()
