// The setup and import job record, and the helpers every subsystem shares.
//
// One movable, zero-filled global block holds a FilterSetup: the setup that
// CreateSetup fills from the profile, completed into the import job by
// ImportFile. The host sees only its handle. The block's byte layout is
// public (gifimport/setup_block.h) for tools that inspect a setup; the
// names below are the filter's own for its sizes.
#ifndef GIFIMPORT_CORE_FILTER_SETUP_H
#define GIFIMPORT_CORE_FILTER_SETUP_H

#include <cstddef>
#include <cstdint>

#include "gifimport/companion.h"
#include "gifimport/filter_api.h"
#include "gifimport/setup_block.h"
#include "gifimport/win_platform.h"
#include "platform/locked_global.h"

namespace gifin {

constexpr uint32_t kSetupMagic = kSetupBlockMagic;
constexpr size_t kTextFieldBytes = kSetupBlockTextBytes;  // paths and names: 259 characters + 0
constexpr size_t kDriverNameBytes = kSetupBlockDriverNameBytes;
constexpr size_t kColorNameBytes = kSetupBlockColorNameBytes;
constexpr size_t kFontNameBytes = kSetupBlockFontNameBytes;
constexpr int kMaxProfileColors = kSetupBlockMaxColors;
constexpr int kMaxProfileFonts = kSetupBlockMaxFonts;
constexpr size_t kSetupFixedBytes = kSetupBlockFixedBytes;
constexpr size_t kPersistentOptionsBytes = sizeof(PersistentOptions);
constexpr size_t kSetupBlockBytes = kSetupFixedBytes + kPersistentOptionsBytes;

// The module instance handle, kept by the module's entry routine; the only
// writable global state of the filter.
extern HINSTANCE moduleInstance;

// A new zero-filled fixed work block of `bytes` bytes (0 taken as 1), or null
// when memory is exhausted.
void* AllocWorkBlock(size_t bytes);
// Releases the block `*block` holds, if any, and sets `*block` to null.
void FreeWorkBlock(void** block);
template <typename T>
void FreeWorkBlock(T** block) {
  void* raw = *block;
  FreeWorkBlock(&raw);
  *block = nullptr;
}

// Whether `text` ends within a 260-byte text field (259 characters and its
// 0), reading no byte past the field's size; a null text fits. Host texts
// are checked so before any is read further: the host may hand a buffer
// with no terminator.
bool FitsTextField(const char* text);

// Copies `text` into a field of `fieldBytes` bytes. Returns false, leaving
// the field untouched, when it does not fit (fieldBytes - 1 characters).
bool CopyTextField(char* field, size_t fieldBytes, const char* text);
template <size_t N>
bool CopyTextField(char (&field)[N], const char* text) {
  return CopyTextField(field, N, text);
}

// Fills the job fields from a host request. Returns false when a document
// name does not fit its field (259 characters): nothing overflows, that name
// is left as it was, the other fields are still filled, and ImportFile ends
// the import with a non-zero result instead of going on with a stale name.
// Also false for a null job or request.
bool InitJobFromRequest(FilterSetup* job, const ImportRequest* request);

// The setup behind `handle`, locked while the guard lives (As<FilterSetup>),
// or an empty guard with nothing locked when the handle names no live block
// of a setup's size that carries the magic. The size is asked first: it is 0
// for a freed or unknown handle, which is then never locked.
LockedGlobal LockSetup(HGLOBAL handle);

// The defaults of a setup without a profile. Returns 1.
int SetSetupDefaults(FilterSetup* setup);

// 24 on 32-bit targets.
int32_t PersistentOptionsSize();

}  // namespace gifin

// The module's entry, called by the loader (on Linux by the module entry).
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

#endif
