// Raster stage: packing decoded pixels into 1-, 4- or 8-bit rows padded to 4
// bytes, de-interlacing, and sending the rows in bands of at most 32767 bytes.
#ifndef GIFIMPORT_GIF_RASTER_H
#define GIFIMPORT_GIF_RASTER_H

#include <cstdint>

#include "filter/filter_setup.h"
#include "filter/status.h"

constexpr uint32_t kMaxBandBytes = 0x7FFF;

// Padded row length in bytes for the depth and width (a multiple of 4).
uint32_t RowLength(int32_t bitsPerPixel, uint32_t width);
// Packs width x height unpadded pixels in place into padded rows.
uint32_t PackRows(uint8_t* buffer, int32_t bitsPerPixel, uint32_t width, uint32_t height);
// Copies rows from interlaced stream order to display order.
void DeinterlaceRows(const uint8_t* source, uint8_t* destination, int32_t bitsPerPixel,
                     uint32_t width, uint32_t height);

// Packs, de-interlaces and sends the decoded image in `pixelBuffer` (a locked
// global block, released here on every way out). 0, or 27 (reported).
FilterError EmitRaster(FilterSetup* job, HGLOBAL pixelBuffer, uint8_t interlaced,
                       int32_t bitsPerPixel, uint16_t width, uint16_t left, int32_t topY,
                       uint16_t height);

#endif
