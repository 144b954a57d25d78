// The metafile entries through the exports: ImportGR, ImportCB and
// ImportEmbeddedGR each run a whole host cycle (options block, setup,
// capture, ImportFile) on a GIF in a memory block, a file or a host stream.
//
// Control bytes:
//   0  bit 0 an options block from GetFilterInfo (else none: the entry makes
//      its own, or refuses); bit 1 that block refuses imports (option 4);
//      bits 2-3 the entry: 0 ImportGR, 1 ImportCB with a host stream
//      function, 2 ImportEmbeddedGR, 3 ImportCB without one; bit 4 the
//      source names the GIF by path (else its memory block); bit 5 the
//      block brings the host stream function along (escape 0x51).
//   1  bits 0-4 fail that allocation (1 = first of the call).
//   2  fail that stream read (1 = first), 0 none.
//   3  a pending companion error (fuzz_input.h).
//
// After every input, once the host has deleted the metafile it got: nothing
// live. A failure hands back no metafile, a success hands back one; the host
// stream is only called with the user value of the call; of the block's
// persistent bytes only ImportCB's own stream function is stored.
#include <cstdint>
#include <cstring>
#include <string>

#include "gifimport/filter_api.h"
#include "core/filter_setup.h"
#include "fuzz/fuzz_input.h"
#include "platform/platform_test.h"
#include "tests/e2e/import_host.h"

namespace {

enum Entry { kGR, kCBStream, kEmbedded, kCB };
// The capture renders every pixel it holds into its metafile, which costs
// far more per byte than an import: a lower budget, still past 2^21 pixels.
constexpr unsigned long long kMetafileBudgetBytes = 6ull << 20;
constexpr uint32_t kStreamUserValue = 0x5EED;

HostStreamProc StoredStreamFunction(HGLOBAL options) {
  PersistentOptions stored{};
  QvOptionsControl(options, kOptionFetchPersistent, 24, nullptr, &stored,
                   0);  // as the filter moves them
  return stored.streamFunction;
}

int32_t CallEntry(Entry entry, SourceDescriptor* source, ImportResult* result, HGLOBAL options) {
  switch (entry) {
    case kGR:
      return ImportGR(0x4057u, source, result, options);
    case kEmbedded:
      return ImportEmbeddedGR(0x4057u, source, result, options, 0, "start");
    default:
      return ImportCB(0x4057u, source, result, options, kStreamUserValue,
                      entry == kCBStream ? fuzzin::StreamProc : nullptr);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool budgetSet = (PlatformSetMemoryBudget(kMetafileBudgetBytes), true);
  (void)budgetSet;
  const fuzzin::SplitInput input = fuzzin::Split(data, size);
  const uint8_t* control = input.control;
  const auto entry = static_cast<Entry>((control[0] >> 2) & 3);

  HGLOBAL options = nullptr;
  if (control[0] & 1) {
    if (GetFilterInfo(0, 0, &options, 0) != 2) fuzzin::Finding("GetFilterInfo made no block");
    if (control[0] & 2) {
      const uint16_t refuse = 1;
      QvOptionsControl(options, kOptionRefuse, 2, &refuse, nullptr, 0);
    }
    if (control[0] & 0x20) {
      EscapeSetup(options, kEscapeStreamFunction, 4, reinterpret_cast<void*>(fuzzin::StreamProc),
                  nullptr, 0);
    }
  }
  const HostStreamProc storedBefore = options ? StoredStreamFunction(options) : nullptr;
  SourceDescriptor source;
  std::memset(&source, 0, sizeof source);
  source.memory = fuzzin::BlockHolding(input.gif);
  if (source.memory == nullptr) fuzzin::Finding("no memory block for the input");
  if (control[0] & 0x10) {
    const std::string path = e2e::WriteScratchFile("entry.gif", input.gif);
    std::strncpy(source.path, path.c_str(), sizeof source.path - 1);
  }
  ImportResult result;
  std::memset(&result, 0, sizeof result);
  fuzzin::ServeStream(&input.gif, entry == kGR || entry == kEmbedded ? 0 : kStreamUserValue);

  StandInClearLog();
  fuzzin::ArmFaults(control[1] & 31, control[2], control[3]);
  const int32_t ended = CallEntry(entry, &source, &result, options);
  fuzzin::DisarmFaults();
  StandInForgetPictures();

  static const char* const kNames[] = {"ImportGR", "ImportCB", "ImportEmbeddedGR", "ImportCB"};
  const std::string got = std::string(kNames[entry]) + " gave " + std::to_string(ended);
  const bool refused = (control[0] & 3) == 3;
  if (refused && ended != kHostRefused) fuzzin::Finding(got + " on a block that refuses");
  if (entry == kEmbedded && options == nullptr && ended != kHostNoOptionsOrSetup) {
    fuzzin::Finding(got + " from ImportEmbeddedGR without a block");
  }
  if (ended == kHostBadRecord) fuzzin::Finding(got + " for a sound source record");
  if (fuzzin::StrangerStreamCalls() != 0)
    fuzzin::Finding(got + ": a stream call with another user value");
  if (options != nullptr) {
    const HostStreamProc stored = StoredStreamFunction(options);
    if (stored != storedBefore && !(entry == kCBStream && stored == fuzzin::StreamProc)) {
      fuzzin::Finding(got + ": the block's stream function changed");
    }
  }
  const bool metafile = result.metafile != nullptr;
  fuzzin::DeleteMetafile(result.metafile);
  fuzzin::ServeStream(nullptr, 0);
  GlobalFree(source.memory);
  if (options != nullptr) GlobalFree(options);

  fuzzin::ExpectNothingLive(kNames[entry]);
  if (ended != 0 && metafile) fuzzin::Finding(got + " and handed back a metafile");
  if (ended == 0 && !metafile) fuzzin::Finding(got + " without a metafile");
  return 0;
}
