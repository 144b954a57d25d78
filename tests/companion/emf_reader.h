// An Enhanced Metafile read as its readers read it: the record framing, the
// bitmaps its StretchDIBits and AlphaBlend records draw (palette colours
// resolved, rows in display order) and what they leave on a canvas. Plain C++, for the stand-in's
// tests and for comparing GDI's metafiles with the stand-in's on Windows.
#ifndef GIFIMPORT_TESTS_COMPANION_EMF_READER_H
#define GIFIMPORT_TESTS_COMPANION_EMF_READER_H

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace emf {

using Bytes = std::vector<uint8_t>;
enum : uint32_t { kHeader = 1, kEof = 14, kStretchDIBits = 81, kAlphaBlend = 114 };
enum : uint32_t { kSrcCopy = 0xCC0020, kSrcAnd = 0x8800C6, kSrcPaint = 0xEE0086 };

inline uint32_t U32(const Bytes& b, size_t at) {
  if (at + 4 > b.size()) return 0;
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
inline int32_t I32(const Bytes& b, size_t at) { return static_cast<int32_t>(U32(b, at)); }

struct Record {
  uint32_t type;
  size_t at, size;
};

// The records, once the header (type, signature, size) and every record's
// size, the count and the end record are right; else empty, with *error.
inline std::vector<Record> Records(const Bytes& b, std::string* error) {
  std::vector<Record> records;
  const auto fail = [error](const std::string& why) { return *error = why, std::vector<Record>(); };
  if (b.size() < 88 || U32(b, 0) != kHeader || U32(b, 40) != 0x464D4520u || U32(b, 44) != 0x10000u)
    return fail("no metafile header");
  if (U32(b, 48) != b.size()) return fail("the header's size is not the file's");
  for (size_t at = 0; at < b.size(); at += records.back().size) {
    records.push_back({U32(b, at), at, U32(b, at + 4)});
    if (records.back().size < 8 || records.back().size % 4 || records.back().size > b.size() - at)
      return fail("record " + std::to_string(records.size()) + " has a bad size");
  }
  if (records.back().type != kEof || U32(b, 52) != records.size())
    return fail("no end record, or the header's record count is wrong");
  return records;
}

struct Image {
  int32_t x = 0, y = 0, width = 0, height = 0, bits = 0;
  uint32_t rop = 0;            // of StretchDIBits; 0: AlphaBlend's premultiplied source over
  std::vector<uint32_t> argb;  // top row first; palette pixels opaque
  bool operator==(const Image& o) const {
    return x == o.x && y == o.y && width == o.width && height == o.height && rop == o.rop &&
           argb == o.argb;
  }
};

// The bitmap a drawing record draws; false for other records and for a DIB
// that does not lie inside its record or has a form no writer of ours uses.
inline bool ReadBitmap(const Bytes& f, const Record& r, Image* image) {
  if (r.type != kStretchDIBits && r.type != kAlphaBlend) return false;
  const bool alpha = r.type == kAlphaBlend;
  const uint32_t bmi = U32(f, r.at + (alpha ? 84 : 48)), bits = U32(f, r.at + (alpha ? 92 : 56));
  if (bmi < 8 || bmi + 40 > r.size || bits > r.size) return false;
  const size_t h = r.at + bmi;
  const int32_t width = I32(f, h + 4), height = I32(f, h + 8);
  const uint32_t depth = U32(f, h + 14) & 0xFFFF, compression = U32(f, h + 16);
  if (width <= 0 || height == 0 || (depth != 1 && depth != 4 && depth != 8 && depth != 32))
    return false;
  // GDI records 32-bit pixels with their masks (BI_BITFIELDS): only BGRA is read.
  const bool bgraMasks = compression == 3 && depth == 32 && bmi + 52 <= r.size &&
                         U32(f, h + 40) == 0xFF0000 && U32(f, h + 44) == 0xFF00 &&
                         U32(f, h + 48) == 0xFF;
  const int32_t rows = height < 0 ? -height : height;
  const size_t stride = (static_cast<size_t>(width) * depth + 31) / 32 * 4;
  const size_t colors = depth == 32 ? 0 : size_t{1} << depth;
  if ((compression != 0 && !bgraMasks) || bits + stride * rows > r.size ||
      bmi + 40 + colors * 4 > r.size)
    return false;
  *image = {I32(f, r.at + 24),
            I32(f, r.at + 28),
            width,
            rows,
            int32_t(depth),
            alpha ? 0 : U32(f, r.at + 68),
            {}};
  for (int32_t row = 0; row < rows; ++row) {
    const size_t line = r.at + bits + stride * (height < 0 ? row : rows - 1 - row);
    for (int32_t column = 0; column < width; ++column) {
      if (depth == 32) {
        image->argb.push_back(U32(f, line + column * 4));
        continue;
      }
      const size_t bit = static_cast<size_t>(column) * depth;
      const uint32_t index = (f[line + bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
      image->argb.push_back(0xFF000000u | (U32(f, h + 40 + index * 4) & 0xFFFFFF));
    }
  }
  return true;
}

// Draws the image on a canvas of width x height opaque pixels (0xAARRGGBB,
// top row first) as GDI does, clipped to the canvas; false for a raster
// operation no writer of ours uses.
inline bool Draw(const Image& image, int32_t width, int32_t height, std::vector<uint32_t>* canvas) {
  if (image.rop != 0 && image.rop != kSrcCopy && image.rop != kSrcAnd && image.rop != kSrcPaint)
    return false;
  for (int32_t row = 0; row < image.height; ++row)
    for (int32_t column = 0; column < image.width; ++column) {
      const int32_t x = image.x + column, y = image.y + row;
      if (x < 0 || y < 0 || x >= width || y >= height) continue;
      uint32_t& out = (*canvas)[static_cast<size_t>(y) * width + x];
      const uint32_t in = image.argb[static_cast<size_t>(row) * image.width + column];
      if (image.rop == kSrcCopy) out = in;
      if (image.rop == kSrcAnd) out &= in;
      if (image.rop == kSrcPaint) out |= in;
      if (image.rop != 0) continue;
      uint32_t blended = 0xFF000000u;  // source + destination * (1 - source alpha)
      for (int shift = 0; shift < 24; shift += 8)
        blended |= std::min<uint32_t>(0xFF, (in >> shift & 0xFF) +
                                                (out >> shift & 0xFF) * (0xFF - (in >> 24)) / 0xFF)
                   << shift;
      out = blended;
    }
  return true;
}

}  // namespace emf

#endif
