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
    # Options also after the command, before the file names.
    json=$(cli show --json "$fixtures/tagged.flac" "$fixtures/unicode.flac")
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
    # The rewritten file keeps its attributes, and a file of the user's
    # beside it (here of the name the copy once had) is not touched.
    echo "the user's own file" >"$work/m.flac.saving"
    # A copy a killed save left goes; a file that only looks like one stays.
    echo "a killed save's copy" >"$work/m.flac.0badc0de.qbsave"
    echo "the user's own file" >"$work/m.flac.notours.qbsave"
    attributes() { "$root/scripts/wine-exec" cmd /c attrib "Z:$work/m.flac" | cut -c1-12; }
    "$root/scripts/wine-exec" cmd /c attrib +h "Z:$work/m.flac" >/dev/null
    attributes_before=$(attributes)
    [[ $attributes_before == *H* ]] || fail "the hidden attribute could not be set: $attributes_before"
    cli set "$work/m.flac" "title=A title that needs room" "genre=Ambient; Drone" >/dev/null
    tags=$(tags_of "$work/m.flac")
    expect_in "TITLE=A title that needs room" "$tags"
    expect_in "GENRE=Drone" "$tags"
    flac -t -s "$work/m.flac" || fail "the rewritten file does not decode"
    [ "$(audio_md5 "$work/m.flac")" = "$before" ] || fail "audio changed"
    [ "$(attributes)" = "$attributes_before" ] || fail "attributes '$attributes_before' became '$(attributes)'"
    [ "$(cat "$work/m.flac.saving")" = "the user's own file" ] || fail "the user's m.flac.saving was destroyed"
    [ "$(ls -A "$work" | tr '\n' ' ')" = "m.flac m.flac.notours.qbsave m.flac.saving " ] ||
        fail "left behind or removed: $(ls -A "$work")"
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
    # A save that fails says what the file reads as afterwards: STREAMINFO's
    # header claims 30 bytes, its fields take 34, and the handler refuses to
    # write such metadata back.
    python3 -c "import sys; d = bytearray(open(sys.argv[1], 'rb').read()); d[5:8] = (30).to_bytes(3, 'big')
open(sys.argv[2], 'wb').write(d)" "$work/e.flac" "$work/d.flac"
    if out=$(cli set "$work/d.flac" title=x 2>&1); then fail "a save of bad metadata reported success"; fi
    expect_in "the changes could not be written; the file reads as before" "$out"
    # One bad file does not stop the others, and the exit code tells.
    if out=$(cli show "$work/text.flac" "$work/e.flac" 2>&1); then fail "exit code hid a failure"; fi
    expect_in "System.Title: Notes on the Engine" "$out"
    ;;
