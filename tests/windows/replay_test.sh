#!/usr/bin/env bash
# Replays under Wine what tests/windows/run.ps1 does with one build tree's
# GoogleTest programs on Windows: the tree as prepare.sh gathers it, on
# drive C: of the prefix; each *_tests.exe run with QUILLBROOK_BUILD_TREE
# naming that copy and with run.ps1's own filter; the Linux programs hidden
# (QUILLBROOK_NO_UNIX_TOOLS), as Windows has none. Fails if a program fails
# or if the tree has fewer programs than run.ps1 expects of it.
#
#     replay_test.sh EMULATOR BUILD_TREE ARCH PHOTO_THUMBNAIL_STANDIN
set -uo pipefail
emulator=$1 tree=$2 arch=$3 standin=$4
here=$(cd "$(dirname "$0")" && pwd)
prefix=${WINEPREFIX:?the prefix to replay in}
name=quillbrook-replay-$arch
copy=$prefix/drive_c/$name
fail() { echo "replay: $*" >&2; exit 1; }

bash "$here/prepare.sh" --tree "$tree" "$copy" || fail "prepare.sh --tree failed"
# run.ps1's filter and expectation, read from run.ps1 itself.
filter=$(sed -n '/^\$LinuxToolTests = @(/,/^)/p' "$here/run.ps1" | grep -o "'[^']*'" | tr -d "'" | paste -sd:)
expected=$(sed -n 's/^\$ExpectedPrograms = @{\(.*\)}/\1/p' "$here/run.ps1" | grep -o "$arch = [0-9]*" | grep -o '[0-9]*$')
[ -n "$filter" ] || fail "no \$LinuxToolTests list in run.ps1"
[ -n "$expected" ] || fail "no \$ExpectedPrograms entry for $arch in run.ps1"

# Windows has its own photo thumbnail provider; Wine has the stand-in.
"$emulator" regsvr32 /s "Z:$standin" || fail "cannot register the photo thumbnail stand-in"
programs=0 failed=()
for program in "$copy"/tests/*_tests.exe; do
    base=$(basename "$program" .exe)
    programs=$((programs + 1))
    if QUILLBROOK_BUILD_TREE="C:\\$name" QUILLBROOK_NO_UNIX_TOOLS=1 \
        "$emulator" "C:\\$name\\tests\\$base.exe" "--gtest_filter=-$filter" >"$copy/$base.log" 2>&1; then
        echo "replay: $base passed ($(grep -c '^\[       OK \]' "$copy/$base.log") cases)"
    else
        failed+=("$base")
        echo "replay: $base FAILED:"
        grep -E '^\[  FAILED  \]|Failure|error' "$copy/$base.log" | head -20
    fi
done
"$emulator" regsvr32 /s /u "Z:$standin" || true
[ "$programs" -ge "$expected" ] || fail "$programs test programs in $tree, run.ps1 expects $expected"
[ ${#failed[@]} -eq 0 ] || fail "${#failed[@]} of $programs programs failed: ${failed[*]}"
echo "replay: all $programs programs of the $arch tree passed from C:\\$name with run.ps1's filter"
