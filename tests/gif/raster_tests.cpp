// Row packing, de-interlacing, and the bands that reach the picture.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "gif/lzw_decoder.h"
#include "gif/raster.h"
#include "tests/support/gif_writer.h"
#include "tests/support/recording_host.h"

namespace {

std::vector<uint8_t> RandomPixels(size_t count, int bits, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> pixels(count);
  for (auto& p : pixels) p = static_cast<uint8_t>(random() & ((1u << bits) - 1));
  return pixels;
}

size_t PaddedRow(int depth, uint32_t width) { return ((depth * width + 7) / 8 + 3) / 4 * 4; }

// Pixel `position` of a packed row (positions past the width included).
int PackedPixel(const uint8_t* row, int depth, size_t position) {
  const size_t bit = position * depth;
  const uint8_t byte = row[bit / 8];
  if (depth == 1) return (byte >> (7 - bit % 8)) & 1;
  if (depth == 4) return bit % 8 == 0 ? byte >> 4 : byte & 0x0F;
  return byte;
}

TEST(RasterTest, PackedRowsHoldTheirOwnPixels) {
  for (int depth : {1, 4, 8}) {
    for (uint32_t width : {1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 13u, 16u, 31u, 33u, 64u}) {
      for (uint32_t height : {1u, 2u, 3u, 9u}) {
        SCOPED_TRACE(testing::Message() << "depth " << depth << " width " << width << " height "
                                        << height);
        const std::vector<uint8_t> pixels = RandomPixels(width * height, depth, width * 31 + height);
        // Exactly the decoder's buffer: rows padded to 4 one-byte pixels.
        std::vector<uint8_t> buffer((width + 3) / 4 * 4 * height, 0);
        std::copy(pixels.begin(), pixels.end(), buffer.begin());
        const uint32_t rowLength = PackRows(buffer.data(), depth, width, height);
        ASSERT_EQ(rowLength, PaddedRow(depth, width));
        ASSERT_EQ(RowLength(depth, width), rowLength);
        const size_t unpadded = (depth * width + 7) / 8;
        for (size_t row = 0; row < height; ++row) {
          const uint8_t* packed = &buffer[row * rowLength];
          for (size_t x = 0; x < width; ++x) {
            ASSERT_EQ(PackedPixel(packed, depth, x), pixels[row * width + x]) << "row " << row;
          }
          // Bits of the last byte past the width: the next row's first
          // pixels, 0 in the last row.
          for (size_t x = width; x < unpadded * 8 / depth; ++x) {
            const size_t next = row * width + x;
            ASSERT_EQ(PackedPixel(packed, depth, x), next < pixels.size() ? pixels[next] : 0)
                << "row " << row << " tail " << x;
          }
        }
        if (depth == 8 && width % 4 == 0) {
          EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), buffer.begin()));
        }
      }
    }
  }
}

TEST(RasterTest, DeinterlacingPutsStreamRowsInDisplayOrder) {
  for (uint32_t height = 1; height <= 40; ++height) {
    SCOPED_TRACE(height);
    const uint32_t width = 5;  // depth 4: rows of 4 bytes
    const size_t rowLength = RowLength(4, width);
    std::vector<uint8_t> source(rowLength * height);
    for (size_t row = 0; row < height; ++row) {
      std::fill_n(&source[row * rowLength], rowLength, static_cast<uint8_t>(row));
    }
    std::vector<uint8_t> display(rowLength * height, 0xEE);
    DeinterlaceRows(source.data(), display.data(), 4, width, height);
    const std::vector<int> order = gifwrite::InterlaceOrder(static_cast<int>(height));
    for (size_t streamRow = 0; streamRow < height; ++streamRow) {
      const size_t displayRow = static_cast<size_t>(order[streamRow]);
      EXPECT_EQ(display[displayRow * rowLength], streamRow);
      EXPECT_EQ(display[displayRow * rowLength + rowLength - 1], streamRow);
    }
    if (height == 5) {
      EXPECT_EQ(order, (std::vector<int>{0, 4, 2, 1, 3}));
    }
  }
}

// ---------------------------------------------------------------------------
// Bands, through DecodeImage.

struct Band {
  std::string corners;  // as the call log has them: three [x, y] pairs
  std::string size;
};

struct Sent {
  FilterError result = -1;
  std::vector<Band> bands;
  std::vector<int> pixels;  // display order, -1 where no band drew
  std::vector<int32_t> errors;
  std::string live;
};

std::string Field(const std::string& json, const std::string& key) {
  const std::string tag = "\"" + key + "\":";
  const size_t start = json.find(tag);
  if (start == std::string::npos) return "";
  size_t at = start + tag.size();
  int depth = 0;
  const size_t from = at;
  for (; at < json.size(); ++at) {
    if (json[at] == '[') ++depth;
    if (json[at] == ']' && --depth == 0) return json.substr(from, at + 1 - from);
    if (depth == 0 && (json[at] == ',' || json[at] == '}')) return json.substr(from, at - from);
  }
  return "";
}

