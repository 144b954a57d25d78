// Global and local memory, with a registry of every live block.
//
// Moveable blocks get a handle from the pool (never their address); fixed
// blocks are their own handle, as on Windows. The Global and Local families
// are kept apart: a handle of one is foreign to the other, so a block freed
// by the wrong family shows up in the live counts instead of passing.
#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <unordered_map>

#include "platform/linux/stand_in_internal.h"
#include "platform/platform_test.h"

namespace {

using winstandin::NewHandle;
using winstandin::ReleaseHandle;

enum class Family { kGlobal, kLocal };

// What a block that is not zero-initialised holds, so that code which relies
// on fresh memory being zero fails in tests rather than by luck.
constexpr unsigned char kFreshFill = 0xCD;

// Freed fixed blocks of up to this size are kept from reuse for the last
// kQuarantineBlocks frees, so that their address (their handle) stays
// unknown and a second free or a lock of it is caught, not taken for a new
// block that happens to get the same address.
constexpr SIZE_T kQuarantineMaxBytes = 64 * 1024;
constexpr size_t kQuarantineBlocks = 64;

struct Block {
  Family family;
  bool moveable;
  void* data;  // null for a zero-size moveable block (a discarded block)
  SIZE_T size;
  int locks;      // moveable blocks only; fixed blocks are never locked
  size_t mapped;  // bytes mapped for it (a large block), else 0: from malloc
};

// Blocks of this size and more (an image's pixels) are mapped in large
// pages: touching fresh memory a small page at a time costs more than
// filling it, and the system's pages come zero.
constexpr size_t kLargePage = size_t{2} << 20;

// One large mapping freed and kept for the next large block that fits it,
// as a heap keeps its memory: an import after another finds its pixels'
// block already touched.
struct SpareMapping {
  void* data = nullptr;
  size_t size = 0;
};

// Zeroes a block in pieces small enough that the C library fills each
// through the cache, not around it as it does a block of many megabytes:
// the caller writes the block next and finds it there.
void ZeroInCache(void* data, size_t bytes) {
  constexpr size_t kPiece = 256 * 1024;
  auto* p = static_cast<unsigned char*>(data);
  for (size_t done = 0; done < bytes; done += kPiece) {
    std::memset(p + done, 0, std::min(kPiece, bytes - done));
  }
}

void* MapLarge(SpareMapping& spare, size_t bytes, bool zero, size_t* mapped) {
  const size_t size = (bytes + kLargePage - 1) & ~(kLargePage - 1);
  // A spare more than twice the size would hold memory for nothing.
  if (spare.data != nullptr && spare.size >= size && spare.size / 2 <= size) {
    void* data = spare.data;
    *mapped = spare.size;
    spare = SpareMapping{};
    if (zero) ZeroInCache(data, bytes);
    return data;
  }
  void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (data == MAP_FAILED) return nullptr;
#ifdef MADV_HUGEPAGE
  madvise(data, size, MADV_HUGEPAGE);  // a hint: fine if refused
#endif
  *mapped = size;
  return data;
}

// The larger of a freed mapping and the spare is kept.
void UnmapLarge(SpareMapping& spare, void* data, size_t size) {
  if (spare.data != nullptr && spare.size >= size) {
    munmap(data, size);
    return;
  }
  if (spare.data != nullptr) munmap(spare.data, spare.size);
  spare = SpareMapping{data, size};
}

unsigned long long InitialBudget() {
  const char* text = std::getenv("GIFIMPORT_MAX_MEMORY");
  if (text == nullptr || *text == 0) return kPlatformDefaultBudget;
  char* end = nullptr;
  const unsigned long long bytes = std::strtoull(text, &end, 10);
  return *end == 0 ? bytes : kPlatformDefaultBudget;
}

struct MemoryRegistry {
  std::mutex mutex;
  std::unordered_map<uintptr_t, Block> blocks;           // by handle
  std::unordered_map<const void*, uintptr_t> moveables;  // address -> handle
  int liveGlobal = 0;
  int liveLocal = 0;
  std::deque<void*> quarantine;
  SpareMapping spare;
  unsigned long long inUse = 0;  // live block bytes plus charges
  unsigned long long budget = InitialBudget();
};

// What a test arms and reads back about its own import: the calling
// thread's, so that imports on other threads neither trip its faults nor
// move its counts.
struct ThreadFaults {
  int handleFaults = 0;  // since the last PlatformTakeHandleFaults
  long allocations = 0;
  long failCountdown = 0;
};

ThreadFaults& Faults() {
  thread_local ThreadFaults faults;
  return faults;
}

// Never destroyed: modules unloaded at exit may still free their blocks.
MemoryRegistry& Registry() {
  static MemoryRegistry* registry = new MemoryRegistry;
  return *registry;
}

// Whether `bytes` more fit the budget (0: none).
bool FitsBudget(const MemoryRegistry& r, unsigned long long bytes) {
  return r.budget == 0 || (r.inUse <= r.budget && bytes <= r.budget - r.inUse);
}

int& LiveCount(MemoryRegistry& r, Family family) {
  return family == Family::kGlobal ? r.liveGlobal : r.liveLocal;
}

Block* FindBlock(MemoryRegistry& r, Family family, const void* handle) {
  auto it = r.blocks.find(reinterpret_cast<uintptr_t>(handle));
  if (it == r.blocks.end() || it->second.family != family) return nullptr;
  return &it->second;
}

// A lock, unlock or free of a handle that names no live block of the family
// (freed, never made, or the other family's) counts as a fault: on Windows
// it is a double free, or it reaches a block that someone else now holds.
Block* FindLiveBlock(MemoryRegistry& r, Family family, const void* handle) {
  Block* block = FindBlock(r, family, handle);
  if (block == nullptr) ++Faults().handleFaults;
  return block;
}

void ReleaseData(MemoryRegistry& r, const Block& block) {
  if (block.mapped != 0) {
    UnmapLarge(r.spare, block.data, block.mapped);
    return;
  }
  if (block.moveable || block.size > kQuarantineMaxBytes) {
    std::free(block.data);
    return;
  }
  r.quarantine.push_back(block.data);
  if (r.quarantine.size() > kQuarantineBlocks) {
    std::free(r.quarantine.front());
    r.quarantine.pop_front();
  }
}

void* Allocate(Family family, UINT flags, SIZE_T bytes) {
  MemoryRegistry& r = Registry();
  ThreadFaults& faults = Faults();
  ++faults.allocations;
  if (faults.failCountdown > 0 && --faults.failCountdown == 0) return nullptr;
  std::lock_guard<std::mutex> guard(r.mutex);
  if (bytes > kPlatformMaxBlockBytes || !FitsBudget(r, bytes)) return nullptr;

  bool moveable = (flags & GMEM_MOVEABLE) != 0;
  void* data = nullptr;
  size_t mapped = 0;
  // A zero-size moveable block is born discarded: a handle that locks to
  // null. A zero-size fixed block is still a distinct address.
  if (!moveable || bytes > 0) {
    // calloc: a large block comes from the system already zero, without a
    // pass over it.
    const size_t size = bytes > 0 ? bytes : 1;
    if (size >= kLargePage) {
      data = MapLarge(r.spare, size, (flags & GMEM_ZEROINIT) != 0, &mapped);
    } else {
      data = (flags & GMEM_ZEROINIT) ? std::calloc(size, 1) : std::malloc(size);
    }
    if (!data) return nullptr;
    if (!(flags & GMEM_ZEROINIT)) std::memset(data, kFreshFill, size);
  }
  uintptr_t handle = moveable ? NewHandle() : reinterpret_cast<uintptr_t>(data);
  if (handle == 0) {
    ReleaseData(r, Block{family, moveable, data, bytes, 0, mapped});
    return nullptr;
  }
  r.blocks[handle] = Block{family, moveable, data, bytes, 0, mapped};
  if (moveable && data) r.moveables[data] = handle;
  ++LiveCount(r, family);
  r.inUse += bytes;
  return reinterpret_cast<void*>(handle);
}

void* Lock(Family family, void* handle) {
  MemoryRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.mutex);
  Block* block = FindLiveBlock(r, family, handle);
  if (!block || !block->data) return nullptr;
  if (block->moveable) ++block->locks;
  return block->data;
}

