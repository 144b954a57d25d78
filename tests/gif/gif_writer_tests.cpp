// The test-support GIF writer, checked against a deliberately plain
// reference decoder (strings in a table, codes read bit by bit), so that a
// wrong code width or table step in the encoder cannot hide behind a decoder
// that shares its mistakes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/support/gif_writer.h"

namespace {

using gifwrite::Bytes;

struct Decoded {
  std::vector<uint8_t> pixels;
  int minCodeSize = 0;
  bool startsWithClear = false;
  int clears = 0;
  bool endCode = false;
  int codesAtFullTable = 0;  // data codes read while the table was full
  std::vector<int> subBlockSizes;
  size_t bitsLeftOver = 0;   // after the end code, in the last sub-block data
  std::string error;
};

Decoded Decode(const Bytes& data) {
  Decoded d;
  size_t at = 0;
  d.minCodeSize = data.at(at++);
  std::vector<uint8_t> stream;
  for (;;) {
    if (at >= data.size()) return d.error = "no terminator", d;
    int n = data[at++];
    if (n == 0) break;
    d.subBlockSizes.push_back(n);
    if (at + n > data.size()) return d.error = "sub-block runs past the data", d;
    stream.insert(stream.end(), data.begin() + at, data.begin() + at + n);
    at += n;
  }
  if (at != data.size()) return d.error = "bytes after the terminator", d;

  // A table entry is a run of the output already written: every string is
  // the string of an earlier code plus the first pixel that followed it.
  struct Run {
    size_t start, length;
  };
  const int clear = 1 << d.minCodeSize;
  const int end = clear + 1;
  std::vector<Run> table;
  int width = 0;
  bool hasPrev = false;
  Run prev = {0, 0};
  auto reset = [&] {
    table.assign(clear + 2, {0, 0});
    width = d.minCodeSize + 1;
    hasPrev = false;
  };
  size_t bit = 0;
  auto readCode = [&]() {
    if (bit + width > stream.size() * 8) return -1;
    int v = 0;
    for (int k = 0; k < width; ++k, ++bit) v |= ((stream[bit / 8] >> (bit % 8)) & 1) << k;
    return v;
  };
  auto copyRun = [&](Run run) {
    for (size_t i = 0; i < run.length; ++i) d.pixels.push_back(d.pixels[run.start + i]);
  };
  reset();
  for (bool first = true;; first = false) {
    int code = readCode();
    if (code < 0) break;
    if (first) d.startsWithClear = code == clear;
    if (code == clear) {
      ++d.clears;
      reset();
      continue;
    }
    if (code == end) {
      d.endCode = true;
      break;
    }
    Run out = {d.pixels.size(), 0};
    if (code < clear) {
      d.pixels.push_back(static_cast<uint8_t>(code));
    } else if (code > end && code < static_cast<int>(table.size())) {
      copyRun(table[code]);
    } else if (code == static_cast<int>(table.size()) && hasPrev) {
      copyRun(prev);
      d.pixels.push_back(d.pixels[prev.start]);
    } else {
      return d.error = "code " + std::to_string(code) + " not in the table", d;
    }
    out.length = d.pixels.size() - out.start;
    if (table.size() == 4096) ++d.codesAtFullTable;
    if (hasPrev && table.size() < 4096) table.push_back({prev.start, prev.length + 1});
    if (table.size() == (1u << width) && width < 12) ++width;
    prev = out;
    hasPrev = true;
  }
  d.bitsLeftOver = stream.size() * 8 - bit;
  return d;
}

// Noise over a few values plus long runs: fills the table fast and makes
// long strings, so widths reach 12 and the table fills.
std::vector<uint8_t> TestPixels(size_t count, int codeSize, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> pixels(count);
  const int values = 1 << codeSize;
  for (size_t i = 0; i < count; ++i) {
    pixels[i] = (i / 700) % 3 == 0 ? static_cast<uint8_t>((i / 50) % values)
                                   : static_cast<uint8_t>(random() % values);
  }
  return pixels;
}

TEST(GifWriterLzw, RoundTripsEveryCodeSizeAndOption) {
  struct Case {
    const char* name;
    gifwrite::LzwOptions options;
    size_t pixels;
  };
  gifwrite::LzwOptions noClear, noEnd, deferred, every, tiny, odd;
  noClear.initialClear = false;
  noEnd.endCode = false;
  deferred.clearWhenFull = false;
  every.clearEvery = 37;
  tiny.subBlockSize = 1;
  odd.subBlockSize = 17;
  const Case cases[] = {
      {"defaults", {}, 120000},  {"no initial clear", noClear, 5000}, {"no end code", noEnd, 5000},
      {"deferred clear", deferred, 120000}, {"clear every 37", every, 4000},
      {"one-byte sub-blocks", tiny, 2000},  {"17-byte sub-blocks", odd, 3000},
      {"empty", {}, 0},          {"one pixel", {}, 1},
  };
  for (int codeSize = 1; codeSize <= 8; ++codeSize) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", code size " + std::to_string(codeSize));
      std::vector<uint8_t> pixels = TestPixels(c.pixels, codeSize, 7u + codeSize);
      Decoded d = Decode(gifwrite::EncodeImageData(pixels, codeSize, c.options));
      ASSERT_EQ(d.error, "");
      EXPECT_EQ(d.minCodeSize, codeSize);
      EXPECT_EQ(d.pixels, pixels);
      EXPECT_EQ(d.startsWithClear, c.options.initialClear);
      EXPECT_EQ(d.endCode, c.options.endCode);
      if (c.options.endCode) {
        EXPECT_LT(d.bitsLeftOver, 8u) << "padding after the end code";
      }
      for (size_t i = 0; i + 1 < d.subBlockSizes.size(); ++i) {
        ASSERT_EQ(d.subBlockSizes[i], c.options.subBlockSize) << "sub-block " << i;
      }
      int extraClears = d.clears - (c.options.initialClear ? 1 : 0);
      if (!c.options.clearWhenFull) {
        EXPECT_EQ(extraClears, 0);
        EXPECT_GT(d.codesAtFullTable, 0) << "never ran on with a full table";
      } else {
        EXPECT_EQ(d.codesAtFullTable, 0) << "a full table must be cleared";
        if (c.pixels >= 120000) {
          EXPECT_GT(extraClears, 0) << "the table never filled";
        }
      }
      if (c.options.clearEvery > 0) {
        EXPECT_GE(extraClears, static_cast<int>(c.pixels) / (c.options.clearEvery * 16));
      }
    }
  }
}