thumbnail)
    # cover.png's quadrants: red, green / blue, white; the stand-in photo
    # provider (registered in the run's prefix) scales it to the size asked.
    pixel() { /usr/bin/convert "$1" -format "%[hex:p{$2,$3}]" info: | cut -c1-6; }
    cli thumbnail "$fixtures/cover.flac" "$work/cover.png" --size 64 >/dev/null
    [ "$(/usr/bin/identify -format '%m %w %h' "$work/cover.png")" = "PNG 64 48" ] ||
        fail "cover.png: $(/usr/bin/identify "$work/cover.png")"
    [ "$(pixel "$work/cover.png" 16 12)" = FF0000 ] || fail "top left is $(pixel "$work/cover.png" 16 12)"
    [ "$(pixel "$work/cover.png" 48 12)" = 00FF00 ] || fail "top right is $(pixel "$work/cover.png" 48 12)"
    [ "$(pixel "$work/cover.png" 16 36)" = 0000FF ] || fail "bottom left is $(pixel "$work/cover.png" 16 36)"
    [ "$(pixel "$work/cover.png" 48 36)" = FFFFFF ] || fail "bottom right is $(pixel "$work/cover.png" 48 36)"
    # The first picture, whatever its type: the blue back cover.
    cli thumbnail "$fixtures/two-covers.flac" "$work/two.png" --size 20 >/dev/null
    [ "$(/usr/bin/identify -format '%w %h' "$work/two.png")" = "20 20" ] || fail "two.png is not 20x20"
    [ "$(pixel "$work/two.png" 10 10)" = 0000FF ] || fail "two.png shows $(pixel "$work/two.png" 10 10)"
    if out=$(cli thumbnail "$fixtures/plain.flac" "$work/none.png" 2>&1); then fail "no picture, yet success"; fi
    expect_in "no thumbnail" "$out"
    [ ! -e "$work/none.png" ] || fail "a PNG was written for a file without a picture"
    # A picture that no installed decoder reads: the imaging component's
    # code, named, and no word of the file not being FLAC.
    cp "$fixtures/plain.flac" "$work/unreadable.flac"
    printf 'not a picture of any format' >"$work/unreadable.bin"
    metaflac --import-picture-from="3|image/png||16x16x24|$work/unreadable.bin" "$work/unreadable.flac"
    if out=$(cli thumbnail "$work/unreadable.flac" "$work/unreadable.png" 2>&1); then fail "an unreadable picture shown"; fi
    expect_in "its picture cannot be read (0x88982F50: no decoder for the picture's format)" "$out"
    ! grep -q "not a FLAC file" <<<"$out" || fail "a FLAC file with an unreadable picture called not FLAC: $out"
    if out=$(cli thumbnail "$fixtures/cover.flac" "$work/big.png" --size 0 2>&1); then fail "--size 0 accepted"; fi
    expect_in "--size" "$out"
    ;;
readonly)
    # Refused like Windows refuses it, even where the process could write
    # the file anyway (root under Wine).
    cp "$fixtures/tagged.flac" "$work/r.flac"
    "$root/scripts/wine-exec" cmd /c attrib +r "Z:$work/r.flac" >/dev/null
    sum=$(md5sum <"$work/r.flac")
    if out=$(cli set "$work/r.flac" title=Changed 2>&1); then fail "a read-only file was changed"; fi
    expect_in "read-only file" "$out"
    expect_in "0x80070005" "$out"
    if out=$(cli clear "$work/r.flac" comment 2>&1); then fail "a read-only file was cleared"; fi
    [ "$(md5sum <"$work/r.flac")" = "$sum" ] || fail "the read-only file changed"
    [ "$(ls -A "$work")" = r.flac ] || fail "left behind: $(ls -A "$work")"
    expect_in "TITLE=Notes on the Engine" "$(tags_of "$work/r.flac")"
    ;;
several)
    # More than three files: a progress line for each on stderr; a bad file
    # in the middle does not stop the rest, and the exit code tells.
    for n in 1 2 4 5; do cp "$fixtures/tagged.flac" "$work/f$n.flac"; done
    echo "not audio" >"$work/f3.flac"
    # Both streams into one file: each file's result comes right after its
    # progress line.
    set +e
    cli show "$work"/f{1,2,3,4,5}.flac >"$work/out" 2>&1
    status=$?
    set -e
    [ "$status" -ne 0 ] || fail "exit code 0 despite a bad file"
    for n in 1 2 3 4 5; do expect_in "[$n/5] $work/f$n.flac" "$(cat "$work/out")"; done
    expect_in "f3.flac: not a FLAC file" "$(cat "$work/out")"
    [ "$(grep -c 'System.Title: Notes on the Engine' "$work/out")" = 4 ] || fail "not every good file shown"
    order=$(tr -d '\r' <"$work/out" | sed -n "s|^\(\[[0-9]/5\]\) .*|\1|p; s|^$work/\(f[0-9]\)\.flac\$|\1|p" | tr '\n' ' ')
    [ "$order" = "[1/5] f1 [2/5] f2 [3/5] [4/5] f4 [5/5] f5 " ] || fail "results out of order: $order"
    # Three files or fewer: no progress lines; all good gives exit code 0.
    cli show "$work"/f{1,2,4}.flac >/dev/null 2>"$work/err" || fail "three good files failed"
    ! grep -q '^\[' "$work/err" || fail "progress shown for three files"
    ;;
