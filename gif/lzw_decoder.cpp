// Variable-width GIF LZW decoding with fixed tables, a small input window
// refilled one sub-block at a time, and banded output through gif/raster.
//
// Two ways of writing a code's string give the same pixels. While the stream
// is well formed (every entry made since the last clear code refers only to
// entries made before it), each entry's string length is kept, so a string
// is written back to front straight into the pixel buffer in one walk, and
// that walk ends at the first pixel that the next entry needs. A code above the next free code, or a
// first code after a clear code that names an entry not yet made, reaches
// into entries left from earlier tables; from there on the image is decoded
// by walking prefix chains through the reversal stack exactly as the table
// holds them, with every walk bounded.
#include "gif/lzw_decoder.h"

#include <algorithm>
#include <cstring>

#include "gif/raster.h"

namespace {

constexpr uint32_t kMaxCodes = 4096;  // codes are at most 12 bits
constexpr uint32_t kStackSlots = kReversalStackBytes / 2;
constexpr size_t kWindowBlockBytes = kInputWindowBytes + 4;
constexpr uint16_t kNoPendingSuffix = 0xFFFF;

inline uint32_t LoadLittle32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline uint32_t LoadLittle24(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16;
}

// The compressed bytes between the stream and the code reader.
struct InputWindow {
  FilterSetup* job;
  QvStream stream;
  uint8_t* bytes;
  uint32_t available;   // bytes filled from the stream
  uint32_t bitPosition; // bits consumed, from bytes[0]
  uint8_t blockLength;  // length of the next sub-block not read; 0: no more

  // Loads sub-blocks while at most 4 bytes remain past the byte position,
  // after moving the unread bytes to the front; progress and the host's
  // answer after each. 0, 61 (unreported), or a reported error.
  FilterError Refill() {
    while ((bitPosition >> 3) + 4 >= available && blockLength != 0) {
      const uint32_t bytePosition = bitPosition >> 3;
      if (bytePosition != 0) {
        const uint32_t keep = available > bytePosition ? available - bytePosition : 0;
        std::memmove(bytes, bytes + bytePosition, keep);
        available = keep;
        bitPosition &= 7;
      }
      if (QvStreamRead(stream, bytes + available, blockLength) != blockLength) {
        return Fail(job, kErrRead);
      }
      available += blockLength;
      if (QvStreamRead(stream, &blockLength, 1) != 1) return Fail(job, kErrRead);
      if (FilterError err = ReportSubBlock()) return err;
    }
    return kErrNone;
  }

  // After the last pixel or the end code, the image's sub-blocks left up to
  // its terminator, with progress and the host's answer after each as for
  // those decoded, so that no byte of image data is ever read as a block.
  // Each round consumes at least two bytes, so the skip ends with the data.
  // Data that ends first is tolerated (no error): the pixels are complete,
  // and the block loop then meets the end of the data like a trailer.
  FilterError SkipRest() {
    while (blockLength != 0) {
      if (QvStreamRead(stream, bytes, blockLength) != blockLength ||
          QvStreamRead(stream, &blockLength, 1) != 1) {
        return kErrNone;
      }
      if (FilterError err = ReportSubBlock()) return err;
    }
    return kErrNone;
  }

