#include <sys/mman.h>

#include "companion/large_buffer.h"

namespace standin {
namespace internal {

namespace {
constexpr size_t kLargePage = size_t{2} << 20;
}

bool LargeBuffer::Allocate(size_t size) {
  Release();
  // Whole large pages, so that the last one is large too.
  const size_t held = size >= kLargePage ? (size + kLargePage - 1) & ~(kLargePage - 1) : size + 1;
  void* address = mmap(nullptr, held, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (address == MAP_FAILED) return false;
#ifdef MADV_HUGEPAGE
  if (held >= kLargePage) madvise(address, held, MADV_HUGEPAGE);  // a hint: fine if refused
#endif
  data_ = static_cast<uint8_t*>(address);
  held_ = held;
  return true;
}

void LargeBuffer::Release() {
  if (data_) munmap(data_, held_);
  data_ = nullptr;
  held_ = 0;
}

}  // namespace internal
}  // namespace standin
