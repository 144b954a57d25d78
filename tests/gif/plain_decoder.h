// A plain GIF LZW decoder with DecodeImage's interface, kept as the oracle
// that the filter's fast decoder must match call for call.
#ifndef GIFIMPORT_TESTS_GIF_PLAIN_DECODER_H
#define GIFIMPORT_TESTS_GIF_PLAIN_DECODER_H

#include <cstdint>

#include "core/filter_setup.h"
#include "core/status.h"
#include "gifimport/companion.h"
#include "gifimport/input_stream.h"

FilterError PlainDecodeImage(FilterSetup* job, uint8_t interlaced, int32_t bitsPerPixel,
                             uint16_t width, uint16_t left, int32_t topY, uint16_t height,
                             QvStream stream);

#endif
