#!/usr/bin/env bash
# The package's life beyond a plain install and removal, in a prefix of its
# own, over a binding of .flac of the machine's own: a failed install and a
# failed removal are rolled back; a repair keeps a value that another program
# wrote since; a removal with the installed console program deleted still
# puts the machine's binding back; a package of the same version, then one of
# the next build, replace the installed one; a failed upgrade, the removal of
# the feature alone, the x64 package's removal during an upgrade to the ARM64
# one, an older build over a newer one, the x64 package on Windows on ARM, a
# damaged saved record and a bind that fails part way. After each, .flac is
# bound to quillbrook's registered classes, or the registry is as it was
# before.
# The prefix shares the file-association keys of HKLM\Software\Classes
# between the views as Windows does (tests/installer/shared_class_keys.py).
# The variants are built at test time from the configured .wxs and the
# staged files, the way the build makes the package; a bind that fails part
# way is made by quillbrook-cli-failing-write (QUILLBROOK_FAILING_WRITE_CLI),
# a removal whose unbind fails by the custom actions built the same way
# (QUILLBROOK_FAILING_WRITE_ACTIONS).
# usage: lifecycle_test.sh BUILD_DIR MSI WXS PACKAGE_SCRIPT PACKAGE_COMMAND...
set -euo pipefail
build=$1
msi=$2
wxs=$3
package_script=$4
shift 4
package_command=("$@")
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$build/lifecycle-work
rm -rf "$work" && mkdir -p "$work"

export WINEPREFIX=$build/lifecycle-prefix
"$root/scripts/wine-prefix" "$WINEPREFIX"
trap '"$root/scripts/wine-prefix" --stop "$WINEPREFIX"' EXIT
# Windows' sharing of the file-association keys, in the stopped prefix.
"$root/scripts/wine-prefix" --stop "$WINEPREFIX"
python3 "$root/tests/installer/shared_class_keys.py" "$WINEPREFIX"
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
wine() { "$root/scripts/wine-exec" "$@"; }
fail() { echo "FAIL: $*" >&2; exit 1; }
installed="$WINEPREFIX/drive_c/Program Files/Quillbrook"
cli="$installed/quillbrook-cli.exe"
# status from the build: the installed program may be gone.
status_cli="$build/quillbrook-cli.exe"
failing_write_cli=${QUILLBROOK_FAILING_WRITE_CLI:-$build/tests/quillbrook-cli-failing-write.exe}
failing_write_actions=${QUILLBROOK_FAILING_WRITE_ACTIONS:-$build/tests/quillbrook-actions-failing-write.dll}
step() { echo "-- $*"; }

