// The registration and metafile entries through the module's exports, over
// the stand-ins: which input an entry reads, what it does with the host's
// options block and its persistent bytes, the units-per-inch fallbacks, the
// capture's failures, bad records and bad GIFs. Nothing may be live after
// any call once the host has deleted the metafile it got.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "filter/filter_api.h"
#include "filter/filter_setup.h"
#include "platform/platform_test.h"
#include "tests/e2e/import_host.h"
#include "tests/support/gif_writer.h"
#include "tests/support/recording_host.h"

namespace {

namespace fs = std::filesystem;
using gifwrite::Bytes;
using gifwrite::Color;
using gifwrite::GifBuilder;
using gifwrite::Image;

constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF"
constexpr uint32_t kEmrHeader = 1, kEmrEof = 14;

const std::vector<Color> kColors = {{0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 0, 255}};

Bytes SolidGif(uint16_t width, uint16_t height) {
  Image image;
  image.width = 1;
  image.height = 1;
  image.pixels = {2};
  return GifBuilder(width, height, kColors).AddImage(image).Trailer().bytes();
}

// A local palette, a transparent image and a line of plain text.
Bytes RichGif() {
  Image local;
  local.left = 1;
  local.width = 4;
  local.height = 3;
  local.localColors = {{9, 9, 9}, {200, 10, 10}};
  local.pixels = {0, 1, 0, 1, 1, 0, 1, 0, 0, 1, 0, 1};
  Image clear;
  clear.top = 3;
  clear.width = 3;
  clear.height = 2;
  clear.pixels = {1, 3, 1, 3, 1, 3};
  return GifBuilder(8, 6, kColors)
      .AddImage(local)
      .GraphicControl(true, 3)
      .AddImage(clear)
      .PlainText(0, 0, 8, 4, 2, 4, 1, 0, {"Hi"})
      .Trailer()
      .bytes();
}

HGLOBAL BlockOf(const Bytes& bytes) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size() + 1);
  if (!bytes.empty()) std::memcpy(GlobalLock(block), bytes.data(), bytes.size());
  if (!bytes.empty()) GlobalUnlock(block);
  return block;
}

// Host streams over byte strings, by user value; calls are counted.
std::map<uint32_t, std::pair<const Bytes*, int32_t>> streams;
int streamCalls = 0;
int32_t WINAPI ByteStream(uint32_t user, int32_t op, void* buffer, int32_t value, int32_t origin) {
  ++streamCalls;
  auto it = streams.find(user);
  if (it == streams.end()) return -1;
  const Bytes& bytes = *it->second.first;
  int32_t& pos = it->second.second;
  const auto size = static_cast<int32_t>(bytes.size());
  if (op == kHostStreamRead) {
    const int32_t n = value < size - pos ? value : size - pos;
    if (n > 0) std::memcpy(buffer, bytes.data() + pos, static_cast<size_t>(n));
    pos += n > 0 ? n : 0;
    return n > 0 ? n : 0;
  }
  if (op == kHostStreamSeek) {
    const int32_t to = (origin == 0 ? 0 : origin == 1 ? pos : size) + value;
    if (to < 0) return -1;
    return pos = to;
  }
  return op == kHostStreamTell ? pos : -1;
}

enum class Entry { kGR, kCB, kEmbedded };
const char* Name(Entry e) { return e == Entry::kGR ? "ImportGR" : e == Entry::kCB ? "ImportCB" : "ImportEmbeddedGR"; }

struct Call {
  Entry entry = Entry::kGR;
  std::string path;
  HGLOBAL memory = nullptr;
  HGLOBAL options = nullptr;
  const Bytes* stream = nullptr;  // ImportCB: read through a host stream
  const char* startText = nullptr;
};

