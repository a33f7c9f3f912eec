#!/usr/bin/env bash
# Gathers, from a build made by scripts/build, what tests/windows/run.ps1
# needs on a Windows machine, in the build tree's own layout: for each of the
# x64, x86 and ARM64 trees its modules, console program and package with
# their PDBs (for reading crash dumps), the GoogleTest programs and the
# system test, the reference files the tests read (tests/make_fixtures.sh),
# and the package variants of the lifecycles (variants.sh). With --tree, one
# build tree's part only, without the variants (the replay under Wine,
# replay_test.sh, runs what this copies).
#
#     prepare.sh BUILD OUT
#     prepare.sh --tree BUILD_TREE OUT
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

copy_tree() { # FROM TO
    local from=$1 to=$2 file
    [ -f "$from/quillbrook.dll" ] || { echo "prepare: no build in $from" >&2; exit 1; }
    mkdir -p "$to/tests/system"
    for file in quillbrook.dll quillbrook.pdb quillbrook-cli.exe quillbrook-cli.pdb quillbrook.msi \
        quillbrook-arm64.msi; do
        if [ -f "$from/$file" ]; then cp "$from/$file" "$to/"; fi
    done
    # Every GoogleTest program but installer_actions_tests, which drives a
    # test build of the custom actions (not shipped here) and unbinds the
    # machine's .flac: it runs on the build machine only.
    for file in "$from"/tests/*_tests.exe; do
        [ "$(basename "$file")" = installer_actions_tests.exe ] || cp "$file" "$to/tests/"
    done
    cp "$from/tests/system/system_test.exe" "$to/tests/system/"
    bash "$here/../make_fixtures.sh" "$to/fixtures" >/dev/null
}

if [ "$1" = --tree ]; then
    rm -rf "$3" && mkdir -p "$3"
    copy_tree "$(cd "$2" && pwd)" "$(cd "$3" && pwd)"
    exit 0
fi
build=$(cd "$1" && pwd)
out=$2
rm -rf "$out" && mkdir -p "$out"
out=$(cd "$out" && pwd)
for tree in . x86 arm64; do
    copy_tree "$build/$tree" "$out/$tree"
    if [ "$tree" != x86 ]; then
        bash "$here/variants.sh" "$build/$tree" "$out/$tree/windows-variants"
    fi
done
echo "prepare: $(find "$out" -type f | wc -l) files in $out"
