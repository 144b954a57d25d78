// EscapeSetup, DestroySetup and ImportFile in any order on setups, options
// blocks, other blocks and handles that name nothing any more, as a host
// might mix them up, also from inside the status callback of an import.
//
// The input is a list of 4-byte steps [what][slot][a][b] on four slots:
//   what % 8: 0 CreateSetup, 1 GetFilterInfo, 2 another global block (a & 63
//   plus 1 bytes, or one byte short of a setup when a & 0x80; its first
//   word the setup's magic when b & 1), 3 DestroySetup, 4 GlobalFree, 5
//   EscapeSetup (code from a, size from b & 15; b & 0x40 a destination,
//   b & 0x80 the host stream function as 0x51's value), 6 ImportFile, whose
//   status callback runs the next (a & 7) steps at its first progress call,
//   7 a made-up handle where the slot is empty.
//
// After every step: a refused call changed nothing and freed nothing; a
// setup's own codes change only their field; a passed-on code's write
// stays; a busy setup is neither freed, changed nor imported again. At the
// end, once the host released what it holds: nothing live.
#include <cstdint>
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "gifimport/filter_api.h"
#include "core/filter_setup.h"
#include "fuzz/fuzz_input.h"
#include "platform/platform_test.h"
#include "tests/support/gif_writer.h"

namespace {

enum Kind { kEmpty, kSetup, kOptions, kBlock, kGone };
struct Slot {
  HGLOBAL handle = nullptr;
  Kind kind = kEmpty;
  bool busy = false;
};
struct Step {
  uint8_t what, slot, a, b;
};

constexpr int32_t kPersistentBytes = 24;  // as the filter moves them
constexpr int32_t kCodes[16] = {0x51, 0x52, 0x2A, 0x2B, 3,    4,    0x1A, 0x28,
                                0,    -1,   0x50, 0x53, 0x29, 0x2C, 5,    1};
constexpr int32_t kSizes[16] = {4,       24, 0,          1,         2, 8,  64, 0xFFFF,
                                0x10000, -1, 0x7FFFFFFF, INT32_MIN, 3, 23, 25, 12};

using Snapshot = std::vector<std::vector<uint8_t>>;

class Sequence {
 public:
  explicit Sequence(const uint8_t* data, size_t size) {
    for (size_t at = 0; at + 4 <= size; at += 4)
      steps_.push_back({data[at], data[at + 1], data[at + 2], data[at + 3]});
    for (size_t i = 0; i < sizeof source_; ++i) source_[i] = static_cast<uint8_t>(i * 7 + size);
  }

  void Run(size_t end) {
    while (next_ < end) Do(steps_[next_++]);
  }
  size_t size() const { return steps_.size(); }

  // The host lets go of what it still holds.
  void Release() {
    for (Slot& slot : slots_) {
      if (slot.kind == kSetup && DestroySetup(slot.handle) != 0)
        fuzzin::Finding("DestroySetup refused at the end");
      if (slot.kind == kOptions || slot.kind == kBlock) GlobalFree(slot.handle);
      slot = Slot{};
    }
  }

  static int32_t WINAPI Callback(uint32_t userValue, int32_t kind, int32_t code, int32_t, int32_t,
                                 int32_t, int32_t*) {
    Frame& frame = current_->frames_[userValue];
    if (kind == kStatusProgress && code == 0 && !frame.ran) {
      frame.ran = true;
      current_->Run(frame.end);
    }
    return kind == kStatusCancelFollowUp ? 1 : 0;
  }
  static Sequence* current_;

 private:
  struct Frame {
    size_t end;
    bool ran;
  };

  bool Live(const Slot& s) const {
    return s.kind == kSetup || s.kind == kOptions || s.kind == kBlock;
  }

