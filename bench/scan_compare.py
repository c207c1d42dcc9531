#!/usr/bin/python3
"""Scans an A4 page in colour at 300 dpi with `vexa scan` (to a BMP) and with
SANE's own `scanimage` (to a PNM), as whole processes, from SANE's `test`
backend in a private configuration.

Runs alternate between the two, so that a busy machine slows both alike. Each
run replaces the file of the run before, as repeated scans do: `vexa scan` saves
safely (a new file renamed over the old one, which ext4 answers by starting the
new file's writeback), scanimage truncates the old file and writes it again;
--fresh leaves no file to replace. For
each: CPU time (user + system of the process and its threads, the part a loaded
machine disturbs least) and wall time, medians of the runs, and the peak
resident memory of one more run (through GNU time, where installed). The ratio is vexa / scanimage.

    bench/scan_compare.py --vexa build/default/apps/vexa \\
        --dsm build/default/src/libvexa-twaindsm.so [--runs 20]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def run_child(cmd, env):
    """CPU seconds and wall seconds of one child."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    err = proc.stderr.read().decode()
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError("%s failed: %s" % (" ".join(cmd), err.strip()))
    return usage.ru_utime + usage.ru_stime, wall


def peak_memory(cmd, env):
    """Peak resident memory (MB) of the command alone, through GNU time (Debian
    package time); None without it. A child of this interpreter would count the
    interpreter's memory too: the kernel keeps the peak of the process image the
    child started from."""
    gnu_time = "/usr/bin/time"
    if not os.path.exists(gnu_time):
        return None
    out = subprocess.run([gnu_time, "-f", "%M"] + cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                         check=True).stderr.decode().split()
    return int(out[-1]) / 1024.0


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--vexa", required=True)
    ap.add_argument("--dsm", required=True, help="libvexa-twaindsm.so of the same build")
    ap.add_argument("--runs", type=int, default=20)
    ap.add_argument("--fresh", action="store_true",
                    help="remove the outputs before each run (by default each run replaces the last one's file)")
    args = ap.parse_args()
    scanimage = shutil.which("scanimage")
    if not scanimage:
        sys.exit("scanimage is not installed (Debian package sane-utils)")

    with tempfile.TemporaryDirectory(prefix="vexa-scan-compare-") as tmp:
        conf = os.path.join(tmp, "sane")
        os.mkdir(conf)
        with open(os.path.join(conf, "dll.conf"), "w") as f:
            f.write("test\n")
        # The backend's area stops at 200 mm unless told otherwise; A4 needs 297.
        with open(os.path.join(conf, "test.conf"), "w") as f:
            f.write("number_of_devices 1\ngeometry_max 300.0\n")
        env = dict(os.environ, SANE_CONFIG_DIR=conf, VEXA_TWAIN_DSM=os.path.abspath(args.dsm))
        tools = {
            "vexa scan": [os.path.abspath(args.vexa), "scan", "--source", "test:0", "--dpi", "300", "--mode",
                          "color", "--area", "0", "0", "8.2677", "11.6929", os.path.join(tmp, "a4.bmp")],
            "scanimage": [scanimage, "-d", "test:0", "--resolution", "300", "--mode", "Color", "-x", "210", "-y",
                          "297", "--format=pnm", "-o", os.path.join(tmp, "a4.pnm")],
        }
        for cmd in tools.values():  # warm the page cache and the loader
            run_child(cmd, env)
        runs = {name: [] for name in tools}
        for _ in range(args.runs):
            for name, cmd in tools.items():
                if args.fresh:
                    os.remove(cmd[-1])
                runs[name].append(run_child(cmd, env))
        sizes = {name: os.path.getsize(cmd[-1]) for name, cmd in tools.items()}
        peaks = {name: peak_memory(cmd, env) for name, cmd in tools.items()}

    med = {name: [statistics.median(r[k] for r in rs) for k in range(2)] + [peaks[name]]
           for name, rs in runs.items()}
    print("A4, colour, 300 dpi (2480 x 3507), %d alternating runs, medians" % args.runs)
    print("%-10s %10s %10s %10s %12s" % ("", "CPU ms", "wall ms", "peak MB", "file bytes"))
    for name, (cpu, wall, rss) in med.items():
        print("%-10s %10.1f %10.1f %10s %12d" % (name, cpu * 1e3, wall * 1e3, "%.1f" % rss if rss else "-", sizes[name]))
    v, s = med["vexa scan"], med["scanimage"]
    memory = ", memory %.2f" % (v[2] / s[2]) if v[2] and s[2] else ""
    print("vexa / scanimage: CPU %.2f, wall %.2f%s" % (v[0] / s[0], v[1] / s[1], memory))


if __name__ == "__main__":
    main()
