// DecodeImage over image data made by the test-support encoder or packed by
// hand, read back from the companion stand-in's picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "gif/lzw_decoder.h"
#include "tests/gif/plain_decoder.h"
#include "platform/platform_test.h"
#include "tests/support/gif_writer.h"
#include "tests/support/recording_host.h"

namespace {

using gifwrite::Bytes;
using gifwrite::EncodeImageData;
using gifwrite::LzwOptions;
using gifwrite::PackCodes;
using Codes = std::vector<std::pair<int, int>>;
using Pixels = std::vector<uint8_t>;

struct Decoded {
  FilterError result = -1;
  Pixels pixels;  // read back from the bands, top row first
  size_t bands = 0;
  int32_t streamPosition = -1;
  std::vector<int32_t> errors;          // kind-3 codes reported
  std::vector<std::string> calls, log;  // the host's status calls, the companion's
};

using DecodeFunction = decltype(&DecodeImage);

// Decodes `data` from a memory stream at depth 8, between the QvBitmapBegin
// and QvBitmapEnd that the driver would issue, and closes everything again.
Decoded Decode(const Bytes& data, uint16_t width, uint16_t height, bool interlaced = false,
               testhost::RecordingHost* host = nullptr, long failAllocation = 0,
               DecodeFunction decode = DecodeImage) {
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
    // The bitmap's top and the bands' top y both 0.
    BitmapCorners corners = {};
    BitmapSize size = {};
    size.width.value = width;
    size.rows.value = height;
    QvBitmapBegin(job->picture, &corners, &size, -8, 0, 1, 3, 0);
    PlatformFailAllocationAt(failAllocation);
    StandInClearLog();
    out.result = decode(job.job(), interlaced ? 0x40 : 0, 8, width, 0, 0, height, stream);
    for (int i = 0; i < StandInLogSize(); ++i) out.log.push_back(StandInLogEntry(i));
    PlatformFailAllocationAt(0);
    if (out.result == 0) QvBitmapEnd(job->picture);
    out.streamPosition = QvStreamSeek(stream, 0, 1);
    QvStreamClose(stream);
    QvDocDestroy(job->picture);
  }
  out.errors = host->Codes(3);
  out.calls = host->Texts();
  const standin::Bitmap& bitmap = StandInLastPicture()->bitmaps.back();
  out.bands = bitmap.bands.size();
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x)
      out.pixels.push_back(static_cast<uint8_t>(bitmap.PixelIndex(x, y)));
  }
  return out;
}

// Noise of `bits` bits; with `runs`, runs of equal values with a little
// noise, which make long strings in the table.
Pixels MakePixels(size_t count, int bits, unsigned seed, bool runs = false) {
  std::mt19937 random(seed);
  Pixels pixels(count);
  for (size_t i = 0; i < count; ++i) {
    const uint32_t value = runs ? static_cast<uint32_t>(i / 7 + (random() % 7 == 0)) : random();
    pixels[i] = static_cast<uint8_t>(value & ((1u << bits) - 1));
  }
  return pixels;
}

class LzwDecoderTest : public ::testing::Test {
 protected:
  void TearDown() override {
    StandInResetFaults();
    EXPECT_EQ(testhost::DescribeLive(), "");
  }
};

TEST_F(LzwDecoderTest, RoundTripsEncodedImages) {
  struct Case {
    const char* name;
    int codeSize;
    uint16_t width, height;
    bool runs;
    LzwOptions lzw;
  };
  // LzwOptions{initialClear, endCode, clearWhenFull, clearEvery, subBlockSize}
  std::vector<Case> cases = {
      {"full table, no clear after", 8, 300, 300, false, {true, true, false, 0, 255}},
      {"long strings, full table, no clear after", 8, 640, 480, true, {true, true, false, 0, 255}},
      {"full table, no clear at all", 2, 400, 300, false, {false, true, false, 0, 255}},
      {"first code without clear", 8, 50, 50, false, {false, true, true, 0, 255}},
      {"clear every 7 codes", 4, 90, 70, false, {true, true, true, 7, 255}},
      {"clear every 3001 codes", 8, 200, 200, true, {true, true, true, 3001, 255}},
      {"one-byte sub-blocks", 8, 40, 40, false, {true, true, true, 0, 1}},
      {"13-byte sub-blocks, clear after every code", 3, 40, 40, false, {true, true, true, 1, 13}},
      {"no end code", 5, 33, 9, false, {true, false, true, 0, 255}},
  };
  for (int size = 1; size <= 8; ++size) cases.push_back({"noise", size, 256, 256, false, {}});
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ", code size " + std::to_string(c.codeSize));
    const Pixels pixels = MakePixels(size_t{c.width} * c.height, c.codeSize, c.width, c.runs);
    const Bytes data = EncodeImageData(pixels, c.codeSize, c.lzw);
    const Decoded d = Decode(data, c.width, c.height);
    ASSERT_EQ(d.result, 0);
    EXPECT_TRUE(d.errors.empty());
    EXPECT_EQ(d.pixels, pixels);
    // At the end code, the stream stands right after the terminator.
    if (c.lzw.endCode) {
      EXPECT_EQ(d.streamPosition, static_cast<int32_t>(data.size()));
    }
  }
}

