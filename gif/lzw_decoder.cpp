// Variable-width GIF LZW decoding with fixed tables, a small input window
// refilled one sub-block at a time, and banded output through gif/raster.
//
// Two ways of writing a code's string give the same pixels. While the stream
// is well formed (every entry made since the last clear code refers only to
// entries made before it), every entry's string already lies in the pixel
// buffer: it is the previous code's string, written just before, and the
// first pixel of the code after it. Such a string is copied from there in
// whole words, and codes are taken several at a time from one 64-bit load.
// A code above the next free code, or a first code after a clear code that
// names an entry not yet made, reaches into entries left from earlier
// tables; from there on the image is decoded one code at a time by walking
// prefix chains through the reversal stack exactly as the table holds them,
// with every walk bounded. The table's prefixes and suffixes are kept in
// both ways, so the second can take over from the first at any code.
#include "gif/lzw_decoder.h"

#include <algorithm>
#include <cstring>

#include "gif/raster.h"
#include "platform/locked_global.h"

namespace {

constexpr uint32_t kMaxCodes = 4096;  // codes are at most 12 bits
constexpr uint32_t kMaxCodeWidth = 12;
constexpr uint32_t kStackSlots = kReversalStackBytes / 2;
constexpr size_t kWindowBlockBytes = kInputWindowBytes + 4;
// A refill leaves at most 4 bytes unread and adds one sub-block.
constexpr uint32_t kMaxWindowFill = 4 + 255;
constexpr uint32_t kWordBytes = 8;
// Bits of a 64-bit load that are valid after the shift by the bit offset.
constexpr uint32_t kLoadBits = 64 - 7;
constexpr uint16_t kNoPendingSuffix = 0xFFFF;

static_assert(kMaxCodes <= static_cast<uint32_t>(kCodeTableEntries),
              "every code of up to 12 bits indexes the table");
static_assert(
    kMaxCodes + 1 <= kStackSlots,
    "a chain through every entry and a pending suffix fit the stack: only a cycle fills it");
static_assert(kMaxWindowFill + kWordBytes <= kWindowBlockBytes,
              "a word load at any byte position up to the fill stays in the window");
static_assert(kMaxCodeWidth <= kLoadBits, "one load holds at least one code");
static_assert(kMaxCodes - 1 <= 0xFFFF, "a string is at most one pixel per code: 16-bit lengths");

// Written out byte by byte so that compilers make it one 8-byte load.
inline uint64_t LoadLittle64(const uint8_t* p) {
  return static_cast<uint64_t>(p[0]) | static_cast<uint64_t>(p[1]) << 8 |
         static_cast<uint64_t>(p[2]) << 16 | static_cast<uint64_t>(p[3]) << 24 |
         static_cast<uint64_t>(p[4]) << 32 | static_cast<uint64_t>(p[5]) << 40 |
         static_cast<uint64_t>(p[6]) << 48 | static_cast<uint64_t>(p[7]) << 56;
}

// The compressed bytes between the stream and the code reader.
struct InputWindow {
  FilterSetup* job;
  QvStream stream;
  uint8_t* bytes;
  uint32_t available;    // bytes filled from the stream
  uint32_t bitPosition;  // bits consumed, from bytes[0]
  uint8_t blockLength;   // length of the next sub-block not read; 0: no more

