#include "core/filter_setup.h"

// Keeps the instance for string loading and the module path. The runtime has
// started by the time the loader calls this.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  // A thread's attach finds the same instance already kept: it writes only
  // when it differs, so no thread writes while another imports and reads.
  if ((reason == DLL_PROCESS_ATTACH || reason == DLL_THREAD_ATTACH) &&
      gifin::moduleInstance != instance) {
    gifin::moduleInstance = instance;
  }
  return TRUE;
}
