#include "gif/gif_header.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "gif/gif_format.h"

namespace gifin {

namespace {

// Sub-blocks walked before giving up on a stream that never ends (a host
// stream that delivers bytes forever). A real file has a handful of
// extensions before its first image; this still allows 4 MB of them.
constexpr long kMaxRecoverySteps = 1L << 14;

constexpr int32_t kRecoveryFailed = -1;

// GIF89a is the newest version there is.
constexpr long kNewestVersion = 89;

}  // namespace

int32_t DepthForSizeField(int32_t sizeField) {
  int32_t bits = (sizeField & kSizeFieldMask) + 1;
  if (bits == 1) return 1;
  return bits <= 4 ? 4 : 8;
}

Unreported ReadGifHeader(QvStream stream, GifHeader* header, int32_t* globalColorCount,
                         int32_t* colorBits) {
  if (QvStreamReadFormat(stream, kGifHeaderFormat, header, 1) != 1) return {kErrRead};

  char text[4] = {};
  std::memcpy(text, header->signature, 3);
  // Any case of "GIF" passes, as it always has.
  for (int i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(text[i])) != "GIF"[i]) return {kErrNotGif};
  }

  // Only the first two version characters count, read as atol reads them:
  // leading digits, none giving 0; so "87a", "89a" and "xxa" all pass.
  std::memset(text, 0, sizeof text);
  std::memcpy(text, header->version, 2);
  // NOLINTNEXTLINE(cert-err34-c): atol's reading is the rule, errors and all
  if (std::atol(text) > kNewestVersion) return {kErrVersion};

  *colorBits = (header->packed & kSizeFieldMask) + 1;
  *globalColorCount = (header->packed & kColorTableFlag) ? ColorTableEntries(header->packed) : 0;

  if (header->width != 0 && header->height != 0) return {};
  if (RecoverScreenSize(stream, &header->width, &header->height, *globalColorCount) != 0) {
    return {kErrNotGif};
  }
  return {};
}

int32_t RecoverScreenSize(QvStream stream, uint16_t* width, uint16_t* height,
                          int32_t globalColorCount) {
  const int32_t start = QvStreamSeek(stream, 0, kQvSeekCurrent);
  // Without a known position the stream could not be put back, and the
  // import would go on reading from the first image.
  if (start < 0) return kRecoveryFailed;
  if (QvStreamSeek(stream, 3 * globalColorCount, kQvSeekCurrent) < 0) return kRecoveryFailed;

  // Every byte that is not ',' is taken for an extension introducer, the
  // trailer included; a stream that ends shows at the next length read.
  uint8_t introducer = 0;
  QvStreamRead(stream, &introducer, 1);
  long budget = kMaxRecoverySteps;
  while (introducer != kImageSeparator) {
    if (QvStreamSeek(stream, 1, kQvSeekCurrent) < 0) return kRecoveryFailed;  // the label
    if (!SkipSubBlocks(stream, &budget)) return kRecoveryFailed;
    // The recovery has always skipped the terminator's 0 bytes too: hosts'
    // streams see the same calls as ever.
    if (QvStreamSeek(stream, 0, kQvSeekCurrent) < 0) return kRecoveryFailed;
    introducer = 0;
    QvStreamRead(stream, &introducer, 1);
  }

  // Left and top are skipped; width and height must be read whole, or the
  // screen would be reported as 0 wide or high.
  uint16_t size[2] = {0, 0};
  if (QvStreamSeek(stream, 4, kQvSeekCurrent) < 0) return kRecoveryFailed;
  if (QvStreamReadShorts(stream, size, 2) != 2) return kRecoveryFailed;
  if (QvStreamSeek(stream, start, kQvSeekStart) != start) return kRecoveryFailed;
  *width = size[0];
  *height = size[1];
  return 0;
}

}  // namespace gifin
