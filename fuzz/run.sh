#!/usr/bin/env bash
# Builds the "fuzz" preset and runs each fuzz entry point for a while,
# FUZZ_JOBS of them at once (1 unless set), each on a working corpus that
# starts from the committed seeds.
#
#   fuzz/run.sh [SECONDS]        seconds per fuzzer, 300 unless given
#
# Environment: BUILD_DIR (default build/fuzz), FUZZERS (default: all built),
# FUZZ_JOBS, FUZZ_FLAGS (more libFuzzer flags). Each fuzzer's output goes to
# $BUILD_DIR/findings/NAME.log, its last lines to the terminal; the status is
# 1 when any fuzzer stopped on a finding. Crashes, leaks, timeouts and
# out-of-memory inputs land in $BUILD_DIR/findings/NAME/; replay one with
#   $BUILD_DIR/bin/fuzz_NAME FILE
set -euo pipefail

seconds="${1:-300}"
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${BUILD_DIR:-$source_dir/build/fuzz}"

cmake -S "$source_dir" -B "$build_dir" --preset fuzz >/dev/null
cmake --build "$build_dir" --target fuzzers -j2

fuzzers="${FUZZERS:-}"
if [[ -z "$fuzzers" ]]; then
  for seeds in "$source_dir"/fuzz/seeds/*/; do
    name="$(basename "$seeds")"
    [[ -x "$build_dir/bin/fuzz_$name" ]] && fuzzers+="$name "
  done
fi

# The fuzzers whose inputs are GIFs get the GIF dictionary (so does the
# fuzzing service: .clusterfuzzlite/build.sh).
dict_flag() {
  case "$1" in
    import | file_info | import_gr) echo "-dict=$source_dir/fuzz/gif.dict" ;;
  esac
}

fuzz_one() {
  local name="$1" corpus="$build_dir/corpus/$1" findings="$build_dir/findings/$1"
  mkdir -p "$corpus" "$findings"
  # shellcheck disable=SC2046
  if "$build_dir/bin/fuzz_$name" "$corpus" "$source_dir/fuzz/seeds/$name" $(dict_flag "$name") \
      -max_total_time="$seconds" -max_len=4096 -timeout=25 -rss_limit_mb=2048 \
      -artifact_prefix="$findings/" -print_final_stats=1 ${FUZZ_FLAGS:-} >"$findings.log" 2>&1; then
    echo "== fuzz_$name: $(grep -E '^#[0-9]+' "$findings.log" | tail -n 1)"
  else
    tail -n 40 "$findings.log"
    echo "== fuzz_$name stopped on a finding; see $findings"
    return 1
  fi
}

status=0
running=0
for name in $fuzzers; do
  echo "== fuzz_$name for ${seconds}s (corpus $build_dir/corpus/$name)"
  fuzz_one "$name" &
  if (( ++running >= ${FUZZ_JOBS:-1} )); then
    wait -n || status=1
    ((running--))
  fi
done
while ((running--)); do wait -n || status=1; done
exit $status
