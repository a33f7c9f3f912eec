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


def needed_bytes(name):
    """What a metadata read must read: "fLaC", every block header, every
    block body but padding's (as the benchmark program counts it)."""
    needed = 4
    with open(name, "rb") as f:
        if f.read(4) != b"fLaC":
            raise ValueError(f"not a FLAC file: {name}")
        last = False
        while not last:
            header = f.read(4)
            if len(header) < 4:
                raise ValueError(f"truncated metadata: {name}")
            last = bool(header[0] & 0x80)
            length = int.from_bytes(header[1:4], "big")
            needed += 4 + (0 if header[0] & 0x7F == 1 else length)
            f.seek(length, os.SEEK_CUR)
    return needed


def time_native_floor(files):
    """Per-file microseconds of the native floor: open, one read of the bytes
    a metadata read needs, the size (a seek to the end), close; after one warm
    pass. Returns the median and the mean."""
    sizes = [(name, needed_bytes(name)) for name in files]

    def floor(name, needed):
        fd = os.open(name, os.O_RDONLY)
        try:
            data = os.read(fd, needed)
            os.lseek(fd, 0, os.SEEK_END)
        finally:
            os.close(fd)
        return len(data)

    for name, needed in sizes:
        floor(name, needed)
    times = []
    for name, needed in sizes:
        start = time.perf_counter()
        floor(name, needed)
        times.append((time.perf_counter() - start) * 1e6)
    return statistics.median(times), statistics.mean(times)


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


def replacement(b):
    """How the safe-save stream's Commit put the copy in the file's place, as
    the bench saw it on a scratch file: a short phrase for the tables and a
    sentence for the method."""
    if "replace_holds_copy" not in b:
        return "put it in the file's place", "puts it in the file's place (not looked at in this run)"
    if not b["replace_holds_copy"]:
        return "fail to put it in the file's place", "did not leave the copy's bytes under the file's name"
    if b["replace_new_file"] and b["replace_copy_name_gone"]:
        short = "rename it over the file"
        seen = ("renames it over the file: afterwards the file's name leads to another file (another file ID) that "
                "holds the copy's bytes, and nothing is left under the copy's own name")
    elif b["replace_new_file"]:
        short = "put a new file in the file's place"
        seen = ("puts a new file (another file ID) holding the copy's bytes under the file's name, and leaves a file "
                "under the copy's own name")
    else:
        short = "write it into the file"
        seen = "writes the copy's bytes into the original file (the same file ID)"
    if b["replace_stream_follows"]:
        return short + ", reopen", seen + "; the stream then reads the new file"
    return short, seen + "; the stream does not read the new file afterwards"


MIB = 2**20
# Flat: less than one allocation granule (64 KiB) over the whole second
# pass; a leak of one small block per read would show 2,000 of them.
FLAT_LIMIT = 64 * 1024


