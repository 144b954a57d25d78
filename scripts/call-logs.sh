#!/usr/bin/env bash
# Records what a host sees of every GIF kept in the tree, by each of the
# three roads into the filter, so that two builds (before and after a change
# to the import) can be compared with `diff -r`:
#
#   scripts/call-logs.sh BUILD_DIR OUT_DIR
#
# The inputs are examples/*.gif, tests/crashers/*.gif, tests/e2e/cases/*.gif
# and the GIF data of the fuzz seeds in fuzz/seeds/{import,import_gr,file_info}
# (each seed less its 4 control bytes). Each is imported with
# `BUILD_DIR/bin/gifimport import IN [--memory|--stream] --trace LOG -o PNG`;
# the PNG is thrown away. For an input at tree path P, OUT_DIR gets
#   P.ROAD.jsonl  the companion library's call log (--trace); ROAD is
#                 file, memory or stream
#   P.ROAD.rc     the host's exit status
#   P.ROAD.txt    what the host printed: stdout, then stderr
# and OUT_DIR/inputs.sha1 lists every input's data. Inputs are copied under
# their tree paths into a scratch folder and named relative to it, so the
# logs do not depend on where the tree or the scratch folder is.
#
# Environment: SRC_DIR the tree whose GIFs are read (default: the source
# folder BUILD_DIR was configured from); JOBS imports at once (default 2);
# TIMEOUT seconds an import may take before it counts as hung (default 120,
# exit status 124).
set -euo pipefail

if [[ $# -ne 2 ]]; then
  echo "usage: $0 BUILD_DIR OUT_DIR" >&2
  exit 2
fi
build_dir="$(cd "$1" && pwd)"
out_dir="$2"
host="$build_dir/bin/gifimport"
[[ -x "$host" ]] || { echo "$0: no $host" >&2; exit 2; }

src_dir="${SRC_DIR:-}"
if [[ -z "$src_dir" && -f "$build_dir/CMakeCache.txt" ]]; then
  src_dir="$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build_dir/CMakeCache.txt")"
fi
[[ -n "$src_dir" ]] || src_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
src_dir="$(cd "$src_dir" && pwd)"

# An old log left in OUT_DIR would pass for a new one.
if [[ -e "$out_dir" ]] && [[ -n "$(ls -A "$out_dir")" ]]; then
  echo "$0: $out_dir is not empty" >&2
  exit 2
fi
mkdir -p "$out_dir"
out_dir="$(cd "$out_dir" && pwd)"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
started=$SECONDS

# Copy the inputs under their tree paths; seeds lose their control bytes.
cd "$src_dir"
shopt -s nullglob
for gif in examples/*.gif tests/crashers/*.gif tests/e2e/cases/*.gif; do
  mkdir -p "$scratch/in/$(dirname "$gif")"
  cp "$gif" "$scratch/in/$gif"
done
for seed in fuzz/seeds/import/* fuzz/seeds/import_gr/* fuzz/seeds/file_info/*; do
  [[ -f "$seed" ]] || continue
  mkdir -p "$scratch/in/$(dirname "$seed")"
  tail -c +5 "$seed" >"$scratch/in/$seed"
done
shopt -u nullglob

cd "$scratch/in"
find . -type f -printf '%P\n' | LC_ALL=C sort >"$scratch/list"
mkdir -p "$scratch/png" "$scratch/windir"
(xargs -d '\n' sha1sum <"$scratch/list") >"$out_dir/inputs.sha1"

# One input, three roads. Runs with the scratch copy of the tree as its
# folder. WINDIR names an empty folder and the memory budget is the host's
# default, so no profile or setting of the caller's changes the import.
run_one() {
  local input="$1" road flag base rc
  mkdir -p "$OUT_DIR/$(dirname "$input")" "$SCRATCH/png/$(dirname "$input")"
  for road in file memory stream; do
    case $road in
      file) flag=() ;;
      memory) flag=(--memory) ;;
      stream) flag=(--stream) ;;
    esac
    base="$OUT_DIR/$input.$road"
    rc=0
    timeout "$TIMEOUT" "$HOST" import "$input" "${flag[@]}" --trace "$base.jsonl" \
      -o "../png/$input.$road.png" >"$SCRATCH/png/$input.$road.out" \
      2>"$SCRATCH/png/$input.$road.err" </dev/null || rc=$?
    echo "$rc" >"$base.rc"
    {
      echo "--- stdout"
      cat "$SCRATCH/png/$input.$road.out"
      echo "--- stderr"
      cat "$SCRATCH/png/$input.$road.err"
    } >"$base.txt"
    rm -f "$SCRATCH/png/$input.$road".*
  done
}
export -f run_one
export HOST="$host" OUT_DIR="$out_dir" SCRATCH="$scratch" TIMEOUT="${TIMEOUT:-120}"
export WINDIR="$scratch/windir"
unset GIFIMPORT_MAX_MEMORY

# shellcheck disable=SC2016  # $1 is run_one's, expanded by the inner bash
xargs -d '\n' -n 1 -P "${JOBS:-2}" bash -c 'run_one "$1"' _ <"$scratch/list"

inputs=$(wc -l <"$scratch/list")
logs=$(find "$out_dir" -name '*.jsonl' | wc -l)
echo "$inputs inputs, $logs call logs in $out_dir ($((SECONDS - started)) s)"
echo "exit statuses (count, status):"
find "$out_dir" -name '*.rc' -exec cat {} + | sort | uniq -c | sort -rn
