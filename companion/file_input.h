// The system's side of a file stream: opening a regular file for reading,
// positioned reads and its size. POSIX in file_input_posix.cpp, Win32 in
// file_input_win.cpp. Internal to the stand-in library.
#ifndef GIFIMPORT_COMPANION_FILE_INPUT_H
#define GIFIMPORT_COMPANION_FILE_INPUT_H

#include <cstddef>
#include <cstdint>

namespace standin {
namespace internal {

// An open input file; kNoInputFile when there is none.
using InputFile = intptr_t;
constexpr InputFile kNoInputFile = -1;

// Opens `path` for reading; only a regular file counts (a directory reads as
// nothing, and a pipe would block the import).
InputFile OpenInputFile(const char* path);
// Up to `count` bytes at `offset`; the number read, 0 at the end, -1 on error.
int64_t ReadInputFile(InputFile file, void* buffer, size_t count, int64_t offset);
// The file's size in bytes, -1 on error.
int64_t InputFileSize(InputFile file);
void CloseInputFile(InputFile file);

}  // namespace internal
}  // namespace standin

#endif
