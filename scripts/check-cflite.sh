#!/usr/bin/env bash
# Proves the fuzzing service's build here, without its images: runs
# .clusterfuzzlite/build.sh with the variables a ClusterFuzzLite or OSS-Fuzz
# build sets for each sanitizer (clang, -fsanitize=fuzzer-no-link and the
# sanitizer's flags, the engine -fsanitize=fuzzer; the service also builds
# with libc++, which Debian's libFuzzer, built on libstdc++, cannot link
# with), checks that each fuzzer in $OUT
# loads its modules from beside it, and runs each on its seed zip for a few
# seconds (CFLITE_SECONDS, 5 unless set). CFLITE_SANITIZERS picks the builds
# (default: address undefined).
#   scripts/check-cflite.sh [BUILD_DIR]      default build/cflite
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
base="$(mkdir -p "${1:-build/cflite}" && cd "${1:-build/cflite}" && pwd)"
# The service's flags for each sanitizer project.yaml names.
common="-O1 -fno-omit-frame-pointer -gline-tables-only -DFUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION"
ubsan_checks="array-bounds,bool,builtin,enum,float-divide-by-zero,function,integer-divide-by-zero,null"
ubsan_checks+=",object-size,return,returns-nonnull-attribute,shift,signed-integer-overflow,unreachable"
ubsan_checks+=",vla-bound,vptr"
declare -A sanitizer_flags=(
  [address]="-fsanitize=address -fsanitize-address-use-after-scope"
  [undefined]="-fsanitize=$ubsan_checks,unsigned-integer-overflow -fno-sanitize-recover=$ubsan_checks"
)
# As the service runs them: unsigned wrap-around is reported only where asked.
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:silence_unsigned_overflow=1"

status=0
for sanitizer in ${CFLITE_SANITIZERS:-address undefined}; do
  out="$base/$sanitizer/out" run="$base/$sanitizer/run"
  rm -rf "$out" "$run"
  mkdir -p "$out" "$base/$sanitizer/work" "$run"
  flags="$common ${sanitizer_flags[$sanitizer]} -fsanitize=fuzzer-no-link"
  echo "=== $sanitizer"
  env CC=clang CXX=clang++ CFLAGS="$flags" CXXFLAGS="$flags" LIB_FUZZING_ENGINE=-fsanitize=fuzzer \
    SRC="$(dirname "$root")" WORK="$base/$sanitizer/work" OUT="$out" bash .clusterfuzzlite/build.sh
  ls "$out"/*_seed_corpus.zip >/dev/null 2>&1 || { echo "no fuzzer was built"; status=1; }
  for seeds in "$out"/*_seed_corpus.zip; do
    fuzzer="${seeds%_seed_corpus.zip}"
    name="$(basename "$fuzzer")"
    # The modules come from $OUT, not from the build tree.
    if ldd "$fuzzer" | grep -E "not found|gifin|QvGdi32|WinPlatform" | grep -v "$out/"; then
      echo "== $name: a module not loaded from beside it"
      status=1
      continue
    fi
    corpus="$run/$name"
    mkdir -p "$corpus"
    unzip -q "$seeds" -d "$corpus"
    dict=()
    [[ -f "$fuzzer.dict" ]] && dict=(-dict="$fuzzer.dict")
    if (cd "$run" && "$fuzzer" "$corpus" "${dict[@]}" -max_len=4096 -timeout=25 \
          -max_total_time="${CFLITE_SECONDS:-5}" -print_final_stats=1 >"$name.log" 2>&1); then
      echo "== $name: $(grep -E '^#[0-9]+' "$run/$name.log" | tail -n 1)"
    else
      tail -n 40 "$run/$name.log"
      echo "== $name stopped on a finding; see $run"
      status=1
    fi
  done
done
exit $status
