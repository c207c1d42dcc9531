#!/usr/bin/python3
"""Times vexa beside the imaging tools found on this machine, in one run.

Two tables:

* whole processes: each tool converts or processes one picture from file to file;
  wall time (median of the runs) and peak resident memory of the child process.
* operations alone: the operation timed inside each tool on an image already in
  memory (`vexa proc --repeat`, OpenCV and Pillow from Python), on 1 and 2 threads
  where the tool can be told.

Runs alternate between the tools, so that a busy machine slows all of them alike.
Ratios are vexa / peer: below 1 vexa is faster or smaller. Peers that are not
installed (ImageMagick `convert`, libvips `vips`, python3-pil, python3-opencv,
python3-numpy) are left out. Debian's python3 is the one these packages install
into, hence the interpreter above.

    bench/compare_peers.py --vexa build/default/apps/vexa [--runs 5] [--only whole|ops] [--ops grey,hsl]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

PY = sys.executable


def have_module(name):
    return subprocess.run([PY, "-c", "import " + name], capture_output=True).returncode == 0


def imagemagick():
    # `magick` (version 7) or the Debian binary of version 6; a shell wrapper named
    # `convert` earlier on the path may not be ImageMagick.
    for name in ("magick", "/usr/bin/convert-im6.q16", "/usr/bin/convert"):
        path = shutil.which(name)
        if path:
            return path
    return None


GNU_TIME = "/usr/bin/time" if os.path.exists("/usr/bin/time") else None


def run_child(cmd, env=None):
    """Wall seconds and peak resident memory (MB) of one child process.

    The peak comes from GNU time where installed: a child forked from this
    interpreter carries the interpreter's own peak (10 MB and more) across exec
    into its rusage figure, which then flatters every peer alike."""
    with tempfile.NamedTemporaryFile("r", suffix=".rss") as rss:
        wrapped = [GNU_TIME, "-f", "%M", "-o", rss.name] + cmd if GNU_TIME else cmd
        start = time.perf_counter()
        proc = subprocess.Popen(wrapped, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.perf_counter() - start
        out = proc.stdout.read().decode()
        err = proc.stderr.read().decode()
        if os.waitstatus_to_exitcode(status) != 0:
            raise RuntimeError("%s failed: %s" % (" ".join(cmd), err.strip()))
        peak_kb = float(rss.read().split()[-1]) if GNU_TIME else usage.ru_maxrss
    return wall, peak_kb / 1024.0, out


def make_picture(path, width, height):
    """A photo-like 24-bit BMP: smooth gradients with noise, few repeated colours."""
    code = """
