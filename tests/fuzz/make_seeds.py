#!/usr/bin/env python3
"""Seeds of the fuzz targets, from the FLAC files the tests build.

    make_seeds.py FIXTURES REGRESSIONS OUT

Every .flac file of FIXTURES (tests/make_fixtures.sh) gives, cut to its
metadata and the first 1 KB of its audio (the targets parse metadata; the
audio only makes inputs longer):
- OUT/file/NAME: the file (handler read, thumbnail);
- OUT/commit/NAME-C: the file behind two bytes that choose the stream and
  the edits (see handler_commit_fuzzer.cpp), for a few choices;
- OUT/vorbis/NAME: the body of its VORBIS_COMMENT block, if it has one.
The regression inputs (REGRESSIONS/KIND/*) are added to OUT/KIND as they are.
"""
import os
import shutil
import sys

AUDIO_KEPT = 1024
# Choices of stream and edits: with and without destinations, short and
# long texts, different rows.
COMMIT_CHOICES = [bytes([0x00, 0x00]), bytes([0x03, 0x24]), bytes([0x15, 0x09]), bytes([0x7F, 0x3F])]


def blocks(data):
    """The offset of the first block (after an ID3v2 tag, if any) and the
    blocks as (type, offset of the body, length); None if it is no FLAC."""
    start = 0
    if data[:3] == b"ID3" and len(data) >= 10:
        size = 0
        for b in data[6:10]:
            size = size << 7 | (b & 0x7F)
        start = 10 + size
    if data[start:start + 4] != b"fLaC":
        return None
    found = []
    pos = start + 4
    while pos + 4 <= len(data):
        header = data[pos]
        length = int.from_bytes(data[pos + 1:pos + 4], "big")
        found.append((header & 0x7F, pos + 4, length))
        pos += 4 + length
        if header & 0x80:
            break
    return pos, found


def main():
    fixtures, regressions, out = sys.argv[1:4]
    if os.path.isdir(out):
        shutil.rmtree(out)
    for kind in ("file", "commit", "vorbis"):
        os.makedirs(os.path.join(out, kind))
    for name in sorted(os.listdir(fixtures)):
        if not name.endswith(".flac"):
            continue
        with open(os.path.join(fixtures, name), "rb") as f:
            data = f.read()
        parsed = blocks(data)
        if parsed is None:
            continue
        end, found = parsed
        cut = data[:end + AUDIO_KEPT]
        stem = name[:-5]
        with open(os.path.join(out, "file", stem), "wb") as f:
            f.write(cut)
        for i, choice in enumerate(COMMIT_CHOICES):
            with open(os.path.join(out, "commit", f"{stem}-{i}"), "wb") as f:
                f.write(choice + cut)
        for kind, offset, length in found:
            if kind == 4:
                with open(os.path.join(out, "vorbis", stem), "wb") as f:
                    f.write(data[offset:offset + length])
    for kind in ("file", "commit", "vorbis"):
        folder = os.path.join(regressions, kind)
        if os.path.isdir(folder):
            for name in sorted(os.listdir(folder)):
                shutil.copy(os.path.join(folder, name), os.path.join(out, kind, "regression-" + name))
    for kind in ("file", "commit", "vorbis"):
        print(f"{kind}: {len(os.listdir(os.path.join(out, kind)))} seeds")


if __name__ == "__main__":
    main()
