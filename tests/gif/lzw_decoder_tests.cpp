// DecodeImage on hand-packed and generated image data, read back from the
// stand-in's picture, and a plain decoder it must match call for call: its
// strings walk their prefixes, codes come one at a time, and the window and
// sub-blocks go exactly as the filter's, through the same calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "companion/standin.h"
#include "gif/lzw_decoder.h"
#include "gif/raster.h"
#include "tests/support/gif_writer.h"
#include "tests/support/recording_host.h"
#include "tests/support/table.h"

namespace {

constexpr uint32_t kMaxCodes = 4096, kStackSlots = 5000, kWindowBytes = 514;

uint32_t Load24(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16; }
uint32_t Load32(const uint8_t* p) { return Load24(p) | static_cast<uint32_t>(p[3]) << 24; }

struct Input {
  FilterSetup* job;
  QvStream stream;
  uint8_t* bytes;
  uint32_t available, bitPosition;
  uint8_t blockLength;

  FilterError Report() {
    UpdatePercentDone(stream, job);
    return CheckImportStatus(job);
  }
  // Sub-blocks while at most 4 bytes lie past the byte position.
  FilterError Refill() {
    while ((bitPosition >> 3) + 4 >= available && blockLength != 0) {
      const uint32_t at = bitPosition >> 3;
      const uint32_t keep = available > at ? available - at : 0;
      std::memmove(bytes, bytes + at, keep);
      available = keep;
      bitPosition &= 7;
      if (QvStreamRead(stream, bytes + available, blockLength) != blockLength)
        return Fail(job, kErrRead);
      available += blockLength;
      if (QvStreamRead(stream, &blockLength, 1) != 1) return Fail(job, kErrRead);
      if (FilterError err = Report()) return err;
    }
    return kErrNone;
  }
  bool Fits(uint32_t width) const { return bitPosition + width <= available * 8; }
  FilterError SkipRest() {  // a short read here ends the image well
    while (blockLength != 0 && QvStreamRead(stream, bytes, blockLength) == blockLength &&
           QvStreamRead(stream, &blockLength, 1) == 1)
      if (FilterError err = Report()) return err;
    return kErrNone;
  }
};

FilterError PlainDecode(Input& in, uint32_t* table, uint16_t* stack, uint8_t minimumCodeSize,
                        uint8_t* cursor, uint32_t remaining) {
  const uint32_t clear = 1u << minimumCodeSize, end = clear + 1;
  // The string of `code`, then `suffix` unless negative; false on a cycle.
  auto emit = [&](uint32_t code, int suffix) {
    uint16_t* sp = stack + kStackSlots;
    if (suffix >= 0) *--sp = static_cast<uint16_t>(suffix);
    for (;;) {
      while (code >= clear) {
        if (sp == stack) return false;
        *--sp = static_cast<uint16_t>(table[code]);
        code = table[code] >> 16;
      }
      if (remaining == 0) return true;
      *cursor++ = static_cast<uint8_t>(code);
      --remaining;
      if (sp == stack + kStackSlots) return true;
      code = *sp++;
    }
  };
  auto first = [&](uint32_t code, uint32_t* pixel) {
    for (uint32_t steps = 0; code > clear; ++steps) {
      if (steps == kStackSlots) return false;
      code = table[code] >> 16;
    }
    *pixel = code;
    return true;
  };
  uint32_t next = clear + 2, width = minimumCodeSize + 1u, previous = 0;
  bool afterClear = true;
  auto grow = [&] {
    if (next == (1u << width) && width < 12) ++width;
  };
  auto read = [&](uint32_t bits) {
    const uint32_t code = (bits >> (in.bitPosition & 7)) & ((1u << width) - 1);
    in.bitPosition += width;
    return code;
  };
  while (remaining != 0) {
    if (FilterError err = in.Refill()) return err;
    if (!in.Fits(width)) return kErrNone;
    uint32_t code = read(Load32(in.bytes + (in.bitPosition >> 3)));
    if (code == clear) {
      do {
        next = clear + 2;
        width = minimumCodeSize + 1u;
        for (uint32_t root = 0; root < clear; ++root) table[root] = root;
        if ((in.bitPosition >> 3) + 3 > in.available) {
          if (FilterError err = in.Refill()) return err;
        }
        if (!in.Fits(width)) return kErrNone;
        code = read(Load24(in.bytes + (in.bitPosition >> 3)));
      } while (code == clear);
      afterClear = true;
    }
    if (code == end) return kErrNone;
    uint32_t pixel = 0;
    if (afterClear) {
      afterClear = false;
      if (!emit(code, -1)) return kErrNone;
    } else if (code < next) {
      if (!emit(code, -1) || !first(code, &pixel)) return kErrNone;
      if (next < kMaxCodes) table[next++] = pixel | previous << 16;
    } else if (code == next) {
      if (!first(previous, &pixel)) return kErrNone;
      table[next++] = pixel | previous << 16;
      grow();
      if (!emit(previous, static_cast<int>(pixel))) return kErrNone;
    }
    grow();
    previous = code;
  }
  return kErrNone;
}

FilterError PlainDecodeImage(FilterSetup* job, uint8_t interlaced, int32_t bitsPerPixel,
                             uint16_t width, uint16_t left, int32_t topY, uint16_t height,
                             QvStream stream) {
  uint8_t minimumCodeSize = 0, blockLength = 0;
  if (QvStreamRead(stream, &minimumCodeSize, 1) != 1 ||
      QvStreamRead(stream, &blockLength, 1) != 1 || minimumCodeSize > 11) {
    return Fail(job, kErrRead);
  }
  std::vector<uint8_t> pixels(((size_t{width} + 3) & ~size_t{3}) * height), window(kWindowBytes);
  std::vector<uint32_t> table(kMaxCodes);
  std::vector<uint16_t> stack(kStackSlots);
  Input in{job, stream, window.data(), 0, 0, blockLength};
  FilterError err = PlainDecode(in, table.data(), stack.data(), minimumCodeSize, pixels.data(),
                                uint32_t{width} * height);
  if (err == kErrNone) err = in.SkipRest();
  if (err != kErrNone) return err;
  return EmitRaster(job, pixels.data(), interlaced, bitsPerPixel, width, left, topY, height);
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
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) out.pixels.push_back(uint8_t(bitmap.PixelIndex(x, y)));
  EXPECT_EQ(testhost::DescribeLive(), "");
  return out;
}

