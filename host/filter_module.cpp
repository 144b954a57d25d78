#include "host/filter_module.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#endif

namespace host {

#if defined(_WIN32)

namespace {
constexpr const char* kModuleName = "gifin.dll";
}

FilterModule::~FilterModule() {
  if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
}

bool FilterModule::Load(const std::string& path, std::string* error) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (!module) {
    *error = "cannot load " + path + " (system error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = module;
  path_ = path;
  return true;
}

void* FilterModule::Symbol(const char* name) const {
  if (!handle_) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

std::string FilterModule::DefaultPath() {
  char buffer[MAX_PATH] = {};
  DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  std::string exe(buffer, n < MAX_PATH ? n : 0);
  size_t slash = exe.find_last_of("\\/");
  return slash == std::string::npos ? kModuleName : exe.substr(0, slash + 1) + kModuleName;
}

#else

namespace {
constexpr const char* kModuleName = "gifin.so";
}

FilterModule::~FilterModule() {
  if (handle_) dlclose(handle_);
}

bool FilterModule::Load(const std::string& path, std::string* error) {
  // A bare name would send dlopen searching the library path; the user
  // means a file.
  std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  void* module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    const char* why = dlerror();
    *error = "cannot load " + path + ": " + (why ? why : "unknown reason");
    return false;
  }
  if (handle_) dlclose(handle_);
  handle_ = module;
  path_ = path;
  return true;
}

void* FilterModule::Symbol(const char* name) const {
  return handle_ ? dlsym(handle_, name) : nullptr;
}

std::string FilterModule::DefaultPath() {
  char buffer[PATH_MAX] = {};
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  std::string exe(buffer, n > 0 ? static_cast<size_t>(n) : 0);
  size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return kModuleName;
  std::string beside = exe.substr(0, slash + 1) + kModuleName;
#ifdef GIFIMPORT_MODULE_DIR_FROM_HOST
  // Installed, the modules are in the library folder, not beside the host.
  std::string installed =
      exe.substr(0, slash + 1) + GIFIMPORT_MODULE_DIR_FROM_HOST + "/" + kModuleName;
  if (access(beside.c_str(), F_OK) != 0 && access(installed.c_str(), F_OK) == 0) return installed;
#endif
  return beside;
}

#endif

}  // namespace host
