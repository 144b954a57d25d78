#!/bin/bash
# The Windows host and modules against the Linux build, on the sample GIFs,
# the crash inputs and the GIFs the test-support writer made for the fuzz
# seeds: `gifimport import --trace --dump-bitmaps` must give the same exit
# status, the same call log (addresses and handles aside: they are the
# system's) and byte-identical bitmaps; `gifimport metafile` must give the
# same result, and GDI's metafile the Linux metafile's bitmaps (emf_check).
# compare_with_linux.sh EMULATOR WINDOWS_HOST LINUX_HOST SOURCE_DIR WORK_DIR EMF_CHECK
set -u
emulator=$1 windows_host=$2 linux_host=$3 source=$4 work=$5 emf_check=$6
if [ ! -x "$linux_host" ]; then
  echo "compare: no Linux build to compare with ($linux_host): build the default preset first"
  exit 1
fi
rm -rf "$work" && mkdir -p "$work/gifs"
cp "$source"/examples/*.gif "$source"/tests/crashers/*.gif "$work/gifs/"
for seed in "$source"/fuzz/seeds/file_info/*; do
  # A seed (named by its hash) is a 4-byte control word, then the GIF.
  [ -f "$seed" ] || continue
  tail -c +5 "$seed" > "$work/gifs/seed-$(basename "$seed").gif"
done

# Addresses and handles printed as numbers differ between the systems, and
# so do the module path and the Windows directory that the profile search
# hands to the companion's text operations.
normalize() {
  grep -v '"op":"Qv\(PathDirectory\|StringCopy\)"' "$1" | sed -E 's/"(0x)?[0-9a-fA-F]{8,16}"/"ADDRESS"/g'
}

failed=0 compared=0 metafiles=0
for gif in "$work"/gifs/*.gif; do
  name=$(basename "$gif" .gif)
  for side in linux windows; do
    mkdir -p "$work/$side/$name"
    if [ $side = linux ]; then
      "$linux_host" import "$gif" --quiet --trace "$work/$side/$name.jsonl" \
        --dump-bitmaps "$work/$side/$name" >"$work/$side/$name.out" 2>&1
    else
      "$emulator" "$windows_host" import "$gif" --quiet --trace "$work/$side/$name.jsonl" \
        --dump-bitmaps "$work/$side/$name" >"$work/$side/$name.out" 2>&1
    fi
    echo $? > "$work/$side/$name.status"
  done
  if grep -q "wine-run: skipped" "$work/windows/$name.out"; then
    cat "$work/windows/$name.out"
    exit 77
  fi
  problem=""
  cmp -s "$work/linux/$name.status" "$work/windows/$name.status" ||
    problem="exit status $(cat "$work/linux/$name.status") on Linux, $(cat "$work/windows/$name.status") on Windows"
  if [ -z "$problem" ] && [ -f "$work/linux/$name.jsonl" ]; then
    diff <(normalize "$work/linux/$name.jsonl") <(normalize "$work/windows/$name.jsonl") \
      > "$work/$name.trace.diff" || problem="call logs differ ($work/$name.trace.diff)"
  fi
  if [ -z "$problem" ]; then
    diff -r "$work/linux/$name" "$work/windows/$name" > "$work/$name.bitmaps.diff" ||
      problem="bitmaps differ ($work/$name.bitmaps.diff)"
  fi
  if [ -z "$problem" ]; then
    "$linux_host" metafile "$gif" -o "$work/linux/$name.emf" >/dev/null 2>&1
    linux_status=$?
    "$emulator" "$windows_host" metafile "$gif" -o "$work/windows/$name.emf" >/dev/null 2>&1
    windows_status=$?
    if [ $linux_status != $windows_status ]; then
      problem="metafile: exit status $linux_status on Linux, $windows_status on Windows"
    elif [ $linux_status = 0 ]; then
      "$emulator" "$emf_check" "$work/windows/$name.emf" "$work/linux/$name.emf" \
        > "$work/$name.emf.out" 2>&1
      grep -q "emf check passed" "$work/$name.emf.out" || problem="metafile: $(cat "$work/$name.emf.out")"
      metafiles=$((metafiles + 1))
    fi
  fi
  if [ -n "$problem" ]; then
    echo "FAILED $name: $problem"
    failed=$((failed + 1))
  fi
  compared=$((compared + 1))
done
[ "$failed" -eq 0 ] || exit 1
echo "compare: $compared GIFs give the Linux build's call log and bitmaps, $metafiles metafiles its bitmaps"
