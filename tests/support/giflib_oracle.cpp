#include "tests/support/giflib_oracle.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace oracle {

bool SlurpGiflib(const uint8_t* data, size_t size, std::vector<GifImage>* images) {
  images->clear();
  std::pair<const uint8_t*, const uint8_t*> rest = {data, data + size};
  const InputFunc next = [](GifFileType* file, GifByteType* to, int count) {
    auto* r = static_cast<decltype(rest)*>(file->UserData);
    const int n = int(std::min<ptrdiff_t>(count, r->second - r->first));
    return std::memcpy(to, r->first, size_t(n)), r->first += n, n;
  };
  int error = 0;
  GifFileType* file = DGifOpen(&rest, next, &error);
  if (file == nullptr) return false;
  const bool read = DGifSlurp(file) == GIF_OK;
  for (int i = 0; read && i < file->ImageCount; ++i) {
    const SavedImage& saved = file->SavedImages[i];
    const GifImageDesc& d = saved.ImageDesc;
    images->push_back({d.Left, d.Top, d.Width, d.Height, {}});
    if (saved.RasterBits != nullptr)
      images->back().pixels.assign(saved.RasterBits, saved.RasterBits + size_t(d.Width) * d.Height);
  }
  DGifCloseFile(file, &error);
  return read;
}

std::string CompareBitmap(const standin::Bitmap& bitmap, const GifImage& expected) {
  const int depth = bitmap.depth;
  const uint32_t width = bitmap.width, height = bitmap.height;
  if (int(width) != expected.width || int(height) != expected.height || !bitmap.ended ||
      expected.pixels.size() != size_t{width} * height)
    return "bitmap size, or not ended";
  const size_t rowLength = (size_t{width} * depth + 31) / 32 * 4;
  uint32_t y = 0;
  for (const standin::Bitmap::Band& band : bitmap.bands) {
    if (band.left != bitmap.left || band.width != bitmap.width || band.top != bitmap.top - int(y) ||
        band.bottom != band.top - band.rows || band.data.size() < rowLength * band.rows ||
        y + band.rows > height)
      return "band at row " + std::to_string(y);
    for (uint32_t r = 0; r < band.rows; ++r, ++y) {
      const uint8_t* row = band.data.data() + r * rowLength;
      const uint8_t* want = expected.pixels.data() + size_t{y} * width;
      for (uint32_t x = 0; x < width; ++x) {
        const size_t bit = size_t{x} * depth;
        const int shift = 8 - depth - int(bit % 8);
        if (((row[bit / 8] >> shift) & ((1 << depth) - 1)) != want[x])
          return "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ")";
      }
    }
  }
  return y == height ? "" : "only " + std::to_string(y) + " rows";
}

}  // namespace oracle
