// GetFileInfo through its three inputs: the header it reads (signature,
// version, a zero screen size taken from the first image), what lands in the
// record (and what must not), and that every stream, lock and block is given
// back on every way out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "filter/file_info.h"
#include "platform/locked_global.h"
#include "tests/support/gif_writer.h"
#include "tests/support/recording_host.h"

namespace {

using gifwrite::Bytes;

// A host stream over a byte string; only its own user value works. It may
// fail, be unable to tell its position, or read zeros without end.
constexpr uint32_t kStreamUserValue = 0xC0FFEE;
struct StreamState {
  const Bytes* bytes = nullptr;
  bool fail = false, cannotTell = false, endless = false;
  int32_t position = 0;
} stream;

int32_t WINAPI ByteStream(uint32_t userValue, int32_t operation, void* buffer, int32_t value,
                          int32_t origin) {
  StreamState& s = stream;
  if (userValue != kStreamUserValue || s.fail || !s.bytes) return -1;
  const auto size = static_cast<int32_t>(s.bytes->size());
  if (operation == kHostStreamRead) {
    const int32_t n = s.endless ? value : std::max(0, std::min(value, size - s.position));
    for (int32_t i = 0; i < n; ++i, ++s.position)
      static_cast<uint8_t*>(buffer)[i] = s.position < size ? (*s.bytes)[s.position] : 0;
    return n;
  }
  if (s.cannotTell && (operation != kHostStreamSeek || (origin == 1 && value == 0))) return -1;
  if (operation != kHostStreamSeek) return s.position;
  const int32_t target = (origin == 0 ? 0 : origin == 1 ? s.position : size) + value;
  return target < 0 ? -1 : (s.position = target);
}

HGLOBAL BlockOf(const Bytes& bytes) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  if (LockedGlobal data(block); data) std::memcpy(data.As<void>(), bytes.data(), bytes.size());
  return block;
}

// Whether `block` is left unlocked: one more lock and unlock end at 0.
bool Unlocked(HGLOBAL block) { return !GlobalLock(block) || GlobalUnlock(block) == FALSE; }

// GetFileInfo on `bytes` in a memory block (viaStream false) or through a
// host stream; nothing may stay live and the block must be left unlocked.
int32_t Query(bool viaStream, const Bytes& bytes, void* record, StreamState how = {}) {
  auto* info = static_cast<FileInfoRecord*>(record);
  int32_t result = 0;
  if (!viaStream) {
    HGLOBAL block = BlockOf(bytes);
    result = GetFileInfo("", info, reinterpret_cast<uintptr_t>(block), nullptr);
    EXPECT_TRUE(Unlocked(block)) << "the filter left its lock";
    GlobalFree(block);
  } else {
    stream = how;
    stream.bytes = &bytes;
    result = GetFileInfo("carried.gif", info, kStreamUserValue, ByteStream);
    stream = StreamState{};
  }
  StandInClearLog();
  EXPECT_EQ(testhost::DescribeLive(), "") << (viaStream ? "stream" : "memory");
  return result;
}

// Result, width, height, bits and flags of a 60-byte record.
std::vector<int32_t> Info(bool viaStream, const Bytes& bytes, StreamState how = {}) {
  FileInfoRecord r;
  std::memset(&r, 0xEE, sizeof r);
  r.recordSize = 60;
  const int32_t result = Query(viaStream, bytes, &r, how);
  return {result, r.width, r.height, r.bitsPerPixel, static_cast<int32_t>(r.itemFlags)};
}

const Bytes kGif320x200 =
    gifwrite::GifBuilder(320, 200, std::vector<gifwrite::Color>(256, {9, 9, 9})).bytes();
const Bytes kSmall = gifwrite::GifBuilder(7, 5, {{0, 0, 0}, {1, 1, 1}}).bytes();

// A 320 x 200 header with no global table behind the given six bytes.
Bytes HeaderBytes(std::string start) {
  start.resize(6, '\0');
  Bytes b(start.begin(), start.end());
  b.insert(b.end(), {64, 1, 200, 0, 0, 0, 0});
  return b;
}

