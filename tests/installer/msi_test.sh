#!/usr/bin/env bash
# Installs quillbrook.msi with msiexec under Wine in a prefix of its own,
# checks the files and the registry, uses the installed console host through
# the registered classes, uninstalls, and checks that the registry is as it
# was before. Then the same over a binding of .flac of the machine's own
# (as Windows has): installed, .flac is bound to quillbrook; uninstalled,
# every value of that binding is back as it was. Last, the module registers
# itself in the same prefix: its COM entries must be the ones the installer
# wrote.
# usage: msi_test.sh BUILD_DIR MSI FIXTURE_DIR
set -euo pipefail
build=$1
msi=$2
fixtures=$3
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$build/installer-work
rm -rf "$work" && mkdir -p "$work"

export WINEPREFIX=$build/installer-prefix
"$root/scripts/wine-prefix" "$WINEPREFIX"
trap '"$root/scripts/wine-prefix" --stop "$WINEPREFIX"' EXIT
wine() { "$root/scripts/wine-exec" "$@"; }
fail() { echo "FAIL: $*" >&2; exit 1; }
installed="$WINEPREFIX/drive_c/Program Files/Quillbrook"
installed_x86="$WINEPREFIX/drive_c/Program Files (x86)/Quillbrook"

# The registry below HKLM\Software and HKCU\Software, as UTF-8 .reg text.
snapshot() { # name
    local hive
    for hive in HKLM HKCU; do
        wine reg export "$hive\\Software" "Z:$work/$1-$hive.reg" /y >/dev/null ||
            fail "reg export $hive failed"
    done
    iconv -f UTF-16 -t UTF-8 "$work/$1-HKLM.reg" >"$work/$1.txt"
    iconv -f UTF-16 -t UTF-8 "$work/$1-HKCU.reg" >>"$work/$1.txt"
}

snapshot before
wine msiexec /i "Z:$msi" /qn || fail "msiexec /i failed with $?"
[ -f "$installed/quillbrook.dll" ] || fail "quillbrook.dll not installed"
[ -f "$installed/quillbrook-cli.exe" ] || fail "quillbrook-cli.exe not installed"
[ -f "$installed_x86/quillbrook.dll" ] || fail "the x86 quillbrook.dll not installed"
cmp -s "$installed_x86/quillbrook.dll" "$build/x86/quillbrook.dll" || fail "the x86 module is not the x86 build's"
snapshot installed

# The installed console host finds the handler by its CLSID alone.
wine "$installed/quillbrook-cli.exe" --json show "$fixtures/tagged.flac" >"$work/show.json" ||
    fail "the installed console host cannot use the registered classes"

wine msiexec /x "Z:$msi" /qn || fail "msiexec /x failed with $?"
[ ! -e "$installed" ] || fail "files left behind: $(ls -A "$installed")"
[ ! -e "$installed_x86" ] || fail "files left behind: $(ls -A "$installed_x86")"
snapshot uninstalled

# The machine's own binding of .flac, of several value types, and a value
# beside it that is no part of the binding.
classes='HKLM\Software\Classes'
wine reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\PropertySystem\PropertyHandlers\.flac' /ve \
    /d '{11111111-2222-3333-4444-555555555555}' /f >/dev/null
# 32-bit programs read property handlers from a view of their own.
wine reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\PropertySystem\PropertyHandlers\.flac' /ve \
    /d '{22222222-2222-3333-4444-555555555555}' /reg:32 /f >/dev/null
wine reg add "$classes\\.flac\\ShellEx\\{E357FCCD-A995-4576-B01F-234630154E96}" /ve \
    /d '{66666666-7777-8888-9999-AAAAAAAAAAAA}' /f >/dev/null
layout="$classes\\SystemFileAssociations\\.flac"
wine reg add "$layout" /v PreviewDetails /d 'prop:System.Media.Duration;System.Size' /f >/dev/null
wine reg add "$layout" /v FullDetails /t REG_EXPAND_SZ /d 'prop:System.PropGroup.Audio;System.Media.Duration' /f >/dev/null
wine reg add "$layout" /v InfoTip /d 'prop:System.ItemTypeText;System.Size' /f >/dev/null
wine reg add "$layout" /v ExtendedTileInfo /d 'prop:System.ItemTypeText' /f >/dev/null
wine reg add "$layout" /v PerceivedType /d audio /f >/dev/null
# Without a saved binding, unbind leaves values that are not quillbrook's.
wine "$build/quillbrook-cli.exe" unbind >/dev/null || fail "unbind without a saved binding failed"
snapshot seeded
wine msiexec /i "Z:$msi" /qn || fail "msiexec /i over the machine's binding failed with $?"
snapshot seeded-installed
# A second bind keeps the saved originals.
wine "$installed/quillbrook-cli.exe" bind >/dev/null || fail "a second bind failed"
wine msiexec /x "Z:$msi" /qn || fail "msiexec /x over the machine's binding failed with $?"
snapshot seeded-uninstalled

# Self-registration of the same module, for comparison.
cp "$build/quillbrook.dll" "$work/quillbrook.dll"
wine regsvr32 /s "Z:$work/quillbrook.dll" || fail "regsvr32 failed"
snapshot selfregistered

PYTHONPATH="$root/tests/installer" PYTHONDONTWRITEBYTECODE=1 python3 - "$work" "Z:$work/quillbrook.dll" "$root/resources/identifiers.h" <<'PY'
import json, sys
import registry_exports
from registry_exports import CLASSES as classes, com_entries, expect_unchanged, fail, identifiers
work, selfPath, identifiers_path = sys.argv[1:]
selfPath = selfPath.replace("/", "\\")

