#!/usr/bin/env python3
"""Makes the benchmark corpus with the reference encoder and metaflac.

A few distinct audio clips are encoded once and copied; each copy then gets
its own tags (10 to 20 comments, several artists and genres, Unicode text)
and, for some files, a cover picture, all with metaflac. Everything random
comes from the seed, so one seed always gives the same corpus.

    make_corpus.py OUT_DIR [--seed N] [--files N] [--long-files N] [--long-mb N]

OUT_DIR/short/NNNN.flac   the short files (read and in-place commit)
OUT_DIR/long/NN.flac      the long files (rewrite commit)
OUT_DIR/large/00.flac     a short file with 64 MB of pictures after its comments
                          (in-place commit with large metadata)
OUT_DIR/manifest.tsv      file, cover bytes, file bytes
"""

import argparse
import array
import concurrent.futures
import math
import os
import random
import shutil
import subprocess
import sys

GENERATOR_VERSION = 2

CLIPS = [  # sample rate, bits per sample, channels
    (44100, 16, 2),
    (48000, 24, 2),
    (96000, 24, 2),
    (22050, 16, 1),
]
CLIP_SECONDS = 0.5

# Decimal megabytes: a metadata block holds at most 2^24 - 1 bytes, so a
# 16 MiB picture could not be stored at all.
COVER_SMALL = 300_000
COVER_LARGE = 4_000_000
COVER_HUGE = 16_000_000
# Pictures of the large-metadata file: 64 MB in all.
LARGE_METADATA_PICTURES = 4

ARTISTS = ["Ada Lovelace", "Dvořák Ensemble", "Ørjan Ås", "小澤征爾", "Мария Каллас", "Björk Guðmundsdóttir",
           "The Difference Engines", "Zoë Keating", "🎸 Emoji Band", "Ἀλέξανδρος Trio", "Nguyễn Thị Lan",
           "Sigur Rós", "Chœur de Chambre", "José González", "Anoushka Shankar"]
GENRES = ["Baroque", "Electronic", "民謡", "Música popular", "Jazz", "Post-rock", "Ambient", "Folk", "Klassik",
          "Chanson française", "Hip-Hop", "Ελληνική"]
WORDS = ["night", "river", "Morgenröte", "océan", "сердце", "光", "lumière", "Sonata", "Étude", "Nocturne",
         "Fjörður", "🎼", "δρόμος", "Reverie", "Heimat", "mañana", "سلام", "notes", "engine", "Ünïcødé"]


def words(rng, low, high):
    return " ".join(rng.choice(WORDS) for _ in range(rng.randint(low, high)))


def make_tags(rng, index):
    """10 to 20 comments for one file."""
    tags = []
    for artist in rng.sample(ARTISTS, rng.randint(1, 3)):
        tags.append(("ARTIST", artist))
    tags.append(("TITLE", words(rng, 1, 5).title()))
    tags.append(("ALBUM", words(rng, 1, 4).title()))
    for genre in rng.sample(GENRES, rng.randint(1, 2)):
        tags.append(("GENRE", genre))
    tags.append(("TRACKNUMBER", str(index % 20 + 1)))
    tags.append(("DATE", str(rng.randint(1950, 2025))))
    optional = [
        ("ALBUMARTIST", rng.choice(ARTISTS)),
        ("COMPOSER", rng.choice(ARTISTS)),
        ("CONDUCTOR", rng.choice(ARTISTS)),
        ("DISCNUMBER", f"{rng.randint(1, 2)}/2"),
        ("COMMENT", words(rng, 3, 12)),
        ("COPYRIGHT", f"© {rng.randint(1990, 2025)} {rng.choice(ARTISTS)}"),
        ("PUBLISHER", rng.choice(["Éditions 🎶", "Taylor", "Nordisk Musik", "東京レコード"])),
        ("RATING", str(rng.randint(0, 100))),
        ("ISRC", f"QB{rng.randint(0, 99):02d}{rng.randint(0, 99999):05d}"),
        ("LABEL", rng.choice(["Quiet Room", "Ljud & Bild", "Звук"])),
        ("REPLAYGAIN_TRACK_GAIN", f"{rng.uniform(-12, 3):.2f} dB"),
        ("REPLAYGAIN_TRACK_PEAK", f"{rng.uniform(0.3, 1):.6f}"),
        ("LYRICS", words(rng, 10, 40)),
        ("ENCODEDBY", "make_corpus.py"),
    ]
    rng.shuffle(optional)
    target = rng.randint(10, 20)
    while len(tags) < target and optional:
        tags.append(optional.pop())
    return tags


def pcm_clip(path, rate, bits, channels, seconds, rng):
    """A few partials with a decay and some noise, as signed little-endian PCM."""
    count = int(rate * seconds)
    peak = (1 << (bits - 1)) - 1
    partials = [(rng.uniform(110, 880), rng.uniform(0.1, 0.4)) for _ in range(4)]
    frames = array.array("i")
    for i in range(count):
        t = i / rate
        v = sum(a * math.sin(2 * math.pi * f * t) for f, a in partials) * math.exp(-t * 2)
        v = v * 0.6 + rng.uniform(-0.02, 0.02)
        s = int(max(-1.0, min(1.0, v)) * peak)
        for _ in range(channels):
            frames.append(s)
    width = bits // 8
    data = bytearray()
    for s in frames:
        data += (s & ((1 << bits) - 1)).to_bytes(width, "little")
    with open(path, "wb") as f:
        f.write(data)