  // Loads sub-blocks while at most 4 bytes remain past the byte position,
  // after moving the unread bytes to the front; progress and the host's
  // answer after each. 0, kErrCancelled (unreported), or a reported error.
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
    return CheckImportStatus(job);
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

// Copies a string written earlier in the pixel buffer to `to`: in whole
// words when there is room for a word past its end (the bytes written past
// it are overwritten by the strings after it, or cleared when decoding
// stops), else byte by byte and no further than `room`. The source ends at
// or before `to` (or lies in kRootPixels), so every byte read in the
// string's length is final.
// Returns the bytes written of it.
inline uint32_t CopyString(uint8_t* to, const uint8_t* from, uint32_t length, uint32_t room) {
  if (length + kWordBytes <= room) {
    for (uint32_t done = 0; done < length; done += kWordBytes) {
      uint64_t word;
      std::memcpy(&word, from + done, kWordBytes);
      std::memcpy(to + done, &word, kWordBytes);
    }
    return length;
  }
  const uint32_t count = std::min(length, room);
  for (uint32_t i = 0; i < count; ++i) to[i] = from[i];
  return count;
}

// The same where the caller has made sure of a word's room past the string:
// the first word without a loop, since the strings of noisy images are one
// to three pixels long.
inline void CopyWords(uint8_t* to, const uint8_t* from, uint32_t length) {
  uint64_t word;
  std::memcpy(&word, from, kWordBytes);
  std::memcpy(to, &word, kWordBytes);
  for (uint32_t done = kWordBytes; done < length; done += kWordBytes) {
    std::memcpy(&word, from + done, kWordBytes);
    std::memcpy(to + done, &word, kWordBytes);
  }
}

// Every root's pixel (its code's low 8 bits), with a word's room after the
// largest root, so that a root is copied like any other string.
struct RootPixels {
  uint8_t pixels[(1u << kMaxMinimumCodeSize) + kWordBytes];
  constexpr RootPixels() : pixels() {
    for (uint32_t i = 0; i < sizeof pixels; ++i) pixels[i] = static_cast<uint8_t>(i);
  }
};
constexpr RootPixels kRootPixels;

// One block, so that the loop reaches all three through one pointer.
struct CodeTables {
  uint32_t entries[kCodeTableEntries];  // suffix | prefix << 16
  // While well formed: where each code's string lies and its length; the
  // length is 0 for the clear and end codes, which have no string.
  const uint8_t* sources[kMaxCodes];
  uint16_t lengths[kMaxCodes];
};

struct Blocks {
  CodeTables* tables = nullptr;
  uint16_t* stack = nullptr;
  uint8_t* window = nullptr;

  ~Blocks() {
    FreeWorkBlock(&tables);
    FreeWorkBlock(&stack);
    FreeWorkBlock(&window);
  }
};

// A string has at most one pixel per entry made since the clear code and
// its root, so fewer than kMaxCodes: while this many pixels are left, a
// code's string and the word copied past it need no check of the room.
constexpr uint32_t kRoomyStringBytes = kMaxCodes + kWordBytes;

// The decoder's state that the code loop keeps in registers: copied into a
// local at the start of a run of codes and written back before anything that
// is not inlined (a refill, a clear code, the walks of the exact way).
struct CodeState {
  uint32_t bitPosition = 0;  // bits consumed, from the window's start
  uint32_t available = 0;    // window bytes filled from the stream
  uint32_t nextCode = 0;     // the code the next entry takes
  uint32_t codeWidth = 0;
  uint32_t codeMask = 0;  // (1 << codeWidth) - 1
  uint32_t previousCode = 0;
  uint8_t* cursor = nullptr;  // the next pixel to write
  // Where previousCode's string was written; while well formed it ends at
  // the cursor, which gives its length.
  uint8_t* previous = nullptr;
};

enum class Outcome { kGoOn, kStop, kError };

class Decoder {
 public:
  Decoder(InputWindow& input, const Blocks& blocks, uint8_t minimumCodeSize, uint8_t* pixels,
          uint32_t pixelCount)
      : input_(input),
        tables_(blocks.tables),
        stack_(blocks.stack),
        pixelEnd_(pixels + pixelCount),
        roomyEnd_(pixelCount > kRoomyStringBytes ? pixelEnd_ - kRoomyStringBytes : pixels),
        clearCode_(1u << minimumCodeSize),
        endCode_(clearCode_ + 1),
        firstFree_(clearCode_ + 2),
        minimumWidth_(minimumCodeSize + 1u) {
    state_.nextCode = firstFree_;
    SetWidth(state_, minimumWidth_);
    state_.cursor = pixels;
    state_.previous = pixels;
    for (uint32_t root = 0; root < clearCode_; ++root) {
      tables_->sources[root] = kRootPixels.pixels + root;
      tables_->lengths[root] = 1;
    }
    tables_->lengths[clearCode_] = 0;
    tables_->lengths[endCode_] = 0;
  }

