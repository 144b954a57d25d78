#!/usr/bin/env bash
# Builds and runs the whole test suite in every preset: the normal build,
# ASan + UBSan, and 32-bit (exact record layouts).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
presets=(${GIFIMPORT_PRESETS:-default asan m32})
jobs=$(nproc)
status=0
for p in "${presets[@]}"; do
  echo "=== preset $p"
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p" -j "$jobs"
  ctest --preset "$p" -j "$jobs" || status=1
done
exit $status
