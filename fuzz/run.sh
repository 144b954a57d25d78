#!/usr/bin/env bash
# Builds the "fuzz" preset and runs each fuzz entry point for a while, one
# after another (one process at a time), each on a working corpus that
# starts from the committed seeds.
#
#   fuzz/run.sh [SECONDS]        seconds per fuzzer, 300 unless given
#
# Environment: BUILD_DIR (default build/fuzz), FUZZERS (default: all built),
# FUZZ_FLAGS (more libFuzzer flags). Crashes, leaks, timeouts and
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

status=0
for name in $fuzzers; do
  corpus="$build_dir/corpus/$name"
  findings="$build_dir/findings/$name"
  mkdir -p "$corpus" "$findings"
  echo "== fuzz_$name for ${seconds}s (corpus $corpus)"
  if ! "$build_dir/bin/fuzz_$name" "$corpus" "$source_dir/fuzz/seeds/$name" \
      -max_total_time="$seconds" -max_len=4096 -timeout=5 -rss_limit_mb=2048 \
      -artifact_prefix="$findings/" -print_final_stats=1 ${FUZZ_FLAGS:-}; then
    echo "== fuzz_$name stopped on a finding; see $findings"
    status=1
  fi
done
exit $status
