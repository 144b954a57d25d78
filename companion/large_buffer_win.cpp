#include <windows.h>

#include "companion/large_buffer.h"

namespace standin {
namespace internal {

// Large pages need a privilege few accounts hold: committed memory as it comes.
bool LargeBuffer::Allocate(size_t size) {
  Release();
  data_ = static_cast<uint8_t*>(
      VirtualAlloc(nullptr, size > 0 ? size : 1, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  held_ = data_ ? size : 0;
  return data_ != nullptr;
}

void LargeBuffer::Release() {
  if (data_) VirtualFree(data_, 0, MEM_RELEASE);
  data_ = nullptr;
  held_ = 0;
}

}  // namespace internal
}  // namespace standin
