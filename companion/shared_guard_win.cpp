// The win32 thread model of mingw-w64 has no std::mutex: a slim reader/writer
// lock, statically initialised, so no start-up order can meet it unmade.
#include <windows.h>

#include "companion/standin_internal.h"

namespace standin {
namespace internal {
namespace {

SRWLOCK sharedLock = SRWLOCK_INIT;

}  // namespace

SharedGuard::SharedGuard() { AcquireSRWLockExclusive(&sharedLock); }
SharedGuard::~SharedGuard() { ReleaseSRWLockExclusive(&sharedLock); }

}  // namespace internal
}  // namespace standin