  FilterError ReportSubBlock() {
    UpdatePercentDone(stream, job);
    if (FilterError err = CheckImportStatus(job)) {
      return err == kErrCancelled ? err : Fail(job, err);
    }
    return kErrNone;
  }
};

// Writes the string of `code` at the cursor, then the pending suffix unless
// it is kNoPendingSuffix; pixels past remainingPixels are dropped. The
// string is reversed on the stack, filled from its top slot down. Returns
// the advanced cursor, or null when the chain does not reach a root within
// the stack: its prefixes run in a cycle, and nothing of it was written.
uint8_t* EmitCodeString(uint16_t* stack, uint8_t* cursor, uint32_t& remainingPixels, uint32_t code,
                        uint16_t pendingSuffix, uint32_t clearCode, const uint32_t* codeTable) {
  uint16_t* const bottom = stack;
  uint16_t* const top = stack + kStackSlots;
  uint16_t* sp = top;
  if (pendingSuffix != kNoPendingSuffix) *--sp = pendingSuffix;
  for (;;) {
    while (code >= clearCode) {
      if (sp == bottom) return nullptr;
      const uint32_t entry = codeTable[code];
      *--sp = static_cast<uint16_t>(entry);
      code = entry >> 16;
    }
    if (remainingPixels == 0) return cursor;
    *cursor++ = static_cast<uint8_t>(code);
    --remainingPixels;
    if (sp == top) return cursor;
    code = *sp++;
  }
}

// First pixel of `code`'s string, following prefixes while above the clear
// code; false when the walk does not end within the table's size.
bool FindFirstPixel(uint32_t code, uint32_t clearCode, const uint32_t* codeTable,
                    uint32_t* firstPixel) {
  for (int steps = 0; code > clearCode; ++steps) {
    if (steps == kCodeTableEntries) return false;
    code = codeTable[code] >> 16;
  }
  *firstPixel = code;
  return true;
}

// Writes a well-formed string of known length back to front (the last
// pixel is the suffix of the code itself); only its first remainingPixels
// pixels when it does not fit. Returns the string's first pixel (its root).
inline uint32_t WriteKnownString(uint8_t*& cursor, uint32_t& remainingPixels, uint32_t code,
                                 uint32_t length, const uint32_t* codeTable) {
  if (length > remainingPixels) {
    for (uint32_t skip = length - remainingPixels; skip != 0; --skip) code = codeTable[code] >> 16;
    length = remainingPixels;
  }
  uint8_t* p = cursor + length;
  for (uint32_t links = length - 1; links != 0; --links) {
    const uint32_t entry = codeTable[code];
    *--p = static_cast<uint8_t>(entry);
    code = entry >> 16;
  }
  *--p = static_cast<uint8_t>(code);
  cursor += length;
  remainingPixels -= length;
  return code;
}

struct Blocks {
  uint32_t* codeTable = nullptr;
  uint16_t* stack = nullptr;  // also the string lengths while well formed
  uint8_t* window = nullptr;