  // Decodes until the pixels are complete or a stop; 0 then, else the
  // refill's error. Bytes past the last pixel written stay 0.
  FilterError Run() {
    Outcome outcome = Outcome::kGoOn;
    while (outcome == Outcome::kGoOn && state_.cursor != pixelEnd_) {
      outcome = (firstCode_ || exact_) ? StepExactly() : RunWellFormed();
    }
    // Words copied may have run up to a word past the last pixel.
    const size_t tail = std::min<size_t>(kWordBytes, pixelEnd_ - state_.cursor);
    std::memset(state_.cursor, 0, tail);
    return outcome == Outcome::kError ? error_ : kErrNone;
  }

 private:
  static void SetWidth(CodeState& s, uint32_t width) {
    s.codeWidth = width;
    s.codeMask = (1u << width) - 1;
  }

  // Loads sub-blocks at the moments the plain loop would: only when at most
  // 4 bytes lie past the byte position, so that the reads, the progress
  // calls and a short read's result do not depend on how codes are taken.
  bool NeedsRefill(const CodeState& s) const { return (s.bitPosition >> 3) + 4 >= s.available; }

  Outcome Refill() {
    input_.bitPosition = state_.bitPosition;
    input_.available = state_.available;
    error_ = input_.Refill();
    state_.bitPosition = input_.bitPosition;
    state_.available = input_.available;
    return error_ == kErrNone ? Outcome::kGoOn : Outcome::kError;
  }

  // Only whole codes of the bytes the stream gave are decoded: data that
  // ends before the end code and the last pixel leaves the rest 0.
  bool CodeFits(const CodeState& s) const { return s.bitPosition + s.codeWidth <= s.available * 8; }

  // The width grows when the next entry needs one more bit; a code of 12
  // bits reaches every entry (nextCode 4096 keeps the width at 12).
  static void GrowWidth(CodeState& s) {
    if (s.nextCode == s.codeMask + 1 && s.codeWidth < kMaxCodeWidth) SetWidth(s, s.codeWidth + 1);
  }

  // Entry nextCode: the previous code's string, which ends at the cursor,
  // and `firstPixel`. No entry past 4096: a 12-bit code never names one.
  void AddEntry(CodeState& s, uint32_t firstPixel) const {
    if (s.nextCode >= kMaxCodes) return;
    tables_->entries[s.nextCode] = firstPixel | s.previousCode << 16;
    tables_->sources[s.nextCode] = s.previous;
    tables_->lengths[s.nextCode] = static_cast<uint16_t>(s.cursor - s.previous + 1);
    ++s.nextCode;
    GrowWidth(s);
  }

  // The code's string goes to the cursor and becomes the previous one.
  static void Advance(CodeState& s, uint32_t code, size_t written) {
    s.previousCode = code;
    s.previous = s.cursor;
    s.cursor += written;
  }

  // A code below nextCode, clear and end codes aside (`length` is not 0):
  // its string is copied from where it was written, a root's from
  // kRootPixels, with no branch between the two.
  template <bool kRoomy>
  void EmitKnownCode(CodeState& s, uint32_t code, uint32_t length) const {
    const uint8_t* const from = tables_->sources[code];
    uint32_t written = length;
    if (kRoomy) {
      CopyWords(s.cursor, from, length);
    } else {
      written = CopyString(s.cursor, from, length, static_cast<uint32_t>(pixelEnd_ - s.cursor));
    }
    AddEntry(s, *from);
    Advance(s, code, written);
  }

  // The code equal to nextCode: the previous string and its own first
  // pixel, which is also the entry the code names.
  template <bool kRoomy>
  void EmitNextCode(CodeState& s) const {
    uint8_t* const to = s.cursor;
    const uint8_t* const from = s.previous;
    const uint32_t previousLength = static_cast<uint32_t>(to - from);
    const uint8_t firstPixel = *from;
    const uint32_t code = s.nextCode;
    AddEntry(s, firstPixel);
    uint32_t written = previousLength + 1;
    if (kRoomy) {
      CopyWords(to, from, previousLength);
      to[previousLength] = firstPixel;
    } else {
      const uint32_t room = static_cast<uint32_t>(pixelEnd_ - to);
      written = CopyString(to, from, previousLength, room);
      if (written < room) to[written++] = firstPixel;
    }
    Advance(s, code, written);
  }

