// Options blocks, captures, the preferences dialog, the text helpers and the
// call log of the companion stand-in.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "filter/filter_api.h"

namespace {

std::vector<std::string> Log() {
  std::vector<std::string> lines;
  for (int i = 0; i < StandInLogSize(); ++i) lines.push_back(StandInLogEntry(i));
  return lines;
}

TEST(OptionsBlocks, KeepEachCodeAtItsSize) {
  int live = StandInLiveOptionsBlocks();
  HGLOBAL block = QvOptionsCreate(0, 0, 0, 0);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(StandInLiveOptionsBlocks(), live + 1);
  auto* first = static_cast<uint32_t*>(GlobalLock(block));
  EXPECT_NE(*first, 0xFFEEDDCCu) << "an options block must not pass for a setup";
  GlobalUnlock(block);

  struct Case {
    int32_t code, size;
  };
  const Case cases[] = {{3, 2}, {4, 2}, {0x1A, 4}, {0x28, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    uint8_t in[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    uint8_t out[8];
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(QvOptionsControl(block, c.code, c.size, in, nullptr, 0), 0);
    EXPECT_EQ(QvOptionsControl(block, c.code, c.size, nullptr, out, 0), 0);
    EXPECT_EQ(std::memcmp(out, in, static_cast<size_t>(c.size)), 0);
    EXPECT_EQ(out[c.size], 0xEE) << "fetched more than the option's size";
    // A wrong size is refused and leaves the caller's memory alone.
    std::memset(out, 0xEE, sizeof out);
    for (int32_t wrong : {c.size + 1, c.size - 1, 0, -1}) {
      EXPECT_EQ(QvOptionsControl(block, c.code, wrong, nullptr, out, 0), kQvOptionsBadSize);
    }
    EXPECT_EQ(out[0], 0xEE);
  }
  int16_t out = 0x5A5A;
  EXPECT_EQ(QvOptionsControl(block, 0x51, 2, nullptr, &out, 0), kQvOptionsUnknownCode);
  EXPECT_EQ(out, 0x5A5A);

  // The persistent bytes: the caller's size, up to 64.
  uint8_t persistent[24], back[24] = {};
  for (int i = 0; i < 24; ++i) persistent[i] = static_cast<uint8_t>(i + 1);
  EXPECT_EQ(QvOptionsControl(block, 0x2A, 24, persistent, nullptr, 0), 0);
  EXPECT_EQ(QvOptionsControl(block, 0x2B, 24, nullptr, back, 0), 0);
  EXPECT_EQ(std::memcmp(back, persistent, 24), 0);
  EXPECT_EQ(QvOptionsControl(block, 0x2A, 65, persistent, nullptr, 0), kQvOptionsBadSize);
  EXPECT_EQ(QvOptionsControl(block, 0x2B, 24, nullptr, nullptr, 0), kQvOptionsNoData);

  GlobalFree(block);
  EXPECT_EQ(StandInLiveOptionsBlocks(), live);
  EXPECT_EQ(QvOptionsControl(block, 3, 2, nullptr, &out, 0), kQvOptionsBadBlock);
}

TEST(OptionsBlocks, OtherBlocksAreNotTouched) {
  // A setup handed through by a pass-through escape code.
  HGLOBAL setup = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 64);
  auto* words = static_cast<uint32_t*>(GlobalLock(setup));
  words[0] = 0xFFEEDDCCu;
  GlobalUnlock(setup);
  uint8_t bytes[24] = {1, 2, 3};
  EXPECT_EQ(QvOptionsControl(setup, 0x2A, 24, bytes, nullptr, 0), kQvOptionsBadBlock);
  EXPECT_EQ(QvOptionsControl(nullptr, 3, 2, bytes, nullptr, 0), kQvOptionsBadBlock);
  words = static_cast<uint32_t*>(GlobalLock(setup));
  EXPECT_EQ(words[1], 0u);
  GlobalUnlock(setup);
  GlobalFree(setup);
}

TEST(TextHelpers, DirectoryAndCopy) {
  const std::pair<const char*, const char*> cases[] = {
      {"/opt/filters/gifin.so", "/opt/filters/"},
      {"gifin.so", ""},
      {"D:\\Filters\\gifin.dll", "D:\\Filters\\"},
      {"/", "/"},
      {"", ""},
      {nullptr, ""},
  };
  for (const auto& c : cases) {
    char out[64];
    std::memset(out, 'x', sizeof out);
    QvPathDirectory(out, c.first);
    EXPECT_STREQ(out, c.second) << (c.first ? c.first : "(null)");
  }
  char path[32] = "/etc/";
  QvStringCopy(path + std::strlen(path), "gifin.INI");
  EXPECT_STREQ(path, "/etc/gifin.INI");
  QvStringCopy(path, nullptr);
  EXPECT_STREQ(path, "");
}

int32_t WINAPI RecordEdit(uintptr_t a, uintptr_t b, uintptr_t c);
std::vector<uintptr_t> editCalls;
int32_t WINAPI RecordEdit(uintptr_t a, uintptr_t b, uintptr_t c) {
  editCalls.insert(editCalls.end(), {a, b, c});
  return 0;
}

TEST(Captures, EndTellsTheFirstReportedError) {
  int live = StandInLiveCaptures();
  QvCapture quiet = QvMetafileBegin(nullptr, "GIF Import", "a.gif", 0, 0x02000006, 0);
  QvCapture failing = QvMetafileBegin(nullptr, "GIF Import", "b.gif", 0, 0x02000006, 0);
  EXPECT_NE(quiet, 0u);
  EXPECT_NE(quiet, failing);
  EXPECT_EQ(StandInLiveCaptures(), live + 2);
  int32_t extra[10] = {};
  EXPECT_EQ(QvMetafileStatus(quiet, 0, 0, 50, 0, 0, nullptr), 0);
  EXPECT_EQ(QvMetafileStatus(quiet, 2, 61, 0, 0, 0, extra), 0);
  EXPECT_EQ(QvMetafileStatus(failing, 3, 21, 0, 0, 0, extra), 0);
  EXPECT_EQ(QvMetafileStatus(failing, 3, 9, 0, 0, 1, extra), 0);
  EXPECT_EQ(QvMetafileEnd(quiet), 0);
  EXPECT_EQ(QvMetafileEnd(failing), 21);
  EXPECT_EQ(StandInLiveCaptures(), live);
  EXPECT_EQ(QvMetafileEnd(failing), kQvCaptureNotOpen);

  editCalls.clear();
  QvPreferencesDialog(7, reinterpret_cast<HGLOBAL>(8), 9, RecordEdit, 1, "GIF Import");
  EXPECT_EQ(editCalls, (std::vector<uintptr_t>{7, 8, 9}));
}

// One run of calls as an import makes them, over a given stream.
std::vector<std::string> RunOver(QvStream stream) {
  StandInClearLog();
  uint8_t header[13];
  QvStreamReadFormat(stream, "6c2s3c", header, 1);
  for (int i = 0; i < 3; ++i) QvStreamReadChars(stream, header, 1);
  QvStreamSeek(stream, 0, 2);
  QvStreamSeek(stream, 0, 0);
  QvPicture doc = QvDocCreate(0);
  HGLOBAL options = QvOptionsCreate(0, 0, 0, 0);
  HostContext context = {};
  QvDocOpen(doc, "start", "open", 0, options, &context);
  QvDocSetNames(doc, "quote\"back\\slash", "tab\t", "\xe9");
  PaletteEntry colors[2] = {};
  colors[1].red = 255;
  QvSetPalette(doc, 0, 2, colors);
  BitmapCorners corners = {};
  BitmapSize size = {};
  size.width.value = 3;
  size.rows.value = 2;
  uint8_t rows[8] = {1, 2, 3, 0, 4, 5, 6, 0};
  QvBitmapBegin(doc, &corners, &size, -8, 0, 1, 3, 0);
  QvBitmapBand(doc, &corners, &size, -8, 1, rows);
  QvBitmapEnd(doc);
  QvDocDestroy(doc);
  GlobalFree(options);
  QvStreamClose(stream);
  return Log();
}

const uint8_t kGif[] = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, ';', 0, 0};

int32_t WINAPI MemoryHost(uint32_t, int32_t op, void* buffer, int32_t value, int32_t origin) {
  static int32_t position = 0;
  const int32_t size = sizeof kGif;
  if (op == kHostStreamTell) return position;
  if (op == kHostStreamSeek) {
    int32_t target = (origin == 0 ? 0 : origin == 1 ? position : size) + value;
    return target < 0 ? -1 : position = target;
  }
  int32_t n = std::max(0, std::min(value, size - position));
  std::memcpy(buffer, kGif + position, static_cast<size_t>(n));
  position += n;
  return n;
}

TEST(CallLog, SameCallsGiveTheSameLogWhateverTheInput) {
  char path[] = "/tmp/companion_logXXXXXX";
  int fd = mkstemp(path);
  ASSERT_EQ(write(fd, kGif, sizeof kGif), static_cast<ssize_t>(sizeof kGif));
  close(fd);
  const uint8_t* address = kGif;
  StreamOpenDescriptor memory = {}, host = {};
  memory.source = reinterpret_cast<uintptr_t>(&address);
  memory.size = sizeof kGif;
  host.streamFunction = MemoryHost;

  std::vector<std::string> fromFile = RunOver(QvStreamOpen(path, nullptr, 0));
  std::vector<std::string> fromMemory = RunOver(QvStreamOpen(nullptr, &memory, 0));
  std::vector<std::string> fromHost = RunOver(QvStreamOpen(path, &host, 0));
  unlink(path);
  ASSERT_EQ(fromFile.size(), fromMemory.size());
  ASSERT_EQ(fromFile.size(), fromHost.size());
  // RunOver clears the log after the open: the open line is not compared.
  EXPECT_EQ(fromFile, fromMemory);
  EXPECT_EQ(fromFile, fromHost);

  // The stream was opened before the log was cleared: it is numbered anew.
  const std::vector<std::string> expected = {
      R"({"op":"QvStreamReadFormat","stream":"stream#1","format":"6c2s3c",)"
      R"("count":1,"calls":1,"result":1})",
      R"({"op":"QvStreamReadChars","stream":"stream#1","count":1,"calls":3,"result":3})",
      R"({"op":"QvStreamSeek","stream":"stream#1","offset":0,"origin":2,"result":16})",
  };
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(fromFile[i], expected[i]);
  std::string all;
  for (const std::string& line : fromFile) all += line + "\n";
  EXPECT_NE(all.find(R"("names":["quote\"back\\slash","tab\t","\u00e9"])"), std::string::npos);
  EXPECT_NE(all.find(R"("entries":[[0,0,0],[255,0,0]])"), std::string::npos);
  EXPECT_NE(all.find(R"("options":"block#1","context":"ptr#)"), std::string::npos);
  EXPECT_NE(all.find(R"("size":[3,2],"negDepth":-8,"reserved":1,"bytes":8,"checksum":")"),
            std::string::npos);
  EXPECT_EQ(all.find("0x"), std::string::npos) << "an address in the log";
  char out[] = "/tmp/companion_jsonlXXXXXX";
  close(mkstemp(out));
  ASSERT_EQ(StandInWriteLog(out), 0);
  std::ifstream file(out);
  std::string written((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  unlink(out);
  EXPECT_EQ(written, all);
  EXPECT_NE(StandInWriteLog("/nonexistent/dir/log.jsonl"), 0);
  EXPECT_EQ(StandInLiveStreams(), 0);
  EXPECT_EQ(StandInLiveDocuments(), 0);
}

}  // namespace
