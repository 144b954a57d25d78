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
# One process for all the seeds (perl-base, always there on Debian): a fork
# per file costs more than the copies on a loaded machine.
cd "$src_dir"
gif_folders=(examples tests/crashers tests/e2e/cases)
seed_folders=(fuzz/seeds/import fuzz/seeds/import_gr fuzz/seeds/file_info)
for folder in "${gif_folders[@]}" "${seed_folders[@]}"; do mkdir -p "$scratch/in/$folder"; done
shopt -s nullglob
for folder in "${gif_folders[@]}"; do
  gifs=("$folder"/*.gif)
  ((${#gifs[@]} == 0)) || cp "${gifs[@]}" "$scratch/in/$folder/"
done
seeds=()
for folder in "${seed_folders[@]}"; do
  for seed in "$folder"/*; do [[ -f "$seed" ]] && seeds+=("$seed"); done
done
shopt -u nullglob
perl -e '
  my $to = shift;
  for my $seed (@ARGV) {
    open(my $in, "<:raw", $seed) or die "$seed: $!\n";
    local $/;
    my $data = <$in> // "";
    open(my $out, ">:raw", "$to/$seed") or die "$to/$seed: $!\n";
    print $out substr($data, length($data) < 4 ? length($data) : 4);
    close($out) or die "$to/$seed: $!\n";
  }' "$scratch/in" "${seeds[@]}"

cd "$scratch/in"
find . -type f -printf '%P\n' | LC_ALL=C sort >"$scratch/list"
mkdir -p "$scratch/windir"
(xargs -d '\n' sha1sum <"$scratch/list") >"$out_dir/inputs.sha1"

# Folders for the logs and the thrown-away pictures, made once.
while IFS= read -r folder; do
  mkdir -p "$out_dir/$folder" "$scratch/png/$folder"
done < <(sed 's|/[^/]*$||' "$scratch/list" | LC_ALL=C sort -u)

# Some inputs, three roads each, with the scratch copy of the tree as the
# folder. WINDIR names an empty folder and the memory budget is the host's
# default, so no profile or setting of the caller's changes the import.
# Processes are few (a fork is dear on a loaded machine): the host's words
# go straight into the log's .txt, stderr through a file read by `read`.
run_some() {
  local input road flag base rc text errors="$SCRATCH/stderr.$BASHPID"
  for input; do
    for road in file memory stream; do
      case $road in
        file) flag=() ;;
        memory) flag=(--memory) ;;
        stream) flag=(--stream) ;;
      esac
      base="$OUT_DIR/$input.$road"
      rc=0
      {
        echo "--- stdout"
        timeout "$TIMEOUT" "$HOST" import "$input" "${flag[@]}" --trace "$base.jsonl" \
          -o "../png/$input.$road.png" 2>"$errors" </dev/null || rc=$?
        echo "--- stderr"
        text=""
        IFS= read -r -d '' text <"$errors" || true
        printf '%s' "$text"
      } >"$base.txt"
      echo "$rc" >"$base.rc"
    done
    rm -f "$SCRATCH/png/$input".*.png
  done
}
export -f run_some
export HOST="$host" OUT_DIR="$out_dir" SCRATCH="$scratch" TIMEOUT="${TIMEOUT:-120}"
export WINDIR="$scratch/windir"
unset GIFIMPORT_MAX_MEMORY

# shellcheck disable=SC2016  # $@ is run_some's, expanded by the inner bash
xargs -d '\n' -n 16 -P "${JOBS:-2}" bash -c 'run_some "$@"' _ <"$scratch/list"

inputs=$(wc -l <"$scratch/list")
logs=$(find "$out_dir" -name '*.jsonl' | wc -l)
echo "$inputs inputs, $logs call logs in $out_dir ($((SECONDS - started)) s)"
echo "exit statuses (count, status):"
find "$out_dir" -name '*.rc' -exec cat {} + | sort | uniq -c | sort -rn
