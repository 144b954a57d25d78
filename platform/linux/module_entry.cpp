// The filter module's entry on Linux: the loader runs these on dlopen and
// dlclose, as Windows calls DllMain with attach and detach.
#include "platform/linux/module_registry.h"
#include "resources/module_resources.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

namespace {

HINSTANCE registeredInstance = nullptr;

__attribute__((constructor)) void AttachModule() {
  registeredInstance =
      StandInRegisterModule(reinterpret_cast<const void*>(&AttachModule), &gifinModuleResources);
  DllMain(registeredInstance, DLL_PROCESS_ATTACH, nullptr);
}

__attribute__((destructor)) void DetachModule() {
  DllMain(registeredInstance, DLL_PROCESS_DETACH, nullptr);
  StandInUnregisterModule(registeredInstance);
  registeredInstance = nullptr;
}

}  // namespace
