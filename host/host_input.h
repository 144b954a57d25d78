// The host's side of an input: each input is opened once, here. A regular
// file may go to the filter by its path, in a global memory block or through
// a host stream function; anything else (standard input, a FIFO, a device)
// is read once, to at most kMaxInputBytes, and handed over from memory, so
// the filter never opens it a second time or waits on it.
#ifndef GIFIMPORT_HOST_HOST_INPUT_H
#define GIFIMPORT_HOST_HOST_INPUT_H

#include <cstdint>
#include <string>
#include <vector>

#include "gifimport/host_stream.h"
#include "gifimport/win_platform.h"

namespace host {

// The same bound as a memory block the filter is handed: a GIF is never
// this large, /dev/zero is.
constexpr uint64_t kMaxInputBytes = uint64_t{1} << 30;

// The kinds of input the filter is handed, as the filter names them.
enum class InputKind { kFile, kMemory, kHostStream };

struct HostInput {
  std::string name;        // as given; "-" is standard input
  bool regular = false;    // a regular file the filter may open by its path
  bool haveBytes = false;  // bytes holds the whole input
  std::vector<uint8_t> bytes;

  // "standard input" for "-", else the name.
  std::string DisplayName() const;
};

// Opens `name` once and reads it whole, unless it is a regular file going
// by its path (kind kFile) and larger than the bound. False with *error set
// (the system's reason) when it cannot be read.
bool ReadHostInput(const std::string& name, InputKind kind, HostInput* input, std::string* error);

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
