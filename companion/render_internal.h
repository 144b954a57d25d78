// Rendering of a recorded picture, shared by the RGBA, PNG and SVG outputs
// of the companion stand-in. Internal to the stand-in library.
//
// Image space: x to the right, y down, pixel (0, 0) the top-left pixel of
// the frame. A picture point (px, py) lands on column px - frame x1 and row
// frame y2 - py, because the picture's y axis points up.
#ifndef GIFIMPORT_COMPANION_RENDER_INTERNAL_H
#define GIFIMPORT_COMPANION_RENDER_INTERNAL_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "companion/standin.h"
#include "companion/standin_internal.h"

namespace standin {
namespace render {

// Largest frame side we render; anything wider is a broken picture, not art.
constexpr int kMaxImageSide = 16384;

// Text height used when the picture never set a usable one (0 or negative).
constexpr int kDefaultTextHeight = 12;

// ---- Bands (picture.cpp)

// Bytes of one band row: depth bits per pixel, padded to 4 bytes; 0 for a
// depth other than 1, 4 or 8.
size_t BandRowLength(int depth, int width);
// Palette index of pixel (column, row) of a band, row 0 its top row; -1 when
// the band has no such pixel or its data stop short of it.
int BandPixelIndex(const Bitmap::Band& band, int depth, int column, int row);

// ---- Canvas (render.cpp)

// An RGBA window onto image space: pixel (0, 0) of `rgba` is image pixel
// (left, top). Drawing outside the window is clipped.
struct Canvas {
  int left = 0, top = 0, width = 0, height = 0;
  std::vector<uint8_t> rgba;                 // width x height x 4, top row first
  internal::MemoryCharge charge;             // for rgba
  uint8_t* target = nullptr;                 // a caller's pixels, drawn on instead of rgba
  void Put(int x, int y, const Rgb& color);  // image coordinates, opaque
};

// Checks the frame and gives the image size, or false with a message.
bool ImageSize(const Picture& picture, int* width, int* height, std::string* error);
// The image rectangle a bitmap's bands cover, clipped to the image; false
// when it is empty.
bool BitmapBounds(const Picture& picture, const Bitmap& bitmap, int imageWidth, int imageHeight,
                  int* left, int* top, int* width, int* height);
// The whole rendering: background, then bitmaps and text in call order.
bool RenderCanvas(const Picture& picture, Canvas* canvas, std::string* error);
// One item of the picture's call order drawn on a canvas of the whole image
// (left and top 0) as the whole rendering draws it; false when there is no
// such item.
bool DrawItem(const Picture& picture, size_t item, Canvas* canvas);

// ---- Text (render_font.cpp)

// Glyph scale for a text height: the glyphs' capitals come out about as
// tall as a sans-serif font's capitals at that font size.
int GlyphScale(int textHeight);
// The text height that both outputs use for a line.
int EffectiveTextHeight(const TextLine& line);
// A font's family bits, as GDI and the metafile format give them.
enum : uint8_t {
  kFamilyUnknown = 0,
  kFamilyRoman = 0x10,
  kFamilySwiss = 0x20,
  kFamilyModern = 0x30,
  kFamilyScript = 0x40,
  kFamilyDecorative = 0x50
};
// A font table face, "FAMILY:NAME" or "NAME": the name, and its family's
// bits (kFamilyUnknown without a known family).
struct TableFace {
  std::string name;
  uint8_t family = kFamilyUnknown;
};
TableFace SplitTableFace(const std::string& tableFace);

// The kind of a font table face ("ROMAN:TIMES"), by its name, else by its
// family: a face with no known name still says whether it is serif,
// sans-serif or fixed.
enum class FaceKind { kSans, kSerif, kFixed };
FaceKind KindOfFace(const std::string& tableFace);
// Draws one line with the built-in font, baseline-left at the line's origin.
void DrawTextLine(const Picture& picture, const TextLine& line, Canvas* canvas);

// ---- Rows (render.cpp)

// A bitmap's bands indexed by the image rows they cover, so that a row of
// the picture is gathered without looking at every band.
class BitmapRows {
 public:
  BitmapRows(const Picture& picture, const Bitmap& bitmap, int imageHeight);
  // The palette index of every pixel the bitmap draws in image row `row`,
  // columns [x0, x0 + width), into out[column - x0]; the rest is left as
  // it was. Later bands win, a transparent bitmap's back colour index is
  // left out.
  void Gather(int row, int x0, int width, int16_t* out) const;
  void Gather(int row, int x0, int width, uint8_t* out) const;
  // Appends the column spans [from, to) of image row `row` that the bitmap
  // surely draws (none for a transparent bitmap, whose pixels may be left
  // out), clipped to [x0, x0 + width) and counted from x0.
  void Spans(int row, int x0, int width, std::vector<std::pair<int, int>>* spans) const;

