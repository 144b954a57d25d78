// GetFileInfo through its three inputs: what lands in the record (and what
// must not), its results, and that every stream, lock and block is given
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
#include "tests/support/gif_writer.h"
#include "tests/support/recording_host.h"

namespace {

using gifwrite::Bytes;

enum Way { kMemory, kStream };
const char* const kWayNames[] = {"memory", "stream"};

// A host stream over a byte string; only its own user value works.
constexpr uint32_t kStreamUserValue = 0xC0FFEE;
struct StreamState {
  const Bytes* bytes = nullptr;
  int32_t position = 0;
  bool fail = false;
} streamState;

int32_t WINAPI ByteStream(uint32_t userValue, int32_t operation, void* buffer, int32_t value,
                          int32_t origin) {
  StreamState& s = streamState;
  if (userValue != kStreamUserValue || s.fail || !s.bytes) return -1;
  const auto size = static_cast<int32_t>(s.bytes->size());
  if (operation == kHostStreamRead) {
    const int32_t n = std::max(0, std::min(value, size - s.position));
    if (n > 0) std::memcpy(buffer, s.bytes->data() + s.position, static_cast<size_t>(n));
    s.position += n;
    return n;
  }
  if (operation == kHostStreamSeek) {
    const int32_t target = (origin == 0 ? 0 : origin == 1 ? s.position : size) + value;
    if (target < 0) return -1;
    s.position = target;
  }
  return s.position;
}

HGLOBAL BlockOf(const Bytes& bytes) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  if (void* data = GlobalLock(block)) {
    std::memcpy(data, bytes.data(), bytes.size());
    GlobalUnlock(block);
  }
  return block;
}

// Whether `block` is left unlocked: one more lock and unlock end at 0.
bool Unlocked(HGLOBAL block) { return !GlobalLock(block) || GlobalUnlock(block) == FALSE; }

const Bytes kGif320x200 =
    gifwrite::GifBuilder(320, 200, std::vector<gifwrite::Color>(256, {9, 9, 9})).bytes();
const Bytes kSmall = gifwrite::GifBuilder(7, 5, {{0, 0, 0}, {1, 1, 1}}).bytes();

// The screen width is recovered from the image behind the comment.
Bytes ZeroWidthGif() {
  gifwrite::Image image;
  image.width = 320;
  image.height = 200;
  return gifwrite::GifBuilder(0, 500, std::vector<gifwrite::Color>(4, {1, 2, 3}))
      .Comment(std::string(300, 'c'))
      .AddImage(image)
      .bytes();
}

// The companion's call log as one text.
std::string WholeLog() {
  std::string log;
  for (int i = 0; i < StandInLogSize(); ++i) log += StandInLogEntry(i);
  return log;
}

class FileInfoTest : public ::testing::Test {
 protected:
  void SetUp() override { StandInResetFaults(); }
  void TearDown() override {
    StandInResetFaults();
    StandInClearLog();
    EXPECT_EQ(testhost::DescribeLive(), "");
  }

  // GetFileInfo on `bytes` in a memory block or through a host stream, into
  // `record`; checks that nothing stays live and that the block is left
  // unlocked. The file way is the sample's, below.
  int32_t Query(Way way, const Bytes& bytes, void* record) {
    auto* info = static_cast<FileInfoRecord*>(record);
    int32_t result = 0;
    if (way == kMemory) {
      HGLOBAL block = BlockOf(bytes);
      result = GetFileInfo("", info, reinterpret_cast<uintptr_t>(block), nullptr);
      EXPECT_TRUE(Unlocked(block)) << "the filter left its lock";
      GlobalFree(block);
    } else {
      streamState = StreamState{&bytes};
      result = GetFileInfo("carried.gif", info, kStreamUserValue, ByteStream);
      streamState = StreamState{};
    }
    EXPECT_EQ(testhost::DescribeLive(), "") << kWayNames[way];
    return result;
  }
};

