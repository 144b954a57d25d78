// Global and local memory of the Linux stand-in: the behaviour the filter
// could notice on Windows, and the test controls.
#include <gtest/gtest.h>

#include <string>

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

TEST(PlatformMemory, LocksCountAndStaleAndForeignHandlesFail) {
  for (const Family& f : kFamilies) {
    SCOPED_TRACE(f.name);
    const int before = f.live();
    void* moveable = f.alloc(f.moveable, 16);
    void* fixed = f.alloc(0, 16);
    ASSERT_TRUE(moveable && fixed);
    EXPECT_EQ(f.live(), before + 2);
    void* address = f.lock(moveable);
    ASSERT_NE(address, nullptr);
    EXPECT_NE(address, moveable) << "a moveable handle must not be its address";
    EXPECT_EQ(f.lock(fixed), fixed);
    EXPECT_EQ(f.lock(moveable), address);
    EXPECT_TRUE(f.unlock(moveable)) << "still locked once";
    for (int i = 0; i < 2; ++i) EXPECT_FALSE(f.unlock(moveable)) << "unlocked, then no change";
    EXPECT_EQ(f.lock(moveable), address) << "and freed below while locked";

    EXPECT_EQ(PlatformTakeHandleFaults(), 0) << "unlocking an unlocked block is no fault";
    // The other family's blocks are foreign too; every use of a foreign or
    // stale handle is a fault the tests' live check sees.
    int local = 0;
    void* other = &f == &kFamilies[0] ? LocalAlloc(LHND, 8) : GlobalAlloc(GHND, 8);
    for (void* foreign : {static_cast<void*>(&local), address, other}) {
      EXPECT_EQ(f.lock(foreign), nullptr);
      EXPECT_EQ(f.free(foreign), foreign);
    }
    (&f == &kFamilies[0] ? LocalFree : GlobalFree)(other);
    EXPECT_EQ(PlatformTakeHandleFaults(), 6);

    EXPECT_EQ(f.free(moveable), nullptr);
    EXPECT_EQ(f.free(fixed), nullptr);
    EXPECT_EQ(f.live(), before);
    for (void* stale : {moveable, fixed}) {
      EXPECT_EQ(f.lock(stale), nullptr);
      EXPECT_FALSE(f.unlock(stale));
      EXPECT_EQ(f.free(stale), stale) << "a second free must fail";
    }
    EXPECT_EQ(f.free(nullptr), nullptr);
    EXPECT_EQ(PlatformTakeHandleFaults(), 6) << "freeing null is none";
  }
}

TEST(PlatformMemory, OnlyZeroInitBlocksStartAsZero) {
  for (const Family& f : kFamilies) {
    for (UINT flags : {0u, f.zeroInit, f.moveable, f.moveable | f.zeroInit}) {
      SCOPED_TRACE(std::string(f.name) + " flags " + std::to_string(flags));
      void* block = f.alloc(flags, 64);
      const std::string bytes(static_cast<char*>(f.lock(block)), 64);
      EXPECT_EQ(bytes == std::string(64, '\0'), (flags & f.zeroInit) != 0);
      f.unlock(block);
      f.free(block);
    }
  }
}

TEST(PlatformMemory, SizesAndTheLimitOfAThirtyTwoBitProcess) {
  const int before = PlatformLiveGlobalBlocks();
  EXPECT_EQ(GlobalAlloc(GHND, kPlatformMaxBlockBytes + 1), nullptr);
  EXPECT_EQ(LocalAlloc(LPTR, kPlatformMaxBlockBytes + 1), nullptr);
  EXPECT_EQ(GlobalAlloc(GMEM_FIXED, ~SIZE_T{0}), nullptr);
  EXPECT_EQ(PlatformLiveGlobalBlocks(), before);
  HGLOBAL block = GlobalAlloc(GHND, 12024);
  EXPECT_EQ(GlobalSize(block), 12024u);
  GlobalFree(block);
  EXPECT_EQ(GlobalSize(block), 0u);
  // A zero-size fixed block is still an address. (A zero-size moveable one
  // locks to null; the imports of empty host blocks check that.)
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
  LocalFree(moveable);
  EXPECT_EQ(LocalHandle(address), nullptr);
  LocalFree(fixed);
}

TEST(PlatformMemory, TheNthAllocationFromNowFailsOnceAndCounts) {
  const long count = PlatformAllocationCount();
  PlatformFailAllocationAt(3);
  void* blocks[4];
  for (long i = 0; i < 4; ++i) {
    blocks[i] = i % 2 ? LocalAlloc(LPTR, 8) : GlobalAlloc(GHND, 8);
    EXPECT_EQ(blocks[i] == nullptr, i == 2) << "allocation " << i + 1;
  }
  EXPECT_EQ(PlatformAllocationCount(), count + 4) << "failed attempts count too";
  for (long i = 0; i < 4; ++i) (i % 2 ? LocalFree : GlobalFree)(blocks[i]);
}

}  // namespace
