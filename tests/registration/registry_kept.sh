#!/usr/bin/env bash
# The registration tests on a machine where the product is installed: before
# them (plant) the module is registered per machine and per user from a copy
# in C:\Quillbrook, as an installation leaves it, and its keys are recorded
# in both registry views; after them (check) the keys must read the same.
# The tests delete these keys as they start and must put them back.
#
#     registry_kept.sh plant|check EMULATOR MODULE WORK
set -euo pipefail
step=$1 emulator=$2 module=$3 work=$4
prefix=${WINEPREFIX:?the registration prefix}
ids=$(cd "$(dirname "$0")/../../resources" && pwd)/identifiers.h
guid() { grep -B1 " $1 =" "$ids" | sed -n 's|^// \({[0-9A-F-]*}\)$|\1|p'; }
keys=("AppID\\$(guid APPID_Quillbrook)" "CLSID\\$(guid CLSID_PropertyHandler)"
    "CLSID\\$(guid CLSID_ThumbnailProvider)" "TypeLib\\$(guid LIBID_QuillbrookLib)")

# Every value under the keys, in both hives and both views; "absent" for a
# key that is not there.
record() {
    local hive view key
    for hive in HKLM HKCU; do
        for view in 64 32; do
            for key in "${keys[@]}"; do
                echo "[$hive\\Software\\Classes\\$key /reg:$view]"
                "$emulator" reg query "$hive\\Software\\Classes\\$key" /s "/reg:$view" 2>/dev/null | tr -d '\r' ||
                    echo absent
            done
        done
    done
}

case $step in
plant)
    rm -rf "$work" && mkdir -p "$work" "$prefix/drive_c/Quillbrook"
    cp "$module" "$prefix/drive_c/Quillbrook/quillbrook.dll"
    "$emulator" regsvr32 /s 'C:\Quillbrook\quillbrook.dll'
    "$emulator" regsvr32 /s /n /i:user 'C:\Quillbrook\quillbrook.dll'
    record >"$work/planted.txt"
    grep -qi 'C:\\Quillbrook\\quillbrook.dll' "$work/planted.txt" ||
        { echo "registry kept: the planted registration is not in the registry" >&2; exit 1; }
    echo "registry kept: planted the registration of C:\\Quillbrook\\quillbrook.dll"
    ;;
check)
    [ -f "$work/planted.txt" ] || { echo "registry kept: nothing was planted" >&2; exit 1; }
    record >"$work/after.txt"
    if ! diff -u "$work/planted.txt" "$work/after.txt"; then
        echo "registry kept: the registration tests changed the keys above" >&2
        exit 1
    fi
    echo "registry kept: the registration's keys read as before the tests"
    ;;
*)
    echo "usage: registry_kept.sh plant|check EMULATOR MODULE WORK" >&2
    exit 2
    ;;
esac
