/* Test controls of the Linux platform stand-in (not part of Windows).
 *
 * Live counts let tests check that every block and handle is released on
 * every way out; the allocation countdown makes the Nth allocation fail.
 * The live counts and the memory budget are the process's; the faults, the
 * allocation count and the handle faults are the calling thread's, so an
 * import on one thread neither trips nor counts another's.
 */
#ifndef GIFIMPORT_PLATFORM_PLATFORM_TEST_H
#define GIFIMPORT_PLATFORM_PLATFORM_TEST_H

#include "gifimport/win_platform.h"

#ifndef WINPLATFORM_API
#define WINPLATFORM_API /* the Windows build's replacement is in the tests */
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The largest single block a 32-bit process could hope to get. */
#define kPlatformMaxBlockBytes ((SIZE_T)1 << 30)

WINPLATFORM_API int PlatformLiveGlobalBlocks(void);
WINPLATFORM_API int PlatformLiveLocalBlocks(void);
WINPLATFORM_API int PlatformLiveMetafiles(void);   /* enhanced and plain */
WINPLATFORM_API int PlatformLiveFileHandles(void); /* from CreateFileA */
/* Global/Local locks, unlocks and frees of a handle that names no live
 * block of that family (freed, unknown, null) since the last call; the
 * count starts again at 0. */
WINPLATFORM_API int PlatformTakeHandleFaults(void);
/* Total Global/Local allocations made since start (for fault sweeps): every
 * call counts, failed ones too, so a sweep's positions stay put. */
WINPLATFORM_API long PlatformAllocationCount(void);
/* Make the Nth Global/LocalAlloc from now fail (1 = the next one; only that
 * one); 0 switches failures off. */
WINPLATFORM_API void PlatformFailAllocationAt(long n);
/* Make GetModuleFileNameA (bit 1) and GetWindowsDirectoryA (bit 2) fail,
 * returning 0, until called again without the bit. */
WINPLATFORM_API void PlatformFailPathQueries(int which);

/* One memory budget: the bytes of live Global and Local blocks and the
 * memory the stand-ins charge for what they hold themselves (the companion's
 * pictures, the output writers' buffers) together never pass it. An
 * allocation or a charge that would is refused. 0 = no budget. The default
 * is kPlatformDefaultBudget, or GIFIMPORT_MAX_MEMORY (bytes) from the
 * environment when the library loads. */
#define kPlatformDefaultBudget ((unsigned long long)512 << 20)
WINPLATFORM_API void PlatformSetMemoryBudget(unsigned long long bytes);
WINPLATFORM_API unsigned long long PlatformMemoryBudget(void);
WINPLATFORM_API unsigned long long PlatformMemoryInUse(void);
/* 1 with `bytes` charged, or 0 with nothing charged when they do not fit. */
WINPLATFORM_API int PlatformChargeMemory(unsigned long long bytes);
WINPLATFORM_API void PlatformReleaseMemory(unsigned long long bytes);

#ifdef __cplusplus
}
#endif

#endif
