// Turns a recorded picture into an image of its frame's size: background,
// then bitmaps and text lines in call order.
#include <algorithm>
#include <new>

#include "companion/render_internal.h"

namespace standin {
namespace render {

namespace {

bool Refuse(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

// The band's top-left pixel in image space.
int BandColumn(const Picture& picture, const Bitmap::Band& band) {
  return band.left - picture.frame[0];
}
int BandRow(const Picture& picture, const Bitmap::Band& band) {
  return picture.frame[3] - band.top;
}

}  // namespace

void Canvas::Put(int x, int y, const Rgb& color) {
  x -= left;
  y -= top;
  if (x < 0 || y < 0 || x >= width || y >= height) return;
  uint8_t* pixel = &rgba[(static_cast<size_t>(y) * static_cast<size_t>(width) + x) * 4];
  pixel[0] = color.red;
  pixel[1] = color.green;
  pixel[2] = color.blue;
  pixel[3] = 0xFF;
}

bool ImageSize(const Picture& picture, int* width, int* height, std::string* error) {
  const int w = picture.frame[2] - picture.frame[0];
  const int h = picture.frame[3] - picture.frame[1];
  const std::string size = std::to_string(w) + " x " + std::to_string(h);
  if (w <= 0 || h <= 0) return Refuse(error, "the picture's frame is empty (" + size + ")");
  if (w > kMaxImageSide || h > kMaxImageSide) {
    return Refuse(error, "the picture's frame is too large to render (" + size + "; at most " +
                             std::to_string(kMaxImageSide) + " x " +
                             std::to_string(kMaxImageSide) + ")");
  }
  *width = w;
  *height = h;
  return true;
}

void DrawBitmap(const Picture& picture, const Bitmap& bitmap, Canvas* canvas) {
  for (const Bitmap::Band& band : bitmap.bands) {
    const int column0 = BandColumn(picture, band);
    const int row0 = BandRow(picture, band);
    // Only the part of the band inside the canvas is visited.
    const int firstColumn = std::max(0, canvas->left - column0);
    const int endColumn = std::min<int>(band.width, canvas->left + canvas->width - column0);
    const int firstRow = std::max(0, canvas->top - row0);
    const int endRow = std::min<int>(band.rows, canvas->top + canvas->height - row0);
    for (int row = firstRow; row < endRow; ++row) {
      for (int column = firstColumn; column < endColumn; ++column) {
        const int index = BandPixelIndex(band, bitmap.depth, column, row);
        if (index < 0) continue;
        if (bitmap.transparent && index == bitmap.backColorIndex) continue;
        // An index past the palette has no colour of its own: black.
        const Rgb color = static_cast<size_t>(index) < bitmap.palette.size()
                              ? bitmap.palette[index]
                              : Rgb{};
        canvas->Put(column0 + column, row0 + row, color);
      }
    }
  }
}

bool BitmapBounds(const Picture& picture, const Bitmap& bitmap, int imageWidth, int imageHeight,
                  int* left, int* top, int* width, int* height) {
  int x1 = imageWidth, y1 = imageHeight, x2 = 0, y2 = 0;
  for (const Bitmap::Band& band : bitmap.bands) {
    const int column0 = BandColumn(picture, band);
    const int row0 = BandRow(picture, band);
    const int shownLeft = std::max(0, column0);
    const int shownRight = std::min(imageWidth, column0 + band.width);
    const int shownTop = std::max(0, row0);
    const int shownBottom = std::min(imageHeight, row0 + band.rows);
    if (shownLeft >= shownRight || shownTop >= shownBottom) continue;  // all outside
    x1 = std::min(x1, shownLeft);
    y1 = std::min(y1, shownTop);
    x2 = std::max(x2, shownRight);
    y2 = std::max(y2, shownBottom);
  }
  if (x1 >= x2 || y1 >= y2) return false;
  *left = x1;
  *top = y1;
  *width = x2 - x1;
  *height = y2 - y1;
  return true;
}

bool RenderCanvas(const Picture& picture, Canvas* canvas, std::string* error) {
  int width = 0, height = 0;
  if (!ImageSize(picture, &width, &height, error)) return false;
  canvas->left = 0;
  canvas->top = 0;
  canvas->width = width;
  canvas->height = height;
  try {
    canvas->rgba.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 4, 0);
  } catch (const std::bad_alloc&) {
    return Refuse(error, "not enough memory to render " + std::to_string(width) + " x " +
                             std::to_string(height) + " pixels");
  }
  // No background colour set means black, as on a fresh screen.
  const Rgb background = picture.hasBackground ? picture.background : Rgb{};
  for (size_t i = 0; i < canvas->rgba.size(); i += 4) {
    canvas->rgba[i] = background.red;
    canvas->rgba[i + 1] = background.green;
    canvas->rgba[i + 2] = background.blue;
    canvas->rgba[i + 3] = 0xFF;
  }
  for (const Picture::Item& item : picture.order) {
    if (item.kind == Picture::Item::kBitmap && item.index < picture.bitmaps.size()) {
      DrawBitmap(picture, picture.bitmaps[item.index], canvas);
    } else if (item.kind == Picture::Item::kText && item.index < picture.texts.size()) {
      DrawTextLine(picture, picture.texts[item.index], canvas);
    }
  }
  return true;
}

}  // namespace render
}  // namespace standin

int StandInRenderRgba(const standin::Picture& picture, std::vector<uint8_t>* rgba, int* width,
                      int* height) {
  if (!rgba) return 1;
  standin::render::Canvas canvas;
  if (!standin::render::RenderCanvas(picture, &canvas, nullptr)) return 1;
  rgba->swap(canvas.rgba);
  if (width) *width = canvas.width;
  if (height) *height = canvas.height;
  return 0;
}

int StandInRenderPng(const standin::Picture& picture, const char* path, std::string* error) {
  std::string message;
  standin::render::Canvas canvas;
  std::vector<uint8_t> png;
  const bool done =
      standin::render::RenderCanvas(picture, &canvas, &message) &&
      standin::render::EncodePng(canvas.rgba.data(), canvas.width, canvas.height, &png,
                                 &message) &&
      standin::render::WriteBytes(path, png.data(), png.size(), &message);
  if (done) return 0;
  if (error) *error = message;
  return 1;
}