def memory_rows(b):
    """The targets and figure rows of the memory of one large-picture read, one
    thumbnail Initialize of it, and of the corpus read through one class
    object."""
    targets, figures, ratios = [], [], {}
    def peak_rows(prefix, factor, subject, detail, who, none):
        """One large-picture operation's peak: its target, figure row and ratio."""
        picture = b[prefix + "_picture_bytes"]
        peak = b[prefix + "_peak_delta"]
        limit = factor * picture + MIB
        why = (f"{who} is {peak / 1e6:.2f} MB above what the process held, over the limit of "
               f"{limit / 1e6:.1f} MB" if peak > 0 else none)
        targets.append((subject(picture) + detail, f"{peak / 1e6:.2f} MB",
                        f"≤ {factor} × picture + 1 MiB = {limit / 1e6:.1f} MB", 0 < peak <= limit, why))
        figures.append(f"| {subject(picture)} (MB) | {peak / 1e6:.2f} | | picture "
                       f"{picture / 1e6:.2f} | {peak / picture if picture else 0:.2f} |")
        return peak / picture if picture else 0.0

    ratios["peak_mem_vs_picture"] = peak_rows(
        "memory", 1.1, lambda p: f"peak memory reading the {p / 1e6:.0f} MB-cover file", ", buffers included",
        "the read's peak", "the memory read set no new peak: no figure")
    if "thumbnail_memory_peak_delta" in b:
        ratios["thumbnail_peak_mem_vs_picture"] = peak_rows(
            "thumbnail_memory", 2.1,
            lambda p: f"peak memory of thumbnail provider Initialize on the {p / 1e6:.0f} MB-cover file",
            " (the chain and the memory stream's copy)",
            "the thumbnail provider's peak", "the thumbnail Initialize set no new peak: no figure")
    if "corpus_memory_growth" in b:
        growth = b["corpus_memory_growth"]
        highest = b["corpus_memory_growth_max"]
        files = b["corpus_memory_files"]
        why = (f"private bytes grew by {growth / 1024:,.0f} KiB over the second {files:,.0f} reads "
               f"(at most {highest / 1024:,.0f} KiB above the level after the first pass)")
        targets.append((f"private bytes reading the {files:,.0f} files again through one class object, after a "
                        "warm-up pass", f"{growth / 1024:+,.0f} KiB", f"flat: ≤ {FLAT_LIMIT // 1024} KiB",
                        highest <= FLAT_LIMIT, why))
        figures.append(f"| private bytes over a second pass of {files:,.0f} reads through one class object (KiB) | "
                       f"{growth / 1024:+,.1f} | | after the warm-up pass {b['corpus_memory_after_warmup'] / MIB:,.1f} "
                       f"MiB; at most {highest / 1024:+,.1f} KiB | |")
        ratios["corpus_private_growth_kib"] = growth / 1024
    return targets, figures, ratios


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


def verdict(ok):
    return "met" if ok else "missed"


def memory_method(b):
    lines = []
    if "thumbnail_memory_method" in b:
        lines.append(
            f"- Thumbnail memory: {b['thumbnail_memory_method']} bytes; the peak during one thumbnail provider "
            "Initialize of the same file, after the read above (under Wine the peak is a high-water mark, which "
            "only a higher peak moves). The photo provider's stand-in keeps the memory stream it is handed but no "
            "copy of its bytes, so the figure is the provider's own: the chain and the memory stream's copy.")
    if "corpus_memory_method" in b:
        method = ("the process's private bytes" if b["corpus_memory_method"] == "private" else
                  "committed private memory (the committed private regions of the address space, summed; Wine "
                  "keeps no private-bytes count)")
        lines.append(
            f"- Corpus memory: {method}, after a first pass over the {b['corpus_memory_files']:,.0f} short files "
            "(each read as above, through the one kept class object) and during a second one, looked at every "
            "250 files.")
    return lines


