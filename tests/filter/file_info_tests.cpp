// GetFileInfo and SetFileInfoItem on the rows of file_info.txt: the header
// read, which input is read, what lands in the record and what must not, and
// every stream, lock and block given back on every way out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "filter/file_info.h"
#include "platform/locked_global.h"
#include "tests/support/recording_host.h"
#include "tests/support/row_tests.h"

using namespace gifin;

namespace {

using Bytes = std::vector<uint8_t>;
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

int32_t Number(const std::string& field) { return static_cast<int32_t>(std::stoll(field, 0, 0)); }

// A GIF of this folder, nothing, or a 320 x 200 header with no global table
// behind the given six bytes.
Bytes Input(std::string start) {
  if (start == "nothing") return {};
  if (start.size() > 4 && start.substr(start.size() - 4) == ".gif") {
    const std::string bytes = testtable::ReadBytes(GIFIMPORT_FILE_INFO "/" + start);
    return Bytes(bytes.begin(), bytes.end());
  }
  for (size_t nul; (nul = start.find("\\0")) != std::string::npos;) start.replace(nul, 2, 1, '\0');
  start.resize(6, '\0');
  Bytes b(start.begin(), start.end());
  b.insert(b.end(), {64, 1, 200, 0, 0, 0, 0});
  return b;
}

// GetFileInfo on `bytes` by `road` with `path` (see file_info.txt) into a
// record of `size` bytes amid guard bytes: the result, and the whole area,
// cleared after the size field unless the size is refused, with width,
// height, bits and flags where `stored` has them. A stream carries the path;
// nothing may stay live and a memory block must be left unlocked.
void Query(const Bytes& bytes, const std::string& road, const std::string& path, int32_t size,
           int32_t result, const std::string& stored) {
  constexpr size_t kGuard = 32;
  std::vector<uint8_t> area(kGuard + 128, 0xAA);
  std::memcpy(&area[kGuard], &size, 4);
  std::vector<uint8_t> expected = area;
  for (int32_t i = 4; result != kFileInfoBadRecord && i < size; ++i) expected[kGuard + i] = 0;
  const std::vector<std::string> fields = testtable::Words(stored);
  const size_t offsets[4] = {16, 32, 44, 56};  // width, height, bitsPerPixel, itemFlags
  for (size_t i = 0; i < 4; ++i) {
    const int32_t value = fields.at(i) == "-" ? 0 : Number(fields[i]);
    if (fields[i] != "-") std::memcpy(&expected[kGuard + offsets[i]], &value, 4);
  }
  const std::string file = path == "sample"    ? GIFIMPORT_FILE_INFO "/../../examples/sample.gif"
                           : path == "carried" ? "carried.gif"
                                               : "";
  HGLOBAL block = road == "memory" ? GlobalAlloc(GMEM_MOVEABLE, bytes.size()) : nullptr;
  if (LockedGlobal data(block); data) std::memcpy(data.As<void>(), bytes.data(), bytes.size());
  const bool viaStream = road != "memory" && road != "none";
  stream = StreamState{&bytes, road == "failing", road == "untellable", road == "endless"};
  StandInClearLog();
  EXPECT_EQ(GetFileInfo(path == "null" ? nullptr : file.c_str(),
                        reinterpret_cast<FileInfoRecord*>(&area[kGuard]),
                        viaStream ? kUser : reinterpret_cast<uintptr_t>(block),
                        viaStream ? ByteStream : nullptr),
            result);
  EXPECT_EQ(area, expected);
  std::string log;
  for (int i = 0; i < StandInLogSize(); ++i) log += StandInLogEntry(i);
  const bool opened = viaStream && result != kFileInfoBadRecord;
  EXPECT_TRUE(!opened || log.find(path + ".gif") != std::string::npos) << "the path carried";
  EXPECT_TRUE(!block || !GlobalLock(block) || GlobalUnlock(block) == FALSE) << "not unlocked";
  if (block) GlobalFree(block);
  stream = StreamState{};
  StandInClearLog();
  EXPECT_EQ(testhost::DescribeLive(), "");
}

// A zero screen size is taken from the first image once its size is there.
void Cuts(const Row& r) {
  const Bytes full = Input(r[1]);
  for (size_t size = 13; size <= full.size(); ++size) {
    const bool there = size >= static_cast<size_t>(Number(r[2]));
    Query(Bytes(full.begin(), full.begin() + static_cast<long>(size)), "memory", "empty", 60,
          there ? 0 : kErrNotGif, there ? r[3] : "- - - -");
  }
}

// The whole area is compared: the value where the row says, the item's own
// flag bit beside another one, and nothing past the record.
void Item(const Row& r) {
  const int32_t size = Number(r[1]), id = Number(r[2]), result = Number(r[4]);
  const bool isReal = id == 1 || id == 2;
  const double real = std::stod(r[3]);
  const int32_t whole = isReal ? 0 : Number(r[3]);
  const void* value = isReal ? static_cast<const void*>(&real) : &whole;
  const uint32_t otherFlags = 0x200, flags = otherFlags | (result ? 0 : 1u << (id - 1));
  std::vector<uint8_t> area(80);
  std::memcpy(&area[0], &size, 4);
  std::memcpy(&area[56], &otherFlags, 4);
  std::vector<uint8_t> expected = area;
  if (result == 0) std::memcpy(&expected[Number(r[5])], value, isReal ? 8 : 4);
  if (result == 0 && size >= 60) std::memcpy(&expected[56], &flags, 4);
  EXPECT_EQ(SetFileInfoItem(reinterpret_cast<FileInfoRecord*>(area.data()), id, value), result);
  EXPECT_EQ(area, expected);
}

void Query(const Row& r) { Query(Input(r[1]), r[2], r[3], Number(r[4]), Number(r[5]), r[6]); }

#define FILE_INFO_ROWS(Kind, kind, count)                    \
  using FileInfo##Kind = testtable::RowTest<>;               \
  TEST_P(FileInfo##Kind, AsTheRowSays) { Kind(row.fields); } \
  TESTTABLE_ROWS(FileInfo##Kind, GIFIMPORT_FILE_INFO "/file_info.txt", kind, count, -1, true)
FILE_INFO_ROWS(Query, "query", 39);
FILE_INFO_ROWS(Cuts, "cuts", 2);
FILE_INFO_ROWS(Item, "item", 15);

TEST(FileInfoTest, NoRecordAndAZeroScreenPastItsBlocks) {
  EXPECT_EQ(GetFileInfo(GIFIMPORT_FILE_INFO "/file_info.txt", nullptr, 0, nullptr),
            kFileInfoBadRecord);
  // A zero screen size is given up past 16,384 sub-blocks in all, terminators
  // counted: here in a comment behind the header and its table.
  const Bytes header = Input("zero-height-3-colours.gif");
  for (size_t blocks : {16383, 16384}) {
    Bytes gif = header, comment = {0x21, 0xFE};
    for (size_t i = 0; i < blocks; ++i) comment.insert(comment.end(), {1, 'c'});
    comment.push_back(0);
    gif.insert(gif.begin() + 25, comment.begin(), comment.end());
    Query(gif, "memory", "empty", 60, blocks < 16384 ? 0 : kErrNotGif,
          blocks < 16384 ? "7 9 2 0x4C" : "- - - -");
  }
}

}  // namespace
