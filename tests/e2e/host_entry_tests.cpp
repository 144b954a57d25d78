// The registration entries and what the metafile entries do with the host's
// options block: blocks of their own, refusals, bad records, the persistent
// bytes and the stream function they carry. (Which input each metafile entry
// reads, and how its captures end, is in the cases of import_tests.)
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gifimport/filter_api.h"
#include "platform/platform_test.h"
#include "tests/e2e/import_host.h"

namespace {

using e2e::LogField;
using Strings = std::vector<std::string>;

Strings Logged(const std::string& op) {
  Strings out;
  for (int i = 0; i < StandInLogSize(); ++i)
    if (LogField(StandInLogEntry(i), "op") == "\"" + op + "\"") out.push_back(StandInLogEntry(i));
  return out;
}

class HostEntries : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = e2e::WriteScratchFile("solid.gif", gif_);  // also points $WINDIR away
    std::snprintf(source_.path, sizeof source_.path, "%s", file_.c_str());
    StandInResetFaults();
    StandInClearLog();
  }
  void TearDown() override {
    PlatformFailAllocationAt(0);
    StandInResetFaults();
    EXPECT_EQ(testhost::DescribeLive(), "");
  }
  HGLOBAL HostBlock() {
    HGLOBAL block = nullptr;
    EXPECT_EQ(GetFilterInfo(0, 0, &block, 0), 2);
    return block;
  }
  // ImportGR, ImportEmbeddedGR, or ImportCB by `stream`, on the file; the
  // metafile a success gives is deleted, as the host does.
  int32_t Call(char entry, HGLOBAL options, ImportResult* result,
               const e2e::Bytes* stream = nullptr) {
    *result = ImportResult{};
    const uint32_t user = stream ? e2e::OpenByteStream(*stream) : 0;
    const int32_t r = entry == 'G'   ? ImportGR(0, &source_, result, options)
                      : entry == 'E' ? ImportEmbeddedGR(0, &source_, result, options, 0, "Start")
                                     : ImportCB(0, &source_, result, options, user,
                                                stream ? e2e::ByteStreamProc : nullptr);
    e2e::CloseByteStream(user);
    if (r == 0) DeleteEnhMetaFile(static_cast<HENHMETAFILE>(result->metafile));
    return r;
  }
  const e2e::Bytes gif_ = e2e::ReadWholeFile(GIFIMPORT_CASES "/solid-600x400.gif");
  std::string file_;
  SourceDescriptor source_{};
};

TEST_F(HostEntries, BlocksOfTheirOwnRefusalsAndBadRecords) {
  // No block: the import entries make, mark and free one; the embedded one
  // refuses at once.
  ImportResult result;
  EXPECT_EQ(Call('G', nullptr, &result), e2e::CaptureSuccess());
  ASSERT_EQ(Logged("QvOptionsCreate").size(), 1u);
  EXPECT_EQ(LogField(Logged("QvOptionsControl")[0], "stored"), "0");

  HGLOBAL refusing = HostBlock();
  const uint16_t refuse = 1;
  QvOptionsControl(refusing, 4, 2, &refuse, nullptr, 0);
  SourceDescriptor unterminated{};
  std::memset(unterminated.path, 'a', sizeof unterminated.path);
  const struct {
    char entry;
    HGLOBAL options;
    const SourceDescriptor* source;
    ImportResult* result;
    int32_t expected;
  } cases[] = {
      {'E', nullptr, &source_, &result, kHostNoOptionsOrSetup},
      {'G', refusing, &source_, &result, kHostRefused},
      {'C', refusing, &source_, &result, kHostRefused},
      {'E', refusing, &source_, &result, kHostRefused},
      {'G', nullptr, nullptr, &result, kHostBadRecord},
      {'C', nullptr, &source_, nullptr, kHostBadRecord},
      {'E', refusing, &unterminated, &result, kHostBadRecord},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(1, c.entry) + std::to_string(c.expected));
    StandInClearLog();
    const long allocations = PlatformAllocationCount();
    EXPECT_EQ(c.entry == 'G'   ? ImportGR(0, c.source, c.result, c.options)
              : c.entry == 'C' ? ImportCB(0, c.source, c.result, c.options, 0, nullptr)
                               : ImportEmbeddedGR(0, c.source, c.result, c.options, 0, nullptr),
              c.expected);
    EXPECT_EQ(PlatformAllocationCount(), allocations) << "no block and no setup made";
    EXPECT_TRUE(Logged("QvMetafileBegin").empty());
  }
  GlobalFree(refusing);
}

// ImportCB's stream function goes back into the host's block with the other
// persistent bytes. A function the block carries (set by escape 0x51) is the
// road every entry given none reads, with a user value of 0, until the host
// clears it; the other bytes travel unchanged.
uint32_t streamOfUserZero = 0;
int32_t WINAPI StreamOfUserZero(uint32_t user, int32_t op, void* buffer, int32_t value,
                                int32_t origin) {
  return e2e::ByteStreamProc(user == 0 ? streamOfUserZero : user, op, buffer, value, origin);
}

