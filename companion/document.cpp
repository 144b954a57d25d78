// Documents of the companion stand-in: every picture call is logged and
// recorded into a standin::Picture, which outlives the document as the last
// picture of the thread that destroyed it. Faults let tests make the library
// fail the way the real one can, on the thread that armed them.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "companion/standin_internal.h"

using standin::internal::CopyText;
using standin::internal::Entry;
using standin::internal::JsonText;
using standin::internal::LogId;
using standin::internal::LogTag;

namespace {

// The filter sends bands of at most this many bytes of rows; a band that
// claims more is refused rather than read, since the stand-in cannot know
// how far the caller's buffer really goes.
constexpr size_t kMaxBandBytes = 32767;
constexpr int32_t kMaxFontTableEntries = 256;
constexpr int kPaletteSize = 256;

}  // namespace

struct QvPictureRec {
  LogTag tag;
  standin::Picture model;
  bool errorPending = false;
  LibraryErrorPair pending{0, 0};
  int openBitmap = -1;                     // index into model.bitmaps between begin and end
  QvCapture capture = 0;                   // the metafile capture this document is for
  standin::internal::MemoryCharge charge;  // what the model holds
};

namespace {

struct PendingFault {
  std::string operation;
  int callsLeft;
  LibraryErrorPair error;
};

// Every thread's live documents.
STANDIN_INLINE standin::internal::LiveSet<QvPictureRec>& LiveDocuments() {
  static standin::internal::LiveSet<QvPictureRec> live;
  return live;
}

// A thread's last picture, faults and counters.
struct DocumentState {
  std::unique_ptr<standin::Picture> last;
  standin::internal::MemoryCharge lastCharge;
  bool failCreate = false;
  int16_t openResult = 0;
  int16_t closeResult = 0;
  std::vector<PendingFault> faults;
  long calls = 0;  // on live documents, since the thread began
};

// The picture goes with its thread, and its charge back to the budget.
DocumentState& State() {
  thread_local DocumentState state STANDIN_HOT_TLS;
  return state;
}

STANDIN_INLINE QvPictureRec* Find(QvPicture picture) {
  return LiveDocuments().Contains(picture) ? picture : nullptr;
}

std::string PictureId(QvPicture picture) {
  QvPictureRec* doc = Find(picture);
  if (doc != nullptr) return LogId("doc", &doc->tag);
  return standin::internal::ForeignId(picture);
}

// Counts a call of `operation` on a live document and leaves the error a test
// asked for once the count is reached. An error already pending stays: the
// first one is what the filter would have met first.
void AfterCall(const char* operation, QvPictureRec* doc) {
  DocumentState& state = State();
  ++state.calls;
  auto& faults = state.faults;
  for (auto it = faults.begin(); it != faults.end();) {
    if ((it->operation != "*" && it->operation != operation) || --it->callsLeft > 0) {
      ++it;
      continue;
    }
    if (!doc->errorPending) {
      doc->errorPending = true;
      doc->pending = it->error;
    }
    it = faults.erase(it);
  }
}

// What the picture could not hold past the memory budget is the library's
// out of memory. The drawing is left out; the first error stays pending.
bool ChargePicture(QvPictureRec* doc, size_t bytes) {
  if (doc->charge.Add(bytes)) return true;
  if (!doc->errorPending) {
    doc->errorPending = true;
    doc->pending = LibraryErrorPair{kQvErrOutOfMemory, 0};
  }
  return false;
}

// One picture call: its log entry, logged when the call returns, and then
// counted for the faults on the document it was made on.
struct Call {
  Call(const char* name, QvPicture picture) : operation(name), entry(name), doc(Find(picture)) {
    if (entry.on()) entry.Raw("picture", PictureId(picture));
  }
  ~Call() {
    entry.Log();
    if (doc != nullptr) AfterCall(operation, doc);
  }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  const char* operation;
  Entry entry;
  QvPictureRec* doc;  // null for a null or unknown picture: nothing is done
};

std::string Ints(std::initializer_list<int64_t> values) {
  std::string json = "[";
  for (int64_t v : values) {
    if (json.size() > 1) json += ",";
    json += std::to_string(v);
  }
  return json + "]";
}

std::string RectJson(const PictureRect* rect) {
  if (rect == nullptr) return "null";
  return Ints({rect->x1.value, rect->y1.value, rect->x2.value, rect->y2.value});
}

// A rectangle, and whether the caller left bytes beyond its 16-bit values
// (a library may read them).
void LogRect(Entry& entry, const PictureRect* rect) {
  if (!entry.on()) return;
  entry.Raw("rect", RectJson(rect));
  if (rect == nullptr) return;
  for (const CoordSlot* c : {&rect->x1, &rect->y1, &rect->x2, &rect->y2}) {
    if (c->unused[0] || c->unused[1] || c->unused[2]) {
      entry.Int("unused", 1);
      return;
    }
  }
}

std::string PointJson(const PicturePoint* point) {
  if (point == nullptr) return "null";
  return Ints({point->x.value, point->y.value});
}

std::string CornersJson(const BitmapCorners* c) {
  if (c == nullptr) return "null";
  return "[" + Ints({c->xLeft.value, c->yTop.value}) + "," +
         Ints({c->xRight.value, c->yBottom.value}) + "," +
         Ints({c->xRight2.value, c->yTop2.value}) + "]";
}

std::string SizeJson(const BitmapSize* size) {
  if (size == nullptr) return "null";
  return Ints({size->width.value, size->rows.value});
}

standin::Rgb ToRgb(const PaletteEntry& entry) {
  standin::Rgb rgb;
  rgb.red = entry.red;
  rgb.green = entry.green;
  rgb.blue = entry.blue;
  return rgb;
}

std::string RgbJson(const standin::Rgb& rgb) { return Ints({rgb.red, rgb.green, rgb.blue}); }

// The depth a negated depth stands for; 0 for a value no bitmap can have
// (negating INT32_MIN would overflow).
int DepthOf(int32_t negDepth) { return negDepth >= -32 && negDepth <= 32 ? -negDepth : 0; }

// Bytes of one row at `depth` bits per pixel, padded to 4 bytes; 0 for a
// depth no bitmap can have.
size_t PaddedRowLength(int depth, int width) {
  if (depth < 1 || depth > 32 || width < 0) return 0;
  return (static_cast<size_t>(depth) * static_cast<size_t>(width) + 31) / 32 * 4;
}

std::string Checksum(const std::vector<uint8_t>& data) {
  uint32_t hash = 2166136261u;  // FNV-1a
  for (uint8_t value : data) hash = (hash ^ value) * 16777619u;
  char text[16];
  std::snprintf(text, sizeof text, "\"%08x\"", hash);
  return text;
}

}  // namespace

