#!/usr/bin/env bash
# Installs the Debian 12 packages the build, tests and tools need; does
# nothing when they are all there. Needs root (or sudo) only when installing.
#   bash scripts/install-deps.sh         everything the tests need
#   bash scripts/install-deps.sh demo    only what the filter, stand-in and host need
set -euo pipefail
need=(cmake ninja-build g++ pkgconf libpng-dev libdeflate-dev libuemf-dev)
if [ "${1:-}" != demo ]; then
  need+=(clang-format clang-tidy g++-multilib googletest libgtest-dev libbenchmark-dev libgif-dev
         emf2svg librsvg2-bin qemu-user clang libclang-rt-14-dev zip unzip
         imagemagick  # the frame tests' reference compositor (tests only)
         g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 wine64)
fi
# 32-bit wine only where the kernel runs i386 programs (elsewhere the 32-bit
# Windows tests report themselves skipped).
i386=no
if [ "${1:-}" != demo ]; then
  bash "$(dirname "$0")/i386-probe.sh" >/dev/null && i386=yes && need+=(wine32:i386)
fi
missing=()
for p in "${need[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
((${#missing[@]})) || exit 0
sudo=""
[ "$(id -u)" = 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
if [ $i386 = yes ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}"
