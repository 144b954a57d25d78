// GetPrivateProfileStringA: one value from an INI file, read afresh on every
// call (profiles are tiny and read a few dozen times per setup).
//
// The file, line by line (LF or CRLF, a UTF-8 byte order mark skipped):
//   [ section ]      blanks inside the brackets dropped; text after ']' is
//                    ignored; a header without ']' takes the rest of the line
//   key = value      blanks around key and value dropped
//   ; comment        only as the first non-blank character
// Lines of any other form are ignored. Names match without regard to case;
// the first key of that name, in the first section of that name that holds
// it, wins.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/linux/stand_in_internal.h"
#include "gifimport/win_platform.h"

namespace {

constexpr char kBlanks[] = " \t";

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualIgnoringCase(const std::string& a, const char* b) {
  size_t length = std::strlen(b);
  if (a.size() != length) return false;
  for (size_t i = 0; i < length; ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// One pair of matching outer quotes goes, as the Windows reader does.
std::string Unquote(const std::string& value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

bool FindValue(const std::string& path, const char* section, const char* key, std::string* value) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;

  std::string line;
  bool inSection = false;
  bool firstLine = true;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (firstLine && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    firstLine = false;
    // A stray 0 byte ends the line, so the count returned is what strlen sees.
    line.resize(std::strlen(line.c_str()));

    std::string text = Trim(line);
    if (text.empty() || text[0] == ';') continue;
    if (text[0] == '[') {
      size_t close = text.find(']');
      inSection = EqualIgnoringCase(
          Trim(text.substr(1, close == std::string::npos ? std::string::npos : close - 1)),
          section);
      continue;
    }
    if (!inSection) continue;
    size_t equals = text.find('=');
    if (equals == std::string::npos || !EqualIgnoringCase(Trim(text.substr(0, equals)), key))
      continue;
    *value = Unquote(Trim(text.substr(equals + 1)));
    return true;
  }
  return false;
}

}  // namespace

extern "C" {

// A null section or key (Windows lists the names then) gives 0 and an empty
// buffer. A null file name is win.ini in the Windows directory, as on
// Windows. The default loses its trailing blanks, as Windows strips them.
DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer,
                                      DWORD size, LPCSTR fileName) {
  if (!buffer || size == 0) return 0;
  buffer[0] = '\0';
  if (!section || !key) return 0;

  std::string path = winstandin::ResolveFileName(fileName ? fileName : "win.ini", true);
  std::string value;
  if (!FindValue(path, section, key, &value)) {
    value = defaultValue ? defaultValue : "";
    size_t last = value.find_last_not_of(kBlanks);
    value.erase(last == std::string::npos ? 0 : last + 1);
  }
  size_t length = std::min(value.size(), static_cast<size_t>(size - 1));
  std::memcpy(buffer, value.data(), length);
  buffer[length] = '\0';
  return static_cast<DWORD>(length);
}

}  // extern "C"
