#!/usr/bin/env bash
# Builds and runs the whole test suite in every preset: the normal build,
# ASan + UBSan, 32-bit (exact record layouts), and the fuzz entry points
# (their seeds replayed, then each fuzzer for 60 s, two at a time).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
presets=(${GIFIMPORT_PRESETS:-default asan m32 fuzz})
jobs=$(nproc)
status=0
for p in "${presets[@]}"; do
  echo "=== preset $p"
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p" -j "$jobs"
  ctest --preset "$p" -j "$jobs" || status=1
  if [[ "$p" == fuzz ]]; then
    FUZZ_JOBS="$jobs" bash fuzz/run.sh "${GIFIMPORT_FUZZ_SECONDS:-60}" || status=1
  fi
done
exit $status
