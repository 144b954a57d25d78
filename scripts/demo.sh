#!/usr/bin/env bash
# Builds the filter, the stand-ins and the host (no tests, no Windows
# toolchain), then runs the filter on the bundled sample GIFs: their sizes,
# and each imported into out/NAME.png and out/NAME.svg.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh demo
# The test script's configure of this preset turns the tests back on.
cmake --preset default -DGIFIMPORT_TESTS=OFF -DGIFIMPORT_BENCH=OFF >/dev/null
cmake --build --preset default -j "$(nproc)"
bin=build/default/bin
mkdir -p out
"$bin/gifimport" info examples/*.gif
for gif in examples/*.gif; do
  name=$(basename "$gif" .gif)
  "$bin/gifimport" import "$gif" -o "out/$name.png"
  "$bin/gifimport" import "$gif" -o "out/$name.svg" --quiet
done
echo "Pictures written to out/"
