#!/bin/bash -eu
# Builds every fuzzer as a fuzzing service does (ClusterFuzzLite, OSS-Fuzz):
# with its $CC, $CXX, $CFLAGS, $CXXFLAGS and $LIB_FUZZING_ENGINE, into $OUT,
# each fuzzer with its seeds as fuzz_NAME_seed_corpus.zip, its libFuzzer
# options and, for the GIF fuzzers, the GIF dictionary. Run from the
# repository (the image's working directory); $WORK holds the build.
# scripts/check-cflite.sh runs it here with the service's settings.
set -euo pipefail
src="$(pwd)"
build="$WORK/gifimport-build"

# No build type: the service's flags choose the optimisation. The modules
# find each other beside the fuzzers ($ORIGIN), as they lie in $OUT.
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE= \
  -DCMAKE_C_COMPILER="$CC" -DCMAKE_CXX_COMPILER="$CXX" \
  -DCMAKE_C_FLAGS="$CFLAGS" -DCMAKE_CXX_FLAGS="$CXXFLAGS" \
  -DGIFIMPORT_FUZZ=ON -DGIFIMPORT_FUZZ_ENGINE="$LIB_FUZZING_ENGINE" \
  -DGIFIMPORT_TESTS=ON -DGIFIMPORT_GTEST_FROM_SOURCE=ON -DGIFIMPORT_BENCH=OFF \
  -DCMAKE_BUILD_WITH_INSTALL_RPATH=ON -DCMAKE_INSTALL_RPATH='$ORIGIN'

names=()
for seeds in "$src"/fuzz/seeds/*/; do
  names+=("$(basename "$seeds")")
done
targets=("${names[@]/#/fuzz_}")
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

cp "$build"/bin/*.so "$OUT/"
for name in "${names[@]}"; do
  cp "$build/bin/fuzz_$name" "$OUT/"
  rm -f "$OUT/fuzz_${name}_seed_corpus.zip"
  (cd "$src/fuzz/seeds/$name" && zip -q -j "$OUT/fuzz_${name}_seed_corpus.zip" ./*)
  options="[libfuzzer]\nmax_len = 4096\n"
  case "$name" in
    import | file_info | import_gr)
      cp "$src/fuzz/gif.dict" "$OUT/fuzz_$name.dict"
      options+="dict = fuzz_$name.dict\n"
      ;;
  esac
  printf "$options" >"$OUT/fuzz_$name.options"
done