def large_metadata_rows(b):
    """The in-place save of the file with 64 MB of pictures after its comments: its target rows, its figure row
    and the ratio of its peak memory to the metadata (the chain's size)."""
    if "large_metadata_inplace_written" not in b:
        return [], [], {}
    written = b["large_metadata_inplace_written"]
    read = b.get("large_metadata_inplace_read", 0)
    span = b["large_metadata_changed_span"]
    metadata = b["large_metadata_bytes"]
    peak = b["large_metadata_peak_memory"]
    metadata_mb = metadata / 1e6
    subject = f"in-place Commit of a title, {metadata_mb:.0f} MB of pictures after the comments"
    why = f"{written:.0f} bytes written for a changed span of {span:.0f} bytes in {metadata_mb:.1f} MB of metadata"
    targets = [
        (f"{subject}: bytes written", f"{written / 1024:.1f} KB", "≤ 64 KB", 0 < written <= 64 * 1024, why),
        (f"{subject}: bytes read", f"{read / 1024:.1f} KB", f"≤ changed span + 64 KB = {(span + 64 * 1024) / 1024:.1f} KB",
         read <= span + 64 * 1024, f"{read:.0f} bytes read for a changed span of {span:.0f} bytes"),
        (f"{subject}: peak memory of the save, the handler's read included", f"{peak / 1e6:.1f} MB",
         f"≤ metadata + 4 MiB = {(metadata + 4 * MIB) / 1e6:.1f} MB", 0 < peak <= metadata + 4 * MIB,
         f"{peak / 1e6:.1f} MB above what the process held" if peak > 0 else "the save set no new peak: no figure"),
    ]
    figure = [f"| in-place commit, {metadata_mb:.0f} MB of pictures after the comments: bytes written / changed span "
              f"/ bytes read / peak memory of the save (MB) | {written:.0f} | | span {span:.0f}, read {read:.0f}, "
              f"time {b['large_metadata_inplace_us'] / 1000:.1f} ms | peak {peak / 1e6:.1f} MB |"]
    return targets, figure, {"inplace_peak_mem_vs_metadata": peak / metadata if metadata else 0.0}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("bench_output")
    parser.add_argument("corpus")
    parser.add_argument("--results", required=True)
    args = parser.parse_args()
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

    b = read_bench_output(args.bench_output)
    files = sorted(glob.glob(os.path.join(args.corpus, "short", "*.flac")))
    warm(files)
    native_floor_median, native_floor_mean = time_native_floor(files)
    metaflac_us = time_metaflac(files)
    mutagen_median, mutagen_mean = time_mutagen(files)
    replace, replace_seen = replacement(b)
    activation = "CoCreateInstance" if b["class_source"] == "CoGetClassObject" else "DllGetClassObject each time"

    memory_targets, memory_figures, memory_ratios = memory_rows(b)
    # Our read over our floor (Wine), against each peer's read over the
    # native floor. metaflac runs all files in one process: only its mean per
    # file is known, so that comparison uses means throughout.
    our_overhead_median = b["read_us_median"] / b["floor_us_median"]
    our_overhead_mean = b["read_us_mean"] / b["floor_us_mean"]
    metaflac_overhead = metaflac_us / native_floor_mean
    mutagen_overhead = mutagen_median / native_floor_median
    counts = {
        "read_calls": b["read_calls_max"],
        "thumbnail_calls": b["thumbnail_calls_max"],
        "inplace_calls": b["inplace_calls_max"],
        "rewrite_calls": b["rewrite_calls_max"],
    }
    ratios = {
        "read_vs_floor": our_overhead_median,
        "rewrite_vs_copy": b["rewrite_mbps_median"] / b["rewrite_copy_mbps_median"],
        "inplace_written_vs_changed_span": b["inplace_written_vs_changed_span_median"],
        "peak_mem_vs_picture": memory_ratios.pop("peak_mem_vs_picture"),
        **counts,
        "slow_read_vs_floor": b["slow_read_us_median"] / b["slow_floor_us_median"],
        "read_overhead_vs_metaflac": our_overhead_mean / metaflac_overhead,
        "read_overhead_vs_mutagen": our_overhead_median / mutagen_overhead,
        **memory_ratios,
    }
    slow_rewrite_vs_copy = b["slow_rewrite_mbps_median"] / b["slow_rewrite_copy_mbps_median"]

    def calls(prefix, which="_median"):
        parts = [(b[f"{prefix}_{kind}{which}"], kind[:-1]) for kind in ("reads", "writes", "seeks", "stats", "commits")]
        parts.append((b[f"{prefix}_others{which}"], "other"))
        text = ", ".join(f"{n:.0f} {kind}{'s' if n != 1 else ''}" for n, kind in parts if n > 0)
        return text or "none"

    def ms(us):
        return f"{fmt(us / 1000)} ms"

    # Why each target was missed, from this run's own figures.
    read_extra = b["read_us_median"] - b["floor_us_median"]
    read_why = (
        f"the read takes {fmt(read_extra)} µs more than the floor's open + read + size + close "
        f"({fmt(b['floor_us_median'])} µs): creating the handler {fmt(b['read_create_us_median'])} µs, Initialize "
        f"{fmt(b['read_initialize_us_median'])} µs (of which parsing with no file calls "
        f"{fmt(b['read_initialize_memory_us_median'])} µs; its stream calls {calls('read')}), "
        f"{b['read_properties_median']:.0f} values {fmt(b['read_values_us_median'])} µs, release "
        f"{fmt(b['read_release_us_median'])} µs"
    )
    rewrite_rest = (b["rewrite_us_median"] - b["rewrite_source_read_us_median"] - b["rewrite_source_seek_us_median"]
                    - b["rewrite_destination_write_us_median"] - b["rewrite_destination_seek_us_median"]
                    - b["rewrite_source_commit_us_median"])
    copy_rest = (b["rewrite_copy_us_median"] - b["rewrite_copy_source_read_us_median"]
                 - b["rewrite_copy_destination_write_us_median"] - b["rewrite_copy_source_commit_us_median"])
    rewrite_why = (
        f"the rewrite's Commit takes {ms(b['rewrite_us_median'])} against the copy's {ms(b['rewrite_copy_us_median'])}: "
        f"reading the source {ms(b['rewrite_source_read_us_median'] + b['rewrite_source_seek_us_median'])} "
        f"(copy {ms(b['rewrite_copy_source_read_us_median'])}), writing the destination "
        f"{ms(b['rewrite_destination_write_us_median'] + b['rewrite_destination_seek_us_median'])} "
        f"(copy {ms(b['rewrite_copy_destination_write_us_median'])}), the stream's Commit "
        f"{ms(b['rewrite_source_commit_us_median'])} (copy {ms(b['rewrite_copy_source_commit_us_median'])}), "
        f"the rest, in the handler and libFLAC between the calls, {ms(rewrite_rest)} (copy {ms(copy_rest)})"
    )
    inplace_why = (
        f"bytes written ÷ changed span ranges from {b['inplace_written_vs_changed_span_min']:.2f} to "
        f"{b['inplace_written_vs_changed_span_max']:.2f}"
    )
    slow_why = (
        f"over a stream that waits {b['slow_delay_us']:.0f} µs a call, the floor makes 2 calls and the read "
        f"{b['slow_read_calls_median']:.0f} (median; {b['slow_read_calls_max']:.0f} at most: {calls('slow_read')})"
    )

    def count_why(name):
        return (f"{b[name + '_calls_max']:.0f} calls ({calls(name + '_calls_max', '')}) on the file with "
                f"{b[name + '_calls_max_metadata_bytes'] / 1e6:.2f} MB of metadata; median "
                f"{b[name + '_calls_median']:.0f} over all files")

    inplace_calls_why = (
        f"{b['inplace_calls_median']:.0f} on the median file, by design: seek + write, the stream's Commit, and one "
        "seek + read of the bytes the write overwrites, kept so that a write that fails part way can be undone (the "
        "old bytes written back) instead of leaving a broken file"
    )
    if b["inplace_calls_max"] > b["inplace_calls_median"]:
        inplace_calls_why += "; at most " + count_why("inplace")
        if b["inplace_calls_max_writes"] > 1:
            inplace_calls_why += (": a picture larger than 64 KB behind the comments stays where it is, and the "
                                  "comment block moves into the padding behind it, leaving padding in its old "
                                  "place: two windows, a seek + write each, the one that adds the new block first "
                                  "and the stream's Commit after it, so that a power cut between them leaves a "
                                  "comment block; only the old comment block's window is read")

    targets = [
        ("read ÷ floor (medians)", f"{ratios['read_vs_floor']:.2f}", "≤ 1.30", ratios["read_vs_floor"] <= 1.3,
         read_why),
        ("rewrite ÷ copy (MB/s, medians)", f"{ratios['rewrite_vs_copy']:.2f}", "≥ 0.90",
         ratios["rewrite_vs_copy"] >= 0.9, rewrite_why),
        ("in-place bytes written ÷ changed span", f"{ratios['inplace_written_vs_changed_span']:.2f}", "= 1.00",
         abs(b["inplace_written_vs_changed_span_min"] - 1) < 0.005 and abs(b["inplace_written_vs_changed_span_max"] - 1) < 0.005,
         inplace_why),
        *memory_targets,
        ("stream calls: property handler Initialize (max)", f"{counts['read_calls']:.0f}", "≤ 4",
         counts["read_calls"] <= 4, count_why("read")),
        ("stream calls: thumbnail provider Initialize (max)", f"{counts['thumbnail_calls']:.0f}", "≤ 4",
         counts["thumbnail_calls"] <= 4, count_why("thumbnail")),
        ("stream calls: in-place Commit (max)", f"{counts['inplace_calls']:.0f}", "≤ 4",
         counts["inplace_calls"] <= 4, inplace_calls_why),
        ("stream calls: in-place Commit of two windows with the Commit between them (max)",
         f"{counts['inplace_calls']:.0f}", "≤ 8", counts["inplace_calls"] <= 8, inplace_calls_why),
        (f"stream calls: rewrite of a {b['rewrite_file_bytes_median'] / 1e6:.1f} MB file, source + destination (max)",
         f"{counts['rewrite_calls']:.0f}", "≤ 200", counts["rewrite_calls"] <= 200,
         f"{calls('rewrite_source')} on the source, {calls('rewrite_destination')} on the destination"),
        ("Initialize over the metadata in memory (median)", f"{b['read_initialize_memory_us_median']:.1f} µs",
         "≤ 4.0 µs", b["read_initialize_memory_us_median"] <= 4.0,
         f"libFLAC's chain read alone takes {b['read_chain_memory_us_median']:.1f} µs of it"),
        (f"GetCount, {b['read_properties_median']:.0f} × GetAt + GetValue (median)",
         f"{b['read_values_us_median']:.1f} µs", "≤ 1.5 µs", b["read_values_us_median"] <= 1.5,
         f"the {b['read_task_blocks_median']:.0f} blocks of task memory the values hand over cost "
         f"{b['read_task_blocks_median'] * b['task_block_us_median']:.1f} µs to allocate and free alone"),
        (f"slow storage ({b['slow_delay_us']:.0f} µs a call): read ÷ floor (medians)",
         f"{ratios['slow_read_vs_floor']:.2f}", "≤ 2.00", ratios["slow_read_vs_floor"] <= 2, slow_why),
    ]
    large_targets, large_figures, large_ratios = large_metadata_rows(b)
    targets += large_targets
    ratios.update(large_ratios)
    target_table = [
        "| target | this run | target | verdict | why, where missed |",
        "|---|---:|---|---|---|",
        *[f"| {name} | {value} | {limit} | {verdict(ok)} | {'' if ok else why} |"
          for name, value, limit, ok, why in targets],
    ]

    read_table = [
        "| measurement (per file) | median | mean | against | ratio |",
        "|---|---:|---:|---|---:|",
        f"| read (µs) | {fmt(b['read_us_median'])} | {fmt(b['read_us_mean'])} | floor {fmt(b['floor_us_median'])} / "
        f"{fmt(b['floor_us_mean'])} | {ratios['read_vs_floor']:.2f} (medians) |",
        f"| rewrite commit (MB/s) | {fmt(b['rewrite_mbps_median'])} | {fmt(b['rewrite_mbps_mean'])} | copy "
        f"{fmt(b['rewrite_copy_mbps_median'])} / {fmt(b['rewrite_copy_mbps_mean'])} | {ratios['rewrite_vs_copy']:.2f} |",
        f"| in-place commit: bytes written ÷ changed span | {b['inplace_written_vs_changed_span_median']:.2f} | "
        f"{b['inplace_written_vs_changed_span_mean']:.2f} | min {b['inplace_written_vs_changed_span_min']:.2f}, max "
        f"{b['inplace_written_vs_changed_span_max']:.2f} | {ratios['inplace_written_vs_changed_span']:.2f} |",
        *memory_figures,
        *large_figures,
    ]

    call_table = [
        "| operation | calls, median | calls, max | the median file's calls |",
        "|---|---:|---:|---|",
        f"| property handler read (Initialize; the values make none) | {b['read_calls_median']:.0f} | "
        f"{b['read_calls_max']:.0f} | {calls('read')} |",
        f"| thumbnail provider Initialize, all files | {b['thumbnail_calls_median']:.0f} | "
        f"{b['thumbnail_calls_max']:.0f} | {calls('thumbnail')} |",
        f"| thumbnail provider Initialize, the {b['thumbnail_picture_files']:.0f} files with a picture | "
        f"{b['thumbnail_picture_calls_median']:.0f} | {b['thumbnail_picture_calls_max']:.0f} | "
        f"{calls('thumbnail_picture')} |",
        f"| in-place Commit | {b['inplace_calls_median']:.0f} | {b['inplace_calls_max']:.0f} | {calls('inplace')} |",
        f"| rewrite Commit, source + destination ({b['rewrite_file_bytes_median'] / 1e6:.1f} MB) | "
        f"{b['rewrite_calls_median']:.0f} | {b['rewrite_calls_max']:.0f} | source: {calls('rewrite_source')}; "
        f"destination: {calls('rewrite_destination')} |",
        f"| copy baseline, source + destination | "
        f"{b['rewrite_copy_source_calls_median'] + b['rewrite_copy_destination_calls_median']:.0f} | | "
        f"source: {calls('rewrite_copy_source')}; destination: {calls('rewrite_copy_destination')} |",
    ]

    slow_table = [
        f"| over a stream that waits {b['slow_delay_us']:.0f} µs a call (measured wait "
        f"{fmt(b['slow_delay_measured_us_median'])} µs median) | median | mean | against | ratio |",
        "|---|---:|---:|---|---:|",
        f"| read (µs) | {fmt(b['slow_read_us_median'])} | {fmt(b['slow_read_us_mean'])} | floor "
        f"{fmt(b['slow_floor_us_median'])} / {fmt(b['slow_floor_us_mean'])} | "
        f"{ratios['slow_read_vs_floor']:.2f} (medians) |",
        f"| read: stream calls | {b['slow_read_calls_median']:.0f} | {b['slow_read_calls_mean']:.2f} | floor 2 | |",
        f"| rewrite commit (ms) | {fmt(b['slow_rewrite_us_median'] / 1000)} | {fmt(b['slow_rewrite_us_mean'] / 1000)} "
        f"| copy {fmt(b['slow_rewrite_copy_us_median'] / 1000)} / {fmt(b['slow_rewrite_copy_us_mean'] / 1000)} | "
        f"{slow_rewrite_vs_copy:.2f} (MB/s, medians) |",
        f"| rewrite commit: stream calls, source + destination | {b['slow_rewrite_calls_median']:.0f} | "
        f"{b['slow_rewrite_calls_mean']:.0f} | copy "
        f"{b['slow_rewrite_copy_source_calls_median'] + b['slow_rewrite_copy_destination_calls_median']:.0f} | |",
    ]

    peer_table = [
        "| tool | runs on | read per file (µs) | its platform's floor (µs) | read ÷ floor | "
        "our read ÷ floor, divided by the tool's |",
        "|---|---|---:|---|---:|---:|",
        f"| quillbrook.dll, median | Wine 8 | {fmt(b['read_us_median'])} | Wine: SHCreateStreamOnFileEx, Read, "
        f"Seek to the end, Release: {fmt(b['floor_us_median'])} | {our_overhead_median:.2f} | |",
        f"| quillbrook.dll, mean | Wine 8 | {fmt(b['read_us_mean'])} | Wine, as above: {fmt(b['floor_us_mean'])} | "
        f"{our_overhead_mean:.2f} | |",
        f"| metaflac, mean (one process, total ÷ files) | Linux, native | {fmt(metaflac_us)} | native: os.open, "
        f"os.read, os.lseek to the end, os.close (Python), mean: {fmt(native_floor_mean)} | {metaflac_overhead:.2f} | "
        f"{ratios['read_overhead_vs_metaflac']:.2f} (means) |",
        f"| mutagen, median (Python loop) | Linux, native | {fmt(mutagen_median)} | native, as above, median: "
        f"{fmt(native_floor_median)} | {mutagen_overhead:.2f} | {ratios['read_overhead_vs_mutagen']:.2f} (medians) |",
    ]

    handler_rewrite_us = b["rewrite_us_median"] - b["rewrite_source_commit_us_median"]
    detail_table = [
        "| figure (median per file) | value |",
        "|---|---:|",
        f"| read: open the stream (SHCreateStreamOnFileEx) | {fmt(b['read_open_us_median'])} µs |",
        f"| read: create the handler from the kept class object ({b['class_source']}) | "
        f"{fmt(b['read_create_us_median'])} µs |",
        f"| not in the read: create and release a handler without a kept class object ({activation}) | "
        f"{fmt(b['activation_us_median'])} µs |",
        f"| read: Initialize | {fmt(b['read_initialize_us_median'])} µs |",
        f"| read: Initialize over the metadata in memory (no file calls) | "
        f"{fmt(b['read_initialize_memory_us_median'])} µs |",
        f"| read: of which libFLAC's chain read alone (the size query and the read through the same stream layer, "
        f"in memory) | {fmt(b['read_chain_memory_us_median'])} µs |",
        f"| read: GetCount, {b['read_properties_median']:.0f} × GetAt + GetValue | "
        f"{fmt(b['read_values_us_median'])} µs |",
        f"| read: of which the allocator: {b['read_task_blocks_median']:.0f} blocks of task memory the values hand "
        f"over (CoTaskMemAlloc; the caller's PropVariantClear frees them), {b['task_block_us_median'] * 1000:.0f} ns "
        f"a block | {fmt(b['read_task_blocks_median'] * b['task_block_us_median'])} µs |",
        f"| read: release (handler, stream, file handle) | {fmt(b['read_release_us_median'])} µs |",
        f"| read: time inside the stream calls (the first, counting pass, which also warms the cache) | reads {fmt(b['read_read_us_median'])} µs, seeks "
        f"{fmt(b['read_seek_us_median'])} µs |",
        f"| read: bytes read / floor bytes | {b['read_bytes_read_median']:.0f} / {b['floor_bytes_median']:.0f} |",
        f"| floor: open, one read, seek to the end, release | {fmt(b['floor_us_median'])} µs |",
        f"| thumbnail provider Initialize (picture handed to the stand-in) | "
        f"{fmt(b['thumbnail_initialize_us_median'])} µs |",
        f"| in-place commit: time of Commit | {fmt(b['inplace_us_median'])} µs |",
        f"| rewrite commit: file size | {b['rewrite_file_bytes_median'] / 1e6:.1f} MB |",
        f"| rewrite commit: time of Commit | {ms(b['rewrite_us_median'])} |",
        f"| rewrite commit: source stream | reads {ms(b['rewrite_source_read_us_median'])}, seeks "
        f"{ms(b['rewrite_source_seek_us_median'])} |",
        f"| rewrite commit: destination stream | writes {ms(b['rewrite_destination_write_us_median'])}, seeks "
        f"{ms(b['rewrite_destination_seek_us_median'])} |",
        f"| rewrite commit: the stream's Commit (flush the copy, {replace}) | "
        f"{ms(b['rewrite_source_commit_us_median'])} |",
        f"| rewrite commit without the stream's Commit | {ms(handler_rewrite_us)}, "
        f"{b['rewrite_file_bytes_median'] / handler_rewrite_us:.1f} MB/s |",
        f"| copy baseline: time | {ms(b['rewrite_copy_us_median'])} |",
        f"| copy baseline: reads / writes / the stream's Commit | {ms(b['rewrite_copy_source_read_us_median'])} / "
        f"{ms(b['rewrite_copy_destination_write_us_median'])} / {ms(b['rewrite_copy_source_commit_us_median'])} |",
    ]

    method = [
        f"- Activation: the timed read creates the handler from its class object, got once "
        f"({b['class_source']}) and kept, as a host that keeps its class objects does; the floor has no "
        f"activation either. What CoCreateInstance would add per object is measured apart (\"Where the time "
        f"goes\").",
        "- Floor: the same stream type the read gets (SHCreateStreamOnFileEx), one read of exactly the bytes a "
        "metadata read needs (all but padding contents), one size query (a seek to the end, as the handler's stream "
        "layer asks it), release. The slow-storage floor is the same over the slow stream: two calls.",
        f"- Copy baseline: what the safe save does, through the same safe-save stream (tools/safe_save) as the "
        f"rewrite: the whole file read from the stream in 1 MB chunks and written to the destination it hands out, "
        f"then the stream's Commit, which commits (flushes) the copy and, as the bench sees on a scratch file, "
        f"{replace_seen}. Both are timed from the start of the save to the end of that Commit, on a fresh copy of "
        f"the same file.",
        f"- Slow storage: the file's stream (and the destination) behind a stream that busy-waits "
        f"{b['slow_delay_us']:.0f} µs on the performance counter before every call (measured: "
        f"{fmt(b['slow_delay_measured_us_median'], 1)} µs median, {fmt(b['slow_delay_measured_us_mean'], 1)} µs "
        f"mean), like a share on a local network; the flush and the replacement inside the stream's Commit are one "
        f"call there.",
        "- Stream calls: every IStream call of any kind (Read, Write, Seek, Stat, Commit, SetSize, CopyTo, Revert, "
        "LockRegion, UnlockRegion, GetDestinationStream), on the source and, for rewrites, on the destination. The "
        "read's are those of the whole read, all made by Initialize.",
        "- Thumbnail provider: Wine has no photo thumbnail provider and the corpus's covers are random bytes, so the "
        "bench registers a stand-in for its own process (the tests' recording provider) that takes the picture; "
        "only the provider's own reading is measured.",
        "- Peers: metaflac and mutagen run natively on Linux, the module under Wine, whose file calls cost more "
        "than native ones. Each tool's time is therefore also given over its own platform's floor, measured on the "
        "same files: the Wine floor above for the module; for the peers a native open, read of the same bytes, seek "
        "to the end and close (Python os calls, after a warm pass). The last column divides our time over our "
        "floor by the peer's time over its floor.",
        f"- Memory: {b['memory_method']} bytes; the peak during one read of the file with the largest picture, "
        "above what the process held before it, buffers included.",
        *memory_method(b),
    ]

    key_line = " ".join(f"{name}={value:.0f}" if name in counts else f"{name}={value:.2f}"
                        for name, value in ratios.items())
    now = datetime.datetime.now().astimezone()
    corpus = os.path.relpath(os.path.abspath(args.corpus), root)
    lines = [
        "# Benchmark results",
        "",
        f"Written by `scripts/bench` on {now:%Y-%m-%d %H:%M %Z}. Wall time under Wine 8 (QueryPerformanceCounter "
        "inside the process) for quillbrook.dll; wall time on Linux (Python's perf_counter) for the peers and the "
        "native floor. Warm file cache throughout.",
        "",
        "## Machine",
        "",
        *[f"- {name}: {value}" for name, value in machine()],
        "",
        "## Corpus",
        "",
        f"- {b['files']:.0f} short files, {b['long_files']:.0f} files of "
        f"{b['rewrite_file_bytes_median'] / 1e6:.1f} MB for rewrites; `{corpus}`",
        "",
        "## Targets",
        "",
        *target_table,
        "",
        "## Figures",
        "",
        *read_table,
        "",
        "## Stream calls per operation",
        "",
        *call_table,
        "",
        "## Slow storage",
        "",
        *slow_table,
        "",
        "## Peers, each over its own platform's floor",
        "",
        *peer_table,
        "",
        "## Where the time goes",
        "",
        *detail_table,
        "",
        "## How it is measured",
        "",
        *method,
        "",
        "## Ratios",
        "",
        "```",
        key_line,
        "```",
        "",
    ]
    with open(args.results, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))

    for table in (target_table, read_table, call_table, slow_table, peer_table, detail_table):
        print("\n".join(table))
        print()
    print(f"results: {args.results}")
    print(key_line)


if __name__ == "__main__":
    main()
