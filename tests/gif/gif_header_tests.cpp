// ReadGifHeader and the recovery of a zero screen size, over memory and host
// streams of the companion stand-in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "gif/gif_header.h"
#include "tests/support/gif_writer.h"

namespace {

using gifwrite::Bytes;

// A memory stream over `bytes`, closed at the end of the scope.
class MemoryStream {
 public:
  explicit MemoryStream(const Bytes& bytes) : data_(bytes.data()) {
    StreamOpenDescriptor descriptor = {};
    descriptor.source = reinterpret_cast<uintptr_t>(&data_);
    descriptor.size = static_cast<uint32_t>(bytes.size());
    stream_ = QvStreamOpen(nullptr, &descriptor, 0);
  }
  ~MemoryStream() { QvStreamClose(stream_); }
  QvStream get() const { return stream_; }

 private:
  const uint8_t* data_;
  QvStream stream_ = nullptr;
};

struct HeaderResult {
  FilterError result;
  GifHeader header;
  int32_t globalColorCount, colorBits, position;
};

HeaderResult ReadHeader(QvStream stream) {
  HeaderResult r = {};
  r.globalColorCount = r.colorBits = -99;
  r.result = ReadGifHeader(stream, &r.header, &r.globalColorCount, &r.colorBits);
  r.position = QvStreamSeek(stream, 0, 1);
  return r;
}

HeaderResult ReadHeader(const Bytes& bytes) {
  MemoryStream stream(bytes);
  return ReadHeader(stream.get());
}

Bytes HeaderBytes(const std::string& signatureAndVersion, uint16_t width = 10,
                  uint16_t height = 10, uint8_t packed = 0) {
  Bytes b(signatureAndVersion.begin(), signatureAndVersion.end());
  b.resize(6, 0);
  b.insert(b.end(), {static_cast<uint8_t>(width), static_cast<uint8_t>(width >> 8),
                     static_cast<uint8_t>(height), static_cast<uint8_t>(height >> 8), packed, 0,
                     0});
  return b;
}

// The design's example: width 0, a global table of 4 entries, a comment
// and a 320 x 200 image.
gifwrite::GifBuilder ZeroWidthGif() {
  gifwrite::GifBuilder gif(0, 500, {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}});
  gifwrite::Image image;
  image.left = 3;
  image.top = 4;
  image.width = 320;
  image.height = 200;
  image.pixels.assign(320 * 200, 1);
  gif.Comment(std::string(600, 'c')).AddImage(image).Trailer();
  return gif;
}

TEST(GifHeader, SignatureAndVersion) {
  const struct {
    std::string start;
    FilterError expected;
  } cases[] = {
      {"GIF89a", 0},    {"GIF87a", 0},    {"gif89a", 0},    {"gIf87A", 0},
      {"GIFxxa", 0},    {"GIF8xa", 0},    {"GIF89z", 0},    {"GIF00a", 0},
      {"GIF90a", -24},  {"GIF99a", -24},  {"GIF9 a", 0},  {"gif100", 0},  {"JIF89a", -23},
      {"GI", -23},      {"\x89PNG\r\n", -23}, {std::string("GIF\0" "89", 6), 0},
      {std::string("GI\0" "89a", 6), -23},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.start);
    HeaderResult r = ReadHeader(HeaderBytes(c.start));
    EXPECT_EQ(r.result, c.expected);
    if (c.expected == 0) {
      EXPECT_EQ(r.position, 13) << "stands right behind the header";
    }
  }
  EXPECT_EQ(StandInLiveStreams(), 0);
}

TEST(GifHeader, ShortHeadersGive21) {
  Bytes full = HeaderBytes("GIF89a");
  for (size_t size = 0; size < 13; ++size) {
    SCOPED_TRACE(size);
    EXPECT_EQ(ReadHeader(Bytes(full.begin(), full.begin() + size)).result, kErrRead);
  }
}

TEST(GifHeader, ColorTableSizeAndDepth) {
  const struct {
    uint8_t packed;
    int32_t globalColorCount, colorBits;
  } cases[] = {
      {0x00, 0, 1}, {0x07, 0, 8}, {0x80, 2, 1}, {0x87, 256, 8}, {0xF3, 16, 4}, {0x7D, 0, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.packed));
    HeaderResult r = ReadHeader(HeaderBytes("GIF89a", 320, 200, c.packed));
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(r.globalColorCount, c.globalColorCount);
    EXPECT_EQ(r.colorBits, c.colorBits);
    EXPECT_EQ(r.header.width, 320);
    EXPECT_EQ(r.header.height, 200);
  }
  const int32_t depths[8] = {1, 4, 4, 4, 8, 8, 8, 8};
  for (int n = 0; n < 8; ++n) EXPECT_EQ(DepthForSizeField(n), depths[n]) << n;
}

