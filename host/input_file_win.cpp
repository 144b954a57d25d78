#include <windows.h>

#include <io.h>

#include <cerrno>
#include <cstdio>

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

}  // namespace host
