#!/usr/bin/env bash
# Kills quillbrook-cli (SIGKILL to its Wine process) at seeded random moments
# while it saves a 32 MB FLAC file, RUNS times for an edit that fits the
# padding and RUNS times for one that needs a whole-file rewrite; and, half
# RUNS times, an edit that fits the padding of a file with 48 MB of pictures
# behind its comments (large metadata). After each
# kill the file must be byte for byte the old one, or a valid FLAC file with
# the new tag and the same audio. Nothing else may be left in the folder
# once the next save of the file has run: a kill in the instant between
# creating the copy and marking it to go when closed leaves the copy, for
# that save to remove. Writes its counts to ROBUSTNESS_DIR/killed-saves.figures.
# usage: killed_save_test.sh BUILD_DIR ROBUSTNESS_DIR [RUNS] [SEED]
set -euo pipefail
build=$1
figures_dir=$2
runs=${3:-30}
RANDOM=${4:-20261207}
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$build/killed-saves
rm -rf "$work" && mkdir -p "$work/run" "$figures_dir"
deadline=$((SECONDS + 540))

# Seeded noise compresses little: 32 MB of audio, with flac's 8 KB padding.
python3 -c "
import random, sys
sys.stdout.buffer.write(random.Random(7).randbytes(32 * 1000 * 1000))" >"$work/audio.raw"
flac --silent --force --endian=little --sign=signed --bps=16 --channels=2 --sample-rate=44100 \
    --compression-level-0 -o "$work/original.flac" "$work/audio.raw"
rm "$work/audio.raw"
# Large metadata: 3 MB of audio with three pictures of 16 MB (a block holds
# less than 16 MiB) after the comments, put there in one metaflac run.
python3 -c "
import random, sys
sys.stdout.buffer.write(random.Random(9).randbytes(3 * 1000 * 1000))" >"$work/audio.raw"
flac --silent --force --endian=little --sign=signed --bps=16 --channels=2 --sample-rate=44100 \
    --compression-level-0 -o "$work/pictures.flac" "$work/audio.raw"
python3 -c "
import random, sys
sys.stdout.buffer.write(random.Random(11).randbytes(16 * 1000 * 1000))" >"$work/picture.jpg"
metaflac $(printf -- '--import-picture-from=3|image/jpeg||1200x1200x24|%s ' "$work/picture.jpg"{,,}) \
    "$work/pictures.flac"
rm "$work/audio.raw" "$work/picture.jpg"
file=$work/run/song.flac

declare -A value=([in-place]="title=killed in place" [rewrite]="comment=$(printf 'r%.0s' {1..12000})"
    [large]="title=killed in place")
declare -A tag=([in-place]="TITLE=killed in place" [rewrite]="COMMENT=rrrrrrrrrr" [large]="TITLE=killed in place")
declare -A source=([in-place]=original.flac [rewrite]=original.flac [large]=pictures.flac)
declare -A kills=([in-place]=$runs [rewrite]=$runs [large]=$((runs / 2)))
declare -A md5
for kind in "${!source[@]}"; do md5[$kind]=$(metaflac --show-md5sum "$work/${source[$kind]}"); done
declare -A count
for outcome in old new broken left stale; do count[$outcome]=0; done

# Starts the save; `pid` is timeout's, whose child is the Wine process.
start_save() { # kind
    cp "$work/${source[$1]}" "$file"
    "$root/scripts/wine-exec" "$build/quillbrook-cli.exe" --dll "$build/quillbrook.dll" set "$file" "${value[$1]}" \
        >/dev/null 2>&1 &
    pid=$!
}

# The PICTURE blocks of a file, counted from its block headers.
pictures() {
    python3 -c "
import sys
f = open(sys.argv[1], 'rb')
f.seek(4)
count, last = 0, False
while not last:
    header = f.read(4)
    if len(header) < 4:
        break
    last, kind = header[0] & 0x80, header[0] & 0x7F
    count += kind == 6
    f.seek(int.from_bytes(header[1:], 'big'), 1)
print(count)" "$1"
}