// The signature in any case; a version is refused only when it reads as a
// number above 89. (The import cases check GetFileInfo on each of their GIFs
// by every road.)
TEST(FileInfoTest, SignatureAndVersion) {
  std::vector<std::pair<std::string, int32_t>> cases = {{"GIF90a", kErrVersion},
                                                        {"GIF99a", kErrVersion},
                                                        {"JIF89a", kErrNotGif},
                                                        {"GI", kErrNotGif},
                                                        {std::string("GI\0"
                                                                     "89a",
                                                                     6),
                                                         kErrNotGif}};
  for (const char* start : {"GIF89a", "GIF87a", "gif89a", "gIf87A", "GIFxxa", "GIF8xa", "GIF89z",
                            "GIF00a", "GIF9 a", "gif100",
                            "GIF\0"
                            "89"})
    cases.push_back({std::string(start, 6), 0});
  for (const auto& [start, result] : cases) {
    SCOPED_TRACE(start);
    const std::vector<int32_t> found = {0, 320, 200, 1, 0x4C};
    EXPECT_EQ(Info(true, HeaderBytes(start)),
              (result ? std::vector<int32_t>{result, 0, 0, 0, 0} : found));
  }
  gifwrite::Image empty;  // a recovered width of 0 is no size
  empty.height = 5;
  EXPECT_EQ(Info(false, gifwrite::GifBuilder(0, 0).AddImage(empty).bytes())[0], kFileInfoBadValue);
}

TEST(FileInfoTest, ZeroScreenSizeIsTakenFromTheFirstImageOnceItsSizeIsThere) {
  gifwrite::Image small;
  small.width = 7;
  small.height = 9;
  small.pixels.assign(63, 0);
  const gifwrite::GifBuilder gifs[] = {
      gifwrite::GifBuilder(0, 0)
          .GraphicControl(true, 1)
          .Application("NETSCAPE2.0", {1, 0, 0})
          .PlainText(0, 0, 8, 8, 8, 8, 1, 0, {"abc", "def"})
          .Comment(std::string(600, 'c'))
          .AddImage(small),
      gifwrite::GifBuilder(33, 0, {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}}).AddImage(small),
  };
  for (const auto& gif : gifs) {
    const Bytes& full = gif.bytes();
    const size_t sizeEnd = gif.blockOffsets().back() + 9;  // introducer, left, top, width, height
    for (size_t size = 13; size <= full.size(); ++size) {
      SCOPED_TRACE(size);
      const std::vector<int32_t> found = {0, 7, 9, full[10] ? 2 : 1, 0x4C};
      EXPECT_EQ(Info(false, Bytes(full.begin(), full.begin() + static_cast<long>(size))),
                (size >= sizeEnd ? found : std::vector<int32_t>{kErrNotGif, 0, 0, 0, 0}));
    }
  }
  // Given up on a stream that cannot be put back, and on one whose zeros
  // read as empty extensions without end.
  EXPECT_EQ(Info(true, gifs[0].bytes(), {nullptr, false, true})[0], kErrNotGif);
  Bytes zeroSize = HeaderBytes("GIF89a");
  zeroSize[6] = zeroSize[7] = 0;
  EXPECT_EQ(Info(true, zeroSize, {nullptr, false, false, true})[0], kErrNotGif);
  // And past 16,384 sub-blocks in all, terminators counted.
  for (size_t blocks : {16383, 16384}) {
    Bytes comment = {0x21, 0xFE};
    for (size_t i = 0; i < blocks; ++i) comment.insert(comment.end(), {1, 'c'});
    comment.push_back(0);
    EXPECT_EQ(Info(false, gifwrite::GifBuilder(0, 0).Raw(comment).AddImage(small).bytes())[0],
              blocks < 16384 ? 0 : kErrNotGif);
  }
}

// A field (itemFlags too) is stored only when it lies wholly inside the
// record; the record is cleared after its size, and not at all for a size
// that is refused (a 4-byte buffer claiming 65 bytes is not overrun).
TEST(FileInfoTest, WritesOnlyInsideTheRecordItsSizeAllows) {
  const struct {
    int32_t size, result, stored;  // stored: how many of width, height, bits, flags
  } cases[] = {
      {std::numeric_limits<int32_t>::min(), kFileInfoBadRecord, 0},
      {0, kFileInfoBadRecord, 0},
      {3, kFileInfoBadValue, 0},
      {17, kFileInfoBadValue, 0},
      {20, kFileInfoBadValue, 1},
      {35, kFileInfoBadValue, 1},
      {36, kFileInfoBadValue, 2},
      {47, kFileInfoBadValue, 2},
      {48, 0, 3},
      {59, 0, 3},
      {60, 0, 4},
      {64, 0, 4},
      {65, kFileInfoBadRecord, 0},
      {100000, kFileInfoBadRecord, 0},
  };
  constexpr size_t kGuard = 32;
  for (const auto& c : cases) {
    SCOPED_TRACE("recordSize " + std::to_string(c.size));
    std::vector<uint8_t> area(kGuard + 128, 0xAA);
    std::memcpy(&area[kGuard], &c.size, 4);
    std::vector<uint8_t> expected = area;
    for (int32_t i = 4; c.result != kFileInfoBadRecord && i < c.size; ++i) expected[kGuard + i] = 0;
    const int32_t values[4][2] = {{16, 320}, {32, 200}, {44, 8}, {56, 0x4C}};
    for (int i = 0; i < c.stored; ++i)
      std::memcpy(&expected[kGuard + values[i][0]], &values[i][1], 4);
    EXPECT_EQ(Query(false, kGif320x200, &area[kGuard]), c.result);
    EXPECT_EQ(area, expected);
  }
}