snapshot() { # name
    local hive
    for hive in HKLM HKCU; do
        wine reg export "$hive\\Software" "Z:$work/$1-$hive.reg" /y >/dev/null || fail "reg export $hive failed"
    done
    iconv -f UTF-16 -t UTF-8 "$work/$1-HKLM.reg" >"$work/$1.txt"
    iconv -f UTF-16 -t UTF-8 "$work/$1-HKCU.reg" >>"$work/$1.txt"
}
compare() { # before after what
    PYTHONPATH="$root/tests/installer" PYTHONDONTWRITEBYTECODE=1 python3 -c '
import sys, registry_exports as r
work, before, after, what = sys.argv[1:]
r.expect_unchanged(r.parse(work, before), r.parse(work, after), what)' "$work" "$1" "$2" "$3"
}
msiexec() { # expected-status args...
    local expected=$1 status=0
    shift
    wine msiexec "$@" /qn || status=$?
    if [ "$expected" = ok ] && [ "$status" -ne 0 ]; then fail "msiexec $* failed with $status"; fi
    if [ "$expected" = fails ] && [ "$status" -eq 0 ]; then fail "msiexec $* succeeded"; fi
    return 0
}
# The products that Programs and Features lists as Quillbrook.
entries() {
    wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
        grep -c '^ *DisplayName *REG_SZ *Quillbrook$' || true
}
# Whether the installer log LOG has the line that a custom action wrote.
expect_logged() { # log line
    tr -d '\0\r' <"$1" | grep -F -- "$2" >/dev/null || fail "the installer log $(basename "$1") has no line \"$2\""
}
# Whether the installer log LOG shows the install refused by its launch
# conditions, with the property that the condition refuses (PROPERTY, a
# line of the log's property list) set: LaunchConditions failed (return
# value 3 on Windows, 0 in Wine's log, which also leaves out the
# condition's message) and no action ran past it.
expect_refused() { # log property
    tr -d '\0\r' <"$1" >"$1.txt"
    grep -E '^Action ended [0-9:]+: LaunchConditions\. Return value [03]\.$' "$1.txt" >/dev/null ||
        fail "the installer log $(basename "$1") does not show LaunchConditions failing"
    grep -F -- "Property(S): $2" "$1.txt" >/dev/null ||
        fail "the installer log $(basename "$1") has no \"$2\": refused for another reason"
    ! grep -E '^Action start [0-9:]+: (CostInitialize|InstallValidate|InstallInitialize)\.$' "$1.txt" >/dev/null ||
        fail "the installer log $(basename "$1") shows the install going on past its launch conditions"
}
# Whether .flac is bound to quillbrook's registered classes, in both views.
expect_bound() { # what
    wine "$status_cli" status >"$work/status.txt" || fail "$1: $(cat "$work/status.txt")"
    wine "$status_cli" status --x86 >"$work/status.txt" || fail "$1, 32-bit programs: $(cat "$work/status.txt")"
}
# Whether .flac is bound either to quillbrook's registered classes or to no
# class of quillbrook's at all, in both views: never to classes that are gone.
expect_not_stranded() { # what
    expect_not_stranded_in "" "$1"
    expect_not_stranded_in --x86 "$1"
}
expect_not_stranded_in() { # view what
    if ! wine "$status_cli" status $1 >"$work/status.txt"; then
        ! grep -E '^  \.flac [a-z ]+: quillbrook' "$work/status.txt" >/dev/null ||
            fail "$2 ($1): .flac is bound to classes that are gone: $(cat "$work/status.txt")"
    fi
}
package_options=(-DWITH_X86=yes)
. "$root/tests/installer/package_variants.sh"
# The files' version is MAJOR.MINOR.PATCH.BUILD; the package's MAJOR.MINOR.BUILD,
# since Windows Installer compares only three fields.
product_version() { msiinfo export "$1" Property | tr -d '\r' | sed -n 's/^ProductVersion\t//p'; }
product_code() { msiinfo export "$1" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p'; }
version=$(wine "$build/quillbrook-cli.exe" --version | tr -d '\r' | sed -n 's/^quillbrook-cli //p')
[[ $version =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)\.([0-9]+)$ ]] || fail "the files' version is $version"
[ "$(product_version "$msi")" = "${BASH_REMATCH[1]}.${BASH_REMATCH[2]}.${BASH_REMATCH[4]}" ] ||
    fail "the package's version is $(product_version "$msi"), the files' $version"
next_version=${BASH_REMATCH[1]}.${BASH_REMATCH[2]}.${BASH_REMATCH[3]}.$((BASH_REMATCH[4] + 1))
stage=$(dirname "$wxs")/files

step "one version in every part: the files' version information, --version, the package"
arm64_msi=${QUILLBROOK_ARM64_MSI:-}
arm64_files=()
if [ -n "$arm64_msi" ]; then
    arm64_files=("$(dirname "$arm64_msi")/quillbrook.dll" "$(dirname "$arm64_msi")/quillbrook-cli.exe")
    # The two packages share the upgrade code and the version: either
    # replaces the other, as the rebuild below replaces the package.
    for table in Upgrade Property; do
        diff <(msiinfo export "$msi" $table | grep -v '^ProductCode') \
            <(msiinfo export "$arm64_msi" $table | grep -v '^ProductCode') >/dev/null ||
            fail "the ARM64 package's $table table differs: $(msiinfo export "$arm64_msi" $table)"
    done
fi
# The program files carry the version, the text files none (ICE60).
msiinfo export "$msi" File | tail -n +4 | tr -d '\r' | awk -F'\t' '{ print $3 " " $5 }' | sed 's/^[^ |]*|//' |
    sort >"$work/file-versions"
printf '%s\n' "quillbrook-cli.exe $version" "quillbrook.dll $version" "quillbrook.dll $version" \
    "THIRD-PARTY-NOTICES.txt " | sort | diff - "$work/file-versions" >/dev/null ||
    fail "the File table's versions: $(cat "$work/file-versions")"
python3 - "$version" "$build/quillbrook.dll" "$build/x86/quillbrook.dll" "$build/quillbrook-cli.exe" \
    "${arm64_files[@]}" <<'PY'
