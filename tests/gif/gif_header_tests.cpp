// ReadGifHeader and the recovery of a zero screen size, over memory and host
// streams of the companion stand-in.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "gif/gif_header.h"
#include "tests/support/gif_writer.h"

namespace {

using gifwrite::Bytes;

struct HeaderResult {
  FilterError result;
  uint16_t width, height;
  int32_t globalColorCount, colorBits, position;
};

// Reads the header from `stream` and closes it.
HeaderResult ReadAndClose(QvStream stream) {
  GifHeader header = {};
  HeaderResult r = {};
  r.result = ReadGifHeader(stream, &header, &r.globalColorCount, &r.colorBits);
  r.width = header.width;
  r.height = header.height;
  r.position = QvStreamSeek(stream, 0, 1);
  QvStreamClose(stream);
  return r;
}

HeaderResult ReadHeader(const Bytes& bytes) {
  const uint8_t* data = bytes.data();
  StreamOpenDescriptor descriptor = {};
  descriptor.source = reinterpret_cast<uintptr_t>(&data);
  descriptor.size = static_cast<uint32_t>(bytes.size());
  return ReadAndClose(QvStreamOpen(nullptr, &descriptor, 0));
}

Bytes HeaderBytes(const std::string& signatureAndVersion) {
  Bytes b(signatureAndVersion.begin(), signatureAndVersion.end());
  b.resize(6, 0);
  b.insert(b.end(), {64, 1, 200, 0, 0, 0, 0});  // 320 x 200
  return b;
}

// Width 0, a global table of 4 entries, a comment and a 320 x 200 image.
gifwrite::GifBuilder ZeroWidthGif() {
  gifwrite::Image image;
  image.width = 320;
  image.height = 200;
  image.pixels.assign(320 * 200, 1);
  gifwrite::GifBuilder gif(0, 500, {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}});
  gif.Comment(std::string(600, 'c')).AddImage(image).Trailer();
  return gif;
}

TEST(GifHeaderTest, SignatureAndVersion) {
  const struct {
    std::string start;
    FilterError expected;
  } cases[] = {
      {"GIF89a", 0},
      {"GIF87a", 0},
      {"gif89a", 0},
      {"gIf87A", 0},
      {"GIFxxa", 0},
      {"GIF8xa", 0},
      {"GIF89z", 0},
      {"GIF00a", 0},
      {"GIF9 a", 0},
      {"gif100", 0},
      {std::string("GIF\0"
                   "89",
                   6),
       0},
      {"GIF90a", kErrVersion},
      {"GIF99a", kErrVersion},
      {"JIF89a", kErrNotGif},
      {"GI", kErrNotGif},
      {std::string("GI\0"
                   "89a",
                   6),
       kErrNotGif},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.start);
    EXPECT_EQ(ReadHeader(HeaderBytes(c.start)).result, c.expected);
  }
}

TEST(GifHeaderTest, ZeroScreenSizeIsTakenFromTheFirstImageOnceItsSizeIsThere) {
  gifwrite::Image small;
  small.width = 7;
  small.height = 9;
  small.pixels.assign(63, 0);
  const struct {
    gifwrite::GifBuilder gif;
    uint16_t width, height;
  } cases[] = {
      {ZeroWidthGif(), 320, 200},
      {gifwrite::GifBuilder(0, 0)
           .GraphicControl(true, 1)
           .Application("NETSCAPE2.0", {1, 0, 0})
           .PlainText(0, 0, 8, 8, 8, 8, 1, 0, {"abc", "def"})
           .Comment("")
           .AddImage(small),
       7, 9},
      {gifwrite::GifBuilder(33, 0).AddImage(small), 7, 9},
  };
  for (const auto& c : cases) {
    const Bytes& full = c.gif.bytes();
    size_t image = 1;
    while (full[c.gif.blockOffsets()[image]] != 0x2C) ++image;
    const size_t sizeEnd = c.gif.blockOffsets()[image] + 9;  // introducer, left, top, width, height
    for (size_t size = 13; size <= full.size(); ++size) {
      SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << " cut at " << size);
      const HeaderResult r =
          ReadHeader(Bytes(full.begin(), full.begin() + static_cast<long>(size)));
      EXPECT_EQ(r.result, size >= sizeEnd ? 0 : kErrNotGif);
      if (r.result == 0) {
        EXPECT_EQ((std::vector<int32_t>{r.width, r.height, r.position}),
                  (std::vector<int32_t>{c.width, c.height, 13}))
            << "both replaced, the stream put back";
      }
    }
  }
}

// A host stream over a buffer that may be unable to tell its position, or
// go on with zero bytes forever after the buffer.
struct HostBuffer {
  Bytes bytes;
  bool canTell = true, endless = false;
  int32_t position = 0;
} hostBuffer;

int32_t WINAPI BufferStream(uint32_t, int32_t operation, void* buffer, int32_t value,
                            int32_t origin) {
  HostBuffer& b = hostBuffer;
  const auto size = static_cast<int32_t>(b.bytes.size());
  if (operation == kHostStreamRead) {
    const int32_t n = b.endless ? value : std::max(0, std::min(value, size - b.position));
    for (int32_t i = 0; i < n; ++i, ++b.position) {
      static_cast<uint8_t*>(buffer)[i] =
          b.position < size ? b.bytes[static_cast<size_t>(b.position)] : 0;
    }
    return n;
  }
  if (!b.canTell && (operation != kHostStreamSeek || (origin == 1 && value == 0))) return -1;
  if (operation != kHostStreamSeek) return b.position;
  const int32_t target = (origin == 0 ? 0 : origin == 1 ? b.position : size) + value;
  return target < 0 ? -1 : (b.position = target);
}

TEST(GifHeaderTest, RecoveryGivesUpOnAStreamThatCannotBePutBackOrNeverEnds) {
  Bytes zeroSize = HeaderBytes("GIF89a");
  zeroSize[6] = zeroSize[7] = 0;
  // One stream cannot tell its position; in the other, zeros read as empty
  // extensions, one after another, without end.
  for (const HostBuffer& buffer :
       {HostBuffer{ZeroWidthGif().bytes(), false, false}, HostBuffer{zeroSize, true, true}}) {
    SCOPED_TRACE(buffer.endless ? "never ends" : "position unknown");
    hostBuffer = buffer;
    StreamOpenDescriptor descriptor = {};
    descriptor.streamFunction = BufferStream;
    EXPECT_EQ(ReadAndClose(QvStreamOpen("", &descriptor, 0)).result, kErrNotGif);
    StandInClearLog();
  }
}

}  // namespace
