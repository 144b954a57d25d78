// The layout steps both metafile writers share (emf.cpp through libUEMF,
// emf_win.cpp through GDI): where the frame lands and what a unit measures,
// and each bitmap cut into strips of palette indices laid out as DIB rows.
//
// Logical units are picture units: x = picture x - frame x1, y = frame y2 -
// picture y (the picture's y axis points up, the metafile's down). With
// scale mode 1 one unit is `picture.scale` millimetres; any other mode, or a
// factor outside what a display can mean, falls back to 96 units per inch.
#ifndef GIFIMPORT_COMPANION_EMF_LAYOUT_H
#define GIFIMPORT_COMPANION_EMF_LAYOUT_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "companion/render_internal.h"

namespace standin {
namespace emf {

constexpr double kDefaultMillimetresPerUnit = 25.4 / 96;

// Where the picture's frame lands in the metafile.
struct Layout {
  int x1 = 0, y2 = 0;         // picture point of logical (0, 0)
  int width = 0, height = 0;  // frame in logical units
  double millimetresPerUnit = kDefaultMillimetresPerUnit;
};

// False, with `error` saying why, for an empty frame.
bool MakeLayout(const Picture& picture, Layout* layout, std::string* error);
// `units` logical units in hundredths of a millimetre.
int32_t Hundredths(int units, const Layout& layout);
// An index past the palette has no colour of its own: black.
Rgb PaletteColor(const Bitmap& bitmap, int index);

// A strip of a bitmap's rows clipped to the frame: palette indices, top row
// first, -1 where nothing is drawn (no band covers it, or the back colour
// index of a transparent bitmap); later bands over earlier ones.
struct Strip {
  std::vector<int16_t> indices;
  int x = 0, y = 0;  // logical top-left
  int width = 0, rows = 0;
  bool everyPixel = false;  // no index is -1
};

// Calls `draw` for each strip of the bitmap that draws something, at most
// 4 Mi pixels a strip, top first, until `draw` returns false; returns what
// the last call returned. A depth other than 1, 4 or 8, or a bitmap wholly
// outside the frame, draws nothing and gives true.
bool ForEachStrip(const Picture& picture, const Bitmap& bitmap, const Layout& layout,
                  const std::function<bool(const Strip&)>& draw);

// How a strip goes into the metafile, near the bitmap's own depth:
//  kIndexed  every pixel drawn: the palette DIB, copied (SRCCOPY);
//  kMasked   some left out: a 1-bit mask ANDed in (SRCAND; 0 where drawn,
//            1 where left out), then the palette DIB ORed over it
//            (SRCPAINT) with the left-out pixels at `hole`, an index no
//            drawn pixel of the strip uses, coloured black: what was
//            behind them stays. Office suites read the pair as one masked
//            bitmap; 1 byte and 1 bit a pixel at 8 bits;
//  kAlpha    some left out and every index drawn, so no hole to borrow:
//            32-bit premultiplied pixels, alpha 0 where left out.
enum class StripForm { kIndexed, kMasked, kAlpha };
StripForm FormOf(const Bitmap& bitmap, const Strip& strip, int* hole);

// A colour table entry, in DIB order.
struct Quad {
  uint8_t blue = 0, green = 0, red = 0, reserved = 0;
};
// The palette DIB's colour table, 2^depth entries. With a hole (>= 0) the
// hole is black with reserved byte 0 and every other entry has 0xFF there:
// GDI and office suites ignore that byte, while emf2svg, which ignores
// raster operations, takes it as alpha and so shows the hole see-through.
std::vector<Quad> ColorTable(const Bitmap& bitmap, int hole);
// The mask's colour table: drawn black, left out white; to emf2svg the
// black is opaque (the palette DIB covers it) and the white see-through.
std::vector<Quad> MaskTable();

// A strip at the bitmap's own depth: DIB rows, bottom-up, each padded to 4
// bytes; pixels left out at `hole`.
std::vector<uint8_t> IndexedRows(const Bitmap& bitmap, const Strip& strip, int hole = 0);
// The strip's 1-bit mask rows, bottom-up, padded to 4 bytes: 1 where
// nothing is drawn.
std::vector<uint8_t> MaskRows(const Strip& strip);
// 32-bit premultiplied BGRA DIB rows, bottom-up: alpha 0 (all four bytes 0)
// exactly where nothing is drawn, whatever colour its palette entry has.
std::vector<uint8_t> AlphaRows(const Bitmap& bitmap, const Strip& strip);

}  // namespace emf
}  // namespace standin

#endif
