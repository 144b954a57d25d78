// The setup lifecycle through the exports of a module copy: CreateSetup's
// version test, defaults and refusals, DestroySetup, EditSetup, and
// EscapeSetup on setups and on host options blocks. Nothing may stay live
// after any of them.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "filter/status.h"
#include "platform/platform_test.h"
#include "tests/profile/filter_module.h"
#include "tests/support/recording_host.h"

namespace {

using setuptest::FilterModuleCopy;
using setuptest::ReadSetup;
using setuptest::ScopedEnv;
using setuptest::ScratchDir;

constexpr int32_t kPersistentBytes = static_cast<int32_t>(kPersistentOptionsBytes);

class SetupLifecycle : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDir;
    filter_ = new FilterModuleCopy(dir_->Sub("module"));
  }
  static void TearDownTestSuite() {
    delete filter_;
    delete dir_;
  }
  void SetUp() override {
    windir_ = std::make_unique<ScopedEnv>("WINDIR", dir_->Sub("windows"));
    StandInResetFaults();
    StandInClearLog();
  }
  void TearDown() override {
    StandInResetFaults();
    PlatformFailAllocationAt(0);
    EXPECT_EQ(testhost::DescribeLive(), "");
  }

  // A profile in the scratch tree (full path), with a driver in "Mode".
  std::string Profile(const std::string& text = "[Mode]\nDriver=D\n") {
    return dir_->Write("p.INI", text);
  }

  // The fields of a new setup; the setup is destroyed again.
  std::unique_ptr<FilterSetup> Made(const char* profile, const char* mode) {
    HGLOBAL handle = filter_->CreateSetup(nullptr, profile, mode, 0);
    if (handle == nullptr) return nullptr;
    auto fields = ReadSetup(handle);
    EXPECT_EQ(filter_->DestroySetup(handle), 0);
    return fields;
  }

  // QvOptionsControl calls in the companion log, as their JSON text.
  static std::vector<std::string> OptionsCalls() {
    std::vector<std::string> calls;
    for (int i = 0; i < StandInLogSize(); ++i) {
      std::string entry = StandInLogEntry(i);
      if (entry.find("\"QvOptionsControl\"") != std::string::npos) calls.push_back(entry);
    }
    return calls;
  }

  static ScratchDir* dir_;
  static FilterModuleCopy* filter_;
  std::unique_ptr<ScopedEnv> windir_;
};
ScratchDir* SetupLifecycle::dir_ = nullptr;
FilterModuleCopy* SetupLifecycle::filter_ = nullptr;

TEST_F(SetupLifecycle, LibraryVersionMustReachTheFilters) {
  struct Case {
    int32_t version;
    bool made;
  };
  for (const Case& c : {Case{0x02000006, true}, Case{0x02010000, true}, Case{0x02000005, false},
                        Case{static_cast<int32_t>(0x80000006u), false}}) {
    SCOPED_TRACE(c.version);
    StandInSetVersion(c.version);
    const long allocations = PlatformAllocationCount();
    auto setup = Made(nullptr, nullptr);
    EXPECT_EQ(setup != nullptr, c.made);
    // A refused version allocates nothing at all.
    if (!c.made) {
      EXPECT_EQ(PlatformAllocationCount(), allocations);
    }
  }
}

TEST_F(SetupLifecycle, DefaultsWithoutAProfile) {
  for (const char* mode : {static_cast<const char*>(nullptr), "", "Some Mode"}) {
    SCOPED_TRACE(mode ? mode : "(null)");
    auto setup = Made(nullptr, mode);
    ASSERT_NE(setup, nullptr);
    EXPECT_EQ(setup->magic, kSetupMagic);
    EXPECT_STREQ(setup->driverName, "ir_gif.0");
    EXPECT_STREQ(setup->colorTableSource, "FILE");
    EXPECT_STREQ(setup->modeSection, "");  // a host mode without a profile is not used
    EXPECT_STREQ(setup->profilePath, "");
    EXPECT_EQ(setup->colorCount, 0);
    EXPECT_EQ(setup->overrideColorCount, 0);
    EXPECT_EQ(setup->fontCount, 0);
    const PersistentOptions zero{};
    EXPECT_EQ(std::memcmp(&setup->persistentOptions, &zero, sizeof zero), 0);
  }
}

