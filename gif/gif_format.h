// The GIF format's fixed bytes (public, gifimport/gif_format.h: block
// introducers, extension labels, the flags and masks of the packed fields),
// and the one walk over sub-blocks that every reader of the stream uses.
//
// Sub-blocks: a size byte n (1..255) and n data bytes, repeated, ended by a
// size byte 0. Extensions and image data are carried this way.
#ifndef GIFIMPORT_GIF_GIF_FORMAT_H
#define GIFIMPORT_GIF_GIF_FORMAT_H

#include <cstdint>

#include "gifimport/gif_format.h"
#include "gifimport/input_stream.h"

namespace gifin {

// Colour table entries for a packed field whose table flag is set.
constexpr int32_t ColorTableEntries(uint8_t packed) {
  return int32_t{1} << ((packed & kSizeFieldMask) + 1);
}

// Sub-blocks one extension may hold before a stream is taken for one that
// never ends (a host stream that delivers bytes for ever): 16 MB of data.
constexpr long kMaxSubBlocks = 1L << 16;

// Walks sub-blocks up to and including the terminator, the stream right
// behind it. `visit(size, &consumed)` is called after each size byte; it
// sets `consumed` when it has read the block's data itself (else the data
// is skipped) and returns false when its own reading failed. Each block
// costs one of `*budget`. false when the data ends, a skip fails, the
// visitor fails or the budget runs out.
template <typename Visit>
bool WalkSubBlocks(QvStream stream, long* budget, Visit visit) {
  for (;;) {
    if (--*budget < 0) return false;
    uint8_t size = 0;
    if (QvStreamRead(stream, &size, 1) != 1) return false;
    if (size == 0) return true;
    bool consumed = false;
    if (!visit(size, &consumed)) return false;
    if (!consumed && QvStreamSeek(stream, size, kQvSeekCurrent) < 0) return false;
  }
}

// The sub-blocks of a block nobody reads, skipped whole.
inline bool SkipSubBlocks(QvStream stream, long* budget) {
  return WalkSubBlocks(stream, budget, [](uint8_t, bool*) { return true; });
}

}  // namespace gifin

#endif
