#include "fuzz/fuzz_input.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "companion/standin.h"
#include "platform/win_api.h"
#include "tests/support/recording_host.h"

namespace fuzzin {
namespace {

constexpr uint64_t kCostlyPixels = uint64_t{1} << 21;
// Above this the pixel block is refused outright (it is padded to 4 bytes
// per row first), which is quick.
constexpr uint64_t kRefusedPixelBytes = uint64_t{1} << 30;

// Operations whose pending error the import collects at its next status
// check, and library codes of each class the filter translates.
constexpr const char* kFaultOperations[8] = {
    "QvBitmapBand",  "QvSetPalette", "QvDrawText",          "QvSetFontTable",
    "QvPictureBegin", "QvBitmapBegin", "QvSetBackgroundColor", "QvSetFrame"};
constexpr int16_t kFaultCodes[8] = {20, 21, 161, 168, 300, 302, 304, 999};

uint16_t Little16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

}  // namespace

SplitInput Split(const uint8_t* data, size_t size) {
  SplitInput split;
  const size_t controls = std::min(size, kControlBytes);
  std::copy(data, data + controls, split.control);
  split.gif.assign(data + controls, data + size);
  return split;
}

bool MayHoldCostlyImage(const Bytes& gif) {
  // ',' then left, top, width, height.
  for (size_t at = 0; at + 9 <= gif.size(); ++at) {
    if (gif[at] != 0x2C) continue;
    const uint64_t width = Little16(&gif[at + 5]);
    const uint64_t height = Little16(&gif[at + 7]);
    const uint64_t paddedBytes = ((width + 3) & ~uint64_t{3}) * height;
    if (width * height > kCostlyPixels && paddedBytes <= kRefusedPixelBytes) return true;
  }
  return false;
}

bool IsImportResult(int32_t result) {
  static const int32_t kResults[] = {0,  7,  9,  12, 13, 14, 15, 19,  21,
                                     23, 25, 26, 27, 61, 65, -23, -24};
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

void ArmLibraryFault(uint8_t control) {
  if (control == 0) return;
  const char* operation = kFaultOperations[control & 7];
  const int nthCall = ((control >> 3) & 3) + 1;
  const int16_t code = kFaultCodes[(control >> 5) & 7];
  StandInSetPendingErrorAfter(operation, nthCall, code, 1);
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

}  // namespace fuzzin
