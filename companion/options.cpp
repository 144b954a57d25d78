// Host options blocks of the companion stand-in: global memory blocks that
// the host owns and frees with GlobalFree, holding a few options by code and
// the filter's persistent bytes.
#include <cstring>
#include <map>

#include "companion/standin.h"
#include "companion/standin_internal.h"
#include "platform/locked_global.h"

using standin::internal::Entry;
using standin::internal::LogId;
using standin::internal::LogTag;

namespace {

// The first word of every block. The filter tells its setup blocks from
// options blocks by the setup's first word, 0xFFEEDDCC, so ours must differ.
constexpr uint32_t kOptionsMagic = 0x5476704Fu;  // "OpvT"
constexpr uint32_t kSetupMagic = 0xFFEEDDCCu;
static_assert(kOptionsMagic != kSetupMagic, "options blocks must not look like setups");

// Room for the persistent bytes: 24 on 32-bit targets, more on 64-bit ones
// where the stream function in them is pointer-sized.
constexpr int32_t kMaxPersistentBytes = 64;

struct OptionsBlock {
  uint32_t magic;
  uint32_t serial;  // tells this block from a later one at the same handle
  uint16_t filterBlockMark;
  uint16_t refuseImport;
  uint32_t captureValue;
  uint8_t registerMark;
  uint8_t persistent[kMaxPersistentBytes];
};

struct Tracked {
  uint32_t serial;
  LogTag tag;
};

// Every thread's blocks (under the shared guard): a host may make one on one
// thread and import with it on another.
struct OptionsState {
  std::map<HGLOBAL, Tracked> blocks;  // every block made and maybe not yet freed
  uint32_t lastSerial = 0;
};

OptionsState& State() {
  static OptionsState state;
  return state;
}

// The block behind a handle when it is still one of ours: the host frees
// blocks with GlobalFree behind our back, and the platform may hand the same
// handle out again for something else.
// The size first: it is 0 for a handle that names nothing, which a lock
// would count as a fault.
bool IsLiveBlock(HGLOBAL handle, uint32_t serial) {
  if (GlobalSize(handle) < sizeof(OptionsBlock)) return false;
  LockedGlobal locked(handle);
  const auto* block = locked.As<const OptionsBlock>();
  return block != nullptr && block->magic == kOptionsMagic && block->serial == serial;
}

}  // namespace

std::string standin::internal::OptionsBlockId(void* handle) {
  SharedGuard guard;
  auto& blocks = State().blocks;
  auto it = blocks.find(handle);
  if (it != blocks.end()) return LogId("block", &it->second.tag);
  return standin::internal::ForeignId(handle);
}

namespace {

// Size of the value kept under a code; 0 for an unknown code, -1 for the
// persistent bytes, whose size is the caller's (up to kMaxPersistentBytes).
int32_t OptionSize(int32_t code) {
  switch (code) {
    case kQvOptionFilterBlockMark:
    case kQvOptionRefuseImport:
      return 2;
    case kQvOptionCaptureValue:
      return 4;
    case kQvOptionRegisterMark:
      return 1;
    case kQvOptionStorePersistent:
    case kQvOptionFetchPersistent:
      return -1;
    default:
      return 0;
  }
}

void* OptionField(OptionsBlock* block, int32_t code) {
  switch (code) {
    case kQvOptionFilterBlockMark:
      return &block->filterBlockMark;
    case kQvOptionRefuseImport:
      return &block->refuseImport;
    case kQvOptionCaptureValue:
      return &block->captureValue;
    case kQvOptionRegisterMark:
      return &block->registerMark;
    default:
      return block->persistent;
  }
}

int64_t SmallValue(const void* bytes, int32_t size) {
  uint32_t value = 0;
  std::memcpy(&value, bytes, static_cast<size_t>(size));
  if (size == 2) return static_cast<uint16_t>(value);
  if (size == 1) return static_cast<uint8_t>(value);
  return value;
}

int32_t Control(HGLOBAL handle, int32_t code, int32_t size, const void* source, void* destination,
                Entry* entry) {
  bool known = false;
  uint32_t serial = 0;
  {
    standin::internal::SharedGuard guard;
    auto it = State().blocks.find(handle);
    known = it != State().blocks.end();
    if (known) serial = it->second.serial;
  }
  if (!known || !IsLiveBlock(handle, serial)) return kQvOptionsBadBlock;
  int32_t expected = OptionSize(code);
  if (expected == 0) return kQvOptionsUnknownCode;
  bool persistent = expected < 0;
  if (persistent ? (size <= 0 || size > kMaxPersistentBytes) : size != expected) {
    return kQvOptionsBadSize;
  }
  if ((code == kQvOptionStorePersistent && source == nullptr) ||
      (code == kQvOptionFetchPersistent && destination == nullptr)) {
    return kQvOptionsNoData;
  }
  LockedGlobal locked(handle);
  void* field = OptionField(locked.As<OptionsBlock>(), code);
  // The persistent bytes are only stored or only fetched; the other codes do
  // what the caller's addresses ask, store first.
  if (source != nullptr && code != kQvOptionFetchPersistent) {
    std::memcpy(field, source, static_cast<size_t>(size));
    if (!persistent) entry->Int("stored", SmallValue(source, size));
  }
  if (destination != nullptr && code != kQvOptionStorePersistent) {
    std::memcpy(destination, field, static_cast<size_t>(size));
    if (!persistent) entry->Int("fetched", SmallValue(field, size));
  }
  return 0;
}

}  // namespace

extern "C" {

QV_API HGLOBAL WINAPI QvOptionsCreate(int32_t a, int32_t b, int32_t c, int32_t d) {
  Entry entry("QvOptionsCreate");
  entry.Int("a", a).Int("b", b).Int("c", c).Int("d", d);
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(OptionsBlock));
  LockedGlobal locked(handle);
  auto* block = locked.As<OptionsBlock>();
  if (block == nullptr) {
    if (handle != nullptr) GlobalFree(handle);
    entry.Raw("result", "null").Log();
    return nullptr;
  }
  standin::internal::SharedGuard guard;
  OptionsState& s = State();
  block->magic = kOptionsMagic;
  const uint32_t serial = ++s.lastSerial;
  block->serial = serial;
  locked.Release();
  Tracked& tracked = s.blocks[handle];
  tracked = Tracked{serial, LogTag()};
  if (entry.on()) entry.Raw("result", LogId("block", &tracked.tag)).Log();
  return handle;
}

QV_API int32_t WINAPI QvOptionsControl(HGLOBAL block, int32_t code, int32_t size,
                                       const void* source, void* destination, uintptr_t extra) {
  Entry entry("QvOptionsControl");
  if (entry.on()) {
    entry.Raw("block", standin::internal::OptionsBlockId(block))
        .Int("code", code)
        .Int("size", size);
    entry.Raw("source", source != nullptr ? "true" : "false");
    entry.Raw("destination", destination != nullptr ? "true" : "false");
    entry.Raw("extra", standin::internal::ForeignId(reinterpret_cast<const void*>(extra)));
  }
  int32_t result = Control(block, code, size, source, destination, &entry);
  entry.Int("result", result).Log();
  return result;
}

STANDIN_API int StandInLiveOptionsBlocks(void) {
  standin::internal::SharedGuard guard;
  auto& blocks = State().blocks;
  int live = 0;
  for (auto it = blocks.begin(); it != blocks.end();) {
    if (IsLiveBlock(it->first, it->second.serial)) {
      ++live;
      ++it;
    } else {
      it = blocks.erase(it);  // freed by the host: forget it
    }
  }
  return live;
}

}  // extern "C"
