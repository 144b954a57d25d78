/* Linux stand-in only: how a module gets its instance handle.
 *
 * Windows hands every DLL its instance in DllMain. On Linux the module's
 * entry shim (module_entry.cpp, linked into the module) registers the module
 * by an address inside it and its resource data, and calls DllMain with the
 * instance it gets back. LoadStringA and GetModuleFileNameA then work on it.
 */
#ifndef GIFIMPORT_PLATFORM_LINUX_MODULE_REGISTRY_H
#define GIFIMPORT_PLATFORM_LINUX_MODULE_REGISTRY_H

#include "gifimport/win_platform.h"
#include "resources/module_resources.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The instance of the module that contains `addressInModule` (its path from
 * the dynamic loader), with its resources. Registering twice gives the same
 * instance. */
WINPLATFORM_API HINSTANCE StandInRegisterModule(const void* addressInModule,
                                                const ModuleResources* resources);
WINPLATFORM_API void StandInUnregisterModule(HINSTANCE instance);
/* A version resource value of the module ("FileDescription", ...), or null. */
WINPLATFORM_API const char* StandInVersionValue(HINSTANCE instance, const char* key);

#ifdef __cplusplus
}
#endif

#endif