// Each case of the data file, decoded into one row; a case with a number
// after its pixels fails with that number reported, into a 20 x 20 image.
TEST(LzwDecoderTest, HandBuiltStreamsFollowTheTable) {
  using testtable::Words;
  const int cases = testtable::ForEachRow(LZW_STREAMS_FILE, [](const testtable::Row& row) {
    SCOPED_TRACE(testing::PrintToString(row));
    const std::vector<std::string> sizes = Words(row[0]);
    std::vector<std::pair<int, int>> codes;
    for (const std::string& code : Words(row.at(1)))
      codes.emplace_back(std::stoi(code), std::stoi(code.substr(code.find('/') + 1)));
    Pixels pixels;
    for (const std::string& pixel : Words(row.at(2)))
      pixels.push_back(static_cast<uint8_t>(std::stoi(pixel)));
    const bool fails = row.size() > 3;
    const Decoded d = Decode(gifwrite::PackCodes(std::stoi(sizes[0]), codes, std::stoi(sizes[1])),
                             fails ? 20 : static_cast<uint16_t>(pixels.size()), fails ? 20 : 1);
    EXPECT_EQ(d.result, fails ? std::stoi(row[3]) : 0);
    EXPECT_EQ(d.errors, fails ? std::vector<int32_t>{d.result} : std::vector<int32_t>{});
    EXPECT_EQ(fails ? Pixels(d.bands) : d.pixels, pixels);
  });
  EXPECT_EQ(cases, 16) << "cases read";
}

// On generated streams of every kind, then flipped, cut, overwritten or padded
// with junk sub-blocks, decoded into images larger or smaller than the data,
// interlaced or not, with a host that may stop at any sub-block, the fast
// decoder gives the plain one's result, pixels, stream position, status and
// companion calls. Streams left whole decode to the encoder's pixels (the
// rest 0) and leave the stream after their terminator, whatever their split;
// a failure is reported once (a stop not at all) and sends nothing.
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
    const auto width = static_cast<uint16_t>(below(2) ? count / 2 + below(count) : 1 + below(300));
    const auto height = static_cast<uint16_t>(below(3));
    const bool interlaced = below(2) != 0;
    const int stopAt = below(4) == 0 ? static_cast<int>(1 + below(20)) : 0;
    const Decoded fast = Decode(data, width, height, interlaced, stopAt);
    const Decoded plain = Decode(data, width, height, interlaced, stopAt, PlainDecodeImage);
    ASSERT_EQ(std::tie(fast.result, fast.streamPosition, fast.pixels, fast.calls, fast.log),
              std::tie(plain.result, plain.streamPosition, plain.pixels, plain.calls, plain.log));
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
