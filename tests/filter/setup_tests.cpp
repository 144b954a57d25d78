// The setup lifecycle through the exports of a module copy: CreateSetup's
// refusals and defaults, DestroySetup, and EscapeSetup on setups, host
// options blocks and handles that are neither. Nothing may stay live.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "core/status.h"
#include "tests/profile/filter_module.h"

namespace {

using setuptest::MakeSetup;
using setuptest::ReadSetup;

constexpr auto kPersistentBytes = static_cast<int32_t>(kPersistentOptionsBytes);

using SetupLifecycle = setuptest::SharedModuleTest;

// An old library, or no memory, gives no setup and leaves nothing behind.
TEST_F(SetupLifecycle, RefusedWithoutLeftovers) {
  const std::pair<int32_t, bool> versions[] = {
      {0x02000006, true}, {0x02010000, true}, {0x02000005, false}, {INT32_MIN + 6, false}};
  for (const auto& [version, made] : versions) {
    SCOPED_TRACE(version);
    StandInSetVersion(version);
    const long allocations = PlatformAllocationCount();
    EXPECT_EQ(MakeSetup(*filter_, nullptr, nullptr) != nullptr, made);
    EXPECT_EQ(PlatformAllocationCount() > allocations, made) << "a refusal allocates nothing";
  }
  StandInResetFaults();
  PlatformFailAllocationAt(1);
  EXPECT_EQ(MakeSetup(*filter_, nullptr, nullptr), nullptr);
}

// Host names must fit their 260-byte fields: one of 260 characters or more
// is refused rather than cut. Without a profile a setup takes the defaults,
// and a host mode is not used.
TEST_F(SetupLifecycle, HostNamesAndDefaults) {
  const std::string mode259(259, 'm'), mode260(260, 'm'), name259(259, 'p'), name260(260, 'p');
  const std::string profile = dir_->Write("long.INI", "[" + mode259 + "]\nDriver=Long\n");
  const std::vector<std::string> defaults = {"ir_gif.0", "FILE", "", ""};
  const struct {
    const char* what;
    const char *profile, *mode;
    std::vector<std::string> fields;  // driver, source, mode, profile; none: refused
  } cases[] = {
      {"no profile", nullptr, nullptr, defaults},
      {"no profile, a host mode", nullptr, "Some Mode", defaults},
      {"mode name of 259", profile.c_str(), mode259.c_str(), {"Long", "", mode259, profile}},
      {"mode name of 260", profile.c_str(), mode260.c_str(), {}},
      {"profile name of 259", name259.c_str(), nullptr, defaults},
      {"profile name of 260", name260.c_str(), nullptr, {}},
      {"mode name of 260 without a profile", name259.c_str(), mode260.c_str(), defaults},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto setup = MakeSetup(*filter_, c.profile, c.mode);
    ASSERT_EQ(setup != nullptr, !c.fields.empty());
    if (!setup) continue;
    EXPECT_EQ(setup->magic, kSetupMagic);
    EXPECT_EQ((std::vector<std::string>{setup->driverName, setup->colorTableSource,
                                        setup->modeSection, setup->profilePath}),
              c.fields);
    EXPECT_EQ(
        (std::vector<int32_t>{setup->colorCount, setup->overrideColorCount, setup->fontCount}),
        (std::vector<int32_t>{0, 0, 0}));
    const auto* persistent = reinterpret_cast<const uint8_t*>(&setup->persistentOptions);
    EXPECT_EQ(std::vector<uint8_t>(persistent, persistent + kPersistentBytes),
              std::vector<uint8_t>(kPersistentOptionsBytes));
  }
}

// ---- EscapeSetup -----------------------------------------------------------

// Stands for a host stream function; only its value is ever used. Every
// byte is set, so a value cut to 32 bits on a 64-bit build shows.
void* const kStreamValue = reinterpret_cast<void*>(~uintptr_t{0} / 3);
uint32_t secondWord = 0xCAFEBABEu;

// A setup or an options block whose persistent bytes hold a pattern.
class EscapeTarget : public SetupLifecycle, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    SetupLifecycle::SetUp();
    for (int i = 0; i < kPersistentBytes; ++i) pattern_.push_back(static_cast<uint8_t>(0xA0 + i));
    if (GetParam()) {
      handle_ = filter_->CreateSetup(nullptr, nullptr, nullptr, 0);
      auto* setup = static_cast<FilterSetup*>(GlobalLock(handle_));
      std::memcpy(&setup->persistentOptions, pattern_.data(), pattern_.size());
      GlobalUnlock(handle_);
    } else {
      handle_ = QvOptionsCreate(0, 0, 0, 0);
      QvOptionsControl(handle_, kOptionStorePersistent, kPersistentBytes, pattern_.data(), nullptr,
                       0);
    }
  }
  void TearDown() override {
    GlobalFree(handle_);
    SetupLifecycle::TearDown();
  }
  std::vector<uint8_t> Persistent() {
    std::vector<uint8_t> bytes(kPersistentOptionsBytes);
    if (GetParam()) {
      std::memcpy(bytes.data(), &ReadSetup(handle_)->persistentOptions, bytes.size());
    } else {
      QvOptionsControl(handle_, kOptionFetchPersistent, kPersistentBytes, nullptr, bytes.data(), 0);
    }
    return bytes;
  }

  HGLOBAL handle_ = nullptr;
  std::vector<uint8_t> pattern_;
};

