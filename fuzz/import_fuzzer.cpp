// ImportFile through the exports, as a host drives it (the end-to-end
// harness), with the GIF as a memory block or a host stream.
//
// Control bytes:
//   0  bit 0 a status callback (else none); bits 1-5 answer that progress
//      call (1 = first) with a stop; bit 6 withdraw the stop in the
//      follow-up; bit 7 a profile colour table over the GIF's.
//   1  bits 0-4 fail that allocation (1 = first of the import);
//      bits 5-6: 0 memory block, 1 file by path, 2 host stream, 3 a block
//      that cannot be locked.
//   2  fail that stream read (1 = first), 0 none.
//   3  a pending companion error (fuzz_input.h).
//
// After every input: nothing live; the result is a number the filter gives;
// a failure went to the host as its first error report and a success sent
// none; 61 only after the host confirmed a stop; every bitmap got all its
// rows or none; a second import of the same input makes the same calls;
// GetFileInfo agrees on the header.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "gifimport/filter_api.h"
#include "core/status.h"
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
    case 1:
      options.road = e2e::Road::kFile;
      break;
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
    fuzzin::ArmFaults(failAllocation, failRead, libraryFault);
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
    // A failed import may have had bands refused (the memory budget) before
    // its error was asked for; the picture is then given up, not shown.
    if (result == 0 && bitmap.ended && rows != 0 && rows != bitmap.height) {
      fuzzin::Finding("a bitmap of " + std::to_string(bitmap.height) + " rows got " +
                      std::to_string(rows));
    }
  }
}

// GetFileInfo reads the header the import reads: the same verdict on it,
// and the picture's frame is the size it gives. Only without faults armed,
// which would stop one call and not the other.
void CheckAgainstFileInfo(const fuzzin::Bytes& gif, const uint8_t* control,
                          const e2e::ImportRun& run) {
  if ((control[1] & 31) != 0 || ((control[1] >> 5) & 3) == 3 || control[2] != 0) return;
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, gif.empty() ? 1 : gif.size());
  if (!gif.empty()) {
    std::memcpy(GlobalLock(block), gif.data(), gif.size());
    GlobalUnlock(block);
  }
  FileInfoRecord record{};
  record.recordSize = 60;
  const int32_t info = GetFileInfo("", &record, reinterpret_cast<uintptr_t>(block), nullptr);
  GlobalFree(block);
  const std::string both =
      "GetFileInfo gave " + std::to_string(info) + ", ImportFile " + std::to_string(run.result);
  if ((info == kErrRead || info == kErrNotGif || info == kErrVersion) && run.result != info) {
    fuzzin::Finding(both);
  }
  const std::vector<std::string> ops = run.Ops();
  const bool framed = std::find(ops.begin(), ops.end(), "QvSetFrame") != ops.end();
  if (info == 0 && run.picture && framed &&
      (run.picture->frame[2] != static_cast<int16_t>(record.width) ||
       run.picture->frame[3] != static_cast<int16_t>(record.height))) {
    fuzzin::Finding(both + ", frame " + std::to_string(run.picture->frame[2]) + " x " +
                    std::to_string(run.picture->frame[3]) + " for " + std::to_string(record.width) +
                    " x " + std::to_string(record.height));
  }
}

// The log with the host stream's user value left out: the harness gives
// every import a new one.
std::vector<std::string> Comparable(std::vector<std::string> log) {
  static const std::string kKey = "\"userValue\":";
  for (std::string& entry : log) {
    const size_t at = entry.find(kKey);
    if (at == std::string::npos) continue;
    size_t end = at + kKey.size();
    while (end < entry.size() && entry[end] != ',' && entry[end] != '}') ++end;
    entry.erase(at, end - at);
  }
  return log;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzzin::SplitInput input = fuzzin::Split(data, size);

  const e2e::ImportOptions options = OptionsFrom(input.control);
  e2e::ImportRun runs[2];
  // Twice: the same input must give the same calls with the same values,
  // or something read memory that no input wrote.
  for (e2e::ImportRun& run : runs) {
    run = e2e::Import(input.gif, options);
    fuzzin::DisarmFaults();
    fuzzin::ExpectNothingLive("ImportFile");
  }
  CheckRun(runs[0], options);
  CheckAgainstFileInfo(input.gif, input.control, runs[0]);
  const std::vector<std::string> first = Comparable(runs[0].log);
  const std::vector<std::string> second = Comparable(runs[1].log);
  if (runs[0].result != runs[1].result || first != second) {
    for (size_t i = 0; i < first.size() && i < second.size(); ++i) {
      if (first[i] != second[i]) {
        fuzzin::Finding("a second import of the same input differs:\n  " + first[i] + "\n  " +
                        second[i]);
      }
    }
    fuzzin::Finding("a second import of the same input differs in its result or length");
  }
  return 0;
}