// Nonzero while the block stays locked, as Windows answers.
BOOL Unlock(Family family, void* handle) {
  MemoryRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.mutex);
  Block* block = FindLiveBlock(r, family, handle);
  if (!block || !block->moveable || block->locks == 0) return FALSE;
  return --block->locks > 0 ? TRUE : FALSE;
}

// Null on success, the handle itself when it names no live block of this
// family. A locked block is freed all the same, as Windows does.
void* Free(Family family, void* handle) {
  if (!handle) return nullptr;
  MemoryRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.mutex);
  Block* block = FindLiveBlock(r, family, handle);
  if (!block) return handle;
  if (block->moveable) {
    if (block->data) r.moveables.erase(block->data);
    ReleaseHandle(reinterpret_cast<uintptr_t>(handle));
  }
  ReleaseData(r, *block);
  r.inUse -= block->size;
  r.blocks.erase(reinterpret_cast<uintptr_t>(handle));
  --LiveCount(r, family);
  return nullptr;
}

SIZE_T Size(Family family, void* handle) {
  MemoryRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.mutex);
  Block* block = FindBlock(r, family, handle);
  return block ? block->size : 0;
}

}  // namespace

extern "C" {

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
  return Allocate(Family::kGlobal, flags, bytes);
}
LPVOID WINAPI GlobalLock(HGLOBAL block) { return Lock(Family::kGlobal, block); }
BOOL WINAPI GlobalUnlock(HGLOBAL block) { return Unlock(Family::kGlobal, block); }
HGLOBAL WINAPI GlobalFree(HGLOBAL block) { return Free(Family::kGlobal, block); }
SIZE_T WINAPI GlobalSize(HGLOBAL block) { return Size(Family::kGlobal, block); }

HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes) {
  return Allocate(Family::kLocal, flags, bytes);
}
LPVOID WINAPI LocalLock(HLOCAL block) { return Lock(Family::kLocal, block); }
BOOL WINAPI LocalUnlock(HLOCAL block) { return Unlock(Family::kLocal, block); }
HLOCAL WINAPI LocalFree(HLOCAL block) { return Free(Family::kLocal, block); }

// Only the start of a block maps back, as only that is what LocalLock gave.
HLOCAL WINAPI LocalHandle(LPCVOID address) {
  if (!address) return nullptr;
  MemoryRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.mutex);
  auto moveable = r.moveables.find(address);
  uintptr_t handle =
      moveable != r.moveables.end() ? moveable->second : reinterpret_cast<uintptr_t>(address);
  auto it = r.blocks.find(handle);
  if (it == r.blocks.end() || it->second.family != Family::kLocal) return nullptr;
  return reinterpret_cast<HLOCAL>(handle);
}

int PlatformLiveGlobalBlocks(void) {
  MemoryRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.mutex);
  return r.liveGlobal;
}

int PlatformLiveLocalBlocks(void) {
  MemoryRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.mutex);
  return r.liveLocal;
}

int PlatformTakeHandleFaults(void) {
  const int faults = Faults().handleFaults;
  Faults().handleFaults = 0;
  return faults;
}

long PlatformAllocationCount(void) { return Faults().allocations; }

void PlatformFailAllocationAt(long n) { Faults().failCountdown = n > 0 ? n : 0; }

void PlatformSetMemoryBudget(unsigned long long bytes) {
  MemoryRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.mutex);
  r.budget = bytes;
}

unsigned long long PlatformMemoryBudget(void) {
  MemoryRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.mutex);
  return r.budget;
}

unsigned long long PlatformMemoryInUse(void) {
  MemoryRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.mutex);
  return r.inUse;
}

int PlatformChargeMemory(unsigned long long bytes) {
  MemoryRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.mutex);
  if (!FitsBudget(r, bytes)) return 0;
  r.inUse += bytes;
  return 1;
}

void PlatformReleaseMemory(unsigned long long bytes) {
  MemoryRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.mutex);
  r.inUse -= bytes < r.inUse ? bytes : r.inUse;
}

}  // extern "C"
