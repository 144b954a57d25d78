#include "fuzz/fuzz_input.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "companion/standin.h"
#include "gifimport/filter_api.h"
#include "platform/platform_test.h"
#include "tests/support/recording_host.h"

namespace fuzzin {
namespace {

// Operations whose pending error the import collects at its next status
// check, and library codes of each class the filter translates.
constexpr const char* kFaultOperations[8] = {
    "QvBitmapBand",   "QvSetPalette",  "QvDrawText",           "QvSetFontTable",
    "QvPictureBegin", "QvBitmapBegin", "QvSetBackgroundColor", "QvSetFrame"};
constexpr int16_t kFaultCodes[8] = {20, 21, 161, 168, 300, 302, 304, 999};

// Set before any input runs.
[[maybe_unused]] const bool budgetSet = (PlatformSetMemoryBudget(kFuzzBudgetBytes), true);

struct ServedStream {
  const Bytes* bytes = nullptr;
  int64_t position = 0;
  uint32_t expected = 0;
  int strangers = 0;
} served;

}  // namespace

SplitInput Split(const uint8_t* data, size_t size) {
  SplitInput split;
  const size_t controls = std::min(size, kControlBytes);
  std::copy(data, data + controls, split.control);
  split.gif.assign(data + controls, data + size);
  return split;
}

void* BlockHolding(const Bytes& bytes) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.empty() ? 1 : bytes.size());
  if (block == nullptr) return nullptr;
  if (void* address = GlobalLock(block)) {
    if (bytes.empty()) {
      *static_cast<uint8_t*>(address) = 0;
    } else {
      std::memcpy(address, bytes.data(), bytes.size());
    }
    GlobalUnlock(block);
  }
  return block;
}

void ServeStream(const Bytes* bytes, uint32_t expected) {
  served = ServedStream{bytes, 0, expected, 0};
}

int StrangerStreamCalls() { return served.strangers; }

int32_t WINAPI StreamProc(uint32_t userValue, int32_t operation, void* buffer, int32_t value,
                          int32_t origin) {
  if (userValue != served.expected) ++served.strangers;
  if (served.bytes == nullptr) return -1;
  const auto size = static_cast<int64_t>(served.bytes->size());
  int64_t& position = served.position;
  if (operation == kHostStreamRead) {
    if (value < 0 || buffer == nullptr) return -1;
    const int64_t n = std::max<int64_t>(0, std::min<int64_t>(value, size - position));
    if (n > 0) std::memcpy(buffer, served.bytes->data() + position, static_cast<size_t>(n));
    position += n;
    return static_cast<int32_t>(n);
  }
  if (operation == kHostStreamSeek) {
    const int64_t to = (origin == 0 ? 0 : origin == 1 ? position : size) + value;
    if (origin < 0 || origin > 2 || to < 0) return -1;
    return static_cast<int32_t>(position = to);
  }
  return operation == kHostStreamTell ? static_cast<int32_t>(position) : -1;
}

bool IsImportResult(int32_t result) {
  static const int32_t kResults[] = {0,  7,  9,  12, 13, 14, 15, 19,  21,
                                     23, 25, 26, 27, 28, 61, 65, -23, -24};
  return std::find(std::begin(kResults), std::end(kResults), result) != std::end(kResults);
}

void Finding(const std::string& what) {
  std::fprintf(stderr, "fuzz finding: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

void ExpectNothingLive(const char* entry) {
  const std::string live = testhost::DescribeLive();
  if (!live.empty()) Finding(std::string(entry) + " left live: " + live);
}

void ArmFaults(long allocation, long read, uint8_t library) {
  PlatformFailAllocationAt(allocation);
  StandInFailStreamReadAt(read);
  if (library == 0) return;
  const char* operation = kFaultOperations[library & 7];
  const int nthCall = ((library >> 3) & 3) + 1;
  const int16_t code = kFaultCodes[(library >> 5) & 7];
  StandInSetPendingErrorAfter(operation, nthCall, code, 1);
}

void DisarmFaults() {
  PlatformFailAllocationAt(0);
  StandInFailStreamReadAt(0);
  StandInResetFaults();
}

void DeleteMetafile(HANDLE metafile) {
  if (metafile == nullptr) return;
  if (GetObjectType(metafile) == OBJ_ENHMETAFILE) {
    DeleteEnhMetaFile(static_cast<HENHMETAFILE>(metafile));
  } else {
    DeleteMetaFile(static_cast<HMETAFILE>(metafile));
  }
}

}  // namespace fuzzin