import struct, sys
version = sys.argv[1]
for path in sys.argv[2:]:
    data = open(path, "rb").read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        sys.exit(f"FAIL: {path} has no version information")
    fields = struct.unpack_from("<4I", data, at + 8)
    file_version, product_version = (f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
                                     for ms, ls in (fields[0:2], fields[2:4]))
    text = version.encode("utf-16-le")
    if file_version != version or product_version != version or data.count(text) < 2:
        sys.exit(f"FAIL: {path} is version {file_version} (product {product_version}), not {version}")
PY

# Windows shares HKLM\Software\Classes between the views but for CLSID (and
# keys the package does not write): no value there is written by both the
# x64 and the x86 component, which would each remove it with itself.
msiinfo export "$msi" Registry | tail -n +4 | tr -d '\r' |
    awk -F'\t' '$2 == 2 && tolower($3) ~ /^software\\classes\\/ && tolower($3) !~ /^software\\classes\\clsid\\/ {
        print tolower($3) "\t" $4 }' | sort | uniq -d >"$work/shared-twice"
[ ! -s "$work/shared-twice" ] || fail "keys that Windows shares written by both components: $(cat "$work/shared-twice")"

# The variant with a deferred action that fails when FAIL_FOR_TEST is set.
failing="$work/failing.msi"
failing_edit >"$work/failing-edit"
package "$failing" "$version" "$stage" "$(cat "$work/failing-edit")"
msiinfo export "$failing" InstallExecuteSequence | grep FailRemovalForTest >/dev/null || fail "the failing variant has no failing action"
# A variant whose custom actions' write of one value fails when
# QUILLBROOK_FAILING_WRITE names it.
mkdir -p "$work/failing-write"
cp -r "$stage/." "$work/failing-write/"
cp "$failing_write_actions" "$work/failing-write/quillbrook-actions.dll"
package "$work/broken-unbind.msi" "$version" "$work/failing-write" 'text'
# A rebuild of the same version (a new product code), and the next build,
# whose module differs by a byte at its end.
package "$work/rebuilt.msi" "$version" "$stage" 'text'
mkdir -p "$work/next"
cp -r "$stage/." "$work/next/"
printf 'N' >>"$work/next/quillbrook.dll"
package "$work/next.msi" "$next_version" "$work/next" 'text'
# The next build, failing late (as the failing variant does).
package "$work/failing-next.msi" "$next_version" "$work/next" "$(cat "$work/failing-edit")"

# The machine's own binding of .flac, in both views.
classes='HKLM\Software\Classes'
handlers='HKLM\Software\Microsoft\Windows\CurrentVersion\PropertySystem\PropertyHandlers\.flac'
thumbnail_slot="$classes\\.flac\\ShellEx\\{E357FCCD-A995-4576-B01F-234630154E96}"
for view in 64 32; do
    wine reg add "$handlers" /ve /d '{11111111-2222-3333-4444-555555555555}' /reg:$view /f >/dev/null
    wine reg add "$thumbnail_slot" /ve /d '{66666666-7777-8888-9999-AAAAAAAAAAAA}' /reg:$view /f >/dev/null
    wine reg add "$classes\\SystemFileAssociations\\.flac" /v FullDetails /d 'prop:System.Media.Duration' \
        /reg:$view /f >/dev/null
done
snapshot seeded

step "a failed install is rolled back, the binding with it"
msiexec fails /i "Z:$failing" FAIL_FOR_TEST=1
[ ! -e "$installed/quillbrook.dll" ] || fail "the failed install left quillbrook.dll"
snapshot failed-install
compare seeded failed-install "the failed install"

step "a failed removal is rolled back: .flac is bound to registered classes, or to the machine's own"
msiexec ok /i "Z:$failing"
msiexec fails /x "Z:$failing" FAIL_FOR_TEST=1
# Windows restores the files and the COM keys before the rollback binds
# again; Wine restores neither, and the rollback's bind refuses.
expect_not_stranded "after the failed removal"
msiexec ok /x "Z:$failing"
snapshot after-variant
compare seeded after-variant "the variant's removal"

