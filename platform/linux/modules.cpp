// Module registry: instance handles, string tables, module paths and the
// Windows directory.
//
// An instance is the module's load address (dli_fbase), as an HINSTANCE is
// on Windows, so it is stable for as long as the module stays loaded.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/auxv.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/linux/module_registry.h"
#include "platform/platform_test.h"
#include "platform/linux/stand_in_internal.h"

namespace {

struct Module {
  std::string path;
  const ModuleResources* resources = nullptr;
  int registrations = 0;
};

struct ModuleTable {
  std::mutex mutex;
  std::unordered_map<HINSTANCE, Module> modules;
};

// Never destroyed: modules unregister from their own unload routines, which
// may run after this library's statics would be gone.
ModuleTable& Table() {
  static ModuleTable* table = new ModuleTable;
  return *table;
}

std::string ExecutablePath() {
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof path) return std::string();
  return std::string(path, static_cast<size_t>(length));
}

// The main program's load address, found through its program headers.
const void* ExecutableBase() {
  Dl_info info;
  const void* headers = reinterpret_cast<const void*>(getauxval(AT_PHDR));
  if (!headers || !dladdr(headers, &info)) return nullptr;
  return info.dli_fbase;
}

// The full path of the module loaded at `base`, as GetModuleFileNameA gives
// it; empty when `base` is no module's load address.
std::string ModulePathAt(const void* base) {
  Dl_info info;
  if (!base || !dladdr(base, &info) || info.dli_fbase != base) return std::string();
  // The loader names the main program by argv[0] (or not at all).
  if (base == ExecutableBase() || !info.dli_fname || !*info.dli_fname) return ExecutablePath();
  char resolved[PATH_MAX];
  if (realpath(info.dli_fname, resolved)) return resolved;
  return info.dli_fname;
}

// Windows semantics: the length without the 0 when it fits; otherwise size-1
// characters and the 0, and the result is `size`.
DWORD CopyTruncated(const std::string& text, LPSTR buffer, DWORD size) {
  if (!buffer || size == 0) return 0;
  if (text.size() < size) {
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
  }
  std::memcpy(buffer, text.data(), size - 1);
  buffer[size - 1] = '\0';
  return size;
}

bool EqualIgnoringCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(*a) != lower(*b)) return false;
  }
  return *a == *b;
}

}  // namespace

namespace winstandin {

std::string WindowsDirectory() {
  const char* fromEnvironment = getenv("WINDIR");
  if (fromEnvironment && *fromEnvironment) return fromEnvironment;
  return GIFIMPORT_WINDOWS_DIRECTORY;
}

}  // namespace winstandin

extern "C" {

// A module registered again (or with other resources) keeps its instance;
// the latest non-null resources are the ones LoadStringA reads. Each
// registration needs its own StandInUnregisterModule.
HINSTANCE StandInRegisterModule(const void* addressInModule, const ModuleResources* resources) {
  Dl_info info;
  if (!addressInModule || !dladdr(addressInModule, &info) || !info.dli_fbase) return nullptr;
  auto instance = static_cast<HINSTANCE>(info.dli_fbase);
  std::string path = ModulePathAt(info.dli_fbase);
  ModuleTable& table = Table();
  std::lock_guard<std::mutex> guard(table.mutex);
  Module& module = table.modules[instance];
  module.path = path;
  if (resources) module.resources = resources;
  ++module.registrations;
  return instance;
}

void StandInUnregisterModule(HINSTANCE instance) {
  ModuleTable& table = Table();
  std::lock_guard<std::mutex> guard(table.mutex);
  auto it = table.modules.find(instance);
  if (it != table.modules.end() && --it->second.registrations <= 0) table.modules.erase(it);
}

const char* StandInVersionValue(HINSTANCE instance, const char* key) {
  if (!key) return nullptr;
  ModuleTable& table = Table();
  std::lock_guard<std::mutex> guard(table.mutex);
  auto it = table.modules.find(instance);
  if (it == table.modules.end() || !it->second.resources) return nullptr;
  const ModuleResources& resources = *it->second.resources;
  for (int i = 0; i < resources.versionValueCount; ++i) {
    const ModuleVersionValue& entry = resources.versionValues[i];
    if (entry.key && EqualIgnoringCase(entry.key, key)) return entry.value;
  }
  return nullptr;
}

int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax) {
  if (!buffer || bufferMax <= 0) return 0;
  buffer[0] = '\0';
  ModuleTable& table = Table();
  std::lock_guard<std::mutex> guard(table.mutex);
  auto it = table.modules.find(instance);
  if (it == table.modules.end() || !it->second.resources) return 0;
  const ModuleResources& resources = *it->second.resources;
  for (int i = 0; i < resources.stringCount; ++i) {
    const ModuleStringResource& entry = resources.strings[i];
    if (entry.id != id || !entry.text) continue;
    size_t length = std::min(std::strlen(entry.text), static_cast<size_t>(bufferMax - 1));
    std::memcpy(buffer, entry.text, length);
    buffer[length] = '\0';
    return static_cast<int>(length);
  }
  return 0;
}

// Bits of PlatformFailPathQueries, for the calling thread's imports only.
static thread_local int failingPathQueries = 0;

void PlatformFailPathQueries(int which) { failingPathQueries = which; }

// A null module is the executable. A module that was not registered is still
// found when `module` is the load address of a loaded library, as on Windows.
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  std::string path;
  if (failingPathQueries & 1) return 0;
  if (!module) {
    path = ExecutablePath();
  } else {
    ModuleTable& table = Table();
    std::unique_lock<std::mutex> guard(table.mutex);
    auto it = table.modules.find(module);
    if (it != table.modules.end()) {
      path = it->second.path;
    } else {
      guard.unlock();
      path = ModulePathAt(module);
    }
  }
  if (path.empty()) return 0;
  return CopyTruncated(path, buffer, size);
}

// The length without the 0 when it fits; otherwise the size needed with the
// 0, and nothing is copied.
UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  if (failingPathQueries & 2) return 0;
  std::string directory = winstandin::WindowsDirectory();
  if (!buffer || directory.size() >= size) return static_cast<UINT>(directory.size() + 1);
  std::memcpy(buffer, directory.c_str(), directory.size() + 1);
  return static_cast<UINT>(directory.size());
}

}  // extern "C"
