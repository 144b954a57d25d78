// GetFileInfo and SetFileInfoItem: the header read (signature, version, a
// zero screen size taken from the first image), which input is read, what
// lands in the record and what must not, and that every stream, lock and
// block is given back on every way out. Most cases are rows of file_info.txt.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "filter/file_info.h"
#include "platform/locked_global.h"
#include "tests/support/gif_writer.h"
#include "tests/support/recording_host.h"
#include "tests/support/table.h"

namespace {

using gifwrite::Bytes;
using testtable::Row;

// A host stream over a byte string; only its own user value works. It may
// fail, be unable to tell its position, or read zeros without end.
constexpr uint32_t kUser = 0xC0FFEE;
struct StreamState {
  const Bytes* bytes = nullptr;
  bool fail = false, cannotTell = false, endless = false;
  int32_t position = 0;
} stream;

int32_t WINAPI ByteStream(uint32_t user, int32_t operation, void* buffer, int32_t value,
                          int32_t origin) {
  StreamState& s = stream;
  if (user != kUser || s.fail || !s.bytes) return -1;
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
    result = GetFileInfo("carried.gif", info, kUser, ByteStream);
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
std::vector<int32_t> Failed(int32_t result) { return {result, 0, 0, 0, 0}; }

// The rows of file_info.txt of one kind, `expected` of them.
template <class Each>
void Rows(const std::string& kind, int expected, Each each) {
  int count = 0;
  testtable::ForEachRow(GIFIMPORT_FILE_INFO_TABLE, [&](const Row& row) {
    if (row[0] != kind) return;
    SCOPED_TRACE(kind + " row " + std::to_string(++count));
    each(row);
  });
  EXPECT_EQ(count, expected) << kind;
}
int32_t Number(const std::string& field) { return static_cast<int32_t>(std::stoll(field, 0, 0)); }

// A 320 x 200 header with no global table behind the given six bytes.
Bytes HeaderBytes(std::string start) {
  for (size_t nul; (nul = start.find("\\0")) != std::string::npos;) start.replace(nul, 2, 1, '\0');
  start.resize(6, '\0');
  Bytes b(start.begin(), start.end());
  b.insert(b.end(), {64, 1, 200, 0, 0, 0, 0});
  return b;
}

// The whole record is compared, with the bytes around it.
TEST(FileInfoTest, SignatureVersionAndWhatLandsInTheRecord) {
  Rows("query", 30, [](const Row& r) {
    constexpr size_t kGuard = 32;
    const int32_t size = Number(r[3]), result = Number(r[4]);
    std::vector<uint8_t> area(kGuard + 128, 0xAA);
    std::memcpy(&area[kGuard], &size, 4);
    std::vector<uint8_t> expected = area;
    for (int32_t i = 4; result != kFileInfoBadRecord && i < size; ++i) expected[kGuard + i] = 0;
    const std::vector<std::string> stored = testtable::Words(r[5]);
    const size_t offsets[4] = {16, 32, 44, 56};  // width, height, bitsPerPixel, itemFlags
    for (size_t i = 0; i < 4; ++i) {
      const int32_t value = stored.at(i) == "-" ? 0 : Number(stored[i]);
      if (stored[i] != "-") std::memcpy(&expected[kGuard + offsets[i]], &value, 4);
    }
    EXPECT_EQ(Query(r[2] == "stream", HeaderBytes(r[1]), &area[kGuard]), result);
    EXPECT_EQ(area, expected);
  });
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
      EXPECT_EQ(Info(false, Bytes(full.begin(), full.begin() + static_cast<long>(size))),
                size >= sizeEnd ? std::vector<int32_t>({0, 7, 9, full[10] ? 2 : 1, 0x4C})
                                : Failed(kErrNotGif));
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

TEST(FileInfoTest, WhichInputIsRead) {
  const Bytes smallGif = gifwrite::GifBuilder(7, 5, {{0, 0, 0}, {1, 1, 1}}).bytes();
  HGLOBAL small = BlockOf(smallGif), empty = GlobalAlloc(GMEM_MOVEABLE, 0);
  Rows("input", 7, [&](const Row& r) {
    const char* path = r[1] == "null" ? nullptr : r[1] == "empty" ? "" : GIFIMPORT_SAMPLE_GIF;
    const bool viaStream = r[3] != "none";
    FileInfoRecord record = {};
    record.recordSize = 60;
    stream = StreamState{&smallGif, r[3] == "fails"};
    StandInClearLog();
    const uintptr_t source = viaStream ? kUser
                                       : reinterpret_cast<uintptr_t>(r[2] == "small"   ? small
                                                                     : r[2] == "empty" ? empty
                                                                                       : nullptr);
    EXPECT_EQ(GetFileInfo(path, &record, source, viaStream ? ByteStream : nullptr), Number(r[4]));
    EXPECT_EQ(record.width, Number(r[5]));
    EXPECT_TRUE(Unlocked(small));
    EXPECT_EQ(testhost::DescribeLive({2}), "") << "beside this test's two blocks";
    std::string log;
    for (int i = 0; i < StandInLogSize(); ++i) log += StandInLogEntry(i);
    EXPECT_TRUE(!viaStream || log.find("sample.gif") != std::string::npos) << "path carried";
  });
  stream = StreamState{};
  StandInClearLog();
  EXPECT_EQ(GetFileInfo(GIFIMPORT_SAMPLE_GIF, nullptr, 0, nullptr), kFileInfoBadRecord);
  GlobalFree(small);
  GlobalFree(empty);
}

// The whole area is compared: the value where the row says, the item's own
// flag bit beside another one, and nothing past the record.
TEST(FileInfoTest, SetFileInfoItem) {
  Rows("item", 15, [](const Row& r) {
    const int32_t size = Number(r[1]), id = Number(r[2]), result = Number(r[4]);
    const double real = std::stod(r[3]);
    const int32_t whole = id == 1 || id == 2 ? 0 : Number(r[3]);
    const void* value =
        id == 1 || id == 2 ? static_cast<const void*>(&real) : static_cast<const void*>(&whole);
    alignas(8) uint8_t area[80] = {};
    std::memcpy(area, &size, 4);
    const uint32_t otherFlags = 0x200;
    std::memcpy(area + 56, &otherFlags, 4);
    uint8_t expected[sizeof area];
    std::memcpy(expected, area, sizeof area);
    if (result == 0) {
      std::memcpy(expected + Number(r[5]), value, value == &real ? 8 : 4);
      const uint32_t flags = otherFlags | 1u << (id - 1);
      if (size >= 60) std::memcpy(expected + 56, &flags, 4);
    }
    EXPECT_EQ(SetFileInfoItem(reinterpret_cast<FileInfoRecord*>(area), id, value), result);
    EXPECT_EQ(std::vector<uint8_t>(area, std::end(area)),
              std::vector<uint8_t>(expected, std::end(expected)));
  });
}

}  // namespace
