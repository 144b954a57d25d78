// Raster stage: packing decoded pixels into 1-, 4- or 8-bit rows padded to 4
// bytes, de-interlacing, and sending the rows in bands of at most 32767 bytes.
//
// Packed rows: pixels left to right; at depth 1 the first pixel of a byte is
// bit 7, at depth 4 the high nibble. Bits of a row's last byte past the width
// hold the next row's first pixels (0 in the last row); padding bytes are not
// cleared. Rows run top-down.
#ifndef GIFIMPORT_GIF_RASTER_H
#define GIFIMPORT_GIF_RASTER_H

#include <cstdint>

#include "core/filter_setup.h"
#include "core/status.h"

namespace gifin {

constexpr uint32_t kMaxBandBytes = 0x7FFF;

// Padded row length in bytes for the depth and width (a multiple of 4),
// computed in 32 bits: never 0 for a width above 0 (65536 at depth 8 and
// width 65535).
uint32_t RowLength(int32_t bitsPerPixel, uint32_t width);

// Packs width x height unpadded pixels (one byte each, from the buffer's
// start) in place into rows of RowLength bytes; returns that length. The
// buffer must hold height x RowLength bytes, which at every depth is at most
// ((width + 3) & ~3) x height.
uint32_t PackRows(uint8_t* buffer, int32_t bitsPerPixel, uint32_t width, uint32_t height);

// Packs, de-interlaces and sends the decoded image to job->picture with
// QvBitmapBand, top band first; each band is sent from where its rows lie.
// `pixels` is the decoder's locked block, packed in place. An interlaced
// image needs a second global block of one band, into which each band's
// rows are gathered in display order. Returns 0, or kErrMemory
// (reported) when that block cannot be had, in which case no band is sent.
FilterError EmitRaster(FilterSetup* job, uint8_t* pixels, uint8_t interlaced, int32_t bitsPerPixel,
                       uint16_t width, uint16_t left, int32_t topY, uint16_t height);

}  // namespace gifin

#endif
