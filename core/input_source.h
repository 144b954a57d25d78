// The three kinds of input a GIF reaches the filter by, shared by GetFileInfo
// and the import: a host stream, a global memory block holding the whole
// file, or a file.
#ifndef GIFIMPORT_CORE_INPUT_SOURCE_H
#define GIFIMPORT_CORE_INPUT_SOURCE_H

#include <cstdint>

#include "core/status.h"
#include "gifimport/companion.h"
#include "gifimport/input_stream.h"
#include "gifimport/win_platform.h"
#include "platform/locked_global.h"

namespace gifin {

// What the caller has. The first kind that applies is taken:
//   1. streamFunction set: host stream; `path` is carried along to it.
//   2. memory set and path empty: the memory block.
//   3. otherwise the file at `path`.
// A null path is taken as the empty string.
struct InputSource {
  const char* path = nullptr;
  HGLOBAL memory = nullptr;
  uintptr_t streamUserValue = 0;
  HostStreamProc streamFunction = nullptr;
};

// The host has its own of the same name and order (host/host_input.h).
enum class InputKind { kFile, kMemory, kHostStream };

// An open input. The stream of memory input reads the block through
// `lockedAddress`, whose address it was given: the record must stay where it
// is (not copied or moved) until CloseInput.
struct OpenedInput {
  OpenedInput() = default;
  OpenedInput(const OpenedInput&) = delete;
  OpenedInput& operator=(const OpenedInput&) = delete;

  QvStream stream = nullptr;
  InputKind kind = InputKind::kFile;
  LockedGlobal lockedMemory;      // memory input: the block, locked while open
  void* lockedAddress = nullptr;  // its locked address
};

// Opens the input the caller's way: no failure with `input->stream` set, or
// kErrStreamOpen with nothing held: no stream, the block not locked (a
// block of no bytes opens as an empty input; one with bytes that cannot be
// locked opens nothing). Reports nothing.
Unreported OpenInput(const InputSource& source, OpenedInput* input);

// Closes the stream and unlocks the block; safe after a failed open and when
// called twice.
void CloseInput(OpenedInput* input);

}  // namespace gifin

#endif
