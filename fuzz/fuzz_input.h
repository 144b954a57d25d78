// What the fuzz entry points share. An input is [4 control bytes][data]: the
// control bytes choose the host's side of the call (callback, stop, faults,
// road) and libFuzzer mutates them with the file; missing ones are 0 (none).
#ifndef GIFIMPORT_FUZZ_FUZZ_INPUT_H
#define GIFIMPORT_FUZZ_FUZZ_INPUT_H

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform_test.h"
#include "tests/e2e/import_host.h"  // the host, its streams and blocks; the stand-ins
#include "tests/e2e/run_digest.h"

using Bytes = std::vector<uint8_t>;

struct Input {
  Input(const uint8_t* data, size_t size) : gif(data + std::min<size_t>(size, 4), data + size) {
    std::copy(data, data + std::min<size_t>(size, 4), control);
  }
  uint8_t control[4] = {};
  Bytes gif;
};

// Every import's memory budget: room for rows longer than a band (32768
// pixels and more), yet low, as one big image costs as much as hundreds of
// small inputs.
inline const bool budgetSet = (PlatformSetMemoryBudget(2ull << 20), true);

// The platform keeps the last few freed small blocks from the system (so a
// second free is caught). That queue is filled once here: from the first
// run on, each run then frees as many blocks as it makes, and libFuzzer,
// which takes more allocations than frees for a leak, does not re-run the
// input with a scan of the whole heap.
inline const bool quarantineFilled = [] {
  for (int i = 0; i < 256; ++i) GlobalFree(GlobalAlloc(GMEM_FIXED, 1));
  return true;
}();

// The replay (fuzz_NAME_replay) sets it: checks that the fuzzers make on a
// sample of their inputs run on every input there.
inline bool replaying = false;

// Says what broke, with the numbers, and aborts: libFuzzer keeps the input.
template <typename... Numbers>
void Check(bool holds, const std::string& what, Numbers... numbers) {
  if (holds) return;
  std::fprintf(stderr, "fuzz finding: %s", what.c_str());
  (std::fprintf(stderr, " %lld", static_cast<long long>(numbers)), ...);
  std::fprintf(stderr, "\n");
  std::abort();
}
inline void ExpectNothingLive(const std::string& entry) {
  const std::string live = testhost::DescribeLive();  // once: it takes the handle faults
  Check(live.empty(), entry + " left live: " + live);
}

// A movable block holding `bytes` (one zero byte when empty); the caller frees it.
inline HGLOBAL BlockHolding(const Bytes& bytes) {
  return e2e::MemoryBlockOf(bytes.empty() ? Bytes{0} : bytes);
}

// A host stream over bytes the caller keeps (the harness's), serving any
// user value and counting the calls that came with another than `expected`.
inline uint32_t served = 0, expectedValue = 0;
inline int strangers = 0;
inline void ServeStream(const Bytes& bytes, uint32_t expected) {
  e2e::CloseByteStream(served);
  served = e2e::OpenByteStream(bytes);
  expectedValue = expected, strangers = 0;
}
// Nothing of one input may stay for the next: libFuzzer takes an allocation
// that outlives its run for a leak, and scans for leaks after every such run.
inline void EndServing() {
  e2e::CloseByteStream(served);
  served = 0;
}
inline int32_t WINAPI StreamProc(uint32_t userValue, int32_t operation, void* buffer, int32_t value,
                                 int32_t origin) {
  strangers += userValue != expectedValue;
  return e2e::ByteStreamProc(served, operation, buffer, value, origin);
}

// True for every number ImportFile may give (0 included).
inline bool IsImportResult(int32_t result) {
  static const int32_t kResults[] = {0,  7,  9,  12, 13, 14, 15, 19,  21,
                                     23, 25, 26, 27, 28, 61, 65, -23, -24};
  return std::find(std::begin(kResults), std::end(kResults), result) != std::end(kResults);
}

// The nth allocation and stream read (1 = first, 0 none) fail, and a control
// byte leaves a pending companion error (0 none): bits 0-2 the operation,
// bits 3-4 after which of its calls, bits 5-7 a code of each class we translate.
inline void ArmFaults(long allocation, long read, uint8_t library) {
  static const char* const kOperations[8] = {
      "QvBitmapBand",   "QvSetPalette",  "QvDrawText",           "QvSetFontTable",
      "QvPictureBegin", "QvBitmapBegin", "QvSetBackgroundColor", "QvSetFrame"};
  static const int16_t kCodes[8] = {20, 21, 161, 168, 300, 302, 304, 999};
  PlatformFailAllocationAt(allocation);
  StandInFailStreamReadAt(read);
  if (library != 0)
    StandInSetPendingErrorAfter(kOperations[library & 7], ((library >> 3) & 3) + 1,
                                kCodes[(library >> 5) & 7], 1);
}
inline void DisarmFaults() {
  ArmFaults(0, 0, 0);
  StandInResetFaults();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);  // each *_fuzzer.cpp

#endif
