// The registration and metafile entries through the module's exports, over
// the stand-ins: which input an entry reads, what it does with the host's
// options block and its persistent bytes, the units-per-inch fallbacks, the
// capture's failures, bad records and bad GIFs. Nothing may be live after
// any call once the host has deleted the metafile it got.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "gifimport/filter_api.h"
#include "platform/platform_test.h"
#include "tests/e2e/import_host.h"
#include "tests/support/gif_writer.h"

namespace {

// A path as the call log quotes it (JSON: backslashes doubled).
std::string Quoted(const std::string& path) {
  std::string out = "\"";
  for (char c : path) out += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return out + "\"";
}

using e2e::CaptureSuccess;
using e2e::LogField;
using gifwrite::Bytes;
using gifwrite::GifBuilder;
using gifwrite::Image;
using Strings = std::vector<std::string>;

const std::vector<gifwrite::Color> kColors = {{0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 0, 255}};

// A screen of the given size with one pixel drawn.
Bytes SolidGif(uint16_t width, uint16_t height) {
  return GifBuilder(width, height, kColors)
      .AddImage(Image{0, 0, 1, 1, false, {}, {2}, 0, {}, {}})
      .Trailer()
      .bytes();
}

enum class Entry { kGR, kCB, kEmbedded };
const char* Name(Entry e) {
  return e == Entry::kGR ? "ImportGR" : e == Entry::kCB ? "ImportCB" : "ImportEmbeddedGR";
}

struct Call {
  Entry entry = Entry::kGR;
  std::string path;
  HGLOBAL memory = nullptr;
  HGLOBAL options = nullptr;
  const Bytes* stream = nullptr;  // ImportCB: read through a host stream
  const char* startText = nullptr;
};

// The host's view of a result: 0 with an enhanced metafile (deleted here, as
// the host does), or a number and no metafile. "" when it is one of the two.
std::string Outcome(int32_t r, const ImportResult& result) {
  if (r != 0)
    return result.metafile == nullptr ? "" : "a metafile beside result " + std::to_string(r);
  if (GetObjectType(result.metafile) != OBJ_ENHMETAFILE) return "no enhanced metafile";
  DeleteEnhMetaFile(static_cast<HENHMETAFILE>(result.metafile));
  return "";
}

// Calls the entry as a host does, and checks the host's view of its result.
int32_t CallEntry(const Call& c, ImportResult* result) {
  SourceDescriptor source{};
  source.memory = c.memory;
  std::snprintf(source.path, sizeof source.path, "%s", c.path.c_str());
  *result = ImportResult{};
  int32_t r = 0;
  if (c.entry == Entry::kGR) r = ImportGR(7, &source, result, c.options);
  if (c.entry == Entry::kEmbedded)
    r = ImportEmbeddedGR(7, &source, result, c.options, 0, c.startText);
  if (c.entry == Entry::kCB) {
    const uint32_t user = c.stream ? e2e::OpenByteStream(*c.stream) : 0x5EA0001;
    r = ImportCB(7, &source, result, c.options, user, c.stream ? e2e::ByteStreamProc : nullptr);
    e2e::CloseByteStream(user);
  }
  EXPECT_EQ(Outcome(r, *result), "");
  return r;
}

Strings Logged(const std::string& op) {
  Strings out;
  for (int i = 0; i < StandInLogSize(); ++i)
    if (LogField(StandInLogEntry(i), "op") == "\"" + op + "\"") out.push_back(StandInLogEntry(i));
  return out;
}

class HostEntries : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = e2e::WriteScratchFile("wide.gif", SolidGif(600, 400));  // also points $WINDIR away
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
  std::string file_;
};

// With a capture that gives no units per inch: the picture's largest side
// over 5 for the import entries, twips for the embedded one.
TEST_F(HostEntries, EachEntryReadsTheInputItIsGiven) {
  const Bytes memoryGif = SolidGif(400, 600), streamGif = SolidGif(9, 4);
  HGLOBAL memory = e2e::MemoryBlockOf(memoryGif);
  HGLOBAL options = HostBlock();
  const int32_t captureValue = 77;
  QvOptionsControl(options, 0x1A, 4, &captureValue, nullptr, 0);
  StandInSetCaptureUnitsPerInch(0);
  const struct {
    Entry entry;
    bool withPath, withStream;
    const char* startText;
    int32_t result, right, bottom, unitsPerInch;
  } cases[] = {
      {Entry::kGR, true, false, nullptr, CaptureSuccess(), 600, 400,
       120},  // the path wins over the block
      {Entry::kGR, false, false, nullptr, CaptureSuccess(), 400, 600,
       120},                                                         // empty path: the block
      {Entry::kCB, true, true, nullptr, CaptureSuccess(), 9, 4, 1},  // the stream wins over both
      {Entry::kCB, false, false, nullptr, CaptureSuccess(), 400, 600, 120},
      {Entry::kEmbedded, true, false, "Start", CaptureSuccess(), 600, 400, 1440},
      {Entry::kEmbedded, false, false, nullptr, 7, 0, 0, 1440},  // never the block
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(Name(c.entry)) + (c.withPath ? " path" : " no path"));
    StandInClearLog();
    ImportResult result;
    const Call call{
        c.entry,    c.withPath ? file_ : "", memory, options, c.withStream ? &streamGif : nullptr,
        c.startText};
    EXPECT_EQ(CallEntry(call, &result), c.result);
    // ImportCB left its stream function in the block; a host clears it.
    EscapeSetup(options, 0x51, 4, nullptr, nullptr, 0);
    EXPECT_EQ(std::vector<int32_t>(
                  {result.left, result.top, result.right, result.bottom, result.unitsPerInch}),
              std::vector<int32_t>({0, 0, c.right, c.bottom, c.unitsPerInch}));
    const Strings begun = Logged("QvMetafileBegin");
    ASSERT_EQ(begun.size(), 1u);
    EXPECT_EQ(Strings({LogField(begun[0], "title"), LogField(begun[0], "path"),
                       LogField(begun[0], "version"), LogField(begun[0], "value")}),
              Strings({"\"GIF Import\"", Quoted(call.path), "33554438", "77"}));
    if (c.startText != nullptr) {
      ASSERT_EQ(Logged("QvDocOpen").size(), 1u);
      EXPECT_EQ(LogField(Logged("QvDocOpen")[0], "startName"), "\"Start\"");
    }
  }
  GlobalFree(options);
  GlobalFree(memory);
}