int32_t CallEntry(const Call& c, ImportResult* result) {
  SourceDescriptor source{};
  source.memory = c.memory;
  std::snprintf(source.path, sizeof source.path, "%s", c.path.c_str());
  *result = ImportResult{};
  switch (c.entry) {
    case Entry::kGR:
      return ImportGR(7, &source, result, c.options);
    case Entry::kCB: {
      const uint32_t user = 0x5EA0001;
      if (c.stream != nullptr) streams[user] = {c.stream, 0};
      const int32_t r = ImportCB(7, &source, result, c.options, user, c.stream ? ByteStream : nullptr);
      streams.erase(user);
      return r;
    }
    case Entry::kEmbedded:
      return ImportEmbeddedGR(7, &source, result, c.options, 0, c.startText);
  }
  return -999;
}

// "" for a well-formed enhanced metafile: header first, records in bounds,
// EOF last. The host's duty done: the metafile is deleted.
std::string CheckAndDelete(HANDLE metafile) {
  if (metafile == nullptr) return "no metafile";
  std::string problem;
  auto h = static_cast<HENHMETAFILE>(metafile);
  std::vector<BYTE> b(GetEnhMetaFileBits(h, 0, nullptr));
  if (GetObjectType(metafile) != OBJ_ENHMETAFILE || b.size() < 88 ||
      GetEnhMetaFileBits(h, static_cast<UINT>(b.size()), b.data()) != b.size()) {
    problem = "not an enhanced metafile";
  }
  auto word = [&b](size_t at) {
    uint32_t v = 0;
    std::memcpy(&v, &b[at], 4);
    return v;
  };
  if (problem.empty() && (word(0) != kEmrHeader || word(40) != kEmfSignature || word(48) != b.size()))
    problem = "bad header";
  size_t at = 0, last = 0;
  while (problem.empty() && at < b.size()) {
    const uint32_t size = word(at + 4);
    if (size < 8 || size % 4 != 0 || size > b.size() - at) problem = "record out of bounds";
    last = at;
    at += size;
  }
  if (problem.empty() && word(last) != kEmrEof) problem = "no EOF record last";
  DeleteEnhMetaFile(h);
  return problem;
}

// The host's view of a result: 0 with a well-formed metafile (deleted
// here), or a number and no metafile. "" when it is one of the two.
std::string Outcome(int32_t r, const ImportResult& result) {
  if (r == 0) return CheckAndDelete(result.metafile);
  return result.metafile == nullptr ? "" : "a metafile beside result " + std::to_string(r);
}

bool MetafilesWritable() {
  std::vector<uint8_t> bytes;
  std::string error;
  standin::Picture picture;
  picture.frame[2] = picture.frame[3] = 2;
  return StandInWriteEmf(picture, &bytes, &error) == 0;
}

// The result of a capture that ended well, on a stand-in with or without
// its metafile writer.
int32_t Success() { return MetafilesWritable() ? 0 : kQvCaptureNoMetafile; }

std::vector<std::string> Logged(const std::string& op) {
  std::vector<std::string> out;
  for (int i = 0; i < StandInLogSize(); ++i)
    if (e2e::LogField(StandInLogEntry(i), "op") == "\"" + op + "\"") out.push_back(StandInLogEntry(i));
  return out;
}

std::vector<uint8_t> Persistent(HGLOBAL block) {
  std::vector<uint8_t> bytes(kPersistentOptionsBytes);
  QvOptionsControl(block, 0x2B, static_cast<int32_t>(bytes.size()), nullptr, bytes.data(), 0);
  return bytes;
}

class HostEntries : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = e2e::WriteScratchFile("small.gif", SolidGif(8, 6));  // also points $WINDIR away
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

