// ImportGR through the export: the metafile entry runs a whole host cycle
// (options block, setup, capture, ImportFile) on a GIF in a memory block.
//
// Control bytes:
//   0  bit 0 an options block from GetFilterInfo (else none: the entry makes
//      its own); bit 1 that block refuses imports (option 4).
//   1  bits 0-4 fail that allocation (1 = first of the call).
//   2  fail that stream read (1 = first), 0 none.
//   3  a pending companion error (fuzz_input.h).
//
// After every input, once the host has deleted the metafile it got: nothing
// live. A failure hands back no metafile, a success hands back one.
#include <cstdint>
#include <cstring>
#include <string>

#include "companion/standin.h"
#include "filter/filter_api.h"
#include "filter/filter_setup.h"
#include "fuzz/fuzz_input.h"
#include "platform/platform_test.h"

namespace {


void DeleteMetafile(HANDLE metafile) {
  if (GetObjectType(metafile) == OBJ_ENHMETAFILE) {
    DeleteEnhMetaFile(static_cast<HENHMETAFILE>(metafile));
  } else {
    DeleteMetaFile(static_cast<HMETAFILE>(metafile));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzzin::SplitInput input = fuzzin::Split(data, size);
  if (fuzzin::MayHoldCostlyImage(input.gif)) return -1;
  const uint8_t* control = input.control;

  HGLOBAL options = nullptr;
  if (control[0] & 1) {
    if (GetFilterInfo(0, 0, &options, 0) != 2) fuzzin::Finding("GetFilterInfo made no block");
    if (control[0] & 2) {
      const uint16_t refuse = 1;
      QvOptionsControl(options, kOptionRefuse, 2, &refuse, nullptr, 0);
    }
  }
  SourceDescriptor source;
  std::memset(&source, 0, sizeof source);
  source.memory = fuzzin::BlockHolding(input.gif);
  if (source.memory == nullptr) fuzzin::Finding("no memory block for the input");
  ImportResult result;
  std::memset(&result, 0, sizeof result);

  StandInClearLog();
  PlatformFailAllocationAt(control[1] & 31);
  StandInFailStreamReadAt(control[2]);
  fuzzin::ArmLibraryFault(control[3]);
  const int32_t ended = ImportGR(0x4057u, &source, &result, options);
  PlatformFailAllocationAt(0);
  StandInResetFaults();
  StandInFailStreamReadAt(0);
  StandInForgetPictures();

  const std::string got = "ImportGR gave " + std::to_string(ended);
  const bool refused = (control[0] & 3) == 3;
  if (refused && ended != kHostRefused) fuzzin::Finding(got + " on a block that refuses");
  if (ended == kHostBadRecord) fuzzin::Finding(got + " for a sound source record");
  const bool metafile = result.metafile != nullptr;
  if (metafile) DeleteMetafile(result.metafile);
  GlobalFree(source.memory);
  if (options != nullptr) GlobalFree(options);

  fuzzin::ExpectNothingLive("ImportGR");
  if (ended != 0 && metafile) fuzzin::Finding(got + " and handed back a metafile");
  if (ended == 0 && !metafile) fuzzin::Finding(got + " without a metafile");
  return 0;
}