TEST(GifHeader, ZeroScreenSizeIsTakenFromTheFirstImage) {
  gifwrite::Image small;
  small.width = 7;
  small.height = 9;
  small.pixels.assign(63, 0);
  const struct {
    const char* name;
    Bytes bytes;
    uint16_t width, height;
  } cases[] = {
      {"width 0 behind table and comment", ZeroWidthGif().bytes(), 320, 200},
      {"both 0, every kind of extension",
       gifwrite::GifBuilder(0, 0)
           .GraphicControl(true, 1)
           .Application("NETSCAPE2.0", {1, 0, 0})
           .PlainText(0, 0, 8, 8, 8, 8, 1, 0, {"abc", "def"})
           .Comment("")
           .AddImage(small)
           .bytes(),
       7, 9},
      {"height 0, image first", gifwrite::GifBuilder(33, 0).AddImage(small).bytes(), 7, 9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryStream stream(c.bytes);
    HeaderResult r = ReadHeader(stream.get());
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(r.header.width, c.width);
    EXPECT_EQ(r.header.height, c.height);
    EXPECT_EQ(r.position, 13) << "the stream is put back";
  }
}

TEST(GifHeader, RecoveryOverACutFileFailsAt23UntilTheImageSizeIsThere) {
  gifwrite::GifBuilder gif = ZeroWidthGif();
  const Bytes& full = gif.bytes();
  const size_t image = gif.blockOffsets()[3];
  ASSERT_EQ(full[image], 0x2C);
  const size_t sizeEnd = image + 9;  // introducer, left, top, width, height
  for (size_t size = 13; size <= full.size(); ++size) {
    SCOPED_TRACE(size);
    HeaderResult r = ReadHeader(Bytes(full.begin(), full.begin() + size));
    EXPECT_EQ(r.result, size >= sizeEnd ? 0 : kErrNotGif);
    if (r.result == 0) {
      EXPECT_EQ(r.header.width, 320);
    }
  }
  EXPECT_EQ(StandInLiveStreams(), 0);
}

// Host streams over a buffer: one that cannot tell its position, and one
// that goes on with zero bytes forever after the buffer.
struct HostBuffer {
  Bytes bytes;
  int32_t position = 0;
  bool canTell = true;
  bool endless = false;
};
HostBuffer* hostBuffer = nullptr;

int32_t WINAPI BufferStream(uint32_t, int32_t operation, void* buffer, int32_t value,
                            int32_t origin) {
  HostBuffer& b = *hostBuffer;
  const int32_t size = static_cast<int32_t>(b.bytes.size());
  switch (operation) {
    case kHostStreamRead: {
      int32_t n = b.endless ? value : std::max(0, std::min(value, size - b.position));
      auto* out = static_cast<uint8_t*>(buffer);
      for (int32_t i = 0; i < n; ++i, ++b.position) {
        out[i] = b.position < size ? b.bytes[static_cast<size_t>(b.position)] : 0;
      }
      return n;
    }
    case kHostStreamSeek: {
      if (!b.canTell && origin == 1 && value == 0) return -1;
      int32_t target = (origin == 0 ? 0 : origin == 1 ? b.position : size) + value;
      if (target < 0) return -1;
      return b.position = target;
    }
    default:
      return b.canTell ? b.position : -1;
  }
}

QvStream OpenHost(HostStreamProc function) {
  StreamOpenDescriptor descriptor = {};
  descriptor.streamFunction = function;
  return QvStreamOpen("", &descriptor, 0);
}

TEST(GifHeader, RecoveryEndsOnAStreamThatNeverEnds) {
  // Zeros read as empty extensions, one after another, without end.
  HostBuffer buffer{HeaderBytes("GIF89a", 0, 0)};
  buffer.endless = true;
  hostBuffer = &buffer;
  QvStream stream = OpenHost(BufferStream);
  EXPECT_EQ(ReadHeader(stream).result, kErrNotGif);
  QvStreamClose(stream);
  StandInClearLog();
  EXPECT_EQ(StandInLiveStreams(), 0);
}

TEST(GifHeader, RecoveryNeedsAStreamThatCanBePutBack) {
  Bytes gif = ZeroWidthGif().bytes();
  for (bool canTell : {true, false}) {
    SCOPED_TRACE(canTell);
    HostBuffer buffer{gif};
    buffer.canTell = canTell;
    hostBuffer = &buffer;
    QvStream stream = OpenHost(BufferStream);
    HeaderResult r = ReadHeader(stream);
    QvStreamClose(stream);
    EXPECT_EQ(r.result, canTell ? 0 : kErrNotGif);
  }
}

}  // namespace
