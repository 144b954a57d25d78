// The host's side of the filter's memory and host-stream inputs: a file's
// bytes in a global memory block, and a host stream function over a file.
#ifndef GIFIMPORT_HOST_HOST_INPUT_H
#define GIFIMPORT_HOST_HOST_INPUT_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "output/companion.h"
#include "platform/win_api.h"

namespace host {

// The whole file in a movable global block (unlocked), or null with *error
// set. An empty file gives a block of size 0. The caller frees the block.
HGLOBAL ReadFileToGlobal(const std::string& path, std::string* error);

// A file read through the host stream protocol of output/companion.h. The
// user value names the open file; the object must outlive every call.
class FileHostStream {
 public:
  FileHostStream() = default;
  ~FileHostStream();
  FileHostStream(const FileHostStream&) = delete;
  FileHostStream& operator=(const FileHostStream&) = delete;

  bool Open(const std::string& path, std::string* error);
  uint32_t userValue() const { return userValue_; }
  static HostStreamProc function();

 private:
  uint32_t userValue_ = 0;  // 0: not open
};

}  // namespace host

#endif
