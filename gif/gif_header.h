// GIF header and logical screen, and recovery of a zero screen size.
//
// Header record, read with the format "6c2s3c" (13 bytes in the stream and in
// the record): +0 3c signature "GIF", +3 3c version "87a"/"89a",
// +6 2s screen width, +8 2s screen height, +10 1c packed fields (bit 7
// global colour table; bits 0-2 its size field n), +11 1c background colour
// index, +12 1c pixel aspect ratio.
#ifndef GIFIMPORT_GIF_GIF_HEADER_H
#define GIFIMPORT_GIF_GIF_HEADER_H

#include <cstddef>
#include <cstdint>

#include "core/status.h"
#include "gifimport/companion.h"
#include "gifimport/input_stream.h"

namespace gifin {

struct GifHeader {
  char signature[3];
  char version[3];
  uint16_t width;
  uint16_t height;
  uint8_t packed;
  uint8_t backgroundIndex;
  uint8_t aspectRatio;
};
static_assert(offsetof(GifHeader, aspectRatio) == 12, "GIF header record: 13 bytes read");

constexpr const char* kGifHeaderFormat = "6c2s3c";
constexpr const char* kColorEntryFormat = "3c";
constexpr const char* kImageDescriptorFormat = "4s1c";
constexpr const char* kGraphicControlFormat = "1c1s1c";
constexpr const char* kPlainTextFormat = "4s4c";

// Reads and checks the header; reports nothing (its callers do). No failure
// on success, the stream right behind the 13 bytes; kErrRead when not read
// whole, kErrNotGif for another signature (or a zero screen size that cannot
// be recovered), kErrVersion for a version above 89.
// colorBits = size field + 1 (1..8) whether or not a global table is present;
// globalColorCount = 2^colorBits when the table is present, else 0.
Unreported ReadGifHeader(QvStream stream, GifHeader* header, int32_t* globalColorCount,
                         int32_t* colorBits);

// Replaces width and height by those of the first image and puts the stream
// back. 0, or -1 when the stream ends while skipping sub-blocks.
int32_t RecoverScreenSize(QvStream stream, uint16_t* width, uint16_t* height,
                          int32_t globalColorCount);

// Output depth (1, 4 or 8) for a colour table size field n.
int32_t DepthForSizeField(int32_t sizeField);

}  // namespace gifin

#endif
