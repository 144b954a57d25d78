// Sizes past 2 GiB on 32-bit builds; the name is the C library's.
#define _FILE_OFFSET_BITS 64  // NOLINT(bugprone-reserved-identifier)

#include <sys/stat.h>

#include <cstdio>

#include "host/host_input.h"

namespace host {

int64_t OpenFileSize(std::FILE* file) {
  struct stat info;
  if (fstat(fileno(file), &info) != 0) return -1;
  return static_cast<int64_t>(info.st_size);
}

}  // namespace host
