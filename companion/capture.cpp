// Metafile capture and the preferences dialog of the companion stand-in.
//
// A capture is bound to the document opened with a host context that names
// it (userValue = the capture, statusCallback = QvMetafileStatus). It
// collects the status reports of the import and, when that document is
// closed, writes the recorded picture as an Enhanced Metafile and leaves the
// handle, frame and units per inch in the context, where the filter's
// metafile entries take them from.
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "companion/standin_internal.h"
#include "gifimport/filter_api.h"
#include "gifimport/win_platform.h"
#include "platform/locked_global.h"

using standin::internal::Entry;
using standin::internal::ForeignId;
using standin::internal::LogId;
using standin::internal::LogTag;

namespace {

// The metafile writer's physical size: kQvScaleMillimetres gives
// millimetres per unit within these bounds; anything else is taken as 96
// units per inch.
constexpr double kMillimetresPerInch = 25.4;
constexpr double kMinMillimetresPerUnit = 0.001;
constexpr double kMaxMillimetresPerUnit = 10.0;
constexpr int32_t kDefaultUnitsPerInch = 96;

struct Capture {
  LogTag tag;
  bool errorReported = false;
  int16_t firstError = 0;
  bool stopAsked = false;  // a progress report was answered with a stop
  bool stopped = false;    // ... and the follow-up confirmed it
  bool givenUp = false;    // the captured document was aborted
  bool writeFailed = false;
  std::string writeError;
  int progressReports = 0;
  long reports = 0;
  HostContext* context = nullptr;   // of the captured document
  HENHMETAFILE metafile = nullptr;  // the last one left in that context
};

// Every thread's open captures (under the shared guard). A capture stays
// where the map put it until it ends, so its thread uses it unguarded.
struct OpenCaptures {
  std::map<QvCapture, Capture> open;
  QvCapture lastId = 0;
};

OpenCaptures& Captures() {
  static OpenCaptures captures;
  return captures;
}

// A thread's faults.
struct CaptureState {
  int stopAtProgress = 0;
  int32_t unitsPerInch = -1;  // -1: the metafile's own
};

CaptureState& State() {
  thread_local CaptureState state;
  return state;
}

Capture* Find(QvCapture id) {
  standin::internal::SharedGuard guard;
  auto& open = Captures().open;
  auto it = open.find(id);
  return it == open.end() ? nullptr : &it->second;
}

std::string CaptureId(QvCapture id) {
  if (Capture* capture = Find(id)) return LogId("capture", &capture->tag);
  return id == 0 ? "null" : "\"unknown\"";
}

int32_t UnitsPerInch(const standin::Picture& picture) {
  if (State().unitsPerInch >= 0) return State().unitsPerInch;
  const double scale = picture.scale;
  if (picture.scaleMode == kQvScaleMillimetres && std::isfinite(scale) &&
      scale >= kMinMillimetresPerUnit && scale <= kMaxMillimetresPerUnit) {
    return static_cast<int32_t>(std::lround(kMillimetresPerInch / scale));
  }
  return kDefaultUnitsPerInch;
}

// The metafile of a picture, or null with the reason in *error.
HENHMETAFILE MakeMetafile(const standin::Picture& picture, std::string* error) {
  std::vector<uint8_t> bytes;
  if (StandInWriteEmf(picture, &bytes, error) != 0) return nullptr;
  if (bytes.empty() || bytes.size() > UINT_MAX) {
    *error = "the metafile has no size a handle can hold";
    return nullptr;
  }
  HENHMETAFILE metafile = SetEnhMetaFileBits(static_cast<UINT>(bytes.size()), bytes.data());
  if (metafile == nullptr) *error = "no metafile handle could be made";
  return metafile;
}

std::string PrintableHandle(const void* handle) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", handle);
  return text;
}

}  // namespace

namespace standin {
namespace internal {

QvCapture CaptureOfContext(HostContext* context) {
  if (context == nullptr || context->statusCallback != QvMetafileStatus) return 0;
  Capture* capture = Find(context->userValue);
  if (capture == nullptr) return 0;
  capture->context = context;
  return context->userValue;
}

void CaptureDocumentClosed(QvCapture id, const standin::Picture& picture) {
  Capture* capture = Find(id);
  if (capture == nullptr || capture->context == nullptr) return;
  HostContext* context = capture->context;
  // A second close of a captured document replaces the first metafile; one
  // that nobody has taken from the context yet would be lost otherwise.
  if (capture->metafile != nullptr && context->inputMemory == capture->metafile) {
    DeleteEnhMetaFile(capture->metafile);
  }
  capture->metafile = nullptr;
  context->inputMemory = nullptr;
  if (picture.aborted) {
    capture->givenUp = true;  // a picture given up is no picture to keep
    return;
  }
  // The frame in the metafile's own units: the writer puts the picture's
  // frame at device (0, 0), y down. Told also when the metafile cannot be
  // made, since the picture had it all the same.
  context->results[0] = 0;
  context->results[1] = 0;
  context->results[2] = picture.frame[2] - picture.frame[0];
  context->results[3] = picture.frame[3] - picture.frame[1];
  context->results[4] = UnitsPerInch(picture);
  std::string error;
  HENHMETAFILE metafile = MakeMetafile(picture, &error);
  capture->writeFailed = metafile == nullptr;
  capture->writeError = error;
  capture->metafile = metafile;
  context->inputMemory = metafile;
}

void ResetCaptureFaults() {
  State().stopAtProgress = 0;
  State().unitsPerInch = -1;
}

}  // namespace internal
}  // namespace standin