  // Codes of a well-formed stream, several from each 64-bit load: roomy
  // ones, without a check of the room after each, while the cursor is
  // before roomyEnd_, then the last ones.
  Outcome RunWellFormed() {
    return state_.cursor < roomyEnd_ ? RunCodes<true>() : RunCodes<false>();
  }

  template <bool kRoomy>
  Outcome RunCodes() {
    CodeState s = state_;
    const uint8_t* const window = input_.bytes;
    for (;;) {
      if (s.cursor >= (kRoomy ? roomyEnd_ : pixelEnd_)) break;
      if (NeedsRefill(s)) {
        state_ = s;
        if (Refill() == Outcome::kError) return Outcome::kError;
        s = state_;
        if (!CodeFits(s)) return Outcome::kStop;
      }
      uint64_t bits = LoadLittle64(window + (s.bitPosition >> 3)) >> (s.bitPosition & 7);
      // Further codes come from the same load while a code of 12 bits would
      // still lie in its valid bits, and while the plain loop would not
      // refill before them (a code starting in the last 4 bytes is left to
      // the checks above). The first code needs neither: the checks above
      // have passed for it.
      const uint32_t loadEnd = s.bitPosition + kLoadBits - kMaxCodeWidth + 1;
      const uint32_t refillAt = s.available > 4 ? (s.available - 4) * 8 : 0;
      const uint32_t runEnd = std::min(loadEnd, refillAt);
      do {
        const uint32_t code = static_cast<uint32_t>(bits) & s.codeMask;
        bits >>= s.codeWidth;
        s.bitPosition += s.codeWidth;
        if (code < s.nextCode) {
          const uint32_t length = tables_->lengths[code];
          if (length != 0) {
            EmitKnownCode<kRoomy>(s, code, length);
          } else if (code == endCode_) {
            state_ = s;
            return Outcome::kStop;
          } else {  // the clear code
            state_ = s;
            const Outcome outcome = ClearAndTakeFirst();
            if (outcome != Outcome::kGoOn || exact_) return outcome;
            s = state_;
            break;  // the position moved past the loaded bits
          }
        } else if (code == s.nextCode) {
          EmitNextCode<kRoomy>(s);
        } else {
          // Above nextCode: nothing written, no entry, but the code becomes
          // the prefix of the next one, which leads into an earlier table.
          s.previousCode = code;
          state_ = s;
          exact_ = true;
          return Outcome::kGoOn;
        }
      } while (s.bitPosition < runEnd && s.cursor < (kRoomy ? roomyEnd_ : pixelEnd_));
    }
    state_ = s;
    return Outcome::kGoOn;
  }

  // One code the plain way: the stream's first code, and every code once
  // the stream has reached into an earlier table.
  Outcome StepExactly() {
    if (NeedsRefill(state_)) {
      if (Refill() == Outcome::kError) return Outcome::kError;
      if (!CodeFits(state_)) return Outcome::kStop;
    }
    const uint32_t code = ReadCode(state_);
    if (code == clearCode_) return ClearAndTakeFirst();
    if (code == endCode_) return Outcome::kStop;
    if (firstCode_) return TakeFirstCode(code);

    CodeState& s = state_;
    uint32_t* const entries = tables_->entries;
    uint32_t firstPixel = 0;
    if (code < s.nextCode) {
      if (!EmitExactly(code, kNoPendingSuffix) ||
          !FindFirstPixel(code, clearCode_, entries, &firstPixel)) {
        return Outcome::kStop;
      }
      if (s.nextCode < kMaxCodes) {
        entries[s.nextCode++] = firstPixel | s.previousCode << 16;
        GrowWidth(s);
      }
    } else if (code == s.nextCode) {
      if (!FindFirstPixel(s.previousCode, clearCode_, entries, &firstPixel)) return Outcome::kStop;
      entries[s.nextCode++] = firstPixel | s.previousCode << 16;
      GrowWidth(s);
      if (!EmitExactly(s.previousCode, static_cast<uint16_t>(firstPixel))) return Outcome::kStop;
    }
    // A code above nextCode writes nothing and makes no entry.
    s.previousCode = code;
    return Outcome::kGoOn;
  }

