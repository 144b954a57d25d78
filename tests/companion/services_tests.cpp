// Options blocks, captures, the preferences dialog and the text helpers of
// the companion stand-in.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "companion/standin.h"

namespace {

TEST(OptionsBlocks, KeepEachCodeAtItsSize) {
  const int live = StandInLiveOptionsBlocks();
  HGLOBAL block = QvOptionsCreate(0, 0, 0, 0);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(StandInLiveOptionsBlocks(), live + 1);
  EXPECT_NE(*static_cast<uint32_t*>(GlobalLock(block)), 0xFFEEDDCCu) << "no setup look-alike";
  GlobalUnlock(block);
  const uint8_t in[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
  for (const auto& [code, size] : {std::pair{3, 2}, {4, 2}, {0x1A, 4}, {0x28, 1}}) {
    SCOPED_TRACE(code);
    uint8_t out[8];
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(QvOptionsControl(block, code, size, in, nullptr, 0), 0);
    EXPECT_EQ(QvOptionsControl(block, code, size, nullptr, out, 0), 0);
    std::vector<uint8_t> expected(in, in + size);
    expected.push_back(0xEE);  // nothing past the option's size
    EXPECT_EQ(std::vector<uint8_t>(out, out + size + 1), expected);
    // A wrong size is refused and leaves the caller's memory alone.
    std::memset(out, 0xEE, sizeof out);
    for (int32_t wrong : {size + 1, size - 1, 0, -1}) {
      EXPECT_EQ(QvOptionsControl(block, code, wrong, nullptr, out, 0), kQvOptionsBadSize);
    }
    EXPECT_EQ(out[0], 0xEE);
  }
  int16_t out = 0;

  // The persistent bytes: the caller's size, up to 64.
  uint8_t persistent[65], back[24] = {};
  for (int i = 0; i < 65; ++i) persistent[i] = static_cast<uint8_t>(i + 1);
  EXPECT_EQ(QvOptionsControl(block, 0x2A, 24, persistent, nullptr, 0), 0);
  EXPECT_EQ(QvOptionsControl(block, 0x2B, 24, nullptr, back, 0), 0);
  EXPECT_EQ(std::memcmp(back, persistent, 24), 0);
  EXPECT_EQ(QvOptionsControl(block, 0x2A, 64, persistent, nullptr, 0), 0);
  EXPECT_EQ(QvOptionsControl(block, 0x2A, 65, persistent, nullptr, 0), kQvOptionsBadSize);
  EXPECT_EQ(QvOptionsControl(block, 0x2B, 24, nullptr, nullptr, 0), kQvOptionsNoData);

  GlobalFree(block);
  EXPECT_EQ(StandInLiveOptionsBlocks(), live);
  EXPECT_EQ(QvOptionsControl(block, 3, 2, nullptr, &out, 0), kQvOptionsBadBlock);
}

TEST(TextHelpers, DirectoryAndCopy) {
  const std::pair<const char*, const char*> cases[] = {{"/opt/filters/gifin.so", "/opt/filters/"},
                                                       {"gifin.so", ""},
                                                       {"D:\\Filters\\gifin.dll", "D:\\Filters\\"},
                                                       {"/", "/"},
                                                       {"", ""},
                                                       {nullptr, ""}};
  for (const auto& [path, directory] : cases) {
    char out[64];
    std::memset(out, 'x', sizeof out);
    QvPathDirectory(out, path);
    EXPECT_STREQ(out, directory) << (path ? path : "(null)");
  }
  char path[32] = "/etc/";
  QvStringCopy(path + std::strlen(path), "gifin.INI");
  EXPECT_STREQ(path, "/etc/gifin.INI");
  QvStringCopy(path, nullptr);
  EXPECT_STREQ(path, "");
}

std::vector<uintptr_t> editCalls;
int32_t WINAPI RecordEdit(uintptr_t a, uintptr_t b, uintptr_t c) {
  editCalls.insert(editCalls.end(), {a, b, c});
  return 0;
}

TEST(Captures, EndTellsTheFirstReportedError) {
  const int live = StandInLiveCaptures();
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

  testing::internal::CaptureStdout();
  QvPreferencesDialog(7, reinterpret_cast<HGLOBAL>(8), 9, RecordEdit, 1, "GIF Import");
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(editCalls, (std::vector<uintptr_t>{7, 8, 9}));
}

}  // namespace
