// Writes import_bench's files to a folder, to be measured outside it
// (callgrind's instruction counts of a host import, or bench/cli_bench.py):
//
//   make_bench_gifs DIR [SIDE]
//
// makes DIR/KIND-SIDE.gif for KIND photo8, noise8, noise4, bits1 and
// interlaced8 (SIDE 4000 unless given): one SIDE x SIDE image on a grey
// palette, pixels from the same generators and seeds as import_bench's
// kinds, so they are the files it times.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_images.h"
#include "tests/support/gif_writer.h"

namespace {

using namespace benchimages;

bool WriteImage(const std::string& path, uint16_t side, int depth, bool interlaced,
                std::vector<uint8_t> pixels) {
  gifwrite::GifBuilder builder(side, side, GreyColors(1 << depth));
  gifwrite::Image image;
  image.width = image.height = side;
  image.interlaced = interlaced;
  image.pixels = std::move(pixels);
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
  for (const benchimages::Kind& kind : benchimages::kKinds) {
    const std::string name = kind.name;
    std::vector<uint8_t> source = benchimages::KindPixels(kind, s);
    const std::string path = dir + "/" + name + tail;
    if (!WriteImage(path, s, kind.depth, kind.interlaced, std::move(source))) {
      std::fprintf(stderr, "make_bench_gifs: cannot write %s\n", path.c_str());
      return 1;
    }
    std::printf("%s\n", path.c_str());
  }
  return 0;
}
