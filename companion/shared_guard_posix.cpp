#include <mutex>

#include "companion/standin_internal.h"

namespace standin {
namespace internal {
namespace {

// Never destroyed: a thread's own state may give its picture back while the
// process exits, after this library's statics would be gone.
std::mutex& SharedMutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

}  // namespace

SharedGuard::SharedGuard() { SharedMutex().lock(); }
SharedGuard::~SharedGuard() { SharedMutex().unlock(); }

}  // namespace internal
}  // namespace standin
