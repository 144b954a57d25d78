// Writes import_bench's noise files to a folder, to be measured outside it
// (callgrind's instruction counts of a host import, say):
//
//   make_bench_gifs DIR [SIDE]
//
// makes DIR/noise8-SIDE.gif and DIR/noise4-SIDE.gif (SIDE 4000 unless
// given): one SIDE x SIDE image on a grey palette, pixels from the same
// generator and seeds as import_bench's noise8 and noise4, so they are the
// files it times.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "tests/support/gif_writer.h"

namespace {

// As import_bench's.
std::vector<gifwrite::Color> GreyColors(int count) {
  std::vector<gifwrite::Color> colors(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const auto v = static_cast<uint8_t>(i * 255 / (count - 1));
    colors[static_cast<size_t>(i)] = {v, v, v};
  }
  return colors;
}

// As import_bench's.
std::vector<uint8_t> NoisePixels(size_t count, int depth, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> pixels(count);
  for (auto& p : pixels) p = static_cast<uint8_t>(random() & ((1u << depth) - 1));
  return pixels;
}

bool WriteNoise(const std::string& path, uint16_t side, int depth, unsigned seed) {
  gifwrite::GifBuilder builder(side, side, GreyColors(1 << depth));
  gifwrite::Image image;
  image.width = image.height = side;
  image.pixels = NoisePixels(size_t{side} * side, depth, seed);
  builder.AddImage(image).Trailer();
  return gifwrite::WriteFile(path, builder.bytes());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: make_bench_gifs DIR [SIDE]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const long side = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 4000;
  if (side < 1 || side > 65535) {
    std::fprintf(stderr, "make_bench_gifs: SIDE must be 1 to 65535\n");
    return 2;
  }
  const auto s = static_cast<uint16_t>(side);
  const std::string tail = "-" + std::to_string(side) + ".gif";
  struct Kind {
    const char* name;
    int depth;
    unsigned seed;  // the one import_bench gives this kind
  };
  for (const Kind& kind : {Kind{"noise8", 8, 2}, Kind{"noise4", 4, 3}}) {
    const std::string path = dir + "/" + kind.name + tail;
    if (!WriteNoise(path, s, kind.depth, kind.seed)) {
      std::fprintf(stderr, "make_bench_gifs: cannot write %s\n", path.c_str());
      return 1;
    }
    std::printf("%s\n", path.c_str());
  }
  return 0;
}