  ~Blocks() {
    FreeWorkBlock(&codeTable);
    FreeWorkBlock(&stack);
    FreeWorkBlock(&window);
  }
};

// The decoding loop. 0 when decoding stopped without error.
FilterError DecodeCodes(InputWindow& input, const Blocks& blocks, uint8_t minimumCodeSize,
                        uint8_t* pixels, uint32_t pixelCount) {
  uint32_t* const table = blocks.codeTable;
  uint16_t* const lengths = blocks.stack;
  const uint8_t* const window = input.bytes;
  const uint32_t clearCode = 1u << minimumCodeSize;
  const uint32_t endCode = clearCode + 1;
  const uint32_t firstFree = clearCode + 2;

  uint32_t nextCode = firstFree;
  uint32_t codeWidth = minimumCodeSize + 1u;
  uint32_t codeLimit = 1u << codeWidth;
  uint32_t bitPosition = 0;
  uint32_t available = 0;
  uint8_t* cursor = pixels;
  uint32_t remaining = pixelCount;
  uint32_t previousCode = 0;
  bool exact = false;      // decoding by walking the chains
  bool firstCode = true;   // the stream's first code

  // No local's address is taken here (the refill and the chain walks get
  // copies), so that the byte stores of the hot path do not force the
  // decoder's state out of registers.
#define GIFIMPORT_REFILL()                       \
  do {                                           \
    input.bitPosition = bitPosition;             \
    input.available = available;                 \
    const FilterError err = input.Refill();      \
    bitPosition = input.bitPosition;             \
    available = input.available;                 \
    if (err != kErrNone) return err;             \
  } while (false)
#define GIFIMPORT_GROW_WIDTH()                             \
  do {                                                     \
    if (nextCode == codeLimit && codeLimit < kMaxCodes) {  \
      ++codeWidth;                                         \
      codeLimit <<= 1;                                     \
    }                                                      \
  } while (false)
#define GIFIMPORT_EMIT(code, suffix)                                                           \
  do {                                                                                         \
    uint32_t left = remaining;                                                                 \
    cursor = EmitCodeString(lengths, cursor, left, (code), (suffix), clearCode, table);       \
    remaining = left;                                                                          \
  } while (false)

  // Roots are strings of one pixel.
  for (uint32_t root = 0; root < clearCode; ++root) lengths[root] = 1;

  while (remaining != 0) {
    uint32_t bytePosition = bitPosition >> 3;
    if (bytePosition + 4 >= available) {
      if (input.blockLength != 0) {
        GIFIMPORT_REFILL();
        bytePosition = bitPosition >> 3;
      }
      // Data that ended before the end code and the last pixel: only whole
      // codes of the bytes the stream gave are decoded, the rest of the
      // image stays 0, whatever the sub-block split.
      if (bitPosition + codeWidth > available * 8) break;
    }
    uint32_t code = (LoadLittle32(window + bytePosition) >> (bitPosition & 7)) & (codeLimit - 1);
    bitPosition += codeWidth;

    if (code == clearCode) {
      // Repeated clear codes act as one.
      do {
        nextCode = firstFree;
        codeWidth = minimumCodeSize + 1u;
        codeLimit = 1u << codeWidth;
        for (uint32_t root = 0; root < clearCode; ++root) table[root] = root;
        if (!exact) {
          for (uint32_t root = 0; root < clearCode; ++root) lengths[root] = 1;
        }
        // The code after a clear code is read without a refill; one clear
        // code always leaves it inside the loaded bytes, but a run of them
        // can use up the window while sub-blocks remain, so load them first.
        if ((bitPosition >> 3) + 3 > available && input.blockLength != 0) {
          GIFIMPORT_REFILL();
        }
        if (bitPosition + codeWidth > available * 8) return kErrNone;
        code = (LoadLittle24(window + (bitPosition >> 3)) >> (bitPosition & 7)) & (codeLimit - 1);
        bitPosition += codeWidth;
      } while (code == clearCode);
      if (code == endCode) return kErrNone;
      firstCode = true;
    } else if (code == endCode) {
      return kErrNone;
    }

    if (firstCode) {
      // The first code of a table is written, and makes no entry.
      firstCode = false;
      if (code < clearCode) {
        *cursor++ = static_cast<uint8_t>(code);
        --remaining;
      } else {
        // An entry not made since the clear code: its string is whatever
        // the table holds from before.
        exact = true;
        GIFIMPORT_EMIT(code, kNoPendingSuffix);
        if (cursor == nullptr) return kErrNone;
      }
      previousCode = code;
      GIFIMPORT_GROW_WIDTH();
      continue;
    }

    if (!exact) {
      if (code < nextCode) {
        const uint32_t length = lengths[code];
        const uint32_t root = WriteKnownString(cursor, remaining, code, length, table);
        if (nextCode < kMaxCodes) {
          table[nextCode] = root | previousCode << 16;
          lengths[nextCode] = static_cast<uint16_t>(lengths[previousCode] + 1);
          ++nextCode;
          GIFIMPORT_GROW_WIDTH();
        }
        previousCode = code;
        continue;
      }
      if (code == nextCode) {
        // The string of the previous code and its own first pixel.
        // Rare: the previous string's first pixel is found by its walk.
        const uint32_t length = lengths[previousCode] + 1u;
        uint32_t previousRoot = previousCode;
        while (previousRoot >= clearCode) previousRoot = table[previousRoot] >> 16;
        table[nextCode] = previousRoot | previousCode << 16;
        lengths[nextCode] = static_cast<uint16_t>(length);
        ++nextCode;
        GIFIMPORT_GROW_WIDTH();
        WriteKnownString(cursor, remaining, code, length, table);
        previousCode = code;
        continue;
      }
      // A code above the next free code: the next entry will lead into
      // entries of an earlier table.
      exact = true;
    }

    if (code < nextCode) {
      GIFIMPORT_EMIT(code, kNoPendingSuffix);
      uint32_t firstPixel = 0;
      if (cursor == nullptr || !FindFirstPixel(code, clearCode, table, &firstPixel)) return kErrNone;
      if (nextCode < kMaxCodes) {
        table[nextCode++] = firstPixel | previousCode << 16;
        GIFIMPORT_GROW_WIDTH();
      }
    } else if (code == nextCode) {
      uint32_t firstPixel = 0;
      if (!FindFirstPixel(previousCode, clearCode, table, &firstPixel)) return kErrNone;
      table[nextCode++] = firstPixel | previousCode << 16;
      GIFIMPORT_GROW_WIDTH();
      GIFIMPORT_EMIT(previousCode, static_cast<uint16_t>(firstPixel));
      if (cursor == nullptr) return kErrNone;
    }
    // A code above the next free code writes nothing and makes no entry,
    // but still becomes the prefix of the next one.
    previousCode = code;
  }
  return kErrNone;
#undef GIFIMPORT_REFILL
#undef GIFIMPORT_GROW_WIDTH
#undef GIFIMPORT_EMIT
}

}  // namespace

