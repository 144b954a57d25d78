// A buffer of many megabytes, written once from start to end: on Linux in
// large pages, as touching fresh memory a small page at a time costs more
// than filling it. POSIX in large_buffer_posix.cpp, Win32 in
// large_buffer_win.cpp. Internal to the stand-in library.
#ifndef GIFIMPORT_COMPANION_LARGE_BUFFER_H
#define GIFIMPORT_COMPANION_LARGE_BUFFER_H

#include <cstddef>
#include <cstdint>

namespace standin {
namespace internal {

class LargeBuffer {
 public:
  LargeBuffer() = default;
  ~LargeBuffer() { Release(); }
  LargeBuffer(const LargeBuffer&) = delete;
  LargeBuffer& operator=(const LargeBuffer&) = delete;

  // False when there is no memory for it; what was held before is released.
  bool Allocate(size_t size);
  void Release();
  uint8_t* get() const { return data_; }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  uint8_t* data_ = nullptr;
  size_t held_ = 0;  // what the system gave
};

}  // namespace internal
}  // namespace standin

#endif
