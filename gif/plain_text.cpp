// Plain-text extension: the text grid's lines, broken near word boundaries.
#include "gif/plain_text.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "gif/gif_format.h"

namespace gifin {

namespace {

// The first sub-block, read as "4s4c" (12 bytes in the stream and here):
// +0 2s grid left, +2 2s grid top, +4 2s grid width, +6 2s grid height,
// +8 1c cell width (not used), +9 1c cell height, +10 1c foreground index,
// +11 1c background index.
struct PlainTextRecord {
  uint16_t gridLeft;
  uint16_t gridTop;
  uint16_t gridWidth;
  uint16_t gridHeight;
  uint8_t cellWidth;
  uint8_t cellHeight;
  uint8_t foreground;
  uint8_t background;
};
static_assert(sizeof(PlainTextRecord) == 12, "plain-text record is 12 bytes");

constexpr double kTextHeightFactor = 0.6666;  // bits 0x3FE554C985F06F69
constexpr size_t kTextBufferBytes = 256;      // one sub-block and its zero

bool IsWordCharacter(uint8_t c) {
  return std::islower(c) != 0 || std::isupper(c) != 0 || std::isdigit(c) != 0;
}

// Lines per sub-block: the grid's rows less one, at least 1. A cell height
// of 0 gives no rows to count: the text is then one line per proposed
// length, all on the grid's first line (y does not move).
int32_t LineCount(uint16_t gridHeight, uint8_t cellHeight) {
  if (cellHeight == 0) return 1;
  const int32_t count = static_cast<int32_t>(gridHeight / cellHeight) - 1;
  return count > 1 ? count : 1;
}

// Draws one sub-block of `size` bytes held in `buffer`, line by line.
void DrawSubBlock(FilterSetup* job, char* buffer, uint32_t size, int32_t lineCount,
                  uint8_t cellHeight, const PicturePoint& extent, PicturePoint& origin,
                  int16_t& y) {
  // Text bytes outside 0x20..0x7F are drawn as "2".
  for (uint32_t i = 0; i < size; ++i) {
    const uint8_t c = static_cast<uint8_t>(buffer[i]);
    if (c < 0x20 || c > 0x7F) buffer[i] = '2';
  }
  // The bytes still to draw are buffer[0 .. B + remaining); nothing past
  // them is looked at.
  auto at = [&](uint32_t index, uint32_t valid) -> uint8_t {
    return index < valid ? static_cast<uint8_t>(buffer[index]) : 0;
  };
  uint32_t proposed = size / static_cast<uint32_t>(lineCount);
  uint32_t remaining = size;
  while (remaining != 0) {
    const uint32_t valid = remaining;
    proposed = std::min(remaining, proposed);
    remaining -= proposed;
    uint32_t breakAt = proposed;
    // Past the proposed length: to the end of its word, over the space, and
    // up to the next letter or digit, which starts the next line.
    bool sawSpace = at(breakAt, valid) == ' ';
    bool wordFound = false;
    while (remaining != 0 && !(sawSpace && wordFound)) {
      ++breakAt;
      --remaining;
      if (!sawSpace) {
        sawSpace = at(breakAt, valid) == ' ';
      } else {
        wordFound = IsWordCharacter(at(breakAt, valid));
      }
    }
    const char saved = buffer[breakAt];
    buffer[breakAt] = '\0';
    y = static_cast<int16_t>(y - cellHeight);
    origin.y.value = y;
    QvDrawText(job->picture, &extent, &origin, kQvTextMode, buffer);
    buffer[breakAt] = saved;
    std::memmove(buffer, buffer + breakAt, remaining);
    // The next line is proposed as long as this one was.
    proposed = breakAt;
  }
}

}  // namespace

FilterError RenderPlainText(FilterSetup* job, QvStream stream, const GifHeader* header) {
  uint8_t firstSize = 0;
  if (QvStreamRead(stream, &firstSize, 1) != 1) return Fail(job, kErrRead);
  // Another first block size abandons the extension here; the block loop
  // reads on from the next byte.
  if (firstSize != kPlainTextBlockSize) return kErrNone;
  PlainTextRecord record = {};
  if (QvStreamReadFormat(stream, kPlainTextFormat, &record, 1) != 1) return Fail(job, kErrRead);

  CoordSlot textHeight = {};
  textHeight.value = static_cast<int16_t>(static_cast<int>(record.cellHeight * kTextHeightFactor));
  QvSetTextHeight(job->picture, textHeight);
  const uint16_t foreground = record.foreground;
  const uint16_t background = record.background;
  QvSetTextColorIndex(job->picture, &foreground);
  QvSetBackColorIndex(job->picture, &background);

  PicturePoint extent = {};
  extent.x.value = static_cast<int16_t>(record.gridWidth);
  extent.y.value = static_cast<int16_t>(record.gridHeight);
  PicturePoint origin = {};
  origin.x.value = static_cast<int16_t>(record.gridLeft);
  int16_t y = static_cast<int16_t>(static_cast<uint16_t>(header->height - record.gridTop - 1));
  const int32_t lineCount = LineCount(record.gridHeight, record.cellHeight);

  char* buffer = static_cast<char*>(AllocWorkBlock(kTextBufferBytes));
  if (buffer == nullptr) return Fail(job, kErrMemory);
  long budget = kMaxSubBlocks;
  const bool read = WalkSubBlocks(stream, &budget, [&](uint8_t size, bool* consumed) {
    *consumed = true;
    if (QvStreamRead(stream, buffer, size) != size) return false;
    DrawSubBlock(job, buffer, size, lineCount, record.cellHeight, extent, origin, y);
    return true;
  });
  FreeWorkBlock(&buffer);
  return read ? kErrNone : Fail(job, kErrRead);
}

}  // namespace gifin
