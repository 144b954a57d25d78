// The plain decoder that the filter's fast one is checked against: every
// string is reversed through the stack by walking its prefixes, codes are
// read one at a time, and the window is loaded and the sub-blocks skipped
// exactly as the filter does, through the same companion and status calls.
#include "tests/gif/plain_decoder.h"

#include <algorithm>
#include <cstring>

#include "gif/raster.h"
#include "platform/locked_global.h"

namespace {

constexpr uint32_t kMaxCodes = 4096;
constexpr uint32_t kStackSlots = 5000;
constexpr size_t kWindowBytes = 514;

uint32_t Load24(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16; }
uint32_t Load32(const uint8_t* p) { return Load24(p) | static_cast<uint32_t>(p[3]) << 24; }

struct Input {
  FilterSetup* job;
  QvStream stream;
  uint8_t* bytes;
  uint32_t available, bitPosition;
  uint8_t blockLength;

  FilterError Report() {
    UpdatePercentDone(stream, job);
    return CheckImportStatus(job);
  }
  // Sub-blocks while at most 4 bytes lie past the byte position.
  FilterError Refill() {
    while ((bitPosition >> 3) + 4 >= available && blockLength != 0) {
      const uint32_t at = bitPosition >> 3;
      const uint32_t keep = available > at ? available - at : 0;
      std::memmove(bytes, bytes + at, keep);
      available = keep;
      bitPosition &= 7;
      if (QvStreamRead(stream, bytes + available, blockLength) != blockLength)
        return Fail(job, kErrRead);
      available += blockLength;
      if (QvStreamRead(stream, &blockLength, 1) != 1) return Fail(job, kErrRead);
      if (FilterError err = Report()) return err;
    }
    return kErrNone;
  }
  bool Fits(uint32_t width) const { return bitPosition + width <= available * 8; }
  FilterError SkipRest() {
    while (blockLength != 0) {
      if (QvStreamRead(stream, bytes, blockLength) != blockLength ||
          QvStreamRead(stream, &blockLength, 1) != 1) {
        return kErrNone;
      }
      if (FilterError err = Report()) return err;
    }
    return kErrNone;
  }
};

struct Plain {
  const uint32_t* table;
  uint16_t* stack;
  uint8_t* cursor;
  uint32_t remaining;
  uint32_t clearCode;

  // The string of `code`, then `suffix` unless negative; false on a cycle.
  bool Emit(uint32_t code, int suffix) {
    uint16_t* sp = stack + kStackSlots;
    if (suffix >= 0) *--sp = static_cast<uint16_t>(suffix);
    for (;;) {
      while (code >= clearCode) {
        if (sp == stack) return false;
        *--sp = static_cast<uint16_t>(table[code]);
        code = table[code] >> 16;
      }
      if (remaining == 0) return true;
      *cursor++ = static_cast<uint8_t>(code);
      --remaining;
      if (sp == stack + kStackSlots) return true;
      code = *sp++;
    }
  }
  bool First(uint32_t code, uint32_t* pixel) const {
    for (uint32_t steps = 0; code > clearCode; ++steps) {
      if (steps == kStackSlots) return false;
      code = table[code] >> 16;
    }
    *pixel = code;
    return true;
  }
};

FilterError Decode(Input& in, uint32_t* table, uint16_t* stack, uint8_t minimumCodeSize,
                   uint8_t* pixels, uint32_t count) {
  const uint32_t clear = 1u << minimumCodeSize, end = clear + 1;
  Plain p{table, stack, pixels, count, clear};
  uint32_t next = clear + 2, width = minimumCodeSize + 1u, previous = 0;
  bool first = true;
  auto grow = [&] {
    if (next == (1u << width) && width < 12) ++width;
  };
  auto read = [&](uint32_t bits) {
    const uint32_t code = (bits >> (in.bitPosition & 7)) & ((1u << width) - 1);
    in.bitPosition += width;
    return code;
  };
  while (p.remaining != 0) {
    if ((in.bitPosition >> 3) + 4 >= in.available) {
      if (FilterError err = in.Refill()) return err;
      if (!in.Fits(width)) return kErrNone;
    }
    uint32_t code = read(Load32(in.bytes + (in.bitPosition >> 3)));
    if (code == clear) {
      do {
        next = clear + 2;
        width = minimumCodeSize + 1u;
        for (uint32_t root = 0; root < clear; ++root) table[root] = root;
        if ((in.bitPosition >> 3) + 3 > in.available) {
          if (FilterError err = in.Refill()) return err;
        }
        if (!in.Fits(width)) return kErrNone;
        code = read(Load24(in.bytes + (in.bitPosition >> 3)));
      } while (code == clear);
      first = true;
    }
    if (code == end) return kErrNone;
    uint32_t pixel = 0;
    if (first) {
      first = false;
      if (!p.Emit(code, -1)) return kErrNone;
    } else if (code < next) {
      if (!p.Emit(code, -1) || !p.First(code, &pixel)) return kErrNone;
      if (next < kMaxCodes) table[next++] = pixel | previous << 16;
    } else if (code == next) {
      if (!p.First(previous, &pixel)) return kErrNone;
      table[next++] = pixel | previous << 16;
      grow();
      if (!p.Emit(previous, static_cast<int>(pixel))) return kErrNone;
    }
    grow();
    previous = code;
  }
  return kErrNone;
}

}  // namespace

FilterError PlainDecodeImage(FilterSetup* job, uint8_t interlaced, int32_t bitsPerPixel,
                             uint16_t width, uint16_t left, int32_t topY, uint16_t height,
                             QvStream stream) {
  uint8_t minimumCodeSize = 0, blockLength = 0;
  if (QvStreamRead(stream, &minimumCodeSize, 1) != 1 ||
      QvStreamRead(stream, &blockLength, 1) != 1 || minimumCodeSize > 11) {
    return Fail(job, kErrRead);
  }
  const size_t bytes = ((size_t{width} + 3) & ~size_t{3}) * height;
  const LockedGlobal pixelBlock = LockedGlobal::Allocate(bytes);
  auto* pixels = pixelBlock.As<uint8_t>();
  auto* table = static_cast<uint32_t*>(AllocWorkBlock(kStackSlots * 4));
  auto* stack = static_cast<uint16_t*>(AllocWorkBlock(kStackSlots * 2));
  auto* window = static_cast<uint8_t*>(AllocWorkBlock(kWindowBytes));
  FilterError err = kErrMemory;
  if (pixels && table && stack && window) {
    Input in{job, stream, window, 0, 0, blockLength};
    err = Decode(in, table, stack, minimumCodeSize, pixels, uint32_t{width} * height);
    if (err == kErrNone) err = in.SkipRest();
  } else {
    Fail(job, err);
  }
  FreeWorkBlock(&table);
  FreeWorkBlock(&stack);
  FreeWorkBlock(&window);
  if (err != kErrNone) return err;
  return EmitRaster(job, pixels, interlaced, bitsPerPixel, width, left, topY, height);
}
