#!/usr/bin/env python3
"""Start-up time of Velbrook: from process start to the first paint of the main
window with the demo disc's rows in it, median of several runs.

    bench/app/startup_bench.py [--program build/bin/velbrook] [--runs 5]

The program prints the moment of that paint (CLOCK_MONOTONIC) when
VELBROOK_TRACE_STARTUP=1; this script takes the same clock just before it
starts the process. Without a display it runs itself under xvfb-run.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

TARGET_SECONDS = 0.5


def one_run(program, cue, home):
    env = dict(os.environ, VELBROOK_HOME=home, VELBROOK_TRACE_STARTUP="1")
    start = time.monotonic_ns()
    process = subprocess.Popen([program, "--cd-image", cue], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, env=env, text=True)
    try:
        for line in process.stdout:
            if line.startswith("velbrook: first paint with"):
                rows = int(line.split()[4])
                painted = int(line.split("monotonic")[1].split()[0])
                return (painted - start) / 1e9, rows
        raise RuntimeError("velbrook ended without painting its main window")
    finally:
        process.terminate()
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--program", default=os.path.join(here, "..", "..", "build", "bin", "velbrook"))
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    program = os.path.abspath(args.program)
    if not os.access(program, os.X_OK):
        sys.exit(f"startup_bench: {program} is not built (./run builds it)")

    if not os.environ.get("DISPLAY") and not os.environ.get("WAYLAND_DISPLAY") \
            and not os.environ.get("VELBROOK_BENCH_UNDER_XVFB"):
        if not shutil.which("xvfb-run"):
            sys.exit("startup_bench: no display and no xvfb-run")
        env = dict(os.environ, VELBROOK_BENCH_UNDER_XVFB="1")
        sys.exit(subprocess.call(["xvfb-run", "-a", "-s", "-screen 0 1024x768x24", sys.executable,
                                  os.path.abspath(__file__), "--program", program, "--runs", str(args.runs)],
                                 env=env))

    with tempfile.TemporaryDirectory(prefix="velbrook-startup-") as work:
        cue = os.path.join(work, "demo.cue")
        subprocess.run([os.path.join(os.path.dirname(program), "velbrook-demodisc"), cue], check=True)
        # One start that is not counted, so every counted one finds the program
        # and its libraries in the page cache.
        one_run(program, cue, tempfile.mkdtemp(dir=work))
        times = []
        for run in range(args.runs):
            seconds, rows = one_run(program, cue, tempfile.mkdtemp(dir=work))
            times.append(seconds)
            print(f"run {run + 1}: {seconds * 1000:.1f} ms to the first paint with {rows} rows")
    median = statistics.median(times)
    verdict = "meets" if median < TARGET_SECONDS else "MISSES"
    print(f"median of {args.runs}: {median * 1000:.1f} ms ({verdict} the {TARGET_SECONDS * 1000:.0f} ms target)")
    return 0 if median < TARGET_SECONDS else 1


if __name__ == "__main__":
    sys.exit(main())
