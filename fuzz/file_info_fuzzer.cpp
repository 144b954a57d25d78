// GetFileInfo through the export. Control bytes:
//   0  recordSize: the byte less 4 below 72 (-4 to 67), else 60.
//   1  bit 0 a block that cannot be locked; bit 1 a null path (else "");
//      bits 2-3 the road: 0 memory block, 1 file by path, 2 host stream.
//   2  fail that stream read (1 = first); 3 every record byte before the call.
#include "fuzz/fuzz_input.h"

using namespace gifin;

namespace {

constexpr size_t kBufferBytes = 72;  // room past the largest record accepted

void CheckRecord(int32_t result, int32_t size, const uint8_t* before, const uint8_t* after) {
  for (size_t at = std::max(size, 4); at < kBufferBytes; ++at)
    Check(before[at] == after[at], "GetFileInfo wrote past recordSize (size, offset):", size, at);
  Check(std::memcmp(before, after, 4) == 0, "GetFileInfo changed recordSize");
  const bool sizeOk = size > 0 && size <= 64;
  Check(sizeOk == (result != kFileInfoBadRecord) &&
            (result == 0 || result == kFileInfoBadValue || result == 21 || result == -23 ||
             result == -24 || result == kFileInfoBadRecord),
        "GetFileInfo gave for recordSize", result, size);
  if (result != 0) return;
  FileInfoRecord got;
  std::memcpy(&got, after, sizeof got);
  const int32_t width = got.width, height = got.height, depth = got.bitsPerPixel;
  Check(size >= 48 && width > 0 && width <= 65535 && height > 0 && height <= 65535 && depth >= 1 &&
            depth <= 8,
        "GetFileInfo's success (size, width, height, depth):", size, width, height, depth);
  // Only width, height and depth are filled: every other byte up to the
  // flags stays cleared, and the flags hold exactly their bits.
  for (size_t at = 4; at < static_cast<size_t>(size) && at < 56; ++at) {
    const bool filled = (at >= 16 && at < 20) || (at >= 32 && at < 36) || (at >= 44 && at < 48);
    Check(filled || after[at] == 0, "GetFileInfo set a byte it does not fill:", at);
  }
  Check(size < 60 || int32_t(got.itemFlags) == 0x4C, "itemFlags", int32_t(got.itemFlags));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Input input(data, size);
  const uint8_t* control = input.control;
  const int32_t recordSize = control[0] < kBufferBytes ? control[0] - 4 : 60;
  alignas(8) uint8_t record[kBufferBytes], before[kBufferBytes];
  std::memset(record, control[3], sizeof record);
  std::memcpy(record, &recordSize, sizeof recordSize);
  std::memcpy(before, record, sizeof record);

  const int road = (control[1] >> 2) & 3;
  // A zero-sized movable block is a live handle that locks to null.
  HGLOBAL block = (control[1] & 1) ? GlobalAlloc(GMEM_MOVEABLE, 0) : BlockHolding(input.gif);
  const std::string path = road == 1 ? e2e::WriteScratchFile("info.gif", input.gif) : "";
  const uintptr_t source = road == 1 ? 0 : road == 2 ? 0x5EED : reinterpret_cast<uintptr_t>(block);
  ServeStream(input.gif, 0x5EED);
  StandInClearLog();
  ArmFaults(0, control[2], 0);
  const int32_t result = GetFileInfo((control[1] & 2) && road != 1 ? nullptr : path.c_str(),
                                     reinterpret_cast<FileInfoRecord*>(record), source,
                                     road == 2 ? StreamProc : nullptr);
  DisarmFaults();
  EndServing();
  GlobalFree(block);
  Check(strangers == 0, "a stream call with another user value");
  ExpectNothingLive("GetFileInfo");
  CheckRecord(result, recordSize, before, record);
  return 0;
}
