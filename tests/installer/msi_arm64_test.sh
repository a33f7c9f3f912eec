#!/usr/bin/env bash
# Installs quillbrook-arm64.msi with the msiexec of Wine for arm64, in a
# prefix of its own, over a binding of .flac of the machine's own (as Windows
# has): installed, the ARM64 module and console program are in place, their
# classes registered in the native registry view only, .flac bound to them and
# usable through the registered classes; uninstalled, the registry is as it
# was, the machine's binding back. Last, the module registers itself with the
# arm64 regsvr32: its COM entries must be the ones the installer wrote.
# (Wine's msi for arm64 leaves ProgramFiles64Folder unset, so the files land
# in C:\Quillbrook there, not under Program Files: the test takes the folder
# the package registered.)
# The x86 module that the package carries for emulated 32-bit programs is
# installed too, registered and bound in the 32-bit view, and removed with
# the rest.
# As the lifecycle test does for the x64 package, a failed install is
# rolled back (both views as before) and a rebuild of the same version
# replaces the installed package (both views still bound); the variants are
# built from the configured .wxs and the staged files.
# usage: msi_arm64_test.sh BUILD_DIR MSI FIXTURE_DIR WXS PACKAGE_SCRIPT PACKAGE_COMMAND...
set -euo pipefail
build=$1
msi=$2
fixtures=$3
wxs=$4
package_script=$5
shift 5
package_command=("$@")
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$build/installer-work
rm -rf "$work" && mkdir -p "$work"

export QUILLBROOK_ARM64_PREFIX=$build/installer-prefix
"$root/scripts/wine-arm64-prefix" "$QUILLBROOK_ARM64_PREFIX"
trap '"$root/scripts/wine-arm64-prefix" --stop "$QUILLBROOK_ARM64_PREFIX"' EXIT
# Windows' sharing of the file-association keys between the views (the
# x86 module's binding shares .flac's thumbnail slot and lists with the
# ARM64 one's), in the stopped prefix, as the lifecycle test has it.
"$root/scripts/wine-arm64-prefix" --stop "$QUILLBROOK_ARM64_PREFIX"
python3 "$root/tests/installer/shared_class_keys.py" "$QUILLBROOK_ARM64_PREFIX"
WINEPREFIX=$QUILLBROOK_ARM64_PREFIX "${QUILLBROOK_DEPS:-$root/.deps}/arm64/wine/usr/lib/wine/wineserver" -p \
    </dev/null >/dev/null 2>&1
wine() { "$root/scripts/wine-arm64-exec" "$@"; }
fail() { echo "FAIL: $*" >&2; exit 1; }

# Wine's msi for arm64 leaves ProgramFilesFolder unset too, which would put
# the x86 module over the ARM64 one in C:\Quillbrook, and resolves the
# folders again on removal: every msiexec names the x86 module's folder as
# Windows on ARM has it.
x86_folder='INSTALLDIR_X86=C:\Program Files (x86)\Quillbrook\'

# The package is for ARM64 machines only.
template=$(msiinfo suminfo "$msi" | sed -n 's/^Template: //p')
[ "$template" = "Arm64;1033" ] || fail "the package's platform is $template, not Arm64"

snapshot() { # name
    local hive
    for hive in HKLM HKCU; do
        wine reg export "$hive\\Software" "Z:$work/$1-$hive.reg" /y >/dev/null || fail "reg export $hive failed"
    done
    iconv -f UTF-16 -t UTF-8 "$work/$1-HKLM.reg" >"$work/$1.txt"
    iconv -f UTF-16 -t UTF-8 "$work/$1-HKCU.reg" >>"$work/$1.txt"
}

# The machine's own binding of .flac.
classes='HKLM\Software\Classes'
wine reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\PropertySystem\PropertyHandlers\.flac' /ve \
    /d '{11111111-2222-3333-4444-555555555555}' /f >/dev/null
