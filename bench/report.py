#!/usr/bin/env python3
"""Runs the peers on the corpus and writes the benchmark's results.

    report.py BENCH_OUTPUT CORPUS_DIR --results RESULTS.md

BENCH_OUTPUT holds the NAME=VALUE lines of quillbrook-bench. The peers read
the same short files from the Linux side: metaflac over all files in one
process, and a Python loop with mutagen (timed inside Python). Prints the
tables and, as the last line, the ratios.
"""

import argparse
import datetime
import glob
import os
import platform
import statistics
import subprocess
import time

import mutagen
from mutagen.flac import FLAC


def read_bench_output(path):
    figures = {}
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            name, sep, value = line.strip().partition("=")
            if not sep:
                continue
            try:
                figures[name] = float(value)
            except ValueError:
                figures[name] = value
    return figures


def warm(files):
    for name in files:
        with open(name, "rb") as f:
            while f.read(1 << 20):
                pass


def time_metaflac(files, runs=3):
    """Per-file microseconds: one process over all files, best of `runs`."""
    command = ["metaflac", "--export-tags-to=-", "--show-sample-rate", "--show-total-samples", *files]
    totals = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        totals.append(time.perf_counter() - start)
    return statistics.median(totals) * 1e6 / len(files)


def time_mutagen(files):
    """Per-file microseconds of reading the same fields, after one warm pass."""
    def read(name):
        audio = FLAC(name)
        fields = (audio.info.sample_rate, audio.info.total_samples)
        tags = list(audio.tags.items()) if audio.tags is not None else []
        return fields, tags

    for name in files:
        read(name)
    times = []
    for name in files:
        start = time.perf_counter()
        read(name)
        times.append((time.perf_counter() - start) * 1e6)
    return statistics.median(times), statistics.mean(times)


def first_line(command):
    try:
        return subprocess.run(command, capture_output=True, text=True).stdout.splitlines()[0].strip()
    except (OSError, IndexError):
        return "unknown"


