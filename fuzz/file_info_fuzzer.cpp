// GetFileInfo through the export, with the GIF in a global memory block, a
// file or a host stream.
//
// Control bytes:
//   0  recordSize: the byte less 4 below 72 (-4 to 67), else 60.
//   1  bit 0 a block that cannot be locked; bit 1 a null path (else "");
//      bits 2-3 the road: 0 memory block, 1 file by path, 2 host stream.
//   2  fail that stream read (1 = first), 0 none.
//   3  the byte every record byte holds before the call.
//
// After every input: nothing live; no byte past recordSize touched; the
// result is one GetFileInfo gives; a success filled width, height and depth
// within their ranges and nothing else.
#include <cstdint>
#include <cstring>
#include <string>

#include "companion/standin.h"
#include "gifimport/filter_api.h"
#include "fuzz/fuzz_input.h"
#include "tests/e2e/import_host.h"

namespace {

constexpr int32_t kWholeRecord = 60;
constexpr size_t kBufferBytes = 72;  // room past the largest record accepted

HGLOBAL BlockHolding(const fuzzin::Bytes& bytes, bool unlockable) {
  // A zero-sized movable block is a live handle that locks to null.
  if (unlockable) return GlobalAlloc(GMEM_MOVEABLE, 0);
  return fuzzin::BlockHolding(bytes);
}

int32_t Field(const unsigned char* record, size_t offset) {
  int32_t value;
  std::memcpy(&value, record + offset, sizeof value);
  return value;
}

void CheckRecord(int32_t result, int32_t recordSize, const unsigned char* before,
                 const unsigned char* after) {
  const std::string got = "GetFileInfo gave " + std::to_string(result) + " for recordSize " +
                          std::to_string(recordSize);
  const size_t untouchedFrom = recordSize < 4 ? 4 : static_cast<size_t>(recordSize);
  for (size_t at = untouchedFrom; at < kBufferBytes; ++at) {
    if (before[at] != after[at]) fuzzin::Finding(got + ", wrote at offset " + std::to_string(at));
  }
  if (std::memcmp(before, after, 4) != 0) fuzzin::Finding(got + ", changed recordSize");

  switch (result) {
    case 0:
    case kFileInfoBadValue:
    case 21:
    case -23:
    case -24:
      break;
    case kFileInfoBadRecord:
      if (recordSize > 0 && recordSize <= 64) fuzzin::Finding(got);
      return;
    default:
      fuzzin::Finding(got + ", not a number of GetFileInfo");
  }
  if (recordSize <= 0 || recordSize > 64) fuzzin::Finding(got + " instead of 0x4603");
  if (result != 0) return;

  if (recordSize < 48) fuzzin::Finding(got + ": a success without room for the depth");
  const int32_t width = Field(after, 16), height = Field(after, 32), depth = Field(after, 44);
  if (width <= 0 || width > 65535 || height <= 0 || height > 65535 || depth < 1 || depth > 8) {
    fuzzin::Finding(got + ": width " + std::to_string(width) + ", height " +
                    std::to_string(height) + ", depth " + std::to_string(depth));
  }
  // Only items 3, 4 and 7 are filled: every other byte inside the record
  // stays cleared, the flags hold exactly their bits.
  static const size_t kFilled[] = {16, 32, 44};
  for (size_t at = 4; at < static_cast<size_t>(recordSize) && at < 56; ++at) {
    bool filled = false;
    for (size_t f : kFilled) filled = filled || (at >= f && at < f + 4);
    if (!filled && after[at] != 0) fuzzin::Finding(got + ": byte " + std::to_string(at) + " set");
  }
  if (recordSize >= kWholeRecord && Field(after, 56) != 0x4C) {
    fuzzin::Finding(got + ": itemFlags " + std::to_string(Field(after, 56)));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzzin::SplitInput input = fuzzin::Split(data, size);
  const uint8_t* control = input.control;
  const int32_t recordSize = control[0] < kBufferBytes ? control[0] - 4 : kWholeRecord;

  alignas(8) unsigned char record[kBufferBytes];
  std::memset(record, control[3], sizeof record);
  std::memcpy(record, &recordSize, sizeof recordSize);
  unsigned char before[kBufferBytes];
  std::memcpy(before, record, sizeof record);

  const int road = (control[1] >> 2) & 3;
  HGLOBAL block = BlockHolding(input.gif, (control[1] & 1) != 0);
  if (block == nullptr) fuzzin::Finding("no memory block for the input");
  const std::string path = road == 1 ? e2e::WriteScratchFile("info.gif", input.gif) : "";
  uintptr_t source = road == 1 ? 0 : reinterpret_cast<uintptr_t>(block);
  if (road == 2) source = 0x5EED;
  fuzzin::ServeStream(&input.gif, 0x5EED);
  StandInClearLog();
  fuzzin::ArmFaults(0, control[2], 0);
  const int32_t result = GetFileInfo((control[1] & 2) && road != 1 ? nullptr : path.c_str(),
                                     reinterpret_cast<FileInfoRecord*>(record), source,
                                     road == 2 ? fuzzin::StreamProc : nullptr);
  fuzzin::DisarmFaults();
  GlobalFree(block);
  if (fuzzin::StrangerStreamCalls() != 0) fuzzin::Finding("a stream call with another user value");

  fuzzin::ExpectNothingLive("GetFileInfo");
  CheckRecord(result, recordSize, before, record);
  return 0;
}