wine reg add "$classes\\.flac\\ShellEx\\{E357FCCD-A995-4576-B01F-234630154E96}" /ve \
    /d '{66666666-7777-8888-9999-AAAAAAAAAAAA}' /f >/dev/null
layout="$classes\\SystemFileAssociations\\.flac"
wine reg add "$layout" /v FullDetails /t REG_EXPAND_SZ /d 'prop:System.PropGroup.Audio;System.Media.Duration' /f >/dev/null
wine reg add "$layout" /v PerceivedType /d audio /f >/dev/null
# Another program's class in the 32-bit view, as Windows always has some
# there (Wine for arm64 starts that view's CLSID key empty, and a rollback
# prunes a key it leaves empty).
wine reg add 'HKLM\Software\Classes\CLSID\{88888888-8888-8888-8888-888888888888}' /ve /d 'Another class' \
    /reg:32 /f >/dev/null
snapshot before
compare() { # before after what
    PYTHONPATH="$root/tests/installer" PYTHONDONTWRITEBYTECODE=1 python3 -c '
import sys, registry_exports as r
work, before, after, what = sys.argv[1:]
r.expect_unchanged(r.parse(work, before), r.parse(work, after), what)' "$work" "$1" "$2" "$3"
}

package_options=(-DWITH_X86=yes -DARM64_PLATFORM=ON)
. "$root/tests/installer/package_variants.sh"
version=$(msiinfo export "$msi" File | tr -d '\r' | awk -F'\t' 'tolower($3) ~ /quillbrook\.dll$/ { print $5; exit }')
stage=$(dirname "$wxs")/files
package "$work/failing.msi" "$version" "$stage" "$(failing_edit)"
package "$work/rebuilt.msi" "$version" "$stage" 'text'
if wine msiexec /i "Z:$work/failing.msi" FAIL_FOR_TEST=1 "$x86_folder" /qn; then fail "the failing install succeeded"; fi
snapshot failed-install
compare before failed-install "the failed install"

wine msiexec /i "Z:$msi" "$x86_folder" /qn || fail "msiexec /i failed with $?"
snapshot installed
handler=$(grep -B1 ' CLSID_PropertyHandler =' "$root/resources/identifiers.h" | sed -n 's|^// ||p')
handler_server=$(wine reg query "HKLM\\Software\\Classes\\CLSID\\$handler\\InprocServer32" /ve |
    tr -d '\r' | sed -n 's/.*REG_SZ *//p')