TEST_F(LzwDecoderTest, HandBuiltStreamsFollowTheTable) {
  // Minimum code size 2 unless said: clear 4, end 5, first free entry 6,
  // codes 3 bits wide until entry 7 is made.
  Codes clears(30, {4, 3});
  clears.insert(clears.end(), {{1, 3}, {2, 3}, {6, 3}, {5, 4}});
  struct Case {
    const char* name;
    Codes codes;
    Pixels pixels;
    int codeSize = 2;
    int subBlockSize = 255;
  };
  const Case cases[] = {
      // Taken like the first code after a clear code: written, no entry.
      {"first code without clear", {{1, 3}, {2, 3}, {6, 3}, {5, 4}}, {1, 2, 1, 2}},
      // 6 is the next free code: the previous string and its first pixel.
      {"code equal to next", {{4, 3}, {1, 3}, {6, 3}, {6, 3}, {5, 4}}, {1, 1, 1, 1, 1}},
      // 8 = "2 3" and its own first pixel.
      {"code equal to next after a string",
       {{4, 3}, {2, 3}, {3, 3}, {6, 3}, {8, 4}, {5, 4}},
       {2, 3, 2, 3, 2, 3, 2}},
      // 7 writes nothing and makes no entry, but becomes the prefix of entry
      // 6, whose string then leads into the empty entry 7 ("0 0").
      {"code above next", {{4, 3}, {1, 3}, {7, 3}, {2, 3}, {6, 3}, {5, 4}}, {1, 2, 0, 0, 2, 0}},
      {"two clears in a row", {{4, 3}, {4, 3}, {3, 3}, {2, 3}, {6, 3}, {5, 4}}, {3, 2, 3, 2}},
      {"end code right after a clear", {{4, 3}, {1, 3}, {2, 3}, {4, 3}, {5, 3}}, {1, 2, 0, 0}},
      {"clear in mid-stream keeps the table's width right",
       {{4, 3}, {1, 3}, {1, 3}, {6, 3}, {4, 4}, {2, 3}, {2, 3}, {6, 3}, {5, 4}},
       {1, 1, 1, 1, 2, 2, 2, 2, 0}},
      // The end code does not come; the zeros past the data are code 0.
      {"data ending before the pixels", {{4, 3}, {3, 3}, {3, 3}}, {3, 3, 0, 0, 0, 0}},
      // A clear code's entry 6 = "1 2" survives it; after the clear, 6 is the
      // first code and writes it, and 6 again makes entry 6 its own prefix:
      // the walk of that cycle ends the image, with the pixels so far kept.
      {"prefix cycle through a stale entry",
       {{4, 3}, {1, 3}, {2, 3}, {4, 3}, {6, 3}, {6, 3}, {5, 3}},
       {1, 2, 1, 2, 0, 0, 0, 0}},
      // Clear 2, end 3, first free 4 = 1 << 2: the second code is 3 bits.
      {"code size 1 grows right after the first code",
       {{2, 2}, {1, 2}, {0, 3}, {4, 3}, {3, 3}},
       {1, 0, 1, 0},
       1},
      {"code size 11: 12-bit codes from the start", {{2048, 12}, {7, 12}, {2049, 12}}, {7}, 11},
      // The clears use up the loaded window long before the code after them.
      {"thirty clears in one-byte sub-blocks", clears, {1, 2, 1, 2}, 2, 1},
      // Codes 0 from the zero-filled window until the byte position passes
      // 510, the last read touching bytes 510 to 513.
      {"no data at all", {}, Pixels(1000, 0), 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Decoded d = Decode(PackCodes(c.codeSize, c.codes, c.subBlockSize),
                             static_cast<uint16_t>(c.pixels.size()), 1);
    ASSERT_EQ(d.result, 0);
    EXPECT_TRUE(d.errors.empty());
    EXPECT_EQ(d.pixels, c.pixels);
  }
}

TEST_F(LzwDecoderTest, ThePixelsAndTheStreamsEndDependOnlyOnTheData) {
  // 600 pixels; decoded into `width` x 1. Without an end code and with
  // pixels left, decoding ends with the data, whatever its split, the rest
  // 0 (the last byte's padding bits read as codes 0). After the last pixel
  // or the end code, the sub-blocks left, "!" and "," inside them, are
  // skipped up to the terminator.
  const Pixels pixels = MakePixels(600, 2, 9);
  const Bytes junk = {2, '!', 0x99, 1, ',', 3, ',', 0, 0};
  struct Case {
    int subBlockSize;
    bool endCode;
    uint16_t width, height;
    bool trailing;  // junk sub-blocks before the terminator
  };
  const Case cases[] = {
      {255, false, 700, 1, false}, {1, false, 700, 1, false}, {2, false, 700, 1, false},
      {3, false, 700, 1, false},   {7, false, 700, 1, false}, {100, false, 700, 1, false},
      {255, true, 600, 1, true},   {5, true, 700, 1, true},   {255, false, 600, 1, true},
      {9, false, 300, 1, true},    {255, true, 600, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.subBlockSize) + (c.endCode ? " end" : "") + " width " +
                 std::to_string(c.width) + " height " + std::to_string(c.height));
    Bytes data = EncodeImageData(pixels, 2, LzwOptions{true, c.endCode, true, 0, c.subBlockSize});
    if (c.trailing) {
      data.pop_back();
      data.insert(data.end(), junk.begin(), junk.end());
    }
    const Decoded d = Decode(data, c.width, c.height);
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(d.streamPosition, static_cast<int32_t>(data.size()));
    Pixels expected(pixels.begin(), pixels.begin() + std::min<size_t>(c.width, 600));
    expected.resize(size_t{c.width} * c.height, 0);
    EXPECT_EQ(d.pixels, expected);
  }
}

