#!/usr/bin/env python3
"""bench_frame_path: the whole frame path, Pelora against what a user would
pick instead, in one run and alternating, so that both see the same machine.

For a 1920x1080 60 fps H.264 MP4 (600 frames, a keyframe every 250), a
640x480 30 fps MPEG-4 AVI (300 frames), and a 1920x1080 60 fps H.264 MP4 of
a noisy picture (300 frames, written by the ffmpeg command: x264 veryfast,
CRF 23), whose frames cost as much to decode as camera footage does (the
project's own clips are flat test patterns that decode almost for free):
  - pelora --headless CLIP --every-frame --no-plugin
      vs  ffmpeg -v error -i CLIP -f rawvideo -pix_fmt bgr24 -y /dev/null
  - pelora --headless CLIP --every-frame  (Tavro.so)
      vs  an OpenCV loop: cv2.VideoCapture read + cvtColor to grey +
          threshold 127 (Debian's python3-opencv)
and, for the 1080p clip, a real-time run (frames processed and skipped).
Each run's wall time, CPU time (user + system, all threads) and peak
resident memory are printed, then the median of each and the ratios: speed as a fraction of the peer's (above 1 is
faster than the peer), memory as a multiple of ffmpeg's decode.

Prints figures only; it never fails on a figure. Clips are written once into
BUILD/bench-clips/ (shared with bench_decode and bench_graph).

  bench/frame_path/bench_frame_path.py [--build DIR] [--repeat N] [--no-install]

python3-opencv and the ffmpeg command are installed here (apt-get, as root
or through sudo) unless --no-install is given; without OpenCV the OpenCV rows
are left out.
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# Debian's interpreter: python3-opencv installs for it, not for any other
# python3 that may come first on PATH.
SYSTEM_PYTHON = "/usr/bin/python3"

OPENCV_LOOP = r"""
import sys, cv2
cap = cv2.VideoCapture(sys.argv[1])
n = 0
while True:
    ok, frame = cap.read()
    if not ok:
        break
    grey = cv2.cvtColor(frame, cv2.COLOR_BGR2GRAY)
    _, bw = cv2.threshold(grey, 127, 255, cv2.THRESH_BINARY)
    n += 1
