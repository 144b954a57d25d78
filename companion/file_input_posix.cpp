// Positions past 2 GiB on 32-bit builds; the name is the C library's.
#define _FILE_OFFSET_BITS 64  // NOLINT(bugprone-reserved-identifier)

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "companion/file_input.h"

namespace standin {
namespace internal {

InputFile OpenInputFile(const char* path) {
  // No waiting for a writer at the open: a FIFO is refused below.
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return kNoInputFile;
  struct stat info;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) return fd;
  close(fd);
  return kNoInputFile;
}

int64_t ReadInputFile(InputFile file, void* buffer, size_t count, int64_t offset) {
  ssize_t got;
  do {
    got = pread(static_cast<int>(file), buffer, count, static_cast<off_t>(offset));
  } while (got < 0 && errno == EINTR);
  return got;
}

int64_t InputFileSize(InputFile file) {
  struct stat info;
  if (fstat(static_cast<int>(file), &info) != 0) return -1;
  return info.st_size;
}

void CloseInputFile(InputFile file) { close(static_cast<int>(file)); }

}  // namespace internal
}  // namespace standin
