#include <windows.h>

#include "companion/file_input.h"

namespace standin {
namespace internal {

namespace {
HANDLE AsHandle(InputFile file) { return reinterpret_cast<HANDLE>(file); }
}  // namespace

InputFile OpenInputFile(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kNoInputFile;
  if (GetFileType(file) == FILE_TYPE_DISK) return reinterpret_cast<InputFile>(file);
  CloseHandle(file);
  return kNoInputFile;
}

int64_t ReadInputFile(InputFile file, void* buffer, size_t count, int64_t offset) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  const DWORD want = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
  DWORD got = 0;
  if (ReadFile(AsHandle(file), buffer, want, &got, &at)) return got;
  return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
}

int64_t InputFileSize(InputFile file) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(AsHandle(file), &size)) return -1;
  return size.QuadPart;
}

void CloseInputFile(InputFile file) { CloseHandle(AsHandle(file)); }

}  // namespace internal
}  // namespace standin
