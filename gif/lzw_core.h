// The GIF LZW code loop on its own: compressed bytes in, one byte per pixel
// out. It knows nothing of streams, sub-blocks, progress or the picture; its
// caller hands it the bytes it has and learns how far it got and why it
// stopped.
#ifndef GIFIMPORT_GIF_LZW_CORE_H
#define GIFIMPORT_GIF_LZW_CORE_H

#include <cstddef>
#include <cstdint>

namespace gifin {

// GIF uses 2 to 8; above 11 the roots and the 12-bit codes no longer fit.
constexpr int kMaxMinimumCodeSize = 11;
constexpr uint32_t kLzwMaxCodes = 4096;  // codes are at most 12 bits
// The string table's entries: a prefix code and a suffix (a pixel value)
// each. Codes are at most 12 bits, so entries stop being made at 4096 and
// the rest of the table is never written.
constexpr int kCodeTableEntries = 5000;
// The stack that reverses a string whose prefixes must be walked.
constexpr int kReversalStackBytes = kCodeTableEntries * 2;  // 10000
// Bytes past `available` that the core may read (never use): codes are
// taken from 8-byte loads at any byte position below `available`.
constexpr uint32_t kLzwInputSlack = 8;
// The core stops for more input while this many bytes or fewer lie past the
// byte position (one fewer right after a clear code); its caller loads
// while that holds, so that both see the same moments.
constexpr uint32_t kLzwInputMargin = 4;

// The core's tables, in one zero-filled block the caller provides. Entries
// above the next free code keep what an earlier table left there, as GIF
// decoders have always let them: a corrupt stream may reach them.
struct LzwTables {
  // Each entry's prefix code and, while the stream is well formed, the
  // length of its string (0 for the clear and end codes, which have none):
  // side by side, so that the code loop makes both with one store.
  struct Link {
    uint16_t prefix;
    uint16_t length;
  };
  Link links[kCodeTableEntries];
  // Brought up to date from the strings in the output only when the exact
  // way takes over, since each is a string's last pixel while the stream is
  // well formed. The exact way's may be the clear code, walked as a code.
  uint16_t suffixes[kCodeTableEntries];
  // While the stream is well formed: where each code's string lies in the
  // output. The slot past the last code takes the entries a full table no
  // longer makes, so that making one needs no check.
  const uint8_t* sources[kLzwMaxCodes + 1];
};

// The compressed bytes the caller has: bytes[0 .. available) with
// kLzwInputSlack readable bytes after them, and the bits already consumed.
// `more` says that further bytes can be had: the core then stops for input
// while at most kLzwInputMargin bytes lie past the byte position, which is
// when the caller loads its next sub-block; without more it decodes every
// whole code of the bytes it has.
struct LzwInput {
  const uint8_t* bytes = nullptr;
  uint32_t available = 0;
  uint32_t bitPosition = 0;
  bool more = false;
};

enum class LzwStop {
  kNeedInput,    // more input wanted (without `more`: no whole code is left)
  kEndCode,      // the end code
  kOutputFull,   // every pixel of the output is written
  kEndlessChain  // a string whose prefixes run in a cycle: a corrupt stream
};

// One image's decoding. The output is a zero-filled span of pixelCount
// bytes; after every call the pixels [0, Written()) are final, and the rest
// are 0 but after kNeedInput with `more` set. Decode may be called again after kNeedInput with the
// same input grown (the unread bytes may have moved to its front, with bitPosition taken modulo 8
// as the byte position moves) and resumes where it stopped; after any other stop it returns that
// stop again.
class LzwDecoder {
 public:
  // minimumCodeSize 0 to kMaxMinimumCodeSize; `tables` zero-filled, `stack`
  // of kReversalStackBytes, both kept for the decoder's life.
  LzwDecoder(LzwTables* tables, uint16_t* stack, uint8_t minimumCodeSize, uint8_t* pixels,
             uint32_t pixelCount);

  LzwStop Decode(LzwInput& input);
  uint32_t Written() const { return static_cast<uint32_t>(state_.cursor - pixels_); }

 private:
  // The state the code loop keeps in registers: copied into a local at the
  // start of a run of codes and stored once when the run ends.
  struct State {
    uint32_t bitPosition = 0;  // bits consumed, from the input's start
    uint32_t available = 0;    // input bytes
    uint32_t nextCode = 0;     // the code the next entry takes
    uint32_t codeWidth = 0;
    uint32_t codeMask = 0;  // (1 << codeWidth) - 1
    uint32_t previousCode = 0;
    uint8_t* cursor = nullptr;  // the next pixel to write
    // Where previousCode's string was written; while the stream is well
    // formed it ends at the cursor, which gives its length.
    uint8_t* previous = nullptr;
  };
  // How the next code is taken.
  enum class Mode : uint8_t {
    kFirstCode,   // the stream's first code
    kAfterClear,  // the first code after a clear code
    kWellFormed,  // strings copied from where they were first written
    kExact,       // prefix chains walked: the stream reached an earlier table
    kStopped
  };
  enum class Outcome : uint8_t { kGoOn, kNeedInput, kEndCode, kEndlessChain };

  static bool NeedsInput(const State& s, uint32_t margin);
  static bool CodeFits(const State& s);
  static void GrowWidth(State& s);
  template <bool kRoomy, bool kRootsFirst>
  Outcome RunWellFormed(const LzwInput& input);
  Outcome StepExactly(const LzwInput& input);
  Outcome TakeFirstCode(uint32_t code);
  void Clear(State& s);
  void TakeExactWay();
  bool EmitExactly(uint32_t code, uint16_t pendingSuffix);

  LzwTables* const tables_;
  uint16_t* const stack_;
  uint8_t* const pixels_;
  uint8_t* const pixelEnd_;
  uint8_t* const roomyEnd_;  // kRoomyStringBytes before the end, or the start
  const uint32_t clearCode_, endCode_, firstFree_, minimumWidth_;
  State state_;
  Mode mode_ = Mode::kFirstCode;
  // Roots tested for before the table in the code loop: taken when most
  // codes of the last table were roots (noise), a branch mispredicted too
  // often otherwise.
  bool rootsFirst_ = false;
  // The end of the entries made the well-formed way since the exact way last
  // took over, whose suffixes are in the output only.
  uint32_t suffixesOwedBelow_ = 0;
  LzwStop stopped_ = LzwStop::kEndCode;  // what Decode returns once kStopped
};

}  // namespace gifin

#endif
