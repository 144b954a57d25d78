// DecodeImage over image data made by the test-support encoder or packed by
// hand, read back from the companion stand-in's picture.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "gif/lzw_decoder.h"
#include "platform/platform_test.h"
#include "tests/support/gif_writer.h"
#include "tests/support/recording_host.h"

namespace {

using gifwrite::Bytes;
using Codes = std::vector<std::pair<int, int>>;

struct Shape {
  uint16_t width = 0, height = 0;
  int depth = 8;
  bool interlaced = false;
};

struct Decoded {
  FilterError result = -1;
  std::vector<uint8_t> pixels;  // display order; -1 (255) where no band drew
  int bands = 0;
  bool bitmapEnded = false;
  int32_t streamPosition = -1;
  std::vector<int32_t> errors;    // kind-3 codes reported
  std::vector<int32_t> progress;  // values of the progress calls
  std::string live;               // blocks, streams, documents still held
};

// Opens a document and a memory stream over `data`, begins the bitmap as the
// driver does, decodes, and closes everything again.
Decoded Decode(const Bytes& data, Shape shape, testhost::RecordingHost* host = nullptr,
               long failAllocation = 0) {
  testhost::RecordingHost ownHost;
  if (host == nullptr) host = &ownHost;
  Decoded out;
  {
    testhost::ScopedJob job;
    host->Attach(job.context());
    job->picture = QvDocCreate(0);
    const uint8_t* address = data.data();
    StreamOpenDescriptor descriptor = {};
    descriptor.source = reinterpret_cast<uintptr_t>(&address);
    descriptor.size = static_cast<uint32_t>(data.size());
    QvStream stream = QvStreamOpen(nullptr, &descriptor, 0);
    RecordInputSize(stream, job.job());

    BitmapCorners corners = {};
    BitmapSize size = {};
    const int16_t top = 1000;
    corners.xLeft.value = 0;
    corners.yTop.value = top;
    corners.xRight.value = static_cast<int16_t>(shape.width);
    corners.yBottom.value = static_cast<int16_t>(top - shape.height);
    corners.xRight2.value = static_cast<int16_t>(shape.width);
    corners.yTop2.value = top;
    size.width.value = shape.width;
    size.rows.value = shape.height;
    QvBitmapBegin(job->picture, &corners, &size, -shape.depth, 0, 1, 3, 0);

    PlatformFailAllocationAt(failAllocation);
    out.result = DecodeImage(job.job(), shape.interlaced ? 0x40 : 0, shape.depth, shape.width, 0,
                             top, shape.height, stream);
    PlatformFailAllocationAt(0);
    if (out.result == 0) QvBitmapEnd(job->picture);
    out.streamPosition = QvStreamSeek(stream, 0, 1);
    QvStreamClose(stream);
    QvDocDestroy(job->picture);
    job->picture = nullptr;
  }
  out.live = testhost::DescribeLive();
  out.errors = host->Codes(3);
  out.progress = host->ProgressValues();
  const standin::Picture* picture = StandInLastPicture();
  if (picture != nullptr && !picture->bitmaps.empty()) {
    const standin::Bitmap& bitmap = picture->bitmaps.back();
    out.bands = static_cast<int>(bitmap.bands.size());
    out.bitmapEnded = bitmap.ended;
    out.pixels.resize(static_cast<size_t>(shape.width) * shape.height);
    for (int y = 0; y < shape.height; ++y) {
      for (int x = 0; x < shape.width; ++x) {
        out.pixels[static_cast<size_t>(y) * shape.width + x] =
            static_cast<uint8_t>(bitmap.PixelIndex(x, y));
      }
    }
  }
  return out;
}

std::vector<uint8_t> RandomPixels(size_t count, int bits, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> pixels(count);
  for (auto& p : pixels) p = static_cast<uint8_t>(random() & ((1u << bits) - 1));
  return pixels;
}

// Runs of equal values with a few bits of noise: long strings in the table.
std::vector<uint8_t> SmoothPixels(uint16_t width, uint16_t height, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
  for (size_t y = 0; y < height; ++y) {
    for (size_t x = 0; x < width; ++x) {
      pixels[y * width + x] = static_cast<uint8_t>((x / 7 + y / 5 + (random() % 7 == 0)) & 0xFF);
    }
  }
  return pixels;
}

// Display order of `pixels` sent in interlaced stream order.
std::vector<uint8_t> ToStreamOrder(const std::vector<uint8_t>& pixels, uint16_t width,
                                   uint16_t height) {
  std::vector<uint8_t> stream(pixels.size());
  const std::vector<int> order = gifwrite::InterlaceOrder(height);
  for (size_t row = 0; row < order.size(); ++row) {
    std::memcpy(&stream[row * width], &pixels[static_cast<size_t>(order[row]) * width], width);
  }
  return stream;
}

// ---------------------------------------------------------------------------
// Round trips through the encoder.

TEST(LzwDecoderTest, RoundTripsEncodedImages) {
  using gifwrite::LzwOptions;
  struct Case {
    const char* name;
    int codeSize;
    uint16_t width, height;
    bool smooth;
    LzwOptions lzw;
  };
  LzwOptions deferred;
  deferred.clearWhenFull = false;
  LzwOptions noInitialClear;
  noInitialClear.initialClear = false;
  LzwOptions clearOdd;
  clearOdd.clearEvery = 7;
  LzwOptions clearRare;
  clearRare.clearEvery = 3001;
  LzwOptions tinyBlocks;
  tinyBlocks.subBlockSize = 1;
  LzwOptions oddBlocks;
  oddBlocks.subBlockSize = 13;
  oddBlocks.clearEvery = 1;
  LzwOptions noEndCode;
  noEndCode.endCode = false;
  const std::vector<Case> cases = {
      {"size 1", 1, 61, 17, false, {}},
      {"size 2", 2, 64, 33, false, {}},
      {"size 3", 3, 13, 40, false, {}},
      {"size 4", 4, 100, 50, false, {}},
      {"size 5", 5, 77, 31, false, {}},
      {"size 6", 6, 128, 64, false, {}},
      {"size 7", 7, 99, 101, false, {}},
      {"size 8 noise", 8, 256, 256, false, {}},
      {"size 8 smooth", 8, 320, 200, true, {}},
      {"full table, no clear after", 8, 300, 300, false, deferred},
      {"full table smooth, no clear after", 8, 640, 480, true, deferred},
      {"size 2 full table, no clear after", 2, 400, 300, false, deferred},
      {"first code without clear", 8, 50, 50, false, noInitialClear},
      {"clear every 7 codes", 4, 90, 70, false, clearOdd},
      {"clear every 3001 codes", 8, 200, 200, true, clearRare},
      {"one-byte sub-blocks", 8, 40, 40, false, tinyBlocks},
      {"13-byte sub-blocks, clear after every code", 3, 40, 40, false, oddBlocks},
      {"no end code", 5, 33, 9, false, noEndCode},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> pixels =
        c.smooth ? SmoothPixels(c.width, c.height, 7)
                 : RandomPixels(static_cast<size_t>(c.width) * c.height, c.codeSize, 11);
    const Bytes data = gifwrite::EncodeImageData(pixels, c.codeSize, c.lzw);
    const Decoded d = Decode(data, {c.width, c.height, 8, false});
    ASSERT_EQ(d.result, 0);
    EXPECT_TRUE(d.errors.empty());
    EXPECT_EQ(d.pixels, pixels);
    EXPECT_EQ(d.live, "");
    // With the end code, the stream stands right after the terminator.
    if (c.lzw.endCode) {
      EXPECT_EQ(d.streamPosition, static_cast<int32_t>(data.size()));
    }
  }
}

TEST(LzwDecoderTest, InterlacedImagesComeOutInDisplayOrder) {
  std::vector<uint16_t> heights = {1, 2, 3, 4, 5, 6, 7, 8, 9, 16, 17, 100};
  for (uint16_t height : heights) {
    SCOPED_TRACE(height);
    const uint16_t width = 21;
    const std::vector<uint8_t> pixels = RandomPixels(static_cast<size_t>(width) * height, 8, height);
    const Bytes data = gifwrite::EncodeImageData(ToStreamOrder(pixels, width, height), 8);
    const Decoded d = Decode(data, {width, height, 8, true});
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(d.pixels, pixels);
    EXPECT_EQ(d.live, "");
  }
}

// ---------------------------------------------------------------------------
// Hand-built code streams. Minimum code size 2: clear 4, end 5, first free
// entry 6, codes 3 bits wide until entry 7 is made.

struct HandCase {
  const char* name;
  Codes codes;
  uint16_t width;
  std::vector<uint8_t> pixels;
};

TEST(LzwDecoderTest, HandBuiltStreamsFollowTheTable) {
  const std::vector<HandCase> cases = {
      // Taken like the first code after a clear code: written, no entry.
      {"first code without clear", {{1, 3}, {2, 3}, {6, 3}, {5, 4}}, 4, {1, 2, 1, 2}},
      // 6 is the next free code: the previous string and its first pixel.
      {"code equal to next", {{4, 3}, {1, 3}, {6, 3}, {6, 3}, {5, 4}}, 5, {1, 1, 1, 1, 1}},
      // 8 = "2 3" and its own first pixel.
      {"code equal to next after a string", {{4, 3}, {2, 3}, {3, 3}, {6, 3}, {8, 4}, {5, 4}}, 7,
       {2, 3, 2, 3, 2, 3, 2}},
      // 7 writes nothing and makes no entry, but becomes the prefix of entry
      // 6, whose string then leads into the empty entry 7 ("0 0").
      {"code above next", {{4, 3}, {1, 3}, {7, 3}, {2, 3}, {6, 3}, {5, 4}}, 6,
       {1, 2, 0, 0, 2, 0}},
      {"two clears in a row", {{4, 3}, {4, 3}, {3, 3}, {2, 3}, {6, 3}, {5, 4}}, 4, {3, 2, 3, 2}},
      {"end code right after a clear", {{4, 3}, {1, 3}, {2, 3}, {4, 3}, {5, 3}}, 4, {1, 2, 0, 0}},
      {"clear in mid-stream keeps the table's width right",
       {{4, 3}, {1, 3}, {1, 3}, {6, 3}, {4, 4}, {2, 3}, {2, 3}, {6, 3}, {5, 4}}, 9,
       {1, 1, 1, 1, 2, 2, 2, 2, 0}},
      // The end code does not come; the zeros past the data are code 0.
      {"data ending before the pixels", {{4, 3}, {3, 3}, {3, 3}}, 6, {3, 3, 0, 0, 0, 0}},
      // A clear code's entry 6 = "1 2" survives it; after the clear, 6 is the
      // first code and writes it, and 6 again makes entry 6 its own prefix:
      // the walk of that cycle ends the image, with the pixels so far kept.
      {"prefix cycle through a stale entry", {{4, 3}, {1, 3}, {2, 3}, {4, 3}, {6, 3}, {6, 3}, {5, 3}},
       8, {1, 2, 1, 2, 0, 0, 0, 0}},
  };
  for (const HandCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes data = gifwrite::PackCodes(2, c.codes);
    const Decoded d = Decode(data, {c.width, 1, 8, false});
    ASSERT_EQ(d.result, 0);
    EXPECT_TRUE(d.errors.empty());
    EXPECT_EQ(d.pixels, c.pixels);
    EXPECT_EQ(d.live, "");
  }
}

TEST(LzwDecoderTest, MinimumCodeSizeOneGrowsRightAfterTheFirstCode) {
  // Clear 2, end 3, first free 4 = 1 << 2: the second code is 3 bits wide.
  const Bytes data = gifwrite::PackCodes(1, {{2, 2}, {1, 2}, {0, 3}, {4, 3}, {3, 3}});
  const Decoded d = Decode(data, {4, 1, 8, false});
  ASSERT_EQ(d.result, 0);
  EXPECT_EQ(d.pixels, (std::vector<uint8_t>{1, 0, 1, 0}));
}

TEST(LzwDecoderTest, MinimumCodeSizesUpToElevenDecodeAndAboveAreRefused) {
  // Clear 2048 and 12-bit codes from the start.
  const Decoded eleven = Decode(gifwrite::PackCodes(11, {{2048, 12}, {7, 12}, {2049, 12}}),
                                {1, 1, 8, false});
  EXPECT_EQ(eleven.result, 0);
  EXPECT_EQ(eleven.pixels, std::vector<uint8_t>{7});

  for (int size : {12, 15, 255}) {
    SCOPED_TRACE(size);
    const Bytes data = gifwrite::PackCodes(size, {{0, 12}, {0, 12}});
    const Decoded d = Decode(data, {4, 4, 8, false});
    EXPECT_EQ(d.result, kErrRead);
    EXPECT_EQ(d.errors, std::vector<int32_t>{kErrRead});
    EXPECT_EQ(d.bands, 0);
    EXPECT_EQ(d.streamPosition, 2);  // the size and the first length byte
    EXPECT_EQ(d.live, "");
  }
}

TEST(LzwDecoderTest, RunsOfClearCodesAcrossSubBlocksReadTheRealData) {
  // Thirty clears in one-byte sub-blocks use up the loaded window long
  // before the code after them.
  Codes codes(30, {4, 3});
  for (auto code : Codes{{1, 3}, {2, 3}, {6, 3}, {5, 4}}) codes.push_back(code);
  const Decoded d = Decode(gifwrite::PackCodes(2, codes, 1), {4, 1, 8, false});
  ASSERT_EQ(d.result, 0);
  EXPECT_EQ(d.pixels, (std::vector<uint8_t>{1, 2, 1, 2}));
}

// ---------------------------------------------------------------------------
// Where decoding stops and where it leaves the stream.

TEST(LzwDecoderTest, StopsEarlyAndLeavesLaterSubBlocksUnread) {
  struct Case {
    const char* name;
    Codes codes;
    uint16_t width;
  };
  // The codes fill the first sub-block with 8 spare bytes behind them, so
  // the second sub-block is never loaded.
  const std::vector<Case> cases = {
      {"end code", {{4, 3}, {1, 3}, {2, 3}, {5, 3}}, 9},
      {"pixels complete", {{4, 3}, {1, 3}, {2, 3}, {3, 3}, {3, 3}}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes data = gifwrite::PackCodes(2, c.codes, 255, false);
    const uint8_t firstLength = data[1];
    // Pad the first sub-block and append a second one and the terminator.
    Bytes padded = {data[0], static_cast<uint8_t>(firstLength + 8)};
    padded.insert(padded.end(), data.begin() + 2, data.end());
    padded.insert(padded.end(), 8, 0);
    const size_t afterSecondLength = padded.size() + 1;
    padded.insert(padded.end(), {3, 0xAA, 0xBB, 0xCC, 0});
    const Decoded d = Decode(padded, {c.width, 1, 8, false});
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(d.streamPosition, static_cast<int32_t>(afterSecondLength));
    EXPECT_EQ(d.pixels[0], 1);
    EXPECT_EQ(d.pixels[1], 2);
    EXPECT_EQ(d.progress.size(), 1u);
  }
}

TEST(LzwDecoderTest, DataEndingEarlyKeepsThePixelsDecodedSoFar) {
  const uint16_t width = 200, height = 100;
  const std::vector<uint8_t> pixels = RandomPixels(size_t{width} * height, 8, 3);
  Bytes data = gifwrite::EncodeImageData(pixels, 8);
  // Keep the first sub-block only: 255 bytes of 9-bit codes hold over 200
  // pixels; the window is then decoded up to its bound.
  data.resize(2 + 255);
  data.push_back(0);
  const Decoded d = Decode(data, {width, height, 8, false});
  ASSERT_EQ(d.result, 0);
  EXPECT_TRUE(d.errors.empty());
  EXPECT_EQ(d.streamPosition, static_cast<int32_t>(data.size()));
  EXPECT_TRUE(std::equal(pixels.begin(), pixels.begin() + 200, d.pixels.begin()));
  // Nothing past the window's bound: the last rows stay 0.
  EXPECT_TRUE(std::all_of(d.pixels.begin() + 2000, d.pixels.end(), [](uint8_t p) { return p == 0; }));
  EXPECT_EQ(d.live, "");
}

TEST(LzwDecoderTest, NoDataDecodesTheZeroWindowUpToItsBound) {
  // A first length of 0: codes 0 from the empty window until the byte
  // position passes 510, the last read touching bytes 510 to 513.
  const Decoded d = Decode({8, 0}, {1000, 3, 8, false});
  ASSERT_EQ(d.result, 0);
  EXPECT_EQ(d.bands, 1);
  EXPECT_TRUE(std::all_of(d.pixels.begin(), d.pixels.end(), [](uint8_t p) { return p == 0; }));
  EXPECT_EQ(d.streamPosition, 2);
}

TEST(LzwDecoderTest, HeightZeroReadsTwoBytesAndSendsNothing) {
  const Decoded d = Decode(gifwrite::PackCodes(2, {{4, 3}, {1, 3}, {5, 3}}), {5, 0, 8, false});
  EXPECT_EQ(d.result, 0);
  EXPECT_EQ(d.bands, 0);
  EXPECT_TRUE(d.bitmapEnded);
  EXPECT_EQ(d.streamPosition, 2);
}

TEST(LzwDecoderTest, ShortReadsAreReportedOnce) {
  const Bytes full = gifwrite::EncodeImageData(RandomPixels(400, 8, 5), 8, [] {
    gifwrite::LzwOptions o;
    o.subBlockSize = 50;
    return o;
  }());
  // Cut inside the size byte, the first length, a sub-block, a length byte.
  for (size_t keep : {size_t{0}, size_t{1}, size_t{2}, size_t{30}, size_t{52}, size_t{53}}) {
    SCOPED_TRACE(keep);
    const Decoded d = Decode(Bytes(full.begin(), full.begin() + keep), {20, 20, 8, false});
    EXPECT_EQ(d.result, kErrRead);
    EXPECT_EQ(d.errors, std::vector<int32_t>{kErrRead});
    EXPECT_EQ(d.bands, 0);
    EXPECT_EQ(d.live, "");
  }
}

// ---------------------------------------------------------------------------
// Bounds that a decoder trusting its input would cross.

TEST(LzwDecoderTest, WidestImagesGetABufferThatHoldsThem) {
  // (65535 + 3) & ~3 is 0 in 16 bits.
  for (uint16_t width : {uint16_t{65533}, uint16_t{65535}}) {
    SCOPED_TRACE(width);
    const std::vector<uint8_t> pixels = RandomPixels(size_t{width} * 2, 1, width);
    const Bytes data = gifwrite::EncodeImageData(pixels, 2);
    // Depth 8: a row of 65536 bytes cannot go in a band; nothing is sent.
    const Decoded wide = Decode(data, {width, 2, 8, false});
    EXPECT_EQ(wide.result, 0);
    EXPECT_EQ(wide.bands, 0);
    EXPECT_EQ(wide.live, "");
    // Depth 1: rows of 8192 bytes, both in one band.
    const Decoded narrow = Decode(data, {width, 2, 1, false});
    EXPECT_EQ(narrow.result, 0);
    EXPECT_EQ(narrow.bands, 1);
    EXPECT_EQ(narrow.pixels, pixels);
  }
}

TEST(LzwDecoderTest, LongRunsWithoutClearNeverWritePastTheTable) {
  // Two-pixel alphabet, 12-bit codes from the 4096th entry on, and far more
  // than 904 codes after it.
  gifwrite::LzwOptions deferred;
  deferred.clearWhenFull = false;
  deferred.initialClear = false;
  const std::vector<uint8_t> pixels = RandomPixels(size_t{1000} * 200, 1, 9);
  const Decoded d = Decode(gifwrite::EncodeImageData(pixels, 2, deferred), {1000, 200, 8, false});
  ASSERT_EQ(d.result, 0);
  EXPECT_EQ(d.pixels, pixels);
}

// ---------------------------------------------------------------------------
// The host and memory.

TEST(LzwDecoderTest, ProgressFollowsEverySubBlock) {
  gifwrite::LzwOptions blocks;
  blocks.subBlockSize = 100;
  const std::vector<uint8_t> pixels = RandomPixels(3000, 8, 2);
  const Bytes data = gifwrite::EncodeImageData(pixels, 8, blocks);
  const size_t subBlocks = (data.size() - 3 + 100) / 101;
  const Decoded d = Decode(data, {100, 30, 8, false});
  ASSERT_EQ(d.result, 0);
  ASSERT_EQ(d.progress.size(), subBlocks);
  EXPECT_TRUE(std::is_sorted(d.progress.begin(), d.progress.end()));
  EXPECT_EQ(d.progress.back(), 100);
}

TEST(LzwDecoderTest, CancellingInsideTheDataSendsNothing) {
  gifwrite::LzwOptions blocks;
  blocks.subBlockSize = 64;
  const Bytes data = gifwrite::EncodeImageData(RandomPixels(5000, 8, 4), 8, blocks);
  for (int32_t followUp : {1, 0}) {
    SCOPED_TRACE(followUp);
    testhost::RecordingHost host;
    host.AnswerProgress(3, 1);
    host.AnswerFollowUp(followUp);
    const Decoded d = Decode(data, {100, 50, 8, true}, &host);
    EXPECT_TRUE(d.errors.empty());
    EXPECT_EQ(d.live, "");
    if (followUp != 0) {
      EXPECT_EQ(d.result, kErrCancelled);
      EXPECT_EQ(d.bands, 0);
      EXPECT_EQ(d.progress.size(), 3u);
    } else {
      EXPECT_EQ(d.result, 0);  // the host withdrew its request
      EXPECT_EQ(d.bands, 1);
    }
  }
}

TEST(LzwDecoderTest, LibraryErrorAtTheProgressCheckIsReported) {
  testhost::RecordingHost host;
  StandInSetPendingErrorAfter("QvBitmapBegin", 1, 303, 7);
  const Decoded d = Decode(gifwrite::EncodeImageData(RandomPixels(100, 8, 1), 8), {10, 10, 8, false},
                           &host);
  StandInResetFaults();
  EXPECT_EQ(d.result, kErrLib303);
  EXPECT_EQ(d.errors, std::vector<int32_t>{kErrLib303});
  EXPECT_EQ(d.bands, 0);
  EXPECT_EQ(d.live, "");
}

TEST(LzwDecoderTest, EveryAllocationFailingIsReportedOnceAndLeaksNothing) {
  // Interlaced, so that the de-interlace buffer is among the allocations.
  const std::vector<uint8_t> pixels = RandomPixels(48 * 40, 8, 6);
  const Bytes data = gifwrite::EncodeImageData(ToStreamOrder(pixels, 48, 40), 8);
  const long before = PlatformAllocationCount();
  const Decoded good = Decode(data, {48, 40, 8, true});
  ASSERT_EQ(good.result, 0);
  const long perRun = PlatformAllocationCount() - before;
  ASSERT_GE(perRun, 5);  // pixels, table, stack, window, de-interlace
  int failures = 0;
  for (long n = 1; n <= perRun; ++n) {
    SCOPED_TRACE(n);
    const Decoded d = Decode(data, {48, 40, 8, true}, nullptr, n);
    if (d.result == 0) continue;  // an allocation of the harness, not ours
    ++failures;
    EXPECT_EQ(d.result, kErrMemory);
    EXPECT_EQ(d.errors, std::vector<int32_t>{kErrMemory});
    EXPECT_EQ(d.bands, 0);
    EXPECT_EQ(d.live, "");
  }
  EXPECT_EQ(failures, 5);
}

// ---------------------------------------------------------------------------
// Inputs that once broke a decoder, replayed: each file's first image.

#ifdef GIFIMPORT_CRASHERS_DIR
// Offset of the first image's minimum code size byte, and its descriptor.
bool FindFirstImage(const Bytes& gif, size_t* offset, Shape* shape) {
  if (gif.size() < 13) return false;
  size_t at = 13;
  if (gif[10] & 0x80) at += 3u << ((gif[10] & 7) + 1);
  while (at < gif.size()) {
    const uint8_t introducer = gif[at++];
    if (introducer == '!') {
      ++at;
      while (at < gif.size() && gif[at] != 0) at += gif[at] + 1u;
      ++at;
    } else if (introducer == ',') {
      if (at + 9 > gif.size()) return false;
      shape->width = static_cast<uint16_t>(gif[at + 4] | gif[at + 5] << 8);
      shape->height = static_cast<uint16_t>(gif[at + 6] | gif[at + 7] << 8);
      const uint8_t packed = gif[at + 8];
      shape->interlaced = (packed & 0x40) != 0;
      at += 9;
      if (packed & 0x80) at += 3u << ((packed & 7) + 1);
      *offset = at;
      return at < gif.size();
    } else if (introducer == ';') {
      return false;
    }
  }
  return false;
}

TEST(LzwDecoderTest, CrashersDecodeWithinBounds) {
  const char* names[] = {"lzw-min-code-size-12.gif", "lzw-prefix-cycle.gif",
                         "lzw-table-past-4096.gif", "lzw-window-bound-read.gif",
                         "raster-width-65535.gif"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    std::ifstream file(std::string(GIFIMPORT_CRASHERS_DIR) + "/" + name, std::ios::binary);
    ASSERT_TRUE(file.good());
    const Bytes gif((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    size_t offset = 0;
    Shape shape;
    ASSERT_TRUE(FindFirstImage(gif, &offset, &shape));
    const Decoded d = Decode(Bytes(gif.begin() + static_cast<long>(offset), gif.end()), shape);
    EXPECT_TRUE(d.result == 0 || d.result == kErrRead) << d.result;
    EXPECT_EQ(d.live, "");
  }
}
#endif

}  // namespace
