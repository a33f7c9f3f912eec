#!/usr/bin/env bash
# Adds up the figures that the robustness tests left in DIR (one .figures file
# per test) and writes them, as a table, to DIR/RELIABILITY.md and stdout.
# A test that started but never finished counts as a crash. Fails when any
# crash, hang, leak or lost byte was counted.
set -euo pipefail
dir=$1
out=$dir/RELIABILITY.md
shopt -s nullglob
files=("$dir"/*.figures)
if [ ${#files[@]} -eq 0 ]; then
    echo "no robustness figures in $dir (no robustness test ran)"
    exit 0
fi
awk '
    function add(key, value) { total[key] += value }
    FNR == 1 { tests++ }
    { value[FILENAME, $1] = $2 + 0; seen[FILENAME] = 1 }
    END {
        for (f in seen) {
            if (value[f, "finished"] != 1 && value[f, "crashes"] + value[f, "hangs"] == 0) add("unfinished", 1)
            add("crashes", value[f, "crashes"]); add("hangs", value[f, "hangs"]); add("data_lost", value[f, "data_lost"])
            add("truncation_cases", value[f, "truncation_cases"]); add("mutation_cases", value[f, "mutation_cases"])
            add("handler_initialized", value[f, "handler_initialized"])
            add("committed_and_read_back", value[f, "committed_and_read_back"])
            add("faults_injected", value[f, "faults_injected"]); add("failures_reported", value[f, "failures_reported"])
            add("consistent_successes", value[f, "consistent_successes"])
            add("sequence_steps", value[f, "sequence_steps"]); add("sequence_faults", value[f, "sequence_faults_planned"])
            add("sequence_failed", value[f, "sequence_commits_failed"]); add("sequence_succeeded", value[f, "sequence_commits_succeeded"])
            add("leaked_blocks", value[f, "leaked_task_allocator_blocks"])
            add("killed_saves", value[f, "killed_saves"]); add("killed_old", value[f, "killed_old"])
            add("killed_new", value[f, "killed_new"]); add("killed_broken", value[f, "killed_broken"])
            add("killed_left_behind", value[f, "killed_left_behind"]); add("killed_stale", value[f, "killed_left_until_next_save"])
            add("killed_exact", value[f, "killed_exactly_between_writes"]); add("killed_exact_broken", value[f, "killed_exactly_between_writes_broken"])
            add("cycles", value[f, "cycles"]); add("apartment_operations", value[f, "operations"])
            add("apartment_rounds", value[f, "rounds"]); add("sections_checked", value[f, "sections_checked"])
            if (f ~ /long-run/) {
                heap = value[f, "heap_growth_bytes"]; priv = value[f, "private_bytes_growth"]
                handed = value[f, "task_allocator_blocks_handed_out"]; unload = value[f, "can_unload_now"]
            }
            if (f ~ /many-apartments/) threads = value[f, "threads"]
        }
        crashes = total["crashes"] + total["unfinished"]
        printf "# Reliability figures\n\n"
        printf "From the robustness suite (tests/robustness), run by `scripts/test` under Wine; %d tests reported.\n\n", tests
        printf "| category | figure |\n|---|---|\n"
        printf "| hostile input: truncations tried | %d |\n", total["truncation_cases"]
        printf "| hostile input: seeded mutations tried | %d |\n", total["mutation_cases"]
        printf "| hostile input: initialised / committed and read back | %d / %d |\n", total["handler_initialized"], total["committed_and_read_back"]
        printf "| failing streams: faults injected | %d |\n", total["faults_injected"]
        printf "| failing streams: failures reported / exact successes | %d / %d |\n", total["failures_reported"], total["consistent_successes"]
        printf "| commit sequences: steps, faults planned | %d, %d |\n", total["sequence_steps"], total["sequence_faults"]
        printf "| commit sequences: commits failed / succeeded | %d / %d |\n", total["sequence_failed"], total["sequence_succeeded"]
        printf "| killed saves: kills, file old / new / broken | %d: %d / %d / %d |\n", total["killed_saves"], total["killed_old"], total["killed_new"], total["killed_broken"]
        printf "| killed saves: copies left until the next save / after it | %d / %d |\n", total["killed_stale"], total["killed_left_behind"]
        printf "| killed saves: of those, killed exactly between two file writes, broken | %d, %d |\n", total["killed_exact"], total["killed_exact_broken"]
        printf "| long run: cycles | %d |\n", total["cycles"]
        printf "| long run: task-allocator blocks handed out / left | %d / %d |\n", handed, total["leaked_blocks"]
        printf "| long run: heap growth after warm-up | %d bytes |\n", heap
        printf "| long run: private bytes growth after warm-up | %d bytes |\n", priv
        printf "| long run: DllCanUnloadNow at the end | %s |\n", unload == 1 ? "S_OK" : "not S_OK"
        printf "| apartments: threads x rounds, operations | %d x %d, %d |\n", threads, total["apartment_rounds"], total["apartment_operations"]
        printf "| hardened PE: sections checked | %d |\n", total["sections_checked"]
        printf "| crashes | %d |\n| hangs | %d |\n| data lost | %d |\n", crashes, total["hangs"], total["data_lost"]
        bad = crashes + total["hangs"] + total["data_lost"] + total["leaked_blocks"] + total["killed_left_behind"]
        exit bad > 0 ? 1 : 0
    }
' "${files[@]}" >"$out" || status=$?
cat "$out"
exit "${status:-0}"
