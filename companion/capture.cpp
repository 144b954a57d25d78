// Metafile capture and the preferences dialog of the companion stand-in, in
// their simplest form: a capture only collects the status reports the filter
// sends it and tells at its end whether an error was among them.
#include <cstdint>
#include <map>
#include <string>

#include "companion/standin.h"
#include "companion/standin_internal.h"

using standin::internal::Entry;
using standin::internal::ForeignId;
using standin::internal::LogId;
using standin::internal::LogTag;

namespace {

constexpr int kExtraValues = 10;  // the block that travels with kinds 2 and 3

struct Capture {
  LogTag tag;
  bool errorReported = false;
  int16_t firstError = 0;
  long reports = 0;
};

struct CaptureState {
  std::map<QvCapture, Capture> open;
  QvCapture lastId = 0;
};

CaptureState& State() {
  static CaptureState state;
  return state;
}

std::string CaptureId(QvCapture id) {
  auto& open = State().open;
  auto it = open.find(id);
  if (it != open.end()) return LogId("capture", &it->second.tag);
  return id == 0 ? "null" : "\"unknown\"";
}

}  // namespace

extern "C" {

QV_API void WINAPI QvPreferencesDialog(uintptr_t owner, HGLOBAL setup, uint32_t hostValue,
                                       EditSetupProc edit, int32_t flag, const char* title) {
  Entry entry("QvPreferencesDialog");
  entry.Raw("owner", ForeignId(reinterpret_cast<const void*>(owner)));
  entry.Raw("setup", ForeignId(setup)).Int("hostValue", hostValue);
  entry.Raw("edit", edit != nullptr ? "true" : "false").Int("flag", flag).Text("title", title);
  // The dialog's one action here: hand the setup to the filter's edit
  // operation, as pressing its button would.
  if (edit != nullptr) {
    entry.Int("editResult", edit(owner, reinterpret_cast<uintptr_t>(setup), hostValue));
  }
  entry.Log();
}

QV_API QvCapture WINAPI QvMetafileBegin(HWND owner, const char* title, const char* path,
                                        int32_t reserved, int32_t version, int32_t value) {
  CaptureState& s = State();
  // Ids are never 0 and never that of a capture still open.
  do {
    s.lastId += 1;
  } while (s.lastId == 0 || s.open.count(s.lastId) != 0);
  QvCapture id = s.lastId;
  s.open[id] = Capture();
  Entry("QvMetafileBegin")
      .Raw("owner", ForeignId(owner))
      .Text("title", title)
      .Text("path", path)
      .Int("reserved", reserved)
      .Int("version", version)
      .Int("value", value)
      .Raw("result", CaptureId(id))
      .Log();
  return id;
}

QV_API int32_t WINAPI QvMetafileStatus(uint32_t userValue, int32_t kind, int32_t code,
                                       int32_t value1, int32_t value2, int32_t severity,
                                       int32_t* extra) {
  Entry entry("QvMetafileStatus");
  entry.Raw("capture", CaptureId(userValue)).Int("kind", kind).Int("code", code);
  entry.Int("value1", value1).Int("value2", value2).Int("severity", severity);
  std::string values = "null";
  if (extra != nullptr) {
    values = "[";
    for (int i = 0; i < kExtraValues; ++i) values += (i ? "," : "") + std::to_string(extra[i]);
    values += "]";
  }
  entry.Raw("extra", values).Int("result", 0).Log();
  auto it = State().open.find(userValue);
  if (it != State().open.end()) {
    Capture& capture = it->second;
    capture.reports += 1;
    if (kind == 3 && !capture.errorReported) {
      capture.errorReported = true;
      capture.firstError = static_cast<int16_t>(code);
    }
  }
  return 0;  // go on: a capture never asks the import to stop
}

QV_API int16_t WINAPI QvMetafileEnd(QvCapture capture) {
  Entry entry("QvMetafileEnd");
  entry.Raw("capture", CaptureId(capture));
  auto& open = State().open;
  auto it = open.find(capture);
  int16_t result = kQvCaptureNotOpen;
  if (it != open.end()) {
    result = it->second.errorReported ? it->second.firstError : 0;
    open.erase(it);
  }
  entry.Int("result", result).Log();
  return result;
}

STANDIN_API int StandInLiveCaptures(void) { return static_cast<int>(State().open.size()); }

}  // extern "C"