TEST_F(HostEntries, PersistentBytesCarryTheStreamFunction) {
  HGLOBAL options = HostBlock();
  uint32_t second = 0xA1B2C3D4;
  EscapeSetup(options, 0x52, 4, &second, nullptr, 0);
  std::vector<uint8_t> before = e2e::PersistentBytes(options);
  for (size_t i = kPersistentOptionsBytes - 16; i < before.size(); ++i)
    before[i] = static_cast<uint8_t>(i);
  QvOptionsControl(options, 0x2A, static_cast<int32_t>(before.size()), before.data(), nullptr, 0);

  const e2e::Bytes small = e2e::ReadWholeFile(GIFIMPORT_CASES "/solid-9x4.gif");
  ImportResult result;
  EXPECT_EQ(Call('C', options, &result, &small), e2e::CaptureSuccess());
  EXPECT_EQ(std::vector<int32_t>({result.right, result.unitsPerInch}),
            std::vector<int32_t>({9, 96}))
      << "the capture's own units per inch";
  std::vector<uint8_t> after = e2e::PersistentBytes(options);
  PersistentOptions stored{};
  std::memcpy(&stored, after.data(), sizeof stored);
  EXPECT_EQ(stored.streamFunction, &e2e::ByteStreamProc);
  after.erase(after.begin(), after.begin() + sizeof(HostStreamProc));
  EXPECT_EQ(after, std::vector<uint8_t>(before.begin() + sizeof(HostStreamProc), before.end()));

  for (HostStreamProc function : {&StreamOfUserZero, HostStreamProc{nullptr}}) {
    EXPECT_EQ(EscapeSetup(options, 0x51, 4, reinterpret_cast<void*>(function), nullptr, 0), 0);
    std::memcpy(before.data(), &function, sizeof function);
    for (char entry : {'G', 'E'}) {
      SCOPED_TRACE(std::string(1, entry) + (function ? " with a stream function" : ""));
      streamOfUserZero = e2e::OpenByteStream(small);
      EXPECT_EQ(Call(entry, options, &result), e2e::CaptureSuccess());
      e2e::CloseByteStream(streamOfUserZero);
      EXPECT_EQ(result.right, function ? 9 : 600) << "the stream, else the file";
      EXPECT_EQ(e2e::PersistentBytes(options), before);
    }
  }
  GlobalFree(options);
}

// A block marked as the filter's, with the setup's defaults when a setup can
// be made; the preferences dialog needs an owner and a setup.
TEST_F(HostEntries, GetFilterInfoAndGetFilterPref) {
  const std::string text = "[ir_gif]\n~Mode=Missing\n";  // a mode without a Driver: no setup
  const std::string profile =
      e2e::WriteScratchFile("gifin.INI", e2e::Bytes(text.begin(), text.end()));
  const std::string windir = getenv("WINDIR");
  const struct {
    bool brokenProfile;
    long failAllocation;
    int16_t info;
    int option28;  // -1: no block
    bool dialog;
  } cases[] = {{false, 0, 2, 0xFF, true},
               {true, 0, 2, 0, false},
               {false, 1, 0, -1, false},
               {false, 2, 2, 0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.brokenProfile) + " " + std::to_string(c.failAllocation));
    setenv("WINDIR",
           c.brokenProfile ? profile.substr(0, profile.rfind('/')).c_str() : windir.c_str(), 1);
    PlatformFailAllocationAt(c.failAllocation);
    HGLOBAL block = reinterpret_cast<HGLOBAL>(0x1234);
    EXPECT_EQ(GetFilterInfo(0, 0, &block, 0), c.info);
    EXPECT_EQ(block != nullptr, c.option28 >= 0);
    if (block != nullptr) {
      uint16_t option3 = 9;
      uint8_t option28 = 9;
      QvOptionsControl(block, 3, 2, nullptr, &option3, 0);
      QvOptionsControl(block, 0x28, 1, nullptr, &option28, 0);
      EXPECT_EQ(std::vector<int>({option3, option28}), std::vector<int>({0, c.option28}));
      EXPECT_EQ(e2e::PersistentBytes(block), std::vector<uint8_t>(kPersistentOptionsBytes, 0));
      GlobalFree(block);
    }
    for (uintptr_t owner : {uintptr_t{0}, uintptr_t{5}}) {
      StandInClearLog();
      PlatformFailAllocationAt(c.failAllocation != 0 ? 1 : 0);  // the setup's block
      testing::internal::CaptureStdout();  // the stand-in's dialog prints itself
      GetFilterPref(0, 42, owner, 0);
      testing::internal::GetCapturedStdout();
      const Strings dialogs = Logged("QvPreferencesDialog");
      EXPECT_EQ(dialogs.size(), owner != 0 && c.dialog ? 1u : 0u);
      for (const std::string& dialog : dialogs) {
        EXPECT_EQ(Strings({LogField(dialog, "hostValue"), LogField(dialog, "flag"),
                           LogField(dialog, "editResult")}),
                  Strings({"42", "1", "0"}));
      }
    }
  }
  setenv("WINDIR", windir.c_str(), 1);
  EXPECT_EQ(QVRGetFilterVersion(), 0x02000006u);
}

}  // namespace
