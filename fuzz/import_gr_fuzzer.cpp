// The metafile entries, each a whole host cycle (options block, setup,
// capture, ImportFile). Control bytes:
//   0  bit 0 an options block from GetFilterInfo (else the entry makes its
//      own, or refuses); bit 1 that block refuses imports; bits 2-3 the
//      entry: 0 ImportGR, 1 ImportCB with a host stream function, 2
//      ImportEmbeddedGR, 3 ImportCB without; bit 4 the GIF by path (else its
//      memory block); bit 5 the block brings the stream function (0x51).
//   1  bits 0-4 fail that allocation (1 = first of the call).
//   2  fail that stream read (1 = first); 3 a pending companion error.
#include "core/filter_setup.h"
#include "fuzz/fuzz_input.h"

using namespace gifin;

namespace {

enum Entry { kGR, kCBStream, kEmbedded, kCB };
constexpr uint32_t kStreamUserValue = 0x5EED;

HostStreamProc StoredStreamFunction(HGLOBAL options) {
  if (options == nullptr) return nullptr;
  PersistentOptions stored{};
  QvOptionsControl(options, kQvOptionFetchPersistent, 24, nullptr, &stored, 0);
  return stored.streamFunction;
}

int32_t CallEntry(Entry entry, SourceDescriptor* source, ImportResult* result, HGLOBAL options) {
  if (entry == kGR) return ImportGR(0x4057u, source, result, options);
  if (entry == kEmbedded) return ImportEmbeddedGR(0x4057u, source, result, options, 0, "start");
  return ImportCB(0x4057u, source, result, options, kStreamUserValue,
                  entry == kCBStream ? StreamProc : nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The capture renders every pixel it holds into its metafile, far dearer
  // per byte than an import: a lower budget, still room for the longest row.
  [[maybe_unused]] static const bool metafileBudget = (PlatformSetMemoryBudget(1ull << 20), true);
  const Input input(data, size);
  const uint8_t* control = input.control;
  const auto entry = static_cast<Entry>((control[0] >> 2) & 3);

  HGLOBAL options = nullptr;
  if (control[0] & 1) {
    Check(GetFilterInfo(0, 0, &options, 0) == 2, "GetFilterInfo made no block");
    const uint16_t refuse = 1;
    if (control[0] & 2) QvOptionsControl(options, kQvOptionRefuseImport, 2, &refuse, nullptr, 0);
    if (control[0] & 0x20)
      EscapeSetup(options, kEscapeStreamFunction, kEscapeValueBytes,
                  reinterpret_cast<void*>(StreamProc), 0, 0);
  }
  const HostStreamProc storedBefore = StoredStreamFunction(options);
  SourceDescriptor source{};
  source.memory = BlockHolding(input.gif);
  if (control[0] & 0x10) {
    const std::string path = e2e::WriteScratchFile("entry.gif", input.gif);
    std::strncpy(source.path, path.c_str(), sizeof source.path - 1);
  }
  ImportResult result{};
  ServeStream(input.gif, entry == kGR || entry == kEmbedded ? 0 : kStreamUserValue);
  StandInClearLog();
  ArmFaults(control[1] & 31, control[2], control[3]);
  const int32_t ended = CallEntry(entry, &source, &result, options);
  DisarmFaults();
  EndServing();
  StandInForgetPictures();

  const auto check = [&](bool holds, const char* what) {
    Check(holds, what, (control[0] >> 2) & 3, ended);
  };
  check((control[0] & 3) != 3 || ended == kHostRefused, "a block that refuses, entry gave");
  check(entry != kEmbedded || options != nullptr || ended == kHostNoOptionsOrSetup,
        "no block for ImportEmbeddedGR, entry gave");
  check(ended != kHostBadRecord, "a sound source record refused, entry gave");
  check(strangers == 0, "a stream call with another user value, entry gave");
  const HostStreamProc stored = StoredStreamFunction(options);
  check(stored == storedBefore || (entry == kCBStream && stored == StreamProc),
        "the block's stream function changed, entry gave");
  const HANDLE metafile = result.metafile;  // deleted as a host deletes it, whichever kind
  if (metafile != nullptr && !DeleteEnhMetaFile(static_cast<HENHMETAFILE>(metafile)))
    DeleteMetaFile(static_cast<HMETAFILE>(metafile));
  GlobalFree(source.memory);
  if (options != nullptr) GlobalFree(options);
  ExpectNothingLive("a metafile entry");
  check((ended == 0) == (metafile != nullptr), "a metafile only on success; entry gave");
  return 0;
}
