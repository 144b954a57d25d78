// Reading pixels back out of the bands a bitmap was sent in.
#include "companion/render_internal.h"

namespace standin {
namespace render {

size_t BandRowLength(int depth, int width) {
  if ((depth != 1 && depth != 4 && depth != 8) || width <= 0) return 0;
  const size_t bits = static_cast<size_t>(depth) * static_cast<size_t>(width);
  return ((bits + 7) / 8 + 3) & ~static_cast<size_t>(3);
}

int BandPixelIndex(const Bitmap::Band& band, int depth, int column, int row) {
  if (column < 0 || row < 0 || column >= band.width || row >= band.rows) return -1;
  const size_t rowLength = BandRowLength(depth, band.width);
  if (rowLength == 0) return -1;
  const size_t bit = static_cast<size_t>(column) * static_cast<size_t>(depth);
  const size_t offset = static_cast<size_t>(row) * rowLength + bit / 8;
  // A band whose data stop short shows what it has; the rest stays undrawn.
  if (offset >= band.data.size()) return -1;
  const uint8_t packed = band.data[offset];
  switch (depth) {
    case 1:
      return (packed >> (7 - bit % 8)) & 1;
    case 4:
      return bit % 8 == 0 ? packed >> 4 : packed & 0x0F;
    default:
      return packed;
  }
}

}  // namespace render

// Bands are found by their own corners, not by their order, so that a band
// sent to the wrong place shows up as a hole here just as in the rendering.
// Where bands overlap, the later one wins, as it does on screen.
STANDIN_API int Bitmap::PixelIndex(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return -1;
  const int pictureX = left + x;
  const int pictureY = top - y;
  int index = -1;
  for (const Band& band : bands) {
    const int found =
        render::BandPixelIndex(band, depth, pictureX - band.left, band.top - pictureY);
    if (found >= 0) index = found;
  }
  return index;
}

}  // namespace standin
