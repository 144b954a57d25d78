// DecodeImage on hand-packed and generated image data, read back from the
// stand-in's picture, and a plain decoder it must match call for call: the
// image's sub-blocks joined first, then codes read bit by bit and strings
// walked through their prefixes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "companion/standin.h"
#include "gif/lzw_decoder.h"
#include "gif/raster.h"
#include "tests/support/gif_writer.h"
#include "tests/support/recording_host.h"
#include "tests/support/row_tests.h"

using namespace gifin;

namespace {

constexpr uint32_t kMaxCodes = 4096, kMaxWidth = 12;  // the format's 12-bit codes

struct PlainPixels {
  std::vector<uint8_t> pixels;  // all of them, those not decoded 0
  bool ranOut = false;          // no whole code left before the image was done
  size_t lastCodeByte = 0;      // where the last code read began
};

// GIF LZW as the filter reads it, tolerances included: no clear code needed
// first; repeated clear codes act as one; the first code of a table makes no
// entry; a code above the next entry writes nothing and makes none, but is
// the next entry's prefix; entries persist across clear codes (zero at
// first), so such a code may reach an earlier table's; a full table stays in
// use until a clear code; a walk that never reaches a root (a cycle) stops
// the image; the end code, the last pixel or the last whole code ends it.
PlainPixels PlainLzw(const std::vector<uint8_t>& data, uint32_t minimumCodeSize, size_t count) {
  const uint32_t clear = 1u << minimumCodeSize, end = clear + 1;
  std::vector<uint32_t> prefix(kMaxCodes, 0);
  std::vector<uint8_t> suffix(kMaxCodes, 0);
  // The string of `code`; empty when its walk repeats a code.
  const auto string = [&](uint32_t code) {
    std::vector<uint8_t> text;
    for (; code >= clear; code = prefix[code]) {
      if (text.size() == kMaxCodes) return std::vector<uint8_t>{};
      text.push_back(suffix[code]);
    }
    text.push_back(static_cast<uint8_t>(code));
    std::reverse(text.begin(), text.end());
    return text;
  };
  PlainPixels out;
  uint32_t width = minimumCodeSize + 1, next = clear + 2, previous = 0;
  bool first = true;
  for (size_t bit = 0; out.pixels.size() < count;) {
    if (bit + width > data.size() * 8) {
      out.ranOut = true;
      break;
    }
    out.lastCodeByte = bit / 8;
    uint32_t code = 0;
    for (uint32_t i = 0; i < width; ++i, ++bit) code |= (data[bit / 8] >> bit % 8 & 1u) << i;
    if (code == clear) {
      width = minimumCodeSize + 1, next = clear + 2, first = true;
      continue;
    }
    if (code == end) break;
    const bool written = first || code <= next;
    std::vector<uint8_t> text;
    if (first) {
      text = string(code);
    } else if (code < next) {
      text = string(code);
      if (!text.empty() && next < kMaxCodes) prefix[next] = previous, suffix[next++] = text[0];
    } else if (code == next) {
      const std::vector<uint8_t> before = string(previous);
      if (!before.empty()) prefix[next] = previous, suffix[next++] = before[0], text = string(code);
    }
    if (written && text.empty()) break;
    first = false;
    previous = code;
    if (next == 1u << width && width < kMaxWidth) ++width;
    text.resize(std::min(text.size(), count - out.pixels.size()));
    out.pixels.insert(out.pixels.end(), text.begin(), text.end());
  }
  out.pixels.resize(count, 0);
  return out;
}

// DecodeImage's calls by the plain decoder: the sub-blocks read in turn, with
// progress and the host's answer after each, then the pixels. Data that ends
// among the sub-blocks fails the image when the decoder needed what was lost:
// it ran out of whole codes, or (with kEager) the lost sub-block began 8 or fewer
// bytes past the last code read, which a decoder may load before reading it.
template <bool kEager>
FilterError PlainDecodeImage(FilterSetup* job, uint8_t interlaced, int32_t bitsPerPixel,
                             uint16_t width, uint16_t left, int32_t topY, uint16_t height,
                             QvStream stream) {
  uint8_t minimumCodeSize = 0, length = 0;
  // From 12 on, the roots and the clear and end codes leave no 12-bit code.
  if (QvStreamRead(stream, &minimumCodeSize, 1) != 1 || QvStreamRead(stream, &length, 1) != 1 ||
      minimumCodeSize >= kMaxWidth) {
    return Fail(job, kErrRead);
  }
  std::vector<uint8_t> data;
  bool cut = false;
  while (length != 0 && !cut) {
    const size_t at = data.size();
    data.resize(at + length);
    cut =
        QvStreamRead(stream, &data[at], length) != length || QvStreamRead(stream, &length, 1) != 1;
    if (cut) {
      data.resize(at);
    } else {
      UpdatePercentDone(stream, job);
      if (FilterError err = CheckImportStatus(job)) return err;
    }
  }
  PlainPixels plain = PlainLzw(data, minimumCodeSize, size_t{width} * height);
  if (cut && (plain.ranOut || (kEager && data.size() <= plain.lastCodeByte + 8))) {
    return Fail(job, kErrRead);
  }
  plain.pixels.resize(((size_t{width} + 3) & ~size_t{3}) * height);  // rows padded to 4 bytes
  return EmitRaster(job, plain.pixels.data(), interlaced, bitsPerPixel, width, left, topY, height);
}

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
using Decoder = decltype(&DecodeImage);

Decoded Decode(const Bytes& data, uint16_t width, uint16_t height, bool interlaced = false,
               int stopAt = 0, Decoder decode = DecodeImage) {
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
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) out.pixels.push_back(uint8_t(bitmap.PixelIndex(x, y)));
  EXPECT_EQ(testhost::DescribeLive(), "");
  return out;
}

