#!/usr/bin/env python3
"""Mutation check: how many small faults planted in the filter do the tests catch?

Applies a fixed, seeded set of one-line mutants (flipped comparison, constant off by one,
dropped statement, negated condition, swapped logical operator) to the decoding core, the
status protocol, the builder steps, the raster stage, the profile reader and the host entries.
Each mutant is built incrementally in a private worktree of HEAD and the test suite is run
against it; a mutant is caught when some test fails (or times out). Prints the share caught
per folder and lists the survivors. Not part of CI: a full run takes a while (see --help).

  python3 scripts/mutate.py                 # the default 320 mutants
  python3 scripts/mutate.py --list          # show the mutants, run nothing
  python3 scripts/mutate.py --count 40 --area raster
"""
import argparse
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time

# Areas and the files they mutate; the folder is the first path component.
AREAS = {
    "decoder": ["gif/lzw_core.cpp", "gif/lzw_decoder.cpp", "gif/gif_header.cpp",
                "gif/import_driver.cpp", "gif/plain_text.cpp"],
    "raster": ["gif/raster.cpp"],
    "status": ["core/status.cpp"],
    "builder": ["output/builder_steps.cpp"],
    "profile": ["profile/profile.cpp", "profile/mode_section.cpp"],
    "entries": ["filter/host_entries.cpp", "filter/setup_lifecycle.cpp",
                "filter/file_info.cpp", "filter/import_file.cpp"],
}

FLIP = {"<": ">=", "<=": ">", ">": "<=", ">=": "<", "==": "!=", "!=": "=="}
CMP_RE = re.compile(r"(?<=\s)(<=|>=|==|!=|<|>)(?=\s)")
INT_RE = re.compile(r"(?<![\w.])(0[xX][0-9a-fA-F]+|\d+)(?![\w.])")
IF_RE = re.compile(r"\b(if|while) \((.*)\)(\s*(\{|return\b.*|[^;]*;)?\s*)$")
LOGIC_RE = re.compile(r"(?<=\s)(&&|\|\|)(?=\s)")
SKIP_LINE = re.compile(r"^\s*(#|//|\*|/\*|static_assert|case\b|namespace\b|template\b|"
                       r"using\b|typedef\b|struct\b|enum\b|extern\b)")
DECL_START = re.compile(r"^\s*(const\s+|static\s+|constexpr\s+)*"
                        r"(auto|bool|char|int|unsigned|long|short|size_t|u?int\d+_t|"
                        r"[A-Z]\w*(\s*\*|\s+\w+\s*[=;({\[]))\b")


def strip_comment(line):
    """The code part of a line, or None when the line holds a string literal (left alone)."""
    if '"' in line or "'" in line:
        return None
    return line.split("//", 1)[0]


def candidates(path, text):
    """Every one-line mutant of a file: (line number, operator, new line)."""
    out = []
    for no, line in enumerate(text.split("\n"), 1):
        if SKIP_LINE.match(line):
            continue
        code = strip_comment(line)
        if code is None or not code.strip():
            continue
        rest = line[len(code):]
        # Template brackets and includes are not comparisons.
        if "<" in code and re.search(r"\w<\w", code):
            continue
        for m in CMP_RE.finditer(code):
            new = code[:m.start()] + FLIP[m.group(1)] + code[m.end():]
            out.append((no, "flip " + m.group(1), new + rest))
        for m in INT_RE.finditer(code):
            lit = m.group(1)
            value = int(lit, 16) if lit.lower().startswith("0x") else int(lit)
            if value > 1 << 20 or "[" in code[:m.start()][-1:]:
                continue
            repl = hex(value + 1) if lit.lower().startswith("0x") else str(value + 1)
            new = code[:m.start()] + repl + code[m.end():]
            out.append((no, "const %s+1" % lit, new + rest))
        for m in LOGIC_RE.finditer(code):
            other = "||" if m.group(1) == "&&" else "&&"
            new = code[:m.start()] + other + code[m.end():]
            out.append((no, "swap " + m.group(1), new + rest))
        m = IF_RE.search(code)
        if m and code.count("(") == code.count(")"):
            new = code[:m.start(2)] + "!(" + m.group(2) + ")" + code[m.end(2):]
            out.append((no, "negate " + m.group(1), new + rest))
        stripped = code.strip()
        if (stripped.endswith(";") and not DECL_START.match(code)
                and not stripped.startswith(("return", "break", "continue", "}", "else"))
                and code.count("(") == code.count(")") and "=" not in stripped.split("(")[0][-1:]):
            indent = code[:len(code) - len(code.lstrip())]
            out.append((no, "drop statement", indent + ";" + rest))
    return out


def pick(root, seed, count, only):
    per_area = {}
    for area in AREAS:
        # One generator per area, so an area's mutants are the same whichever areas are run.
        rng = random.Random("%d:%s" % (seed, area))
        muts = []
        for rel in AREAS[area]:
            path = os.path.join(root, rel)
            if not os.path.exists(path):
                continue
            with open(path) as f:
                text = f.read()
            muts += [(area, rel, no, op, new) for no, op, new in candidates(rel, text)]
        rng.shuffle(muts)
        per_area[area] = muts
    # Spread the count over the areas in proportion to their candidates, at least 20 each.
    total = sum(len(m) for m in per_area.values()) or 1
    chosen = []
    # The shares are taken over every area, so `--area X` runs exactly X's mutants of a full run.
    for area, muts in per_area.items():
        n = max(min(20, len(muts), count), round(count * len(muts) / total))
        if not only or area in only:
            chosen += muts[:n]
    return chosen


