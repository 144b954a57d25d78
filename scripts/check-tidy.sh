#!/usr/bin/env bash
# Runs clang-tidy (Debian 12's, version 14) under .clang-tidy over the
# product's sources: the filter's layers, the resources, the platform
# stand-in, the companion stand-in and the host; not the tests, fuzzers,
# benchmarks or examples. Prints each finding once (a header's findings come
# from every file that includes it) and a count per check.
#   bash scripts/check-tidy.sh            findings are reported, exit 0
#   bash scripts/check-tidy.sh --werror   any finding fails (CI)
# Exits non-zero also when a file cannot be analysed. TIDY_JOBS sets how many
# files are analysed at once (default: the processor count).
set -euo pipefail
cd "$(dirname "$0")/.."
werror=""
case "${1:-}" in
  "") ;;
  --werror) werror="--warnings-as-errors=*" ;;
  *) echo "usage: $0 [--werror]" >&2; exit 2 ;;
esac
tidy=$(command -v clang-tidy-14 || command -v clang-tidy) || {
  echo "clang-tidy is not installed (scripts/install-deps.sh)" >&2
  exit 2
}
# The default preset exports its compile database; configuring is enough.
build=build/default
cmake --preset default >/dev/null
folders='core|gif|output|profile|filter|resources|platform|companion|host'
logs="$build/tidy"
rm -rf "$logs"
mkdir -p "$logs"
start=$SECONDS
# run-clang-tidy 14 cannot pass --warnings-as-errors, so xargs runs the files.
python3 - "$build/compile_commands.json" "$PWD" "$folders" >"$logs/files" <<'EOF'
import json, os, re, sys
database, root, folders = sys.argv[1:]
pattern = re.compile(r"(%s)/" % folders)
names = sorted({os.path.relpath(e["file"], root) for e in json.load(open(database))})
print("\n".join(n for n in names if pattern.match(n)))
EOF
export tidy build logs werror
# shellcheck disable=SC2016
tr '\n' '\0' <"$logs/files" | xargs -0 -P "${TIDY_JOBS:-$(nproc)}" -n 1 bash -c '
  log="$logs/$(echo "$1" | tr / _).log"
  "$tidy" --quiet -p "$build" ${werror:+"$werror"} "$1" >"$log" 2>&1 && rc=0 || rc=$?
  echo "$rc" >"$log.rc"
' _
status=0
python3 - "$logs" "$(wc -l <"$logs/files")" "$((SECONDS - start))" "${werror:+1}" <<'EOF' || status=$?
import collections, glob, os, re, sys
logs, files, seconds, werror = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4] == "1"
root = os.getcwd() + "/"
head = re.compile(r"^(/\S+?):\d+:\d+: (warning|error): .*\[([^\]]+)\]$")
findings = {}  # first line -> (checks, text)
failed = []
for log in sorted(glob.glob(os.path.join(logs, "*.log"))):
    rc = int(open(log + ".rc").read())
    current = None
    seen = False
    for line in open(log, errors="replace"):
        line = line.rstrip("\n")
        match = head.match(line)
        if match:
            seen = True
            checks = match.group(3).replace(",-warnings-as-errors", "")
            current = line.replace(root, "")
            if current in findings:
                current = None  # a header's finding, seen from another file
            else:
                findings[current] = [checks, []]
        elif current is not None and not re.match(r"^\d+ (warnings?|errors?) generated\.$", line):
            findings[current][1].append(line.replace(root, ""))
    # Without --werror only a file that cannot be compiled fails clang-tidy.
    if rc != 0 and (not werror or not seen):
        failed.append(os.path.basename(log))
for first, (checks, text) in findings.items():
    print(first)
    print("\n".join(text))
counts = collections.Counter(checks for checks, _ in findings.values())
plural = "" if len(findings) == 1 else "s"
print("clang-tidy: %d files in %s s, %d finding%s" % (files, seconds, len(findings), plural))
for checks, n in counts.most_common():
    print("  %5d %s" % (n, checks))
for name in failed:
    print("could not analyse: " + name)
sys.exit(2 if failed else 1 if findings else 0)
EOF
if ((status == 1)) && [ -z "$werror" ]; then status=0; fi
exit $status
