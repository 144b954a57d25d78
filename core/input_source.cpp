#include "core/input_source.h"

#include <cstring>

namespace gifin {

Unreported OpenInput(const InputSource& source, OpenedInput* input) {
  input->stream = nullptr;
  input->lockedMemory.Release();
  input->lockedAddress = nullptr;
  const char* path = source.path ? source.path : "";
  StreamOpenDescriptor descriptor;
  std::memset(&descriptor, 0, sizeof descriptor);

  if (source.streamFunction) {
    input->kind = InputKind::kHostStream;
    descriptor.source = source.streamUserValue;
    descriptor.streamFunction = source.streamFunction;
    input->stream = QvStreamOpen(path, &descriptor, 0);
  } else if (source.memory && path[0] == '\0') {
    input->kind = InputKind::kMemory;
    LockedGlobal locked(source.memory);
    SIZE_T size = GlobalSize(source.memory);
    // A movable block of no bytes is born discarded and locks to nothing:
    // it holds an empty input, which ends early by every kind alike. Only
    // a block with bytes that will not lock cannot be opened.
    if (!locked && size != 0) return {kErrStreamOpen};
    input->lockedAddress = locked.As<void>();
    input->lockedMemory = static_cast<LockedGlobal&&>(locked);
    descriptor.source = reinterpret_cast<uintptr_t>(&input->lockedAddress);
    // Blocks stop far below 4 GB (a 32-bit process); the clamp only keeps
    // the descriptor field from wrapping.
    descriptor.size = size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size);
    input->stream = QvStreamOpen(nullptr, &descriptor, 0);
  } else {
    input->kind = InputKind::kFile;
    input->stream = QvStreamOpen(path, nullptr, 0);
  }

  if (!input->stream) {
    CloseInput(input);
    return {kErrStreamOpen};
  }
  return {};
}

void CloseInput(OpenedInput* input) {
  if (input->stream) QvStreamClose(input->stream);
  input->stream = nullptr;
  input->lockedMemory.Release();
  input->lockedAddress = nullptr;
}

}  // namespace gifin
