// LZW decoder of one GIF image into a one-byte-per-pixel buffer, which the
// raster stage then packs and sends to the picture in bands.
#ifndef GIFIMPORT_GIF_LZW_DECODER_H
#define GIFIMPORT_GIF_LZW_DECODER_H

#include <cstdint>

#include "core/filter_setup.h"
#include "core/status.h"
#include "gifimport/companion.h"
#include "gifimport/input_stream.h"

namespace gifin {

// Compressed bytes not yet consumed: at most 4 left over plus one sub-block
// (259), in a block of kInputWindowBytes + 4, which also holds the bytes
// the code loop may load past them.
constexpr int kInputWindowBytes = 510;

// Decodes the image data at the stream (minimum code size byte first) and
// sends the rows between the caller's QvBitmapBegin and QvBitmapEnd (the
// raster stage, gif/raster.h). bitsPerPixel is 1, 4 or 8; topY is the
// picture y of the image's top edge.
//
// Progress is reported and the host asked after every sub-block. Data that
// ends early, an end code, pixels complete, and a string whose prefixes run
// in a cycle (a corrupt stream) all stop decoding without error: the pixels
// decoded so far are sent, the rest are 0. Only whole codes of the bytes
// the stream gave are decoded. The sub-blocks left after the stop are
// skipped up to the terminator, so the stream is left after the image data
// (or at the end of the data).
//
// Returns 0; kErrCancelled when the progress check stopped the import (not
// reported); kErrRead for a short read or a minimum code size above 11,
// kErrMemory when memory cannot be had, or a library error from the
// progress check (all three reported). On failure nothing reaches the
// picture. Every block is released before the return.
FilterError DecodeImage(FilterSetup* job, uint8_t interlaced, int32_t bitsPerPixel, uint16_t width,
                        uint16_t left, int32_t topY, uint16_t height, QvStream stream);

}  // namespace gifin

#endif