namespace standin {
namespace internal {

void ResetDocumentFaults() {
  DocumentState& s = State();
  s.failCreate = false;
  s.openResult = 0;
  s.closeResult = 0;
  s.faults.clear();
}

}  // namespace internal
}  // namespace standin

extern "C" {

QV_API QvPicture WINAPI QvDocCreate(int32_t reserved) {
  Entry entry("QvDocCreate");
  entry.Int("reserved", reserved);
  DocumentState& s = State();
  QvPictureRec* doc = s.failCreate ? nullptr : new (std::nothrow) QvPictureRec;
  if (doc == nullptr) {
    entry.Raw("result", "null").Log();
    return nullptr;
  }
  LiveDocuments().Insert(doc);
  if (entry.on()) entry.Raw("result", LogId("doc", &doc->tag)).Log();
  AfterCall("QvDocCreate", doc);
  return doc;
}

QV_API void WINAPI QvDocSetNames(QvPicture picture, const char* name1, const char* name2,
                                 const char* name3) {
  Call call("QvDocSetNames", picture);
  QvPictureRec* doc = call.doc;
  if (call.entry.on()) {
    call.entry.Raw("names",
                   "[" + JsonText(name1) + "," + JsonText(name2) + "," + JsonText(name3) + "]");
  }
  if (doc != nullptr) {
    doc->model.names[0] = CopyText(name1);
    doc->model.names[1] = CopyText(name2);
    doc->model.names[2] = CopyText(name3);
  }
}

QV_API int16_t WINAPI QvDocOpen(QvPicture picture, const char* startName, const char* openName,
                                int32_t reserved, HGLOBAL options, struct HostContext* context) {
  Call call("QvDocOpen", picture);
  QvPictureRec* doc = call.doc;
  call.entry.Text("startName", startName).Text("openName", openName).Int("reserved", reserved);
  if (call.entry.on()) {
    call.entry.Raw("options", standin::internal::OptionsBlockId(options));
    call.entry.Raw("context", standin::internal::ForeignId(context));
  }
  int16_t result = 0;
  if (doc != nullptr) {
    doc->model.startName = CopyText(startName);
    doc->model.openName = CopyText(openName);
    doc->model.openReserved = reserved;
    doc->capture = standin::internal::CaptureOfContext(context);
    result = State().openResult;
  }
  call.entry.Int("result", result);
  return result;
}

QV_API void WINAPI QvDocStart(QvPicture picture, const char* startName) {
  Call call("QvDocStart", picture);
  QvPictureRec* doc = call.doc;
  call.entry.Text("startName", startName);
  if (doc != nullptr) doc->model.started = true;
}

QV_API void WINAPI QvDocFinish(QvPicture picture) {
  Call call("QvDocFinish", picture);
  QvPictureRec* doc = call.doc;
  if (doc != nullptr) doc->model.finished = true;
}

QV_API int16_t WINAPI QvDocClose(QvPicture picture) {
  Call call("QvDocClose", picture);
  QvPictureRec* doc = call.doc;
  int16_t result = 0;
  if (doc != nullptr) {
    doc->model.closed = true;
    result = State().closeResult;
    if (doc->capture != 0) standin::internal::CaptureDocumentClosed(doc->capture, doc->model);
  }
  call.entry.Int("result", result);
  return result;
}

QV_API void WINAPI QvDocDestroy(QvPicture picture) {
  Call call("QvDocDestroy", picture);
  QvPictureRec* doc = call.doc;
  if (doc == nullptr) return;
  call.doc = nullptr;  // gone before the call is counted
  DocumentState& s = State();
  LiveDocuments().Erase(doc);
  // Its pending error, if nobody fetched it, goes with it.
  s.last.reset(new (std::nothrow) standin::Picture(std::move(doc->model)));
  if (s.last) s.lastCharge = std::move(doc->charge);
  delete doc;
}

QV_API void WINAPI QvPictureBegin(QvPicture picture, const char* name) {
  Call call("QvPictureBegin", picture);
  QvPictureRec* doc = call.doc;
  call.entry.Text("name", name);
  if (doc != nullptr) doc->model.pictureName = CopyText(name);
}

QV_API void WINAPI QvPictureHeaderEnd(QvPicture picture) {
  Call call("QvPictureHeaderEnd", picture);
}

QV_API void WINAPI QvPictureEnd(QvPicture picture) { Call call("QvPictureEnd", picture); }

namespace {

// The four coordinates of a 16-bit-form rectangle; a null one changes nothing.
void CopyRect(const PictureRect* rect, int16_t* out) {
  if (rect == nullptr) return;
  out[0] = rect->x1.value;
  out[1] = rect->y1.value;
  out[2] = rect->x2.value;
  out[3] = rect->y2.value;
}

}  // namespace

QV_API void WINAPI QvSetFrame(QvPicture picture, const PictureRect* frame) {
  Call call("QvSetFrame", picture);
  QvPictureRec* doc = call.doc;
  LogRect(call.entry, frame);
  if (doc != nullptr) CopyRect(frame, doc->model.frame);
}

QV_API void WINAPI QvSetWindow(QvPicture picture, const PictureRect* window) {
  Call call("QvSetWindow", picture);
  QvPictureRec* doc = call.doc;
  LogRect(call.entry, window);
  if (doc != nullptr) CopyRect(window, doc->model.window);
}

QV_API void WINAPI QvSetScale(QvPicture picture, int16_t mode, double factor) {
  Call call("QvSetScale", picture);
  QvPictureRec* doc = call.doc;
  if (call.entry.on())
    call.entry.Int("mode", mode).Raw("factor", standin::internal::JsonNumber(factor));
  if (doc != nullptr) {
    doc->model.scaleMode = mode;
    doc->model.scale = factor;
  }
}

QV_API void WINAPI QvSetFontTable(QvPicture picture, int32_t count, const char* const* faces) {
  Call call("QvSetFontTable", picture);
  QvPictureRec* doc = call.doc;
  call.entry.Int("count", count);
  std::vector<std::string> table;
  if (faces != nullptr) {
    for (int32_t i = 0; i < count && i < kMaxFontTableEntries; ++i)
      table.push_back(CopyText(faces[i]));
  }
  if (call.entry.on()) {
    std::string json = "[";
    for (const std::string& face : table) json += (json.size() > 1 ? "," : "") + JsonText(face);
    call.entry.Raw("faces", faces != nullptr ? json + "]" : "null");
  }
  if (doc != nullptr) doc->model.fontTable = std::move(table);
}

QV_API void WINAPI QvSetPalette(QvPicture picture, int16_t firstIndex, int32_t count,
                                const PaletteEntry* entries) {
  Call call("QvSetPalette", picture);
  QvPictureRec* doc = call.doc;
  call.entry.Int("first", firstIndex).Int("count", count);
  // Entries beyond index 255 have no place in a palette: they are left out,
  // and a first index outside 0..255 changes nothing.
  int32_t taken = 0;
  if (entries != nullptr && firstIndex >= 0 && firstIndex < kPaletteSize && count > 0) {
    taken = std::min<int32_t>(count, kPaletteSize - firstIndex);
  }
  if (call.entry.on()) {
    std::string json = "[";
    for (int32_t i = 0; i < taken; ++i) json += (i ? "," : "") + RgbJson(ToRgb(entries[i]));
    call.entry.Raw("entries", entries != nullptr ? json + "]" : "null");
  }
  if (doc != nullptr && taken > 0) {
    std::vector<standin::Rgb>& palette = doc->model.palette;
    if (palette.size() < static_cast<size_t>(firstIndex) + static_cast<size_t>(taken))
      palette.resize(firstIndex + taken);
    for (int32_t i = 0; i < taken; ++i) palette[firstIndex + i] = ToRgb(entries[i]);
  }
}

QV_API void WINAPI QvSetBackgroundColor(QvPicture picture, const PaletteEntry* color) {
  Call call("QvSetBackgroundColor", picture);
  QvPictureRec* doc = call.doc;
  if (call.entry.on()) call.entry.Raw("color", color != nullptr ? RgbJson(ToRgb(*color)) : "null");
  if (doc != nullptr && color != nullptr) {
    doc->model.background = ToRgb(*color);
    doc->model.hasBackground = true;
  }
}

QV_API void WINAPI QvSetBackMode(QvPicture picture, int32_t mode) {
  Call call("QvSetBackMode", picture);
  QvPictureRec* doc = call.doc;
  call.entry.Int("mode", mode);
  if (doc != nullptr) doc->model.backMode = mode;
}

QV_API void WINAPI QvSetBackColorIndex(QvPicture picture, const uint16_t* index) {
  Call call("QvSetBackColorIndex", picture);
  QvPictureRec* doc = call.doc;
  if (call.entry.on()) call.entry.Raw("index", index != nullptr ? std::to_string(*index) : "null");
  if (doc != nullptr && index != nullptr) doc->model.backColorIndex = *index;
}

QV_API void WINAPI QvSetTextColorIndex(QvPicture picture, const uint16_t* index) {
  Call call("QvSetTextColorIndex", picture);
  QvPictureRec* doc = call.doc;
  if (call.entry.on()) call.entry.Raw("index", index != nullptr ? std::to_string(*index) : "null");
  if (doc != nullptr && index != nullptr) doc->model.textColorIndex = *index;
}

QV_API void WINAPI QvSetTextHeight(QvPicture picture, CoordSlot height) {
  Call call("QvSetTextHeight", picture);
  QvPictureRec* doc = call.doc;
  call.entry.Int("height", height.value);
  if (doc != nullptr) doc->model.textHeight = height.value;
}

QV_API void WINAPI QvDrawText(QvPicture picture, const PicturePoint* extent,
                              const PicturePoint* origin, int32_t mode, const char* text) {
  Call call("QvDrawText", picture);
  QvPictureRec* doc = call.doc;
  if (call.entry.on()) {
    call.entry.Raw("extent", PointJson(extent)).Raw("origin", PointJson(origin)).Int("mode", mode);
    call.entry.Text("text", text);
  }
  // A line without its points or text has nowhere to go: logged, not drawn.
  if (doc != nullptr && extent != nullptr && origin != nullptr && text != nullptr &&
      ChargePicture(doc, sizeof(standin::TextLine) + sizeof(standin::Picture::Item) +
                             strnlen(text, standin::internal::kMaxTextBytes) +
                             (doc->model.fontTable.empty() ? 0 : doc->model.fontTable[0].size()))) {
    standin::Picture& m = doc->model;
    standin::TextLine line;
    line.x = origin->x.value;
    line.y = origin->y.value;
    line.extentX = extent->x.value;
    line.extentY = extent->y.value;
    line.height = m.textHeight;
    line.colorIndex = m.textColorIndex;
    line.backColorIndex = m.backColorIndex;
    if (m.textColorIndex < m.palette.size()) line.color = m.palette[m.textColorIndex];
    if (!m.fontTable.empty()) line.face = m.fontTable[0];
    line.text = CopyText(text);
    m.texts.push_back(std::move(line));
    m.order.push_back({standin::Picture::Item::kText, m.texts.size() - 1});
  }
}

QV_API void WINAPI QvBitmapBegin(QvPicture picture, const BitmapCorners* corners,
                                 const BitmapSize* size, int32_t negDepth, int32_t reserved0,
                                 int32_t reserved1, int16_t reserved3, int32_t transparent) {
  Call call("QvBitmapBegin", picture);
  QvPictureRec* doc = call.doc;
  if (call.entry.on()) {
    call.entry.Raw("corners", CornersJson(corners))
        .Raw("size", SizeJson(size))
        .Int("negDepth", negDepth);
    call.entry.Raw("reserved", Ints({reserved0, reserved1, reserved3}))
        .Int("transparent", transparent);
  }
  if (doc != nullptr && corners != nullptr && size != nullptr &&
      ChargePicture(doc, sizeof(standin::Bitmap) + sizeof(standin::Picture::Item) +
                             doc->model.palette.size() * sizeof(standin::Rgb))) {
    standin::Picture& m = doc->model;
    standin::Bitmap bitmap;
    bitmap.left = corners->xLeft.value;
    bitmap.top = corners->yTop.value;
    bitmap.right = corners->xRight.value;
    bitmap.bottom = corners->yBottom.value;
    bitmap.width = size->width.value;
    bitmap.height = size->rows.value;
    bitmap.depth = DepthOf(negDepth);
    bitmap.transparent = transparent != 0;
    bitmap.backColorIndex = m.backColorIndex;
    bitmap.palette = m.palette;
    m.bitmaps.push_back(std::move(bitmap));
    m.order.push_back({standin::Picture::Item::kBitmap, m.bitmaps.size() - 1});
    doc->openBitmap = static_cast<int>(m.bitmaps.size() - 1);
  }
}

QV_API void WINAPI QvBitmapBand(QvPicture picture, const BitmapCorners* corners,
                                const BitmapSize* size, int32_t negDepth, int32_t reserved1,
                                const uint8_t* rows) {
  Call call("QvBitmapBand", picture);
  QvPictureRec* doc = call.doc;
  size_t bytes = 0;
  if (size != nullptr) {
    bytes = size->rows.value * PaddedRowLength(DepthOf(negDepth), size->width.value);
  }
  bool readable = rows != nullptr && bytes <= kMaxBandBytes;
  const bool kept = doc != nullptr && doc->openBitmap >= 0 && corners != nullptr && size != nullptr;
  if (kept && !ChargePicture(doc, sizeof(standin::Bitmap::Band) + (readable ? bytes : 0))) {
    call.entry.Raw("checksum", "null").Text("refused", "past the memory budget");
    return;
  }
  std::vector<uint8_t> data;
  if (readable) data.assign(rows, rows + bytes);
  if (call.entry.on()) {
    call.entry.Raw("corners", CornersJson(corners))
        .Raw("size", SizeJson(size))
        .Int("negDepth", negDepth);
    call.entry.Int("reserved", reserved1).Int("bytes", static_cast<int64_t>(bytes));
    if (!readable) {
      call.entry.Raw("checksum", "null")
          .Text("refused", rows == nullptr ? "no rows" : "band too large");
    } else {
      call.entry.Raw("checksum", Checksum(data));
    }
  }
  // A band outside a begun bitmap has no bitmap to join: logged only.
  if (kept) {
    standin::Bitmap::Band band;
    band.left = corners->xLeft.value;
    band.top = corners->yTop.value;
    band.right = corners->xRight.value;
    band.bottom = corners->yBottom.value;
    band.width = size->width.value;
    band.rows = size->rows.value;
    band.data = std::move(data);
    doc->model.bitmaps[static_cast<size_t>(doc->openBitmap)].bands.push_back(std::move(band));
  }
}

QV_API void WINAPI QvBitmapEnd(QvPicture picture) {
  Call call("QvBitmapEnd", picture);
  QvPictureRec* doc = call.doc;
  if (doc != nullptr && doc->openBitmap >= 0) {
    doc->model.bitmaps[static_cast<size_t>(doc->openBitmap)].ended = true;
    doc->openBitmap = -1;
  }
}

QV_API void WINAPI QvGetError(QvPicture picture, int32_t mode, int32_t* flag,
                              LibraryErrorPair* pair) {
  Call call("QvGetError", picture);
  QvPictureRec* doc = call.doc;
  call.entry.Int("mode", mode);
  bool pending = doc != nullptr && doc->errorPending;
  // Without a flag to say so the error cannot be handed over: it stays.
  if (flag != nullptr) {
    *flag = pending ? 1 : 0;
    if (pending) {
      if (pair != nullptr) *pair = doc->pending;
      doc->errorPending = false;
    }
  }
  call.entry.Int("flag", flag != nullptr && pending ? 1 : 0);
  if (flag != nullptr && pending) {
    call.entry.Int("code", doc->pending.code).Int("operation", doc->pending.operation);
  }
}

QV_API void WINAPI QvAbort(QvPicture picture) {
  Call call("QvAbort", picture);
  QvPictureRec* doc = call.doc;
  if (doc != nullptr) doc->model.aborted = true;
}

STANDIN_API int StandInLiveDocuments(void) { return static_cast<int>(LiveDocuments().Size()); }

STANDIN_API void StandInResetFaults(void) {
  standin::internal::ResetDocumentFaults();
  standin::internal::ResetStreamFaults();
  standin::internal::ResetCaptureFaults();
}

STANDIN_API void StandInFailDocCreate(int fail) { State().failCreate = fail != 0; }

STANDIN_API void StandInSetDocOpenResult(int16_t code) { State().openResult = code; }

STANDIN_API void StandInSetDocCloseResult(int16_t code) { State().closeResult = code; }

STANDIN_API void StandInSetPendingErrorAfter(const char* operation, int nthCall, int16_t code,
                                             int16_t operationNumber) {
  if (operation == nullptr || nthCall < 1) return;
  State().faults.push_back({CopyText(operation), nthCall, LibraryErrorPair{code, operationNumber}});
}

STANDIN_API long StandInDocumentCalls(void) { return State().calls; }

}  // extern "C"

STANDIN_API const standin::Picture* StandInLastPicture() { return State().last.get(); }

STANDIN_API void StandInForgetPictures() {
  State().last.reset();
  State().lastCharge.Release();
}
