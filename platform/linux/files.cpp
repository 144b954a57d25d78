// File names and the open test (CreateFileA for reading, CloseHandle).
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/linux/stand_in_internal.h"
#include "platform/platform_test.h"

namespace {

// When no file has the exact name, the entry of its directory whose name
// differs only in case (the first in byte order, so the choice is stable).
std::string MatchCaseInsensitively(const std::string& path) {
  struct stat status;
  if (path.empty() || stat(path.c_str(), &status) == 0) return path;
  size_t slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) return path;
  DIR* listing = opendir(directory.c_str());
  if (!listing) return path;
  std::string best;
  while (const dirent* entry = readdir(listing)) {
    if (strcasecmp(entry->d_name, name.c_str()) != 0) continue;
    if (best.empty() || best > entry->d_name) best = entry->d_name;
  }
  closedir(listing);
  if (best.empty()) return path;
  return slash == std::string::npos ? best : directory + best;
}

struct FileTable {
  std::mutex mutex;
  std::unordered_map<uintptr_t, int> descriptors;  // handle -> open descriptor
};

// Never destroyed, like the other registries of this library.
FileTable& Files() {
  static FileTable* table = new FileTable;
  return *table;
}

}  // namespace

namespace winstandin {

std::string ResolveFileName(const char* name, bool bareNamesInWindowsDirectory) {
  if (!name) return std::string();
  std::string path(name);
  std::replace(path.begin(), path.end(), '\\', '/');
  if (bareNamesInWindowsDirectory && path.find('/') == std::string::npos) {
    std::string directory = WindowsDirectory();
    if (!directory.empty() && directory.back() != '/') directory += '/';
    path = directory + path;
  }
  return MatchCaseInsensitively(path);
}

}  // namespace winstandin

extern "C" {

// Only reading an existing file is supported: the filter's open test. The
// descriptor stays open until CloseHandle, so a leaked handle shows up in
// PlatformLiveFileHandles. A FIFO is opened without waiting for a writer
// and refused, so the test never hangs.
HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD /*share*/,
                          LPSECURITY_ATTRIBUTES /*security*/, DWORD disposition, DWORD /*flags*/,
                          HANDLE /*templateFile*/) {
  if (!name || !*name || access != GENERIC_READ || disposition != OPEN_EXISTING) {
    return INVALID_HANDLE_VALUE;
  }
  std::string path = winstandin::ResolveFileName(name, false);
  int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (descriptor < 0) return INVALID_HANDLE_VALUE;
  struct stat status;
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(descriptor);
    return INVALID_HANDLE_VALUE;
  }
  uintptr_t handle = winstandin::NewHandle();
  if (handle == 0) {
    close(descriptor);
    return INVALID_HANDLE_VALUE;
  }
  FileTable& files = Files();
  std::lock_guard<std::mutex> guard(files.mutex);
  files.descriptors[handle] = descriptor;
  return reinterpret_cast<HANDLE>(handle);
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  FileTable& files = Files();
  std::lock_guard<std::mutex> guard(files.mutex);
  auto it = files.descriptors.find(reinterpret_cast<uintptr_t>(handle));
  if (it == files.descriptors.end()) return FALSE;
  close(it->second);
  winstandin::ReleaseHandle(it->first);
  files.descriptors.erase(it);
  return TRUE;
}

int PlatformLiveFileHandles(void) {
  FileTable& files = Files();
  std::lock_guard<std::mutex> guard(files.mutex);
  return static_cast<int>(files.descriptors.size());
}

}  // extern "C"
