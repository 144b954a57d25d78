#!/usr/bin/env bash
# Fails when a tracked C or C++ file differs from what clang-format (Debian
# 12's, version 14) makes of it under .clang-format; `--fix` formats them in
# place instead. The .inc tables are laid out by hand and left alone.
set -euo pipefail
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || command -v clang-format)
mapfile -t files < <(git ls-files '*.c' '*.cc' '*.cpp' '*.h' '*.hpp')
if [ "${1:-}" = --fix ]; then
  "$format" -i "${files[@]}"
else
  "$format" --dry-run --Werror "${files[@]}"
fi