// Host names must fit their 260-byte fields: one of 260 characters or more
// is refused, and nothing is left allocated.
TEST_F(SetupLifecycle, HostNamesThatDoNotFitAreRefused) {
  const std::string mode259(259, 'm'), mode260(260, 'm');
  const std::string profile = Profile("[" + mode259 + "]\nDriver=Long\n");
  const std::string name259(259, 'p'), name260(260, 'p');
  struct Case {
    const char* what;
    const char* profile;
    const char* mode;
    bool made;
  };
  const std::vector<Case> cases = {
      {"mode name of 259", profile.c_str(), mode259.c_str(), true},
      {"mode name of 260", profile.c_str(), mode260.c_str(), false},
      {"profile name of 259", name259.c_str(), nullptr, true},
      {"profile name of 260", name260.c_str(), nullptr, false},
      {"mode name of 260 without a profile", name259.c_str(), mode260.c_str(), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto setup = Made(c.profile, c.mode);
    EXPECT_EQ(setup != nullptr, c.made);
    EXPECT_EQ(testhost::DescribeLive(), "");
  }
}

TEST_F(SetupLifecycle, FailedSetupsLeaveNothingBehind) {
  const std::string profile = Profile("[Mode]\nDriver=\n");
  EXPECT_EQ(filter_->CreateSetup(nullptr, profile.c_str(), "Mode", 0), nullptr);
  EXPECT_EQ(testhost::DescribeLive(), "");

  PlatformFailAllocationAt(1);
  EXPECT_EQ(filter_->CreateSetup(nullptr, nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(testhost::DescribeLive(), "");
}

TEST_F(SetupLifecycle, DestroyOnlyWhatLocks) {
  HGLOBAL setup = filter_->CreateSetup(nullptr, nullptr, nullptr, 0);
  ASSERT_NE(setup, nullptr);
  EXPECT_EQ(PlatformLiveGlobalBlocks(), 1);
  EXPECT_EQ(filter_->DestroySetup(setup), 0);
  EXPECT_EQ(PlatformLiveGlobalBlocks(), 0);
  EXPECT_EQ(filter_->DestroySetup(setup), kErrSetupLock);  // already gone

  HGLOBAL other = GlobalAlloc(GMEM_MOVEABLE, 16);
  EXPECT_EQ(filter_->DestroySetup(nullptr), kErrSetupLock);
  EXPECT_EQ(filter_->DestroySetup(reinterpret_cast<HGLOBAL>(0x10)), kErrSetupLock);
  EXPECT_EQ(PlatformLiveGlobalBlocks(), 1);  // nothing else was freed
  GlobalFree(other);

  EXPECT_EQ(filter_->EditSetup(1, 2, 3), 0);
}

// ---- EscapeSetup -----------------------------------------------------------

struct EscapeCase {
  const char* what;
  int32_t code, size;
  bool dataIsPointer;  // data points to kWord rather than being the value
  bool changesStream, changesSecond;
};
constexpr uint32_t kWord = 0xCAFEBABEu;
const std::vector<EscapeCase> kEscapes = {
    {"stream function", 0x51, 4, false, true, false},
    {"second option", 0x52, 4, true, false, true},
    {"stream function, size 8", 0x51, 8, false, false, false},
    {"second option, size 8", 0x52, 8, true, false, false},
    {"second option, size 2", 0x52, 2, true, false, false},
};

// Stands for a host stream function; only its value is ever used. Every
// byte is set, so a value cut to 32 bits on a 64-bit build shows.
const auto kStreamValue = reinterpret_cast<void*>(~uintptr_t{0} / 3);

TEST_F(SetupLifecycle, EscapeOnASetup) {
  for (const EscapeCase& c : kEscapes) {
    SCOPED_TRACE(c.what);
    HGLOBAL setup = filter_->CreateSetup(nullptr, nullptr, nullptr, 0);
    ASSERT_NE(setup, nullptr);
    uint32_t word = kWord;
    void* data = c.dataIsPointer ? &word : kStreamValue;
    EXPECT_EQ(filter_->EscapeSetup(setup, c.code, c.size, data, nullptr, 0), 0);
    auto fields = ReadSetup(setup);
    EXPECT_EQ(reinterpret_cast<void*>(fields->persistentOptions.streamFunction),
              c.changesStream ? kStreamValue : nullptr);
    EXPECT_EQ(fields->persistentOptions.secondOption, c.changesSecond ? kWord : 0u);
    EXPECT_EQ(filter_->DestroySetup(setup), 0);
  }
  // A null pointer for the second option changes nothing either.
  HGLOBAL setup = filter_->CreateSetup(nullptr, nullptr, nullptr, 0);
  EXPECT_EQ(filter_->EscapeSetup(setup, 0x52, 4, nullptr, nullptr, 0), 0);
  EXPECT_EQ(ReadSetup(setup)->persistentOptions.secondOption, 0u);

  // Other codes reach the library with the setup handle as it was given.
  StandInClearLog();
  uint8_t value = 0xFF;
  EXPECT_EQ(filter_->EscapeSetup(setup, 0x28, 1, &value, nullptr, 0), kQvOptionsBadBlock);
  const auto calls = OptionsCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_NE(calls[0].find("\"code\":40"), std::string::npos) << calls[0];
  EXPECT_EQ(filter_->DestroySetup(setup), 0);
}

class OptionsBlockEscape : public SetupLifecycle {
 protected:
  void SetUp() override {
    SetupLifecycle::SetUp();
    block_ = QvOptionsCreate(0, 0, 0, 0);
    ASSERT_NE(block_, nullptr);
    for (int i = 0; i < kPersistentBytes; ++i) pattern_[i] = static_cast<uint8_t>(0xA0 + i);
    ASSERT_EQ(QvOptionsControl(block_, kOptionStorePersistent, kPersistentBytes, pattern_, nullptr, 0), 0);
  }
  void TearDown() override {
    GlobalFree(block_);
    SetupLifecycle::TearDown();
  }
  std::vector<uint8_t> Stored() {
    std::vector<uint8_t> bytes(kPersistentBytes);
    EXPECT_EQ(QvOptionsControl(block_, kOptionFetchPersistent, kPersistentBytes, nullptr, bytes.data(), 0), 0);
    return bytes;
  }
  // Indices of the persistent bytes that differ from the pattern.
  std::vector<size_t> Changed() {
    std::vector<size_t> changed;
    const auto bytes = Stored();
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (bytes[i] != pattern_[i]) changed.push_back(i);
    }
    return changed;
  }

  HGLOBAL block_ = nullptr;
  uint8_t pattern_[kPersistentOptionsBytes];
};

TEST_F(OptionsBlockEscape, ChangesOnlyItsOwnWord) {
  for (const EscapeCase& c : kEscapes) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(QvOptionsControl(block_, kOptionStorePersistent, kPersistentBytes, pattern_, nullptr, 0), 0);
    uint32_t word = kWord;
    void* data = c.dataIsPointer ? &word : kStreamValue;
    EXPECT_EQ(filter_->EscapeSetup(block_, c.code, c.size, data, nullptr, 0), 0);
    PersistentOptions stored;
    std::memcpy(&stored, Stored().data(), sizeof stored);
    std::vector<size_t> expected;
    if (c.changesStream) {
      EXPECT_EQ(reinterpret_cast<void*>(stored.streamFunction), kStreamValue);
      for (size_t i = 0; i < sizeof stored.streamFunction; ++i) expected.push_back(i);
    }
    if (c.changesSecond) {
      EXPECT_EQ(stored.secondOption, kWord);
      for (size_t i = 0; i < 4; ++i) expected.push_back(offsetof(PersistentOptions, secondOption) + i);
    }
    EXPECT_EQ(Changed(), expected);
  }
}

// A passed-through code reaches the block unchanged and its result comes
// back; the persistent bytes are then those fetched before the call, even
// when that code itself stored others.
TEST_F(OptionsBlockEscape, PassedThroughCodesKeepThePersistentBytes) {
  uint8_t flag = 0xFF;
  EXPECT_EQ(filter_->EscapeSetup(block_, kOptionSet28, 1, &flag, nullptr, 0), 0);
  uint8_t fetched = 0;
  EXPECT_EQ(QvOptionsControl(block_, kOptionSet28, 1, nullptr, &fetched, 0), 0);
  EXPECT_EQ(fetched, 0xFF);
  EXPECT_TRUE(Changed().empty());

  std::vector<uint8_t> other(kPersistentBytes, 0x11);
  EXPECT_EQ(filter_->EscapeSetup(block_, kOptionStorePersistent, kPersistentBytes, other.data(),
                                 nullptr, 0),
            0);
  EXPECT_TRUE(Changed().empty());

  // The library's own refusals come back as they are.
  EXPECT_EQ(filter_->EscapeSetup(block_, 0x99, 4, &flag, nullptr, 0), kQvOptionsUnknownCode);
  EXPECT_EQ(filter_->EscapeSetup(block_, kOptionSet28, 2, &flag, nullptr, 0), kQvOptionsBadSize);
  EXPECT_TRUE(Changed().empty());
}

TEST_F(SetupLifecycle, EscapeOnHandlesThatAreNeither) {
  uint32_t word = kWord;
  EXPECT_EQ(filter_->EscapeSetup(nullptr, 0x52, 4, &word, nullptr, 0), 0);
  EXPECT_EQ(filter_->EscapeSetup(reinterpret_cast<HGLOBAL>(0x10), 0x52, 4, &word, nullptr, 0), 0);

  // A small block whose first word looks like a setup's is not written as one.
  HGLOBAL small = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 8);
  auto* first = static_cast<uint32_t*>(GlobalLock(small));
  *first = kSetupMagic;
  GlobalUnlock(small);
  EXPECT_EQ(filter_->EscapeSetup(small, 0x51, 4, kStreamValue, nullptr, 0), 0);
  GlobalFree(small);  // the sanitizer build catches a write past its end
}

}  // namespace