// Each case of the data file, decoded into one row by both decoders; a case
// with a number after its pixels fails with that number reported, into a
// 20 x 20 image.
class LzwStream : public testtable::RowTest<> {};

TEST_P(LzwStream, DecodesAsTheRowSays) {
  using testtable::Words;
  const std::vector<std::string> sizes = Words(row[0]);
  std::vector<std::pair<int, int>> codes;
  for (const std::string& code : Words(row[1]))
    codes.emplace_back(std::stoi(code), std::stoi(code.substr(code.find('/') + 1)));
  Pixels pixels;
  for (const std::string& pixel : Words(row[2])) pixels.push_back(uint8_t(std::stoi(pixel)));
  const bool fails = row.size() > 3;
  for (const Decoder decode : {DecodeImage, PlainDecodeImage<false>}) {
    const Decoded d =
        Decode(gifwrite::PackCodes(std::stoi(sizes[0]), codes, std::stoi(sizes[1])),
               fails ? 20 : uint16_t(pixels.size()), fails ? 20 : 1, false, 0, decode);
    EXPECT_EQ(d.result, fails ? std::stoi(row[3]) : 0);
    EXPECT_EQ(d.errors, fails ? std::vector<int32_t>{d.result} : std::vector<int32_t>{});
    EXPECT_EQ(fails ? Pixels(d.bands) : d.pixels, pixels);
  }
}
TESTTABLE_ROWS(LzwStream, LZW_STREAMS_FILE, "", 16, -1);

// On generated streams of every kind, then flipped, cut, overwritten or padded
// with junk sub-blocks, decoded into images larger or smaller than the data,
// interlaced or not, with a host that may stop at any sub-block, the fast
// decoder gives the plain one's result, pixels, stream position, status and
// companion calls. Some are large enough for the fast loop's widest strides,
// which it takes only far from the image's end. Streams left whole decode to
// the encoder's pixels (the rest 0) and leave the stream after their
// terminator, whatever their split; a failure is reported once (a stop not
// at all) and sends nothing, as the plain decoder's does.
TEST(LzwDecoderTest, MatchesThePlainDecoderCallForCall) {
  std::mt19937 random(2024);
  auto below = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
  for (int round = 0; round < 800; ++round) {
    SCOPED_TRACE(round);
    const int codeSize = 1 + static_cast<int>(below(8));
    const bool large = round % 20 == 0;
    const size_t count = large ? 250000 + below(250000) : 1 + below(round % 10 == 0 ? 20000 : 3000);
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
    if (damage == 1)  // flipped bits
      for (uint32_t n = 1 + below(4); n != 0; --n)
        data[1 + below(data.size() - 1)] ^= 1 << below(8);
    if (damage == 2) data.resize(1 + below(data.size()));  // cut anywhere
    if (damage == 3)  // a run of random bytes, codes above nextCode among them
      for (size_t at = 2 + below(data.size()), n = below(40); n != 0 && at < data.size(); --n)
        data[at++] = static_cast<uint8_t>(random());
    if (damage == 4) {  // junk sub-blocks, "!" and "," inside, before the terminator
      data.pop_back();
      for (uint32_t n = below(4); n != 0; --n) data.insert(data.end(), {2, ',', '!'});
      data.push_back(0);
    }
    auto width = static_cast<uint16_t>(below(2) ? count / 2 + below(count) : 1 + below(300));
    auto height = static_cast<uint16_t>(below(3));
    if (large) {
      height = static_cast<uint16_t>(24 + below(8));  // widths within 16 bits, signed
      width = static_cast<uint16_t>((count + below(count / 4)) / height);
    }
    const bool interlaced = below(2) != 0;
    const int stopAt = below(4) == 0 ? static_cast<int>(1 + below(20)) : 0;
    const Decoded fast = Decode(data, width, height, interlaced, stopAt);
    // Data cut a few bytes past the last code may fail the image or not; so
    // may a sub-block whose length damage made longer than the data.
    const auto run = [&](const Decoded& d) {
      return std::tie(d.result, d.streamPosition, d.pixels, d.calls, d.log);
    };
    Decoded plain = Decode(data, width, height, interlaced, stopAt, PlainDecodeImage<false>);
    if (damage != 0 && run(fast) != run(plain))
      plain = Decode(data, width, height, interlaced, stopAt, PlainDecodeImage<true>);
    ASSERT_EQ(run(fast), run(plain));
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
