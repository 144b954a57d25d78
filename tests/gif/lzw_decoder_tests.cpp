// DecodeImage over image data made by the test-support encoder or packed by
// hand, read back from the companion stand-in's picture.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "gif/lzw_decoder.h"
#include "tests/gif/plain_decoder.h"
#include "tests/support/gif_writer.h"
#include "tests/support/recording_host.h"

namespace {

using gifwrite::Bytes;
using Pixels = std::vector<uint8_t>;

struct Decoded {
  FilterError result = -1;
  Pixels pixels;  // read back from the bands, top row first
  size_t bands = 0;
  int32_t streamPosition = -1;
  std::vector<int32_t> errors;          // kind-3 codes reported
  std::vector<std::string> calls, log;  // the host's status calls, the companion's
};

// Decodes `data` from a memory stream at depth 8, between the QvBitmapBegin
// and QvBitmapEnd that the driver would issue, and closes everything again.
Decoded Decode(const Bytes& data, uint16_t width, uint16_t height, bool interlaced = false,
               int stopAt = 0, decltype(&DecodeImage) decode = DecodeImage) {
  testhost::RecordingHost host;
  if (stopAt) host.AnswerProgress(stopAt, 1);
  Decoded out;
  {
    testhost::ScopedJob job;
    host.Attach(job.context());
    job->picture = QvDocCreate(0);
    const uint8_t* address = data.data();
    StreamOpenDescriptor descriptor = {};
    descriptor.source = reinterpret_cast<uintptr_t>(&address);
    descriptor.size = static_cast<uint32_t>(data.size());
    QvStream stream = QvStreamOpen(nullptr, &descriptor, 0);
    RecordInputSize(stream, job.job());
    BitmapCorners corners = {};  // the bitmap's top and the bands' top y both 0
    BitmapSize size = {};
    size.width.value = width;
    size.rows.value = height;
    QvBitmapBegin(job->picture, &corners, &size, -8, 0, 1, 3, 0);
    StandInClearLog();
    out.result = decode(job.job(), interlaced ? 0x40 : 0, 8, width, 0, 0, height, stream);
    for (int i = 0; i < StandInLogSize(); ++i) out.log.push_back(StandInLogEntry(i));
    if (out.result == 0) QvBitmapEnd(job->picture);
    out.streamPosition = QvStreamSeek(stream, 0, 1);
    QvStreamClose(stream);
    QvDocDestroy(job->picture);
  }
  out.errors = host.Codes(3);
  out.calls = host.Texts();
  const standin::Bitmap& bitmap = StandInLastPicture()->bitmaps.back();
  out.bands = bitmap.bands.size();
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x)
      out.pixels.push_back(static_cast<uint8_t>(bitmap.PixelIndex(x, y)));
  }
  EXPECT_EQ(testhost::DescribeLive(), "");
  return out;
}

// Reads "code/width ..." into codes.
std::vector<std::pair<int, int>> Codes(const std::string& text) {
  std::vector<std::pair<int, int>> codes;
  std::istringstream in(text);
  for (char slash; in >> codes.emplace_back().first >> slash >> codes.back().second;) {
  }
  codes.pop_back();
  return codes;
}

