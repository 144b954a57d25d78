// One image's LZW data: the input window refilled one sub-block at a time,
// progress and the host's answer after each, the code loop of gif/lzw_core,
// the sub-blocks left after it stops skipped, and the rows sent through
// gif/raster.
#include "gif/lzw_decoder.h"

#include <cstring>

#include "gif/lzw_core.h"
#include "gif/raster.h"
#include "platform/locked_global.h"

namespace gifin {

namespace {

constexpr size_t kWindowBlockBytes = kInputWindowBytes + 4;
// A refill leaves at most kLzwInputMargin bytes unread and adds one sub-block.
constexpr uint32_t kMaxWindowFill = kLzwInputMargin + 255;
static_assert(kMaxWindowFill + kLzwInputSlack <= kWindowBlockBytes,
              "the core's loads at any byte position up to the fill stay in the window");

// The compressed bytes between the stream and the code reader.
struct InputWindow {
  FilterSetup* job;
  QvStream stream;
  uint8_t* bytes;
  uint32_t available;    // bytes filled from the stream
  uint32_t bitPosition;  // bits consumed, from bytes[0]
  uint8_t blockLength;   // length of the next sub-block not read; 0: no more

  // Loads sub-blocks while at most kLzwInputMargin bytes remain past the
  // byte position (the moments the core stops for input),
  // after moving the unread bytes to the front; progress and the host's
  // answer after each. 0, kErrCancelled (unreported), or a reported error.
  FilterError Refill() {
    while ((bitPosition >> 3) + kLzwInputMargin >= available && blockLength != 0) {
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
    return CheckImportStatus(job);
  }
};

struct Blocks {
  LzwTables* tables = nullptr;
  uint16_t* stack = nullptr;
  uint8_t* window = nullptr;

  ~Blocks() {
    FreeWorkBlock(&tables);
    FreeWorkBlock(&stack);
    FreeWorkBlock(&window);
  }
};

// Decodes until the core stops for good: the pixels complete, the end code,
// a corrupt chain, or the input used up. 0 then, else the refill's error.
FilterError RunDecoder(InputWindow& window, LzwDecoder& decoder) {
  for (;;) {
    LzwInput input;
    input.bytes = window.bytes;
    input.available = window.available;
    input.bitPosition = window.bitPosition;
    input.more = window.blockLength != 0;
    const LzwStop stop = decoder.Decode(input);
    window.bitPosition = input.bitPosition;
    if (stop != LzwStop::kNeedInput || !input.more) return kErrNone;
    if (FilterError err = window.Refill()) return err;
  }
}

}  // namespace

FilterError DecodeImage(FilterSetup* job, uint8_t interlaced, int32_t bitsPerPixel, uint16_t width,
                        uint16_t left, int32_t topY, uint16_t height, QvStream stream) {
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
  const LockedGlobal pixelBlock = LockedGlobal::Allocate(pixelBytes);
  uint8_t* pixels = pixelBlock.As<uint8_t>();
  if (pixels == nullptr) return Fail(job, kErrMemory);

  FilterError err = kErrNone;
  {
    Blocks blocks;
    blocks.tables = static_cast<LzwTables*>(AllocWorkBlock(sizeof(LzwTables)));
    if (blocks.tables != nullptr) {
      blocks.stack = static_cast<uint16_t*>(AllocWorkBlock(kReversalStackBytes));
    }
    if (blocks.stack != nullptr) {
      blocks.window = static_cast<uint8_t*>(AllocWorkBlock(kWindowBlockBytes));
    }
    if (blocks.window == nullptr) {
      err = Fail(job, kErrMemory);
    } else {
      InputWindow window = {job, stream, blocks.window, 0, 0, blockLength};
      LzwDecoder decoder(blocks.tables, blocks.stack, minimumCodeSize, pixels,
                         static_cast<uint32_t>(width) * height);
      err = RunDecoder(window, decoder);
      if (err == kErrNone) err = window.SkipRest();
    }
  }
  if (err != kErrNone) return err;
  return EmitRaster(job, pixels, interlaced, bitsPerPixel, width, left, topY, height);
}

}  // namespace gifin
