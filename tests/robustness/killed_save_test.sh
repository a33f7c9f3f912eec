#!/usr/bin/env bash
# Kills quillbrook-cli (SIGKILL to its Wine process) at seeded random moments
# while it saves a 32 MB FLAC file, RUNS times for an edit that fits the
# padding and RUNS times for one that needs a whole-file rewrite; half RUNS
# times, an edit that fits the padding of a file with 48 MB of pictures
# behind its comments (large metadata); and a third of RUNS times each for
# two layouts that a save once tore: the padding split around those
# pictures, where only both parts together hold a 6,000-character comment
# ("split"), and a comment block that outgrows the padding behind it and
# moves into the padding at the end, past a 16 MB picture, in two writes
# ("two-span"). Those two are also killed exactly between the writes: the
# save runs under strace, which kills it as it enters its Nth write, flush
# or rename of the file, for every N until a save runs to its end. After each
# kill the file must be byte for byte the old one, or a valid FLAC file with
# the same audio and pictures that reads as the old tags or has the new tag.
# Nothing else may be left in the folder
# once the next save of the file has run: a kill in the instant between
# creating the copy and marking it to go when closed leaves the copy, for
# that save to remove. Writes its counts to ROBUSTNESS_DIR/killed-saves.figures.
# QUILLBROOK_KILLED_KINDS may name the kinds to run (all by default).
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
# The two layouts built block by block around the same audio: STREAMINFO, the
# encoder's comment block, then PADDING 4 KB, three 16 MB pictures, PADDING
# 4 KB ("split"); or PADDING 64 bytes, one 16 MB picture, PADDING 8 KB
# ("two-span").
python3 - "$work" <<'PYTHON'
import random, struct, sys
work = sys.argv[1]
data = open(f"{work}/pictures.flac", "rb").read()
at, blocks = 4, {}
while True:
    kind, last = data[at] & 0x7F, data[at] & 0x80
    length = int.from_bytes(data[at + 1:at + 4], "big")
    blocks.setdefault(kind, data[at + 4:at + 4 + length])
    at += 4 + length
    if last:
        break
audio = data[at:]
def block(kind, body, last=False):
    return bytes([kind | (0x80 if last else 0)]) + len(body).to_bytes(3, "big") + body
def picture(seed, size):
    mime, image = b"image/jpeg", random.Random(seed).randbytes(size)
    return (struct.pack(">II", 3, len(mime)) + mime + struct.pack(">IIIIII", 0, 1200, 1200, 24, 0, len(image)) + image)
head = b"fLaC" + block(0, blocks[0]) + block(4, blocks[4])
pictures = [picture(seed, 16 * 1000 * 1000) for seed in (21, 22, 23)]
with open(f"{work}/split.flac", "wb") as out:
    out.write(head + block(1, bytes(4096)) + b"".join(block(6, p) for p in pictures) + block(1, bytes(4096), True) + audio)
with open(f"{work}/two-span.flac", "wb") as out:
    out.write(head + block(1, bytes(64)) + block(6, pictures[0]) + block(1, bytes(8192), True) + audio)
PYTHON
file=$work/run/song.flac

declare -A value=([in-place]="title=killed in place" [rewrite]="comment=$(printf 'r%.0s' {1..12000})"
    [large]="title=killed in place" [split]="comment=$(printf 's%.0s' {1..6000})"
    [two-span]="title=a title that outgrows the sixty-four bytes of padding behind the comment block")
declare -A tag=([in-place]="TITLE=killed in place" [rewrite]="COMMENT=rrrrrrrrrr" [large]="TITLE=killed in place"
    [split]="COMMENT=ssssssssss" [two-span]="TITLE=a title that outgrows")
declare -A source=([in-place]=original.flac [rewrite]=original.flac [large]=pictures.flac [split]=split.flac
    [two-span]=two-span.flac)
declare -A kills=([in-place]=$runs [rewrite]=$runs [large]=$((runs / 2)) [split]=$((runs / 3))
    [two-span]=$((runs / 3)))
declare -A md5 tags
for kind in "${!source[@]}"; do
    md5[$kind]=$(metaflac --show-md5sum "$work/${source[$kind]}")
    tags[$kind]=$(metaflac --export-tags-to=- "$work/${source[$kind]}")
