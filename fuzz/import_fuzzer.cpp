// ImportFile through the exports, as a host drives it (the end-to-end
// harness), with the GIF as a memory block or a host stream.
//
// Control bytes:
//   0  bit 0 a status callback (else none); bits 1-5 answer that progress
//      call (1 = first) with a stop; bit 6 withdraw the stop in the
//      follow-up; bit 7 a profile colour table over the GIF's.
//   1  bits 0-4 fail that allocation (1 = first of the import);
//      bits 5-6: 0, 1 memory block, 2 host stream, 3 a block that cannot be
//      locked.
//   2  fail that stream read (1 = first), 0 none.
//   3  a pending companion error (fuzz_input.h).
//
// After every input: nothing live; the result is a number the filter gives;
// a failure went to the host as its first error report and a success sent
// none; 61 only after the host confirmed a stop; every bitmap got all its
// rows or none.
#include <algorithm>
#include <cstdint>
#include <string>

#include "companion/standin.h"
#include "filter/status.h"
#include "fuzz/fuzz_input.h"
#include "platform/platform_test.h"
#include "tests/e2e/import_host.h"

namespace {

e2e::ImportOptions OptionsFrom(const uint8_t* control) {
  e2e::ImportOptions options;
  options.callback = (control[0] & 1) != 0;
  options.cancelAtProgress = (control[0] >> 1) & 31;
  options.followUpAnswer = (control[0] & 0x40) ? 0 : 1;
  if (control[0] & 0x80) {
    options.adjustSetup = [](FilterSetup* setup) {
      setup->overrideColorCount = kMaxProfileColors;
      for (int i = 0; i < kMaxProfileColors; ++i) {
        setup->colors[i] = RgbTriple{static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i),
                                     static_cast<uint8_t>(i * 7)};
      }
    };
  }
  switch ((control[1] >> 5) & 3) {
    case 2:
      options.road = e2e::Road::kStream;
      break;
    case 3:
      options.road = e2e::Road::kMemory;
      options.unlockableMemory = true;
      break;
    default:
      options.road = e2e::Road::kMemory;
  }
  const long failAllocation = control[1] & 31;
  const long failRead = control[2];
  const uint8_t libraryFault = control[3];
  options.beforeImport = [failAllocation, failRead, libraryFault] {
    PlatformFailAllocationAt(failAllocation);
    StandInFailStreamReadAt(failRead);
    fuzzin::ArmLibraryFault(libraryFault);
  };
  return options;
}

void CheckRun(const e2e::ImportRun& run, const e2e::ImportOptions& options) {
  const int32_t result = run.result;
  const std::string got = "ImportFile gave " + std::to_string(result);
  if (!fuzzin::IsImportResult(result)) fuzzin::Finding(got + ", not a number of the filter");

  const std::vector<int32_t> errors = run.Errors();
  if (options.callback) {
    if (result == 0 && !errors.empty()) {
      fuzzin::Finding(got + " after reporting " + std::to_string(errors.front()));
    }
    if (result != 0 && result != kErrCancelled && (errors.empty() || errors.front() != result)) {
      fuzzin::Finding(got + " but reported " +
                      (errors.empty() ? std::string("nothing") : std::to_string(errors.front())));
    }
  }
  if (std::find(errors.begin(), errors.end(), kErrCancelled) != errors.end()) {
    fuzzin::Finding("a stop was reported as an error");
  }
  if (result == kErrCancelled) {
    if (run.OfKind(kStatusCancelFollowUp).empty() || options.followUpAnswer == 0) {
      fuzzin::Finding("61 without a stop confirmed by the host");
    }
  }

  if (!run.picture) return;
  for (const standin::Bitmap& bitmap : run.picture->bitmaps) {
    size_t rows = 0;
    for (const standin::Bitmap::Band& band : bitmap.bands) {
      rows += band.rows;
      if (band.width != bitmap.width) fuzzin::Finding("a band of another width than its bitmap");
    }
    if (bitmap.ended && rows != 0 && rows != bitmap.height) {
      fuzzin::Finding("a bitmap of " + std::to_string(bitmap.height) + " rows got " +
                      std::to_string(rows));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzzin::SplitInput input = fuzzin::Split(data, size);
  if (fuzzin::MayHoldCostlyImage(input.gif)) return -1;

  const e2e::ImportOptions options = OptionsFrom(input.control);
  const e2e::ImportRun run = e2e::Import(input.gif, options);
  StandInResetFaults();
  StandInFailStreamReadAt(0);

  fuzzin::ExpectNothingLive("ImportFile");
  CheckRun(run, options);
  return 0;
}
