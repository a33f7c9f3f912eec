#!/usr/bin/env bash
# Makes the FLAC files that tests read, with the reference encoder and
# metaflac. Deterministic: the audio is generated from fixed formulas.
set -euo pipefail
out=$1
mkdir -p "$out"
cd "$out"

# Raw PCM: a sine-like ramp, little-endian signed 16-bit stereo.
python3 - <<'PY'
import math, struct
def pcm(name, seconds, rate=44100, channels=2):
    with open(name, "wb") as f:
        for i in range(int(seconds * rate)):
            v = int(12000 * math.sin(2 * math.pi * 440 * i / rate))
            f.write(struct.pack("<" + "h" * channels, *([v] * channels)))
pcm("tone.raw", 2.5)
pcm("tone-mono.raw", 1.0, rate=22050, channels=1)
PY

encode() { # name raw rate channels [flac options...]
    local name=$1 raw=$2 rate=$3 channels=$4
    shift 4
    flac --silent --force --endian=little --sign=signed --bps=16 --channels="$channels" \
        --sample-rate="$rate" "$@" -o "$name" "$raw"
}

encode plain.flac tone.raw 44100 2
encode mono.flac tone-mono.raw 22050 1 --padding=0
encode tagged.flac tone.raw 44100 2
metaflac --remove-all-tags \
    --set-tag="ARTIST=Ada Lovelace" --set-tag="ARTIST=Charles Babbage" \
    --set-tag="TITLE=Notes on the Engine" --set-tag="ALBUM=Analytical" \
    --set-tag="TRACKNUMBER=7" --set-tag="DATE=1843" --set-tag="GENRE=Baroque" \
    --set-tag="GENRE=Electronic" --set-tag="ALBUMARTIST=The Difference Engines" \
    --set-tag="COMPOSER=Ada Lovelace" --set-tag="CONDUCTOR=Mary Somerville" \
    --set-tag="DISCNUMBER=1/2" --set-tag="RATING=99" --set-tag="COPYRIGHT=(c) 1843" \
    --set-tag="PUBLISHER=Taylor" --set-tag="COMMENT=Note G" tagged.flac
encode unicode.flac tone.raw 44100 2
metaflac --remove-all-tags \
    --set-tag="ARTIST=Dvořák" --set-tag="TITLE=交響曲第9番" \
    --set-tag="ALBUM=Symphonies 🎻" --set-tag="COMMENT=Ünïcødé" unicode.flac

encode multilingual.flac tone.raw 44100 2
metaflac --remove-all-tags \
    --set-tag="ARTIST=🎸 Emoji Band" --set-tag="artist=Ørjan Ås" --set-tag="GENRE=民謡" \
    --set-tag="GENRE=Música popular" --set-tag="TITLE=𝄞 Clef 🎼" --set-tag="COMPOSER=Антонин Дворжак" \
    --set-tag="CONDUCTOR=小澤征爾" --set-tag="ALBUM=Ελληνικά" --set-tag="COMMENT=naïve café 😀" \
    --set-tag="PUBLISHER=Éditions 🎶" --set-tag="COPYRIGHT=© 2024" --set-tag="DISCNUMBER=２/２" \
    --set-tag="TRACKNUMBER= 007 " --set-tag="DATE=2024" --set-tag="RATING=４" multilingual.flac
encode fallback.flac tone.raw 44100 2
metaflac --remove-all-tags \
    --set-tag="band=The Band" --set-tag="album artist=" --set-tag="ALBUM ARTIST=Band of Brothers" \
    --set-tag="TITLE=" --set-tag="title=Second Title" --set-tag="ARTIST=" --set-tag="ARTIST=Solo" \
    --set-tag="TRACKNUMBER=3/12" --set-tag="DATE=2007-09-17" --set-tag="RATING=4294967296" \
    --set-tag="MYFIELD=kept" fallback.flac
# Covers attached by metaflac. cover.png has four solid quadrants (red, green
# / blue, white); two-covers.flac holds a solid blue back cover before a solid
# red front cover. ImageMagick by full path: another `convert` may come first.
im=/usr/bin/convert
"$im" \( -size 32x24 xc:'#FF0000' xc:'#00FF00' +append \) \
    \( -size 32x24 xc:'#0000FF' xc:'#FFFFFF' +append \) -append cover.png
"$im" -size 40x40 xc:'#0000FF' back.png
"$im" -size 40x40 xc:'#FF0000' front.png
encode cover.flac tone.raw 44100 2
metaflac --import-picture-from="3||||cover.png" cover.flac
encode two-covers.flac tone.raw 44100 2
metaflac --import-picture-from="4||||back.png" two-covers.flac
metaflac --import-picture-from="3||||front.png" two-covers.flac

# The same files behind an ID3v2 tag, as some taggers leave them: one with
# room in its padding, one without.
with_id3v2() { # source target
    python3 - "$1" "$2" <<'PY'
import sys
body = b"TIT2" + (12).to_bytes(4, "big") + b"\x00\x00" + b"\x03" + b"ID3 title\x00\x00" + bytes(200)
size = len(body)
header = b"ID3\x04\x00\x00" + bytes([(size >> 21) & 127, (size >> 14) & 127, (size >> 7) & 127, size & 127])
with open(sys.argv[1], "rb") as f:
    flac = f.read()
with open(sys.argv[2], "wb") as f:
    f.write(header + body + flac)
PY
}
with_id3v2 tagged.flac id3-tagged.flac
with_id3v2 mono.flac id3-mono.flac

rm -f tone.raw tone-mono.raw
