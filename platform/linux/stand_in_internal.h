// Shared pieces of the Linux stand-in, private to libWinPlatform.
#ifndef GIFIMPORT_PLATFORM_LINUX_STAND_IN_INTERNAL_H
#define GIFIMPORT_PLATFORM_LINUX_STAND_IN_INTERNAL_H

#include <cstdint>
#include <string>

namespace winstandin {

// Handles that are not addresses (moveable blocks, files, metafiles) come
// from one pool of values inside an inaccessible reserved range, so a handle
// used as a pointer faults at once, and no two live handles of any kind are
// equal: a handle of one kind is always foreign to the calls of another.
// NewHandle gives 0 when the pool is exhausted. Thread-safe.
uintptr_t NewHandle();
void ReleaseHandle(uintptr_t handle);

// The Windows directory: $WINDIR when set and non-empty, else the directory
// fixed at build time.
std::string WindowsDirectory();

// A Windows file name as a Linux path: backslashes become slashes, since
// Windows takes either as a separator and the filter joins with '\'. When
// `bareNamesInWindowsDirectory`, a name without a separator is looked up in
// the Windows directory (the profile reader's rule). When no file has the
// exact name, an entry of the same directory whose last component differs
// only in case is taken instead, as Windows file names ignore case.
std::string ResolveFileName(const char* name, bool bareNamesInWindowsDirectory);

}  // namespace winstandin

#endif
