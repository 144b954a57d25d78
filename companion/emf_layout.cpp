#include "companion/emf_layout.h"

#include <algorithm>
#include <cmath>

namespace standin {
namespace emf {
namespace {

// A unit finer than this or coarser than that is no display's pixel.
constexpr double kMinMillimetresPerUnit = 0.001;
constexpr double kMaxMillimetresPerUnit = 10.0;
// Pixels of one bitmap record at most (16 MB of 32-bit pixels).
constexpr size_t kStripPixels = size_t{1} << 22;

void GatherStrip(const Picture& picture, const Bitmap& bitmap, Strip* strip) {
  const int left = strip->x, row0 = strip->y, width = strip->width, rows = strip->rows;
  strip->indices.assign(static_cast<size_t>(width) * static_cast<size_t>(rows), -1);
  for (const Bitmap::Band& band : bitmap.bands) {
    const int bandColumn = band.left - picture.frame[0];
    const int bandRow = picture.frame[3] - band.top;
    const int firstColumn = std::max(left, bandColumn);
    const int endColumn = std::min(left + width, bandColumn + static_cast<int>(band.width));
    const int firstRow = std::max(row0, bandRow);
    const int endRow = std::min(row0 + rows, bandRow + static_cast<int>(band.rows));
    for (int row = firstRow; row < endRow; ++row) {
      int16_t* out = &strip->indices[static_cast<size_t>(row - row0) * width];
      for (int column = firstColumn; column < endColumn; ++column) {
        const int index =
            render::BandPixelIndex(band, bitmap.depth, column - bandColumn, row - bandRow);
        if (index < 0) continue;
        if (bitmap.transparent && index == bitmap.backColorIndex) continue;
        out[column - left] = static_cast<int16_t>(index);
      }
    }
  }
}

}  // namespace

bool MakeLayout(const Picture& picture, Layout* layout, std::string* error) {
  layout->x1 = picture.frame[0];
  layout->y2 = picture.frame[3];
  layout->width = picture.frame[2] - picture.frame[0];
  layout->height = picture.frame[3] - picture.frame[1];
  if (layout->width <= 0 || layout->height <= 0) {
    *error = "the picture's frame is empty (" + std::to_string(layout->width) + " x " +
             std::to_string(layout->height) + ")";
    return false;
  }
  const double scale = picture.scale;
  if (picture.scaleMode == kQvScaleMillimetres && std::isfinite(scale) &&
      scale >= kMinMillimetresPerUnit && scale <= kMaxMillimetresPerUnit) {
    layout->millimetresPerUnit = scale;
  }
  return true;
}

int32_t Hundredths(int units, const Layout& layout) {
  return static_cast<int32_t>(std::lround(units * layout.millimetresPerUnit * 100.0));
}

Rgb PaletteColor(const Bitmap& bitmap, int index) {
  return static_cast<size_t>(index) < bitmap.palette.size() ? bitmap.palette[index] : Rgb{};
}

bool ForEachStrip(const Picture& picture, const Bitmap& bitmap, const Layout& layout,
                  const std::function<bool(const Strip&)>& draw) {
  if (bitmap.depth != 1 && bitmap.depth != 4 && bitmap.depth != 8) return true;  // draws nothing
  int left = 0, top = 0, width = 0, height = 0;
  if (!render::BitmapBounds(picture, bitmap, layout.width, layout.height, &left, &top, &width,
                            &height)) {
    return true;  // nothing of it inside the frame
  }
  const int stripRows = static_cast<int>(
      std::max<size_t>(1, std::min<size_t>(height, kStripPixels / static_cast<size_t>(width))));
  Strip strip;
  strip.x = left;
  strip.width = width;
  for (int row0 = 0; row0 < height; row0 += stripRows) {
    strip.y = top + row0;
    strip.rows = std::min(stripRows, height - row0);
    GatherStrip(picture, bitmap, &strip);
    size_t drawn = 0;
    for (const int16_t index : strip.indices) drawn += index >= 0;
    if (drawn == 0) continue;
    strip.everyPixel = drawn == strip.indices.size();
    if (!draw(strip)) return false;
  }
  return true;
}

StripForm FormOf(const Bitmap& bitmap, const Strip& strip, int* hole) {
  *hole = -1;
  if (strip.everyPixel) return StripForm::kIndexed;
  const int colors = 1 << bitmap.depth;
  // A transparent bitmap's back colour index is never drawn: GatherStrip
  // leaves it out.
  if (bitmap.transparent && bitmap.backColorIndex < colors) {
    *hole = bitmap.backColorIndex;
    return StripForm::kMasked;
  }
  std::vector<bool> used(static_cast<size_t>(colors), false);
  for (const int16_t index : strip.indices) {
    if (index >= 0) used[static_cast<size_t>(index)] = true;
  }
  for (int index = 0; index < colors; ++index) {
    if (!used[static_cast<size_t>(index)]) {
      *hole = index;
      return StripForm::kMasked;
    }
  }
  return StripForm::kAlpha;
}

std::vector<Quad> ColorTable(const Bitmap& bitmap, int hole) {
  std::vector<Quad> table(size_t{1} << bitmap.depth);
  for (size_t i = 0; i < table.size(); ++i) {
    if (static_cast<int>(i) == hole) continue;  // black, see-through to emf2svg
    const Rgb color = PaletteColor(bitmap, static_cast<int>(i));
    table[i] = {color.blue, color.green, color.red, static_cast<uint8_t>(hole >= 0 ? 0xFF : 0)};
  }
  return table;
}

std::vector<Quad> MaskTable() { return {Quad{0, 0, 0, 0xFF}, Quad{0xFF, 0xFF, 0xFF, 0}}; }

std::vector<uint8_t> IndexedRows(const Bitmap& bitmap, const Strip& strip, int hole) {
  const int depth = bitmap.depth;
  const size_t stride = (static_cast<size_t>(strip.width) * depth + 31) / 32 * 4;
  std::vector<uint8_t> pixels(stride * static_cast<size_t>(strip.rows), 0);
  for (int row = 0; row < strip.rows; ++row) {
    uint8_t* out = &pixels[static_cast<size_t>(strip.rows - 1 - row) * stride];
    const int16_t* in = &strip.indices[static_cast<size_t>(row) * strip.width];
    for (int column = 0; column < strip.width; ++column) {
      const size_t bit = static_cast<size_t>(column) * depth;
      const int index = in[column] < 0 ? hole : in[column];
      out[bit / 8] |= static_cast<uint8_t>(index << (8 - depth - bit % 8));
    }
  }
  return pixels;
}

std::vector<uint8_t> MaskRows(const Strip& strip) {
  const size_t stride = (static_cast<size_t>(strip.width) + 31) / 32 * 4;
  std::vector<uint8_t> pixels(stride * static_cast<size_t>(strip.rows), 0);
  for (int row = 0; row < strip.rows; ++row) {
    uint8_t* out = &pixels[static_cast<size_t>(strip.rows - 1 - row) * stride];
    const int16_t* in = &strip.indices[static_cast<size_t>(row) * strip.width];
    for (int column = 0; column < strip.width; ++column) {
      if (in[column] < 0) out[column / 8] |= static_cast<uint8_t>(0x80 >> column % 8);
    }
  }
  return pixels;
}

std::vector<uint8_t> AlphaRows(const Bitmap& bitmap, const Strip& strip) {
  const size_t stride = static_cast<size_t>(strip.width) * 4;
  std::vector<uint8_t> pixels(stride * static_cast<size_t>(strip.rows), 0);
  for (int row = 0; row < strip.rows; ++row) {
    uint8_t* out = &pixels[static_cast<size_t>(strip.rows - 1 - row) * stride];
    const int16_t* in = &strip.indices[static_cast<size_t>(row) * strip.width];
    for (int column = 0; column < strip.width; ++column, out += 4) {
      if (in[column] < 0) continue;
      const Rgb color = PaletteColor(bitmap, in[column]);
      out[0] = color.blue;
      out[1] = color.green;
      out[2] = color.red;
      out[3] = 0xFF;
    }
  }
  return pixels;
}

}  // namespace emf
}  // namespace standin