TEST_F(HostEntries, EachEntryReadsTheInputItIsGiven) {
  const Bytes memoryGif = SolidGif(5, 3), streamGif = SolidGif(9, 4);
  HGLOBAL memory = BlockOf(memoryGif);
  HGLOBAL options = HostBlock();
  const int32_t captureValue = 77;
  QvOptionsControl(options, 0x1A, 4, &captureValue, nullptr, 0);
  struct Case {
    Entry entry;
    bool withPath, withStream;
    const char* startText;
    int32_t result, right, bottom;
  } cases[] = {
      {Entry::kGR, true, false, nullptr, Success(), 8, 6},        // the path wins over the block
      {Entry::kGR, false, false, nullptr, Success(), 5, 3},       // empty path: the block
      {Entry::kCB, true, true, nullptr, Success(), 9, 4},         // the stream wins over both
      {Entry::kCB, false, false, nullptr, Success(), 5, 3},
      {Entry::kEmbedded, true, false, "Start", Success(), 8, 6},
      {Entry::kEmbedded, false, false, nullptr, 7, 0, 0},         // never the block
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(Name(c.entry)) + (c.withPath ? " path" : " no path"));
    StandInClearLog();
    ImportResult result;
    Call call{c.entry, c.withPath ? file_ : "", memory, options, c.withStream ? &streamGif : nullptr,
              c.startText};
    const int32_t r = CallEntry(call, &result);
    EXPECT_EQ(r, c.result);
    EXPECT_EQ(std::vector<int32_t>({result.left, result.top, result.right, result.bottom}),
              std::vector<int32_t>({0, 0, c.right, c.bottom}));
    EXPECT_EQ(Outcome(r, result), "");
    const auto begun = Logged("QvMetafileBegin");
    ASSERT_EQ(begun.size(), 1u);
    EXPECT_EQ(e2e::LogField(begun[0], "title"), "\"GIF Import\"");
    EXPECT_EQ(e2e::LogField(begun[0], "path"), "\"" + call.path + "\"");
    EXPECT_EQ(e2e::LogField(begun[0], "version"), "33554438");
    EXPECT_EQ(e2e::LogField(begun[0], "value"), "77");
    const auto opened = Logged("QvDocOpen");
    if (c.startText != nullptr) {
      ASSERT_EQ(opened.size(), 1u);
      EXPECT_EQ(e2e::LogField(opened[0], "startName"), "\"Start\"");
    }
  }
  GlobalFree(options);
  GlobalFree(memory);
}

TEST_F(HostEntries, BlocksOfTheirOwnRefusalsAndBadRecords) {
  // No block: the import entries make, mark and free one; the embedded one
  // refuses at once.
  ImportResult result;
  int32_t r = CallEntry({Entry::kGR, file_}, &result);
  EXPECT_EQ(r, Success());
  EXPECT_EQ(Outcome(r, result), "");
  ASSERT_EQ(Logged("QvOptionsCreate").size(), 1u);
  EXPECT_EQ(e2e::LogField(Logged("QvOptionsControl")[0], "stored"), "0");
  EXPECT_EQ(StandInLiveOptionsBlocks(), 0);

  HGLOBAL refusing = HostBlock();
  const uint16_t refuse = 1;
  QvOptionsControl(refusing, 4, 2, &refuse, nullptr, 0);
  SourceDescriptor unterminated{};
  std::memset(unterminated.path, 'a', sizeof unterminated.path);
  struct Case {
    Entry entry;
    HGLOBAL options;
    bool nullSource, nullResult, badPath;
    int32_t expected;
  } cases[] = {
      {Entry::kEmbedded, nullptr, false, false, false, kHostNoOptionsOrSetup},
      {Entry::kGR, refusing, false, false, false, kHostRefused},
      {Entry::kCB, refusing, false, false, false, kHostRefused},
      {Entry::kEmbedded, refusing, false, false, false, kHostRefused},
      {Entry::kGR, nullptr, true, false, false, kHostBadRecord},
      {Entry::kCB, nullptr, false, true, false, kHostBadRecord},
      {Entry::kEmbedded, refusing, false, false, true, kHostBadRecord},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Name(c.entry));
    StandInClearLog();
    const long allocations = PlatformAllocationCount();
    SourceDescriptor source{};
    std::snprintf(source.path, sizeof source.path, "%s", file_.c_str());
    const SourceDescriptor* s = c.nullSource ? nullptr : c.badPath ? &unterminated : &source;
    ImportResult* r = c.nullResult ? nullptr : &result;
    int32_t got = c.entry == Entry::kGR   ? ImportGR(0, s, r, c.options)
                  : c.entry == Entry::kCB ? ImportCB(0, s, r, c.options, 0, nullptr)
                                          : ImportEmbeddedGR(0, s, r, c.options, 0, nullptr);
    EXPECT_EQ(got, c.expected);
    EXPECT_EQ(PlatformAllocationCount(), allocations) << "no block and no setup made";
    EXPECT_TRUE(Logged("QvMetafileBegin").empty());
  }
  GlobalFree(refusing);
}

