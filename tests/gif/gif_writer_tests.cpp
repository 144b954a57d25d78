// The test-support GIF writer, checked against a deliberately plain
// reference decoder (whole strings in a table, codes read bit by bit), so
// that a wrong code width or table step in the encoder cannot hide behind a
// decoder that shares its mistakes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/support/gif_writer.h"

namespace {

using gifwrite::Bytes;
using String = std::vector<uint8_t>;

struct Decoded {
  String pixels;
  int minCodeSize = 0, clears = 0;
  int codesAtFullTable = 0;  // data codes read while the table was full
  bool startsWithClear = false, endCode = false;
  std::vector<size_t> subBlockSizes;
  size_t bitsLeftOver = 0;  // after the end code
  std::string error;
};

Decoded Decode(const Bytes& data) {
  Decoded d;
  size_t at = 0;
  d.minCodeSize = data.at(at++);
  String stream;
  while (at < data.size() && data[at] != 0) {
    const size_t n = data[at++];
    if (at + n > data.size()) return d.error = "sub-block runs past the data", d;
    d.subBlockSizes.push_back(n);
    stream.insert(stream.end(), data.begin() + static_cast<long>(at),
                  data.begin() + static_cast<long>(at + n));
    at += n;
  }
  if (at + 1 != data.size()) return d.error = "no terminator, or bytes after it", d;

  const int clear = 1 << d.minCodeSize;
  std::vector<String> table;
  String previous;  // empty right after a clear code
  int width = 0;
  auto reset = [&] {
    table.assign(static_cast<size_t>(clear + 2), String());
    for (int i = 0; i < clear; ++i) table[static_cast<size_t>(i)] = {static_cast<uint8_t>(i)};
    width = d.minCodeSize + 1;
    previous.clear();
  };
  reset();
  size_t bit = 0;
  for (bool first = true; bit + static_cast<size_t>(width) <= stream.size() * 8; first = false) {
    int code = 0;
    for (int k = 0; k < width; ++k, ++bit) code |= ((stream[bit / 8] >> (bit % 8)) & 1) << k;
    if (first) d.startsWithClear = code == clear;
    if (code == clear) {
      ++d.clears;
      reset();
      continue;
    }
    if (code == clear + 1) {
      d.endCode = true;
      break;
    }
    String out;
    if (code < static_cast<int>(table.size())) {
      out = table[static_cast<size_t>(code)];
    } else if (code == static_cast<int>(table.size()) && !previous.empty()) {
      out = previous;
      out.push_back(previous[0]);
    } else {
      return d.error = "code " + std::to_string(code) + " not in the table", d;
    }
    if (table.size() == 4096) ++d.codesAtFullTable;
    if (!previous.empty() && table.size() < 4096) {
      previous.push_back(out[0]);
      table.push_back(previous);
    }
    if (table.size() == (1u << width) && width < 12) ++width;
    d.pixels.insert(d.pixels.end(), out.begin(), out.end());
    previous = out;
  }
  d.bitsLeftOver = stream.size() * 8 - bit;
  return d;
}

// Noise over a few values plus long runs: fills the table fast and makes
// long strings, so widths reach 12 and the table fills.
String TestPixels(size_t count, int codeSize, unsigned seed) {
  std::mt19937 random(seed);
  String pixels(count);
  const int values = 1 << codeSize;
  for (size_t i = 0; i < count; ++i) {
    pixels[i] = static_cast<uint8_t>((i / 700) % 3 == 0 ? (i / 50) % values : random() % values);
  }
  return pixels;
}

TEST(GifWriterLzw, RoundTripsEveryCodeSizeAndOption) {
  struct Case {
    const char* name;
    gifwrite::LzwOptions options;  // initialClear, endCode, clearWhenFull, clearEvery, subBlockSize
    size_t pixels;
  };
  const Case cases[] = {
      {"defaults", {}, 120000},
      {"no initial clear", {false, true, true, 0, 255}, 5000},
      {"no end code", {true, false, true, 0, 255}, 5000},
      {"deferred clear", {true, true, false, 0, 255}, 120000},
      {"clear every 37", {true, true, true, 37, 255}, 4000},
      {"one-byte sub-blocks", {true, true, true, 0, 1}, 2000},
      {"17-byte sub-blocks", {true, true, true, 0, 17}, 3000},
      {"empty", {}, 0},
      {"one pixel", {}, 1},
  };
  for (int codeSize = 1; codeSize <= 8; ++codeSize) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", code size " + std::to_string(codeSize));
      const String pixels = TestPixels(c.pixels, codeSize, 7u + codeSize);
      const Decoded d = Decode(gifwrite::EncodeImageData(pixels, codeSize, c.options));
      ASSERT_EQ(d.error, "");
      EXPECT_EQ(d.minCodeSize, codeSize);
      EXPECT_EQ(d.pixels, pixels);
      EXPECT_EQ(d.startsWithClear, c.options.initialClear);
      EXPECT_EQ(d.endCode, c.options.endCode);
      EXPECT_TRUE(!c.options.endCode || d.bitsLeftOver < 8) << "padding after the end code";
      for (size_t i = 0; i + 1 < d.subBlockSizes.size(); ++i) {
        ASSERT_EQ(d.subBlockSizes[i], static_cast<size_t>(c.options.subBlockSize))
            << "sub-block " << i;
      }
      const int extraClears = d.clears - (c.options.initialClear ? 1 : 0);
      // Only a deferred clear runs on with a full table, and it never clears.
      EXPECT_EQ(d.codesAtFullTable > 0, !c.options.clearWhenFull);
      if (!c.options.clearWhenFull) {
        EXPECT_EQ(extraClears, 0);
      } else if (c.pixels >= 120000) {
        EXPECT_GT(extraClears, 0) << "the table never filled";
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
}

TEST(GifWriterBuilder, InterlacedImagesAreStoredInPassOrder) {
  const std::vector<std::vector<int>> expected = {
      {},
      {0},
      {0, 1},
      {0, 2, 1},
      {0, 2, 1, 3},
      {0, 4, 2, 1, 3},
      {0, 4, 2, 1, 3, 5},
      {0, 4, 2, 6, 1, 3, 5},
      {0, 4, 2, 6, 1, 3, 5, 7},
      {0, 8, 4, 2, 6, 1, 3, 5, 7},
  };
  for (int height = 1; height <= 9; ++height) {
    SCOPED_TRACE("height " + std::to_string(height));
    EXPECT_EQ(gifwrite::InterlaceOrder(height), expected[static_cast<size_t>(height)]);
    gifwrite::Image image;
    image.width = 1;
    image.height = static_cast<uint16_t>(height);
    image.interlaced = true;
    for (int row = 0; row < height; ++row) image.pixels.push_back(static_cast<uint8_t>(row));
    const Bytes bytes = gifwrite::GifBuilder(1, image.height, std::vector<gifwrite::Color>(16))
                            .AddImage(image)
                            .bytes();
    const size_t descriptor = 13 + 16 * 3;
    EXPECT_EQ(bytes[descriptor + 9], 0x40) << "interlace flag";
    const Decoded d = Decode(Bytes(bytes.begin() + descriptor + 10, bytes.end()));
    EXPECT_EQ(std::vector<int>(d.pixels.begin(), d.pixels.end()),
              expected[static_cast<size_t>(height)]);
  }
}

TEST(GifWriterBuilder, WritesHeaderTablesAndExtensionsByteForByte) {
  gifwrite::GifBuilder gif(0x0140, 0x00C8, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, "87a", 2);
  gif.GraphicControl(true, 5, 0x0102).Comment("").Application("NETSCAPE2.0", {1, 0, 0});
  gif.PlainText(1, 2, 3, 4, 8, 12, 1, 0, {std::string(300, 'x')}).Trailer();
  // clang-format off
  Bytes expected = {'G', 'I', 'F', '8', '7', 'a', 0x40, 0x01, 0xC8, 0x00, 0x91, 2, 0,  // header
                    1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0,  // table padded to 4 entries
                    0x21, 0xF9, 4, 1, 2, 1, 5, 0,        // graphic control
                    0x21, 0xFE, 0,                       // empty comment
                    0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0',
                    3, 1, 0, 0, 0,                       // loop forever
                    0x21, 0x01, 12, 1, 0, 2, 0, 3, 0, 4, 0, 8, 12, 1, 0, 255};
  // clang-format on
  expected.insert(expected.end(), 255, 'x');
  expected.push_back(45);
  expected.insert(expected.end(), 45, 'x');
  expected.insert(expected.end(), {0, 0x3B});
  EXPECT_EQ(gif.bytes(), expected);

  gifwrite::GifBuilder bare(1, 1);
  bare.SetHeaderSizeField(7);
  EXPECT_EQ(bare.bytes(), (Bytes{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x07, 0, 0}));
}

}  // namespace
