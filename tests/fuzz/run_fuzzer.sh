#!/usr/bin/env bash
# One bounded libFuzzer run under Wine (in the run's prefix), from SEEDS:
# first every seed once (the corpus pass), then SECONDS of fuzzing with the
# dictionary $QUILLBROOK_FUZZ_DICT (if set). The corpus it grows and any
# crashing input go to WORK; the last figures to WORK/figures. The exit code
# is libFuzzer's: 0 only if no input crashed, leaked through a sanitizer
# report or broke a check.
#
#     run_fuzzer.sh FUZZER SEEDS WORK SECONDS [CORPUS]
#
# CORPUS, if given, is the corpus to grow (kept between runs: scripts/fuzz);
# otherwise WORK/corpus, emptied first.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
fuzzer=$1 seeds=$2 work=$3 seconds=$4
corpus=${5:-}
mkdir -p "$work"
if [ -z "$corpus" ]; then
    corpus=$work/corpus
    rm -rf "$corpus"
fi
mkdir -p "$corpus"
rm -f "$work"/crash-* "$work"/leak-* "$work"/timeout-*
options=(-max_total_time="$seconds" -rss_limit_mb=0 -timeout=20 -print_final_stats=1 -artifact_prefix="Z:$work/")
[ -n "${QUILLBROOK_FUZZ_DICT:-}" ] && options+=(-dict="Z:$QUILLBROOK_FUZZ_DICT")
# ASan's options: reports with their stacks, fatal.
export ASAN_OPTIONS=${ASAN_OPTIONS:-symbolize=1:detect_leaks=0:halt_on_error=1}
export WINEDEBUG=-all
QUILLBROOK_WINE_TIMEOUT=$((seconds + 300)) "$root/scripts/wine-exec" "$fuzzer" "${options[@]}" \
    "Z:$corpus" "Z:$seeds" 2>&1 | tee "$work/log" | grep -v -E '^#[0-9]+\s+(NEW|REDUCE|pulse)'
status=${PIPESTATUS[0]}
# The figures: the last status line's cov and ft, the final stats.
{
    grep -E '^#[0-9]+' "$work/log" | tail -n 1
    grep -E '^stat::' "$work/log"
    echo "corpus_files: $(find "$corpus" -type f | wc -l)"
} >"$work/figures"
cat "$work/figures"
exit "$status"