step "a repair keeps another program's value, which the removal puts back"
msiexec ok /i "Z:$msi" /l*v "Z:$work/install.log"
# What the binding's custom actions did, in the installer log.
expect_logged "$work/install.log" 'BindFlac: .flac bound to quillbrook for all users'
expect_logged "$work/install.log" 'BindFlacX86: .flac bound to quillbrook for all users (32-bit programs)'
foreign='{77777777-7777-7777-7777-777777777777}'
wine reg add "$thumbnail_slot" /ve /d "$foreign" /f >/dev/null
msiexec ok /i "Z:$msi" REINSTALL=ALL REINSTALLMODE=omus
expect_bound "after the repair"
step "a removal without the installed console program still unbinds"
rm "$cli"
msiexec ok /x "Z:$msi"
[ ! -e "$installed" ] || fail "files left behind: $(ls -A "$installed")"
snapshot after-repair
wine reg add "$thumbnail_slot" /ve /d '{66666666-7777-8888-9999-AAAAAAAAAAAA}' /f >/dev/null
snapshot after-repair-reseeded
grep -qF "@=\"$foreign\"" "$work/after-repair.txt" || fail "the other program's thumbnail provider was not put back"
compare seeded after-repair-reseeded "the repair and the removal without the console program"

step "a rebuild of the same version, then the next build, replace the installed package"
msiexec ok /i "Z:$msi"
msiexec ok /i "Z:$work/rebuilt.msi"
[ "$(entries)" = 1 ] || fail "$(entries) products listed after a rebuild of the same version"
expect_bound "after the rebuild"
msiexec ok /i "Z:$work/next.msi"
[ "$(entries)" = 1 ] || fail "$(entries) products listed after the upgrade to $next_version"
cmp -s "$installed/quillbrook.dll" "$work/next/quillbrook.dll" || fail "the upgrade kept the old module"
expect_bound "after the upgrade"
msiexec ok /x "Z:$work/next.msi"
[ "$(entries)" = 0 ] || fail "$(entries) products listed after the removal"
snapshot after-upgrade
compare seeded after-upgrade "the upgrade and the removal"

step "a failed upgrade: the old version works, or the machine's binding is back; never classes that are gone"
msiexec ok /i "Z:$msi"
msiexec fails /i "Z:$work/failing-next.msi" FAIL_FOR_TEST=1
# Windows puts the old version back (RemoveExistingProducts runs within the
# transaction); Wine removes it for good and rolls back only the new one.
expect_not_stranded "after the failed upgrade"
if [ "$(entries)" = 1 ]; then
    expect_bound "after the failed upgrade, with the old version back"
    msiexec ok /x "Z:$msi"
fi
snapshot after-failed-upgrade
compare seeded after-failed-upgrade "the failed upgrade"

step "removing the feature alone (REMOVE=Complete) unbinds"
msiexec ok /i "Z:$msi"
msiexec ok /i "$(product_code "$msi")" REMOVE=Complete
[ ! -e "$installed/quillbrook.dll" ] || fail "REMOVE=Complete left quillbrook.dll"
expect_not_stranded "after REMOVE=Complete"
msiexec ok /x "Z:$msi"
snapshot after-feature-removal
compare seeded after-feature-removal "the removal of the feature, then of the product"

step "the x64 package's removal for the ARM64 package's upgrade unbinds the 32-bit view"
# As Windows runs it, with UPGRADINGPRODUCTCODE set (Wine's
# RemoveExistingProducts leaves it empty): the ARM64 package binds the
# 64-bit view again, and nothing binds the 32-bit one.
msiexec ok /i "Z:$msi"
# bind --x86 keeps to the 32-bit view's own keys, and unbind --x86 leaves
# the shared binding of the 64-bit view, which the ARM64 package keeps.
! wine reg query 'HKLM\Software\Quillbrook\SavedBinding\ThumbnailProvider' /reg:32 >/dev/null 2>&1 ||
    fail "bind --x86 bound the thumbnail slot, which Windows shares between the views"
msiexec ok /x "Z:$msi" UPGRADINGPRODUCTCODE='{0A4D0A4D-0000-4000-8000-0000000A4D64}'
wine "$status_cli" status >"$work/status.txt" || true
grep -q "^  .flac thumbnail provider: quillbrook" "$work/status.txt" &&
    grep -q "^  .flac Details-pane lists: quillbrook's" "$work/status.txt" ||
    fail "the 32-bit view's unbind took the 64-bit view's binding: $(cat "$work/status.txt")"
# (The thumbnail slot and the lists are shared with the 64-bit view, which
# stays bound for the ARM64 package.)
wine "$status_cli" status --x86 >"$work/status.txt" || true
! grep -E '^  \.flac property handler: quillbrook' "$work/status.txt" >/dev/null ||
    fail "the 32-bit view is bound to a class that is gone: $(cat "$work/status.txt")"