TEST(GifWriterLzw, PackCodesPutsCodesLsbFirstInSubBlocks) {
  // 100, 001, 101 from the lowest bit up: 0b01001100 then 0b1.
  EXPECT_EQ(gifwrite::PackCodes(2, {{4, 3}, {1, 3}, {5, 3}}), (Bytes{2, 2, 0x4C, 0x01, 0}));
  EXPECT_EQ(gifwrite::PackCodes(2, {{4, 3}, {1, 3}, {5, 3}}, 1, false),
            (Bytes{2, 1, 0x4C, 1, 0x01}));
  Decoded d = Decode(gifwrite::PackCodes(3, {{8, 4}, {1, 4}, {2, 4}, {10, 4}, {9, 4}}));
  ASSERT_EQ(d.error, "");
  EXPECT_EQ(d.pixels, (std::vector<uint8_t>{1, 2, 1, 2}));
}

TEST(GifWriterBuilder, InterlacedImagesAreStoredInPassOrder) {
  const std::vector<std::vector<int>> expected = {
      {}, {0}, {0, 1}, {0, 2, 1}, {0, 2, 1, 3}, {0, 4, 2, 1, 3}, {0, 4, 2, 1, 3, 5},
      {0, 4, 2, 6, 1, 3, 5}, {0, 4, 2, 6, 1, 3, 5, 7}, {0, 8, 4, 2, 6, 1, 3, 5, 7},
  };
  for (int height = 1; height <= 9; ++height) {
    SCOPED_TRACE("height " + std::to_string(height));
    EXPECT_EQ(gifwrite::InterlaceOrder(height), expected[height]);
    gifwrite::Image image;
    image.width = 3;
    image.height = static_cast<uint16_t>(height);
    image.interlaced = true;
    for (int row = 0; row < height; ++row) image.pixels.insert(image.pixels.end(), 3, row);
    std::vector<gifwrite::Color> colors(16, {1, 2, 3});
    gifwrite::GifBuilder gif(3, static_cast<uint16_t>(height), colors);
    gif.AddImage(image);
    const Bytes& bytes = gif.bytes();
    size_t descriptor = 13 + 16 * 3;
    ASSERT_EQ(gif.blockOffsets().back(), descriptor);
    EXPECT_EQ(bytes[descriptor + 9], 0x40) << "interlace flag";
    Decoded d = Decode(Bytes(bytes.begin() + descriptor + 10, bytes.end()));
    ASSERT_EQ(d.error, "");
    ASSERT_EQ(d.pixels.size(), size_t{3} * height);
    for (int i = 0; i < height; ++i) EXPECT_EQ(d.pixels[i * 3], expected[height][i]) << i;
  }
}

