// Rendering of a recorded picture, shared by the RGBA, PNG and SVG outputs
// of the companion stand-in. Internal to the stand-in library.
//
// Image space: x to the right, y down, pixel (0, 0) the top-left pixel of
// the frame. A picture point (px, py) lands on column px - frame x1 and row
// frame y2 - py, because the picture's y axis points up.
#ifndef GIFIMPORT_COMPANION_RENDER_INTERNAL_H
#define GIFIMPORT_COMPANION_RENDER_INTERNAL_H

#include <cstdint>
#include <string>
#include <vector>

#include "companion/standin.h"

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
  std::vector<uint8_t> rgba;  // width x height x 4, top row first
  void Put(int x, int y, const Rgb& color);  // image coordinates, opaque
};

// Checks the frame and gives the image size, or false with a message.
bool ImageSize(const Picture& picture, int* width, int* height, std::string* error);
// Draws every band of a bitmap at its own corners, in its own palette,
// leaving out the back colour index when the bitmap is transparent.
void DrawBitmap(const Picture& picture, const Bitmap& bitmap, Canvas* canvas);
// The image rectangle a bitmap's bands cover, clipped to the image; false
// when it is empty.
bool BitmapBounds(const Picture& picture, const Bitmap& bitmap, int imageWidth, int imageHeight,
                  int* left, int* top, int* width, int* height);
// The whole rendering: background, then bitmaps and text in call order.
bool RenderCanvas(const Picture& picture, Canvas* canvas, std::string* error);

// ---- Text (render_font.cpp)

// Glyph scale for a text height: the glyphs' capitals come out about as
// tall as a sans-serif font's capitals at that font size.
int GlyphScale(int textHeight);
// The text height that both outputs use for a line.
int EffectiveTextHeight(const TextLine& line);
// Draws one line with the built-in font, baseline-left at the line's origin.
void DrawTextLine(const Picture& picture, const TextLine& line, Canvas* canvas);

// ---- PNG (render_png.cpp)

// Encodes RGBA pixels as a PNG in memory; false with a message when libpng
// is missing or fails.
bool EncodePng(const uint8_t* rgba, int width, int height, std::vector<uint8_t>* png,
               std::string* error);
// Writes bytes to a file; false with a message naming the path.
bool WriteBytes(const char* path, const void* data, size_t size, std::string* error);

}  // namespace render
}  // namespace standin

#endif
