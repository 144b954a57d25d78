// Raster stage: rows packed in place, de-interlaced, sent in bands.
#include "gif/raster.h"

#include <algorithm>
#include <cstring>

#include "gif/byte_order.h"
#include "gifimport/companion.h"
#include "platform/locked_global.h"

namespace gifin {

namespace {

// The driver passes only 1, 4 and 8; anything else is sent as 8 bits, so
// that the row length and the packing always agree with the buffer's size.
int32_t NormalizeDepth(int32_t bitsPerPixel) {
  return bitsPerPixel == 1 || bitsPerPixel == 4 ? bitsPerPixel : 8;
}

size_t UnpaddedRowBytes(int32_t depth, uint32_t width) {
  return (static_cast<size_t>(depth) * width + 7) / 8;
}

// Pixel `index` of the unpacked image, 0 past its end: the bits of a row's
// last byte past the width take the next row's first pixels, and the last
// row reads nothing past the image.
inline uint8_t PixelOrZero(const uint8_t* buffer, size_t index, size_t total) {
  return index < total ? buffer[index] : 0;
}

// Eight pixels of 0 or 1 (first pixel in the low byte) to one byte, first
// pixel in bit 7: the multiplier's bits 63 - 9i move byte i's bit to bit
// 63 - i, and no two partial products share a bit, so nothing carries.
constexpr uint64_t kAboveBit0 = 0xFEFEFEFEFEFEFEFEull;  // in every byte
inline uint8_t PackEightBits(uint64_t pixels) {
  return static_cast<uint8_t>((pixels * 0x8040201008040201ull) >> 56);
}

// Values are shifted in 8 bits and not masked, as the packed format has
// always been built; only pixel values 0 and 1 give clean bits, and eight
// of those are packed at once.
void PackDepth1(uint8_t* buffer, uint32_t width, uint32_t height, size_t stride) {
  const size_t total = static_cast<size_t>(width) * height;
  const size_t fullBytes = width / 8;
  const uint32_t tailPixels = width % 8;
  for (size_t row = 0; row < height; ++row) {
    const uint8_t* in = buffer + row * width;
    uint8_t* out = buffer + row * stride;
    size_t k = 0;
    // 32 pixels a round while they are all 0 or 1; each round reads its
    // pixels before writing its 4 bytes, at or before them.
    for (; k + 4 <= fullBytes; k += 4, in += 32) {
      const uint64_t a = LoadLittle64(in), b = LoadLittle64(in + 8);
      const uint64_t c = LoadLittle64(in + 16), d = LoadLittle64(in + 24);
      if (((a | b | c | d) & kAboveBit0) != 0) break;
      out[k] = PackEightBits(a);
      out[k + 1] = PackEightBits(b);
      out[k + 2] = PackEightBits(c);
      out[k + 3] = PackEightBits(d);
    }
    for (; k < fullBytes; ++k, in += 8) {
      const uint64_t pixels = LoadLittle64(in);
      if ((pixels & kAboveBit0) == 0) {
        out[k] = PackEightBits(pixels);
        continue;
      }
      out[k] =
          static_cast<uint8_t>(static_cast<uint8_t>(in[0] << 7) | static_cast<uint8_t>(in[1] << 6) |
                               static_cast<uint8_t>(in[2] << 5) | static_cast<uint8_t>(in[3] << 4) |
                               static_cast<uint8_t>(in[4] << 3) | static_cast<uint8_t>(in[5] << 2) |
                               static_cast<uint8_t>(in[6] << 1) | in[7]);
    }
    if (tailPixels != 0) {
      const size_t first = row * width + fullBytes * 8;
      uint8_t byte = 0;
      for (int bit = 0; bit < 8; ++bit) {
        byte |= static_cast<uint8_t>(PixelOrZero(buffer, first + bit, total) << (7 - bit));
      }
      out[fullBytes] = byte;
    }
  }
}

// Eight pixels to four bytes at once, as the loop below packs a pair: in
// each 16-bit lane of the load (first pixel low), the first pixel's low 4
// bits go to bits 4-7 and the second pixel, whole, is or-ed in; then the
// lanes' low bytes are drawn together, first pixel pair lowest.
inline void PackEightDepth4(uint8_t* out, uint64_t pixels) {
  uint64_t lanes = (pixels & 0x000F000F000F000Full) << 4 | (pixels >> 8 & 0x00FF00FF00FF00FFull);
  lanes = (lanes | lanes >> 8) & 0x0000FFFF0000FFFFull;
  const auto packed = static_cast<uint32_t>(lanes | lanes >> 16);
  if (kLittleEndian) {
    std::memcpy(out, &packed, 4);
  } else {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(packed >> 8 * i);
  }
}

void PackDepth4(uint8_t* buffer, uint32_t width, uint32_t height, size_t stride) {
  const size_t total = static_cast<size_t>(width) * height;
  const size_t fullBytes = width / 2;
  for (size_t row = 0; row < height; ++row) {
    const uint8_t* in = buffer + row * width;
    uint8_t* out = buffer + row * stride;
    size_t k = 0;
    // Each word is read before its four bytes are written, at or before it.
    for (; k + 4 <= fullBytes; k += 4, in += 8) PackEightDepth4(out + k, LoadLittle64(in));
    for (; k < fullBytes; ++k, in += 2) {
      out[k] = static_cast<uint8_t>(static_cast<uint8_t>(in[0] << 4) | in[1]);
    }
    if (width % 2 != 0) {
      const size_t last = row * width + width - 1;
      out[fullBytes] = static_cast<uint8_t>(static_cast<uint8_t>(buffer[last] << 4) |
                                            PixelOrZero(buffer, last + 1, total));
    }
  }
}

// Where display row `row` of an interlaced image lies among the rows as
// the stream gave them: the four GIF passes take rows 0, 8, 16, ...; then
// 4, 12, 20, ...; then 2, 6, 10, ...; then 1, 3, 5, ....
uint32_t InterlacedSourceRow(uint32_t row, uint32_t height) {
  const uint32_t pass1 = (height + 7) / 8, pass2 = (height + 3) / 8, pass3 = (height + 1) / 4;
  if (row % 8 == 0) return row / 8;
  if (row % 8 == 4) return pass1 + row / 8;
  if (row % 4 == 2) return pass1 + pass2 + row / 4;
  return pass1 + pass2 + pass3 + row / 2;
}

// Rows of `rowLength` bytes in one band. A width of 0 has no row to send,
// and a padded row longer than a band cannot be sent at all: both give 0,
// and the image sends nothing and succeeds.
uint32_t RowsPerBand(uint32_t rowLength, uint16_t height) {
  if (rowLength == 0) return 0;
  const uint64_t imageBytes = static_cast<uint64_t>(rowLength) * height;
  return static_cast<uint32_t>(std::min<uint64_t>(imageBytes, kMaxBandBytes) / rowLength);
}

// Display rows firstRow onward of an interlaced image, `count` of them,
// copied from stream order into `band`; returns `band`.
const uint8_t* GatherInterlaced(uint8_t* band, const uint8_t* pixels, uint32_t rowLength,
                                uint32_t firstRow, uint32_t count, uint32_t height) {
  for (uint32_t i = 0; i < count; ++i) {
    const size_t source = InterlacedSourceRow(firstRow + i, height);
    std::memcpy(band + static_cast<size_t>(i) * rowLength, pixels + source * rowLength, rowLength);
  }
  return band;
}

}  // namespace

uint32_t RowLength(int32_t bitsPerPixel, uint32_t width) {
  const size_t unpadded = UnpaddedRowBytes(NormalizeDepth(bitsPerPixel), width);
  return static_cast<uint32_t>((unpadded + 3) & ~static_cast<size_t>(3));
}

// Rows are first packed tightly (every packed row is at most as long as its
// unpacked pixels, so packing forward never overwrites a pixel not yet read)
// and then spread out to their padded length from the last row to the first.
// That order also covers widths 1 to 3, whose padded rows are longer than
// their pixels.
uint32_t PackRows(uint8_t* buffer, int32_t bitsPerPixel, uint32_t width, uint32_t height) {
  const int32_t depth = NormalizeDepth(bitsPerPixel);
  const uint32_t rowLength = RowLength(depth, width);
  if (width == 0 || height == 0) return rowLength;
  const size_t packed = UnpaddedRowBytes(depth, width);
  if (depth == 1) PackDepth1(buffer, width, height, packed);
  if (depth == 4) PackDepth4(buffer, width, height, packed);
  if (packed != rowLength) {
    for (size_t row = height - 1; row > 0; --row) {
      std::memmove(buffer + row * rowLength, buffer + row * packed, packed);
    }
  }
  return rowLength;
}

FilterError EmitRaster(FilterSetup* job, uint8_t* pixels, uint8_t interlaced, int32_t bitsPerPixel,
                       uint16_t width, uint16_t left, int32_t topY, uint16_t height) {
  const int32_t depth = NormalizeDepth(bitsPerPixel);
  const uint32_t rowLength = PackRows(pixels, depth, width, height);
  const uint32_t rowsPerBand = RowsPerBand(rowLength, height);

  // The rows of an interlaced image stay in stream order; each band's rows
  // are gathered in display order into a block of one band, so the image is
  // never copied whole. Without a band to send, no block is needed.
  LockedGlobal bandBlock;
  uint8_t* band = nullptr;
  if (interlaced != 0 && rowsPerBand != 0) {
    bandBlock = LockedGlobal::Allocate(static_cast<SIZE_T>(rowLength) * rowsPerBand);
    band = bandBlock.As<uint8_t>();
    if (band == nullptr) return Fail(job, kErrMemory);
  }

  // The records QvBitmapBegin had: the top-right corner keeps the image's
  // own, the other values are the band's. Bands run top down, each directly
  // below the one before in the picture's upward y axis.
  BitmapCorners corners = {};
  BitmapSize size = {};
  const int16_t xRight = static_cast<int16_t>(static_cast<uint16_t>(left + width));
  corners.xRight2.value = xRight;
  corners.yTop2.value = static_cast<int16_t>(topY);
  size.width.value = width;
  int16_t y = static_cast<int16_t>(topY);
  for (uint32_t rowsDone = 0; rowsPerBand != 0 && rowsDone < height;) {
    const uint32_t bandRows = std::min<uint32_t>(rowsPerBand, height - rowsDone);
    const uint8_t* rows = pixels + static_cast<size_t>(rowsDone) * rowLength;
    if (band != nullptr) {
      rows = GatherInterlaced(band, pixels, rowLength, rowsDone, bandRows, height);
    }
    corners.xLeft.value = static_cast<int16_t>(left);
    corners.yTop.value = y;
    corners.xRight.value = xRight;
    corners.yBottom.value = static_cast<int16_t>(y - static_cast<int32_t>(bandRows));
    size.rows.value = static_cast<uint16_t>(bandRows);
    QvBitmapBand(job->picture, &corners, &size, -depth, kQvBitmapReserved1, rows);
    y = static_cast<int16_t>(y - static_cast<int32_t>(bandRows));
    rowsDone += bandRows;
  }
  return kErrNone;
}

}  // namespace gifin
