// The memory budget's controls on Windows. The system allocates the filter's
// blocks and keeps no budget of its own, so here the budget bounds only what
// the companion stand-in holds itself (pictures, output buffers); the host
// sets it with --max-memory as on Linux. One budget for every thread, under
// the stand-in's shared guard.
#include <cstdlib>

#include "companion/standin_internal.h"
#include "platform/platform_test.h"

namespace {

struct Budget {
  unsigned long long limit;
  unsigned long long inUse;
};

Budget& TheBudget() {
  static Budget budget = [] {
    const char* text = std::getenv("GIFIMPORT_MAX_MEMORY");
    if (text == nullptr || *text == 0) return Budget{kPlatformDefaultBudget, 0};
    char* end = nullptr;
    const unsigned long long bytes = std::strtoull(text, &end, 10);
    return Budget{*end == 0 ? bytes : kPlatformDefaultBudget, 0};
  }();
  return budget;
}

}  // namespace

extern "C" {

using standin::internal::SharedGuard;

void PlatformSetMemoryBudget(unsigned long long bytes) {
  SharedGuard guard;
  TheBudget().limit = bytes;
}
unsigned long long PlatformMemoryBudget(void) {
  SharedGuard guard;
  return TheBudget().limit;
}
unsigned long long PlatformMemoryInUse(void) {
  SharedGuard guard;
  return TheBudget().inUse;
}

int PlatformChargeMemory(unsigned long long bytes) {
  SharedGuard guard;
  Budget& b = TheBudget();
  if (b.limit != 0 && (b.inUse > b.limit || bytes > b.limit - b.inUse)) return 0;
  b.inUse += bytes;
  return 1;
}

void PlatformReleaseMemory(unsigned long long bytes) {
  SharedGuard guard;
  Budget& b = TheBudget();
  b.inUse -= bytes < b.inUse ? bytes : b.inUse;
}

}  // extern "C"
