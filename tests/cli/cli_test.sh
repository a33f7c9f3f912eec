#!/usr/bin/env bash
# Runs quillbrook-cli under Wine on files made by the reference encoder and
# checks the results from the Linux side with metaflac and flac.
# usage: cli_test.sh CASE BUILD_DIR FIXTURE_DIR
set -euo pipefail
case_name=$1
build=$2
fixtures=$3
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$build/cli-work/$case_name
rm -rf "$work" && mkdir -p "$work"

cli() { "$root/scripts/wine-exec" "$build/quillbrook-cli.exe" --dll "$build/quillbrook.dll" "$@"; }
fail() { echo "FAIL: $*" >&2; exit 1; }
expect_in() { grep -qF -- "$1" <<<"$2" || fail "expected '$1' in: $2"; }
tags_of() { metaflac --export-tags-to=- "$1"; }
audio_md5() { flac -d -c --force-raw-format --endian=little --sign=signed "$1" 2>/dev/null | md5sum; }

case $case_name in
show)
    out=$(cli show "$fixtures/tagged.flac")
    expect_in "System.Music.Artist: Ada Lovelace; Charles Babbage" "$out"
    expect_in "System.Title: Notes on the Engine" "$out"
    expect_in "System.Media.Duration: 0:00:02" "$out"
    expect_in "System.Audio.SampleRate: 44100" "$out"
    expect_in " kbps" "$out"
    json=$(cli --json show "$fixtures/tagged.flac" "$fixtures/unicode.flac")
    python3 - "$json" <<'PY'
import json, sys
files = json.loads(sys.argv[1])
assert len(files) == 2, files
first = files[0]["properties"]
assert first["System.Music.Artist"] == ["Ada Lovelace", "Charles Babbage"], first
assert first["System.Media.Duration"] == 25000000, first
assert first["System.Music.TrackNumber"] == 7, first
assert files[1]["properties"]["System.Title"] == "交響曲第9番", files[1]
PY
    ;;
set)
    cp "$fixtures/tagged.flac" "$work/a.flac"
    before=$(audio_md5 "$work/a.flac")
    cli set "$work/a.flac" "artist=Grace Hopper; Alan Turing" "System.Title=Ünïcødé 🎵" year=2001 track=3 >/dev/null
    tags=$(tags_of "$work/a.flac")
    expect_in "ARTIST=Grace Hopper" "$tags"
    expect_in "ARTIST=Alan Turing" "$tags"
    expect_in "TITLE=Ünïcødé 🎵" "$tags"
    expect_in "DATE=2001" "$tags"
    expect_in "TRACKNUMBER=3" "$tags"
    expect_in "ALBUM=Analytical" "$tags"
    flac -t -s "$work/a.flac" || fail "the edited file does not decode"
    [ "$(audio_md5 "$work/a.flac")" = "$before" ] || fail "audio changed"
    ;;
rewrite)
    # No padding: the new tags need a whole-file rewrite through the safe save.
    cp "$fixtures/mono.flac" "$work/m.flac"
    before=$(audio_md5 "$work/m.flac")
    cli set "$work/m.flac" "title=A title that needs room" "genre=Ambient; Drone" >/dev/null
    tags=$(tags_of "$work/m.flac")
    expect_in "TITLE=A title that needs room" "$tags"
    expect_in "GENRE=Drone" "$tags"
    flac -t -s "$work/m.flac" || fail "the rewritten file does not decode"
    [ "$(audio_md5 "$work/m.flac")" = "$before" ] || fail "audio changed"
    [ ! -e "$work/m.flac.saving" ] || fail "temporary file left behind"
    ;;
clear)
    cp "$fixtures/tagged.flac" "$work/c.flac"
    cli clear "$work/c.flac" comment albumartist >/dev/null
    tags=$(tags_of "$work/c.flac")
    ! grep -q '^COMMENT=' <<<"$tags" || fail "COMMENT still there"
    ! grep -q '^ALBUMARTIST=' <<<"$tags" || fail "ALBUMARTIST still there"
    expect_in "TITLE=Notes on the Engine" "$tags"
    ;;
errors)
    cp "$fixtures/tagged.flac" "$work/e.flac"
    sum=$(md5sum <"$work/e.flac")
    echo "not audio" >"$work/text.flac"
    if out=$(cli show "$work/text.flac" 2>&1); then fail "a text file was accepted"; fi
    expect_in "not a FLAC file" "$out"
    expect_in "0x80004005" "$out"
    if out=$(cli show "$work/missing.flac" 2>&1); then fail "a missing file was accepted"; fi
    expect_in "file not found" "$out"
    if out=$(cli set "$work/e.flac" nosuchtag=1 2>&1); then fail "unknown name accepted"; fi
    expect_in 'unknown property name "nosuchtag"' "$out"
    if out=$(cli set "$work/e.flac" track=seven 2>&1); then fail "a word was accepted as a track number"; fi
    expect_in "is not a valid value for System.Music.TrackNumber" "$out"
    if out=$(cli set "$work/e.flac" duration=5 2>&1); then fail "a read-only property was accepted"; fi
    expect_in "cannot be changed" "$out"
    [ "$(md5sum <"$work/e.flac")" = "$sum" ] || fail "a refused edit changed the file"
    # One bad file does not stop the others, and the exit code tells.
    if out=$(cli show "$work/text.flac" "$work/e.flac" 2>&1); then fail "exit code hid a failure"; fi
    expect_in "System.Title: Notes on the Engine" "$out"
    ;;
*)
    fail "unknown case $case_name"
    ;;
esac
echo "PASS: $case_name"
