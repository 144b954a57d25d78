// Writes the sample GIFs of examples/ with the test-support writer.
// Usage: make_examples DIRECTORY. The output is the same on every run.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/gif_writer.h"

namespace {

using gifwrite::Color;
using gifwrite::GifBuilder;
using gifwrite::Image;

// 3-3-2 bit colour cube: index = r << 5 | g << 2 | b.
std::vector<Color> CubePalette() {
  std::vector<Color> colors;
  for (int i = 0; i < 256; ++i) {
    colors.push_back({static_cast<uint8_t>((i >> 5) * 255 / 7),
                      static_cast<uint8_t>(((i >> 2) & 7) * 255 / 7),
                      static_cast<uint8_t>((i & 3) * 255 / 3)});
  }
  return colors;
}

// An evening sky over hills with a low sun, ordered-dithered to the cube,
// so that the LZW data looks like a photograph's.
Image SunsetImage(uint16_t width, uint16_t height) {
  static const int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  Image image;
  image.width = width;
  image.height = height;
  image.pixels.resize(size_t{width} * height);
  const double sunX = width * 0.68, sunY = height * 0.55, sunR = height * 0.14;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      double t = static_cast<double>(y) / height;
      double r = 40 + 215 * t, g = 30 + 120 * t * t, b = 120 - 60 * t;
      double d = std::hypot(x - sunX, y - sunY);
      if (d < sunR) {
        r = 255, g = 220 - 60 * d / sunR, b = 90;
      } else if (d < sunR * 3) {
        double glow = 1 - (d - sunR) / (sunR * 2);
        r += (255 - r) * glow * 0.6, g += (200 - g) * glow * 0.4;
      }
      double hill = height * (0.72 + 0.08 * std::sin(x * 0.045) + 0.04 * std::sin(x * 0.13 + 1));
      if (y > hill) {
        double depth = (y - hill) / (height - hill + 1);
        r = 30 + 30 * depth, g = 70 + 50 * depth, b = 35;
      }
      double dither = (kBayer[y & 3][x & 3] + 0.5) / 16.0;
      auto level = [dither](double v, int levels) {
        int q = static_cast<int>(v / 255.0 * (levels - 1) + dither);
        return q < 0 ? 0 : (q >= levels ? levels - 1 : q);
      };
      image.pixels[size_t{static_cast<unsigned>(y)} * width + x] =
          static_cast<uint8_t>(level(r, 8) << 5 | level(g, 8) << 2 | level(b, 4));
    }
  }
  return image;
}

gifwrite::Bytes SunsetSample() {
  return GifBuilder(192, 128, CubePalette(), "89a", 0)
      .Comment("A sample GIF made by gifimport's make_examples")
      .AddImage(SunsetImage(192, 128))
      .Trailer()
      .bytes();
}

// Concentric rings in 16 colours, stored interlaced.
gifwrite::Bytes Interlaced() {
  std::vector<Color> colors;
  for (int i = 0; i < 16; ++i) {
    colors.push_back({static_cast<uint8_t>(i * 17), static_cast<uint8_t>(255 - i * 12),
                      static_cast<uint8_t>(64 + i * 8)});
  }
  Image image;
  image.width = 96;
  image.height = 72;
  image.interlaced = true;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      double d = std::hypot(x - 48.0, y - 36.0);
      image.pixels.push_back(static_cast<uint8_t>(static_cast<int>(d / 3) % 16));
    }
  }
  return GifBuilder(96, 72, colors, "89a", 0).AddImage(image).Trailer().bytes();
}

// A grey backdrop, then a star in a local palette whose colour 0 is
// transparent, so the backdrop shows around it.
gifwrite::Bytes Transparent() {
  std::vector<Color> global = {{200, 200, 200}, {120, 120, 120}, {0, 0, 0}, {255, 255, 255}};
  Image backdrop;
  backdrop.width = 80;
  backdrop.height = 80;
  for (int y = 0; y < 80; ++y) {
    for (int x = 0; x < 80; ++x) backdrop.pixels.push_back(((x / 10 + y / 10) & 1) ? 1 : 0);
  }
  Image star;
  star.left = 10;
  star.top = 10;
  star.width = 60;
  star.height = 60;
  star.localColors = {{0, 0, 0},       {255, 200, 0}, {255, 140, 0}, {200, 60, 0},
                      {255, 255, 120}, {180, 0, 0},   {90, 40, 0},   {255, 255, 255}};
  const double pi = std::acos(-1.0);
  for (int y = 0; y < 60; ++y) {
    for (int x = 0; x < 60; ++x) {
      double dx = x - 29.5, dy = y - 29.5;
      double angle = std::atan2(dy, dx);
      double reach = 18 + 10 * std::cos(5 * (angle + pi / 2));
      double d = std::hypot(dx, dy);
      uint8_t index = 0;
      if (d < reach) index = static_cast<uint8_t>(1 + static_cast<int>(d / reach * 6) % 7);
      star.pixels.push_back(index);
    }
  }
  return GifBuilder(80, 80, global, "89a", 0)
      .AddImage(backdrop)
      .GraphicControl(true, 0)
      .AddImage(star)
      .Trailer()
      .bytes();
}

// The oldest form: 87a, two colours, a checkerboard.
gifwrite::Bytes Classic87a() {
  Image image;
  image.width = 40;
  image.height = 30;
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 40; ++x) image.pixels.push_back(((x / 5 + y / 5) & 1) ? 1 : 0);
  }
  return GifBuilder(40, 30, {{255, 255, 255}, {0, 0, 128}}, "87a", 0)
      .AddImage(image)
      .Trailer()
      .bytes();
}

// Comments and a plain-text extension over a small banner image.
gifwrite::Bytes PlainText() {
  std::vector<Color> colors = {{255, 255, 240}, {20, 20, 90}, {200, 40, 40}, {240, 220, 120}};
  Image banner;
  banner.width = 160;
  banner.height = 40;
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 160; ++x) {
      banner.pixels.push_back(y < 4 || y >= 36 ? 2 : (x % 40 < 2 ? 1 : 3));
    }
  }
  return GifBuilder(160, 64, colors, "89a", 0)
      .Comment("Plain text follows the banner.")
      .AddImage(banner)
      .Comment("Cells are 8 by 12 pixels.")
      .PlainText(8, 44, 144, 12, 8, 12, 1, 0, {"Hello from gifimport"})
      .Trailer()
      .bytes();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: make_examples DIRECTORY\n");
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  struct Sample {
    const char* name;
    gifwrite::Bytes bytes;
  } samples[] = {
      {"sample.gif", SunsetSample()},     {"interlaced.gif", Interlaced()},
      {"transparent.gif", Transparent()}, {"classic87a.gif", Classic87a()},
      {"plaintext.gif", PlainText()},
  };
  int status = 0;
  for (const auto& sample : samples) {
    if (gifwrite::WriteFile(dir + sample.name, sample.bytes)) {
      std::printf("%s%s: %zu bytes\n", dir.c_str(), sample.name, sample.bytes.size());
    } else {
      std::fprintf(stderr, "make_examples: cannot write %s%s\n", dir.c_str(), sample.name);
      status = 1;
    }
  }
  return status;
}