def parse(name):
    return registry_exports.parse(work, name)

ids = identifiers(identifiers_path)
before, installed = parse("before"), parse("installed")
uninstalled, selfreg = parse("uninstalled"), parse("selfregistered")
seeded, seeded_installed, seeded_uninstalled = parse("seeded"), parse("seeded-installed"), parse("seeded-uninstalled")

expect_unchanged(before, uninstalled, "uninstall")
expect_unchanged(seeded, seeded_uninstalled, "uninstall over the machine's binding")

by_msi = {k: v for k, v in installed.items() if before.get(k) != v}

# The COM entries: the same keys and values as self-registration, the module
# path aside.
msi_com = com_entries(before, installed, "C:\\Program Files\\Quillbrook\\quillbrook.dll", ids)
self_com = com_entries(before, selfreg, selfPath, ids)
if len(self_com) != 7:
    fail(f"self-registration wrote {len(self_com)} COM keys: {sorted(self_com)}")
if msi_com != self_com:
    fail(f"installer and self-registration differ:\n{json.dumps(msi_com, indent=1)}\n{json.dumps(self_com, indent=1)}")
win64 = f"{classes}\\TypeLib\\{ids['LIBID_QuillbrookLib']}\\1.0\\409\\win64".lower()
if by_msi.get(win64, {}).get("@") != '"C:\\\\Program Files\\\\Quillbrook\\\\quillbrook.dll"':
    fail("type library not entered: " + str(by_msi.get(win64)))

# The x86 module, in the 32-bit view: its classes and type library, and the
# property handler bound there too.
view32 = r"hkey_local_machine\software\wow6432node"
module32 = '"C:\\\\Program Files (x86)\\\\Quillbrook\\\\quillbrook.dll"'
for clsid in ("CLSID_PropertyHandler", "CLSID_ThumbnailProvider"):
    key = f"{view32}\\classes\\clsid\\{ids[clsid]}\\inprocserver32".lower()
    if installed.get(key, {}).get("@") != module32:
        fail(f"{clsid} not registered for 32-bit programs: {installed.get(key)}")
win32 = f"{view32}\\classes\\TypeLib\\{ids['LIBID_QuillbrookLib']}\\1.0\\409\\win32".lower()
if installed.get(win32, {}).get("@") != module32:
    fail("x86 type library not entered: " + str(installed.get(win32)))
handlers32 = f"{view32}\\microsoft\\windows\\currentversion\\propertysystem\\propertyhandlers\\.flac"
for snapshot in (installed, seeded_installed):
    if snapshot.get(handlers32, {}).get("@") != f'"{ids["CLSID_PropertyHandler"]}"':
        fail("property handler not bound for 32-bit programs: " + str(snapshot.get(handlers32)))

# The binding of .flac, on a clean machine and over the machine's own.
def value(key, name="@", snapshot=installed):
    return snapshot.get(key.lower(), {}).get(name)
thumb_slot = f"{classes}\\.flac\\ShellEx\\{{E357FCCD-A995-4576-B01F-234630154E96}}"
handlers = r"hkey_local_machine\software\microsoft\windows\currentversion\propertysystem\propertyhandlers\.flac"
layout = f"{classes}\\SystemFileAssociations\\.flac"
for snapshot in (installed, seeded_installed):
    if value(thumb_slot, snapshot=snapshot) != f'"{ids["CLSID_ThumbnailProvider"]}"':
        fail("thumbnail handler not bound: " + str(value(thumb_slot, snapshot=snapshot)))
    if value(handlers, snapshot=snapshot) != f'"{ids["CLSID_PropertyHandler"]}"':
        fail("property handler not bound: " + str(value(handlers, snapshot=snapshot)))
    for name in ('"FullDetails"', '"PreviewDetails"', '"InfoTip"', '"ExtendedTileInfo"'):
        if value(layout, name, snapshot) != value(layout, name, installed):
            fail(f"{name} over the machine's binding: {value(layout, name, snapshot)}")

# The Details-pane lists name real properties: every one the handler listed
# for a fully tagged file is in FullDetails, every tag in PreviewDetails.
shown = json.load(open(f"{work}/show.json", encoding="utf-8"))[0]["properties"]
if len(shown) != 22:
    fail(f"the installed handler listed {len(shown)} properties")
lists = {}
for name in ("FullDetails", "PreviewDetails", "InfoTip", "ExtendedTileInfo"):
    text = value(layout, f'"{name}"') or ""
    if not text.startswith('"prop:'):
        fail(f"{name} missing: {text}")
    lists[name] = [n.lstrip("*") for n in text.strip('"')[5:].split(";")]
missing = [n for n in shown if n not in lists["FullDetails"]]
if missing:
    fail("FullDetails lacks " + ", ".join(missing))
tags = [n for n in shown if not n.startswith(("System.Audio.", "System.DRM.", "System.Media.Duration"))]
missing = [n for n in tags if n not in lists["PreviewDetails"]]
if missing:
    fail("PreviewDetails lacks " + ", ".join(missing))
for name in ("InfoTip", "ExtendedTileInfo"):
    if not any(n in shown for n in lists[name]):
        fail(f"{name} names none of the handler's properties")
PY
echo "PASS: installer"
