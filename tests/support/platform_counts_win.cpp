// The Linux stand-in's test controls over the real Windows system, which
// keeps no count of live blocks, metafiles or file handles that a test could
// read and cannot be made to fail an allocation: the counts read -1 (not
// counted: the live checks pass over them), and the tests that inject
// allocation faults are left out of the Windows runs.
#include "platform/platform_test.h"

extern "C" {
int PlatformLiveGlobalBlocks(void) { return -1; }
int PlatformLiveLocalBlocks(void) { return -1; }
int PlatformLiveMetafiles(void) { return -1; }
int PlatformLiveFileHandles(void) { return -1; }
int PlatformTakeHandleFaults(void) { return 0; }
long PlatformAllocationCount(void) { return 0; }
void PlatformFailAllocationAt(long) {}
}