def machine():
    cpu = "unknown"
    try:
        with open("/proc/cpuinfo") as f:
            cpu = next(line.split(":", 1)[1].strip() for line in f if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    memory = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") / 2**30
    return [
        ("CPU", f"{cpu}, {os.cpu_count()} cores"),
        ("Memory", f"{memory:.0f} GiB"),
        ("System", f"{platform.system()} {platform.release()}"),
        ("Wine", first_line(["/usr/lib/wine/wine64", "--version"])),
        ("metaflac", first_line(["metaflac", "--version"])),
        ("mutagen", mutagen.version_string),
    ]


def fmt(value, digits=1):
    return f"{value:,.{digits}f}"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("bench_output")
    parser.add_argument("corpus")
    parser.add_argument("--results", required=True)
    args = parser.parse_args()

    b = read_bench_output(args.bench_output)
    files = sorted(glob.glob(os.path.join(args.corpus, "short", "*.flac")))
    warm(files)
    metaflac_us = time_metaflac(files)
    mutagen_median, mutagen_mean = time_mutagen(files)

    picture = b["memory_picture_bytes"]
    peak = b["memory_peak_delta"]
    ratios = {
        "read_vs_floor": b["read_us_median"] / b["floor_us_median"],
        # metaflac runs all files in one process: only its mean per file is
        # known, so ours is compared as a mean too.
        "read_vs_metaflac": b["read_us_mean"] / metaflac_us,
        "read_vs_mutagen": b["read_us_median"] / mutagen_median,
        "rewrite_vs_copy": b["rewrite_mbps_median"] / b["copy_mbps_median"],
        "inplace_written_vs_metadata": b["inplace_written_vs_metadata_median"],
        "peak_mem_vs_picture": peak / picture if picture else 0.0,
    }
    handler_rewrite_us = b["rewrite_us_median"] - b["rewrite_source_commit_us_median"]
    mem_limit = 2 * picture + 4 * 2**20

    def verdict(ok):
        return "met" if ok else "missed"

    main_table = [
        "| measurement (per file) | median | mean | against | ratio | target |",
        "|---|---:|---:|---|---:|---|",
        f"| read (µs) | {fmt(b['read_us_median'])} | {fmt(b['read_us_mean'])} | floor "
        f"{fmt(b['floor_us_median'])} / {fmt(b['floor_us_mean'])} | {ratios['read_vs_floor']:.2f} (medians) | "
        f"≤ 1.50: {verdict(ratios['read_vs_floor'] <= 1.5)} |",
        f"| read vs metaflac (µs) | | {fmt(b['read_us_mean'])} | metaflac {fmt(metaflac_us)} (total ÷ files) | "
        f"{ratios['read_vs_metaflac']:.2f} (means) | ≤ 0.50: {verdict(ratios['read_vs_metaflac'] <= 0.5)} |",
        f"| read vs mutagen (µs) | {fmt(b['read_us_median'])} | | mutagen {fmt(mutagen_median)} / "
        f"{fmt(mutagen_mean)} | {ratios['read_vs_mutagen']:.2f} (medians) | "
        f"≤ 0.50: {verdict(ratios['read_vs_mutagen'] <= 0.5)} |",
        f"| rewrite commit (MB/s) | {fmt(b['rewrite_mbps_median'])} | {fmt(b['rewrite_mbps_mean'])} | copy in 1 MB "
        f"chunks {fmt(b['copy_mbps_median'])} | {ratios['rewrite_vs_copy']:.2f} | "
        f"≥ 0.80: {verdict(ratios['rewrite_vs_copy'] >= 0.8)} |",
        f"| in-place commit: bytes written ÷ metadata length | {b['inplace_written_vs_metadata_median']:.2f} | "
        f"{b['inplace_written_vs_metadata_mean']:.2f} | min {b['inplace_written_vs_metadata_min']:.2f}, max "
        f"{b['inplace_written_vs_metadata_max']:.2f} | {ratios['inplace_written_vs_metadata']:.2f} | = 1.00: "
        f"{verdict(abs(ratios['inplace_written_vs_metadata'] - 1) < 0.005)} |",
        f"| peak memory reading the {picture / 1e6:.0f} MB-cover file (MB) | {peak / 1e6:.2f} | | picture "
        f"{picture / 1e6:.2f} | {ratios['peak_mem_vs_picture']:.2f} | ≤ 2 × picture + 4 MiB "
        f"({mem_limit / 1e6:.1f} MB): {verdict(0 < peak <= mem_limit)} |",
    ]

    detail_table = [
        "| figure (median per file) | value |",
        "|---|---:|",
        f"| read: open the stream (SHCreateStreamOnFileEx) | {fmt(b['read_open_us_median'])} µs |",
        f"| read: create the handler ({b['class_source']}) | {fmt(b['read_create_us_median'])} µs |",
        f"| read: Initialize | {fmt(b['read_initialize_us_median'])} µs |",
        f"| read: Initialize over the metadata in memory (no file calls) | "
        f"{fmt(b['read_initialize_memory_us_median'])} µs |",
        f"| read: GetCount, {b['read_properties_median']:.0f} × GetAt + GetValue | "
        f"{fmt(b['read_values_us_median'])} µs |",
        f"| read: release (handler, stream, file handle) | {fmt(b['read_release_us_median'])} µs |",
        f"| read: stream calls | {b['read_reads_median']:.0f} reads ({fmt(b['read_read_us_median'])} µs), "
        f"{b['read_seeks_median']:.0f} seeks ({fmt(b['read_seek_us_median'])} µs) |",
        f"| read: bytes read / floor bytes | {b['read_bytes_read_median']:.0f} / {b['floor_bytes_median']:.0f} |",
        f"| floor: open, one read, release | {fmt(b['floor_us_median'])} µs |",
        f"| in-place commit: time of Commit | {fmt(b['inplace_us_median'])} µs |",
        f"| in-place commit: stream calls | {b['inplace_writes_median']:.0f} writes, "
        f"{b['inplace_seeks_median']:.0f} seek, {b['inplace_reads_median']:.0f} reads |",
        f"| rewrite commit: file size | {b['rewrite_file_bytes_median'] / 1e6:.1f} MB |",
        f"| rewrite commit: time of Commit | {fmt(b['rewrite_us_median'] / 1000)} ms |",
        f"| rewrite commit: source stream | {b['rewrite_source_reads_median']:.0f} reads "
        f"({fmt(b['rewrite_source_read_us_median'] / 1000)} ms), {b['rewrite_source_seeks_median']:.0f} seeks "
        f"({fmt(b['rewrite_source_seek_us_median'] / 1000)} ms) |",
        f"| rewrite commit: destination stream | {b['rewrite_destination_writes_median']:.0f} writes "
        f"({fmt(b['rewrite_destination_write_us_median'] / 1000)} ms) |",
        f"| rewrite commit: the stream's Commit (copy replaces the file) | "
        f"{fmt(b['rewrite_source_commit_us_median'] / 1000)} ms |",
        f"| rewrite commit without the replacement | {fmt(handler_rewrite_us / 1000)} ms, "
        f"{b['rewrite_file_bytes_median'] / handler_rewrite_us:.1f} MB/s |",
        f"| copy in 1 MB chunks | {fmt(b['copy_us_median'] / 1000)} ms |",
    ]

    last_line = " ".join(f"{name}={value:.2f}" for name, value in ratios.items())
    now = datetime.datetime.now().astimezone()
    lines = [
        "# Benchmark results",
        "",
        f"Written by `scripts/bench` on {now:%Y-%m-%d %H:%M %Z}. Wall time under Wine 8 (QueryPerformanceCounter "
        "inside the process) for quillbrook.dll; wall time on Linux for the peers. Warm file cache throughout.",
        "",
        "## Machine",
        "",
        *[f"- {name}: {value}" for name, value in machine()],
        "",
        "## Corpus",
        "",
        f"- {b['files']:.0f} short files, {b['long_files']:.0f} files of "
        f"{b['rewrite_file_bytes_median'] / 1e6:.1f} MB for rewrites; `{os.path.abspath(args.corpus)}`",
        f"- handler created through {b['class_source']}",
        "",
        "## Figures",
        "",
        *main_table,
        "",
        "## Where the time goes",
        "",
        *detail_table,
        "",
        "## Ratios",
        "",
        "```",
        last_line,
        "```",
        "",
    ]
    with open(args.results, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))

    print("\n".join(main_table))
    print()
    print("\n".join(detail_table))
    print(f"results: {args.results}")
    print(last_line)


if __name__ == "__main__":
    main()