  uint32_t ReadCode(CodeState& s) const {
    const uint64_t bits = LoadLittle64(input_.bytes + (s.bitPosition >> 3)) >> (s.bitPosition & 7);
    s.bitPosition += s.codeWidth;
    return static_cast<uint32_t>(bits) & s.codeMask;
  }

  // The string through the stack; false when its prefixes run in a cycle.
  bool EmitExactly(uint32_t code, uint16_t pendingSuffix) {
    uint32_t left = static_cast<uint32_t>(pixelEnd_ - state_.cursor);
    uint8_t* const end = EmitCodeString(stack_, state_.cursor, left, code, pendingSuffix,
                                        clearCode_, tables_->entries);
    if (end == nullptr) return false;
    state_.cursor = end;
    return true;
  }

  // A clear code (repeated ones act as one), then the code after it. That
  // code is read without the usual refill: one clear code always leaves it
  // inside the loaded bytes, but a run of them can use up the window while
  // sub-blocks remain, so those are loaded first.
  Outcome ClearAndTakeFirst() {
    CodeState& s = state_;
    uint32_t code = clearCode_;
    while (code == clearCode_) {
      s.nextCode = firstFree_;
      SetWidth(s, minimumWidth_);
      for (uint32_t root = 0; root < clearCode_; ++root) tables_->entries[root] = root;
      // `>` here, where the usual refill has `>=` with 4: 3 bytes hold a
      // code of 12 bits at any bit offset.
      if ((s.bitPosition >> 3) + 3 > s.available && input_.blockLength != 0) {
        if (Refill() == Outcome::kError) return Outcome::kError;
      }
      if (!CodeFits(s)) return Outcome::kStop;
      code = ReadCode(s);
    }
    if (code == endCode_) return Outcome::kStop;
    return TakeFirstCode(code);
  }

  // The first code of a table is written and makes no entry. One above the
  // roots names an entry not made since the clear code: its string is
  // whatever the table holds from before, so the exact way takes over.
  Outcome TakeFirstCode(uint32_t code) {
    CodeState& s = state_;
    firstCode_ = false;
    if (code < clearCode_) {
      *s.cursor = static_cast<uint8_t>(code);
      s.previous = s.cursor++;
    } else {
      exact_ = true;
      if (!EmitExactly(code, kNoPendingSuffix)) return Outcome::kStop;
    }
    s.previousCode = code;
    GrowWidth(s);
    return Outcome::kGoOn;
  }

  InputWindow& input_;
  CodeTables* const tables_;
  uint16_t* const stack_;  // the reversal stack of the exact way
  uint8_t* const pixelEnd_;
  uint8_t* const roomyEnd_;  // kRoomyStringBytes before the end, or the start
  const uint32_t clearCode_, endCode_, firstFree_, minimumWidth_;
  CodeState state_;
  bool firstCode_ = true;  // the stream's first code, or the first after a clear code
  bool exact_ = false;     // decoding by walking the chains
  FilterError error_ = kErrNone;
};

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
    blocks.tables = static_cast<CodeTables*>(AllocWorkBlock(sizeof(CodeTables)));
    if (blocks.tables != nullptr) {
      blocks.stack = static_cast<uint16_t*>(AllocWorkBlock(kReversalStackBytes));
    }
    if (blocks.stack != nullptr) {
      blocks.window = static_cast<uint8_t*>(AllocWorkBlock(kWindowBlockBytes));
    }
    if (blocks.window == nullptr) {
      err = Fail(job, kErrMemory);
    } else {
      InputWindow input = {job, stream, blocks.window, 0, 0, blockLength};
      err = Decoder(input, blocks, minimumCodeSize, pixels, static_cast<uint32_t>(width) * height)
                .Run();
      if (err == kErrNone) err = input.SkipRest();
    }
  }
  if (err != kErrNone) return err;
  return EmitRaster(job, pixels, interlaced, bitsPerPixel, width, left, topY, height);
}