[ -n "$handler_server" ] || fail "the property handler's class is not registered"
installed=${handler_server%\\*}
installed=${installed//\\//}
installed="$QUILLBROOK_ARM64_PREFIX/drive_c${installed#C:}"
cmp -s "$installed/quillbrook.dll" "$build/quillbrook.dll" || fail "no ARM64 quillbrook.dll at $handler_server"
[ -f "$installed/quillbrook-cli.exe" ] || fail "quillbrook-cli.exe not installed beside it"

# The x86 module for the 32-bit programs that Windows on ARM emulates: its
# classes in the 32-bit view, .flac bound to them there.
x86_server=$(wine reg query "HKLM\\Software\\Classes\\CLSID\\$handler\\InprocServer32" /ve /reg:32 |
    tr -d '\r' | sed -n 's/.*REG_SZ *//p')
[ -n "$x86_server" ] && [ "$x86_server" != "$handler_server" ] ||
    fail "the 32-bit view's property handler is \"$x86_server\", not the x86 module"
x86_installed=${x86_server//\\//}
x86_installed="$QUILLBROOK_ARM64_PREFIX/drive_c${x86_installed#C:}"
cmp -s "$x86_installed" "$build/installer/files/x86/quillbrook.dll" || fail "no x86 quillbrook.dll at $x86_server"
wine "$installed/quillbrook-cli.exe" status --x86 >"$work/status-x86.txt" ||
    fail "32-bit programs do not get the x86 module: $(cat "$work/status-x86.txt")"

# The installed console program finds the handler by its CLSID alone.
wine "$installed/quillbrook-cli.exe" --json show "Z:$fixtures/tagged.flac" >"$work/show.json" ||
    fail "the installed console program cannot use the registered classes"

# A rebuild of the same version replaces it; both views stay bound.
wine msiexec /i "Z:$work/rebuilt.msi" "$x86_folder" /qn || fail "the rebuild's install failed with $?"
wine "$installed/quillbrook-cli.exe" status >"$work/status.txt" ||
    fail "after the rebuild's install: $(cat "$work/status.txt")"
wine "$installed/quillbrook-cli.exe" status --x86 >"$work/status.txt" ||
    fail "after the rebuild's install, 32-bit programs: $(cat "$work/status.txt")"

wine msiexec /x "Z:$work/rebuilt.msi" "$x86_folder" /qn || fail "msiexec /x failed with $?"
[ ! -e "$installed" ] || fail "files left behind: $(ls -A "$installed")"
[ ! -e "$x86_installed" ] || fail "the x86 module left behind at $x86_server"
snapshot uninstalled

# Self-registration of the same module, for comparison.
cp "$build/quillbrook.dll" "$work/quillbrook.dll"
wine regsvr32 /s "Z:$work/quillbrook.dll" || fail "regsvr32 failed"
snapshot selfregistered

PYTHONPATH="$root/tests/installer" PYTHONDONTWRITEBYTECODE=1 python3 - "$work" "$handler_server" "Z:$work/quillbrook.dll" "$root/resources/identifiers.h" <<'PY'
import json, sys
import registry_exports
from registry_exports import CLASSES as classes, com_entries, expect_unchanged, fail, identifiers
work, msiPath, selfPath, identifiers_path = sys.argv[1:]
selfPath = selfPath.replace("/", "\\")

def parse(name):
    return registry_exports.parse(work, name)

ids = identifiers(identifiers_path)
before, installed = parse("before"), parse("installed")
uninstalled, selfreg = parse("uninstalled"), parse("selfregistered")

expect_unchanged(before, uninstalled, "uninstall")

# The COM entries: the same keys and values as self-registration, the module
# path aside, in the native view (the 32-bit view's are the x86 module's).
msi_com = com_entries(before, installed, msiPath, ids)
self_com = com_entries(before, selfreg, selfPath, ids)
if len(self_com) != 7:
    fail(f"self-registration wrote {len(self_com)} COM keys: {sorted(self_com)}")
if msi_com != self_com:
    fail(f"installer and self-registration differ:\n{json.dumps(msi_com, indent=1)}\n{json.dumps(self_com, indent=1)}")

# .flac bound to the module over the machine's own binding.
def value(key, name="@"):
    return installed.get(key.lower(), {}).get(name)
thumb_slot = f"{classes}\\.flac\\ShellEx\\{{E357FCCD-A995-4576-B01F-234630154E96}}"
handlers = r"hkey_local_machine\software\microsoft\windows\currentversion\propertysystem\propertyhandlers\.flac"
if value(thumb_slot) != f'"{ids["CLSID_ThumbnailProvider"]}"':
    fail("thumbnail handler not bound: " + str(value(thumb_slot)))
if value(handlers) != f'"{ids["CLSID_PropertyHandler"]}"':
    fail("property handler not bound: " + str(value(handlers)))
if not (value(f"{classes}\\SystemFileAssociations\\.flac", '"FullDetails"') or "").startswith('"prop:'):
    fail("FullDetails not written")

# The installed ARM64 handler answered for a fully tagged file.
shown = json.load(open(f"{work}/show.json", encoding="utf-8"))[0]["properties"]
if len(shown) != 22:
    fail(f"the installed handler listed {len(shown)} properties")
PY
echo "PASS: ARM64 installer"
