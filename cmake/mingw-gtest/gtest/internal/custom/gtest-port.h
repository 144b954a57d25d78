// GoogleTest's customisation point, for mingw-w64 with the win32 thread
// model: GCC 12 has no std::mutex there, which GoogleTest's Notification
// uses; this one waits on a Windows event instead.
#ifndef GIFIMPORT_MINGW_GTEST_CUSTOM_PORT_H
#define GIFIMPORT_MINGW_GTEST_CUSTOM_PORT_H

#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
 public:
  Notification() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~Notification() { CloseHandle(event_); }
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;
  void Notify() { SetEvent(event_); }
  void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

 private:
  HANDLE event_;
};

}  // namespace internal
}  // namespace testing

#endif
