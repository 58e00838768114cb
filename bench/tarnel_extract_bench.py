#!/usr/bin/env python3
"""tarnel extract against extracting straight through the archive library.

Builds a large archive with tarnel (stored and compressed members), then
times, several times each and with a warm page cache:
  direct   extract_direct: the archive library alone, no plug-in, no host
  bar off  tarnel extract with standard error not a terminal (no bar)
  bar on   tarnel extract on a pseudo-terminal (the progress bar drawn)
and prints the medians and each tarnel figure relative to the direct one
(the goal: within 5%).

The runs are interleaved, and the work folder is on /dev/shm when there is
one (--folder to choose another), so that disk write-back does not drown
the difference being measured. Both the minimum (the least disturbed run)
and the median are shown.

usage: bench/tarnel_extract_bench.py [BUILD_OUT_DIR] [--runs N] [--megabytes M]
                                     [--folder DIR]
"""
import argparse
import os
import pty
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def timed(command, use_pty=False):
    """Runs command; returns its wall time and its processor time (user and
    system) in seconds. With use_pty its standard error (and output) is a
    pseudo-terminal, read until it ends; otherwise both go to /dev/null."""
    start = time.perf_counter()
    if use_pty:
        pid, fd = pty.fork()
        if pid == 0:
            os.execv(command[0], command)
        drawn = b""
        while True:
            try:
                data = os.read(fd, 65536)
            except OSError:
                break
            if not data:
                break
            drawn += data
        os.close(fd)
        timed.last_bar = drawn
    else:
        pid = os.fork()
        if pid == 0:
            null = os.open(os.devnull, os.O_RDWR)
            os.dup2(null, 1)
            os.dup2(null, 2)
            os.execv(command[0], command)
    _, status, usage = os.wait4(pid, 0)
    elapsed = time.perf_counter() - start
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit("failed (%d): %s" % (code, " ".join(command)))
    return elapsed, usage.ru_utime + usage.ru_stime


timed.last_bar = b""


def make_samples(folder, megabytes):
    """Members of two kinds: stored (.bik, no compression by default) and
    compressed text, about `megabytes` in all."""
    os.makedirs(os.path.join(folder, "video"))
    os.makedirs(os.path.join(folder, "text"))
    block = os.urandom(1 << 20)
    stored = megabytes * 3 // 4 // 4
    for i in range(4):
        with open(os.path.join(folder, "video", "clip%d.bik" % i), "wb") as out:
            for _ in range(stored):
                out.write(block)
    line = b"".join(b"%08d the quick brown fox jumps over the lazy dog\n" % n
                    for n in range(20000))
    text = megabytes // 4 // 4
    for i in range(4):
        with open(os.path.join(folder, "text", "log%d.txt" % i), "wb") as out:
            written = 0
            while written < text << 20:
                out.write(line)
                written += len(line)


def main():
    parser = argparse.ArgumentParser()
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("out", nargs="?",
                        default=os.path.join(here, "..", "build", "native", "out"))
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--megabytes", type=int, default=512)
    parser.add_argument("--folder", default="/dev/shm" if os.path.isdir("/dev/shm") else None)
    args = parser.parse_args()
    out = os.path.abspath(args.out)
    tarnel = os.path.join(out, "tarnel")
    direct = os.path.join(out, "extract_direct")
    library = os.path.join(out, "SFMpq.dll")
    for needed in (tarnel, direct, library):
        if not os.path.exists(needed):
            sys.exit("missing %s: build the native preset and the benchmarks target" % needed)

    work = tempfile.mkdtemp(prefix="tarnel-bench-", dir=args.folder)
    try:
        settings = os.path.join(work, "tarnel.ini")
        samples = os.path.join(work, "samples")
        archive = os.path.join(work, "big.mpq")
        make_samples(samples, args.megabytes)
        subprocess.run([tarnel, "--settings", settings, "add", archive, "-C", samples,
                        "video", "text"], check=True)
        size = os.path.getsize(archive)
        target = os.path.join(work, "out")

        commands = {
            "direct": ([direct, library, archive, target], False),
            "bar off": ([tarnel, "--settings", settings, "extract", archive, "-C", target],
                        False),
            "bar on": ([tarnel, "--settings", settings, "extract", archive, "-C", target],
                       True),
        }
        times = {name: [] for name in commands}
        cpu = {name: [] for name in commands}
        for run in range(args.runs + 1):  # the first round only warms up
            for name, (command, use_pty) in commands.items():
                shutil.rmtree(target, ignore_errors=True)
                os.makedirs(target)
                elapsed, processor = timed(command, use_pty)
                if run > 0:
                    times[name].append(elapsed)
                    cpu[name].append(processor)
        if b"%" not in timed.last_bar:
            print("note: no progress bar was drawn (the extraction took under 0.2 s)")

        print("archive: %.0f MiB in %s, %d MiB of members; %d runs each"
              % (size / 2**20, work, args.megabytes, args.runs))
        for label, figures in (("wall time", times), ("processor time", cpu)):
            print(" %s:" % label)
            print("  %-8s %9s %9s %9s %9s" % ("", "min s", "vs direct", "median s",
                                             "vs direct"))
            base_min = min(figures["direct"])
            base_median = statistics.median(figures["direct"])
            for name in commands:
                fastest = min(figures[name])
                median = statistics.median(figures[name])
                print("  %-8s %9.3f %+8.1f%% %9.3f %+8.1f%%"
                      % (name, fastest, (fastest / base_min - 1) * 100, median,
                         (median / base_median - 1) * 100))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
