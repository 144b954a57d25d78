// ImportFile through the exports as a host drives it (the end-to-end
// harness). Control bytes:
//   0  bit 0 a status callback; bits 1-5 stop at that progress call (1 =
//      first); bit 6 withdraw the stop in the follow-up; bit 7 a profile
//      colour table over the GIF's.
//   1  bits 0-4 fail that allocation (1 = first of the import); bits 5-6 the
//      input: 0 memory block, 1 file, 2 host stream, 3 an unlockable block.
//   2  fail that stream read (1 = first); 3 a pending companion error.
#include "core/status.h"
#include "fuzz/fuzz_input.h"

using namespace gifin;

namespace {

e2e::ImportOptions OptionsFrom(const uint8_t* control) {
  e2e::ImportOptions options;
  options.callback = (control[0] & 1) != 0;
  options.cancelAtProgress = (control[0] >> 1) & 31;
  options.followUpAnswer = (control[0] & 0x40) ? 0 : 1;
  if (control[0] & 0x80) {
    options.adjustSetup = [](FilterSetup* setup) {
      setup->overrideColorCount = kMaxProfileColors;
      std::memset(setup->colors, 0x5A, sizeof setup->colors);
    };
  }
  const int input = (control[1] >> 5) & 3;
  options.input = input == 1   ? InputKind::kFile
                  : input == 2 ? InputKind::kHostStream
                               : InputKind::kMemory;
  options.unlockableMemory = input == 3;
  options.beforeImport = [c = control] { ArmFaults(c[1] & 31, c[2], c[3]); };
  return options;
}

void CheckRun(const e2e::ImportRun& run, const e2e::ImportOptions& options) {
  const int32_t result = run.result;
  Check(IsImportResult(result), "ImportFile gave a number not of the filter:", result);
  const std::vector<int32_t> errors = run.Errors();
  const int32_t first = errors.empty() ? 0 : errors.front();
  Check(!options.callback || result == kErrCancelled ||
            (result == 0 ? errors.empty() : first == result),
        "ImportFile gave, first report:", result, first);
  Check(std::count(errors.begin(), errors.end(), kErrCancelled) == 0, "a stop reported as error");
  Check(result != kErrCancelled ||
            (!run.OfKind(kStatusCancelFollowUp).empty() && options.followUpAnswer != 0),
        "61 without a stop confirmed by the host");
  if (!run.picture) return;
  for (const standin::Bitmap& bitmap : run.picture->bitmaps) {
    size_t rows = 0;
    for (const standin::Bitmap::Band& band : bitmap.bands) {
      rows += band.rows;
      Check(band.width == bitmap.width, "a band of another width than its bitmap");
    }
    // A failed import may have had bands refused (the memory budget) before
    // its error was asked for; the picture is then given up, not shown.
    Check(result != 0 || !bitmap.ended || rows == 0 || rows == bitmap.height,
          "a bitmap's height and rows:", bitmap.height, rows);
  }
}

// GetFileInfo reads the import's header: the same verdict, the frame's size.
// Only without faults, which would stop one call and not the other.
void CheckAgainstFileInfo(const Bytes& gif, const uint8_t* control, const e2e::ImportRun& run) {
  if ((control[1] & 31) != 0 || ((control[1] >> 5) & 3) == 3 || control[2] != 0) return;
  HGLOBAL block = BlockHolding(gif);
  FileInfoRecord record{};
  record.recordSize = 60;
  const int32_t info = GetFileInfo("", &record, reinterpret_cast<uintptr_t>(block), nullptr);
  GlobalFree(block);
  Check(run.result == info || (info != kErrRead && info != kErrNotGif && info != kErrVersion),
        "GetFileInfo and ImportFile gave", info, run.result);
  if (info != 0 || !run.picture) return;
  const int16_t* frame = run.picture->frame;
  if (frame[0] == 0 && frame[1] == 0 && frame[2] == 0 && frame[3] == 0) return;  // never set
  Check(frame[2] == int16_t(record.width) && frame[3] == int16_t(record.height),
        "a frame and GetFileInfo's size:", frame[2], frame[3], record.width, record.height);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Input input(data, size);
  const e2e::ImportOptions options = OptionsFrom(input.control);
  const e2e::ImportRun run = e2e::Import(input.gif, options);
  DisarmFaults();
  ExpectNothingLive("ImportFile");
  CheckRun(run, options);
  CheckAgainstFileInfo(input.gif, input.control, run);
  // Another picture from the same input means memory read that no input
  // wrote. A second import doubles the cost, so the fuzzer makes it on an
  // eighth of its inputs (always the same ones) and the replay on all.
  if (!replaying && (e2e::Digest().Add(data, size).value() & 7) != 0) return 0;
  const e2e::ImportRun again = e2e::Import(input.gif, options);
  DisarmFaults();
  Check(e2e::RunDigest(run) == e2e::RunDigest(again),
        "a second import made other calls (results):", run.result, again.result);
  return 0;
}