def run(cmd, cwd, timeout):
    # Its own process group, so a time-out also ends the test programs ctest started.
    p = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                         start_new_session=True)
    try:
        return p.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, signal.SIGKILL)
        p.wait()
        return -1


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--seed", type=int, default=20261206)
    ap.add_argument("--count", type=int, default=320, help="mutants in all (default 320)")
    ap.add_argument("--area", action="append", choices=sorted(AREAS), help="only these areas")
    ap.add_argument("--list", action="store_true", help="print the mutants and stop")
    ap.add_argument("--work", help="private worktree of HEAD (default: one per checkout in /tmp)")
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    ap.add_argument("--test-timeout", type=int, default=30, help="seconds per test")
    # Tests with a TIMEOUT of their own (the whole-corpus import) ignore --test-timeout; a mutant
    # that only slows decoding would hold them for minutes, so the whole run is bounded too.
    ap.add_argument("--mutant-timeout", type=int, default=180,
                    help="seconds for one mutant's test run; past it the mutant counts as caught")
    ap.add_argument("--json", help="write every mutant's outcome here")
    args = ap.parse_args()

    repo = subprocess.check_output(["git", "rev-parse", "--show-toplevel"], text=True).strip()
    mutants = pick(repo, args.seed, args.count, args.area)
    if args.list:
        for area, rel, no, op, new in mutants:
            print("%-8s %s:%d %s: %s" % (area, rel, no, op, new.strip()))
        print("%d mutants" % len(mutants))
        return 0

    work = args.work or "/tmp/gifimport-mutate-" + os.path.basename(repo)
    head = subprocess.check_output(["git", "rev-parse", "HEAD"], cwd=repo, text=True).strip()
    build = os.path.join(work, "build")
    if os.path.exists(os.path.join(build, "CMakeCache.txt")):
        # Reuse the scratch tree and its build: move it to HEAD and build incrementally.
        subprocess.check_call(["git", "checkout", "-q", "--force", "--detach", head], cwd=work)
    else:
        if os.path.exists(work):
            subprocess.run(["git", "worktree", "remove", "--force", work], cwd=repo)
            shutil.rmtree(work, ignore_errors=True)
        subprocess.check_call(["git", "worktree", "add", "--detach", "-q", work, head], cwd=repo)
        subprocess.check_call(["cmake", "-S", work, "-B", build, "-G", "Ninja",
                               "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DGIFIMPORT_BENCH=OFF"],
                              stdout=subprocess.DEVNULL)
    ctest = ["ctest", "-j", str(args.jobs), "--stop-on-failure", "--timeout",
             str(args.test_timeout)]
    start = time.time()
    if run(["cmake", "--build", build, "-j", str(args.jobs)], work, 3600) != 0:
        sys.exit("the unmutated tree does not build")
    if run(ctest, build, 3600) != 0:
        sys.exit("the unmutated tree fails its tests")
    print("baseline built and passed in %.0f s" % (time.time() - start), flush=True)

    results = []
    for i, (area, rel, no, op, new) in enumerate(mutants, 1):
        path = os.path.join(work, rel)
        with open(path) as f:
            original = f.read()
        lines = original.split("\n")
        lines[no - 1] = new
        with open(path, "w") as f:
            f.write("\n".join(lines))
        t0 = time.time()
        if run(["cmake", "--build", build, "-j", str(args.jobs)], work, 900) != 0:
            outcome = "uncompiled"
        else:
            outcome = "caught" if run(ctest, build, args.mutant_timeout) != 0 else "survived"
        with open(path, "w") as f:
            f.write(original)
        results.append({"area": area, "file": rel, "line": no, "op": op,
                        "mutant": new.strip(), "outcome": outcome,
                        "seconds": round(time.time() - t0, 1)})
        print("[%3d/%d] %-10s %4.0fs %s:%d %s" % (i, len(mutants), outcome, time.time() - t0,
                                                 rel, no, op), flush=True)
        if args.json:  # kept up to date, so a run cut short still leaves its figures
            with open(args.json, "w") as f:
                json.dump(results, f, indent=1)
    # Leave the worktree's build as it was for a later run.
    run(["cmake", "--build", build, "-j", str(args.jobs)], work, 3600)

    print("\narea      folder   caught / compiled  score")
    for area in AREAS:
        rs = [r for r in results if r["area"] == area and r["outcome"] != "uncompiled"]
        if rs:
            caught = sum(r["outcome"] == "caught" for r in rs)
            print("%-9s %-8s %4d / %-4d        %5.1f%%" % (area, AREAS[area][0].split("/")[0],
                                                        caught, len(rs), 100.0 * caught / len(rs)))
    folders = sorted({r["file"].split("/")[0] for r in results})
    for folder in folders:
        rs = [r for r in results if r["file"].startswith(folder + "/") and r["outcome"] != "uncompiled"]
        if rs:
            caught = sum(r["outcome"] == "caught" for r in rs)
            print("folder %-8s %4d / %-4d  %5.1f%%" % (folder, caught, len(rs), 100.0 * caught / len(rs)))
    compiled = [r for r in results if r["outcome"] != "uncompiled"]
    caught = sum(r["outcome"] == "caught" for r in compiled)
    print("all             %4d / %-4d        %5.1f%%   (%d did not compile; %.0f min)" % (
        caught, len(compiled), 100.0 * caught / max(1, len(compiled)),
        len(results) - len(compiled), (time.time() - start) / 60))
    print("\nsurvivors:")
    for r in results:
        if r["outcome"] == "survived":
            print("  %s:%d %s: %s" % (r["file"], r["line"], r["op"], r["mutant"]))
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