classify() { # kind
    if cmp -s "$file" "$work/${source[$1]}"; then
        echo old
    elif [ -f "$file" ] && flac -t -s "$file" 2>/dev/null && [ "$(metaflac --show-md5sum "$file")" = "${md5[$1]}" ] &&
        metaflac --export-tags-to=- "$file" | grep -qF "${tag[$1]}" &&
        [ "$(pictures "$file")" = "$(pictures "$work/${source[$1]}")" ]; then
        echo new
    else
        echo broken
    fi
}

total=0
for kind in in-place rewrite large; do
    # How long an unkilled save of this kind takes, in milliseconds: the
    # longest of three, so that the kills cover the whole of one.
    span=0
    for _ in 1 2 3; do
        start=$EPOCHREALTIME
        start_save "$kind"
        wait "$pid" || { echo "FAIL: the $kind save failed without a kill" >&2; exit 1; }
        took=$(((${EPOCHREALTIME/./} - ${start/./}) / 1000))
        [ "$took" -gt "$span" ] && span=$took
        [ "$(classify "$kind")" = new ] || { echo "FAIL: an unkilled $kind save is not right" >&2; exit 1; }
    done
    for ((run = 1; run <= kills[$kind]; run++)); do
        [ $SECONDS -lt $deadline ] || { echo "FAIL: out of time at $kind run $run" >&2; exit 1; }
        delay_ms=$((span * RANDOM / 32767))
        start_save "$kind"
        sleep "$((delay_ms / 1000)).$(printf '%03d' $((delay_ms % 1000)))"
        # The Wine process, once timeout has started it.
        for _ in {1..50}; do
            child=$(pgrep -P "$pid" || true)
            [ -n "$child" ] || ! kill -0 "$pid" 2>/dev/null && break
            sleep 0.01
        done
        [ -n "$child" ] && kill -KILL $child 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        # Wine closes a killed process's handles a moment later.
        for _ in {1..30}; do
            [ "$(ls -A "$work/run")" = song.flac ] && break
            sleep 0.1
        done
        outcome=$(classify "$kind")
        count[$outcome]=$((count[$outcome] + 1))
        [ "$outcome" = broken ] && echo "$kind run $run (kill at ${delay_ms} ms of ${span}): the file is broken" >&2
        extra=$(ls -A "$work/run" | grep -vx song.flac || true)
        if [ -n "$extra" ]; then
            count[stale]=$((count[stale] + 1))
            echo "$kind run $run (kill at ${delay_ms} ms of ${span}): left until the next save: $extra" >&2
            "$root/scripts/wine-exec" "$build/quillbrook-cli.exe" --dll "$build/quillbrook.dll" set "$file" \
                "${value[$kind]}" >/dev/null 2>&1 || true
            extra=$(ls -A "$work/run" | grep -vx song.flac || true)
            if [ -n "$extra" ]; then
                count[left]=$((count[left] + 1))
                echo "$kind run $run: left behind after the next save too: $extra" >&2
            fi
        fi
        rm -rf "$work/run" && mkdir "$work/run"
    done
    total=$((total + kills[$kind]))
    echo "$kind: ${span} ms a save; after $total kills so far: old ${count[old]}, new ${count[new]}," \
        "broken ${count[broken]}, left until the next save ${count[stale]}, left behind ${count[left]}"
done

cat >"$figures_dir/killed-saves.figures" <<EOF
killed_saves $total
killed_old ${count[old]}
killed_new ${count[new]}
killed_broken ${count[broken]}
killed_left_until_next_save ${count[stale]}
killed_left_behind ${count[left]}
data_lost ${count[broken]}
finished 1
EOF
[ "${count[broken]}" -eq 0 ] && [ "${count[left]}" -eq 0 ]
