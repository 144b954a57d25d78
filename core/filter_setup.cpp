#include "core/filter_setup.h"

#include <cstring>

namespace gifin {

// Set by the module's entry (filter/module_main.cpp); read by every layer
// that loads strings or finds the module's path, so it lives at the bottom.
HINSTANCE moduleInstance = nullptr;

namespace {

// Length of `text` if it is shorter than `limit`, else `limit`; reads no
// byte past the first `limit` ones.
size_t BoundedLength(const char* text, size_t limit) {
  size_t n = 0;
  while (n < limit && text[n] != '\0') ++n;
  return n;
}

}  // namespace

void* AllocWorkBlock(size_t bytes) {
  HLOCAL handle = LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, bytes == 0 ? 1 : bytes);
  if (handle == nullptr) return nullptr;
  void* block = LocalLock(handle);
  if (block == nullptr) LocalFree(handle);
  return block;
}

void FreeWorkBlock(void** block) {
  if (block == nullptr || *block == nullptr) return;
  if (HLOCAL handle = LocalHandle(*block)) {
    LocalUnlock(handle);
    LocalFree(handle);
  }
  *block = nullptr;
}

LockedGlobal LockSetup(HGLOBAL handle) {
  if (handle == nullptr || GlobalSize(handle) < sizeof(FilterSetup)) return LockedGlobal();
  LockedGlobal setup(handle);
  if (setup && setup.As<FilterSetup>()->magic == kSetupMagic) return setup;
  return LockedGlobal();
}

bool FitsTextField(const char* text) {
  return text == nullptr || BoundedLength(text, kTextFieldBytes) < kTextFieldBytes;
}

bool CopyTextField(char* field, size_t fieldBytes, const char* text) {
  if (field == nullptr || text == nullptr || fieldBytes == 0) return false;
  const size_t length = BoundedLength(text, fieldBytes);
  if (length == fieldBytes) return false;  // no room for the terminator
  std::memcpy(field, text, length + 1);
  return true;
}

bool InitJobFromRequest(FilterSetup* job, const ImportRequest* request) {
  if (job == nullptr || request == nullptr) return false;
  job->picture = nullptr;
  job->percentDone = 0;
  job->hostContext = request->hostContext;
  job->optionsHandle = request->optionsHandle;
  job->request = const_cast<ImportRequest*>(request);

  // Every name is tried, so one that does not fit leaves the others filled
  // as they would be; the caller still refuses the import.
  bool allFit = true;
  for (int i = 0; i < 3; ++i) {
    const char* name = request->docNames[i];
    if (name != nullptr && !CopyTextField(job->docNames[i], name)) allFit = false;
  }
  return allFit;
}

int32_t PersistentOptionsSize() { return static_cast<int32_t>(kPersistentOptionsBytes); }

}  // namespace gifin
