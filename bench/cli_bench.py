#!/usr/bin/env python3
"""The command line against Pillow on the 16-Mpx files of make_bench_gifs.

    bench/cli_bench.py [--build build/default] [--runs 5] [--cpu 1] [--cpu-time]
                       [--kinds photo8,noise8,noise4] [--dir DIR] [--python PY]

Makes the files (build/default/bin/make_bench_gifs) in a scratch folder
unless --dir names one that holds them, then times, each as a fresh process
pinned to one CPU, the median of RUNS runs (taken in turns) of:

  import   gifimport import F -q             (no output)
  info     gifimport info F
  convert  gifimport import F -q -o out.png  (the default: deflate level 1)
  Pillow   PY -c "Image.open(F).save(out, compress_level=1)"

(--cpu-time: user and system time instead of wall time, for a loaded
machine) and, for fairness, Pillow's open and save inside one interpreter
(the interpreter's start-up and the import of PIL left out). The table gives the
PNG sizes too: ours against Pillow's (zlib level 1), which ours should be
within 5% of. Pillow is Debian's python3-pil; PY is this interpreter when it
has PIL, else /usr/bin/python3.
"""

import argparse
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

# One run of Pillow inside the interpreter, after PIL is imported: prints
# the seconds its open and save took, the median of the runs asked.
PILLOW_IN_PROCESS = r"""
import statistics, sys, time
from PIL import Image
source, target, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
clock = time.process_time if sys.argv[4] == "cpu" else time.perf_counter
times = []
for _ in range(runs):
    start = clock()
    Image.open(source).save(target, compress_level=1)
    times.append(clock() - start)
print(statistics.median(times))
"""

PILLOW_ONCE = "from PIL import Image; import sys; Image.open(sys.argv[1]).save(sys.argv[2], compress_level=1)"


def pillow_python(asked):
    if asked:
        return asked
    try:
        import PIL  # noqa: F401  (only to know whether this interpreter has it)

        return sys.executable
    except ImportError:
        return "/usr/bin/python3"


def medians(commands, runs, cpu, cpu_time):
    """The median wall time (or CPU time) in ms of each of `commands` (name: argv), run
    `runs` times each, in turns, so that a change in the machine's load
    falls on all alike; one run of each first warms the caches. Every
    command must succeed."""
    def run(command):
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.perf_counter()
        # Pinned through this process's own affinity, which the child
        # inherits: a preexec_fn would force a full fork of the interpreter,
        # several ms that are not the command's.
        subprocess.run(
            command,
            check=True,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE,
        )
        wall = time.perf_counter() - start
        if not cpu_time:
            return wall * 1e3
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        return (after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime) * 1e3

    os.sched_setaffinity(0, {cpu})
    for command in commands.values():
        run(command)
    times = {name: [] for name in commands}
    for _ in range(runs):
        for name, command in commands.items():
            times[name].append(run(command))
    return {name: statistics.median(t) for name, t in times.items()}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default="build/default", help="the build folder")
    parser.add_argument("--runs", type=int, default=5, help="runs a figure (default 5)")
    parser.add_argument("--cpu", type=int, default=1, help="the CPU every run is pinned to")
    parser.add_argument("--kinds", default="photo8,noise8,noise4", help="files by kind")
    parser.add_argument("--dir", help="a folder with the files already made")
    parser.add_argument("--python", help="the interpreter with Pillow")
    parser.add_argument(
        "--cpu-time",
        action="store_true",
        help="CPU time (user + system) instead of wall time: steadier on a loaded machine",
    )
    args = parser.parse_args()

    bin_dir = os.path.join(args.build, "bin")
    host = os.path.join(bin_dir, "gifimport")
    bench = os.path.join(bin_dir, "import_bench")
    python = pillow_python(args.python)
    scratch = tempfile.TemporaryDirectory(prefix="cli-bench-")
    folder = args.dir or scratch.name
    if not args.dir:
        subprocess.run(
            [os.path.join(bin_dir, "make_bench_gifs"), folder], check=True, stdout=subprocess.DEVNULL
        )
    ours_png = os.path.join(scratch.name, "ours.png")
    pillow_png = os.path.join(scratch.name, "pillow.png")

    rows = []
    for kind in args.kinds.split(","):
        gif = os.path.join(folder, kind + "-4000.gif")
        if not os.path.exists(gif):
            sys.exit(f"cli_bench: no {gif}")
        r = {"file": kind}
        r.update(
            medians(
                {
                    "import": [host, "import", gif, "-q"],
                    "info": [host, "info", gif],
                    "convert": [host, "import", gif, "-q", "-o", ours_png],
                    "pillow": [python, "-c", PILLOW_ONCE, gif, pillow_png],
                },
                args.runs,
                args.cpu,
                args.cpu_time,
            )
        )
        inside = subprocess.run(
            [python, "-c", PILLOW_IN_PROCESS, gif, pillow_png, str(args.runs),
             "cpu" if args.cpu_time else "wall"],
            check=True,
            capture_output=True,
            text=True,
            preexec_fn=lambda: os.sched_setaffinity(0, {args.cpu}),
        )
        r["inside"] = float(inside.stdout) * 1e3
        # The same import as the first of a fresh process, timed inside it
        # (import_bench's child: from the file, no process start or exit).
        firsts = []
        for _ in range(args.runs):
            child = subprocess.run([bench, "--peak-memory=file", gif], check=True,
                                   capture_output=True, text=True)
            firsts.append(float(child.stdout.split()[2]) * 1e3)
        r["first"] = statistics.median(firsts)
        r["ours"] = os.path.getsize(ours_png)
        r["theirs"] = os.path.getsize(pillow_png)
        rows.append(r)

    clock = "CPU" if args.cpu_time else "wall"
    print(
        f"Medians of {args.runs} runs, {clock} ms, each a fresh process on CPU {args.cpu}; "
        "x Pillow = Pillow's time / convert's\n(in-process: Pillow's open and save without "
        "the interpreter's start-up); size = our PNG / Pillow's (level 1); first = the\n"
        "import as the first of a fresh process (import_bench's child, wall time inside it);\n"
        "x first = import / first (target at most 1.3).\n"
    )
    head = ("file", "import ms", "first ms", "x first", "info ms", "convert ms", "Pillow ms",
            "x Pillow", "in-proc ms", "x in-proc", "our PNG bytes", "Pillow bytes", "size")
    print("%-8s %10s %9s %8s %8s %11s %10s %9s %11s %10s %14s %13s %7s" % head)
    for r in rows:
        print(
            "%-8s %10.1f %9.1f %7.2fx %8.1f %11.1f %10.1f %8.2fx %11.1f %9.2fx %14d %13d %7.3f"
            % (r["file"], r["import"], r["first"], r["import"] / r["first"], r["info"],
               r["convert"], r["pillow"], r["pillow"] / r["convert"], r["inside"],
               r["inside"] / r["convert"], r["ours"], r["theirs"], r["ours"] / r["theirs"])
        )
    worst = max(r["ours"] / r["theirs"] for r in rows)
    print(f"\nlargest size ratio {worst:.3f} ({'within' if worst <= 1.05 else 'OVER'} 5%)")


if __name__ == "__main__":
    main()
