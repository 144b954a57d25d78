#include "host/host_input.h"
#include "host/interrupt.h"
#include "platform/locked_global.h"
#include "platform/platform_test.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace host {
namespace {

// Open host streams by user value - 1. The user value is 32 bits on every
// target, so it names a slot rather than carrying a pointer.
struct ByteStream {
  const HostInput* input = nullptr;  // null: a free slot
  int64_t position = 0;
};

std::vector<ByteStream>& StreamSlots() {
  static std::vector<ByteStream> slots;
  return slots;
}

ByteStream* StreamFor(uint32_t userValue) {
  std::vector<ByteStream>& slots = StreamSlots();
  if (userValue < 1 || userValue > slots.size()) return nullptr;
  ByteStream* stream = &slots[userValue - 1];
  return stream->input ? stream : nullptr;
}

int32_t WINAPI ByteStreamProc(uint32_t userValue, int32_t operation, void* buffer, int32_t value,
                              int32_t origin) {
  ByteStream* stream = StreamFor(userValue);
  if (!stream) return -1;
  const auto size = static_cast<int64_t>(stream->input->size());
  switch (operation) {
    case kHostStreamRead: {
      if (value < 0 || (value > 0 && !buffer)) return -1;
      const int64_t take = std::max<int64_t>(0, std::min<int64_t>(value, size - stream->position));
      if (take > 0)
        std::memcpy(buffer, stream->input->data() + stream->position, static_cast<size_t>(take));
      stream->position += take;
      return static_cast<int32_t>(take);
    }
    case kHostStreamSeek: {
      if (origin < 0 || origin > 2) return -1;
      const int64_t base = origin == 0 ? 0 : origin == 1 ? stream->position : size;
      const int64_t target = base + value;
      if (target < 0 || target > INT32_MAX) return -1;
      stream->position = target;
      return static_cast<int32_t>(target);
    }
    case kHostStreamTell:
      return stream->position > INT32_MAX ? -1 : static_cast<int32_t>(stream->position);
    default:
      return -1;
  }
}

// The most the host reads of an input: 1 GiB, and what the memory budget
// leaves.
uint64_t ReadLimit() {
  uint64_t limit = kMaxInputBytes;
  const unsigned long long budget = PlatformMemoryBudget(), inUse = PlatformMemoryInUse();
  const unsigned long long left = budget > inUse ? budget - inUse : 0;
  if (budget != 0 && left < limit) limit = left;
  return limit;
}

std::string TooLarge(const std::string& shown, uint64_t limit) {
  return shown + " holds more than " + std::to_string(limit) +
         " bytes (at most 1 GiB, within the memory budget): not a GIF this tool reads";
}

// Reads `file` to its end, at most ReadLimit(), so that an endless input
// such as /dev/zero stops there instead of eating all memory; false with
// *error set.
bool ReadAll(std::FILE* file, const std::string& shown, std::vector<uint8_t>* bytes,
             std::string* error) {
  bytes->clear();
  const uint64_t limit = ReadLimit();
  uint8_t chunk[65536];
  size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    if (bytes->size() + n > limit) {
      *error = TooLarge(shown, limit);
      return false;
    }
    bytes->insert(bytes->end(), chunk, chunk + n);
  }
  if (std::ferror(file)) {
    *error = "cannot read " + shown + ": " + SystemReason();
    return false;
  }
  return true;
}

}  // namespace

std::string SystemReason() { return std::strerror(errno); }

std::string HostInput::DisplayName() const { return name == "-" ? "standard input" : name; }

// A regular file in one read of the size it has, into a buffer of that size.
bool HostInput::ReadWhole(std::FILE* file, uint64_t limit, std::string* error) {
  const std::string shown = DisplayName();
  const int64_t size = OpenFileSize(file);
  if (size < 0) {
    *error = "cannot read " + shown + ": " + SystemReason();
    return false;
  }
  if (static_cast<uint64_t>(size) > limit) {
    *error = TooLarge(shown, limit);
    return false;
  }
  const auto wanted = static_cast<size_t>(size);
  if (!whole_.Allocate(wanted)) {
    *error = "cannot read " + shown + ": no memory for its " + std::to_string(size) + " bytes";
    return false;
  }
  // Unbuffered, the read goes straight into the buffer, in one call.
  std::setvbuf(file, nullptr, _IONBF, 0);
  const size_t got = wanted > 0 ? std::fread(whole_.data(), 1, wanted, file) : 0;
  if (std::ferror(file)) {
    *error = "cannot read " + shown + ": " + SystemReason();
    whole_.Release();
    return false;
  }
  wholeSize_ = got;  // a file cut short since its size was taken reads as what is left
  haveBytes_ = true;
  return true;
}

