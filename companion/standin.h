// Controls of our companion library stand-in, for the host and the tests
// (the real library has none of these): what was recorded, rendering, live
// counts and fault injection. C++; the picture model is shared by value.
#ifndef GIFIMPORT_COMPANION_STANDIN_H
#define GIFIMPORT_COMPANION_STANDIN_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "gifimport/companion.h"
#include "gifimport/standin_log.h"  // the call log

#ifndef STANDIN_API
#define STANDIN_API
#endif

namespace standin {

struct Rgb {
  uint8_t red = 0, green = 0, blue = 0;
  bool operator==(const Rgb& o) const { return red == o.red && green == o.green && blue == o.blue; }
};

// One bitmap as QvBitmapBegin announced it and its bands delivered it.
struct Bitmap {
  int16_t left = 0, top = 0, right = 0, bottom = 0;  // picture space, y up
  uint16_t width = 0, height = 0;                    // from QvBitmapBegin
  int depth = 0;                                     // 1, 4 or 8
  bool transparent = false;
  uint16_t backColorIndex = 0;  // in force at QvBitmapBegin
  std::vector<Rgb> palette;     // in force at QvBitmapBegin
  struct Band {
    int16_t left, top, right, bottom;
    uint16_t width, rows;
    std::vector<uint8_t> data;  // rows x padded row length, top row first
  };
  std::vector<Band> bands;
  bool ended = false;
  // Palette index of pixel (x, y), y = 0 the top row; unpacked from the bands.
  int PixelIndex(int x, int y) const;
};

struct TextLine {
  int16_t x = 0, y = 0;  // origin, picture space
  int16_t extentX = 0, extentY = 0;
  int16_t height = 0;       // text height in force
  uint16_t colorIndex = 0;  // text colour index in force
  uint16_t backColorIndex = 0;
  Rgb color;         // the text colour from the palette in force
  std::string face;  // first entry of the font table, if any
  std::string text;
};

// What a document recorded: every drawing in call order.
struct Picture {
  std::string names[3];
  std::string startName, openName, pictureName;
  int32_t openReserved = -1;        // QvDocOpen's reserved argument (-1: never opened)
  int16_t frame[4] = {0, 0, 0, 0};  // x1, y1, x2, y2
  int16_t window[4] = {0, 0, 0, 0};
  int16_t scaleMode = 0;
  double scale = 0.0;
  std::vector<std::string> fontTable;
  std::vector<Rgb> palette;  // in force now
  Rgb background;
  bool hasBackground = false;
  int32_t backMode = 0;
  uint16_t backColorIndex = 0, textColorIndex = 0;
  int16_t textHeight = 0;
  struct Item {
    enum Kind { kBitmap, kText } kind;
    size_t index;  // into bitmaps or texts
  };
  std::vector<Item> order;
  std::vector<Bitmap> bitmaps;
  std::vector<TextLine> texts;
  bool started = false, finished = false, closed = false, aborted = false;
};

}  // namespace standin

extern "C" {

// ---- Live objects of every thread: all 0 after every operation that released
// everything.
STANDIN_API int StandInLiveStreams(void);
STANDIN_API int StandInLiveDocuments(void);
STANDIN_API int StandInLiveOptionsBlocks(void);
STANDIN_API int StandInLiveCaptures(void);

// ---- Faults, and the counters below them, are the calling thread's: an
// import on another thread neither trips nor counts them. StandInResetFaults
// switches every fault of this thread off.
STANDIN_API void StandInResetFaults(void);
STANDIN_API void StandInFailDocCreate(int fail);
STANDIN_API void StandInSetDocOpenResult(int16_t code);
STANDIN_API void StandInSetDocCloseResult(int16_t code);
// After the nth call (1 = the first) of the operation named (as "QvSetFontTable")
// leave the error (code, operation number) pending for QvGetError. "*" names
// every call on a live document, QvDocCreate's included (for fault sweeps).
STANDIN_API void StandInSetPendingErrorAfter(const char* operation, int nthCall, int16_t code,
                                             int16_t operationNumber);
// Calls on live documents so far (what "*" above counts).
STANDIN_API long StandInDocumentCalls(void);
STANDIN_API void StandInSetVersion(int32_t version);
// Captures: the nth progress report (1 = the first) that each capture gets
// is answered with a stop, and the follow-up confirmed, as a user pressing
// the capture's Cancel would; 0 = off.
STANDIN_API void StandInStopCaptureAtProgress(int nth);
// Units per inch that captures report for their metafiles; -1 (the default)
// reports the metafile's own, from the picture's scale.
STANDIN_API void StandInSetCaptureUnitsPerInch(int32_t units);
// Make the Nth stream read from now fail (returns 0 / short). 0 = off.
STANDIN_API void StandInFailStreamReadAt(long n);
// Stream read calls so far, of every kind (what the Nth above counts).
STANDIN_API long StandInStreamReadCalls(void);
// System reads made by file streams so far (a buffered stream makes one per
// buffer fill, however small the reads it serves).
STANDIN_API long StandInFileSystemReads(void);
// The position of the last stream closed when it was closed (a host stream:
// what its function told); -1 before any.
STANDIN_API int64_t StandInLastStreamPosition(void);

}  // extern "C"

// ---- Pictures. The model of the last document destroyed on the calling thread
// (or null); the picture API's StandInPictureLast.
STANDIN_API const standin::Picture* StandInLastPicture();
STANDIN_API void StandInForgetPictures();
namespace standin {
// How a picture is written. Where no bitmap pixel and no text is drawn the
// picture is transparent, unless `background` asks for its background
// colour there.
struct RenderOptions {
  bool background = false;
  int compression = 1;  // deflate level of PNG data, 0 to 9: fast by default
  // Told the part done (0 to 1000) now and then; a non-zero answer stops
  // the writing, which then fails.
  int (*progress)(void* user, int permille) = nullptr;
  void* progressUser = nullptr;
};
}  // namespace standin

// Render a picture at its frame's size: bitmaps and text in call order. A
// picture that fits one palette (its bitmaps share one, no text) is written
// as a palette PNG, with a transparency chunk; any other as RGBA. The SVG
// embeds every bitmap as a palette PNG. 0 on success; non-zero with a
// message in *error otherwise (a path: nothing is left at it).
STANDIN_API int StandInWritePng(const standin::Picture& picture, std::FILE* out,
                                const standin::RenderOptions& options, std::string* error);
STANDIN_API int StandInWriteSvg(const standin::Picture& picture, std::FILE* out,
                                const standin::RenderOptions& options, std::string* error);
STANDIN_API int StandInRenderPng(const standin::Picture& picture, const char* path,
                                 std::string* error);
STANDIN_API int StandInRenderSvg(const standin::Picture& picture, const char* path,
                                 std::string* error);
// RGBA pixels of the rendering, top row first (width x height x 4), alpha 0
// where nothing is drawn.
STANDIN_API int StandInRenderRgba(const standin::Picture& picture, std::vector<uint8_t>* rgba,
                                  int* width, int* height);
// The picture as the bytes of an Enhanced Metafile (libUEMF): device units
// are the frame's pixels, y down; the header's frame in 0.01 mm comes from
// the scale (scale mode 1: one unit = `scale` mm; else 96 units per inch).
// 0 on success; non-zero with a message in *error (also when the stand-in
// was built without libUEMF), *bytes then untouched.
STANDIN_API int StandInWriteEmf(const standin::Picture& picture, std::vector<uint8_t>* bytes,
                                std::string* error);

#endif