print(n)
"""


def have_opencv():
    return subprocess.run([SYSTEM_PYTHON, "-c", "import cv2"], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def apt_install(package):
    """Installs a Debian package for the comparison (as root or through sudo)."""
    sudo = [] if os.geteuid() == 0 else (["sudo"] if shutil.which("sudo") else None)
    if sudo is None:
        return
    print(f"installing {package} for the comparison", flush=True)
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    cmd = sudo + ["apt-get", "install", "-y", "-qq", "--no-install-recommends", package]
    if subprocess.run(cmd, env=env, stdout=subprocess.DEVNULL).returncode != 0:
        subprocess.run(sudo + ["apt-get", "update", "-qq"], env=env, stdout=subprocess.DEVNULL)
        subprocess.run(cmd, env=env, stdout=subprocess.DEVNULL)


def ensure_opencv(allow_install):
    if not have_opencv() and allow_install:
        apt_install("python3-opencv")
    return have_opencv()


def run(cmd):
    """Runs cmd; answers (seconds, CPU seconds, peak RSS in MiB, exit status, stdout)."""
    t0 = time.monotonic()
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    out = proc.stdout.read().decode("utf-8", "replace")
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.monotonic() - t0
    proc.returncode = os.waitstatus_to_exitcode(status)
    cpu = usage.ru_utime + usage.ru_stime
    return seconds, cpu, usage.ru_maxrss / 1024.0, proc.returncode, out


def ensure_clip(clipgen, path, fmt, size, frames, fps, gop):
    if os.path.exists(path):
        return
    os.makedirs(os.path.dirname(path), exist_ok=True)
    print(f"writing {path}", flush=True)
    tmp = path + ".part" + os.path.splitext(path)[1]
    subprocess.run([clipgen, "--out", tmp, "--format", fmt, "--size", size, "--frames",
                    str(frames), "--fps", str(fps), "--gop", str(gop)], check=True,
                   stdout=subprocess.DEVNULL)
    os.replace(tmp, path)


def ensure_noisy_clip(path, frames):
    if os.path.exists(path):
        return
    os.makedirs(os.path.dirname(path), exist_ok=True)
    print(f"writing {path}", flush=True)
    tmp = path + ".part.mp4"
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                    "testsrc2=size=1920x1080:rate=60,noise=alls=12:allf=t", "-frames:v",
                    str(frames), "-c:v", "libx264", "-preset", "veryfast", "-crf", "23", "-g",
                    "250", "-pix_fmt", "yuv420p", tmp], check=True)
    os.replace(tmp, path)


def processed_frames(out):
    m = re.search(r"# processed (\d+) frames in the playback loop, skipped (\d+)", out)
    return (int(m.group(1)), int(m.group(2))) if m else (None, None)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--no-install", action="store_true")
    args = ap.parse_args()
    bindir = os.path.join(args.build, "bin")
    pelora, clipgen = os.path.join(bindir, "pelora"), os.path.join(bindir, "clipgen")
    for exe in (pelora, clipgen):
        if not os.access(exe, os.X_OK):
            sys.exit(f"bench_frame_path: {exe} is missing (build first: scripts/build.sh)")
    if not shutil.which("ffmpeg") and not args.no_install:
        apt_install("ffmpeg")
    if not shutil.which("ffmpeg"):
        sys.exit("bench_frame_path: the ffmpeg command is missing (Debian package ffmpeg)")
    opencv = ensure_opencv(not args.no_install)
    if not opencv:
        print("python3-opencv is not available: the OpenCV rows are left out")

    clipdir = os.path.join(args.build, "bench-clips")
    clips = [
        ("1080p60 H.264 MP4", os.path.join(clipdir, "h264-1920x1080-60fps-600f-gop250.mp4"),
         ("mp4-h264", "1920x1080", 600, 60, 250), 600),
        ("640x480 MPEG-4 AVI", os.path.join(clipdir, "mpeg4-640x480-30fps-300f-gop250.avi"),
         ("avi-mpeg4", "640x480", 300, 30, 250), 300),
    ]
    for _, path, params, _ in clips:
        ensure_clip(clipgen, path, *params)
    noisy = os.path.join(clipdir, "h264-1920x1080-60fps-300f-noisy.mp4")
    ensure_noisy_clip(noisy, 300)
    clips.append(("1080p60 H.264 MP4, noisy picture", noisy, None, 300))

    medians = {}
    for name, path, _, frames in clips:
        rows = {
            "pelora every-frame, no plug-in": [pelora, "--headless", path, "--every-frame",
                                                "--no-plugin"],
            "ffmpeg decode to bgr24": ["ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo",
                                       "-pix_fmt", "bgr24", "-y", "/dev/null"],
            "pelora every-frame, Tavro.so": [pelora, "--headless", path, "--every-frame"],
        }
        if opencv:
            rows["OpenCV read+grey+threshold"] = [SYSTEM_PYTHON, "-c", OPENCV_LOOP, path]
        results = {k: [] for k in rows}
        print(f"\n== {name}: {frames} frames, {args.repeat} rounds", flush=True)
        for r in range(args.repeat):
            for what, cmd in rows.items():
                secs, cpu, rss, rc, out = run(cmd)
                note = "" if rc == 0 else f"  (exit {rc})"
                got = processed_frames(out)[0]
                if what.startswith("OpenCV"):
                    got = int(out.strip() or 0)
                if got is not None and got != frames:
                    note += f"  ({got} frames)"
                results[what].append((secs, rss, cpu))
                print(f"  round {r + 1} {what:34s} {secs:7.3f} s {frames / secs:8.1f} fps "
                      f"cpu {cpu:7.3f} s peak {rss:7.1f} MiB{note}", flush=True)
        med = {k: (statistics.median(x[0] for x in v), statistics.median(x[1] for x in v),
                   statistics.median(x[2] for x in v))
               for k, v in results.items()}
        medians[name] = med
        print("  medians:")
        for what, (secs, rss, cpu) in med.items():
            print(f"    {what:34s} {secs:7.3f} s {frames / secs:8.1f} fps cpu {cpu:7.3f} s "
                  f"peak {rss:7.1f} MiB")
        ff = med["ffmpeg decode to bgr24"]
        pn = med["pelora every-frame, no plug-in"]
        print(f"  ratio pelora no plug-in / ffmpeg speed: {ff[0] / pn[0]:.2f}x"
              f"  (CPU time {pn[2] / ff[2]:.2f}x, memory {pn[1] / ff[1]:.2f}x ffmpeg's)")
        if opencv:
            cv = med["OpenCV read+grey+threshold"]
            pt = med["pelora every-frame, Tavro.so"]
            print(f"  ratio pelora with Tavro.so / OpenCV loop speed: {cv[0] / pt[0]:.2f}x"
                  f"  (CPU time {pt[2] / cv[2]:.2f}x, memory {pt[1] / cv[1]:.2f}x the loop's)")

    name, path, _, frames = clips[0]
    secs, _, rss, rc, out = run([pelora, "--headless", path])
    done, skipped = processed_frames(out)
    ff_rss = medians[name]["ffmpeg decode to bgr24"][1]
    print(f"\n== real-time playback, {name}: {done} of {frames} frames processed, "
          f"{skipped} skipped, {secs:.2f} s, peak {rss:.1f} MiB = {rss / ff_rss:.2f}x ffmpeg's "
          f"decode ({ff_rss:.1f} MiB){'' if rc == 0 else f'  (exit {rc})'}")

    graph = os.path.join(bindir, "bench_graph")
    if os.access(graph, os.X_OK):
        print("\n== stepping and exact seeks (bench_graph --repeat 1 --seeks 20)", flush=True)
        out = run([graph, "--repeat", "1", "--seeks", "20"])[4]
        for line in out.splitlines():
            if re.search(r"==|random|step|wrong", line):
                print("  " + line.strip())


if __name__ == "__main__":
    main()