// A host stream wins over a path, which wins over a memory block; a block
// is used only with an empty or null path and only when it locks.
TEST(FileInfoTest, WhichInputIsRead) {
  const char* sample = GIFIMPORT_SAMPLE_GIF;  // 192 x 128
  HGLOBAL small = BlockOf(kSmall);
  HGLOBAL empty = GlobalAlloc(GMEM_MOVEABLE, 0);
  const struct {
    const char* path;
    HGLOBAL memory;
    bool viaStream, streamFails;
    int32_t result, width;
  } cases[] = {
      {nullptr, nullptr, false, false, kErrRead, 0}, {"", small, false, false, 0, 7},
      {nullptr, small, false, false, 0, 7},          {sample, small, false, false, 0, 192},
      {"", empty, false, false, kErrRead, 0},        {sample, nullptr, true, false, 0, 7},
      {sample, nullptr, true, true, kErrRead, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    FileInfoRecord record = {};
    record.recordSize = 60;
    stream = StreamState{&kSmall, c.streamFails};
    StandInClearLog();
    const uintptr_t source = c.viaStream ? kStreamUserValue : reinterpret_cast<uintptr_t>(c.memory);
    EXPECT_EQ(GetFileInfo(c.path, &record, source, c.viaStream ? ByteStream : nullptr), c.result);
    EXPECT_EQ(record.width, c.width);
    EXPECT_TRUE(Unlocked(small));
    EXPECT_EQ(testhost::DescribeLive({2}), "") << "beside this test's two blocks";
    std::string log;
    for (int i = 0; i < StandInLogSize(); ++i) log += StandInLogEntry(i);
    EXPECT_TRUE(!c.viaStream || log.find("sample.gif") != std::string::npos) << "path carried";
  }
  stream = StreamState{};
  StandInClearLog();
  EXPECT_EQ(GetFileInfo(sample, nullptr, 0, nullptr), kFileInfoBadRecord);
  GlobalFree(small);
  GlobalFree(empty);
}

// Items the header never gives (1, 2, 8, 9) follow the same rules.
TEST(FileInfoTest, SetFileInfoItemRefusesBadIdsValuesAndFieldsThatDoNotFit) {
  const double nan = std::nan("");
  const struct {
    int32_t size, id;
    double real;    // for ids 1 and 2
    int32_t whole;  // for the others
    int32_t result;
  } cases[] = {
      {60, 0, 0, 5, kFileInfoBadItem},
      {60, 10, 0, 5, kFileInfoBadItem},
      {60, 1, nan, 0, kFileInfoBadValue},
      {60, 8, 0, 2, kFileInfoBadValue},
      {60, 8, 0, 0, 0},
      {0, 3, 0, 0, kFileInfoBadValue},
      {16, 1, 2.5, 0, 0},
      {15, 1, 2.5, 0, kFileInfoBadItem},
      {55, 9, 0, 4, kFileInfoBadItem},
      {56, 9, 0, 4, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("size " + std::to_string(c.size) + ", item " + std::to_string(c.id));
    alignas(8) uint8_t area[64 + 16] = {};
    std::memcpy(area, &c.size, 4);
    const uint32_t otherFlags = 0x200;
    std::memcpy(area + 56, &otherFlags, 4);
    const void* value = (c.id == 1 || c.id == 2) ? static_cast<const void*>(&c.real)
                                                 : static_cast<const void*>(&c.whole);
    EXPECT_EQ(SetFileInfoItem(reinterpret_cast<FileInfoRecord*>(area), c.id, value), c.result);
    uint32_t flags = 0;
    std::memcpy(&flags, area + 56, 4);
    const uint32_t bit = c.result == 0 && c.size >= 60 ? 1u << (c.id - 1) : 0;
    EXPECT_EQ(flags, otherFlags | bit) << "only the item's own bit, and only when it is stored";
    std::memset(area + 56, 0, 4);
    const size_t end = static_cast<size_t>(std::max(c.size, 4));
    EXPECT_EQ(std::vector<uint8_t>(area + end, std::end(area)),
              std::vector<uint8_t>(sizeof area - end))
        << "bytes past the record";
  }
}

}  // namespace
