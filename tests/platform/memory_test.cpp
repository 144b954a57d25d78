// Global and local memory of the Linux stand-in: the behaviour the filter
// could notice on Windows, and the test controls.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/platform_test.h"

namespace {

// Both families run through the same cases.
struct Family {
  const char* name;
  void* (*alloc)(UINT, SIZE_T);
  void* (*lock)(void*);
  BOOL (*unlock)(void*);
  void* (*free)(void*);
  int (*live)();
  UINT moveable, zeroInit;
};

void* CallGlobalAlloc(UINT f, SIZE_T n) { return GlobalAlloc(f, n); }
void* CallLocalAlloc(UINT f, SIZE_T n) { return LocalAlloc(f, n); }

const Family kFamilies[] = {
    {"Global", CallGlobalAlloc, GlobalLock, GlobalUnlock, GlobalFree, PlatformLiveGlobalBlocks,
     GMEM_MOVEABLE, GMEM_ZEROINIT},
    {"Local", CallLocalAlloc, LocalLock, LocalUnlock, LocalFree, PlatformLiveLocalBlocks,
     LMEM_MOVEABLE, LMEM_ZEROINIT},
};

TEST(PlatformMemory, StaleAndForeignHandlesLockToNull) {
  for (const Family& f : kFamilies) {
    SCOPED_TRACE(f.name);
    int before = f.live();
    void* moveable = f.alloc(f.moveable, 16);
    void* fixed = f.alloc(0, 16);
    ASSERT_TRUE(moveable && fixed);
    EXPECT_EQ(f.live(), before + 2);
    void* address = f.lock(moveable);
    ASSERT_NE(address, nullptr);
    EXPECT_NE(address, moveable) << "a moveable handle must not be its address";
    EXPECT_EQ(f.lock(fixed), fixed);

    // The other family's blocks are foreign too.
    int local = 0;
    void* other = &f == &kFamilies[0] ? LocalAlloc(LHND, 8) : GlobalAlloc(GHND, 8);
    for (void* foreign : {static_cast<void*>(&local), address, other}) {
      EXPECT_EQ(f.lock(foreign), nullptr);
      EXPECT_EQ(f.free(foreign), foreign);
    }
    (&f == &kFamilies[0] ? LocalFree : GlobalFree)(other);

    EXPECT_EQ(f.free(moveable), nullptr);
    EXPECT_EQ(f.free(fixed), nullptr);
    EXPECT_EQ(f.live(), before);
    for (void* stale : {moveable, fixed}) {
      EXPECT_EQ(f.lock(stale), nullptr);
      EXPECT_FALSE(f.unlock(stale));
      EXPECT_EQ(f.free(stale), stale) << "a second free must fail";
    }
    EXPECT_EQ(f.free(nullptr), nullptr);
  }
}

TEST(PlatformMemory, LockCountsAreKept) {
  for (const Family& f : kFamilies) {
    SCOPED_TRACE(f.name);
    void* block = f.alloc(f.moveable, 4);
    void* first = f.lock(block);
    EXPECT_EQ(f.lock(block), first);
    EXPECT_TRUE(f.unlock(block)) << "still locked once";
    EXPECT_FALSE(f.unlock(block));
    EXPECT_FALSE(f.unlock(block)) << "unlocking an unlocked block changes nothing";
    EXPECT_EQ(f.lock(block), first);
    EXPECT_FALSE(f.unlock(block));
    f.free(block);
  }
}

TEST(PlatformMemory, OnlyZeroInitBlocksStartAsZero) {
  for (const Family& f : kFamilies) {
    for (UINT kind : {0u, f.moveable}) {
      SCOPED_TRACE(std::string(f.name) + (kind ? " moveable" : " fixed"));
      for (bool zero : {true, false}) {
        void* block = f.alloc(kind | (zero ? f.zeroInit : 0), 64);
        auto* bytes = static_cast<unsigned char*>(f.lock(block));
        bool allZero = true;
        for (int i = 0; i < 64; ++i) allZero = allZero && bytes[i] == 0;
        EXPECT_EQ(allZero, zero);
        f.unlock(block);
        f.free(block);
      }
    }
  }
}

TEST(PlatformMemory, SizesAndTheLimitOfAThirtyTwoBitProcess) {
  int before = PlatformLiveGlobalBlocks();
  EXPECT_EQ(GlobalAlloc(GHND, kPlatformMaxBlockBytes + 1), nullptr);
  EXPECT_EQ(LocalAlloc(LPTR, kPlatformMaxBlockBytes + 1), nullptr);
  EXPECT_EQ(GlobalAlloc(GMEM_FIXED, ~SIZE_T{0}), nullptr);
  EXPECT_EQ(PlatformLiveGlobalBlocks(), before);

  HGLOBAL block = GlobalAlloc(GHND, 12024);
  EXPECT_EQ(GlobalSize(block), 12024u);
  GlobalFree(block);
  EXPECT_EQ(GlobalSize(block), 0u);

  // A zero-size moveable block is a discarded one: a live handle that locks
  // to null. A zero-size fixed block is still an address.
  HGLOBAL empty = GlobalAlloc(GHND, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(GlobalLock(empty), nullptr);
  EXPECT_EQ(GlobalSize(empty), 0u);
  EXPECT_EQ(GlobalFree(empty), nullptr);
  HLOCAL fixedEmpty = LocalAlloc(LPTR, 0);
  EXPECT_NE(fixedEmpty, nullptr);
  EXPECT_EQ(LocalFree(fixedEmpty), nullptr);
}

TEST(PlatformMemory, LocalHandleMapsTheStartOfABlockBack) {
  HLOCAL moveable = LocalAlloc(LHND, 32), fixed = LocalAlloc(LPTR, 32);
  auto* address = static_cast<char*>(LocalLock(moveable));
  EXPECT_EQ(LocalHandle(address), moveable);
  EXPECT_EQ(LocalHandle(fixed), fixed);
  EXPECT_EQ(LocalHandle(address + 1), nullptr);
  LocalUnlock(moveable);
  LocalFree(moveable);
  EXPECT_EQ(LocalHandle(address), nullptr);
  LocalFree(fixed);
}

TEST(PlatformMemory, TheNthAllocationFromNowFailsOnce) {
  for (long n : {1L, 3L}) {
    SCOPED_TRACE(n);
    long count = PlatformAllocationCount();
    PlatformFailAllocationAt(n);
    void* blocks[4];
    for (long i = 0; i < 4; ++i) {
      blocks[i] = i % 2 ? LocalAlloc(LPTR, 8) : GlobalAlloc(GHND, 8);
      EXPECT_EQ(blocks[i] == nullptr, i + 1 == n) << "allocation " << i + 1;
    }
    EXPECT_EQ(PlatformAllocationCount(), count + 4) << "failed attempts count too";
    for (long i = 0; i < 4; ++i) (i % 2 ? LocalFree : GlobalFree)(blocks[i]);
  }
  PlatformFailAllocationAt(2);
  PlatformFailAllocationAt(0);
  HGLOBAL a = GlobalAlloc(GHND, 1), b = GlobalAlloc(GHND, 1);
  EXPECT_TRUE(a && b) << "0 switches failures off";
  GlobalFree(a);
  GlobalFree(b);
}

}  // namespace
