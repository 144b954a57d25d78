// Setup lifecycle: CreateSetup, DestroySetup, EditSetup, EscapeSetup.
#include <cstring>

#include "gifimport/filter_api.h"
#include "core/filter_setup.h"
#include "core/status.h"
#include "gifimport/companion.h"
#include "profile/profile.h"
#include "resources/string_ids.h"

namespace gifin {

namespace {

bool IsEmpty(const char* text) { return text == nullptr || text[0] == 0; }

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
  if (!FindProfile(setup->profilePath)) {
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
  return ReadModeSection(setup, /*readFonts=*/true, /*readColors=*/true);
}

}  // namespace

int SetSetupDefaults(FilterSetup* setup) {
  setup->modeSection[0] = 0;
  static_assert(sizeof kFilterSectionName + sizeof kDefaultDriverSuffix - 1 <=
                sizeof setup->driverName);
  // Both are constants, and the static_assert holds their sum to the field.
  // NOLINTBEGIN(clang-analyzer-security.insecureAPI.strcpy)
  std::strcpy(setup->driverName, kFilterSectionName);
  std::strcat(setup->driverName, kDefaultDriverSuffix);
  // NOLINTEND(clang-analyzer-security.insecureAPI.strcpy)
  if (LoadStringA(moduleInstance, kIdsFileKeyword, setup->colorTableSource,
                  sizeof setup->colorTableSource) <= 0) {
    setup->colorTableSource[0] = 0;
  }
  setup->overrideColorCount = 0;
  setup->embeddedSource = 0;
  return 1;
}

}  // namespace gifin

using namespace gifin;

extern "C" {

GIFIN_API HGLOBAL WINAPI CreateSetup(HINSTANCE /*instance*/, const char* profileName,
                                     const char* modeName, uint32_t /*reserved*/) {
  if (static_cast<int32_t>(kFilterInterfaceVersion) > QvGetVersion()) return nullptr;
  // Host names must fit their 260-byte fields; a longer one is refused
  // rather than cut, since a cut name would quietly name some other file
  // or section. The mode name is read only where a profile needs it.
  if (!FitsTextField(profileName)) return nullptr;

  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, kSetupBlockBytes);
  if (block == nullptr) return nullptr;
  bool made = false;
  {
    const LockedGlobal locked(block);
    if (auto* setup = locked.As<FilterSetup>()) {
      setup->magic = kSetupMagic;
      made = FillSetup(setup, profileName, modeName);
    }
  }
  if (!made) {
    GlobalFree(block);
    return nullptr;
  }
  return block;
}

GIFIN_API int32_t WINAPI DestroySetup(HGLOBAL handle) {
  // Only a live setup is freed: an options block or any other block is the
  // host's, and a handle freed before may name someone else's block now.
  bool busy = false;
  {
    const LockedGlobal setup = LockSetup(handle);
    if (!setup) return kSetupNotLive;
    busy = setup.As<FilterSetup>()->busy != 0;
  }
  if (busy) return kSetupBusy;  // the import running on it still needs it
  GlobalFree(handle);
  return 0;
}

GIFIN_API int32_t WINAPI EditSetup(uintptr_t, uintptr_t, uintptr_t) { return 0; }

GIFIN_API int32_t WINAPI EscapeSetup(HGLOBAL handle, int32_t code, int32_t size, void* data,
                                     void* extra1, uintptr_t extra2) {
  // The size is asked before any lock: it is 0 for a null, freed or unknown
  // handle, which has nothing to change and is left alone.
  if (handle == nullptr || GlobalSize(handle) == 0) return 0;

  const LockedGlobal locked = LockSetup(handle);
  FilterSetup* setup = locked.As<FilterSetup>();
  if (setup != nullptr && setup->busy) return kSetupBusy;
  // Passed on with the handle as given; the library checks the size it is
  // asked to move. Whatever the code stored stays: writing back bytes
  // fetched before would undo the host's own write.
  if (code != kEscapeStreamFunction && code != kEscapeCarriedWord) {
    return QvOptionsControl(handle, code, size, data, extra1, extra2);
  }

  const int32_t transferBytes = PersistentTransferBytes();
  PersistentOptions copy{};
  PersistentOptions* target = &copy;
  if (setup != nullptr) {
    target = &setup->persistentOptions;
  } else if (QvOptionsControl(handle, kQvOptionFetchPersistent, transferBytes, nullptr, &copy, 0) !=
             0) {
    // Neither a setup nor an options block whose bytes can be had: storing
    // zeros with one word changed would wipe the host's values.
    return 0;
  }
  // Only a size of 4 changes a word; the filter reads no more than that.
  if (size == kEscapeValueBytes && code == kEscapeStreamFunction) {
    // The argument is the value itself: the host's stream function.
    target->streamFunction = reinterpret_cast<HostStreamProc>(data);
  } else if (size == kEscapeValueBytes && data != nullptr) {
    std::memcpy(&target->carriedWord, data, kEscapeValueBytes);
  }
  if (setup == nullptr) {
    QvOptionsControl(handle, kQvOptionStorePersistent, transferBytes, &copy, nullptr, 0);
  }
  return 0;
}

}  // extern "C"
