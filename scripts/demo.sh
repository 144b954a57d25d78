#!/usr/bin/env bash
# Builds everything and runs the main job on the bundled sample GIFs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
bin=build/default/bin
mkdir -p out
"$bin/gifimport" info examples/*.gif
