#!/usr/bin/python3
"""One benchmark run: bench_fast (plain and fast forms on a 6000 x 4000
picture made from the sample photo), then, in the same run, OpenCV's
GaussianBlur with the same sigma and a kernel of 6 sigma + 1 on the same
picture, the whole commands (tessarin-cli miniature against an OpenCV
script that reads, blurs and writes the same file) with their peak memory,
and a table of the targets: each ratio with its limit and whether it is met.

Uses python3-opencv from Debian (/usr/bin/python3). Prints the machine's
load average before and after, since the machine may be shared.

    bench/run_bench.py [--build DIR] [--quick] [--before-cli PATH]

--before-cli names a tessarin-cli built from an earlier version (before the
fast forms); its whole commands are timed beside today's, once each.
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

import cv2

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def load_average():
    with open("/proc/loadavg") as f:
        return f.read().split()[0:3]


def median_seconds(runs, fn):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def timed_command(args, runs=3):
    """Median wall time and the largest peak resident set (kB) of a command,
    both from /usr/bin/time."""
    times, peaks = [], []
    for _ in range(runs):
        out = subprocess.run(["/usr/bin/time", "-f", "TIME %e %M"] + args, capture_output=True, text=True)
        if out.returncode != 0:
            sys.exit("failed: %s\n%s" % (" ".join(args), out.stderr))
        m = re.search(r"TIME ([0-9.]+) ([0-9]+)", out.stderr)
        times.append(float(m.group(1)))
        peaks.append(int(m.group(2)))
    return statistics.median(times), max(peaks)


def parse(lines):
    data = {}
    for line in lines:
        if not line.startswith("@ "):
            continue
        parts = line[2:].split()
        if "=" in parts[0]:
            name, fields = "run", parts
        else:
            name, fields = parts[0], parts[1:]
        data[name] = {k: v for k, v in (f.split("=", 1) for f in fields)}
    return data


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--quick", action="store_true", help="skip the slowest plain runs")
    parser.add_argument("--before-cli", help="a tessarin-cli from before the fast forms, timed beside")
    args = parser.parse_args()
    bench = os.path.join(args.build, "bench", "bench_fast")
    cli = os.path.join(args.build, "src", "cli", "tessarin-cli")

    print("load average before: %s" % " ".join(load_average()))
    print("OpenCV %s, %d threads" % (cv2.__version__, cv2.getNumThreads()))
    work = tempfile.mkdtemp(prefix="tessarin-bench-")
    command = [bench, "--keep", work] + (["--quick"] if args.quick else [])
    env = dict(os.environ, TESSARIN_SOURCE_DIR=ROOT)
    proc = subprocess.Popen(command, stdout=subprocess.PIPE, text=True, env=env)
    lines = []
    for line in proc.stdout:
        lines.append(line)
        if not line.startswith("@"):
            sys.stdout.write(line)
            sys.stdout.flush()
    if proc.wait() != 0:
        sys.exit("bench_fast failed")
    ours = parse(lines)

    bmp = os.path.join(work, "sample.bmp")
    jpg = os.path.join(work, "sample.jpg")
    picture = cv2.imread(bmp)
    print("\nOpenCV GaussianBlur on the same %d x %d picture (median of 5):" % (picture.shape[1], picture.shape[0]))
    opencv = {}
    for sigma in (7, 20):
        k = 6 * sigma + 1
        opencv[sigma] = median_seconds(5, lambda: cv2.GaussianBlur(picture, (k, k), sigma))
        print("  sigma %2d, kernel %3d: %.3f s" % (sigma, k, opencv[sigma]))

    # Whole commands on the same BMP: ours with its default tone step,
    # OpenCV's read + blur + write.
    script = os.path.join(HERE, "opencv_blur.py")
    ours_cmd, ours_peak = timed_command([cli, "miniature", bmp, "-o", os.path.join(work, "out.bmp"),
                                         "--blur", "20", "--angle", "30"])
    cv_cmd, cv_peak = timed_command(["/usr/bin/python3", script, bmp, os.path.join(work, "cv.bmp"), "20"])
    jpg_cmd, jpg_peak = timed_command([cli, "miniature", jpg, "-o", os.path.join(work, "out.jpg")])
    png_cmd, png_peak = timed_command([cli, "tone", bmp, os.path.join(work, "out.png")])
    print("\nWhole commands (median of 3, peak memory from /usr/bin/time):")
    print("  tessarin-cli miniature BMP->BMP blur 20 angle 30  %6.2f s  %7.1f MB" % (ours_cmd, ours_peak / 1024))
    print("  OpenCV read + GaussianBlur sigma 20 + write       %6.2f s  %7.1f MB" % (cv_cmd, cv_peak / 1024))
    print("  tessarin-cli miniature JPEG->JPEG (defaults)      %6.2f s  %7.1f MB" % (jpg_cmd, jpg_peak / 1024))
    print("  tessarin-cli tone BMP->PNG                        %6.2f s  %7.1f MB" % (png_cmd, png_peak / 1024))
    if args.before_cli:
        old = args.before_cli
        b_cmd, b_peak = timed_command([old, "miniature", bmp, "-o", os.path.join(work, "old.bmp"),
                                       "--blur", "20", "--angle", "30"], runs=1)
        j_cmd, j_peak = timed_command([old, "miniature", jpg, "-o", os.path.join(work, "old.jpg")], runs=1)
        p_cmd, p_peak = timed_command([old, "tone", bmp, os.path.join(work, "old.png")], runs=1)
        print("  before (%s), one run each:" % old)
        print("    miniature BMP->BMP blur 20 angle 30             %6.2f s  %7.1f MB" % (b_cmd, b_peak / 1024))
        print("    miniature JPEG->JPEG (defaults)                 %6.2f s  %7.1f MB" % (j_cmd, j_peak / 1024))
        print("    tone BMP->PNG                                   %6.2f s  %7.1f MB" % (p_cmd, p_peak / 1024))
        for name in ("out.bmp", "old.bmp"), ("out.jpg", "old.jpg"):
            same = subprocess.run(["cmp", "-s"] + [os.path.join(work, n) for n in name]).returncode == 0
            print("    %s and %s identical: %s" % (name[0], name[1], "yes" if same else "NO"))

    def fast(name):
        return float(ours[name]["fast"])

    picture_mb = 6000 * 4000 * 3 / 2**20
    apply20, apply7 = fast("Apply__mask+blur+blend__blur_20"), fast("Apply__mask+blur+blend__blur_7")
    masks = [fast("mask_angle_%d" % a) for a in (0, 30, 60, 90)]
    targets = [
        ("GaussianBlur zone 20 / OpenCV sigma 20", fast("GaussianBlur_zone_20") / opencv[20], 0.2, "<="),
        ("GaussianBlur zone 7 / OpenCV sigma 7", fast("GaussianBlur_zone_7") / opencv[7], 0.5, "<="),
        ("Apply blur 20 / OpenCV sigma 20", apply20 / opencv[20], 0.3, "<="),
        ("Apply blur 7 / OpenCV sigma 7", apply7 / opencv[7], 0.8, "<="),
        ("slowest mask (angles 0,30,60,90) / Apply blur 20", max(masks) / apply20, 0.15, "<="),
        ("tone (40, 10, -5), seconds", fast("tone__40__10__-5_"), 0.15, "<="),
        ("BmpResize Lanczos 3000x2000: plain / fast", float(ours["BmpResize_to_3000x2000_Lanczos"]["plain"])
         / fast("BmpResize_to_3000x2000_Lanczos"), 20, ">="),
        ("miniature command / OpenCV script", ours_cmd / cv_cmd, 0.5, "<="),
        ("miniature JPEG peak memory / picture (72 MB)", jpg_peak / 1024 / picture_mb, 4, "<="),
        ("PNG write 24 MP, seconds", float(ours["png"]["now"]), 1.5, "<="),
        ("PNG size / size with libpng defaults", float(ours["png"]["size"]) / float(ours["png"]["beforesize"]),
         1.15, "<="),
    ]
    print("\nTargets (this run):")
    for name, value, limit, sense in targets:
        met = value <= limit if sense == "<=" else value >= limit
        print("  %-52s %8.3f  %s %5.2f  %s" % (name, value, sense, limit, "met" if met else "NOT met"))
    same = [n for n, v in ours.items() if v.get("same") == "0"]
    print("\nfast and plain bytes differ in: %s" % (", ".join(same) if same else "none"))
    print("load average after: %s" % " ".join(load_average()))
    subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