register)
    # In a prefix of its own, so that the tests running beside this one keep
    # their registry.
    export WINEPREFIX=$work/prefix
    "$root/scripts/wine-prefix" "$WINEPREFIX"
    trap '"$root/scripts/wine-prefix" --stop "$WINEPREFIX"' EXIT
    wine() { "$root/scripts/wine-exec" "$@"; }
    # Without --dll the program finds the classes by CLSID, and registers the
    # quillbrook.dll beside it.
    host() { wine "$build/quillbrook-cli.exe" "$@"; }
    clsid=$(grep -B1 ' CLSID_PropertyHandler =' "$root/resources/identifiers.h" | grep -o '{[0-9A-F-]*}')
    machine="HKLM\\Software\\Classes\\CLSID\\$clsid\\InprocServer32"
    user="HKCU\\Software\\Classes\\CLSID\\$clsid\\InprocServer32"
    if out=$(host show "$fixtures/tagged.flac" 2>&1); then fail "unregistered classes were found"; fi
    expect_in "the property handler is not available" "$out"
    # Per machine, the module beside the program.
    expect_in "registered" "$(host register)"
    expect_in "quillbrook.dll" "$(wine reg query "$machine" /ve)"
    expect_in "System.Title: Notes on the Engine" "$(host show "$fixtures/tagged.flac")"
    # The thumbnail class by CLSID too, with the stand-in photo provider.
    wine regsvr32 /s "Z:$build/tools/photo_thumbnail_standin/photo_thumbnail_standin.dll"
    host thumbnail "$fixtures/cover.flac" "$work/registered.png" --size 32 >/dev/null
    [ "$(/usr/bin/identify -format '%wx%h' "$work/registered.png")" = "32x24" ] || fail "no thumbnail through the registered classes"
    expect_in "unregistered" "$(host unregister)"
    if wine reg query "$machine" >/dev/null 2>&1; then fail "the class key survived unregistration"; fi
    if host show "$fixtures/tagged.flac" >/dev/null 2>&1; then fail "the class is still found"; fi
    # Per user, a module given by path.
    cp "$build/quillbrook.dll" "$work/moved.dll"
    expect_in "for the current user" "$(host --dll "$work/moved.dll" register --user)"
    expect_in "moved.dll" "$(wine reg query "$user" /ve 2>&1)"
    if wine reg query "$machine" >/dev/null 2>&1; then fail "a per-user registration wrote to HKLM"; fi
    # (Wine's COM looks in the machine's classes only: no lookup by CLSID here.)
    host --dll "$work/moved.dll" unregister --user >/dev/null
    if wine reg query "$user" >/dev/null 2>&1; then fail "the per-user class key survived"; fi
    # A module that is not there.
    if out=$(host --dll "$work/nowhere.dll" register 2>&1); then fail "a missing module registered"; fi
    expect_in "cannot load the module" "$out"
    ;;
