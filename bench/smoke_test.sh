#!/usr/bin/env bash
# Runs the whole benchmark on a corpus of a dozen files, with the module
# loaded from the build tree, and checks that it ends with the ratio line.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1
work=$build/bench-smoke
python=/usr/bin/python3

"$python" "$root/bench/make_corpus.py" "$work/corpus" --seed 7 --files 12 --long-files 1 --long-mb 1 --jobs 1
"$root/scripts/wine-exec" "$build/bench/quillbrook-bench.exe" --dll "Z:$build/quillbrook.dll" \
    "Z:$work/corpus" "Z:$work/scratch" >"$work/output.txt"
"$python" "$root/bench/report.py" "$work/output.txt" "$work/corpus" --results "$work/RESULTS.md" | tee "$work/report.txt"

number='[0-9]+\.[0-9]{2}'
count='[0-9]+'
pattern="^read_vs_floor=$number rewrite_vs_copy=$number inplace_written_vs_changed_span=1\.00 peak_mem_vs_picture=$number"
pattern+=" read_calls=$count thumbnail_calls=$count inplace_calls=$count rewrite_calls=$count"
pattern+=" slow_read_vs_floor=$number read_overhead_vs_metaflac=$number read_overhead_vs_mutagen=$number"
pattern+=" thumbnail_peak_mem_vs_picture=$number corpus_private_growth_kib=-?$number inplace_peak_mem_vs_metadata=$number\$"
tail -n 1 "$work/report.txt" | grep -Eq "$pattern" || { echo "unexpected last line" >&2; exit 1; }
grep -q '^| read (µs)' "$work/RESULTS.md"
grep -q '^| in-place Commit |' "$work/RESULTS.md"