FilterError DecodeImage(FilterSetup* job, uint8_t interlaced, int32_t bitsPerPixel,
                        uint16_t width, uint16_t left, int32_t topY, uint16_t height,
                        QvStream stream) {
  uint8_t minimumCodeSize = 0;
  uint8_t blockLength = 0;
  if (QvStreamRead(stream, &minimumCodeSize, 1) != 1 ||
      QvStreamRead(stream, &blockLength, 1) != 1) {
    return Fail(job, kErrRead);
  }
  if (minimumCodeSize > kMaxMinimumCodeSize) return Fail(job, kErrRead);

  // Sized in 32 bits: at width 65533 and above, a 16-bit padded width would
  // wrap to 0. Rows padded to 4 bytes hold the packed rows of every depth. A
  // zero-sized movable block cannot be locked, hence at least one byte.
  const size_t paddedWidth = (static_cast<size_t>(width) + 3) & ~static_cast<size_t>(3);
  const size_t pixelBytes = paddedWidth * height;
  HGLOBAL pixelBlock = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, std::max<size_t>(pixelBytes, 1));
  uint8_t* pixels = pixelBlock != nullptr ? static_cast<uint8_t*>(GlobalLock(pixelBlock)) : nullptr;
  if (pixels == nullptr) {
    if (pixelBlock != nullptr) GlobalFree(pixelBlock);
    return Fail(job, kErrMemory);
  }

  FilterError err = kErrNone;
  {
    Blocks blocks;
    blocks.codeTable = static_cast<uint32_t*>(AllocWorkBlock(kCodeTableBytes));
    if (blocks.codeTable != nullptr) {
      blocks.stack = static_cast<uint16_t*>(AllocWorkBlock(kReversalStackBytes));
    }
    if (blocks.stack != nullptr) {
      blocks.window = static_cast<uint8_t*>(AllocWorkBlock(kWindowBlockBytes));
    }
    if (blocks.window == nullptr) {
      err = Fail(job, kErrMemory);
    } else {
      InputWindow input = {job, stream, blocks.window, 0, 0, blockLength};
      err = DecodeCodes(input, blocks, minimumCodeSize, pixels,
                        static_cast<uint32_t>(width) * height);
      if (err == kErrNone) err = input.SkipRest();
    }
  }
  if (err != kErrNone) {
    GlobalUnlock(pixelBlock);
    GlobalFree(pixelBlock);
    return err;
  }
  return EmitRaster(job, pixelBlock, pixels, interlaced, bitsPerPixel, width, left, topY, height);
}