  std::vector<uint8_t> Persistent(const Slot& s) const {
    std::vector<uint8_t> bytes(kPersistentBytes);
    if (s.kind == kSetup) {
      const auto* setup = static_cast<const FilterSetup*>(GlobalLock(s.handle));
      std::memcpy(bytes.data(), &setup->persistentOptions, bytes.size());
      GlobalUnlock(s.handle);
    } else if (s.kind == kOptions) {
      QvOptionsControl(s.handle, kOptionFetchPersistent, kPersistentBytes, nullptr, bytes.data(),
                       0);
    } else if (s.kind == kBlock) {
      const auto* block = static_cast<const uint8_t*>(GlobalLock(s.handle));
      bytes.assign(block, block + GlobalSize(s.handle));
      GlobalUnlock(s.handle);
    }
    return bytes;
  }

  Snapshot Take() const {
    Snapshot all;
    for (const Slot& s : slots_) all.push_back(Persistent(s));
    return all;
  }

  void Do(const Step& step) {
    Slot& slot = slots_[step.slot & 3];
    const std::string at = "step " + std::to_string(next_) + ": ";
    switch (step.what % 8) {
      case 0:
      case 1:
      case 2:
        if (Live(slot)) return;
        if (step.what % 8 == 0) {
          slot.handle = CreateSetup(nullptr, nullptr, nullptr, 0);
          slot.kind = kSetup;
        } else if (step.what % 8 == 1) {
          GetFilterInfo(0, 0, &slot.handle, 0);
          slot.kind = kOptions;
        } else {
          const SIZE_T bytes = (step.a & 0x80) ? kSetupBlockBytes - 1 : (step.a & 63) + 1;
          slot.handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
          if ((step.b & 1) && bytes >= 4) {
            std::memcpy(GlobalLock(slot.handle), &kSetupMagic, 4);
            GlobalUnlock(slot.handle);
          }
          slot.kind = kBlock;
        }
        if (slot.handle == nullptr) fuzzin::Finding(at + "nothing made");
        return;
      case 3:
        return Destroy(slot, at);
      case 4:
        if (!Live(slot) || slot.busy) return;  // freeing a setup in use is the host's own fault
        GlobalFree(slot.handle);
        slot.kind = kGone;
        return;
      case 5:
        return Escape(slot, step, at);
      case 6:
        return Import(slot, step, at);
      default:
        if (slot.kind == kEmpty) {
          slot.handle = reinterpret_cast<HGLOBAL>(uintptr_t{0x10000} + step.a * 8u);
          slot.kind = kGone;
        }
    }
  }

  void Destroy(Slot& slot, const std::string& at) {
    const Snapshot before = Take();
    const int live = PlatformLiveGlobalBlocks();
    const int32_t result = DestroySetup(slot.handle);
    const int32_t expected = slot.kind != kSetup ? kSetupNotLive : slot.busy ? kSetupBusy : 0;
    if (result != expected) {
      fuzzin::Finding(at + "DestroySetup gave " + std::to_string(result) + ", not " +
                      std::to_string(expected));
    }
    if (result == 0) {
      slot.kind = kGone;
      if (PlatformLiveGlobalBlocks() != live - 1)
        fuzzin::Finding(at + "DestroySetup freed no block");
    } else if (PlatformLiveGlobalBlocks() != live || Take() != before) {
      fuzzin::Finding(at + "a refused DestroySetup changed something");
    }
  }

