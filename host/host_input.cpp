#include "host/host_input.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

namespace host {
namespace {

// Open host streams by user value - 1. The user value is 32 bits on every
// target, so it names a slot rather than carrying a pointer.
std::vector<std::FILE*>& StreamSlots() {
  static std::vector<std::FILE*> slots;
  return slots;
}

std::FILE* FileFor(uint32_t userValue) {
  std::vector<std::FILE*>& slots = StreamSlots();
  return userValue >= 1 && userValue <= slots.size() ? slots[userValue - 1] : nullptr;
}

int32_t WINAPI FileStreamProc(uint32_t userValue, int32_t operation, void* buffer, int32_t value,
                              int32_t origin) {
  std::FILE* file = FileFor(userValue);
  if (!file) return -1;
  switch (operation) {
    case kHostStreamRead: {
      if (value < 0 || (value > 0 && !buffer)) return -1;
      size_t n = std::fread(buffer, 1, static_cast<size_t>(value), file);
      if (n == 0 && std::ferror(file)) return -1;
      return static_cast<int32_t>(n);
    }
    case kHostStreamSeek: {
      static const int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
      if (origin < 0 || origin > 2) return -1;
      if (std::fseek(file, value, kWhence[origin]) != 0) return -1;
      [[fallthrough]];
    }
    case kHostStreamTell: {
      long pos = std::ftell(file);
      return pos < 0 || pos > INT32_MAX ? -1 : static_cast<int32_t>(pos);
    }
    default:
      return -1;
  }
}

std::string SystemError(const std::string& what, const std::string& path) {
  return "cannot " + what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

HGLOBAL ReadFileToGlobal(const std::string& path, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    *error = SystemError("open", path);
    return nullptr;
  }
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  bool failed = std::ferror(file) != 0;
  if (failed) *error = SystemError("read", path);
  std::fclose(file);
  if (failed) return nullptr;

  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  if (!block) {
    *error = "cannot get a memory block of " + std::to_string(bytes.size()) + " bytes for " + path;
    return nullptr;
  }
  if (!bytes.empty()) {
    void* data = GlobalLock(block);
    if (!data) {
      GlobalFree(block);
      *error = "cannot lock the memory block for " + path;
      return nullptr;
    }
    std::memcpy(data, bytes.data(), bytes.size());
    GlobalUnlock(block);
  }
  return block;
}

FileHostStream::~FileHostStream() {
  if (std::FILE* file = FileFor(userValue_)) {
    std::fclose(file);
    StreamSlots()[userValue_ - 1] = nullptr;
  }
}

bool FileHostStream::Open(const std::string& path, std::string* error) {
  if (userValue_ != 0) return false;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    *error = SystemError("open", path);
    return false;
  }
  std::vector<std::FILE*>& slots = StreamSlots();
  size_t slot = 0;
  while (slot < slots.size() && slots[slot]) ++slot;
  if (slot == slots.size()) slots.push_back(nullptr);
  slots[slot] = file;
  userValue_ = static_cast<uint32_t>(slot + 1);
  return true;
}

HostStreamProc FileHostStream::function() { return FileStreamProc; }

}  // namespace host