wine "$status_cli" unbind >/dev/null || fail "unbind after the x64 package's removal failed"
snapshot after-arm64-replacement
compare seeded after-arm64-replacement "the x64 package's removal for the ARM64 one"

step "an older build is refused over a newer one, which stays"
# Windows Installer compares the first three fields of ProductVersion only.
three() { cut -d. -f1-3 <<<"$1"; }
python3 -c 'import sys; a, b = (tuple(map(int, v.split("."))) for v in sys.argv[1:]); sys.exit(not a < b)' \
    "$(three "$(product_version "$msi")")" "$(three "$(product_version "$work/next.msi")")" ||
    fail "to Windows Installer $(product_version "$msi") is not older than $(product_version "$work/next.msi")"
msiexec ok /i "Z:$work/next.msi"
msiexec fails /i "Z:$msi" /l*v "Z:$work/downgrade.log"
expect_refused "$work/downgrade.log" "WIX_DOWNGRADE_DETECTED = {"
cmp -s "$installed/quillbrook.dll" "$work/next/quillbrook.dll" || fail "the refused downgrade replaced the module"
[ "$(entries)" = 1 ] || fail "$(entries) products listed after the refused downgrade"
expect_bound "after the refused downgrade"
msiexec ok /x "Z:$work/next.msi"

step "the x64 package is refused on Windows on ARM, and changes nothing"
environment='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
architecture=$(wine reg query "$environment" /v PROCESSOR_ARCHITECTURE | tr -d '\r' | sed -n 's/.*REG_SZ *//p')
wine reg add "$environment" /v PROCESSOR_ARCHITECTURE /d ARM64 /f >/dev/null
msiexec fails /i "Z:$msi" /l*v "Z:$work/arm64-refusal.log"
wine reg add "$environment" /v PROCESSOR_ARCHITECTURE /d "$architecture" /f >/dev/null
expect_refused "$work/arm64-refusal.log" "NATIVE_ARCHITECTURE = ARM64"
[ ! -e "$installed" ] || fail "the refused install left $(ls -A "$installed")"
snapshot after-arm64-refusal
compare seeded after-arm64-refusal "the refused install on Windows on ARM"

step "a bind that fails part way undoes only itself: the binding and the first install's records stay"
msiexec ok /i "Z:$msi"
# Another program's Details-pane tooltip since: the bind of a repair takes
# it back, and fails at that very write.
wine reg add "$classes\\SystemFileAssociations\\.flac" /v InfoTip /d 'prop:System.Size' /f >/dev/null
snapshot before-failed-bind
if QUILLBROOK_FAILING_WRITE=InfoTip wine "$failing_write_cli" bind >"$work/failed-bind.txt" 2>&1; then
    fail "the bind with a failing write succeeded"
fi
snapshot after-failed-bind
compare before-failed-bind after-failed-bind "the bind that failed part way"

step "a damaged saved record does not block the removal"
wine reg delete 'HKLM\Software\Quillbrook\SavedBinding\ThumbnailProvider' /v Original /f >/dev/null
msiexec ok /x "Z:$msi"
expect_not_stranded "after the removal with a damaged record"
# The thumbnail provider's original is lost with its record; the rest is back.
wine reg add "$thumbnail_slot" /ve /d '{66666666-7777-8888-9999-AAAAAAAAAAAA}' /f >/dev/null
# The other program's tooltip stays, as its value written since the bind.
wine reg delete "$classes\\SystemFileAssociations\\.flac" /v InfoTip /f >/dev/null
snapshot after-damaged-record
compare seeded after-damaged-record "the removal with a damaged record"

step "an unbind that fails fails the removal, which leaves everything in place, and the log says why"
msiexec ok /i "Z:$work/broken-unbind.msi"
# (The seeded Details-pane list is the value that unbind puts back.)
QUILLBROOK_FAILING_WRITE=FullDetails msiexec fails /x "Z:$work/broken-unbind.msi" /l*v "Z:$work/broken-unbind.log"
expect_logged "$work/broken-unbind.log" 'UnbindFlac: failed: cannot put the saved binding of .flac back (0x80070005: '
# (Wine unregisters the product before the deferred steps run and does not
# register it again on rollback; Windows does. The files and classes are
# removed after the unbind, so they are all still there.)
[ -f "$installed/quillbrook.dll" ] || fail "the failed removal took quillbrook.dll"
expect_bound "after the removal whose unbind failed"
echo "PASS: installer lifecycle"
