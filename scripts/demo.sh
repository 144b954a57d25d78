#!/usr/bin/env bash
# Builds everything, then runs the filter on the bundled sample GIFs: their
# sizes, and each imported into out/NAME.png and out/NAME.svg.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
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