done
declare -A count
for outcome in old new broken left stale exact exact_broken; do count[$outcome]=0; done

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

# A save stopped between its two writes leaves the new comment block in the
# padding at the end and the old one first: a valid file that reads as the
# old tags.
classify() { # kind
    if cmp -s "$file" "$work/${source[$1]}"; then
        echo old
    elif [ -f "$file" ] && flac -t -s "$file" 2>/dev/null && metaflac --list "$file" >/dev/null 2>&1 &&
        [ "$(metaflac --show-md5sum "$file")" = "${md5[$1]}" ] &&
        [ "$(pictures "$file")" = "$(pictures "$work/${source[$1]}")" ]; then
        if metaflac --export-tags-to=- "$file" | grep -qF "${tag[$1]}"; then
            echo new
        elif [ "$(metaflac --export-tags-to=- "$file")" = "${tags[$1]}" ]; then
            echo old
        else
            echo broken
        fi
    else
        echo broken
    fi
}

# Leaves the folder to the next run; a copy left behind must go with the
# next save of the file.
check_folder() { # kind label
    extra=$(ls -A "$work/run" | grep -vx song.flac || true)
    if [ -n "$extra" ]; then
        count[stale]=$((count[stale] + 1))
        echo "$2: left until the next save: $extra" >&2
        "$root/scripts/wine-exec" "$build/quillbrook-cli.exe" --dll "$build/quillbrook.dll" set "$file" \
            "${value[$1]}" >/dev/null 2>&1 || true
        extra=$(ls -A "$work/run" | grep -vx song.flac || true)
        if [ -n "$extra" ]; then
            count[left]=$((count[left] + 1))
            echo "$2: left behind after the next save too: $extra" >&2
        fi
    fi
    rm -rf "$work/run" && mkdir "$work/run"
}

# Kills a save as it enters its Nth write, flush or rename of the file, for
# N = 1, 2, ... until a save is not killed: every point between two of them.
exact_kills() { # kind
    local calls=pwrite64,write,pwritev,pwritev2,fsync,fdatasync,rename,renameat,renameat2
    for ((n = 1; n <= 12; n++)); do
        cp "$work/${source[$1]}" "$file"
        local killed=0
        strace -f -qq -o /dev/null -P "$file" -e trace=$calls -e inject=$calls:signal=KILL:when=$n \
            "$root/scripts/wine-exec" "$build/quillbrook-cli.exe" --dll "$build/quillbrook.dll" set "$file" \
            "${value[$1]}" >/dev/null 2>&1 || killed=1
        for _ in {1..30}; do
            [ "$(ls -A "$work/run")" = song.flac ] && break
            sleep 0.1
        done
        outcome=$(classify "$1")
        if [ $killed = 0 ]; then
            [ "$outcome" = new ] || { echo "FAIL: the traced $1 save ran to its end but the file is $outcome" >&2; exit 1; }
            rm -rf "$work/run" && mkdir "$work/run"
            break
        fi
        count[$outcome]=$((count[$outcome] + 1))
        count[exact]=$((count[exact] + 1))
        if [ "$outcome" = broken ]; then
            count[exact_broken]=$((count[exact_broken] + 1))
            echo "$1: killed entering its file call $n: the file is broken" >&2
        fi
        check_folder "$1" "$1 exact kill $n"
    done
}

total=0
for kind in ${QUILLBROOK_KILLED_KINDS:-in-place rewrite large split two-span}; do
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
        check_folder "$kind" "$kind run $run (kill at ${delay_ms} ms of ${span})"
    done
    total=$((total + kills[$kind]))
    if [ "$kind" = split ] || [ "$kind" = two-span ]; then
        before=${count[exact]}
        exact_kills "$kind"
        total=$((total + count[exact] - before))
    fi
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
killed_exactly_between_writes ${count[exact]}
killed_exactly_between_writes_broken ${count[exact_broken]}
data_lost ${count[broken]}
finished 1
EOF
[ "${count[broken]}" -eq 0 ] && [ "${count[left]}" -eq 0 ]
