#!/usr/bin/env bash
# Installs the Debian 12 packages the build, tests and tools need; does
# nothing when they are all there. Needs root (or sudo) only when installing.
set -euo pipefail
need=(cmake ninja-build clang-format g++ g++-multilib googletest libgtest-dev libbenchmark-dev
      libpng-dev libdeflate-dev libgif-dev libuemf-dev emf2svg librsvg2-bin qemu-user pkgconf
      imagemagick  # the frame tests' reference compositor (tests only)
      clang libclang-rt-14-dev
      g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 wine64)
# 32-bit wine only where the kernel runs i386 programs (elsewhere the 32-bit
# Windows tests report themselves skipped).
i386=no
bash "$(dirname "$0")/i386-probe.sh" >/dev/null && i386=yes && need+=(wine32:i386)
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
