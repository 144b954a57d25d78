// Profile location, and the file name the profile reader is given.
#include "profile/profile.h"

#include <cstring>

#include "gifimport/companion.h"
#include "resources/string_ids.h"

namespace gifin {

namespace {

using PathBuffer = char[kTextFieldBytes];

// The open test: nothing is read, the handle is closed at once.
bool Opens(const char* candidate) {
  HANDLE file = CreateFileA(candidate, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE || file == nullptr) return false;
  CloseHandle(file);
  return true;
}

// Appends `tail` to the text in `buffer` with QvStringCopy, when the whole
// fits its 260 bytes; otherwise leaves the buffer alone and returns false.
bool Append(PathBuffer& buffer, const char* tail) {
  const size_t used = std::strlen(buffer);
  if (std::strlen(tail) >= kTextFieldBytes - used) return false;
  QvStringCopy(buffer + used, tail);
  return true;
}

// The separator is whatever ends the directory part that the companion
// library gives for a path; 0 when the path has no directory part.
char SeparatorOf(const char* path) {
  PathBuffer directory;
  QvPathDirectory(directory, path);
  const size_t length = std::strlen(directory);
  return length ? directory[length - 1] : '\0';
}

bool GetModulePath(PathBuffer& modulePath) {
  const DWORD length = GetModuleFileNameA(moduleInstance, modulePath, kTextFieldBytes);
  // A path that filled the buffer was cut: it names some other file.
  if (length == 0 || length >= kTextFieldBytes) return false;
  modulePath[length] = 0;
  return true;
}

// Not named after the Windows call: windows.h makes that name a macro.
bool ReadWindowsDirectory(PathBuffer& directory) {
  const UINT length = GetWindowsDirectoryA(directory, kTextFieldBytes);
  // A result not below the buffer size is the size the text would need.
  if (length == 0 || length >= kTextFieldBytes) return false;
  directory[length] = 0;
  return true;
}

// The file name of the profile named after the module: its file name with
// everything from the last "." replaced by ".INI". Only a "." in the file
// name counts, so a dotted directory never cuts the path; a name without
// any gets ".INI" appended.
bool ModuleProfileName(const char* modulePath, PathBuffer& name) {
  PathBuffer directory;
  QvPathDirectory(directory, modulePath);
  const char* fileName = modulePath + std::strlen(directory);
  const char* dot = std::strrchr(fileName, '.');
  const size_t stemLength = dot ? static_cast<size_t>(dot - fileName) : std::strlen(fileName);
  if (stemLength >= kTextFieldBytes) return false;
  std::memcpy(name, fileName, stemLength);
  name[stemLength] = 0;
  return Append(name, kProfileExtension);
}

}  // namespace

bool FindProfile(char* path) {
  if (path[0] != 0 && Opens(path)) return true;

  PathBuffer modulePath;
  PathBuffer profileName;  // what is looked for beside the module and in Windows
  const bool haveModule = GetModulePath(modulePath);
  if (path[0] != 0) {
    QvStringCopy(profileName, path);
  } else if (!haveModule || !ModuleProfileName(modulePath, profileName)) {
    return false;
  }

  PathBuffer candidate;
  if (haveModule) {
    QvPathDirectory(candidate, modulePath);
    if (Append(candidate, profileName) && Opens(candidate)) {
      QvStringCopy(path, candidate);
      return true;
    }
  }

  if (!ReadWindowsDirectory(candidate)) return false;
  const size_t length = std::strlen(candidate);
  char separator = haveModule ? SeparatorOf(modulePath) : '\0';
  if (separator == 0) separator = SeparatorOf(candidate);
  if (length == 0 || candidate[length - 1] != separator) {
    const char tail[2] = {separator, 0};
    // Without a known separator, or room for it, this step finds nothing.
    if (separator == 0 || !Append(candidate, tail)) return false;
  }
  if (!Append(candidate, profileName)) return false;
  QvStringCopy(path, candidate);
  return Opens(candidate);
}

void OpenProfileFile(const char* profilePath, ProfileFile* file) {
  char separator = 0;
  if (SeparatorOf(profilePath) == 0) {
    PathBuffer modulePath;
    PathBuffer windows;
    if (GetModulePath(modulePath)) separator = SeparatorOf(modulePath);
    if (separator == 0 && ReadWindowsDirectory(windows)) separator = SeparatorOf(windows);
  }
  size_t used = 0;
  if (separator != 0 && profilePath[0] != 0) {
    file->readerPath[used++] = '.';
    file->readerPath[used++] = separator;
  }
  const size_t length = std::strlen(profilePath);
  const size_t room = sizeof file->readerPath - 1 - used;
  const size_t copied = length < room ? length : room;
  std::memcpy(file->readerPath + used, profilePath, copied);
  file->readerPath[used + copied] = 0;
}

DWORD ReadProfileKey(const ProfileFile& file, const char* section, UINT keyId, char* buffer,
                     DWORD size) {
  char key[kTextFieldBytes];
  if (LoadStringA(moduleInstance, keyId, key, sizeof key) <= 0) {
    if (size > 0) buffer[0] = 0;
    return 0;
  }
  return GetPrivateProfileStringA(section, key, "", buffer, size, file.readerPath);
}

}  // namespace gifin
