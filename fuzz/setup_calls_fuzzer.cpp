// EscapeSetup, DestroySetup and ImportFile in any order on setups, options
// blocks, other blocks and handles that name nothing any more, as a host
// might mix them up, also from inside an import's status callback.
//
// The input is a list of 4-byte steps [what][slot][a][b] on four slots:
//   what % 8: 0 CreateSetup, 1 GetFilterInfo, 2 another global block (a & 63
//   plus 1 bytes; with a & 0x80 one byte short of a setup, or a setup's
//   size when also a & 0x40, which never gets the magic; its first word the
//   setup's magic when b & 1), 3 DestroySetup, 4 GlobalFree, 5
//   EscapeSetup (code from a, size from b & 15; b & 0x40 a destination,
//   b & 0x80 the host stream function as 0x51's value), 6 ImportFile, whose
//   status callback runs the next (a & 7) steps at its first progress call,
//   7 a made-up handle where the slot is empty.
#include "core/filter_setup.h"
#include "fuzz/fuzz_input.h"
#include "platform/locked_global.h"

using namespace gifin;

namespace {

enum Kind { kEmpty, kSetup, kOptions, kBlock, kGone };
struct Slot {
  HGLOBAL handle = nullptr;
  Kind kind = kEmpty;
  bool busy = false;
};
struct Step {
  uint8_t what, slot, a, b;
};

constexpr int32_t kCodes[16] = {0x51, 0x52, 0x2A, 0x2B, 3,    4,    0x1A, 0x28,
                                0,    -1,   0x50, 0x53, 0x29, 0x2C, 5,    1};
constexpr int32_t kSizes[16] = {4,       24, 0,          1,         2, 8,  64, 0xFFFF,
                                0x10000, -1, 0x7FFFFFFF, INT32_MIN, 3, 23, 25, 12};

std::vector<Step> steps;
size_t next = 0;
Slot slots[4];
uint8_t source[0x10000], destination[0x10000];

// Byte i of the source is i * 7 + (the input's size), mod 256. As 7 * 183 is
// 1 mod 256, that is byte i + 183 * size of the repeating i * 7: one copy a
// run from this table, not 64 K instrumented stores.
const std::vector<uint8_t> kSourcePattern = [] {
  std::vector<uint8_t> pattern(sizeof source + 256);
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i * 7);
  return pattern;
}();

bool Live(const Slot& s) { return s.kind == kSetup || s.kind == kOptions || s.kind == kBlock; }

// The persistent bytes of a setup or options block (24, as the filter moves
// them), a plain block whole.
Bytes Persistent(const Slot& s) {
  Bytes bytes(s.kind == kBlock ? GlobalSize(s.handle) : 24);
  if (s.kind == kOptions)
    QvOptionsControl(s.handle, kQvOptionFetchPersistent, 24, nullptr, bytes.data(), 0);
  if (s.kind != kSetup && s.kind != kBlock) return bytes;
  LockedGlobal locked(s.handle);
  const auto* block = locked.As<const uint8_t>();
  if (s.kind == kSetup) block += offsetof(FilterSetup, persistentOptions);
  std::memcpy(bytes.data(), block, bytes.size());
  return bytes;
}

std::vector<Bytes> Snapshot() {
  return {Persistent(slots[0]), Persistent(slots[1]), Persistent(slots[2]), Persistent(slots[3])};
}

void Run(size_t end);

void Make(Slot& slot, const Step& step) {
  const int what = step.what % 8;
  const bool full = (step.a & 0xC0) == 0xC0;
  const SIZE_T bytes = (step.a & 0x80) ? kSetupBlockBytes - !full : (step.a & 63) + 1;
  if (what == 0) slot.handle = CreateSetup(nullptr, nullptr, nullptr, 0);
  if (what == 1) GetFilterInfo(0, 0, &slot.handle, 0);
  if (what == 2) slot.handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
  Check(slot.handle != nullptr, "nothing made (step):", next);
  slot.kind = what == 0 ? kSetup : what == 1 ? kOptions : kBlock;
  if (what == 2 && (step.b & 1) && bytes >= 4 && !full)
    std::memcpy(LockedGlobal(slot.handle).As<void>(), &kSetupMagic, 4);
}

void Destroy(Slot& slot) {
  const auto before = Snapshot();
  const int live = PlatformLiveGlobalBlocks();
  const int32_t result = DestroySetup(slot.handle);
  const int32_t expected = slot.kind != kSetup ? kSetupNotLive : slot.busy ? kSetupBusy : 0;
  Check(result == expected, "DestroySetup gave, not (step):", result, expected, next);
  if (result == 0) slot.kind = kGone;
  Check(PlatformLiveGlobalBlocks() == live - (result == 0) && (result == 0 || Snapshot() == before),
        "DestroySetup freed not one block, or refused and changed something (step):", next);
}

