#!/usr/bin/env bash
# Gathers, from a build made by scripts/build, what tests/windows/run.ps1
# needs on a Windows machine, in the build tree's own layout: for each of the
# x64, x86 and ARM64 trees its modules, console program and package with
# their PDBs (for reading crash dumps), the GoogleTest programs and the
# system test, the reference files the tests read (tests/make_fixtures.sh),
# and the package variants of the lifecycles (variants.sh).
#
#     prepare.sh BUILD OUT
set -euo pipefail
build=$(cd "$1" && pwd)
out=$2
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$out" && mkdir -p "$out"
out=$(cd "$out" && pwd)

for tree in . x86 arm64; do
    from=$build/$tree to=$out/$tree
    [ -f "$from/quillbrook.dll" ] || { echo "prepare: no build in $from" >&2; exit 1; }
    mkdir -p "$to/tests/system"
    for file in quillbrook.dll quillbrook.pdb quillbrook-cli.exe quillbrook-cli.pdb quillbrook.msi \
        quillbrook-arm64.msi; do
        if [ -f "$from/$file" ]; then cp "$from/$file" "$to/"; fi
    done
    cp "$from"/tests/*_tests.exe "$to/tests/"
    cp "$from/tests/system/system_test.exe" "$to/tests/system/"
    bash "$here/../make_fixtures.sh" "$to/fixtures" >/dev/null
    if [ "$tree" != x86 ]; then
        bash "$here/variants.sh" "$from" "$to/windows-variants"
    fi
done
echo "prepare: $(find "$out" -type f | wc -l) files in $out"
