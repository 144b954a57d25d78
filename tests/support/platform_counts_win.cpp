// The Linux stand-in's test controls over the real Windows system: it keeps
// no count of live blocks, metafiles or file handles that a test could read,
// and cannot be made to fail an allocation. Counts read 0, so the checks
// that every object was released hold trivially; the tests that inject
// allocation faults are left out of the Windows runs.
#include "platform/platform_test.h"

extern "C" {
int PlatformLiveGlobalBlocks(void) { return 0; }
int PlatformLiveLocalBlocks(void) { return 0; }
int PlatformLiveMetafiles(void) { return 0; }
int PlatformLiveFileHandles(void) { return 0; }
long PlatformAllocationCount(void) { return 0; }
void PlatformFailAllocationAt(long) {}
}