TEST_F(LzwDecoderTest, BadDataIsReportedOnceAndSendsNothing) {
  const Bytes full = EncodeImageData(MakePixels(400, 8, 5), 8, LzwOptions{true, true, true, 0, 50});
  std::vector<Bytes> inputs;
  // Cut inside the size byte, the first length, a sub-block, a length byte.
  for (size_t keep : {0, 1, 2, 30, 52, 53}) inputs.emplace_back(full.begin(), full.begin() + keep);
  // Minimum code sizes whose roots or codes do not fit the table.
  for (int size : {12, 15, 255}) inputs.push_back(PackCodes(size, {{0, 12}, {0, 12}}));
  for (size_t i = 0; i < inputs.size(); ++i) {
    SCOPED_TRACE(i);
    const Decoded d = Decode(inputs[i], 20, 20);
    EXPECT_EQ(d.result, kErrRead);
    EXPECT_EQ(d.errors, std::vector<int32_t>{kErrRead});
    EXPECT_EQ(d.bands, 0u);
  }
}

TEST_F(LzwDecoderTest, ProgressAndTheHostsAnswerAfterEverySubBlock) {
  const Bytes data =
      EncodeImageData(MakePixels(5000, 8, 4), 8, LzwOptions{true, true, true, 0, 64});
  testhost::RecordingHost counting;
  ASSERT_EQ(Decode(data, 100, 50, true, &counting).result, 0);
  const std::vector<int32_t> progress = counting.ProgressValues();
  EXPECT_EQ(progress.size(), (data.size() - 3 + 64) / 65);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_EQ(progress.back(), 100);
  // A stop at the third sub-block: 61, unreported, nothing sent; unless the
  // host withdraws it in the follow-up.
  for (int32_t followUp : {1, 0}) {
    testhost::RecordingHost host;
    host.AnswerProgress(3, 1);
    host.AnswerFollowUp(followUp);
    const Decoded d = Decode(data, 100, 50, true, &host);
    EXPECT_EQ(d.result, followUp ? kErrCancelled : 0);
    EXPECT_TRUE(d.errors.empty());
    EXPECT_EQ(d.bands, followUp ? 0u : 1u);
  }
  // A library error collected at the check is reported once.
  StandInSetPendingErrorAfter("QvBitmapBegin", 1, 303, 7);
  const Decoded failed = Decode(data, 100, 50, true);
  EXPECT_EQ(failed.result, kErrLib303);
  EXPECT_EQ(failed.errors, std::vector<int32_t>{kErrLib303});
  EXPECT_EQ(failed.bands, 0u);
}