TEST(GifWriterBuilder, WritesHeaderTablesAndExtensionsByteForByte) {
  gifwrite::GifBuilder gif(0x0140, 0x00C8, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, "87a", 2);
  gif.GraphicControl(true, 5, 0x0102).Comment("").Application("NETSCAPE2.0", {1, 0, 0});
  gif.PlainText(1, 2, 3, 4, 8, 12, 1, 0, {std::string(300, 'x')}).Trailer();
  const Bytes& b = gif.bytes();
  const Bytes header = {'G', 'I', 'F', '8', '7', 'a', 0x40, 0x01, 0xC8, 0x00};
  ASSERT_GE(b.size(), 13u + 12u);
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 10), header);
  EXPECT_EQ(b[10] & 0x87, 0x81) << "table flag, size field 1 (padded to 4)";
  EXPECT_EQ(b[11], 2);
  EXPECT_EQ(Bytes(b.begin() + 13, b.begin() + 25), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0}));
  size_t at = 25;
  EXPECT_EQ(Bytes(b.begin() + at, b.begin() + at + 8), (Bytes{0x21, 0xF9, 4, 1, 2, 1, 5, 0}));
  at += 8;
  EXPECT_EQ(Bytes(b.begin() + at, b.begin() + at + 3), (Bytes{0x21, 0xFE, 0}));
  at += 3;
  EXPECT_EQ(Bytes(b.begin() + at, b.begin() + at + 3), (Bytes{0x21, 0xFF, 11}));
  at += 3 + 11;
  EXPECT_EQ(Bytes(b.begin() + at, b.begin() + at + 5), (Bytes{3, 1, 0, 0, 0}));
  at += 5;
  EXPECT_EQ(Bytes(b.begin() + at, b.begin() + at + 3), (Bytes{0x21, 0x01, 12}));
  at += 3 + 12;
  EXPECT_EQ(b[at], 255);
  EXPECT_EQ(b[at + 256], 45);
  at += 256 + 46;
  EXPECT_EQ(Bytes(b.begin() + at, b.end()), (Bytes{0, 0x3B}));

  gifwrite::GifBuilder bare(1, 1);
  bare.SetHeaderSizeField(7);
  EXPECT_EQ(bare.bytes()[10], 0x07) << "size field without a table";
  EXPECT_EQ(bare.bytes().size(), 13u);
}

}  // namespace
