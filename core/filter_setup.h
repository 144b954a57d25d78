// The setup and import job record, and the helpers every subsystem shares.
//
// One movable, zero-filled global block holds a FilterSetup: the setup that
// CreateSetup fills from the profile, completed into the import job by
// ImportFile. The host sees only its handle. Byte layout on 32-bit targets
// (offsets in bytes; text fields are zero-terminated, sizes include the 0):
//   +0     magic 0xFFEEDDCC          +4     inputPath[260]
//   +264   driverName[265]           +532   colorCount
//   +536   overrideColorCount        +540   colors[256][3]
//   +1308  colorNames[256][17]       +5660  fontCount
//   +5664  fontNames[32][65]         +7744  fontFaces[32][65]
//   +9824  startName[260]            +10084 openName[260]
//   +10344 docNames[3][260]          +11124 percentDone
//   +11128 inputSize                 +11132 progressBase
//   +11136 progressSpan              +11140 picture
//   +11144 embeddedSource            +11148 modeSection[260]
//   +11408 profilePath[260]          +11668 colorTableSource[260]
//   +11928 hostContext               +11932 optionsHandle
//   +11936 request                   +11940 busy
//   +11944 reserved to 12000
//   +12000 persistentOptions (24 bytes: streamFunction, carriedWord, 16 more)
// On 64-bit Linux the handle and pointer fields are 8 bytes; the reserved
// area shrinks so that persistentOptions still starts at 12000.
#ifndef GIFIMPORT_CORE_FILTER_SETUP_H
#define GIFIMPORT_CORE_FILTER_SETUP_H

#include <cstddef>
#include <cstdint>

#include "gifimport/filter_api.h"
#include "gifimport/companion.h"
#include "gifimport/win_platform.h"
#include "platform/locked_global.h"

constexpr uint32_t kSetupMagic = 0xFFEEDDCCu;
constexpr size_t kTextFieldBytes = 260;  // paths and names: 259 characters + 0
constexpr size_t kDriverNameBytes = 265;
constexpr size_t kColorNameBytes = 17;
constexpr size_t kFontNameBytes = 65;
constexpr int kMaxProfileColors = 256;
constexpr int kMaxProfileFonts = 32;
constexpr size_t kSetupFixedBytes = 12000;

// The 24 bytes the host keeps in its options block between imports.
struct PersistentOptions {
  HostStreamProc streamFunction;  // not null: read through the host stream
  uint32_t carriedWord;           // kEscapeCarriedWord's: only kept and saved
  uint8_t more[16];               // only kept and saved
};

struct RgbTriple {
  uint8_t red, green, blue;
};

struct FilterSetup {
  uint32_t magic;
  char inputPath[kTextFieldBytes];
  char driverName[kDriverNameBytes];
  int32_t colorCount;
  int32_t overrideColorCount;
  RgbTriple colors[kMaxProfileColors];
  char colorNames[kMaxProfileColors][kColorNameBytes];
  int32_t fontCount;
  char fontNames[kMaxProfileFonts][kFontNameBytes];
  char fontFaces[kMaxProfileFonts][kFontNameBytes];
  char startName[kTextFieldBytes];
  char openName[kTextFieldBytes];
  char docNames[3][kTextFieldBytes];
  int32_t percentDone;
  int32_t inputSize;  // -1 when the stream cannot tell its length
  int32_t progressBase;
  int32_t progressSpan;
  QvPicture picture;
  uintptr_t embeddedSource;
  char modeSection[kTextFieldBytes];
  char profilePath[kTextFieldBytes];
  char colorTableSource[kTextFieldBytes];
  HostContext* hostContext;
  HGLOBAL optionsHandle;
  ImportRequest* request;
  // Not 0 while ImportFile runs on this setup: a status callback that comes
  // back into the filter must not free, re-import or change the job under it.
  uint32_t busy;
  uint8_t reserved[sizeof(void*) == 4 ? 56 : 28];
  PersistentOptions persistentOptions;
};

constexpr size_t kPersistentOptionsBytes = sizeof(PersistentOptions);
constexpr size_t kSetupBlockBytes = kSetupFixedBytes + kPersistentOptionsBytes;

static_assert(offsetof(FilterSetup, persistentOptions) == kSetupFixedBytes,
              "persistentOptions follows the 12000 fixed bytes");
static_assert(sizeof(void*) != 4 || (kPersistentOptionsBytes == 24 && sizeof(FilterSetup) == 12024),
              "32-bit setup block is 12000 + 24 bytes");
static_assert(
    sizeof(void*) != 4 ||
        (offsetof(FilterSetup, driverName) == 264 && offsetof(FilterSetup, colorCount) == 532 &&
         offsetof(FilterSetup, colors) == 540 && offsetof(FilterSetup, fontCount) == 5660 &&
         offsetof(FilterSetup, startName) == 9824 && offsetof(FilterSetup, docNames) == 10344 &&
         offsetof(FilterSetup, percentDone) == 11124 && offsetof(FilterSetup, picture) == 11140 &&
         offsetof(FilterSetup, modeSection) == 11148 &&
         offsetof(FilterSetup, hostContext) == 11928 && offsetof(FilterSetup, request) == 11936 &&
         offsetof(FilterSetup, busy) == 11940),
    "32-bit setup field offsets");

// The module instance handle, kept by the module's entry routine; the only
// writable global state of the filter.
extern HINSTANCE moduleInstance;
// The module's entry, called by the loader (on Linux by the module entry).
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

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

#endif
