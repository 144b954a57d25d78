// Registration, preferences and the metafile entries: GetFilterInfo,
// GetFilterPref, ImportGR, ImportCB, ImportEmbeddedGR, QVRGetFilterVersion.
//
// The metafile entries run a whole host cycle inside one call: an options
// block (the host's, or one of their own), a setup, the 24 persistent bytes
// carried from the block into the setup and back, a metafile capture of the
// companion library around one ImportFile, and the capture's metafile handed
// to the host with its frame. Status reports go to the capture, not to the
// host; the capture's end result stands for the import.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "gifimport/filter_api.h"
#include "core/filter_setup.h"
#include "gifimport/companion.h"
#include "gifimport/win_platform.h"
#include "resources/string_ids.h"

namespace gifin {

namespace {

// This filter's flag for the companion library: passed to the preferences
// dialog, and the reason why kQvOptionFilterBlockMark is set on every block
// the filter makes.
constexpr int32_t kFilterFlag = 1;
constexpr uint16_t kFilterBlockMarkValue = 0;
constexpr uint8_t kRegisterMarkValue = 0xFF;
constexpr int32_t kFilterBlockMarkBytes = 2;
constexpr int32_t kRefuseImportBytes = 2;
constexpr int32_t kCaptureValueBytes = 4;
constexpr int32_t kRegisterMarkBytes = 1;

// Units per inch when the capture gives none: the picture's largest side
// over 5 for the import entries, twips for the embedded one.
constexpr int64_t kSideToUnitsDivisor = 5;
constexpr int32_t kEmbeddedUnitsPerInch = 1440;

// The persistent bytes as every transfer passes them, never more than the
// setup's record holds.
int32_t PersistentTransferBytes() {
  const int32_t bytes = PersistentOptionsSize();
  constexpr auto kRecord = static_cast<int32_t>(sizeof(PersistentOptions));
  return bytes > 0 && bytes < kRecord ? bytes : kRecord;
}

void LoadTitle(char (&title)[kTextFieldBytes]) {
  if (LoadStringA(moduleInstance, kIdsTitle, title, static_cast<int>(sizeof title)) <= 0) {
    title[0] = 0;
  }
}

// Marks a block this filter made, as its flag asks.
void MarkOwnBlock(HGLOBAL block) {
  const uint16_t value = kFilterBlockMarkValue;
  QvOptionsControl(block, kQvOptionFilterBlockMark, kFilterBlockMarkBytes, &value, nullptr, 0);
}

// Stores the setup's persistent bytes into the block. Nothing is stored when
// the setup cannot be locked: zeros would wipe the host's values.
void StorePersistentOptions(HGLOBAL setup, HGLOBAL block) {
  const LockedGlobal locked(setup);
  auto* fields = locked.As<FilterSetup>();
  if (fields == nullptr) return;
  QvOptionsControl(block, kQvOptionStorePersistent, PersistentTransferBytes(),
                   &fields->persistentOptions, nullptr, 0);
}

// What one metafile entry was called with. The embedded entry differs from
// the worker in the points its fields name.
struct HostImportCall {
  uint32_t hostValue = 0;
  const SourceDescriptor* source = nullptr;
  ImportResult* result = nullptr;
  HGLOBAL options = nullptr;
  uint32_t streamUserValue = 0;
  HostStreamProc streamFunction = nullptr;
  bool embedded = false;
  int32_t embeddedInputSize = 0;  // the embedded entry's fifth argument
  const char* startText = nullptr;
};

// A source whose path runs past its 260 bytes would be read past the record;
// such a record, or none, is refused before anything is made.
bool IsUsableCall(const HostImportCall& call) {
  return call.source != nullptr && call.result != nullptr &&
         std::memchr(call.source->path, 0, sizeof call.source->path) != nullptr;
}

// The capture's units per inch, or the entry's fallback when it gave 0.
int32_t UnitsPerInch(const ImportResult& result, bool embedded) {
  if (result.unitsPerInch != 0) return result.unitsPerInch;
  if (embedded) return kEmbeddedUnitsPerInch;
  // In 64 bits: a difference of two 32-bit values does not fit 32.
  const int64_t width = std::llabs(static_cast<int64_t>(result.left) - result.right);
  const int64_t height = std::llabs(static_cast<int64_t>(result.top) - result.bottom);
  return static_cast<int32_t>((width > height ? width : height) / kSideToUnitsDivisor);
}

void DeleteMetafile(HANDLE metafile) {
  if (GetObjectType(metafile) == OBJ_ENHMETAFILE) {
    DeleteEnhMetaFile(static_cast<HENHMETAFILE>(metafile));
  } else {
    DeleteMetaFile(static_cast<HMETAFILE>(metafile));
  }
}

// The setup of one metafile import: the block's persistent options, the
// embedded entry's source and size, the call's stream function. Null when
// none could be made.
HGLOBAL MakeCaptureSetup(const HostImportCall& call, HGLOBAL block) {
  HGLOBAL setup = CreateSetup(moduleInstance, nullptr, nullptr, 0);
  if (setup == nullptr) return nullptr;
  {
    const LockedGlobal locked(setup);
    auto* fields = locked.As<FilterSetup>();
    if (fields == nullptr) {
      DestroySetup(setup);
      return nullptr;
    }
    QvOptionsControl(block, kQvOptionFetchPersistent, PersistentTransferBytes(), nullptr,
                     &fields->persistentOptions, 0);
    // A stream function the block brings along is used as it stands (with
    // the call's user value): keeping it valid is the host's part, and it is
    // the road ImportEmbeddedGR and kEscapeStreamFunction give a host stream.
    if (call.embedded) {
      fields->embeddedSource = reinterpret_cast<uintptr_t>(call.source);
      fields->inputSize = call.embeddedInputSize;
    }
  }
  if (call.streamFunction != nullptr) {
    EscapeSetup(setup, kEscapeStreamFunction, kEscapeValueBytes,
                reinterpret_cast<void*>(call.streamFunction), nullptr, 0);
  }
  return setup;
}

// The metafile and its frame, as the capture left them in the context.
void TakeCaptureResult(const HostImportCall& call, const HostContext& context,
                       HGLOBAL memoryInput) {
  ImportResult& result = *call.result;
  result.metafile = context.inputMemory;
  // A capture that made no picture may leave the field as the entry filled
  // it: the host's own GIF block is no metafile to hand back or delete.
  if (memoryInput != nullptr && result.metafile == memoryInput) result.metafile = nullptr;
  result.left = context.results[0];
  result.top = context.results[1];
  result.right = context.results[2];
  result.bottom = context.results[3];
  result.unitsPerInch = context.results[4];
  result.unitsPerInch = UnitsPerInch(result, call.embedded);
}

// One metafile import on an options block that exists: the capture's end
// result, or kHostRefused / kHostNoOptionsOrSetup before any capture begins.
int32_t ImportIntoCapture(const HostImportCall& call, HGLOBAL block) {
  uint16_t refuse = 0;
  QvOptionsControl(block, kQvOptionRefuseImport, kRefuseImportBytes, nullptr, &refuse, 0);
  if (refuse != 0) return kHostRefused;

  HGLOBAL setup = MakeCaptureSetup(call, block);
  if (setup == nullptr) return kHostNoOptionsOrSetup;

  const char* path = call.source->path;
  HGLOBAL memoryInput = nullptr;
  if (!call.embedded && path[0] == 0) memoryInput = call.source->memory;

  HostContext context;
  std::memset(&context, 0, sizeof context);
  context.statusCallback = QvMetafileStatus;
  context.hostValue = call.hostValue;
  context.inputMemory = memoryInput;

  static const char kNoName[] = "";
  ImportRequest request;
  std::memset(&request, 0, sizeof request);
  request.setupHandle = setup;
  request.optionsHandle = block;
  request.docNames[0] = request.docNames[1] = request.docNames[2] = kNoName;
  request.hostContext = &context;
  request.streamUserValue = call.streamUserValue;

  int32_t captureValue = 0;
  QvOptionsControl(block, kQvOptionCaptureValue, kCaptureValueBytes, nullptr, &captureValue, 0);
  char title[kTextFieldBytes];
  LoadTitle(title);
  const QvCapture capture = QvMetafileBegin(
      GetActiveWindow(), title, path, 0, static_cast<int32_t>(QVRGetFilterVersion()), captureValue);
  context.userValue = capture;

  const char* startName = kNoName;
  if (call.embedded && call.startText != nullptr) startName = call.startText;
  // Its errors have gone to the capture, whose end result stands for it.
  ImportFile(0, kNoName, startName, path, &request);

  StorePersistentOptions(setup, block);
  TakeCaptureResult(call, context, memoryInput);

  const int32_t ended = QvMetafileEnd(capture);
  if (ended != 0 && call.result->metafile != nullptr) {
    DeleteMetafile(call.result->metafile);
    call.result->metafile = nullptr;
  }
  DestroySetup(setup);
  return ended;
}

int32_t HostImportWorker(const HostImportCall& call) {
  if (!IsUsableCall(call)) return kHostBadRecord;
  HGLOBAL block = call.options;
  bool ownBlock = false;
  if (block == nullptr) {
    if (call.embedded) return kHostNoOptionsOrSetup;
    block = QvOptionsCreate(0, 0, 0, 0);
    if (block == nullptr) return kHostNoOptionsOrSetup;
    MarkOwnBlock(block);
    ownBlock = true;
  }
  const int32_t result = ImportIntoCapture(call, block);
  if (ownBlock) GlobalFree(block);
  return result;
}

}  // namespace

}  // namespace gifin

