#!/usr/bin/env bash
# Builds the release packages and uses them as their users would:
#  - Linux: the .tar.gz and the .deb (preset release-linux); the .deb
#    installed with dpkg, both example hosts built against it through
#    pkg-config and CMake and run, then removed again;
#  - Windows: the ZIP of the 32-bit product (preset release-mingw-i686),
#    unpacked, its gifin.dll checked with objdump: the twelve exports, the
#    companion imported by ordinal, no runtime DLL, its resources, and no
#    debug sections left in any module.
# Each module's symbols stay in BUILD/debug. Needs root or sudo for dpkg.
#   bash scripts/check-packages.sh [linux] [windows]   (default: both)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
parts=("${@:-linux windows}")
parts=(${parts[*]})
jobs=$(nproc)
work=$(mktemp -d)
sudo=""
[ "$(id -u)" = 0 ] || sudo=sudo
installed=no
cleanup() {
  [ $installed = yes ] && $sudo dpkg -r gifimport >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "check-packages: $*" >&2; exit 1; }
version=$(sed -n 's/^project(gifimport VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

# A module of a package holds no debug section, and its symbols lie beside
# the build.
no_debug_sections() {  # OBJDUMP FILE
  if "$1" -h "$2" | grep -q ' \.debug_'; then fail "$(basename "$2") still holds debug sections"; fi
}

build_packages() {  # PRESET
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$jobs"
  (cd "build/$1" && cpack >/dev/null)
  ls build/"$1"/debug/*.debug >/dev/null 2>&1 || fail "$1: no debug files in build/$1/debug"
}

for part in "${parts[@]}"; do
  case "$part" in
    linux)
      build_packages release-linux
      deb=build/release-linux/gifimport_${version}_amd64.deb
      tgz=build/release-linux/gifimport-${version}-Linux.tar.gz
      [ -f "$deb" ] && [ -f "$tgz" ] || fail "no .deb or .tar.gz of version $version"
      ls -l "$deb" "$tgz"
      dpkg-deb -c "$deb" | awk '{print "  " $3 "\t" $6}'
      mkdir "$work/tgz"
      tar -xzf "$tgz" -C "$work/tgz"
      for module in "$work"/tgz/*/lib/*/gifin.so "$work"/tgz/*/bin/gifimport; do
        no_debug_sections objdump "$module"
      done
      if dpkg -s gifimport >/dev/null 2>&1; then fail "a gifimport package is installed already"; fi
      installed=yes
      $sudo dpkg -i "$deb" >/dev/null
      [ "$(gifimport --version)" = "gifimport $version" ] || fail "the package's gifimport is not $version"
      bash scripts/check-install.sh --prefix /usr
      $sudo dpkg -r gifimport >/dev/null
      installed=no
      ;;
    windows)
      build_packages release-mingw-i686
      zip=build/release-mingw-i686/gifimport-${version}-win32.zip
      [ -f "$zip" ] || fail "no $zip"
      ls -l "$zip"
      unzip -l "$zip" | sed -n '4,$p' | awk 'NF == 4 {print "  " $1 "\t" $4}'
      unzip -q "$zip" -d "$work/zip"
      top=$(echo "$work"/zip/*)
      for file in README.txt bin/gifin.dll bin/QvGdi32.dll bin/gifimport.exe lib/gifin.def \
                  lib/libgifin.dll.a lib/gifin.lib include/gifimport/filter_api.h examples/host.c; do
        [ -f "$top/$file" ] || fail "the ZIP holds no $file"
      done
      for module in gifin.dll QvGdi32.dll gifimport.exe; do
        no_debug_sections i686-w64-mingw32-objdump "$top/bin/$module"
      done
      cmake -DOBJDUMP=i686-w64-mingw32-objdump -DBIN="$top/bin" -DDEF=filter/gifin.def \
        -P tests/windows/product_check.cmake
      # The version resource says the package's version.
      strings -el "$top/bin/gifin.dll" | grep -qx "$version" || fail "gifin.dll's version is not $version"
      ;;
    *) fail "unknown part '$part' (linux, windows)" ;;
  esac
done
echo "check-packages: ${parts[*]} packages built, installed and checked"
