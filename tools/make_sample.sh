#!/usr/bin/env bash
# Makes a sample FLAC file with tags and a cover picture, with the reference
# encoder, metaflac and ImageMagick.
set -euo pipefail
target=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work/tone.raw" <<'PY'
import math, struct, sys
rate = 44100
with open(sys.argv[1], "wb") as f:
    for i in range(rate * 3):
        v = int(9000 * math.sin(2 * math.pi * 330 * i / rate) * math.exp(-i / rate))
        f.write(struct.pack("<hh", v, v))
PY
convert -size 300x300 gradient:'#1d3557-#e63946' -fill white -gravity center -pointsize 48 \
    -annotate 0 'Quillbrook' "$work/cover.png" 2>/dev/null ||
    convert -size 300x300 gradient:'#1d3557-#e63946' "$work/cover.png"
flac --silent --force --endian=little --sign=signed --bps=16 --channels=2 --sample-rate=44100 \
    -o "$target" "$work/tone.raw"
metaflac --remove-all-tags \
    --set-tag="TITLE=Sample Tone" --set-tag="ARTIST=Quillbrook" --set-tag="ARTIST=Guest Player" \
    --set-tag="ALBUM=Samples" --set-tag="TRACKNUMBER=1" --set-tag="DATE=2026" \
    --set-tag="GENRE=Test" --set-tag="COMMENT=Made by tools/make_sample.sh" \
    --import-picture-from="3|image/png|Front cover||$work/cover.png" "$target"
echo "$target"