void Escape(Slot& slot, const Step& step) {
  const int32_t code = step.a < 16 ? kCodes[step.a] : step.a, size = kSizes[step.b & 15];
  void* data = code != kEscapeStreamFunction ? source
               : (step.b & 0x80)             ? reinterpret_cast<void*>(StreamProc)
                                             : nullptr;
  auto expected = Snapshot();
  const int32_t result =
      EscapeSetup(slot.handle, code, size, data, (step.b & 0x40) ? destination : nullptr, 0);

  const bool own = code == kEscapeStreamFunction || code == kEscapeCarriedWord;
  const bool target = slot.kind == kSetup || slot.kind == kOptions;
  const auto check = [&](bool holds, const char* what) {
    Check(holds, std::string("EscapeSetup (code, size, result) ") + what, code, size, result);
  };
  Bytes& bytes = expected[step.slot & 3];
  if (slot.busy) {
    check(result == kSetupBusy, "on a busy setup:");
  } else if (slot.kind == kGone || slot.kind == kEmpty || (!target && own)) {
    check(result == 0, "on a handle with nothing to change:");
  } else if (!target || (slot.kind == kSetup && !own)) {
    check(result != 0, "on no setup nor options block:");
  } else if (own) {
    check(result == 0, "of a setup's own code:");
    if (size == kEscapeValueBytes && code == kEscapeStreamFunction)
      std::memcpy(&bytes[0], &data, sizeof data);
    if (size == kEscapeValueBytes && code == kEscapeCarriedWord)
      std::memcpy(&bytes[offsetof(PersistentOptions, carriedWord)], source, 4);
  } else if (code == kQvOptionStorePersistent && result == 0) {
    std::memcpy(bytes.data(), source, std::min<size_t>(size, bytes.size()));
  }
  check(Snapshot() == expected, "left other persistent bytes:");
}

// The user value is where the callback's steps end: later calls run none.
int32_t WINAPI Callback(uint32_t end, int32_t kind, int32_t code, int32_t, int32_t, int32_t,
                        int32_t*) {
  if (kind == kStatusProgress && code == kStatusCodeProgress) Run(end);
  return kind == kStatusCancelFollowUp ? 1 : 0;
}

void Import(Slot& slot, const Step& step) {
  static const Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 2,   0,    2, 0, 0x80, 0,
                            0,   0,   0,   0,   255, 255, 255, 44,   0, 0, 0,    0,
                            2,   0,   2,   0,   0,   2,   3,   0x44, 2, 5, 0,    0x3B};  // 2 x 2
  HostContext context = {};
  context.userValue = static_cast<uint32_t>(std::min(next + (step.a & 7), steps.size()));
  context.statusCallback = Callback;
  context.inputMemory = BlockHolding(gif);
  ImportRequest request = {};
  request.setupHandle = slot.handle;
  request.hostContext = &context;
  ServeStream(gif, 0);
  const bool idle = slot.kind == kSetup && !slot.busy;
  HostStreamProc stream = nullptr;
  if (idle) std::memcpy(&stream, Persistent(slot).data(), sizeof stream);
  slot.busy = slot.busy || idle;
  const int32_t result = ImportFile(0, "", "", "", &request);
  slot.busy = slot.busy && !idle;
  GlobalFree(context.inputMemory);
  const int32_t expected = slot.kind != kSetup ? kSetupNotLive : idle ? 0 : kSetupBusy;
  // A stream function shared with a nested import may be read by both.
  Check(result == expected || (idle && stream != nullptr && IsImportResult(result)),
        "ImportFile gave, not (step):", result, expected, next);
}

void Do(const Step& step) {
  Slot& slot = slots[step.slot & 3];
  const int what = step.what % 8;
  if (what < 3 && !Live(slot)) return Make(slot, step);
  if (what == 3) return Destroy(slot);
  if (what == 5) return Escape(slot, step);
  if (what == 6) return Import(slot, step);
  if (what == 7 && slot.kind == kEmpty)
    slot = {reinterpret_cast<HGLOBAL>(uintptr_t{0x10000} + step.a * 8u), kGone};
  if (what == 4 && Live(slot) && !slot.busy) {  // freeing a setup in use is the host's own fault
    GlobalFree(slot.handle);
    slot.kind = kGone;
  }
}

void Run(size_t end) {
  while (next < end) Do(steps[next++]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  StandInClearLog();  // where a build keeps the call log
  steps.clear();
  for (size_t at = 0; at + 4 <= size; at += 4)
    steps.push_back({data[at], data[at + 1], data[at + 2], data[at + 3]});
  next = 0;
  std::memcpy(source, kSourcePattern.data() + ((size * 183) & 255), sizeof source);
  Run(steps.size());
  for (Slot& slot : slots) {
    if (slot.kind == kSetup)
      Check(DestroySetup(slot.handle) == 0, "DestroySetup refused at the end");
    if (slot.kind == kOptions || slot.kind == kBlock) GlobalFree(slot.handle);
    slot = Slot{};
  }
  EndServing();
  std::vector<Step>().swap(steps);  // a longer input's steps must not outlive it
  ExpectNothingLive("the calls");
  return 0;
}