TEST_F(HostEntries, UnitsPerInchFallBackWhenTheCaptureGivesNone) {
  for (bool captureGivesNone : {true, false}) {
    for (auto size : {std::pair<uint16_t, uint16_t>{600, 400}, {400, 600}}) {
      const std::string path = e2e::WriteScratchFile("big.gif", SolidGif(size.first, size.second));
      HGLOBAL options = HostBlock();
      StandInSetCaptureUnitsPerInch(captureGivesNone ? 0 : -1);
      for (Entry entry : {Entry::kGR, Entry::kCB, Entry::kEmbedded}) {
        SCOPED_TRACE(std::string(Name(entry)) + " " + std::to_string(size.first));
        ImportResult result;
        const int32_t r = CallEntry({entry, path, nullptr, options}, &result);
        EXPECT_EQ(r, Success());
        EXPECT_EQ(Outcome(r, result), "");
        EXPECT_EQ(std::vector<int32_t>({result.right, result.bottom}),
                  std::vector<int32_t>({size.first, size.second}));
        const int32_t fallback = entry == Entry::kEmbedded ? 1440 : 120;
        EXPECT_EQ(result.unitsPerInch, captureGivesNone ? fallback : 96);
      }
      GlobalFree(options);
    }
  }
}

// ImportCB's stream function goes back into the host's block with the other
// persistent bytes; an entry without one clears it rather than calling a
// function that may be gone, and keeps everything else.
TEST_F(HostEntries, PersistentBytesTravelAndAStaleStreamFunctionIsDropped) {
  HGLOBAL options = HostBlock();
  uint32_t second = 0xA1B2C3D4;
  EscapeSetup(options, 0x52, 4, &second, nullptr, 0);
  std::vector<uint8_t> before = Persistent(options);
  for (size_t i = kPersistentOptionsBytes - 16; i < before.size(); ++i) before[i] = static_cast<uint8_t>(i);
  QvOptionsControl(options, 0x2A, static_cast<int32_t>(before.size()), before.data(), nullptr, 0);

  const Bytes gif = SolidGif(9, 4);
  ImportResult result;
  int32_t r = CallEntry({Entry::kCB, file_, nullptr, options, &gif}, &result);
  EXPECT_EQ(r, Success());
  EXPECT_EQ(Outcome(r, result), "");
  EXPECT_EQ(result.right, 9);
  PersistentOptions stored{};
  std::vector<uint8_t> after = Persistent(options);
  std::memcpy(&stored, after.data(), sizeof stored);
  EXPECT_EQ(stored.streamFunction, &ByteStream);
  EXPECT_EQ(std::vector<uint8_t>(after.begin() + sizeof(HostStreamProc), after.end()),
            std::vector<uint8_t>(before.begin() + sizeof(HostStreamProc), before.end()));

  for (Entry entry : {Entry::kGR, Entry::kEmbedded}) {
    SCOPED_TRACE(Name(entry));
    streamCalls = 0;
    r = CallEntry({entry, file_, nullptr, options}, &result);
    EXPECT_EQ(r, Success());
    EXPECT_EQ(Outcome(r, result), "");
    EXPECT_EQ(result.right, 8) << "the file, not the old stream";
    EXPECT_EQ(streamCalls, 0);
    EXPECT_EQ(Persistent(options), before) << "cleared function, other bytes kept";
  }
  GlobalFree(options);
}

