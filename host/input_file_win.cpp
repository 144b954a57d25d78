#include <windows.h>

#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "host/host_input.h"

namespace host {

int64_t OpenFileSize(std::FILE* file) {
  const intptr_t handle = _get_osfhandle(_fileno(file));
  LARGE_INTEGER size;
  if (handle == -1 || !GetFileSizeEx(reinterpret_cast<HANDLE>(handle), &size)) {
    errno = EIO;  // the reason the caller says
    return -1;
  }
  return size.QuadPart;
}

bool InputBuffer::Allocate(size_t size) {
  Release();
  data_ = static_cast<uint8_t*>(std::malloc(size > 0 ? size : 1));  // an empty file has a place
  if (!data_) return false;
  size_ = held_ = size;
  return true;
}

void InputBuffer::Release() {
  std::free(data_);
  data_ = nullptr;
  size_ = held_ = 0;
}

}  // namespace host
