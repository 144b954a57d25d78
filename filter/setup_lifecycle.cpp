// Setup lifecycle: CreateSetup, DestroySetup, EditSetup, EscapeSetup.
#include <cstring>

#include "filter/filter_api.h"
#include "filter/filter_setup.h"
#include "filter/status.h"
#include "output/companion.h"
#include "profile/profile.h"
#include "resources/string_ids.h"

namespace {

bool IsEmpty(const char* text) { return text == nullptr || text[0] == 0; }

// Host names must fit their 260-byte fields; a longer one is refused rather
// than cut, since a cut name would quietly name some other file or section.
bool FitsTextField(const char* text) {
  return IsEmpty(text) || std::strlen(text) < kTextFieldBytes;
}

// The persistent bytes as every transfer passes them, never more than the
// record that receives them.
int32_t PersistentTransferBytes() {
  const int32_t bytes = PersistentOptionsSize();
  constexpr auto kRecord = static_cast<int32_t>(sizeof(PersistentOptions));
  return bytes > 0 && bytes < kRecord ? bytes : kRecord;
}

// Fills a locked, magic-stamped block from the profile. false: the block is
// to be given up (a mode section without a driver, or a host mode name too
// long for its field).
bool FillSetup(FilterSetup* setup, const char* profileName, const char* modeName) {
  if (!IsEmpty(profileName)) CopyTextField(setup->profilePath, profileName);
  if (FindProfile(setup->profilePath) != 0) {
    setup->profilePath[0] = 0;
    SetSetupDefaults(setup);
    return true;  // no profile anywhere: the defaults make a valid setup
  }
  if (!IsEmpty(modeName)) {
    if (!CopyTextField(setup->modeSection, modeName)) return false;
  } else {
    ProfileFile file;
    OpenProfileFile(setup->profilePath, &file);
    ReadProfileKey(file, kFilterSectionName, kIdsModeKey, setup->modeSection,
                   sizeof setup->modeSection);
  }
  return ReadModeSection(setup, 1, 1) != 0;
}

}  // namespace

int SetSetupDefaults(FilterSetup* setup) {
  setup->modeSection[0] = 0;
  std::strcpy(setup->driverName, kFilterSectionName);
  std::strcat(setup->driverName, kDefaultDriverSuffix);
  if (LoadStringA(moduleInstance, kIdsFileKeyword, setup->colorTableSource,
                  sizeof setup->colorTableSource) <= 0) {
    setup->colorTableSource[0] = 0;
  }
  setup->overrideColorCount = 0;
  setup->embeddedSource = 0;
  return 1;
}

extern "C" {

GIFIN_API HGLOBAL WINAPI CreateSetup(HINSTANCE /*instance*/, const char* profileName,
                                     const char* modeName, uint32_t /*reserved*/) {
  if (static_cast<int32_t>(kFilterInterfaceVersion) > QvGetVersion()) return nullptr;
  if (!FitsTextField(profileName)) return nullptr;

  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, kSetupBlockBytes);
  if (block == nullptr) return nullptr;
  auto* setup = static_cast<FilterSetup*>(GlobalLock(block));
  bool made = false;
  if (setup != nullptr) {
    setup->magic = kSetupMagic;
    made = FillSetup(setup, profileName, modeName);
    GlobalUnlock(block);
  }
  if (!made) {
    GlobalFree(block);
    return nullptr;
  }
  return block;
}

GIFIN_API int32_t WINAPI DestroySetup(HGLOBAL setup) {
  if (GlobalLock(setup) == nullptr) return kErrSetupLock;
  GlobalUnlock(setup);
  GlobalFree(setup);
  return 0;
}

GIFIN_API int32_t WINAPI EditSetup(uintptr_t, uintptr_t, uintptr_t) { return 0; }

GIFIN_API int32_t WINAPI EscapeSetup(HGLOBAL handle, int32_t code, int32_t size, void* data,
                                     void* extra1, uintptr_t extra2) {
  if (handle == nullptr) return 0;
  // A handle that cannot be locked is no setup and no options block: nothing
  // to change.
  void* locked = GlobalLock(handle);
  if (locked == nullptr) return 0;

  // Only a block large enough for a whole setup is taken as one, so a small
  // block whose first word happens to match is never written past its end.
  uint32_t firstWord = 0;
  const SIZE_T blockBytes = GlobalSize(handle);
  if (blockBytes >= sizeof firstWord) std::memcpy(&firstWord, locked, sizeof firstWord);
  const bool isSetup = firstWord == kSetupMagic && blockBytes >= kSetupBlockBytes;

  const int32_t transferBytes = PersistentTransferBytes();
  PersistentOptions copy{};
  PersistentOptions* target = &copy;
  bool fetched = false;
  if (isSetup) {
    target = &static_cast<FilterSetup*>(locked)->persistentOptions;
  } else {
    fetched = QvOptionsControl(handle, kOptionFetchPersistent, transferBytes, nullptr, &copy, 0) == 0;
  }

  int32_t result = 0;
  if (code == kEscapeStreamFunction) {
    // The argument is the value itself: the host's stream function.
    if (size == 4) target->streamFunction = reinterpret_cast<HostStreamProc>(data);
  } else if (code == kEscapeSecondOption) {
    if (size == 4 && data != nullptr) std::memcpy(&target->secondOption, data, 4);
  } else {
    result = QvOptionsControl(handle, code, size, data, extra1, extra2);
  }

  // Written back after a passed-through code too, so the block keeps the
  // persistent bytes fetched above whatever that code did to them. Bytes that
  // could not be fetched are not written: zeros would wipe the host's values.
  if (fetched) QvOptionsControl(handle, kOptionStorePersistent, transferBytes, &copy, nullptr, 0);
  GlobalUnlock(handle);
  return result;
}

}  // extern "C"
