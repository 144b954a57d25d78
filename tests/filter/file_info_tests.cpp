// GetFileInfo through its three inputs: what lands in the record (and what
// must not), its results, and that every stream, lock and block is given
// back on every way out.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "filter/file_info.h"
#include "platform/platform_test.h"
#include "tests/support/gif_writer.h"
#include "tests/support/recording_host.h"

namespace {

using gifwrite::Bytes;

enum class Way { kFile, kMemory, kStream };
const Way kAllWays[] = {Way::kFile, Way::kMemory, Way::kStream};
const char* WayName(Way way) {
  return way == Way::kFile ? "file" : way == Way::kMemory ? "memory" : "stream";
}

// ---- A host stream over a byte string. Only its own user value works.
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
  const int32_t size = static_cast<int32_t>(s.bytes->size());
  if (operation == kHostStreamRead) {
    int32_t n = std::max(0, std::min(value, size - s.position));
    if (n > 0) std::memcpy(buffer, s.bytes->data() + s.position, static_cast<size_t>(n));
    s.position += n;
    return n;
  }
  if (operation == kHostStreamSeek) {
    int32_t target = (origin == 0 ? 0 : origin == 1 ? s.position : size) + value;
    if (target < 0) return -1;
    s.position = target;
  }
  return s.position;
}

// Whether `block` is left unlocked: one more lock and unlock must bring the
// count back to 0.
bool Unlocked(HGLOBAL block) {
  if (!GlobalLock(block)) return true;  // a discarded or dead block
  return GlobalUnlock(block) == FALSE;
}

class FileInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::testing::TempDir() + "file_info_" + std::to_string(getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    std::filesystem::create_directories(dir_);
    StandInResetFaults();
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    StandInResetFaults();
    StandInClearLog();
    EXPECT_EQ(testhost::DescribeLive(), "");
  }

  std::string Write(const std::string& name, const Bytes& bytes) {
    std::string path = dir_ + name;
    EXPECT_TRUE(gifwrite::WriteFile(path, bytes));
    return path;
  }

  // GetFileInfo on `bytes` the given way, into `record`; checks that
  // nothing stays live and that a memory block is left unlocked.
  int32_t Query(Way way, const Bytes& bytes, void* record) {
    int32_t result = 0;
    if (way == Way::kFile) {
      result = GetFileInfo(Write("query.gif", bytes).c_str(), static_cast<FileInfoRecord*>(record),
                           0, nullptr);
    } else if (way == Way::kMemory) {
      HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
      if (void* data = GlobalLock(block)) {
        std::memcpy(data, bytes.data(), bytes.size());
        GlobalUnlock(block);
      }
      result = GetFileInfo("", static_cast<FileInfoRecord*>(record),
                           reinterpret_cast<uintptr_t>(block), nullptr);
      EXPECT_TRUE(Unlocked(block)) << "the filter left its lock";
      GlobalFree(block);
    } else {
      streamState = StreamState{&bytes};
      result = GetFileInfo("carried.gif", static_cast<FileInfoRecord*>(record), kStreamUserValue,
                           ByteStream);
      streamState = StreamState{};
    }
    EXPECT_EQ(testhost::DescribeLive(), "") << WayName(way);
    return result;
  }

  std::string dir_;
};

struct Answer {
  int32_t result, width, height, bits;
  uint32_t flags;
  bool operator==(const Answer& o) const {
    return result == o.result && width == o.width && height == o.height && bits == o.bits &&
           flags == o.flags;
  }
};
std::ostream& operator<<(std::ostream& out, const Answer& a) {
  return out << "{result " << a.result << ", " << a.width << "x" << a.height << ", " << a.bits
             << " bits, flags 0x" << std::hex << a.flags << std::dec << "}";
}

gifwrite::Image Solid(uint16_t width, uint16_t height) {
  gifwrite::Image image;
  image.width = width;
  image.height = height;
  image.pixels.assign(size_t{width} * height, 1);
  return image;
}

