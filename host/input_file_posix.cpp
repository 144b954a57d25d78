// Sizes past 2 GiB on 32-bit builds; the name is the C library's.
#define _FILE_OFFSET_BITS 64  // NOLINT(bugprone-reserved-identifier)

#include <sys/mman.h>
#include <sys/stat.h>

#include <cstdio>

#include "host/host_input.h"

namespace host {

int64_t OpenFileSize(std::FILE* file) {
  struct stat info;
  if (fstat(fileno(file), &info) != 0) return -1;
  return static_cast<int64_t>(info.st_size);
}

namespace {
constexpr size_t kLargePage = size_t{2} << 20;
}

bool InputBuffer::Allocate(size_t size) {
  Release();
  // Whole large pages, so that the last one is large too; an empty file
  // still gets a buffer, and so a place.
  const size_t held = size >= kLargePage ? (size + kLargePage - 1) & ~(kLargePage - 1) : size + 1;
  void* address = mmap(nullptr, held, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (address == MAP_FAILED) return false;
#ifdef MADV_HUGEPAGE
  if (held >= kLargePage) madvise(address, held, MADV_HUGEPAGE);  // a hint: fine if refused
#endif
  data_ = static_cast<uint8_t*>(address);
  size_ = size;
  held_ = held;
  return true;
}

void InputBuffer::Release() {
  if (data_) munmap(data_, held_);
  data_ = nullptr;
  size_ = held_ = 0;
}

}  // namespace host