TEST_F(HostEntries, GetFilterInfoAndGetFilterPref) {
  char dir[] = "/tmp/host-entry-windir-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string profile = std::string(dir) + "/gifin.INI";
  std::ofstream(profile) << "[ir_gif]\n~Mode=Missing\n";  // a mode without a Driver
  const std::string oldWindir = getenv("WINDIR");
  struct Case {
    bool brokenProfile;
    long failAllocation;
    int16_t info;
    int option28;  // -1: no block
    bool dialog;
  } cases[] = {{false, 0, 2, 0xFF, true}, {true, 0, 2, 0, false}, {false, 1, 0, -1, false},
               {false, 2, 2, 0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.brokenProfile) + " " + std::to_string(c.failAllocation));
    setenv("WINDIR", c.brokenProfile ? dir : oldWindir.c_str(), 1);
    PlatformFailAllocationAt(c.failAllocation);
    HGLOBAL block = reinterpret_cast<HGLOBAL>(0x1234);
    EXPECT_EQ(GetFilterInfo(0, 0, &block, 0), c.info);
    EXPECT_EQ(block != nullptr, c.option28 >= 0);
    if (block != nullptr) {
      uint16_t option3 = 9;
      uint8_t option28 = 9;
      QvOptionsControl(block, 3, 2, nullptr, &option3, 0);
      QvOptionsControl(block, 0x28, 1, nullptr, &option28, 0);
      EXPECT_EQ(option3, 0);
      EXPECT_EQ(option28, c.option28);
      EXPECT_EQ(Persistent(block), std::vector<uint8_t>(kPersistentOptionsBytes, 0));
      GlobalFree(block);
    }
    // The dialog needs an owner and a setup.
    for (uintptr_t owner : {uintptr_t{0}, uintptr_t{5}}) {
      StandInClearLog();
      PlatformFailAllocationAt(c.failAllocation != 0 ? 1 : 0);  // the setup's block
      testing::internal::CaptureStdout();
      GetFilterPref(0, 42, owner, 0);
      const std::string shown = testing::internal::GetCapturedStdout();
      const auto dialogs = Logged("QvPreferencesDialog");
      ASSERT_EQ(dialogs.size(), owner != 0 && c.dialog ? 1u : 0u);
      if (dialogs.empty()) continue;
      EXPECT_EQ(e2e::LogField(dialogs[0], "hostValue"), "42");
      EXPECT_EQ(e2e::LogField(dialogs[0], "flag"), "1");
      EXPECT_EQ(e2e::LogField(dialogs[0], "editResult"), "0");
      EXPECT_NE(shown.find("Preferences \"GIF Import\""), std::string::npos) << shown;
      EXPECT_NE(shown.find("beginning 0xFFEEDDCC"), std::string::npos) << shown;
    }
  }
  setenv("WINDIR", oldWindir.c_str(), 1);
  EXPECT_EQ(QVRGetFilterVersion(), 0x02000006u);
  fs::remove_all(dir);
}

// A capture that ends non-zero leaves the host no metafile, and the host's
// own GIF block stays its own.
TEST_F(HostEntries, FailedCapturesLeaveNoMetafile) {
  Bytes cut = SolidGif(8, 6);
  cut.resize(cut.size() - 4);  // into the image data
  Bytes notGif = SolidGif(8, 6);
  notGif[0] = 'J';
  struct Case {
    const char* name;
    Bytes gif;
    std::function<void()> fault;
    int32_t expected;
  } cases[] = {
      {"not a GIF", notGif, [] {}, -23},
      {"cut in the image", cut, [] {}, 21},
      {"stopped by the capture", RichGif(), [] { StandInStopCaptureAtProgress(1); }, 61},
      {"library stop", RichGif(), [] { StandInSetPendingErrorAfter("QvBitmapBand", 1, 901, 0); }, 61},
      {"close fails", RichGif(), [] { StandInSetDocCloseResult(303); }, 15},
      {"frame too wide", SolidGif(40000, 2), [] {}, kQvCaptureNoMetafile},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StandInResetFaults();
    c.fault();
    HGLOBAL memory = BlockOf(c.gif);
    ImportResult result;
    EXPECT_EQ(CallEntry({Entry::kGR, "", memory}, &result), c.expected);
    EXPECT_EQ(result.metafile, nullptr);
    EXPECT_EQ(PlatformLiveMetafiles(), 0);
    EXPECT_NE(GlobalFree(memory), memory) << "the host's block is still its own";
  }
}