 private:
  template <typename Index>
  void GatherInto(int row, int x0, int width, Index* out) const;

  const Picture& picture_;
  const Bitmap& bitmap_;
  std::vector<uint32_t> first_;  // bands of row r: bands_[first_[r] .. first_[r + 1])
  std::vector<uint32_t> bands_;
};

// True when the bitmaps draw every pixel of the rectangle, so that no pixel
// is left to the background or see-through.
bool CoversArea(const std::vector<const BitmapRows*>& bitmaps, int left, int top, int width,
                int height);

// ---- PNG (render_png.cpp)

// What a PNG is written as: palette indices with their colours (and
// transparency), or RGBA.
struct PngPlan {
  int width = 0, height = 0;
  bool palette = false;
  std::vector<Rgb> colors;     // palette entries
  std::vector<uint8_t> alpha;  // transparency of the first entries (tRNS); empty: opaque
  int bitDepth = 8;            // of palette indices: 1, 2, 4 or 8
  int emptyIndex = 0;          // the entry for pixels nothing draws (when any)
};

// Plans a palette PNG for the bitmaps (none of the picture's text): they
// must share one palette, and unless they cover the whole image one index
// must be free for the pixels nothing draws (see-through, or `emptyColor`
// when given). False: RGBA.
bool PlanPalette(const std::vector<const Bitmap*>& bitmaps, const Rgb* emptyColor, bool covered,
                 PngPlan* plan);

// Where PNG bytes go.
struct ByteSink {
  bool (*write)(void* user, const uint8_t* data, size_t size) = nullptr;  // false: failed
  void* user = nullptr;
};
// Writes a PNG row by row: rows(y, row) fills row y, one palette index a
// byte or RGBA; the rows are packed to the plan's bit depth here.
bool WritePng(const PngPlan& plan, const std::function<void(int, uint8_t*)>& rows,
              const ByteSink& sink, const RenderOptions& options, int doneRows, int totalRows,
              std::string* error);
// The same PNG with the whole image filtered and compressed at once
// (libdeflate, several times zlib's speed), for about two bytes a pixel
// index (eight an RGBA pixel) charged to the memory budget; WritePng's
// rows when the budget refuses them or the build has no libdeflate.
bool WritePngWhole(const PngPlan& plan, const std::function<void(int, uint8_t*)>& rows,
                   const ByteSink& sink, const RenderOptions& options, std::string* error);
#if defined(_WIN32) && !defined(STANDIN_HAVE_PNG)
// RGBA pixels as a PNG in memory, through the system's encoder.
bool EncodePng(const uint8_t* rgba, int width, int height, std::vector<uint8_t>* png,
               std::string* error);
#endif
// A sink that writes to a file.
ByteSink FileSink(std::FILE* file);

// An RGBA image of the caller's (top row first), written as an RGBA PNG, or
// as an SVG that embeds that PNG whole.
bool WriteImagePng(const uint8_t* rgba, int width, int height, std::FILE* out,
                   const RenderOptions& options, std::string* error);
bool WriteImageSvg(const uint8_t* rgba, int width, int height, std::FILE* out,
                   const RenderOptions& options, std::string* error);

// The path-taking outputs: the picture checked, the file made, written,
// and removed again when the writing failed.
using PictureWriter = int (*)(const Picture&, std::FILE*, const RenderOptions&, std::string*);
int WriteToPath(const Picture& picture, const char* path, const RenderOptions& options,
                std::string* error, PictureWriter writer);
// The options of the C++ path-taking outputs: the background filled.
inline RenderOptions FilledBackground() {
  RenderOptions options;
  options.background = true;
  return options;
}

}  // namespace render
}  // namespace standin

#endif