// 0x51 takes the value itself, 0x52 reads four bytes from the pointer, each
// only with size 4 and changing only its own word (the rows that change
// nothing come first, while the pattern is whole). Other codes reach the
// library as given (a setup is no options block to it), their result comes
// back and what they stored stays. Sizes no option has are refused.
TEST_P(EscapeTarget, ChangesOnlyItsOwnWordAndPassesOtherCodesOn) {
  uint8_t flag = 0xFF;
  std::vector<uint8_t> other(kPersistentOptionsBytes, 0x11);
  const struct {
    const char* what;
    int32_t code, size;
    void* data;
    int32_t setupResult, blockResult;
    size_t at, bytes;  // the word that changes, to the value at `data` (0: none)
  } cases[] = {
      {"stream function, size 8", 0x51, 8, kStreamValue, 0, 0, 0, 0},
      {"second option, size 8", 0x52, 8, &secondWord, 0, 0, 0, 0},
      {"second option, size 2", 0x52, 2, &secondWord, 0, 0, 0, 0},
      {"second option, no data", 0x52, 4, nullptr, 0, 0, 0, 0},
      {"stream function", 0x51, 4, kStreamValue, 0, 0, 0, sizeof(void*)},
      {"second option", 0x52, 4, &secondWord, 0, 0, offsetof(PersistentOptions, secondOption), 4},
      {"option 0x28", kOptionSet28, 1, &flag, kQvOptionsBadBlock, 0, 0, 0},
      {"unknown code", 0x99, 4, &flag, kQvOptionsBadBlock, kQvOptionsUnknownCode, 0, 0},
      {"bad size", kOptionSet28, 2, &flag, kQvOptionsBadBlock, kQvOptionsBadSize, 0, 0},
      {"size -1", 0x52, -1, &secondWord, kSetupBadSize, kSetupBadSize, 0, 0},
      {"size 0x7FFFFFFF", kOptionSet28, 0x7FFFFFFF, &flag, kSetupBadSize, kSetupBadSize, 0, 0},
      // Passed on, its write stays (the setup is no options block to the library).
      {"other persistent bytes", kOptionStorePersistent, kPersistentBytes, other.data(),
       kQvOptionsBadBlock, 0, 0, kPersistentOptionsBytes},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(filter_->EscapeSetup(handle_, c.code, c.size, c.data, nullptr, 0),
              GetParam() ? c.setupResult : c.blockResult);
    const void* value = c.code == 0x51 ? static_cast<const void*>(&c.data) : c.data;
    const bool ownCode = c.code == 0x51 || c.code == 0x52;
    if (c.bytes && (ownCode || !GetParam())) std::memcpy(pattern_.data() + c.at, value, c.bytes);
    EXPECT_EQ(Persistent(), pattern_);
  }
  uint8_t fetched = 0;
  QvOptionsControl(handle_, kOptionSet28, 1, nullptr, &fetched, 0);
  EXPECT_EQ(fetched, GetParam() ? 0 : 0xFF) << "option 0x28 reached the block";
}

INSTANTIATE_TEST_SUITE_P(SetupOrOptionsBlock, EscapeTarget, ::testing::Bool());

// Only a live setup is freed or escaped into; an options block (to Destroy),
// a small block with the setup's first word, a freed handle or none are
// refused and left alone (the sanitizer build catches a write past the
// small block's end).
TEST_F(SetupLifecycle, OnlyALiveSetupIsDestroyedOrEscapedInto) {
  HGLOBAL setup = filter_->CreateSetup(nullptr, nullptr, nullptr, 0);
  ASSERT_NE(setup, nullptr);
  EXPECT_EQ(filter_->DestroySetup(setup), 0);
  EXPECT_EQ(PlatformLiveGlobalBlocks(), 0);
  HGLOBAL options = QvOptionsCreate(0, 0, 0, 0);
  HGLOBAL lookalike = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 8);
  *static_cast<uint32_t*>(GlobalLock(lookalike)) = kSetupMagic;
  GlobalUnlock(lookalike);
  for (HGLOBAL handle :
       {setup, HGLOBAL{nullptr}, reinterpret_cast<HGLOBAL>(0x10), options, lookalike}) {
    EXPECT_EQ(filter_->DestroySetup(handle), kSetupNotLive);
    if (handle == options) continue;  // escapes into an options block are the library's
    EXPECT_EQ(filter_->EscapeSetup(handle, 0x51, 4, kStreamValue, nullptr, 0), kSetupNotLive);
    EXPECT_EQ(filter_->EscapeSetup(handle, 0x52, 4, &secondWord, nullptr, 0), kSetupNotLive);
  }
  EXPECT_EQ(PlatformLiveGlobalBlocks(), 2) << "nothing else was freed";
  const auto* bytes = static_cast<const uint8_t*>(GlobalLock(lookalike));
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 8),
            (std::vector<uint8_t>{0xCC, 0xDD, 0xEE, 0xFF, 0, 0, 0, 0}));
  GlobalUnlock(lookalike);
  EXPECT_EQ(PlatformTakeHandleFaults(), 0) << "a handle that is not live is never locked";
  for (HGLOBAL handle : {options, lookalike}) GlobalFree(handle);
}

}  // namespace