import sys, numpy as np
w, h = %d, %d
y, x = np.mgrid[0:h, 0:w]
img = np.stack([x * 255 // w, y * 255 // h, (x + y) * 255 // (w + h)], axis=-1).astype(np.int16)
img += np.random.default_rng(1).integers(-20, 21, size=img.shape, dtype=np.int16)
from PIL import Image
Image.fromarray(np.clip(img, 0, 255).astype(np.uint8)).save(sys.argv[1])
""" % (width, height)
    subprocess.run([PY, "-c", code, path], check=True)


PILLOW = {
    "convert": "Image.open(a).save(b)",
    "negative": "ImageOps.invert(Image.open(a)).save(b)",
    "grey": "Image.open(a).convert('L').convert('RGB').save(b)",
    "lanczos": "Image.open(a).resize((W // 4, H // 4), Image.LANCZOS).save(b)",
    "rotate": "Image.open(a).rotate(30, Image.BILINEAR, expand=True).save(b)",
    "blur": "Image.open(a).filter(ImageFilter.Kernel((3, 3), [1] * 9, 9)).save(b)",
}
OPENCV = {
    "convert": "cv2.imwrite(b, cv2.imread(a))",
    "negative": "cv2.imwrite(b, cv2.bitwise_not(cv2.imread(a)))",
    "grey": "cv2.imwrite(b, cv2.cvtColor(cv2.cvtColor(cv2.imread(a), cv2.COLOR_BGR2GRAY), cv2.COLOR_GRAY2BGR))",
    "lanczos": "cv2.imwrite(b, cv2.resize(cv2.imread(a), (W // 4, H // 4), interpolation=cv2.INTER_LANCZOS4))",
    # The whole turned picture, as vexa and Pillow (expand=True) make it.
    "rotate": "i = cv2.imread(a); m = cv2.getRotationMatrix2D((W / 2, H / 2), 30, 1); "
              "c, s = np.cos(np.radians(30)), np.sin(np.radians(30)); "
              "w, h = int(np.ceil(W * c + H * s)), int(np.ceil(W * s + H * c)); "
              "m[:, 2] += ((w - W) / 2, (h - H) / 2); cv2.imwrite(b, cv2.warpAffine(i, m, (w, h)))",
    "blur": "cv2.imwrite(b, cv2.filter2D(cv2.imread(a), -1, np.ones((3, 3), np.float32) / 9))",
}


def whole_tasks(tools, width, height):
    """(task, input extension, output extension, {tool: argv builder})."""
    vexa, magick, vips = tools.get("vexa"), tools.get("imagemagick"), tools.get("vips")
    W, H = width, height
    tasks = []

    def add(name, src, dst, vexa_args, magick_args, vips_args, key):
        runners = {"vexa": lambda a, b: [vexa] + vexa_args(a, b)}
        if magick and magick_args is not None:
            runners["imagemagick"] = lambda a, b: [magick, a] + magick_args + [b]
        if vips and vips_args is not None:
            runners["libvips"] = lambda a, b: [vips] + vips_args(a, b)
        for tool, table in (("pillow", PILLOW), ("opencv", OPENCV)):
            if tool in tools and key in table:
                setup = "import sys; from PIL import Image, ImageOps, ImageFilter" if tool == "pillow" else \
                        "import sys, cv2, numpy as np; cv2.setNumThreads(0)"
                code = "%s\na, b = sys.argv[1:3]; W, H = %d, %d\n%s" % (setup, W, H, table[key])
                runners[tool] = lambda a, b, code=code: [PY, "-c", code, a, b]
        tasks.append((name, src, dst, runners))

    conv = lambda a, b: ["convert", a, b]
    vcopy = lambda a, b: ["copy", a, b]
    add("bmp -> png", "bmp", "png", conv, [], vcopy, "convert")
    add("png -> bmp", "png", "bmp", conv, [], vcopy, "convert")
    add("bmp -> jpeg", "bmp", "jpg", conv, ["-quality", "75"], lambda a, b: ["copy", a, b + "[Q=75]"], "convert")
    add("jpeg -> bmp", "jpg", "bmp", conv, [], vcopy, "convert")
    add("bmp -> tiff lzw", "bmp", "tif", lambda a, b: ["convert", "--set", "TIFF_Compression=ioTIFF_LZW", a, b],
        ["-compress", "lzw"], lambda a, b: ["copy", a, b + "[compression=lzw]"], None)
    add("tiff lzw -> bmp", "tif", "bmp", conv, [], vcopy, None)
    add("negative", "bmp", "bmp", lambda a, b: ["proc", a, b, "negative"], ["-negate"],
        lambda a, b: ["invert", a, b], "negative")
    add("grey", "bmp", "bmp", lambda a, b: ["proc", a, b, "gray"], ["-colorspace", "Gray", "-type", "TrueColor"],
        lambda a, b: ["colourspace", a, b, "b-w"], "grey")
    add("lanczos3 to 1/4", "bmp", "bmp", lambda a, b: ["proc", a, b, "resample", str(W // 4), str(H // 4)],
        ["-filter", "Lanczos", "-resize", "%dx%d!" % (W // 4, H // 4)],
        lambda a, b: ["resize", a, b, "0.25", "--kernel", "lanczos3"], "lanczos")
    add("rotate 30", "bmp", "bmp", lambda a, b: ["proc", a, b, "rotate", "30"], ["-rotate", "-30"],
        lambda a, b: ["rotate", a, b, "30"], "rotate")
    add("3 x 3 blur", "bmp", "bmp", lambda a, b: ["proc", a, b, "filter", "lowpass1"],
        ["-define", "convolve:scale=!", "-morphology", "Convolve", "3x3:1,1,1,1,1,1,1,1,1"],
        None, "blur")
    return tasks


def run_whole(tools, pictures, width, height, runs, workdir):
    print("\nWhole processes (%d x %d, median of %d runs; ratio = vexa / peer)" % (width, height, runs))
    print("%-18s %-12s %10s %9s %9s %9s" % ("task", "tool", "ms", "MB", "time x", "memory x"))
    for name, src, dst, runners in whole_tasks(tools, width, height):
        times = {t: [] for t in runners}
        rss = {t: 0.0 for t in runners}
        for _ in range(runs):
            for tool, argv in runners.items():
                out = os.path.join(workdir, "out-%s.%s" % (tool, dst))
                try:
                    wall, mb, _ = run_child(argv(pictures[src], out))
                except RuntimeError as e:
                    print("  %s: %s" % (tool, e), file=sys.stderr)
                    times[tool] = None
                    continue
                if times[tool] is not None:
                    times[tool].append(wall)
                    rss[tool] = max(rss[tool], mb)
        ours = statistics.median(times["vexa"])
        for tool in runners:
            if not times[tool]:
                continue
            t = statistics.median(times[tool])
            print("%-18s %-12s %10.1f %9.1f %9.2f %9.2f" %
                  (name, tool, t * 1000, rss[tool], ours / t, rss["vexa"] / rss[tool]))


# Operations alone: how each tool runs them on a decoded image, and vexa's name for them.
OPS = [
    ("negative", ["negative"], "cv2.bitwise_not(i)", "ImageOps.invert(i)"),
    ("grey", ["gray"], "cv2.cvtColor(i, cv2.COLOR_BGR2GRAY)", "i.convert('L')"),
    ("lanczos3 to 1/4", ["resample", "{w4}", "{h4}"], "cv2.resize(i, (W // 4, H // 4), interpolation=cv2.INTER_LANCZOS4)",
     "i.resize((W // 4, H // 4), Image.LANCZOS)"),
    ("rotate 30", ["rotate", "30"], "cv2.warpAffine(i, TURN, TURNED)",
     "i.rotate(30, Image.BILINEAR, expand=True)"),
    ("rotate 30 aa", ["rotate", "30", "aa"], None, None),
    ("3 x 3 filter", ["filter", "lowpass1"], "cv2.filter2D(i, -1, np.ones((3, 3), np.float32) / 9)",
     "i.filter(ImageFilter.Kernel((3, 3), [1] * 9, 9))"),
    ("hsl variation", ["hsl", "10", "10", "5"],
     "cv2.cvtColor(cv2.cvtColor(i, cv2.COLOR_BGR2HLS), cv2.COLOR_HLS2BGR)", None),
    ("hsv variation", ["hsv", "10", "10", "5"],
     "cv2.cvtColor(cv2.cvtColor(i, cv2.COLOR_BGR2HSV), cv2.COLOR_HSV2BGR)", None),
    ("rgb offsets", ["rgb", "10", "-5", "3"], "cv2.LUT(i, LUT)", "i.point(PLUT)"),
    ("histogram", ["histogram"], "[cv2.calcHist([i], [c], None, [256], [0, 256]) for c in range(3)]", "i.histogram()"),
    ("maximum 1", ["maximum", "1"], "cv2.dilate(i, np.ones((3, 3), np.uint8))", "i.filter(ImageFilter.MaxFilter(3))"),
    ("fft low pass", ["fft-lowpass", "64"],
     "[np.fft.ifft2(np.fft.fft2(np.pad(i[:, :, c], ((0, N - H), (0, N - W))).astype(np.float64))) for c in range(3)]",
     None),
]

TIMER = """
import sys, time, statistics
import numpy as np
W, H = %d, %d
N = 1
while N < max(W, H): N *= 2
mode, threads, runs, path = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
# The offsets of "rgb 10 -5 3" as tables: B, G, R for OpenCV, R, G, B for Pillow.
LUT = np.clip(np.arange(256)[:, None] + np.array([3, -5, 10]), 0, 255).astype(np.uint8).reshape(256, 1, 3)
PLUT = [int(v) for c in (2, 1, 0) for v in LUT[:, 0, c]]
if mode == "opencv":
    import cv2
    cv2.setNumThreads(threads)
    i = cv2.imread(path)
    # A 30-degree turn into the whole turned picture, as vexa and Pillow (expand=True) make it.
    c, s = np.cos(np.radians(30)), np.sin(np.radians(30))
    TURNED = (int(np.ceil(W * c + H * s)), int(np.ceil(W * s + H * c)))
    TURN = cv2.getRotationMatrix2D((W / 2, H / 2), 30, 1)
    TURN[:, 2] += ((TURNED[0] - W) / 2, (TURNED[1] - H) / 2)
else:
    from PIL import Image, ImageOps, ImageFilter
    i = Image.open(path); i.load()
times = []
for _ in range(runs):
    t0 = time.perf_counter()
    r = %s
    times.append(time.perf_counter() - t0)
print(statistics.median(times) * 1000)
"""


def run_ops(tools, picture, width, height, runs, workdir, only=None):
    print("\nOperations alone (%d x %d, median of %d runs, ms; ratio = vexa / peer at the same threads)" %
          (width, height, runs))
    head = ["vexa 1t", "vexa 2t"]
    if "opencv" in tools:
        head += ["opencv 1t", "opencv 2t"]
    if "pillow" in tools:
        head += ["pillow"]
    print("%-16s" % "operation" + "".join("%11s" % h for h in head) + "   ratios")
    subs = {"{w4}": str(width // 4), "{h4}": str(height // 4)}
    for name, vexa_args, cv, pil in OPS:
        if only and not any(o in name for o in only):
            continue
        args = [subs.get(a, a) for a in vexa_args]
        row, ratios = {}, []
        for threads in (1, 2):
            env = dict(os.environ, VEXA_THREADS=str(threads))
            _, _, out = run_child([tools["vexa"], "proc", picture, "-"] + args + ["--repeat", str(runs)], env)
            row["vexa %dt" % threads] = float(out.strip().splitlines()[-1])
            for tool, expr in (("opencv", cv),):
                if tool in tools and expr:
                    code = TIMER % (width, height, expr)
                    _, _, out = run_child([PY, "-c", code, tool, str(threads), str(runs), picture])
                    row["%s %dt" % (tool, threads)] = float(out.strip())
        if "pillow" in tools and pil:
            _, _, out = run_child([PY, "-c", TIMER % (width, height, pil), "pillow", "1", str(runs), picture])
            row["pillow"] = float(out.strip())
        for peer, ours in (("opencv 1t", "vexa 1t"), ("opencv 2t", "vexa 2t"), ("pillow", "vexa 1t")):
            if peer in row:
                ratios.append("%s %.2f" % (peer, row[ours] / row[peer]))
        print("%-16s" % name + "".join("%11s" % ("%.1f" % row[h] if h in row else "-") for h in head) +
              "   " + ", ".join(ratios))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--vexa", default=os.path.join(here, "..", "build", "default", "apps", "vexa"))
    ap.add_argument("--width", type=int, default=4000)
    ap.add_argument("--height", type=int, default=3000)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--only", choices=["whole", "ops"])
    ap.add_argument("--ops", help="comma-separated parts of operation names to time (default: all)")
    a = ap.parse_args()

    tools = {"vexa": os.path.abspath(a.vexa)}
    if imagemagick():
        tools["imagemagick"] = imagemagick()
    if shutil.which("vips"):
        tools["vips"] = shutil.which("vips")
    numpy = have_module("numpy")
    if numpy and have_module("PIL"):
        tools["pillow"] = True
    if numpy and have_module("cv2"):
        tools["opencv"] = True
    if not numpy:
        sys.exit("compare_peers: python3-numpy is needed to make the picture")
    print("tools: " + ", ".join(sorted(tools)) + "; cores: %d; load: %s" %
          (os.cpu_count(), open("/proc/loadavg").read().split()[0]))

    with tempfile.TemporaryDirectory() as work:
        pictures = {"bmp": os.path.join(work, "in.bmp")}
        make_picture(pictures["bmp"], a.width, a.height)
        for ext, extra in (("png", []), ("jpg", []), ("tif", ["--set", "TIFF_Compression=ioTIFF_LZW"])):
            pictures[ext] = os.path.join(work, "in." + ext)
            run_child([tools["vexa"], "convert"] + extra + [pictures["bmp"], pictures[ext]])
        if a.only != "ops":
            run_whole(tools, pictures, a.width, a.height, a.runs, work)
        if a.only != "whole":
            run_ops(tools, pictures["bmp"], a.width, a.height, a.runs, work, a.ops.split(",") if a.ops else None)


if __name__ == "__main__":
    main()
