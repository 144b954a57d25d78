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

// Imports one image of random pixels at (3, 0) on a screen 500 high, so that
// its top edge is at picture y 500; a global table of 2, 16 or 256 colours
// gives depth 1, 4 or 8. Checks that the bitmap holds the pixels.
e2e::ImportRun ImportImage(uint16_t width, uint16_t height, int depth, bool interlaced,
                           Pixels* pixels) {
  std::mt19937 random(width + height);
  gifwrite::Image image;
  image.left = 3;
  image.width = width;
  image.height = height;
  image.interlaced = interlaced;
  image.pixels.resize(size_t{width} * height);
  for (auto& p : image.pixels) p = static_cast<uint8_t>(random() & ((1u << depth) - 1));
  *pixels = image.pixels;
  const std::vector<gifwrite::Color> colors(size_t{1} << depth, {1, 2, 3});
  const auto screenWidth = static_cast<uint16_t>(std::min(width + 3, 0xFFFF));
  e2e::ImportRun run =
      e2e::Import(gifwrite::GifBuilder(screenWidth, 500, colors).AddImage(image).Trailer().bytes());
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.live, "");
  const standin::Bitmap& bitmap = run.picture.value().bitmaps.at(0);
  Pixels indices;
  for (int y = 0; y < bitmap.height && !bitmap.bands.empty(); ++y) {
    for (int x = 0; x < bitmap.width; ++x)
      indices.push_back(static_cast<uint8_t>(bitmap.PixelIndex(x, y)));
  }
  EXPECT_EQ(indices, bitmap.bands.empty() ? Pixels{} : *pixels);
  return run;
}

TEST(RasterTest, BandsRunTopDownWithinTheBandSize) {
  const struct {
    uint16_t width, height;
    int depth;
    bool interlaced;
    std::vector<int> bandRows;
  } cases[] = {
      {8000, 10, 8, false, {4, 4, 2}},  // 32767 / 8000 = 4 rows a band
      {8000, 10, 8, true, {4, 4, 2}},
      {100, 300, 8, false, {300}},
      {4092, 9, 8, false, {8, 1}},  // one row past a full band
      // The longest row a band takes: wider images end past the picture's
      // right edge, 32767 (3 + 32764).
      {32764, 2, 8, false, {1, 1}},
      {32764, 2, 1, false, {2}},
      {0, 5, 8, true, {}},
      {7, 0, 4, true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    Pixels pixels;
    const e2e::ImportRun run = ImportImage(c.width, c.height, c.depth, c.interlaced, &pixels);
    const standin::Bitmap& bitmap = run.picture.value().bitmaps.at(0);
    ASSERT_EQ(bitmap.bands.size(), c.bandRows.size());
    int top = 500;  // each band lies directly below the one before it
    for (size_t i = 0; i < c.bandRows.size(); ++i) {
      const standin::Bitmap::Band& band = bitmap.bands[i];
      const int rows = c.bandRows[i];
      EXPECT_EQ(
          (std::vector<int>{band.left, band.top, band.right, band.bottom, band.width, band.rows}),
          (std::vector<int>{3, top, static_cast<int16_t>(3 + c.width), top - rows, c.width, rows}))
          << "band " << i;
      top -= rows;
    }
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

// Heights 1 to 9 fill the four interlace passes in every way; 16 and 17
// start a second row in the first pass.
TEST(RasterTest, EveryWidthDepthAndPassLayoutReachesThePictureIntact) {
  for (int depth : {1, 4, 8}) {
    for (uint16_t width : {1, 2, 3, 4, 5, 8, 9, 12, 13, 31, 33, 64}) {
      for (bool interlaced : {false, true}) {
        const bool layouts = interlaced && depth == 8 && width == 5;
        for (uint16_t height : layouts ? std::vector<uint16_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 16, 17}
                                       : std::vector<uint16_t>{17}) {
          SCOPED_TRACE(testing::Message() << "depth " << depth << " width " << width << " height "
                                          << height << (interlaced ? " interlaced" : ""));
          Pixels pixels;
          const e2e::ImportRun run = ImportImage(width, height, depth, interlaced, &pixels);
          const standin::Bitmap& bitmap = run.picture.value().bitmaps.at(0);
          ASSERT_EQ(bitmap.bands.size(), 1u);
          if (interlaced) continue;
          // Bits of a row's last byte past the width hold the next row's
          // first pixels, 0 in the last row.
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
}

}  // namespace
