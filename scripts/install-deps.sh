#!/usr/bin/env bash
# Installs the Debian 12 packages the build, tests and tools need; does
# nothing when they are all there. Needs root (or sudo) only when installing.
set -euo pipefail
need=(cmake ninja-build g++ g++-multilib googletest libgtest-dev libbenchmark-dev
      libpng-dev libgif-dev libuemf-dev emf2svg librsvg2-bin qemu-user
      clang libclang-rt-14-dev)
missing=()
for p in "${need[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
((${#missing[@]})) || exit 0
sudo=""
[ "$(id -u)" = 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}"
