// The host's side of an input: each input is opened once, here. A regular
// file may go to the filter by its path, in a global memory block or through
// a host stream function; anything else (standard input, a FIFO, a device)
// is read once, to at most kMaxInputBytes, and handed over from memory, so
// the filter never opens it a second time or waits on it.
#ifndef GIFIMPORT_HOST_HOST_INPUT_H
#define GIFIMPORT_HOST_HOST_INPUT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gifimport/host_stream.h"
#include "gifimport/win_platform.h"

namespace host {

// The same bound as a memory block the filter is handed: a GIF is never
// this large, /dev/zero is.
constexpr uint64_t kMaxInputBytes = uint64_t{1} << 30;

// The kinds of input the filter is handed, as the filter names them.
enum class InputKind { kFile, kMemory, kHostStream };

// A buffer of a given size for a whole file (input_file_posix.cpp,
// input_file_win.cpp). On Linux it asks for large pages: touching a fresh
// buffer of many megabytes a small page at a time costs several times the
// read into it.
class InputBuffer {
 public:
  InputBuffer() = default;
  ~InputBuffer();
  InputBuffer(const InputBuffer&) = delete;
  InputBuffer& operator=(const InputBuffer&) = delete;
  InputBuffer(InputBuffer&& other) noexcept { *this = std::move(other); }
  InputBuffer& operator=(InputBuffer&& other) noexcept;

  // False when there is no memory for it; what was held before is released.
  bool Allocate(size_t size);
  void Release();
  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t held_ = 0;  // what the system gave, the size rounded up
};

// An input as the host holds it. A regular file the filter reads by its
// path stays open here, unread: the host reads it only when it needs its
// bytes, in one read of the file's size.
class HostInput {
 public:
  std::string name;      // as given; "-" is standard input
  bool regular = false;  // a regular file the filter may open by its path

  // "standard input" for "-", else the name.
  std::string DisplayName() const;

  // Reads the whole file kept open for it, if there is one and it was not
  // read yet; false with *error set when that read fails.
  bool ReadKept(std::string* error);
  bool haveBytes() const { return haveBytes_; }
  const uint8_t* data() const { return whole_.data() ? whole_.data() : buffered_.data(); }
  size_t size() const { return whole_.data() ? wholeSize_ : buffered_.size(); }

 private:
  friend bool ReadHostInput(const std::string&, InputKind, HostInput*, std::string*);
  struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  bool ReadWhole(std::FILE* file, uint64_t limit, std::string* error);

  bool haveBytes_ = false;
  std::unique_ptr<std::FILE, FileCloser> kept_;  // open, not read yet
  uint64_t keptLimit_ = 0;                       // the most it may be read to
  InputBuffer whole_;                            // a regular file, read at its size
  size_t wholeSize_ = 0;                         // what the read gave
  std::vector<uint8_t> buffered_;                // anything else, read as it came
};

// Opens `name` once: a regular file going by its path (kind kFile) is kept
// open for ReadKept, else the input is read whole. False with *error set
// (the system's reason) when it cannot be opened or read.
bool ReadHostInput(const std::string& name, InputKind kind, HostInput* input, std::string* error);

// The size of an open regular file, -1 when the system cannot tell
// (input_file_posix.cpp, input_file_win.cpp).
int64_t OpenFileSize(std::FILE* file);

// What a filter entry is handed for an input, released on destruction.
class FilterInput {
 public:
  FilterInput() = default;
  ~FilterInput();
  FilterInput(const FilterInput&) = delete;
  FilterInput& operator=(const FilterInput&) = delete;

  // Prepares the input as the kind asked; non-regular inputs go as memory (or
  // as a host stream over memory when a stream is asked).
  bool Prepare(const HostInput& input, InputKind kind, std::string* error);
  InputKind kind() const { return kind_; }
  const std::string& path() const { return path_; }  // kFile only
  HGLOBAL memory() const { return memory_; }         // kMemory: unlocked block
  uint32_t streamValue() const { return streamValue_; }
  static HostStreamProc streamFunction();

 private:
  InputKind kind_ = InputKind::kFile;
  std::string path_;
  HGLOBAL memory_ = nullptr;
  uint32_t streamValue_ = 0;  // 0: none
};

// The system's words for the last error: "No such file or directory".
std::string SystemReason();

}  // namespace host

#endif