TEST_F(LzwDecoderTest, EveryAllocationFailingIsReportedOnce) {
  // Interlaced, so that the de-interlace buffer is among the allocations.
  const Bytes data = EncodeImageData(MakePixels(48 * 40, 8, 6), 8);
  const long before = PlatformAllocationCount();
  ASSERT_EQ(Decode(data, 48, 40, true).result, 0);
  const long perRun = PlatformAllocationCount() - before;
  int failures = 0;
  for (long n = 1; n <= perRun; ++n) {
    SCOPED_TRACE(n);
    const Decoded d = Decode(data, 48, 40, true, nullptr, n);
    if (d.result == 0) continue;  // an allocation of the harness, not ours
    ++failures;
    EXPECT_EQ(d.result, kErrMemory);
    EXPECT_EQ(d.errors, std::vector<int32_t>{kErrMemory});
    EXPECT_EQ(d.bands, 0u);
    EXPECT_EQ(testhost::DescribeLive(), "");
  }
  EXPECT_EQ(failures, 5);  // pixels, table, stack, window, de-interlace
}

// The plain decoder of tests/gif as the oracle: on generated streams of every
// kind, then flipped, cut, overwritten or padded with junk sub-blocks, and
// decoded into images larger or smaller than the data, interlaced or not,
// with a host that may stop at any sub-block, the fast decoder gives the
// same result, pixels, stream position, status calls and companion calls.
TEST_F(LzwDecoderTest, MatchesThePlainDecoderCallForCall) {
  std::mt19937 random(2024);
  auto below = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
  for (int round = 0; round < 800; ++round) {
    SCOPED_TRACE(round);
    const int codeSize = 1 + static_cast<int>(below(8));
    const size_t count = 1 + below(round % 10 == 0 ? 20000 : 3000);
    const LzwOptions lzw{below(8) != 0, below(4) != 0, below(3) != 0,
                         below(4) == 0 ? static_cast<int>(1 + below(600)) : 0,
                         static_cast<int>(below(2) ? 255 : 1 + below(255))};
    Bytes data = EncodeImageData(MakePixels(count, codeSize, round, below(2) != 0), codeSize, lzw);
    switch (below(6)) {
      case 1:  // flipped bits
        for (uint32_t n = 1 + below(4); n != 0; --n)
          data[1 + below(data.size() - 1)] ^= 1 << below(8);
        break;
      case 2:  // cut anywhere
        data.resize(1 + below(data.size()));
        break;
      case 3:  // a run of random bytes, codes above nextCode among them
        for (size_t at = 2 + below(data.size()), n = below(40); n != 0 && at < data.size(); --n)
          data[at++] = static_cast<uint8_t>(random());
        break;
      case 4:  // junk sub-blocks before the terminator
        data.pop_back();
        for (uint32_t n = below(4); n != 0; --n) data.insert(data.end(), {2, ',', '!'});
        data.push_back(0);
        break;
      default:
        break;
    }
    const auto width = static_cast<uint16_t>(below(2) ? count / 2 + below(count) : 1 + below(300));
    const auto height = static_cast<uint16_t>(below(3));
    const bool interlaced = below(2) != 0;
    const int stopAt = below(4) == 0 ? static_cast<int>(1 + below(20)) : 0;
    Decoded d[2];
    for (int which = 0; which < 2; ++which) {
      testhost::RecordingHost host;
      if (stopAt) host.AnswerProgress(stopAt, 1);
      d[which] =
          Decode(data, width, height, interlaced, &host, 0, which ? PlainDecodeImage : DecodeImage);
    }
    ASSERT_EQ(d[0].result, d[1].result);
    ASSERT_EQ(d[0].pixels, d[1].pixels);
    ASSERT_EQ(d[0].streamPosition, d[1].streamPosition);
    ASSERT_EQ(d[0].calls, d[1].calls);
    ASSERT_EQ(d[0].log, d[1].log);
  }
}

}  // namespace
