// Variable-width GIF LZW decoding with fixed tables.
//
// Two ways of writing a code's string give the same pixels. While the stream
// is well formed (every entry made since the last clear code refers only to
// entries made before it), every entry's string already lies in the output:
// it is the previous code's string, written just before, and the first
// pixel of the code after it. Such a string is copied from there in whole
// words, and codes are taken several at a time from one 64-bit load. A code
// above the next free code, or a first code after a clear code that names
// an entry not yet made, reaches into entries left from earlier tables; from
// there on to the next clear code the image is decoded one code at a time
// by walking prefix chains through the reversal stack exactly as the table
// holds them, with every walk bounded. Both ways keep the table's prefixes;
// the first leaves each suffix in the output (its string's last pixel) and
// the second brings those over when it takes over, at any code.
#include "gif/lzw_core.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <type_traits>
#include <utility>

#include "gif/byte_order.h"

namespace gifin {

namespace {

constexpr uint32_t kMaxCodeWidth = 12;
constexpr uint32_t kStackSlots = kReversalStackBytes / 2;
constexpr uint32_t kWordBytes = 8;
// A long string is copied four words a round, so up to this many bytes
// past its end are written (and later overwritten, or cleared at a stop).
constexpr uint32_t kRoundBytes = 4 * kWordBytes;
constexpr uint32_t kBytesPastString = kRoundBytes;
// Bits of a 64-bit load that are valid after the shift by the bit offset.
constexpr uint32_t kLoadBits = 64 - 7;
constexpr uint16_t kNoPendingSuffix = 0xFFFF;
// No code of up to 12 bits: a run of codes that no special code ended.
constexpr uint32_t kNoSpecialCode = 0xFFFFFFFF;
// Right after a clear code the input stops for more one byte later: 3
// bytes hold a code of 12 bits at any bit offset.
constexpr uint32_t kAfterClearMargin = kLzwInputMargin - 1;

static_assert(kLzwMaxCodes <= static_cast<uint32_t>(kCodeTableEntries),
              "every code of up to 12 bits indexes the table");
static_assert(
    kLzwMaxCodes + 1 <= kStackSlots,
    "a chain through every entry and a pending suffix fit the stack: only a cycle fills it");
static_assert(kLzwInputSlack >= kWordBytes - 1,
              "a word load at any byte position below `available`");
static_assert(kMaxCodeWidth <= kLoadBits, "one load holds at least one code");
static_assert(kLzwMaxCodes - 1 <= 0xFFFF, "a string is at most one pixel per code: 16-bit lengths");

// Writes the string of `code` at the cursor, then the pending suffix unless
// it is kNoPendingSuffix; pixels past remainingPixels are dropped. The
// string is reversed on the stack, filled from its top slot down. Returns
// the advanced cursor, or null when the chain does not reach a root within
// the stack: its prefixes run in a cycle, and nothing of it was written.
uint8_t* EmitCodeString(uint16_t* stack, uint8_t* cursor, uint32_t& remainingPixels, uint32_t code,
                        uint16_t pendingSuffix, uint32_t clearCode, const LzwTables& tables) {
  uint16_t* const bottom = stack;
  uint16_t* const top = stack + kStackSlots;
  uint16_t* sp = top;
  if (pendingSuffix != kNoPendingSuffix) *--sp = pendingSuffix;
  for (;;) {
    while (code >= clearCode) {
      if (sp == bottom) return nullptr;
      assert(code < kLzwMaxCodes);
      *--sp = tables.suffixes[code];
      code = tables.links[code].prefix;
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
bool FindFirstPixel(uint32_t code, uint32_t clearCode, const LzwTables::Link* links,
                    uint32_t* firstPixel) {
  for (int steps = 0; code > clearCode; ++steps) {
    if (steps == kCodeTableEntries) return false;
    code = links[code].prefix;
  }
  *firstPixel = code;
  return true;
}

// Copies a string written earlier in the output to `to`: in whole words
// when there is room for a word past its end (the bytes written past it are
// overwritten by the strings after it, or cleared when decoding stops), else
// byte by byte and no further than `room`. The source ends at or before `to`
// (or lies in kRootPixels), so every byte read in the string's length is
// final. Returns the bytes written of it.
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

// The same where the caller has made sure of kBytesPastString of room past
// the string: the first word without a loop, since the strings of noisy
// images are one to three pixels long, then four words a round for the long
// strings of flat ones. Every byte read below `length` lies before `to`;
// those read past it only fill bytes past the string.
inline void CopyWords(uint8_t* to, const uint8_t* from, uint32_t length) {
  uint64_t word;
  std::memcpy(&word, from, kWordBytes);
  std::memcpy(to, &word, kWordBytes);
  for (uint32_t done = kWordBytes; done < length; done += kRoundBytes) {
    uint64_t a, b, c, d;
    std::memcpy(&a, from + done, kWordBytes);
    std::memcpy(&b, from + done + kWordBytes, kWordBytes);
    std::memcpy(&c, from + done + 2 * kWordBytes, kWordBytes);
    std::memcpy(&d, from + done + 3 * kWordBytes, kWordBytes);
    std::memcpy(to + done, &a, kWordBytes);
    std::memcpy(to + done + kWordBytes, &b, kWordBytes);
    std::memcpy(to + done + 2 * kWordBytes, &c, kWordBytes);
    std::memcpy(to + done + 3 * kWordBytes, &d, kWordBytes);
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

// A string has at most one pixel per entry made since the clear code and
// its root, so fewer than kLzwMaxCodes; one load gives at most
// kCodesPerLoad codes (of 1 bit, at minimum code size 0). While this many
// pixels are left, the strings of a load's codes and the bytes copied past
// the last need no check of the room.
constexpr uint32_t kCodesPerLoad = kLoadBits - kMaxCodeWidth + 1;
constexpr uint32_t kRoomyStringBytes = kCodesPerLoad * (kLzwMaxCodes + kBytesPastString);

// Whether most codes of a table were roots, from a sample of its entries:
// each is a code's string and one pixel more, so one of length 2 follows a
// root.
bool MostlyRoots(const LzwTables::Link* links, uint32_t firstEntry, uint32_t endEntry) {
  constexpr uint32_t kStep = 64;
  uint32_t sampled = 0, roots = 0;
  for (uint32_t entry = firstEntry; entry < endEntry; entry += kStep) {
    ++sampled;
    roots += links[entry].length == 2 ? 1 : 0;
  }
  return roots * 4 >= sampled * 3 && sampled != 0;
}

// The widths the code loop has loads of a fixed width for: GIF's, from a
// minimum code size of 2 up.
using FixedWidths = std::integer_sequence<uint32_t, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12>;

// Calls f with `width`, one of `kWidths`, as a compile-time constant.
template <uint32_t... kWidths, typename F>
inline void ForWidth(uint32_t width, std::integer_sequence<uint32_t, kWidths...>, F&& f) {
  const bool found =
      ((width == kWidths && (f(std::integral_constant<uint32_t, kWidths>()), true)) || ...);
  assert(found);
  static_cast<void>(found);
}

// A table link as the 32-bit word it is in memory, so that the code loop
// keeps the next entry's link in one register and stores it at once.
constexpr uint32_t LinkWord(uint32_t prefix, uint32_t length) {
  return kLittleEndian ? prefix | length << 16 : prefix << 16 | length;
}
constexpr uint32_t LinkPrefix(uint32_t word) { return kLittleEndian ? word & 0xFFFF : word >> 16; }
static_assert(sizeof(LzwTables::Link) == sizeof(uint32_t), "a link is one 32-bit word");

void SetWidth(uint32_t& codeWidth, uint32_t& codeMask, uint32_t width) {
  codeWidth = width;
  codeMask = (1u << width) - 1;
}

}  // namespace

LzwDecoder::LzwDecoder(LzwTables* tables, uint16_t* stack, uint8_t minimumCodeSize, uint8_t* pixels,
                       uint32_t pixelCount)
    : tables_(tables),
      stack_(stack),
      pixels_(pixels),
      pixelEnd_(pixels + pixelCount),
      roomyEnd_(pixelCount > kRoomyStringBytes ? pixelEnd_ - kRoomyStringBytes : pixels),
      clearCode_(1u << minimumCodeSize),
      endCode_(clearCode_ + 1),
      firstFree_(clearCode_ + 2),
      minimumWidth_(minimumCodeSize + 1u) {
  assert(minimumCodeSize <= kMaxMinimumCodeSize);
  state_.nextCode = firstFree_;
  SetWidth(state_.codeWidth, state_.codeMask, minimumWidth_);
  state_.cursor = pixels;
  state_.previous = pixels;
  for (uint32_t root = 0; root < clearCode_; ++root) {
    tables_->sources[root] = kRootPixels.pixels + root;
    tables_->links[root].length = 1;
  }
  tables_->links[clearCode_].length = 0;
  tables_->links[endCode_].length = 0;
}

LzwStop LzwDecoder::Decode(LzwInput& input) {
  if (mode_ == Mode::kStopped) return stopped_;
  state_.bitPosition = input.bitPosition;
  state_.available = input.available;
  Outcome outcome = Outcome::kGoOn;
  while (outcome == Outcome::kGoOn && state_.cursor != pixelEnd_) {
    if (mode_ != Mode::kWellFormed) {
      outcome = StepExactly(input);
    } else if (state_.cursor >= roomyEnd_) {
      outcome = RunWellFormed<false, false>(input);
    } else if (rootsFirst_) {
      outcome = RunWellFormed<true, true>(input);
    } else {
      outcome = RunWellFormed<true, false>(input);
    }
  }
  input.bitPosition = state_.bitPosition;
  // With more input the next call goes on from here, and the strings that
  // follow overwrite the bytes copied past the cursor; otherwise they are
  // cleared, as they may run up to kBytesPastString past the last pixel.
  if (outcome == Outcome::kNeedInput && input.more) return LzwStop::kNeedInput;
  std::memset(state_.cursor, 0, std::min<size_t>(kBytesPastString, pixelEnd_ - state_.cursor));
  if (outcome == Outcome::kNeedInput) return LzwStop::kNeedInput;

  LzwStop stop = LzwStop::kOutputFull;
  if (outcome == Outcome::kEndCode) stop = LzwStop::kEndCode;
  if (outcome == Outcome::kEndlessChain) stop = LzwStop::kEndlessChain;
  mode_ = Mode::kStopped;
  stopped_ = stop;
  return stop;
}

bool LzwDecoder::NeedsInput(const State& s, uint32_t margin) {
  return (s.bitPosition >> 3) + margin >= s.available;
}

bool LzwDecoder::CodeFits(const State& s) { return s.bitPosition + s.codeWidth <= s.available * 8; }

void LzwDecoder::GrowWidth(State& s) {
  // The width grows when the next entry needs one more bit; a code of 12
  // bits reaches every entry (nextCode 4096 keeps the width at 12).
  if (s.nextCode == s.codeMask + 1 && s.codeWidth < kMaxCodeWidth) {
    SetWidth(s.codeWidth, s.codeMask, s.codeWidth + 1);
  }
}

// Codes of a well-formed stream, several from each 64-bit load: roomy ones,
// without a check of the room after each, while the cursor is before
// roomyEnd_, then the last ones. Far from the refill point and from the next
// growth of the width, roomy codes are taken in loads of a width fixed at
// compile time. The state is held in locals and stored
// once: the compiler keeps them in registers only while nothing takes their
// address, and the tables and the output's end are read through locals, not
// `this`, which every byte store may alias.
//
// A code's string comes from where it was first written (a root's from
// kRootPixels), or for the code equal to nextCode is the previous string and
// its first pixel. Each code makes entry nextCode: the previous string,
// which ends at the cursor, and the code's first pixel. A full table's
// entries go to the spare slot past its last code; a table whose first free
// code is past its width's codes (minimum code size 0) never grows.
template <bool kRoomy, bool kRootsFirst>
LzwDecoder::Outcome LzwDecoder::RunWellFormed(const LzwInput& input) {
  const uint8_t* const bytes = input.bytes;
  LzwTables* const tables = tables_;
  const uint8_t* const pixelEnd = pixelEnd_;
  uint8_t* const limit = kRoomy ? roomyEnd_ : pixelEnd_;
  const uint32_t clearCode = clearCode_;
  const uint32_t available = state_.available;
  // The bit from which fewer than kLzwInputMargin bytes are left: the moment
  // the input stops for more.
  const uint32_t refillAt = available > kLzwInputMargin ? (available - kLzwInputMargin) * 8 : 0;
  uint32_t bitPosition = state_.bitPosition;
  size_t nextCode = state_.nextCode;  // an index: no widening at each use
  uint32_t codeWidth = state_.codeWidth;
  uint32_t codeMask = state_.codeMask;
  uint8_t* cursor = state_.cursor;
  uint8_t* previous = state_.previous;
  // Entry nextCode's link: the previous code, and its string's length and
  // one pixel more.
  uint32_t link = LinkWord(state_.previousCode, static_cast<uint32_t>(cursor - previous) + 1);

  // Entry nextCode: the previous string, which ends at the cursor, and the
  // code's first pixel, written at the cursor. With a growth check the next
  // free code is checked against the width; without it the caller has made
  // sure that the codes it takes leave it within the width.
  auto MakeEntry = [&](auto growthCheck) {
    std::memcpy(&tables->links[nextCode], &link, sizeof link);
    tables->sources[nextCode] = previous;
    ++nextCode;
    if (decltype(growthCheck)::value && __builtin_expect(nextCode > codeMask, 0)) {
      if (nextCode > kLzwMaxCodes) nextCode = kLzwMaxCodes;
      if (nextCode == codeMask + 1 && codeWidth < kMaxCodeWidth) {
        SetWidth(codeWidth, codeMask, codeWidth + 1);
      }
    }
  };
  // Writes `code`'s string and makes its entry; false, with nothing
  // written, for a clear or end code or one above nextCode. Inlined in every
  // loop that takes codes, as a call would cost more than its work.
  auto TakeCode = [&](size_t code, auto growthCheck) __attribute__((always_inline)) {
    if (kRootsFirst && __builtin_expect(code < clearCode, 1)) {
      // A path of its own, as most codes take it here.
      MakeEntry(growthCheck);
      link = LinkWord(static_cast<uint32_t>(code), 2);
      previous = cursor;
      *cursor++ = static_cast<uint8_t>(code);
      return true;
    }
    size_t written = 0;
    if (code < nextCode) {
      const size_t length = tables->links[code].length;
      if (length == 0) return false;
      const uint8_t* const from = tables->sources[code];
      assert(length < kLzwMaxCodes);
      assert(from + length <= cursor || length == 1);
      if (kRoomy) {
        CopyWords(cursor, from, length);
        written = length;
      } else {
        written = CopyString(cursor, from, length, static_cast<uint32_t>(pixelEnd - cursor));
      }
    } else if (code == nextCode) {
      const auto previousLength = static_cast<uint32_t>(cursor - previous);
      const uint8_t firstPixel = *previous;
      if (kRoomy) {
        CopyWords(cursor, previous, previousLength);
        cursor[previousLength] = firstPixel;
        written = previousLength + 1;
      } else {
        const auto room = static_cast<uint32_t>(pixelEnd - cursor);
        written = CopyString(cursor, previous, previousLength, room);
        if (written < room) cursor[written++] = firstPixel;
      }
    } else {
      return false;
    }
    MakeEntry(growthCheck);
    // The length written + 1 as a sum of links: one instruction fewer.
    link = LinkWord(static_cast<uint32_t>(code), 1) + LinkWord(0, static_cast<uint32_t>(written));
    previous = cursor;
    cursor += written;
    return true;
  };
  uint32_t special = kNoSpecialCode;  // the code that ended the run, if any

  // Loads far from the refill point while the entries their codes make stay
  // within the width, at most `loads` of them, each of a fixed count of
  // codes of a width the compiler knows: no mask, shift count or bit count
  // to hold. Roomy only, as the room is checked once a load.
  auto TakeFixedLoads = [&](auto widthConstant, uint32_t loads) {
    constexpr uint32_t kWidth = decltype(widthConstant)::value;
    constexpr uint32_t kMask = (1u << kWidth) - 1;
    constexpr uint32_t kCodes = kLoadBits / kWidth;
    do {
      uint64_t bits = LoadLittle64(bytes + (bitPosition >> 3)) >> (bitPosition & 7);
      uint32_t taken = 0;
#pragma GCC unroll 6
      while (taken < kCodes) {
        const size_t code = bits & kMask;
        bits >>= kWidth;
        ++taken;
        if (!TakeCode(code, std::false_type())) {
          special = static_cast<uint32_t>(code);
          break;
        }
      }
      bitPosition += taken * kWidth;
    } while (special == kNoSpecialCode && --loads != 0 && cursor < limit);
  };
  // The next free code below which a whole load's codes make their entries
  // within the width.
  auto GrowthFreeBelow = [&] {
    const uint32_t most = kLoadBits / codeWidth;
    return codeMask > most ? codeMask - most : 0;
  };
  uint32_t growthFreeBelow = GrowthFreeBelow();

  Outcome outcome = Outcome::kGoOn;
  while (cursor < limit && special == kNoSpecialCode) {
    if (kRoomy && nextCode < growthFreeBelow && bitPosition + kLoadBits <= refillAt) {
      // As many loads as keep both their entries within the width and
      // their codes before the refill point: each takes at most
      // kLoadBits / width codes.
      const uint32_t perLoad = kLoadBits / codeWidth;
      const uint32_t loads =
          std::min(static_cast<uint32_t>(growthFreeBelow - nextCode - 1) / perLoad + 1,
                   (refillAt - kLoadBits - bitPosition) / (perLoad * codeWidth) + 1);
      ForWidth(codeWidth, FixedWidths(),
               [&](auto widthConstant) { TakeFixedLoads(widthConstant, loads); });
      continue;
    }
    // Otherwise codes come from one load while a code of 12 bits would
    // still lie in its valid bits, and before the refill point: `left` bits
    // of them. At the refill point the input stops for more, or without
    // more gives its last whole codes one a load.
    uint32_t runEnd = bitPosition + kCodesPerLoad;
    if (runEnd > refillAt) {
      if (bitPosition >= refillAt && (input.more || bitPosition + codeWidth > available * 8)) {
        outcome = Outcome::kNeedInput;
        break;
      }
      runEnd = refillAt;
    }
    assert((bitPosition >> 3) + kWordBytes <= available + kLzwInputSlack);
    uint64_t bits = LoadLittle64(bytes + (bitPosition >> 3)) >> (bitPosition & 7);
    auto left = static_cast<int32_t>(runEnd - bitPosition);
    const uint32_t width = codeWidth;
    do {
      const uint32_t code = static_cast<uint32_t>(bits) & codeMask;
      bits >>= codeWidth;
      left -= static_cast<int32_t>(codeWidth);
      if (!TakeCode(code, std::true_type())) {
        special = code;
        break;
      }
      // Roomy: the room for a whole load's codes was checked before it.
    } while (left > 0 && (kRoomy || cursor < limit));
    bitPosition = static_cast<uint32_t>(static_cast<int32_t>(runEnd) - left);
    if (codeWidth != width) growthFreeBelow = GrowthFreeBelow();
  }
  state_.bitPosition = bitPosition;
  state_.nextCode = static_cast<uint32_t>(nextCode);
  state_.codeWidth = codeWidth;
  state_.codeMask = codeMask;
  state_.previousCode = LinkPrefix(link);
  state_.cursor = cursor;
  state_.previous = previous;
  if (special == endCode_) {
    outcome = Outcome::kEndCode;
  } else if (special == clearCode) {
    Clear(state_);
  } else if (special != kNoSpecialCode) {
    // Above nextCode: nothing written, no entry, but the code becomes the
    // prefix of the next one, which leads into an earlier table.
    state_.previousCode = special;
    TakeExactWay();
  }
  return outcome;
}

// A clear code: a fresh table, whose first code comes next. Repeated clear
// codes act as one.
void LzwDecoder::Clear(State& s) {
  if (mode_ == Mode::kWellFormed) {
    rootsFirst_ = MostlyRoots(tables_->links, firstFree_, s.nextCode);
    suffixesOwedBelow_ = std::max(suffixesOwedBelow_, s.nextCode);
  }
  s.nextCode = firstFree_;
  SetWidth(s.codeWidth, s.codeMask, minimumWidth_);
  mode_ = Mode::kAfterClear;
}

// From here to the next clear code the table's prefixes and suffixes are
// read, and entries above the next free code may be those of earlier
// tables: each suffix owed is its string's last pixel, written in the
// output when the entry was made and not changed since.
void LzwDecoder::TakeExactWay() {
  if (mode_ == Mode::kWellFormed) {
    suffixesOwedBelow_ = std::max(suffixesOwedBelow_, state_.nextCode);
  }
  for (uint32_t code = firstFree_; code < suffixesOwedBelow_; ++code) {
    tables_->suffixes[code] = tables_->sources[code][tables_->links[code].length - 1];
  }
  suffixesOwedBelow_ = 0;
  mode_ = Mode::kExact;
}

// One code the plain way: the stream's first code, the first after a clear
// code, and every code from one that reached into an earlier table to the
// next clear code.
LzwDecoder::Outcome LzwDecoder::StepExactly(const LzwInput& input) {
  State& s = state_;
  // Right after a clear code, 3 bytes past the byte position are enough.
  const bool afterClear = mode_ == Mode::kAfterClear;
  const bool low = afterClear ? (s.bitPosition >> 3) + kAfterClearMargin > s.available
                              : NeedsInput(s, kLzwInputMargin);
  if ((low && input.more) || !CodeFits(s)) return Outcome::kNeedInput;
  assert((s.bitPosition >> 3) + kWordBytes <= s.available + kLzwInputSlack);
  const uint64_t bits = LoadLittle64(input.bytes + (s.bitPosition >> 3)) >> (s.bitPosition & 7);
  s.bitPosition += s.codeWidth;
  const uint32_t code = static_cast<uint32_t>(bits) & s.codeMask;
  if (code == clearCode_) {
    Clear(s);
    return Outcome::kGoOn;
  }
  if (code == endCode_) return Outcome::kEndCode;
  if (mode_ != Mode::kExact) return TakeFirstCode(code);

  LzwTables& t = *tables_;
  uint32_t firstPixel = 0;
  if (code < s.nextCode) {
    if (!EmitExactly(code, kNoPendingSuffix) ||
        !FindFirstPixel(code, clearCode_, t.links, &firstPixel)) {
      return Outcome::kEndlessChain;
    }
    if (s.nextCode < kLzwMaxCodes) {
      t.links[s.nextCode].prefix = static_cast<uint16_t>(s.previousCode);
      t.suffixes[s.nextCode++] = static_cast<uint16_t>(firstPixel);
      GrowWidth(s);
    }
  } else if (code == s.nextCode) {
    if (!FindFirstPixel(s.previousCode, clearCode_, t.links, &firstPixel)) {
      return Outcome::kEndlessChain;
    }
    t.links[s.nextCode].prefix = static_cast<uint16_t>(s.previousCode);
    t.suffixes[s.nextCode++] = static_cast<uint16_t>(firstPixel);
    GrowWidth(s);
    if (!EmitExactly(s.previousCode, static_cast<uint16_t>(firstPixel))) {
      return Outcome::kEndlessChain;
    }
  }
  // A code above nextCode writes nothing and makes no entry.
  s.previousCode = code;
  return Outcome::kGoOn;
}

// The first code of a table is written and makes no entry. One above the
// roots names an entry not made since the clear code: its string is whatever
// the table holds from before, so the exact way takes over.
LzwDecoder::Outcome LzwDecoder::TakeFirstCode(uint32_t code) {
  State& s = state_;
  if (code < clearCode_) {
    mode_ = Mode::kWellFormed;
    *s.cursor = static_cast<uint8_t>(code);
    s.previous = s.cursor++;
  } else {
    TakeExactWay();
    if (!EmitExactly(code, kNoPendingSuffix)) return Outcome::kEndlessChain;
  }
  s.previousCode = code;
  GrowWidth(s);
  return Outcome::kGoOn;
}

// The string through the stack; false when its prefixes run in a cycle.
bool LzwDecoder::EmitExactly(uint32_t code, uint16_t pendingSuffix) {
  uint32_t left = static_cast<uint32_t>(pixelEnd_ - state_.cursor);
  uint8_t* const end =
      EmitCodeString(stack_, state_.cursor, left, code, pendingSuffix, clearCode_, *tables_);
  if (end == nullptr) return false;
  state_.cursor = end;
  return true;
}

}  // namespace gifin