Bytes Gif320x200() {
  return gifwrite::GifBuilder(320, 200, std::vector<gifwrite::Color>(256, {9, 9, 9}))
      .AddImage(Solid(320, 200))
      .Trailer()
      .bytes();
}

Bytes ZeroWidthGif() {
  return gifwrite::GifBuilder(0, 500, std::vector<gifwrite::Color>(4, {1, 2, 3}))
      .Comment(std::string(300, 'c'))
      .AddImage(Solid(320, 200))
      .Trailer()
      .bytes();
}

Bytes Truncated(Bytes bytes, size_t size) {
  bytes.resize(size);
  return bytes;
}

TEST_F(FileInfoTest, EveryInputGivesTheSameAnswer) {
  Bytes version90 = Gif320x200();
  version90[4] = '0';
  version90[3] = '9';
  Bytes cutComment = ZeroWidthGif();
  cutComment.resize(13 + 12 + 100);
  const struct {
    const char* name;
    Bytes bytes;
    Answer expected;
  } cases[] = {
      {"320x200, 256 colours", Gif320x200(), {0, 320, 200, 8, 0x4C}},
      {"87a, 2 colours",
       gifwrite::GifBuilder(40, 30, {{0, 0, 0}, {1, 1, 1}}, "87a").AddImage(Solid(40, 30)).bytes(),
       {0, 40, 30, 1, 0x4C}},
      {"no global table, size field 3",
       gifwrite::GifBuilder(7, 5).SetHeaderSizeField(3).bytes(), {0, 7, 5, 4, 0x4C}},
      {"zero width, recovered", ZeroWidthGif(), {0, 320, 200, 2, 0x4C}},
      {"recovered image of width 0",
       gifwrite::GifBuilder(0, 0).AddImage(Solid(0, 5)).bytes(), {kFileInfoBadValue, 0, 0, 0, 0}},
      {"recovery cut inside the comment", cutComment, {kErrNotGif, 0, 0, 0, 0}},
      {"version 90a", version90, {kErrVersion, 0, 0, 0, 0}},
      {"not a GIF", Bytes{'P', 'K', 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {kErrNotGif, 0, 0, 0, 0}},
      {"12 bytes", Truncated(Gif320x200(), 12), {kErrRead, 0, 0, 0, 0}},
      {"empty", Bytes{}, {kErrRead, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    for (Way way : kAllWays) {
      SCOPED_TRACE(std::string(c.name) + " via " + WayName(way));
      FileInfoRecord record;
      std::memset(&record, 0xEE, sizeof record);
      record.recordSize = 60;
      int32_t result = Query(way, c.bytes, &record);
      EXPECT_EQ((Answer{result, record.width, record.height, record.bitsPerPixel,
                        record.itemFlags}),
                c.expected);
      EXPECT_EQ(record.cleared4, 0u);
      EXPECT_EQ(record.item5, 0);
    }
  }
}

TEST_F(FileInfoTest, WritesOnlyInsideTheRecordItsSizeAllows) {
  // stored: how many of width, height, bitsPerPixel land; flags: itemFlags
  // is written. Nothing is cleared past 64 bytes, whatever the size says.
  const struct {
    int32_t size, result, stored;
    bool flags;
  } cases[] = {
      {std::numeric_limits<int32_t>::min(), kFileInfoBadRecord, 0, false},
      {-4, kFileInfoBadRecord, 0, false},  {0, kFileInfoBadRecord, 0, false},
      {1, kFileInfoBadValue, 0, false},    {3, kFileInfoBadValue, 0, false},
      {4, kFileInfoBadValue, 0, false},    {16, kFileInfoBadValue, 0, false},
      {17, kFileInfoBadValue, 0, false},   {18, kFileInfoBadValue, 0, false},
      {19, kFileInfoBadValue, 0, false},   {20, kFileInfoBadValue, 1, false},
      {35, kFileInfoBadValue, 1, false},   {36, kFileInfoBadValue, 2, false},
      {40, kFileInfoBadValue, 2, false},   {47, kFileInfoBadValue, 2, false},
      {48, 0, 3, false},                   {56, 0, 3, false},
      {57, 0, 3, false},                   {59, 0, 3, false},
      {60, 0, 3, true},                    {64, 0, 3, true},
      {65, kFileInfoBadRecord, 0, false},  {100000, kFileInfoBadRecord, 0, false},
  };
  constexpr size_t kGuard = 32, kRoom = 64 + 64;
  const Bytes gif = Gif320x200();
  for (const auto& c : cases) {
    for (Way way : kAllWays) {
      SCOPED_TRACE("recordSize " + std::to_string(c.size) + " via " + WayName(way));
      alignas(8) uint8_t area[kGuard + kRoom];
      std::memset(area, 0xAA, sizeof area);
      std::memcpy(area + kGuard, &c.size, 4);
      uint8_t expected[sizeof area];
      std::memcpy(expected, area, sizeof area);
      for (int32_t i = 4; i < std::min(c.size, 64); ++i) expected[kGuard + i] = 0;
      const int32_t values[3][2] = {{16, 320}, {32, 200}, {44, 8}};
      for (int i = 0; i < c.stored; ++i) {
        std::memcpy(expected + kGuard + values[i][0], &values[i][1], 4);
      }
      const uint32_t flags = 0x4C;
      if (c.flags) std::memcpy(expected + kGuard + 56, &flags, 4);

      EXPECT_EQ(Query(way, gif, area + kGuard), c.result);
      for (size_t i = 0; i < sizeof area; ++i) {
        ASSERT_EQ(area[i], expected[i]) << "byte " << static_cast<long>(i - kGuard);
      }
    }
  }
}

TEST_F(FileInfoTest, FilesThatCannotBeReadGive21) {
  const std::string good = Write("good.gif", Gif320x200());
  mkdir((dir_ + "folder.gif").c_str(), 0700);
  std::vector<std::string> paths = {dir_ + "missing.gif", dir_ + "folder.gif",
                                    good + "/below-a-file.gif", ""};
  std::string locked = Write("locked.gif", Gif320x200());
  chmod(locked.c_str(), 0);
  if (access(locked.c_str(), R_OK) != 0) paths.push_back(locked);  // not when run as root
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    FileInfoRecord record = {};
    record.recordSize = 60;
    EXPECT_EQ(GetFileInfo(path.c_str(), &record, 0, nullptr), kErrRead);
    EXPECT_EQ(record.width, 0);
    EXPECT_EQ(testhost::DescribeLive(), "");
  }
  FileInfoRecord record = {};
  record.recordSize = 60;
  EXPECT_EQ(GetFileInfo(nullptr, &record, 0, nullptr), kErrRead) << "null path, no source";
  EXPECT_EQ(GetFileInfo(good.c_str(), nullptr, 0, nullptr), kFileInfoBadRecord);
}

TEST_F(FileInfoTest, MemoryInputOnlyWithAnEmptyPathAndALockableBlock) {
  const Bytes small = gifwrite::GifBuilder(7, 5, {{0, 0, 0}, {1, 1, 1}}).bytes();
  const std::string bigFile = Write("big.gif", Gif320x200());
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, small.size());
  std::memcpy(GlobalLock(block), small.data(), small.size());
  GlobalUnlock(block);
  HGLOBAL empty = GlobalAlloc(GMEM_MOVEABLE, 0);
  HGLOBAL freed = GlobalAlloc(GMEM_MOVEABLE, 16);
  GlobalFree(freed);
  const struct {
    const char* name;
    const char* path;
    HGLOBAL memory;
    int32_t result, width;
  } cases[] = {
      {"empty path", "", block, 0, 7},
      {"null path", nullptr, block, 0, 7},
      {"a path wins over the block", bigFile.c_str(), block, 0, 320},
      {"block of size 0", "", empty, kErrRead, 0},
      {"freed block", "", freed, kErrRead, 0},
      {"not a handle", "", reinterpret_cast<HGLOBAL>(uintptr_t{0x5A5A50}), kErrRead, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FileInfoRecord record = {};
    record.recordSize = 60;
    EXPECT_EQ(GetFileInfo(c.path, &record, reinterpret_cast<uintptr_t>(c.memory), nullptr),
              c.result);
    EXPECT_EQ(record.width, c.width);
    EXPECT_TRUE(Unlocked(block));
  }
  GlobalFree(block);
  GlobalFree(empty);
}

TEST_F(FileInfoTest, HostStreamWinsAndItsFailuresGive21) {
  const Bytes small = gifwrite::GifBuilder(7, 5, {{0, 0, 0}, {1, 1, 1}}).bytes();
  const std::string bigFile = Write("big.gif", Gif320x200());
  for (bool fail : {false, true}) {
    SCOPED_TRACE(fail ? "failing stream" : "good stream");
    streamState = StreamState{&small, 0, fail};
    FileInfoRecord record = {};
    record.recordSize = 60;
    EXPECT_EQ(GetFileInfo(bigFile.c_str(), &record, kStreamUserValue, ByteStream),
              fail ? kErrRead : 0);
    EXPECT_EQ(record.width, fail ? 0 : 7);
    streamState = StreamState{};
  }
  // The path is carried along to the stream.
  bool carried = false;
  for (int i = 0; i < StandInLogSize(); ++i) {
    if (std::strstr(StandInLogEntry(i), "big.gif")) carried = true;
  }
  EXPECT_TRUE(carried);
}

TEST_F(FileInfoTest, ReadFailuresAnywhereReleaseEverything) {
  const Bytes gif = ZeroWidthGif();
  for (Way way : kAllWays) {
    for (long n = 1; n <= 12; ++n) {
      SCOPED_TRACE(std::string(WayName(way)) + ", read " + std::to_string(n) + " fails");
      StandInFailStreamReadAt(n);
      FileInfoRecord record = {};
      record.recordSize = 60;
      int32_t result = Query(way, gif, &record);
      StandInResetFaults();
      EXPECT_TRUE(result == kErrRead || result == kErrNotGif || result == 0) << result;
      if (result != 0) {
        EXPECT_EQ(record.itemFlags, 0u);
      }
    }
  }
}

TEST(SetFileInfoItem, RefusesBadIdsValuesAndFieldsThatDoNotFit) {
  const double nan = std::nan("");
  const struct {
    int32_t size, id;
    double real;   // for ids 1 and 2
    int32_t whole; // for the others
    int32_t result;
  } cases[] = {
      {60, 0, 0, 5, kFileInfoBadItem},    {60, 10, 0, 5, kFileInfoBadItem},
      {60, 1, nan, 0, kFileInfoBadValue}, {60, 8, 0, 2, kFileInfoBadValue},
      {60, 8, 0, 0, 0},                   {0, 3, 0, 0, kFileInfoBadValue},
      {16, 1, 2.5, 0, 0},                 {15, 1, 2.5, 0, kFileInfoBadItem},
      {55, 9, 0, 4, kFileInfoBadItem},    {56, 9, 0, 4, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("size " + std::to_string(c.size) + ", item " + std::to_string(c.id));
    alignas(8) uint8_t area[64 + 16];
    std::memset(area, 0, sizeof area);
    std::memcpy(area, &c.size, 4);
    const uint32_t otherFlags = 0x200;
    std::memcpy(area + 56, &otherFlags, 4);
    const void* value = (c.id == 1 || c.id == 2) ? static_cast<const void*>(&c.real)
                                                 : static_cast<const void*>(&c.whole);
    EXPECT_EQ(SetFileInfoItem(reinterpret_cast<FileInfoRecord*>(area), c.id, value), c.result);
    uint32_t flags = 0;
    std::memcpy(&flags, area + 56, 4);
    uint32_t bit = c.result == 0 && c.size >= 60 ? 1u << (c.id - 1) : 0;
    EXPECT_EQ(flags, otherFlags | bit) << "only the item's own bit, and only when it is stored";
    for (size_t i = static_cast<size_t>(std::max(c.size, 4)); i < sizeof area; ++i) {
      if (i < 56 || i >= 60) {
        ASSERT_EQ(area[i], 0) << "byte " << i << " past the record";
      }
    }
  }
}

}  // namespace