// Cut at every offset, by memory, stream and file: a well-formed metafile
// of what was drawn, or none and a number.
TEST_F(HostEntries, EveryTruncationEndsSoundly) {
  const Bytes gif = RichGif();
  HGLOBAL options = HostBlock();
  for (size_t length = 0; length <= gif.size(); ++length) {
    const Bytes cut(gif.begin(), gif.begin() + static_cast<std::ptrdiff_t>(length));
    HGLOBAL memory = BlockOf(cut);
    const std::string path = e2e::WriteScratchFile("cut.gif", cut);
    for (const Call& call : {Call{Entry::kGR, "", memory, options}, Call{Entry::kCB, path, nullptr, options, &cut},
                             Call{Entry::kEmbedded, path, nullptr, options}}) {
      SCOPED_TRACE(std::string(Name(call.entry)) + " " + std::to_string(length));
      ImportResult result;
      const int32_t r = CallEntry(call, &result);
      EXPECT_EQ(Outcome(r, result), "");
    }
    GlobalFree(memory);
    ASSERT_EQ(testhost::DescribeLive({1, 0, 0, 0, 0, 0, 1, 0}), "");
  }
  GlobalFree(options);
}

TEST_F(HostEntries, AllocationFailureAtEveryPoint) {
  HGLOBAL memory = BlockOf(RichGif());
  for (long n = 1;; ++n) {
    SCOPED_TRACE(n);
    const long before = PlatformAllocationCount();
    PlatformFailAllocationAt(n);
    ImportResult result;
    const int32_t r = CallEntry({Entry::kGR, "", memory}, &result);
    PlatformFailAllocationAt(0);
    EXPECT_EQ(Outcome(r, result), "");
    ASSERT_EQ(testhost::DescribeLive({1, 0, 0, 0, 0, 0, 0, 0}), "");
    if (PlatformAllocationCount() - before < n) break;  // the failure was never reached
  }
  GlobalFree(memory);
}

TEST_F(HostEntries, AnIndependentReaderOpensTheMetafile) {
  if (!MetafilesWritable()) GTEST_SKIP() << "the stand-in was built without its metafile writer";
  if (std::system("command -v emf2svg-conv >/dev/null 2>&1") != 0) GTEST_SKIP() << "no emf2svg-conv";
  SourceDescriptor source{};
  std::snprintf(source.path, sizeof source.path, "%s", GIFIMPORT_SAMPLE_GIF);
  ImportResult result{};
  ASSERT_EQ(ImportGR(0, &source, &result, nullptr), 0);
  auto h = static_cast<HENHMETAFILE>(result.metafile);
  std::vector<BYTE> bytes(GetEnhMetaFileBits(h, 0, nullptr));
  GetEnhMetaFileBits(h, static_cast<UINT>(bytes.size()), bytes.data());
  DeleteEnhMetaFile(h);
  const std::string emf = e2e::WriteScratchFile("sample.emf", bytes);
  const std::string svg = emf + ".svg";
  ASSERT_EQ(std::system(("emf2svg-conv -i '" + emf + "' -o '" + svg + "' >/dev/null 2>&1").c_str()), 0);
  std::ifstream in(svg);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("width=\"192"), std::string::npos) << text.substr(0, 300);
  EXPECT_NE(text.find("<image"), std::string::npos) << "the bitmap came through";
}

}  // namespace
