// giflib (Debian's libgif) as a decoder independent of ours: the images of a
// GIF as it reads them, and the check of a bitmap the stand-in received
// against one of them. Shared by the pixel oracle test and the benchmarks.
#ifndef GIFIMPORT_TESTS_SUPPORT_GIFLIB_ORACLE_H
#define GIFIMPORT_TESTS_SUPPORT_GIFLIB_ORACLE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "companion/standin.h"

namespace oracle {

struct GifImage {
  int left = 0, top = 0, width = 0, height = 0;
  std::vector<uint8_t> pixels;  // palette indices, display order (de-interlaced)
};

// DGifSlurp of the whole file from memory; false when giflib refuses it.
bool SlurpGiflib(const uint8_t* data, size_t size, std::vector<GifImage>* images);

// `bitmap` (its bands, top band first, rows packed at its depth) against
// `expected`: the same size, every band where it belongs, every pixel
// equal. "" when they agree, else what differs first.
std::string CompareBitmap(const standin::Bitmap& bitmap, const GifImage& expected);

}  // namespace oracle

#endif