binding)
    # bind, unbind and status, and what the program refuses, in a prefix of
    # its own.
    export WINEPREFIX=$work/prefix
    "$root/scripts/wine-prefix" "$WINEPREFIX"
    trap '"$root/scripts/wine-prefix" --stop "$WINEPREFIX"' EXIT
    wine() { "$root/scripts/wine-exec" "$@"; }
    host() { wine "$build/quillbrook-cli.exe" "$@"; }
    refused() { # expected-text args...: exit code 2 or 1, the text on stderr
        local text=$1 out
        shift
        if out=$(host "$@" 2>&1 >/dev/null); then fail "quillbrook-cli $* was accepted"; fi
        expect_in "$text" "$out"
    }
    # Help on stdout, exit code 0; the version.
    for option in --help -h; do
        out=$(host $option 2>/dev/null) || fail "$option failed"
        expect_in "status [--user] [--x86]" "$out"
    done
    [[ $(host --version) =~ ^quillbrook-cli\ [0-9]+\.[0-9]+\.[0-9]+\.[0-9]+ ]] || fail "--version: $(host --version)"
    # Options a command does not take.
    refused "show takes no option --user" show --user "$fixtures/tagged.flac"
    refused "bind takes no option --dll" bind --dll "$build/quillbrook.dll"
    # Per-user classes are not kept apart by view.
    refused "--user and --x86 cannot go together" unbind --user --x86

    thumbnail_slot='HKLM\Software\Classes\.flac\ShellEx\{E357FCCD-A995-4576-B01F-234630154E96}'
    wine reg add "$thumbnail_slot" /ve /d '{66666666-7777-8888-9999-AAAAAAAAAAAA}' /f >/dev/null
    slot() { wine reg query "$thumbnail_slot" /ve | tr -d '\r' | sed -n 's/.*REG_SZ *//p'; }
    # bind before the classes are registered, or with their module gone:
    # refused, .flac left as it was.
    refused "property handler is not registered" bind
    cp "$build/quillbrook.dll" "$work/gone.dll"
    host --dll "$work/gone.dll" register >/dev/null
    rm "$work/gone.dll"
    refused "gone.dll, does not exist" bind
    [ "$(slot)" = '{66666666-7777-8888-9999-AAAAAAAAAAAA}' ] || fail "a refused bind changed .flac: $(slot)"
    # The x64 module registered for 32-bit programs is refused too.
    host --dll "$build/quillbrook.dll" register >/dev/null
    wine reg copy 'HKLM\Software\Classes\CLSID' 'HKLM\Software\Wow6432Node\Classes\CLSID' /s /f >/dev/null
    refused "is x64, not x86" bind --x86
    if out=$(host status); then fail "status said bound before bind: $out"; fi
    expect_in ".flac thumbnail provider: a class that is not registered, {66666666-7777-8888-9999-AAAAAAAAAAAA}" "$out"
    expect_in "saved binding: no" "$out"
    out=$(host bind) || fail "bind failed: $out"
    out=$(host status) || fail "status after bind: $out"
    expect_in "thumbnail provider class: registered, Z:${build//\//\\}\\quillbrook.dll (x64)" "$out"
    expect_in ".flac property handler: quillbrook" "$out"
    expect_in "saved binding: yes" "$out"
    # Another program takes the thumbnail slot; then Windows' own class.
    other='HKLM\Software\Classes\CLSID\{AAAAAAAA-0000-0000-0000-000000000001}'
    wine reg add "$other" /ve /d 'Other Thumbnailer' /f >/dev/null
    wine reg add "$other\InprocServer32" /ve /d 'C:\Program Files\Other\other.dll' /f >/dev/null
    wine reg add "$thumbnail_slot" /ve /d '{AAAAAAAA-0000-0000-0000-000000000001}' /f >/dev/null
    if out=$(host status); then fail "status said bound with another program's thumbnail provider"; fi
    expect_in ".flac thumbnail provider: another program's Other Thumbnailer {AAAAAAAA-0000-0000-0000-000000000001}" "$out"
    wine reg add "$other\InprocServer32" /ve /d 'C:\windows\system32\windowscodecs.dll' /f >/dev/null
    if out=$(host status); then fail "status said bound with Windows' thumbnail provider"; fi
    expect_in ".flac thumbnail provider: Windows' own Other Thumbnailer" "$out"
    # bind puts it right; with the module gone, status tells.
    host bind >/dev/null
    host status >/dev/null || fail "status after a second bind"
    thumbnail_class=$(grep -B1 ' CLSID_ThumbnailProvider =' "$root/resources/identifiers.h" | grep -o '{[0-9A-F-]*}')
    # What the current user gets: the user's own thumbnail provider, or the
    # user's own registration of quillbrook's class, takes precedence over
    # the machine's; so does a Details-pane list gone. Each says its fix.
    user_slot='HKCU\Software\Classes\.flac\ShellEx\{E357FCCD-A995-4576-B01F-234630154E96}'
    wine reg add "$user_slot" /ve /d '{AAAAAAAA-0000-0000-0000-000000000001}' /f >/dev/null
    if out=$(host status); then fail "status said bound with the user's own thumbnail provider: $out"; fi
    expect_in "for the current user, .flac thumbnail provider: Windows' own Other Thumbnailer" "$out"
    expect_in '"quillbrook-cli bind --user" as that user' "$out"
    # Windows shares HKCU's .flac keys between the views: the user's own
    # thumbnail provider governs 32-bit programs too.
    out=$(host status --x86) || true
    expect_in "for the current user, .flac thumbnail provider: " "$out"
    expect_in '"quillbrook-cli bind --user" as that user' "$out"
    if out=$(host status --user); then fail "status --user said bound with the user's own thumbnail provider"; fi
    expect_in '"quillbrook-cli bind --user" as that user' "$out"
    ! grep -qF '"quillbrook-cli bind" as' <<<"$out" || fail "status --user suggests bind for the user's own binding: $out"
    wine reg delete 'HKCU\Software\Classes\.flac' /f >/dev/null
    wine reg add "HKCU\\Software\\Classes\\CLSID\\$thumbnail_class\\InprocServer32" /ve /d 'C:\old\quillbrook.dll' /f >/dev/null
    if out=$(host status); then fail "status said bound with the user's own registration elsewhere: $out"; fi
    expect_in "thumbnail provider class is registered at C:\old\quillbrook.dll" "$out"
    expect_in '"quillbrook-cli unregister --user" as that user' "$out"
    wine reg delete "HKCU\\Software\\Classes\\CLSID\\$thumbnail_class" /f >/dev/null
    wine reg delete 'HKLM\Software\Classes\SystemFileAssociations\.flac' /v FullDetails /f >/dev/null
    if out=$(host status); then fail "status said bound without FullDetails: $out"; fi
    expect_in ".flac Details-pane lists: FullDetails missing" "$out"
    expect_in '"quillbrook-cli bind" as an administrator' "$out"
    host bind >/dev/null
    host status >/dev/null || fail "status after bind put FullDetails back"
    wine reg add "HKLM\\Software\\Classes\\CLSID\\$thumbnail_class\\InprocServer32" /ve /d 'C:\nowhere\quillbrook.dll' \
        /f >/dev/null
    if out=$(host status); then fail "status said bound with the module gone"; fi
    expect_in "its module C:\nowhere\quillbrook.dll does not exist" "$out"
    # A DLL planted beside the program is not loaded: a propsys.dll that
    # exports nothing the program needs would stop it from starting.
    mkdir -p "$work/planted"
    cp "$build/quillbrook-cli.exe" "$work/planted/"
    cp "$build/tools/photo_thumbnail_standin/photo_thumbnail_standin.dll" "$work/planted/propsys.dll"
    out=$(wine "$work/planted/quillbrook-cli.exe" status 2>&1) || true
    expect_in "saved binding: yes" "$out"
    out=$(wine "$work/planted/quillbrook-cli.exe" --dll "$build/quillbrook.dll" show "$fixtures/tagged.flac" 2>&1) ||
        fail "show beside a planted propsys.dll: $out"
    expect_in "System.Title: Notes on the Engine" "$out"
    # A damaged record (its Original gone) does not stop unbind, which says so;
    # nor does a record with a subkey, which goes with its record.
    wine reg delete 'HKLM\Software\Quillbrook\SavedBinding\ThumbnailProvider' /v Original /f >/dev/null
    wine reg add 'HKLM\Software\Quillbrook\SavedBinding\PropertyHandler\Left by hand\Deeper' /f >/dev/null
    out=$(host unbind) || fail "unbind with a damaged record and a record with a subkey failed: $out"
    expect_in "the saved original of ThumbnailProvider cannot be read" "$out"
    if wine reg query 'HKLM\Software\Quillbrook' >/dev/null 2>&1; then
        fail "unbind left the product's key: $(wine reg query 'HKLM\Software\Quillbrook' /s)"
    fi
    ;;
*)
    fail "unknown case $case_name"
    ;;
esac
echo "PASS: $case_name"
