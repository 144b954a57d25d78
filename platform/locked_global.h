// A movable global block held locked for as long as the guard lives, so that
// every way out of a scope unlocks it (and frees it, when the guard made it).
#ifndef GIFIMPORT_PLATFORM_LOCKED_GLOBAL_H
#define GIFIMPORT_PLATFORM_LOCKED_GLOBAL_H

#include "gifimport/win_platform.h"

class LockedGlobal {
 public:
  LockedGlobal() = default;
  // Locks the caller's block; the guard only unlocks it again. A null block
  // or one that does not lock leaves the guard empty.
  explicit LockedGlobal(HGLOBAL block)
      : block_(block), address_(block != nullptr ? GlobalLock(block) : nullptr) {}
  // A new zero-filled movable block of `bytes` (at least one: a block of no
  // bytes cannot be locked), locked and owned: freed with the guard. Empty
  // when it cannot be had, with nothing left allocated.
  static LockedGlobal Allocate(SIZE_T bytes) {
    LockedGlobal guard(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes != 0 ? bytes : 1));
    guard.owned_ = guard.block_ != nullptr;
    return guard;
  }
  ~LockedGlobal() { Release(); }
  LockedGlobal(LockedGlobal&& other) noexcept { *this = static_cast<LockedGlobal&&>(other); }
  LockedGlobal& operator=(LockedGlobal&& other) noexcept {
    if (this != &other) {
      Release();
      block_ = other.block_;
      address_ = other.address_;
      owned_ = other.owned_;
      other.block_ = nullptr;
      other.address_ = nullptr;
      other.owned_ = false;
    }
    return *this;
  }
  LockedGlobal(const LockedGlobal&) = delete;
  LockedGlobal& operator=(const LockedGlobal&) = delete;

  template <typename T>
  T* As() const {
    return static_cast<T*>(address_);
  }
  HGLOBAL block() const { return block_; }
  explicit operator bool() const { return address_ != nullptr; }

  // Unlocks (and frees an owned block) now rather than at the end of scope.
  void Release() {
    if (address_ != nullptr) GlobalUnlock(block_);
    if (owned_) GlobalFree(block_);
    block_ = nullptr;
    address_ = nullptr;
    owned_ = false;
  }

 private:
  HGLOBAL block_ = nullptr;
  void* address_ = nullptr;
  bool owned_ = false;
};

#endif
