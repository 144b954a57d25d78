// LZW decoder of one GIF image into a one-byte-per-pixel buffer, which the
// raster stage then packs and sends to the picture in bands.
#ifndef GIFIMPORT_GIF_LZW_DECODER_H
#define GIFIMPORT_GIF_LZW_DECODER_H

#include <cstdint>

#include "filter/filter_setup.h"
#include "filter/status.h"
#include "output/companion.h"

constexpr int kCodeTableEntries = 5000;
constexpr int kCodeTableBytes = kCodeTableEntries * 4;    // 20000
constexpr int kReversalStackBytes = kCodeTableEntries * 2; // 10000
constexpr int kInputWindowBytes = 510;
constexpr int kMaxMinimumCodeSize = 11;

// Decodes the image data at the stream (minimum code size byte first) and
// sends the rows between the caller's QvBitmapBegin and QvBitmapEnd.
// Returns 0, 61 (not reported) or a reported FilterError; on failure nothing
// reaches the picture and every block is released.
FilterError DecodeImage(FilterSetup* job, uint8_t interlaced, int32_t bitsPerPixel,
                        uint16_t width, uint16_t left, int32_t topY, uint16_t height,
                        QvStream stream);

#endif