extern "C" {

QV_API void WINAPI QvPreferencesDialog(uintptr_t owner, HGLOBAL setup, uint32_t hostValue,
                                       EditSetupProc edit, int32_t flag, const char* title) {
  Entry entry("QvPreferencesDialog");
  if (entry.on()) {
    entry.Raw("owner", ForeignId(reinterpret_cast<const void*>(owner)));
    entry.Raw("setup", ForeignId(setup)).Int("hostValue", hostValue);
    entry.Raw("edit", edit != nullptr ? "true" : "false").Int("flag", flag).Text("title", title);
  }

  // There is no window to show: the dialog shows what it was given.
  std::printf("Preferences \"%s\"\n", standin::internal::CopyText(title).c_str());
  std::printf("  owner:      %s\n", PrintableHandle(reinterpret_cast<void*>(owner)).c_str());
  std::printf("  host value: %u\n", static_cast<unsigned>(hostValue));
  std::printf("  flag:       %d\n", static_cast<int>(flag));
  const SIZE_T setupBytes = setup != nullptr ? GlobalSize(setup) : 0;
  if (LockedGlobal fields(setupBytes >= sizeof(uint32_t) ? setup : nullptr); fields) {
    uint32_t firstWord = 0;
    std::memcpy(&firstWord, fields.As<void>(), sizeof firstWord);
    std::printf("  setup:      %s, a block of %lu bytes beginning 0x%08X\n",
                PrintableHandle(setup).c_str(), static_cast<unsigned long>(setupBytes),
                static_cast<unsigned>(firstWord));
  } else {
    std::printf("  setup:      %s, not a block that can be read\n", PrintableHandle(setup).c_str());
  }
  // The dialog's one action here: hand the setup to the filter's edit
  // operation, as pressing its button would.
  if (edit != nullptr) {
    const int32_t answer = edit(owner, reinterpret_cast<uintptr_t>(setup), hostValue);
    entry.Int("editResult", answer);
    std::printf("  edit:       called with (owner, setup, host value), answered %d\n",
                static_cast<int>(answer));
  } else {
    std::printf("  edit:       none given\n");
  }
  std::fflush(stdout);
  entry.Log();
}

QV_API QvCapture WINAPI QvMetafileBegin(HWND owner, const char* title, const char* path,
                                        int32_t reserved, int32_t version, int32_t value) {
  QvCapture id = 0;
  {
    standin::internal::SharedGuard guard;
    OpenCaptures& s = Captures();
    // Ids are never 0 and never that of a capture still open.
    do {
      s.lastId += 1;
    } while (s.lastId == 0 || s.open.count(s.lastId) != 0);
    id = s.lastId;
    s.open[id] = Capture();
  }
  if (standin::internal::LogOn()) {
    Entry("QvMetafileBegin")
        .Raw("owner", ForeignId(owner))
        .Text("title", title)
        .Text("path", path)
        .Int("reserved", reserved)
        .Int("version", version)
        .Int("value", value)
        .Raw("result", CaptureId(id))
        .Log();
  }
  return id;
}

QV_API int32_t WINAPI QvMetafileStatus(uint32_t userValue, int32_t kind, int32_t code,
                                       int32_t value1, int32_t value2, int32_t severity,
                                       int32_t* extra) {
  Entry entry("QvMetafileStatus");
  if (entry.on()) entry.Raw("capture", CaptureId(userValue));
  entry.Int("kind", kind).Int("code", code);
  entry.Int("value1", value1).Int("value2", value2).Int("severity", severity);
  std::string values = "null";
  if (extra != nullptr && entry.on()) {
    values = "[";
    for (int i = 0; i < kStatusExtraValues; ++i)
      values += (i ? "," : "") + std::to_string(extra[i]);
    values += "]";
  }
  int32_t answer = 0;  // go on, unless the capture's user asked to stop
  if (Capture* capture = Find(userValue)) {
    capture->reports += 1;
    if (kind == kStatusProgress && code == kStatusCodeProgress) {
      capture->progressReports += 1;
      if (capture->progressReports == State().stopAtProgress) {
        capture->stopAsked = true;
        answer = 1;
      }
    } else if (kind == kStatusCancelFollowUp && capture->stopAsked) {
      capture->stopAsked = false;
      capture->stopped = true;
      answer = 1;
    } else if (kind == kStatusError && !capture->errorReported) {
      capture->errorReported = true;
      capture->firstError = static_cast<int16_t>(code);
    }
  }
  entry.Raw("extra", values).Int("result", answer).Log();
  return answer;
}

QV_API int16_t WINAPI QvMetafileEnd(QvCapture id) {
  Entry entry("QvMetafileEnd");
  if (entry.on()) entry.Raw("capture", CaptureId(id));
  Capture* capture = Find(id);
  int16_t result = kQvCaptureNotOpen;
  if (capture != nullptr) {
    if (capture->errorReported) {
      result = capture->firstError;
    } else if (capture->stopped || capture->givenUp) {
      result = kQvCaptureStopped;
    } else if (capture->writeFailed) {
      result = kQvCaptureNoMetafile;
      entry.Text("writeError", capture->writeError.c_str());
    } else {
      result = 0;
    }
    entry.Raw("metafile", capture->metafile != nullptr ? "true" : "false");
    standin::internal::SharedGuard guard;
    Captures().open.erase(id);
  }
  entry.Int("result", result).Log();
  return result;
}

STANDIN_API int StandInLiveCaptures(void) {
  standin::internal::SharedGuard guard;
  return static_cast<int>(Captures().open.size());
}

STANDIN_API void StandInStopCaptureAtProgress(int nth) {
  State().stopAtProgress = nth > 0 ? nth : 0;
}

STANDIN_API void StandInSetCaptureUnitsPerInch(int32_t units) {
  State().unitsPerInch = units >= 0 ? units : -1;
}

}  // extern "C"