TEST_F(FileInfoTest, EveryInputGivesTheSameAnswer) {
  gifwrite::Image empty;
  empty.height = 5;
  const struct {
    const char* name;
    Bytes bytes;
    std::vector<int32_t> expected;  // result, width, height, bits, flags
  } cases[] = {
      {"320x200, 256 colours", kGif320x200, {0, 320, 200, 8, 0x4C}},
      {"65535x40000, more than an import takes",
       gifwrite::GifBuilder(65535, 40000).bytes(),
       {0, 65535, 40000, 1, 0x4C}},
      {"zero width, recovered", ZeroWidthGif(), {0, 320, 200, 2, 0x4C}},
      {"recovered image of width 0",
       gifwrite::GifBuilder(0, 0).AddImage(empty).bytes(),
       {kFileInfoBadValue, 0, 0, 0, 0}},
      {"12 bytes", Bytes(kSmall.begin(), kSmall.begin() + 12), {kErrRead, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    for (Way way : {kMemory, kStream}) {
      SCOPED_TRACE(std::string(c.name) + " via " + kWayNames[way]);
      FileInfoRecord record;
      std::memset(&record, 0xEE, sizeof record);
      record.recordSize = 60;
      const int32_t result = Query(way, c.bytes, &record);
      EXPECT_EQ((std::vector<int32_t>{result, record.width, record.height, record.bitsPerPixel,
                                      static_cast<int32_t>(record.itemFlags)}),
                c.expected);
    }
  }
}

// A field (itemFlags too) is stored only when it lies wholly inside the
// record; the record is cleared after its size, and not at all for a size
// that is refused (a 4-byte buffer claiming 65 bytes is not overrun).
TEST_F(FileInfoTest, WritesOnlyInsideTheRecordItsSizeAllows) {
  const struct {
    int32_t size, result, stored;  // stored: how many of width, height, bits
    bool flags;
  } cases[] = {
      {std::numeric_limits<int32_t>::min(), kFileInfoBadRecord, 0, false},
      {0, kFileInfoBadRecord, 0, false},
      {3, kFileInfoBadValue, 0, false},
      {17, kFileInfoBadValue, 0, false},
      {20, kFileInfoBadValue, 1, false},
      {35, kFileInfoBadValue, 1, false},
      {36, kFileInfoBadValue, 2, false},
      {47, kFileInfoBadValue, 2, false},
      {48, 0, 3, false},
      {59, 0, 3, false},
      {60, 0, 3, true},
      {64, 0, 3, true},
      {65, kFileInfoBadRecord, 0, false},
      {100000, kFileInfoBadRecord, 0, false},
  };
  constexpr size_t kGuard = 32;
  for (const auto& c : cases) {
    SCOPED_TRACE("recordSize " + std::to_string(c.size));
    std::vector<uint8_t> area(kGuard + 128, 0xAA);
    std::memcpy(&area[kGuard], &c.size, 4);
    std::vector<uint8_t> expected = area;
    for (int32_t i = 4; c.result != kFileInfoBadRecord && i < c.size; ++i) expected[kGuard + i] = 0;
    const int32_t values[4][2] = {{16, 320}, {32, 200}, {44, 8}, {56, 0x4C}};
    for (int i = 0; i < c.stored + (c.flags ? 1 : 0); ++i)
      std::memcpy(&expected[kGuard + values[i][0]], &values[i][1], 4);
    EXPECT_EQ(Query(kMemory, kGif320x200, &area[kGuard]), c.result);
    EXPECT_EQ(area, expected);
  }
}

// A host stream wins over a path, which wins over a memory block; a block
// is used only with an empty or null path and only when it locks.
TEST_F(FileInfoTest, WhichInputIsRead) {
  const char* sample = GIFIMPORT_SAMPLE_GIF;  // 192 x 128
  HGLOBAL small = BlockOf(kSmall);
  HGLOBAL empty = GlobalAlloc(GMEM_MOVEABLE, 0);
  const struct {
    const char* name;
    const char* path;
    HGLOBAL memory;
    bool stream, streamFails;
    int32_t result, width;
  } cases[] = {
      {"null path, no block", nullptr, nullptr, false, false, kErrRead, 0},
      {"empty path: the block", "", small, false, false, 0, 7},
      {"null path: the block", nullptr, small, false, false, 0, 7},
      {"a path wins over the block", sample, small, false, false, 0, 192},
      {"a block that locks to nothing", "", empty, false, false, kErrRead, 0},
      {"a stream wins over a path", sample, nullptr, true, false, 0, 7},
      {"a failing stream", sample, nullptr, true, true, kErrRead, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FileInfoRecord record = {};
    record.recordSize = 60;
    streamState = StreamState{&kSmall, 0, c.streamFails};
    StandInClearLog();
    const uintptr_t source = c.stream ? kStreamUserValue : reinterpret_cast<uintptr_t>(c.memory);
    EXPECT_EQ(GetFileInfo(c.path, &record, source, c.stream ? ByteStream : nullptr), c.result);
    EXPECT_EQ(record.width, c.width);
    EXPECT_TRUE(Unlocked(small));
    EXPECT_EQ(testhost::DescribeLive({2}), "") << "beside this test's two blocks";
    EXPECT_TRUE(!c.stream || WholeLog().find("sample.gif") != std::string::npos) << "path carried";
  }
  streamState = StreamState{};
  EXPECT_EQ(GetFileInfo(sample, nullptr, 0, nullptr), kFileInfoBadRecord);
  GlobalFree(small);
  GlobalFree(empty);
}

// Items the header never gives (1, 2, 8, 9) follow the same rules.
TEST(SetFileInfoItem, RefusesBadIdsValuesAndFieldsThatDoNotFit) {
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