TEST(LzwDecoderTest, HandBuiltStreamsFollowTheTable) {
  // Minimum code size 2 unless said: clear 4, end 5, first free entry 6,
  // codes 3 bits wide until entry 7 is made.
  std::string clears;
  for (int i = 0; i < 30; ++i) clears += "4/3 ";
  const struct {
    const char* name;
    std::string codes;
    Pixels pixels;
    int codeSize, subBlockSize;
  } cases[] = {
      // Taken like the first code after a clear code: written, no entry.
      {"first code without clear", "1/3 2/3 6/3 5/4", {1, 2, 1, 2}, 2, 255},
      // 6 is the next free code: the previous string and its first pixel.
      {"code equal to next", "4/3 1/3 6/3 6/3 5/4", {1, 1, 1, 1, 1}, 2, 255},
      {"code equal to next after a string",
       "4/3 2/3 3/3 6/3 8/4 5/4",
       {2, 3, 2, 3, 2, 3, 2},
       2,
       255},
      // 7 writes nothing and makes no entry, but becomes the prefix of entry
      // 6, whose string then leads into the empty entry 7 ("0 0").
      {"code above next", "4/3 1/3 7/3 2/3 6/3 5/4", {1, 2, 0, 0, 2, 0}, 2, 255},
      {"two clears in a row", "4/3 4/3 3/3 2/3 6/3 5/4", {3, 2, 3, 2}, 2, 255},
      {"end code right after a clear", "4/3 1/3 2/3 4/3 5/3", {1, 2, 0, 0}, 2, 255},
      {"clear in mid-stream keeps the width right",
       "4/3 1/3 1/3 6/3 4/4 2/3 2/3 6/3 5/4",
       {1, 1, 1, 1, 2, 2, 2, 2, 0},
       2,
       255},
      // The end code does not come; the zeros past the data are code 0.
      {"data ending before the pixels", "4/3 3/3 3/3", {3, 3, 0, 0, 0, 0}, 2, 255},
      // Entry 6 = "1 2" survives the clear; after it 6 writes it and 6 again
      // makes entry 6 its own prefix: the walk of that cycle ends the image.
      {"prefix cycle through a stale entry",
       "4/3 1/3 2/3 4/3 6/3 6/3 5/3",
       {1, 2, 1, 2, 0, 0, 0, 0},
       2,
       255},
      // Clear 2, end 3, first free 4 = 1 << 2: the second code is 3 bits.
      {"code size 1 grows right after the first code", "2/2 1/2 0/3 4/3 3/3", {1, 0, 1, 0}, 1, 255},
      {"code size 11: 12-bit codes from the start", "2048/12 7/12 2049/12", {7}, 11, 255},
      // The clears use up the loaded window long before the code after them.
      {"thirty clears in one-byte sub-blocks", clears + "1/3 2/3 6/3 5/4", {1, 2, 1, 2}, 2, 1},
      // Codes 0 from the zero-filled window until the byte position passes
      // 510, the last read touching bytes 510 to 513.
      {"no data at all", "", Pixels(1000, 0), 8, 255},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Decoded d = Decode(gifwrite::PackCodes(c.codeSize, Codes(c.codes), c.subBlockSize),
                             static_cast<uint16_t>(c.pixels.size()), 1);
    ASSERT_EQ(d.result, 0);
    EXPECT_TRUE(d.errors.empty());
    EXPECT_EQ(d.pixels, c.pixels);
  }
  // Minimum code sizes whose roots or codes do not fit the table.
  for (int size : {12, 15, 255}) {
    const Decoded d = Decode(gifwrite::PackCodes(size, {{0, 12}, {0, 12}}), 20, 20);
    EXPECT_EQ(d.errors, std::vector<int32_t>{kErrRead});
    EXPECT_EQ(d.bands, 0u);
  }
}

// The plain decoder of tests/gif as the oracle: on generated streams of every
// kind, then flipped, cut, overwritten or padded with junk sub-blocks, and
// decoded into images larger or smaller than the data, interlaced or not,
// with a host that may stop at any sub-block, the fast decoder gives the
// same result, pixels, stream position, status calls and companion calls.
// Streams left whole decode to the encoder's pixels (the rest 0) and leave
// the stream after their terminator, whatever their split; a
// failure is reported once (a stop not at all) and sends nothing.
TEST(LzwDecoderTest, MatchesThePlainDecoderCallForCall) {
  std::mt19937 random(2024);
  auto below = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
  for (int round = 0; round < 800; ++round) {
    SCOPED_TRACE(round);
    const int codeSize = 1 + static_cast<int>(below(8));
    const size_t count = 1 + below(round % 10 == 0 ? 20000 : 3000);
    const gifwrite::LzwOptions lzw{below(8) != 0, below(4) != 0, below(3) != 0,
                                   below(4) == 0 ? static_cast<int>(1 + below(600)) : 0,
                                   static_cast<int>(below(2) ? 255 : 1 + below(255))};
    std::mt19937 noise(round);
    Pixels pixels(count);
    const bool runs = below(2) != 0;  // runs of equal values make long strings
    for (size_t i = 0; i < count; ++i)
      pixels[i] = static_cast<uint8_t>((runs ? i / 7 + (noise() % 7 == 0) : noise()) &
                                       ((1u << codeSize) - 1));
    Bytes data = gifwrite::EncodeImageData(pixels, codeSize, lzw);
    const uint32_t damage = below(6);
    switch (damage) {
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
      case 4:  // junk sub-blocks, "!" and "," inside, before the terminator
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
    const Decoded fast = Decode(data, width, height, interlaced, stopAt);
    const Decoded plain = Decode(data, width, height, interlaced, stopAt, PlainDecodeImage);
    ASSERT_EQ(fast.result, plain.result);
    ASSERT_EQ(fast.pixels, plain.pixels);
    ASSERT_EQ(fast.streamPosition, plain.streamPosition);
    ASSERT_EQ(fast.calls, plain.calls);
    ASSERT_EQ(fast.log, plain.log);
    if (fast.result != 0) {
      EXPECT_EQ(fast.bands, 0u);
      EXPECT_EQ(fast.errors, fast.result == kErrCancelled ? std::vector<int32_t>{}
                                                          : std::vector<int32_t>{fast.result});
    }
    // Junk read as codes unless the end code or the last pixel comes first.
    const bool junkSkipped = lzw.endCode || count >= size_t{width} * height;
    if ((damage == 0 || damage == 5 || (damage == 4 && junkSkipped)) && stopAt == 0) {
      ASSERT_EQ(fast.result, 0);
      EXPECT_EQ(fast.streamPosition, static_cast<int32_t>(data.size()));
      pixels.resize(std::min<size_t>(count, size_t{width} * height));
      pixels.resize(size_t{width} * height, 0);
      if (!interlaced) {
        EXPECT_EQ(fast.pixels, pixels);
      }
    }
  }
}

}  // namespace
