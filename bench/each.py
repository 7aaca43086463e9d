#!/usr/bin/env python3
"""Measures sorvel on many texts at once: the peak resident memory of --each, -g and -s over
2,000 texts of 26 KB, and the wall time of --each of 1,000 new small texts against cp of the same
files into an empty directory (paired, alternating runs; each run writes into a directory of its
own, made and removed outside the time measured).

Usage: bench/each.py SORVEL [RUNS]   (RUNS paired runs, 41 by default)
"""
import os, shutil, statistics, subprocess, sys, tempfile, time

LINE = b"The quick brown fox jumps over the lazy dog; x=1, y=2, z=x+y, as the notes say.\n"


def texts(folder, count, size):
    """`count` texts of `size` bytes of prose lines in `folder`, named t0000.txt, t0001.txt, ..."""
    os.makedirs(folder)
    body = (LINE * (size // len(LINE) + 1))[:size]
    names = []
    for i in range(count):
        names.append(os.path.join(folder, f"t{i:04d}.txt"))
        with open(names[-1], "wb") as f:
            f.write(body)
    return names


def run(argv, cwd):
    """Runs `argv` in `cwd`; returns its wall time in seconds and its status."""
    start = time.perf_counter()
    status = subprocess.run(argv, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
    return time.perf_counter() - start, status


def peak(argv, cwd):
    """Runs `argv` in `cwd` under GNU time, whose own small process is the one that starts it (a
    process's peak counts the memory of the one it was started from); returns its peak resident
    KiB and its status."""
    log = os.path.join(cwd, "..", "time.log")
    status = subprocess.run(["/usr/bin/time", "-o", log, "-f", "%M"] + argv, cwd=cwd, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL).returncode
    return int(open(log).read().split()[-1]), status


def main():
    sorvel = os.path.realpath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 41
    cp = shutil.which("cp")
    work = tempfile.mkdtemp()
    try:
        big = texts(os.path.join(work, "big"), 2000, 26 * 1024)
        print("peak resident memory, 2,000 texts of 26 KB:")
        print()
        print("| command | peak | status |")
        print("|---|---|---|")
        for what, options, operands in [
                ("sorvel --each", ["--each"], big), ("sorvel --each -u", ["--each", "-u"], big),
                ("sorvel --each -s", ["--each", "-s"], big),
                ("sorvel -g of the first 150 (3.9 MB, what a group file holds)", ["-g", "g.89g"], big[:150]),
                ("sorvel -g of all 2,000 (refused: more than a group file holds)", ["-g", "g.89g"], big)]:
            out = os.path.join(work, "out")
            os.makedirs(out)
            kib, status = peak([sorvel] + options + operands, out)
            shutil.rmtree(out)
            print(f"| {what} | {kib:,} KiB | {status} |")
        os.makedirs(os.path.join(work, "copy"))
        kib, status = peak([cp] + big + [os.path.join(work, "copy")], os.path.join(work, "copy"))
        print(f"| cp of the 2,000 | {kib:,} KiB | {status} |")

        small = texts(os.path.join(work, "small"), 1000, 300)
        times = {"sorvel": [], "cp": []}
        ratios = []
        for i in range(runs):
            pair = {}
            for who in ("sorvel", "cp") if i % 2 == 0 else ("cp", "sorvel"):
                out = os.path.join(work, f"out-{who}")
                os.makedirs(out)
                argv = [sorvel, "--each"] + small if who == "sorvel" else [cp] + small + [out]
                seconds, status = run(argv, out)
                if status != 0:
                    sys.exit(f"{who} failed with status {status}")
                shutil.rmtree(out)
                pair[who] = seconds
                times[who].append(seconds)
            ratios.append(pair["sorvel"] / pair["cp"])
        print()
        print(f"--each of 1,000 new texts of 300 bytes against cp of them, {runs} paired runs:")
        print()
        print("| | median wall time |")
        print("|---|---|")
        for who in ("sorvel", "cp"):
            print(f"| {who} | {statistics.median(times[who]) * 1000:.1f} ms |")
        print(f"| median of the paired ratios | {statistics.median(ratios):.2f} |")
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