  void Escape(Slot& slot, const Step& step, const std::string& at) {
    const int32_t code = step.a < 16 ? kCodes[step.a] : step.a;
    const int32_t size = kSizes[step.b & 15];
    void* data = source_;
    if (code == kEscapeStreamFunction) {
      data = (step.b & 0x80) ? reinterpret_cast<void*>(fuzzin::StreamProc) : nullptr;
    }
    void* destination = (step.b & 0x40) ? destination_ : nullptr;
    Snapshot expected = Take();
    const int32_t result = EscapeSetup(slot.handle, code, size, data, destination, 0);

    const bool own = code == kEscapeStreamFunction || code == kEscapeSecondOption;
    const bool target = slot.kind == kSetup || slot.kind == kOptions;
    const std::string got = at + "EscapeSetup(" + std::to_string(code) + ", size " +
                            std::to_string(size) + ") gave " + std::to_string(result);
    if (size < 0 || size > 0xFFFF) {
      if (result != kSetupBadSize) fuzzin::Finding(got + " for a bad size");
    } else if (slot.busy) {
      if (result != kSetupBusy) fuzzin::Finding(got + " on a busy setup");
    } else if (!target || (slot.kind == kSetup && !own)) {
      if (result == 0) fuzzin::Finding(got + " on no setup and no options block");
    } else if (own) {
      if (result != 0) fuzzin::Finding(got);
      std::vector<uint8_t>& bytes = expected[step.slot & 3];
      if (size == 4 && code == kEscapeStreamFunction) std::memcpy(&bytes[0], &data, sizeof data);
      if (size == 4 && code == kEscapeSecondOption) {
        std::memcpy(&bytes[offsetof(PersistentOptions, secondOption)], source_, 4);
      }
    } else if (code == kOptionStorePersistent && result == 0) {
      std::vector<uint8_t>& bytes = expected[step.slot & 3];
      std::memcpy(bytes.data(), source_, std::min<size_t>(size, bytes.size()));
    }
    if (Take() != expected)
      fuzzin::Finding(got + ", and the persistent bytes are not as they should be");
  }

  void Import(Slot& slot, const Step& step, const std::string& at) {
    const size_t frame = frames_.size();
    frames_.push_back(Frame{std::min(next_ + (step.a & 7), steps_.size()), false});
    static const std::vector<uint8_t> gif = [] {
      gifwrite::Image image;
      image.width = image.height = 2;
      image.pixels = {0, 1, 1, 0};
      return gifwrite::GifBuilder(2, 2, {{0, 0, 0}, {255, 255, 255}})
          .AddImage(image)
          .Trailer()
          .bytes();
    }();
    HostContext context = {};
    context.userValue = static_cast<uint32_t>(frame);
    context.statusCallback = Callback;
    context.inputMemory = fuzzin::BlockHolding(gif);
    ImportRequest request = {};
    request.setupHandle = slot.handle;
    request.hostContext = &context;
    fuzzin::ServeStream(&gif, 0);
    HostStreamProc stream = nullptr;
    const bool idle = slot.kind == kSetup && !slot.busy;
    if (idle) stream = StreamOf(slot);
    slot.busy = slot.busy || idle;
    const int32_t result = ImportFile(0, "", "", "", &request);
    if (idle) slot.busy = false;
    GlobalFree(context.inputMemory);

    const int32_t expected = slot.kind != kSetup ? kSetupNotLive : idle ? 0 : kSetupBusy;
    // A stream function shared with a nested import may be read by both.
    if (result != expected && !(idle && stream != nullptr && fuzzin::IsImportResult(result))) {
      fuzzin::Finding(at + "ImportFile gave " + std::to_string(result) + ", not " +
                      std::to_string(expected));
    }
  }

  HostStreamProc StreamOf(const Slot& slot) const {
    const std::vector<uint8_t> bytes = Persistent(slot);
    HostStreamProc stream;
    std::memcpy(&stream, bytes.data(), sizeof stream);
    return stream;
  }

  std::vector<Step> steps_;
  size_t next_ = 0;
  Slot slots_[4];
  std::vector<Frame> frames_;
  uint8_t source_[0x10000];
  uint8_t destination_[0x10000];
};

Sequence* Sequence::current_ = nullptr;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  StandInClearLog();  // the stand-in logs every call
  const auto sequence = std::make_unique<Sequence>(data, size);
  Sequence::current_ = sequence.get();
  sequence->Run(sequence->size());
  sequence->Release();
  fuzzin::ServeStream(nullptr, 0);
  fuzzin::ExpectNothingLive("the calls");
  return 0;
}