using namespace gifin;

extern "C" {

GIFIN_API int16_t WINAPI GetFilterInfo(uint32_t /*unused1*/, uint32_t /*unused2*/,
                                       HGLOBAL* optionsOut, uint32_t /*unused4*/) {
  // Without a place for the handle the block would be lost at once.
  if (optionsOut == nullptr) return 0;
  HGLOBAL block = QvOptionsCreate(0, 0, 0, 0);
  *optionsOut = block;
  if (block == nullptr) return 0;
  MarkOwnBlock(block);

  // The block is the host's even when no setup can give it the defaults.
  if (HGLOBAL setup = CreateSetup(moduleInstance, nullptr, nullptr, 0)) {
    StorePersistentOptions(setup, block);
    DestroySetup(setup);
    uint8_t registerMark = kRegisterMarkValue;
    EscapeSetup(block, kQvOptionRegisterMark, kRegisterMarkBytes, &registerMark, nullptr, 0);
  }
  return kFilterInfoMade;
}

GIFIN_API void WINAPI GetFilterPref(uint32_t /*unused1*/, uint32_t hostValue2, uintptr_t hostValue3,
                                    uint32_t /*unused4*/) {
  if (hostValue3 == 0) return;
  HGLOBAL setup = CreateSetup(moduleInstance, nullptr, nullptr, 0);
  if (setup == nullptr) return;
  char title[kTextFieldBytes];
  LoadTitle(title);
  QvPreferencesDialog(hostValue3, setup, hostValue2, EditSetup, kFilterFlag, title);
  DestroySetup(setup);
}

GIFIN_API int32_t WINAPI ImportGR(uint32_t hostValue, const SourceDescriptor* source,
                                  ImportResult* result, HGLOBAL options) {
  return ImportCB(hostValue, source, result, options, 0, nullptr);
}

GIFIN_API int32_t WINAPI ImportCB(uint32_t hostValue, const SourceDescriptor* source,
                                  ImportResult* result, HGLOBAL options, uint32_t streamUserValue,
                                  HostStreamProc streamFunction) {
  HostImportCall call;
  call.hostValue = hostValue;
  call.source = source;
  call.result = result;
  call.options = options;
  call.streamUserValue = streamUserValue;
  call.streamFunction = streamFunction;
  return HostImportWorker(call);
}

GIFIN_API int16_t WINAPI ImportEmbeddedGR(uint32_t hostValue, const SourceDescriptor* source,
                                          ImportResult* result, HGLOBAL options, int32_t inputSize,
                                          const char* startText) {
  HostImportCall call;
  call.hostValue = hostValue;
  call.source = source;
  call.result = result;
  call.options = options;
  call.embedded = true;
  call.embeddedInputSize = inputSize;
  call.startText = startText;
  // The capture's numbers are 16-bit, and so are this entry's own.
  return static_cast<int16_t>(HostImportWorker(call));
}

GIFIN_API uint32_t WINAPI QVRGetFilterVersion(void) { return kFilterInterfaceVersion; }

}  // extern "C"
