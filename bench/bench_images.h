// The pictures the benchmarks time, made alike by import_bench and by
// make_bench_gifs (which writes them for measuring outside it).
#ifndef GIFIMPORT_BENCH_BENCH_IMAGES_H
#define GIFIMPORT_BENCH_BENCH_IMAGES_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "tests/support/gif_writer.h"

namespace benchimages {

// `count` greys from black to white.
inline std::vector<gifwrite::Color> GreyColors(int count) {
  std::vector<gifwrite::Color> colors(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const auto v = static_cast<uint8_t>(i * 255 / (count - 1));
    colors[static_cast<size_t>(i)] = {v, v, v};
  }
  return colors;
}

// Pixels of `depth` random bits each.
inline std::vector<uint8_t> NoisePixels(size_t count, int depth, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> pixels(count);
  for (auto& p : pixels) p = static_cast<uint8_t>(random() & ((1u << depth) - 1));
  return pixels;
}

// Smooth gradients and a little noise, as a photograph's tones (0..255).
inline std::vector<uint8_t> PhotoPixels(uint32_t side, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> pixels(size_t{side} * side);
  const double scale = 4000.0 / side;  // the same picture at every size
  for (size_t y = 0; y < side; ++y) {
    const double cy = std::cos(y * scale / 437.0);
    for (size_t x = 0; x < side; ++x) {
      const double tone = 128 + 70 * std::sin(x * scale / 611.0) * cy +
                          40 * std::sin((x + 2.0 * y) * scale / 997.0) +
                          static_cast<int>(random() % 5) - 2;
      pixels[y * side + x] = static_cast<uint8_t>(std::clamp(tone, 0.0, 255.0));
    }
  }
  return pixels;
}

// A photo's tones through a 4 x 4 ordered dither: black and white, as a
// scanned page or a dithered picture.
inline std::vector<uint8_t> DitheredPixels(uint32_t side, unsigned seed) {
  static const int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  std::vector<uint8_t> pixels = PhotoPixels(side, seed);
  for (size_t y = 0; y < side; ++y) {
    for (size_t x = 0; x < side; ++x) {
      uint8_t& p = pixels[y * side + x];
      p = p * 16 / 256 > kBayer[y % 4][x % 4] ? 1 : 0;
    }
  }
  return pixels;
}

// The large files the benchmarks time, each with its generator and seed.
enum class Source { kPhoto, kNoise, kDithered };
struct Kind {
  const char* name;
  int depth;
  bool interlaced;
  Source source;
  unsigned seed;
};
constexpr Kind kKinds[] = {{"photo8", 8, false, Source::kPhoto, 1},
                           {"noise8", 8, false, Source::kNoise, 2},
                           {"noise4", 4, false, Source::kNoise, 3},
                           {"bits1", 1, false, Source::kDithered, 4},
                           {"interlaced8", 8, true, Source::kPhoto, 1}};

inline std::vector<uint8_t> KindPixels(const Kind& kind, uint32_t side) {
  switch (kind.source) {
    case Source::kNoise:
      return NoisePixels(size_t{side} * side, kind.depth, kind.seed);
    case Source::kDithered:
      return DitheredPixels(side, kind.seed);
    case Source::kPhoto:
      break;
  }
  return PhotoPixels(side, kind.seed);
}

}  // namespace benchimages

#endif