def encode(raw, target, rate, bits, channels, *options):
    subprocess.run(["flac", "--silent", "--force", "--endian=little", "--sign=signed", f"--bps={bits}",
                    f"--channels={channels}", f"--sample-rate={rate}", *options, "-o", target, raw], check=True)


def write_cover(path, size, rng):
    """JPEG-framed random bytes: a picture block of the size a real cover has."""
    with open(path, "wb") as f:
        f.write(b"\xff\xd8\xff\xe0" + rng.randbytes(size - 6) + b"\xff\xd9")


def tag_file(target, tags, cover, work):
    tag_path = target + ".tags"
    with open(tag_path, "w", encoding="utf-8") as f:
        for name, value in tags:
            f.write(f"{name}={value}\n")
    command = ["metaflac", "--no-utf8-convert", "--remove-all-tags", f"--import-tags-from={tag_path}"]
    if cover:
        command.append(f"--import-picture-from=3|image/jpeg|Front cover|1200x1200x24|{cover}")
    command.append(target)
    subprocess.run(command, check=True)
    os.remove(tag_path)


def cover_kind(index, files):
    if index == files // 2:
        return "huge"
    if index % 500 == 250:
        return "large"
    if index % 10 == 3:
        return "small"
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--files", type=int, default=2000)
    parser.add_argument("--long-files", type=int, default=20)
    parser.add_argument("--long-mb", type=float, default=30)
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    args = parser.parse_args()

    stamp_text = f"version={GENERATOR_VERSION} seed={args.seed} files={args.files} " \
                 f"long={args.long_files}x{args.long_mb}\n"
    stamp = os.path.join(args.out, "complete")
    if os.path.exists(stamp) and open(stamp).read() == stamp_text:
        print(f"corpus: {args.out} (cached)", file=sys.stderr)
        return
    shutil.rmtree(args.out, ignore_errors=True)
    work = os.path.join(args.out, "work")
    for sub in ("short", "long", "large", "work"):
        os.makedirs(os.path.join(args.out, sub))

    rng = random.Random(args.seed)
    clips = []
    for n, (rate, bits, channels) in enumerate(CLIPS):
        raw = os.path.join(work, f"clip{n}.raw")
        pcm_clip(raw, rate, bits, channels, CLIP_SECONDS, rng)
        clip = os.path.join(work, f"clip{n}.flac")
        encode(raw, clip, rate, bits, channels)
        clips.append(clip)

    covers = {}
    for kind, size, variants in (("small", COVER_SMALL, 3), ("large", COVER_LARGE, 1), ("huge", COVER_HUGE, 1)):
        covers[kind] = []
        for v in range(variants):
            path = os.path.join(work, f"cover-{kind}{v}.jpg")
            write_cover(path, size, rng)
            covers[kind].append(path)

    jobs = []
    manifest = []
    for i in range(args.files):
        target = os.path.join(args.out, "short", f"{i:04d}.flac")
        shutil.copyfile(clips[i % len(clips)], target)
        kind = cover_kind(i, args.files)
        cover = covers[kind][i % len(covers[kind])] if kind else None
        jobs.append((target, make_tags(rng, i), cover))
        manifest.append((f"short/{i:04d}.flac", os.path.getsize(cover) if cover else 0))

    if args.long_files > 0:
        raw = os.path.join(work, "long.raw")
        with open(raw, "wb") as f:
            f.write(rng.randbytes(int(args.long_mb * 1024 * 1024) // 4 * 4))
        long_clip = os.path.join(work, "long.flac")
        encode(raw, long_clip, 44100, 16, 2, "-0")
        os.remove(raw)
        for i in range(args.long_files):
            target = os.path.join(args.out, "long", f"{i:02d}.flac")
            shutil.copyfile(long_clip, target)
            jobs.append((target, make_tags(rng, i), None))
            manifest.append((f"long/{i:02d}.flac", 0))

    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        for future in [pool.submit(tag_file, target, tags, cover, work) for target, tags, cover in jobs]:
            future.result()

    large = os.path.join(args.out, "large", "00.flac")
    shutil.copyfile(clips[0], large)
    tag_file(large, make_tags(rng, 0), None, work)
    for _ in range(LARGE_METADATA_PICTURES):
        subprocess.run(["metaflac", f"--import-picture-from=3|image/jpeg|Front cover|1200x1200x24|{covers['huge'][0]}",
                        large], check=True)
    manifest.append(("large/00.flac", LARGE_METADATA_PICTURES * os.path.getsize(covers["huge"][0])))

    with open(os.path.join(args.out, "manifest.tsv"), "w") as f:
        f.write("file\tcover_bytes\tfile_bytes\n")
        for name, cover_bytes in manifest:
            f.write(f"{name}\t{cover_bytes}\t{os.path.getsize(os.path.join(args.out, name))}\n")
    shutil.rmtree(work)
    with open(stamp, "w") as f:
        f.write(stamp_text)
    print(f"corpus: {args.out} ({args.files} short, {args.long_files} long files)", file=sys.stderr)


if __name__ == "__main__":
    main()
