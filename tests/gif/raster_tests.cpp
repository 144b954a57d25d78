// Rows packed, de-interlaced and sent in bands, as a whole import hands them
// to the picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "tests/e2e/import_host.h"
#include "tests/support/gif_writer.h"

namespace {

using Pixels = std::vector<uint8_t>;

Pixels RandomPixels(size_t count, int depth, unsigned seed) {
  std::mt19937 random(seed);
  Pixels pixels(count);
  for (auto& p : pixels) p = static_cast<uint8_t>(random() & ((1u << depth) - 1));
  return pixels;
}

// Imports one image at (3, 0) on a screen 500 high, so that its top edge is
// at picture y 500; a global table of 2, 16 or 256 colours gives depth 1, 4
// or 8.
e2e::ImportRun ImportImage(const Pixels& pixels, uint16_t width, uint16_t height, int depth,
                           bool interlaced) {
  gifwrite::Image image;
  image.left = 3;
  image.width = width;
  image.height = height;
  image.interlaced = interlaced;
  image.pixels = pixels;
  const std::vector<gifwrite::Color> colors(size_t{1} << depth, {1, 2, 3});
  const auto screenWidth = static_cast<uint16_t>(std::min(width + 3, 0xFFFF));
  return e2e::Import(
      gifwrite::GifBuilder(screenWidth, 500, colors).AddImage(image).Trailer().bytes());
}

Pixels Indices(const standin::Bitmap& bitmap) {
  Pixels out;
  for (int y = 0; y < bitmap.height; ++y) {
    for (int x = 0; x < bitmap.width; ++x)
      out.push_back(static_cast<uint8_t>(bitmap.PixelIndex(x, y)));
  }
  return out;
}

TEST(RasterTest, BandsRunTopDownWithinTheBandSize) {
  struct Case {
    const char* name;
    uint16_t width, height;
    int depth;
    bool interlaced;
    std::vector<int> bandRows;
  };
  const Case cases[] = {
      {"8000 x 10: 32767 / 8000 = 4 rows a band", 8000, 10, 8, false, {4, 4, 2}},
      {"interlaced, the same bands", 8000, 10, 8, true, {4, 4, 2}},
      {"fits in one band", 100, 300, 8, false, {300}},
      {"one row past a full band", 4092, 9, 8, false, {8, 1}},
      // Wider images end at the picture's right edge, 32767 (3 + 32764).
      {"the longest row a band takes", 32764, 2, 8, false, {1, 1}},
      {"widest, depth 1", 32764, 2, 1, false, {2}},
      {"width 0", 0, 5, 8, true, {}},
      {"height 0", 7, 0, 4, true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Pixels pixels = RandomPixels(size_t{c.width} * c.height, c.depth, c.height);
    const e2e::ImportRun run = ImportImage(pixels, c.width, c.height, c.depth, c.interlaced);
    ASSERT_EQ(run.result, 0);
    EXPECT_EQ(run.live, "");
    const standin::Bitmap& bitmap = run.picture.value().bitmaps.at(0);
    ASSERT_EQ(bitmap.bands.size(), c.bandRows.size());
    // Each band lies directly below the one before it.
    int top = 500;
    for (size_t i = 0; i < c.bandRows.size(); ++i) {
      const standin::Bitmap::Band& band = bitmap.bands[i];
      const int rows = c.bandRows[i];
      EXPECT_EQ(
          (std::vector<int>{band.left, band.top, band.right, band.bottom, band.width, band.rows}),
          (std::vector<int>{3, top, static_cast<int16_t>(3 + c.width), top - rows, c.width, rows}))
          << "band " << i;
      top -= rows;
    }
    if (!c.bandRows.empty()) {
      EXPECT_EQ(Indices(bitmap), pixels);
    }
  }
}

TEST(RasterTest, InterlacedRowsOfEveryPassLayoutLandInDisplayOrder) {
  // Heights 1 to 9 fill the four passes in every way; 16 and 17 start a
  // second row in the first pass.
  for (uint16_t height : {1, 2, 3, 4, 5, 6, 7, 8, 9, 16, 17}) {
    SCOPED_TRACE(height);
    const Pixels pixels = RandomPixels(size_t{5} * height, 8, height);
    const e2e::ImportRun run = ImportImage(pixels, 5, height, 8, true);
    ASSERT_EQ(run.result, 0);
    EXPECT_EQ(Indices(run.picture.value().bitmaps.at(0)), pixels);
  }
}

// Pixel `x` of a packed row, positions past the width included.
int PackedPixel(const uint8_t* row, int depth, size_t x) {
  const size_t bit = x * depth;
  const uint8_t byte = row[bit / 8];
  if (depth == 1) return (byte >> (7 - bit % 8)) & 1;
  if (depth == 4) return bit % 8 == 0 ? byte >> 4 : byte & 0x0F;
  return byte;
}

TEST(RasterTest, EveryWidthAndDepthReachesThePictureIntact) {
  const uint16_t height = 17;
  for (int depth : {1, 4, 8}) {
    for (uint16_t width : {1, 2, 3, 4, 5, 8, 9, 12, 13, 31, 33, 64}) {
      for (bool interlaced : {false, true}) {
        SCOPED_TRACE(testing::Message() << "depth " << depth << " width " << width
                                        << (interlaced ? " interlaced" : ""));
        const Pixels pixels = RandomPixels(size_t{width} * height, depth, width);
        const e2e::ImportRun run = ImportImage(pixels, width, height, depth, interlaced);
        ASSERT_EQ(run.result, 0);
        const standin::Bitmap& bitmap = run.picture.value().bitmaps.at(0);
        ASSERT_EQ(bitmap.bands.size(), 1u);
        EXPECT_EQ(Indices(bitmap), pixels);
        if (interlaced) continue;
        // Bits of a row's last byte past the width hold the next row's first
        // pixels, 0 in the last row.
        const std::vector<uint8_t>& data = bitmap.bands[0].data;
        const size_t rowLength = data.size() / height;
        const size_t unpadded = (size_t{width} * depth + 7) / 8;
        for (size_t row = 0; row < height; ++row) {
          for (size_t x = width; x < unpadded * 8 / depth; ++x) {
            const size_t next = row * width + x;
            ASSERT_EQ(PackedPixel(&data[row * rowLength], depth, x),
                      next < pixels.size() ? pixels[next] : 0)
                << "row " << row << ", position " << x;
          }
        }
      }
    }
  }
}

}  // namespace
