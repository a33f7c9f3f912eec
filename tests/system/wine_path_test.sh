#!/usr/bin/env bash
# The system test's Wine path: every check reports "skipped: the shell's
# property system is not available", none passes or fails, and the program
# exits 0. The number of checks is the one tests/windows/run.ps1 expects on
# Windows ($SystemTestChecks).
#
#     wine_path_test.sh EMULATOR SYSTEM_TEST
set -uo pipefail
emulator=$1 program=$2
output=$("$emulator" "$program" 2>&1 | tr -d '\r')
status=$?
printf '%s\n' "$output"
checks=$(printf '%s\n' "$output" | grep -c ': \(passed\|failed\|skipped\)' || true)
skipped=$(printf '%s\n' "$output" | grep -c ": skipped: the shell's property system is not available$" || true)
fail() { echo "wine path: $*" >&2; exit 1; }
[ "$status" -eq 0 ] || fail "exit code $status"
[ "$checks" -gt 0 ] || fail "no check reported"
expected=$(sed -n 's/^\$SystemTestChecks = \([0-9]*\)$/\1/p' "$(dirname "$0")/../windows/run.ps1")
[ "$checks" = "$expected" ] || fail "$checks checks, run.ps1 expects $expected"
[ "$skipped" -eq "$checks" ] || fail "$((checks - skipped)) of $checks checks not skipped"
[ "$(printf '%s\n' "$output" | tail -n 1)" = "0 passed, 0 failed, $checks skipped" ] || fail "closing line wrong"
echo "wine path: all $checks checks skipped, exit 0"