TEST_F(HostEntries, BlocksOfTheirOwnRefusalsAndBadRecords) {
  // No block: the import entries make, mark and free one; the embedded one
  // refuses at once.
  ImportResult result;
  EXPECT_EQ(CallEntry({Entry::kGR, file_}, &result), CaptureSuccess());
  ASSERT_EQ(Logged("QvOptionsCreate").size(), 1u);
  EXPECT_EQ(LogField(Logged("QvOptionsControl")[0], "stored"), "0");

  HGLOBAL refusing = HostBlock();
  const uint16_t refuse = 1;
  QvOptionsControl(refusing, 4, 2, &refuse, nullptr, 0);
  SourceDescriptor source{}, unterminated{};
  std::snprintf(source.path, sizeof source.path, "%s", file_.c_str());
  std::memset(unterminated.path, 'a', sizeof unterminated.path);
  const struct {
    Entry entry;
    HGLOBAL options;
    const SourceDescriptor* source;
    ImportResult* result;
    int32_t expected;
  } cases[] = {
      {Entry::kEmbedded, nullptr, &source, &result, kHostNoOptionsOrSetup},
      {Entry::kGR, refusing, &source, &result, kHostRefused},
      {Entry::kCB, refusing, &source, &result, kHostRefused},
      {Entry::kEmbedded, refusing, &source, &result, kHostRefused},
      {Entry::kGR, nullptr, nullptr, &result, kHostBadRecord},
      {Entry::kCB, nullptr, &source, nullptr, kHostBadRecord},
      {Entry::kEmbedded, refusing, &unterminated, &result, kHostBadRecord},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Name(c.entry));
    StandInClearLog();
    const long allocations = PlatformAllocationCount();
    EXPECT_EQ(c.entry == Entry::kGR ? ImportGR(0, c.source, c.result, c.options)
              : c.entry == Entry::kCB
                  ? ImportCB(0, c.source, c.result, c.options, 0, nullptr)
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

  const Bytes gif = SolidGif(9, 4);
  ImportResult result;
  EXPECT_EQ(CallEntry({Entry::kCB, file_, nullptr, options, &gif}, &result), CaptureSuccess());
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
    for (Entry entry : {Entry::kGR, Entry::kEmbedded}) {
      SCOPED_TRACE(std::string(Name(entry)) + (function ? " with a stream function" : ""));
      streamOfUserZero = e2e::OpenByteStream(gif);
      EXPECT_EQ(CallEntry({entry, file_, nullptr, options}, &result), CaptureSuccess());
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
  const std::string profile = e2e::WriteScratchFile("gifin.INI", Bytes(text.begin(), text.end()));
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

// A capture that ends non-zero leaves the host no metafile, and the host's
// own GIF block stays its own.
TEST_F(HostEntries, FailedCapturesLeaveNoMetafile) {
  Bytes cut = SolidGif(8, 6), notGif = SolidGif(8, 6);
  cut.resize(cut.size() - 4);  // into the image data
  notGif[0] = 'J';
  const struct {
    const char* name;
    Bytes gif;
    std::function<void()> fault;
    int32_t expected;
  } cases[] = {
      {"not a GIF", notGif, [] {}, -23},
      {"cut in the image", cut, [] {}, 21},
      {"stopped by the capture", SolidGif(8, 6), [] { StandInStopCaptureAtProgress(1); }, 61},
      {"library stop", SolidGif(8, 6),
       [] { StandInSetPendingErrorAfter("QvBitmapBand", 1, 901, 0); }, 61},
      {"close fails", SolidGif(8, 6), [] { StandInSetDocCloseResult(303); }, 15},
      {"screen too wide for the picture", SolidGif(40000, 2), [] {}, 28},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StandInResetFaults();
    c.fault();
    HGLOBAL memory = e2e::MemoryBlockOf(c.gif);
    ImportResult result;
    EXPECT_EQ(CallEntry({Entry::kGR, "", memory}, &result), c.expected);
    EXPECT_EQ(result.metafile, nullptr);
    EXPECT_EQ(PlatformLiveMetafiles(), 0);
    EXPECT_NE(GlobalFree(memory), memory) << "the host's block is still its own";
  }
}

}  // namespace