bool HostInput::ReadKept(std::string* error) {
  if (!kept_) return true;
  const std::unique_ptr<std::FILE, FileCloser> file = std::move(kept_);
  // Against the bound of the open: what the import holds meanwhile does
  // not stop the host reading what it was let read.
  return ReadWhole(file.get(), keptLimit_, error);
}

// An empty input goes to the filter like any other (by memory as a
// discarded block): its answer is the same by every input kind and in every
// command.
bool ReadHostInput(const std::string& name, InputKind kind, HostInput* input, std::string* error) {
  *input = HostInput();
  input->name = name;
  const std::string shown = input->DisplayName();
  if (name == "-") {
    if (InputIsTerminal()) {
      *error = "standard input is a terminal: send a GIF into it (gifimport import - < FILE)";
      return false;
    }
    UseBinaryMode(stdin);
    input->haveBytes_ = ReadAll(stdin, shown, &input->buffered_, error);
    return input->haveBytes_;
  }
  // stat does not open, so it never waits on a FIFO; the one open below
  // does, as reading a FIFO means.
  struct stat info;
  if (stat(name.c_str(), &info) != 0) {
    *error = "cannot open " + shown + ": " + SystemReason();
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    *error = "cannot read " + shown + ": it is a directory";
    return false;
  }
  input->regular = S_ISREG(info.st_mode);
  if (input->regular && static_cast<uint64_t>(info.st_size) > kMaxInputBytes) {
    if (kind == InputKind::kFile) return true;  // the filter reads it; the host keeps no copy
    *error = shown + " holds more than 1 GiB: not a GIF this tool reads";
    return false;
  }
  std::unique_ptr<std::FILE, HostInput::FileCloser> file(std::fopen(name.c_str(), "rb"));
  if (!file) {
    *error = "cannot open " + shown + ": " + SystemReason();
    return false;
  }
  if (input->regular && kind == InputKind::kFile) {
    // The filter reads it. What the budget would refuse to read is refused
    // now, as it is for every other way in.
    const int64_t size = OpenFileSize(file.get());
    const uint64_t limit = ReadLimit();
    if (size >= 0 && static_cast<uint64_t>(size) > limit) {
      *error = TooLarge(shown, limit);
      return false;
    }
    input->kept_ = std::move(file);
    input->keptLimit_ = limit;
    return true;
  }
  input->haveBytes_ = input->regular ? input->ReadWhole(file.get(), ReadLimit(), error)
                                     : ReadAll(file.get(), shown, &input->buffered_, error);
  return input->haveBytes_;
}

InputBuffer& InputBuffer::operator=(InputBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(held_, other.held_);
  }
  return *this;
}

InputBuffer::~InputBuffer() { Release(); }

FilterInput::~FilterInput() {
  if (memory_) GlobalFree(memory_);
  if (ByteStream* stream = StreamFor(streamValue_)) *stream = ByteStream();
}

bool FilterInput::Prepare(const HostInput& input, InputKind kind, std::string* error) {
  kind_ = input.regular || kind != InputKind::kFile ? kind : InputKind::kMemory;
  if (kind_ == InputKind::kFile) {
    path_ = input.name;
    return true;
  }
  if (!input.haveBytes()) {
    *error = "the input was not read";
    return false;
  }
  if (kind_ == InputKind::kHostStream) {
    std::vector<ByteStream>& slots = StreamSlots();
    size_t slot = 0;
    while (slot < slots.size() && slots[slot].input) ++slot;
    if (slot == slots.size()) slots.emplace_back();
    slots[slot].input = &input;
    slots[slot].position = 0;
    streamValue_ = static_cast<uint32_t>(slot + 1);
    return true;
  }
  memory_ = GlobalAlloc(GMEM_MOVEABLE, input.size());
  if (!memory_) {
    *error = "cannot get a memory block of " + std::to_string(input.size()) + " bytes";
    return false;
  }
  if (input.size() > 0) {
    const LockedGlobal locked(memory_);
    if (!locked) {
      *error = "cannot lock the memory block";
      return false;
    }
    std::memcpy(locked.As<void>(), input.data(), input.size());
  }
  return true;
}

HostStreamProc FilterInput::streamFunction() { return ByteStreamProc; }

}  // namespace host
