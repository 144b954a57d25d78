// Handle values for the stand-in's objects that have no address of their own.
#include <sys/mman.h>

#include <cstddef>
#include <mutex>
#include <vector>

#include "platform/linux/stand_in_internal.h"

namespace winstandin {
namespace {

// 2^19 slots of 8 bytes in a 4 MiB reserved range. Slots are handed out
// round-robin, so a freed handle comes back only after every other slot
// has been used: a stale handle stays detectable for a long while.
constexpr size_t kSlotBytes = 8;
constexpr size_t kSlotCount = size_t{1} << 19;

struct HandlePool {
  std::mutex mutex;
  uintptr_t base = 0;
  std::vector<bool> used;
  size_t cursor = 0;
  bool reserved = false;
};

// Never destroyed: other modules' unload routines may still release
// handles after this library's statics would be gone.
HandlePool& Pool() {
  static HandlePool* pool = new HandlePool;
  return *pool;
}

bool ReserveRange(HandlePool& pool) {
  if (pool.reserved) return pool.base != 0;
  pool.reserved = true;
  void* range = mmap(nullptr, kSlotBytes * kSlotCount, PROT_NONE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (range == MAP_FAILED) return false;
  pool.base = reinterpret_cast<uintptr_t>(range);
  pool.used.assign(kSlotCount, false);
  return true;
}

}  // namespace

uintptr_t NewHandle() {
  HandlePool& pool = Pool();
  std::lock_guard<std::mutex> guard(pool.mutex);
  if (!ReserveRange(pool)) return 0;
  for (size_t tried = 0; tried < kSlotCount; ++tried) {
    size_t slot = (pool.cursor + tried) % kSlotCount;
    if (pool.used[slot]) continue;
    pool.used[slot] = true;
    pool.cursor = (slot + 1) % kSlotCount;
    return pool.base + slot * kSlotBytes;
  }
  return 0;
}

void ReleaseHandle(uintptr_t handle) {
  HandlePool& pool = Pool();
  std::lock_guard<std::mutex> guard(pool.mutex);
  if (pool.base == 0 || handle < pool.base) return;
  size_t offset = handle - pool.base;
  if (offset % kSlotBytes != 0 || offset / kSlotBytes >= kSlotCount) return;
  pool.used[offset / kSlotBytes] = false;
}

}  // namespace winstandin
