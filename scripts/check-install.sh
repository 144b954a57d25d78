#!/usr/bin/env bash
# Installs a build into a fresh prefix and uses it as a host writer would:
# no run path into the build tree; the example hosts built against the
# installed tree once through pkg-config and once through find_package, and
# run on a sample GIF; the installed gifimport, its man page and completion.
#   bash scripts/check-install.sh [BUILD_DIR]      (default: build/default)
#   bash scripts/check-install.sh --prefix PREFIX  a tree installed already
#                                                  (a package's, in /usr)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-install: $*" >&2; exit 1; }

if [ "${1:-}" = --prefix ]; then
  prefix=$2
  build=$work/no-build-tree
else
  build=$(cd "${1:-$root/build/default}" && pwd)
  prefix=$work/prefix
  cmake --install "$build" --prefix "$prefix" >/dev/null
fi
# The library folder: lib, or the multiarch one under /usr.
libdir=$(dirname "$(find "$prefix/lib" -maxdepth 3 -name gifimport.pc -path '*/pkgconfig/*' | head -1)")
libdir=${libdir%/pkgconfig}
[ -f "$libdir/gifin.so" ] || fail "no gifin.so installed under $prefix/lib"
for file in "$libdir"/gifin.so "$libdir"/libQvGdi32.so "$libdir"/libWinPlatform.so "$prefix"/bin/gifimport; do
  if readelf -d "$file" | grep -E 'R(UN)?PATH' | grep -qF "$build"; then
    fail "$file has a run path into the build tree"
  fi
done

export PKG_CONFIG_PATH=$libdir/pkgconfig
# Every public header installed, and each compiles alone from the installed
# tree as a C host includes it.
for header in "$root"/include/gifimport/*.h; do
  name=$(basename "$header")
  [ -f "$prefix/include/gifimport/$name" ] || fail "gifimport/$name is not installed"
  # shellcheck disable=SC2046  # pkg-config's words are separate arguments
  printf '#include "gifimport/%s"\nint alone;\n' "$name" |
    ${CC:-cc} -std=c11 -Wall -Wextra -Wpedantic -Werror -fsyntax-only $(pkg-config --cflags gifimport) -x c - ||
    fail "the installed gifimport/$name does not compile alone"
done
mkdir "$work/pkg-config"
for example in host metafile_host; do
  # shellcheck disable=SC2046  # pkg-config's words are separate arguments
  ${CC:-cc} -std=c11 -Wall -Wextra -Werror "$root/examples/$example.c" -o "$work/pkg-config/$example" \
    $(pkg-config --cflags --libs gifimport) -Wl,-rpath,"$(pkg-config --variable=libdir gifimport)" \
    -DGIFIN_MODULE="\"$(pkg-config --variable=module gifimport)\""
done
cmake -S "$root/examples" -B "$work/find-package" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/find-package" >/dev/null

sample=$root/examples/plaintext.gif
for way in pkg-config find-package; do
  "$work/$way/host" "$sample" "$work/$way.png" > "$work/$way.txt" || fail "$way: host failed"
  grep -q '^progress 100%' "$work/$way.txt" || fail "$way: host printed no progress"
  grep -q '^bitmap 1: 160 x 40' "$work/$way.txt" || fail "$way: host printed no bitmap"
  [ "$(head -c 4 "$work/$way.png" | tail -c 3)" = PNG ] || fail "$way: host saved no PNG"
  "$work/$way/metafile_host" "$sample" "$work/$way.emf" > /dev/null || fail "$way: metafile_host failed"
  [ "$(head -c 44 "$work/$way.emf" | tail -c 4)" = " EMF" ] || fail "$way: no Enhanced Metafile written"
done

"$prefix/bin/gifimport" import "$sample" -o "$work/installed.png" -q || fail "the installed gifimport failed"
man -l "$prefix/share/man/man1/gifimport.1" > /dev/null 2>&1 || [ -s "$prefix/share/man/man1/gifimport.1" ] ||
  fail "no man page"
bash -c "source '$prefix/share/bash-completion/completions/gifimport' && complete -p gifimport" > /dev/null ||
  fail "no bash completion"
echo "check-install: the installed tree serves both example hosts (pkg-config, find_package)"