Sent SendImage(const std::vector<uint8_t>& pixels, uint16_t width, uint16_t height, int depth,
               bool interlaced, uint16_t left = 3, int32_t topY = 500) {
  std::vector<uint8_t> streamOrder = pixels;
  if (interlaced) {
    const std::vector<int> order = gifwrite::InterlaceOrder(height);
    for (size_t row = 0; row < order.size(); ++row) {
      std::copy_n(pixels.data() + static_cast<size_t>(order[row]) * width, width,
                  streamOrder.data() + row * width);
    }
  }
  const gifwrite::Bytes data = gifwrite::EncodeImageData(streamOrder, std::max(depth, 2));
  testhost::RecordingHost host;
  Sent sent;
  {
    testhost::ScopedJob job;
    host.Attach(job.context());
    job->picture = QvDocCreate(0);
    const uint8_t* address = data.data();
    StreamOpenDescriptor descriptor = {};
    descriptor.source = reinterpret_cast<uintptr_t>(&address);
    descriptor.size = static_cast<uint32_t>(data.size());
    QvStream stream = QvStreamOpen(nullptr, &descriptor, 0);
    BitmapCorners corners = {};
    BitmapSize size = {};
    corners.xLeft.value = static_cast<int16_t>(left);
    corners.yTop.value = static_cast<int16_t>(topY);
    corners.xRight.value = static_cast<int16_t>(left + width);
    corners.yBottom.value = static_cast<int16_t>(topY - height);
    size.width.value = width;
    size.rows.value = height;
    QvBitmapBegin(job->picture, &corners, &size, -depth, 0, 1, 3, 0);
    StandInClearLog();
    sent.result = DecodeImage(job.job(), interlaced ? 0x40 : 0, depth, width, left, topY, height,
                              stream);
    for (int i = 0; i < StandInLogSize(); ++i) {
      const std::string entry = StandInLogEntry(i);
      if (entry.find("\"op\":\"QvBitmapBand\"") == std::string::npos) continue;
      sent.bands.push_back({Field(entry, "corners"), Field(entry, "size")});
    }
    QvBitmapEnd(job->picture);
    QvStreamClose(stream);
    QvDocDestroy(job->picture);
  }
  sent.live = testhost::DescribeLive();
  sent.errors = host.Codes(3);
  const standin::Bitmap& bitmap = StandInLastPicture()->bitmaps.back();
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) sent.pixels.push_back(bitmap.PixelIndex(x, y));
  }
  return sent;
}

std::vector<int> AsInts(const std::vector<uint8_t>& pixels) {
  return std::vector<int>(pixels.begin(), pixels.end());
}

TEST(RasterTest, BandsRunTopDownWithinTheBandSize) {
  struct Case {
    const char* name;
    uint16_t width, height;
    int depth;
    bool interlaced;
    std::vector<Band> bands;
  };
  const std::vector<Case> cases = {
      {"8000 x 10: 32767 / 8000 = 4 rows a band", 8000, 10, 8, false,
       {{"[[3,500],[8003,496],[8003,500]]", "[8000,4]"},
        {"[[3,496],[8003,492],[8003,500]]", "[8000,4]"},
        {"[[3,492],[8003,490],[8003,500]]", "[8000,2]"}}},
      {"interlaced, the same bands", 8000, 10, 8, true,
       {{"[[3,500],[8003,496],[8003,500]]", "[8000,4]"},
        {"[[3,496],[8003,492],[8003,500]]", "[8000,4]"},
        {"[[3,492],[8003,490],[8003,500]]", "[8000,2]"}}},
      {"fits in one band", 100, 300, 8, false, {{"[[3,500],[103,200],[103,500]]", "[100,300]"}}},
      {"one row past a full band", 4092, 9, 8, false,
       {{"[[3,500],[4095,492],[4095,500]]", "[4092,8]"},
        {"[[3,492],[4095,491],[4095,500]]", "[4092,1]"}}},
      {"a row longer than a band", 40000, 2, 8, false, {}},
      {"width 0", 0, 5, 8, true, {}},
      {"height 0", 7, 0, 4, true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> pixels = RandomPixels(size_t{c.width} * c.height, c.depth, c.height);
    const Sent sent = SendImage(pixels, c.width, c.height, c.depth, c.interlaced);
    ASSERT_EQ(sent.result, 0);
    ASSERT_EQ(sent.bands.size(), c.bands.size());
    for (size_t i = 0; i < c.bands.size(); ++i) {
      EXPECT_EQ(sent.bands[i].corners, c.bands[i].corners) << "band " << i;
      EXPECT_EQ(sent.bands[i].size, c.bands[i].size) << "band " << i;
    }
    if (!c.bands.empty()) {
      EXPECT_EQ(sent.pixels, AsInts(pixels));
    }
    EXPECT_EQ(sent.live, "");
  }
}

TEST(RasterTest, EveryWidthAndDepthReachesThePictureIntact) {
  for (int depth : {1, 4, 8}) {
    for (uint16_t width : {1, 2, 3, 4, 8, 12, 13, 64}) {
      for (bool interlaced : {false, true}) {
        SCOPED_TRACE(testing::Message() << "depth " << depth << " width " << width
                                        << (interlaced ? " interlaced" : ""));
        const uint16_t height = 11;
        const std::vector<uint8_t> pixels = RandomPixels(size_t{width} * height, depth, width);
        const Sent sent = SendImage(pixels, width, height, depth, interlaced);
        ASSERT_EQ(sent.result, 0);
        EXPECT_EQ(sent.bands.size(), 1u);
        EXPECT_EQ(sent.pixels, AsInts(pixels));
        EXPECT_EQ(sent.live, "");
      }
    }
  }
}

}  // namespace
