// The picture builder steps against the companion stand-in: what reaches the
// document, which library errors are reported with which severity, which
// call comes next, and what each step returns.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "filter/filter_setup.h"
#include "filter/status.h"
#include "output/builder_steps.h"
#include "platform/platform_test.h"
#include "tests/support/recording_host.h"

namespace {

using testhost::RecordingHost;
using testhost::ScopedJob;
using testhost::StatusCall;
using Ops = std::vector<std::string>;

// Operations in the companion's call log, error queries left out.
Ops LoggedOps() {
  Ops ops = testhost::LoggedOperations();
  ops.erase(std::remove(ops.begin(), ops.end(), "QvGetError"), ops.end());
  return ops;
}

struct Pending {
  const char* after = nullptr;  // operation after whose first call it is left
  int16_t code = 0, operation = 0;
};

class BuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StandInResetFaults();
    StandInForgetPictures();
    host.Attach(job.context());
    job->progressBase = 0;
    job->progressSpan = 100;
    std::strcpy(job->startName, "start name");
    std::strcpy(job->openName, "open name");
    Begin();
  }
  void TearDown() override {
    End();
    StandInResetFaults();
    EXPECT_EQ(testhost::DescribeLive(), "");
    EXPECT_EQ(RecordingHost::strayCalls(), 0);
  }
  // A fresh document, host record and log.
  void Begin(Pending pending = {}) {
    End();
    StandInResetFaults();
    job->picture = QvDocCreate(0);
    ASSERT_NE(job->picture, nullptr);
    if (pending.after) StandInSetPendingErrorAfter(pending.after, 1, pending.code, pending.operation);
    host.Clear();
    StandInClearLog();
  }
  // Destroys the document; its model is then StandInLastPicture().
  void End() {
    if (job->picture != nullptr) QvDocDestroy(job->picture);
    job->picture = nullptr;
  }
  std::vector<int32_t> Severities() const {
    std::vector<int32_t> out;
    for (const StatusCall& call : host.CallsOfKind(3)) out.push_back(call.severity);
    return out;
  }
  // Profile fonts (name, face) in setup order.
  void SetProfileFonts(const std::vector<std::pair<const char*, const char*>>& fonts) {
    job->fontCount = static_cast<int32_t>(fonts.size());
    for (size_t k = 0; k < fonts.size(); ++k) {
      std::strcpy(job->fontNames[k], fonts[k].first);
      std::strcpy(job->fontFaces[k], fonts[k].second);
    }
  }
  std::vector<std::string> FontTableSent() {
    End();
    const standin::Picture* picture = StandInLastPicture();
    return picture ? picture->fontTable : std::vector<std::string>{};
  }

  RecordingHost host;
  ScopedJob job;
};

TEST_F(BuilderTest, BeginDocumentAgainstLibraryErrors) {
  const struct {
    const char* what;
    int16_t openResult;
    Pending pending;
    FilterError result;
    std::vector<int32_t> reports, severities;
    Ops ops;
  } table[] = {
      {"opened and started", 0, {}, 0, {}, {}, {"QvDocOpen", "QvDocStart"}},
      {"76: nothing to do, not started", 76, {}, 0, {}, {}, {"QvDocOpen"}},
      {"open returns 302", 302, {}, 14, {14}, {0}, {"QvDocOpen"}},
      {"open returns 20", 20, {}, 65, {65}, {0}, {"QvDocOpen"}},
      {"open returns -2", -2, {}, 26, {26}, {0}, {"QvDocOpen"}},
      {"open leaves 303", 0, {"QvDocOpen", 303, 0}, 15, {15}, {0}, {"QvDocOpen"}},
      {"start leaves 300: closed again", 0, {"QvDocStart", 300, 0}, 27, {27}, {0},
       {"QvDocOpen", "QvDocStart", "QvDocClose"}},
      {"start leaves 302 at the font table", 0, {"QvDocStart", 302, 269}, 9, {9}, {1},
       {"QvDocOpen", "QvDocStart", "QvDocClose"}},
      {"start leaves 76", 0, {"QvDocStart", 76, 0}, 0, {}, {}, {"QvDocOpen", "QvDocStart"}},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.what);
    Begin(row.pending);
    StandInSetDocOpenResult(row.openResult);
    host.AnswerOthers(1);  // ignored, and brings no follow-up

    EXPECT_EQ(BeginDocument(job.job()), row.result);
    EXPECT_EQ(LoggedOps(), row.ops);
    ASSERT_FALSE(host.calls().empty());
    const StatusCall& range = host.calls()[0];
    EXPECT_EQ(range.kind, 0);
    EXPECT_EQ(range.code, -1);
    EXPECT_EQ(range.value1, 0);
    EXPECT_EQ(range.value2, 100);
    EXPECT_EQ(range.severity, 0);
    EXPECT_FALSE(range.hasExtra);
    EXPECT_EQ(host.calls().size(), 1 + row.reports.size()) << "range, then only error reports";
    EXPECT_EQ(host.Codes(3), row.reports);
    EXPECT_EQ(Severities(), row.severities);
  }
  End();
  const standin::Picture* last = StandInLastPicture();
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->startName, "start name");
}

TEST_F(BuilderTest, FinishDocumentAlwaysClosesAndKeepsTheRightError) {
  const struct {
    const char* what;
    Pending pending;
    int16_t closeResult;
    FilterError result;
    std::vector<int32_t> reports;
  } table[] = {
      {"clean", {}, 0, 0, {}},
      {"finish leaves 300", {"QvDocFinish", 300, 0}, 0, 27, {27}},
      {"finish leaves 901: a stop, not reported", {"QvDocFinish", 901, 0}, 0, 61, {}},
      {"close returns 302: operation 2", {}, 302, 14, {14}},
      {"close replaces the finish error", {"QvDocFinish", 300, 0}, 303, 15, {27, 15}},
      {"close replaces a stop", {"QvDocFinish", 901, 0}, 20, 65, {65}},
      {"close with nothing to do keeps the finish error", {"QvDocFinish", 300, 0}, 76, 27, {27}},
      {"close with nothing to do", {}, 76, 0, {}},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.what);
    Begin(row.pending);
    StandInSetDocCloseResult(row.closeResult);
    EXPECT_EQ(FinishDocument(job.job()), row.result);
    EXPECT_EQ(LoggedOps(), (Ops{"QvDocFinish", "QvDocClose"}));
    EXPECT_EQ(host.Codes(3), row.reports);
  }
}

TEST_F(BuilderTest, FontTableLookups) {
  const std::vector<std::pair<const char*, const char*>> profile = {
      {"Roman", "Times"},       {"Sans", "Helvetica"}, {"Mono", "Courier"},
      {"Courier", "Elite"},     {"SANS", "Arial"},
  };
  const struct {
    const char* what;
    std::vector<const char*> requested;
    std::vector<std::string> table;
  } rows[] = {
      {"by name, any case", {"sAnS"}, {"Helvetica"}},
      {"by face only", {"HELVETICA"}, {"Helvetica"}},
      {"face of an earlier entry before the name of a later", {"courier"}, {"Courier"}},
      {"first of two names wins", {"sans"}, {"Helvetica"}},
      {"no match: the name itself", {"SWISS:HELVETICA"}, {"SWISS:HELVETICA"}},
      {"a prefix is no match", {"Helv"}, {"Helv"}},
      {"in request order", {"Times", "x", "Mono"}, {"Times", "x", "Courier"}},
  };
  SetProfileFonts(profile);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Begin();
    const int32_t count = static_cast<int32_t>(row.requested.size());
    EXPECT_EQ(SetFontTable(job.job(), count, row.requested.data()), 0);
    EXPECT_EQ(FontTableSent(), row.table);
  }

  // count 0: every profile face in profile order.
  Begin();
  EXPECT_EQ(SetFontTable(job.job(), 0, nullptr), 0);
  EXPECT_EQ(FontTableSent(),
            (std::vector<std::string>{"Times", "Helvetica", "Courier", "Elite", "Arial"}));

  // Without profile fonts the driver's request goes through unchanged.
  SetProfileFonts({});
  const char* swiss = "SWISS:HELVETICA";
  Begin();
  EXPECT_EQ(SetFontTable(job.job(), 1, &swiss), 0);
  EXPECT_EQ(FontTableSent(), std::vector<std::string>{"SWISS:HELVETICA"});
}

TEST_F(BuilderTest, FontTableHoldsAtMost32Entries) {
  std::vector<std::string> names;
  std::vector<const char*> requested;
  for (int i = 0; i < 40; ++i) names.push_back("font " + std::to_string(i));
  for (const std::string& n : names) requested.push_back(n.c_str());
  EXPECT_EQ(SetFontTable(job.job(), 40, requested.data()), 0);
  const std::vector<std::string> sent = FontTableSent();
  EXPECT_EQ(sent, std::vector<std::string>(names.begin(), names.begin() + 32));

  // A profile of 32 fonts, all taken; a count beyond 32 in the setup itself
  // is held to the 32 entries it has room for.
  for (int k = 0; k < kMaxProfileFonts; ++k) {
    std::snprintf(job->fontNames[k], kFontNameBytes, "name %d", k);
    std::snprintf(job->fontFaces[k], kFontNameBytes, "face %d", k);
  }
  for (int32_t fontCount : {32, 33, 1000}) {
    job->fontCount = fontCount;
    Begin();
    EXPECT_EQ(SetFontTable(job.job(), 0, nullptr), 0);
    const std::vector<std::string> all = FontTableSent();
    ASSERT_EQ(all.size(), 32u) << fontCount;
    EXPECT_EQ(all.back(), "face 31");
  }
}

TEST_F(BuilderTest, FontTableErrorsAreCheckedEvenWithoutATable) {
  const char* swiss = "SWISS:HELVETICA";
  const struct {
    const char* what;
    int32_t count;
    Pending pending;
    FilterError result;
    int32_t severity;
    bool tableSent;
  } rows[] = {
      {"302 at the font table", 1, {"QvSetFontTable", 302, 269}, 9, 1, true},
      {"302 elsewhere", 1, {"QvSetFontTable", 302, 12}, 14, 0, true},
      {"negative count: no table, earlier error found", -1, {"QvSetBackMode", 301, 0}, 23, 0, false},
      {"empty profile, count 0: no table, earlier error found", 0, {"QvSetBackMode", 168, 0}, 25, 0,
       false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    job->fontCount = 0;
    Begin(row.pending);
    if (std::strcmp(row.pending.after, "QvSetBackMode") == 0) QvSetBackMode(job->picture, 1);
    EXPECT_EQ(SetFontTable(job.job(), row.count, &swiss), row.result);
    EXPECT_EQ(host.Codes(3), std::vector<int32_t>{row.result});
    EXPECT_EQ(Severities(), std::vector<int32_t>{row.severity});
    Ops ops = LoggedOps();
    const bool sent = std::find(ops.begin(), ops.end(), "QvSetFontTable") != ops.end();
    EXPECT_EQ(sent, row.tableSent);
  }
}

TEST_F(BuilderTest, ColorTableEntries) {
  std::vector<uint8_t> rgb(256 * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 7 + 1);
  EXPECT_EQ(SetColorTable(job.job(), 0, 256, rgb.data()), 0);
  const uint8_t background[3] = {9, 8, 7};
  EXPECT_EQ(SetBackground(job.job(), background), 0);
  End();
  const standin::Picture* picture = StandInLastPicture();
  ASSERT_NE(picture, nullptr);
  ASSERT_EQ(picture->palette.size(), 256u);
  for (size_t i = 0; i < 256; ++i) {
    const standin::Rgb expected{rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]};
    ASSERT_EQ(picture->palette[i], expected) << "entry " << i;
  }
  EXPECT_TRUE(picture->hasBackground);
  EXPECT_EQ(picture->background, (standin::Rgb{9, 8, 7}));
  EXPECT_TRUE(host.calls().empty());
}

TEST_F(BuilderTest, ColorTableRefusesWhatNoPaletteHolds) {
  std::vector<uint8_t> rgb(300 * 3, 0x55);
  PlatformFailAllocationAt(0);
  const struct {
    const char* what;
    int32_t count;
    bool failAllocation;
    FilterError result;
  } rows[] = {
      {"empty", 0, false, 0},
      {"257 colours", 257, false, 27},
      {"negative", -1, false, 27},
      {"most negative", INT32_MIN, false, 27},
      {"no memory", 16, true, 27},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Begin();
    if (row.failAllocation) PlatformFailAllocationAt(1);
    EXPECT_EQ(SetColorTable(job.job(), 0, row.count, rgb.data()), row.result);
    PlatformFailAllocationAt(0);
    const Ops ops = LoggedOps();
    EXPECT_EQ(ops.empty(), row.result != 0) << "no palette sent after a refusal";
    EXPECT_EQ(host.Codes(3), row.result ? std::vector<int32_t>{row.result} : std::vector<int32_t>{});
    EXPECT_EQ(PlatformLiveLocalBlocks(), 0);
  }
}

TEST_F(BuilderTest, PictureStepsReportTheirErrorsAndThoseLeftBefore) {
  // Whatever lies beside the 16-bit values must not matter.
  const PictureRect screen = {{0, {1, 2, 3}}, {0, {4, 5, 6}}, {640, {7, 7, 7}}, {480, {8, 8, 8}}};
  const struct {
    const char* what;
    Pending pending;
    std::vector<int32_t> results;  // BeginPicture, EndPictureHeader
  } rows[] = {
      {"clean", {}, {0, 0}},
      {"picture begin", {"QvPictureBegin", 21, 0}, {12, 0}},
      {"window: found by the header end", {"QvSetWindow", 161, 0}, {0, 13}},
      {"header end", {"QvPictureHeaderEnd", 304, 0}, {0, 19}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Begin(row.pending);
    std::vector<int32_t> results;
    results.push_back(BeginPicture(job.job(), "PICTURE 1"));
    SetPictureWindow(job.job(), 0, &screen, 1);
    results.push_back(EndPictureHeader(job.job()));
    EXPECT_EQ(results, row.results);
    EXPECT_EQ(LoggedOps(), (Ops{"QvPictureBegin", "QvSetWindow", "QvPictureHeaderEnd"}))
        << "scale mode 1 sets no scale";
    std::vector<int32_t> reported;
    for (int32_t r : results)
      if (r) reported.push_back(r);
    EXPECT_EQ(host.Codes(3), reported);
    EXPECT_EQ(EndPicture(job.job()), 0);
    End();
    const standin::Picture* picture = StandInLastPicture();
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->pictureName, "PICTURE 1");
    EXPECT_EQ(picture->window[0], 0);
    EXPECT_EQ(picture->window[1], 0);
    EXPECT_EQ(picture->window[2], 640);
    EXPECT_EQ(picture->window[3], 480);
  }

  // Another scale mode sets scale 1.0 before the window.
  Begin();
  SetPictureWindow(job.job(), 0, &screen, 3);
  EXPECT_EQ(LoggedOps(), (Ops{"QvSetScale", "QvSetWindow"}));
  End();
  EXPECT_EQ(StandInLastPicture()->scaleMode, 3);
  EXPECT_EQ(StandInLastPicture()->scale, 1.0);
}

TEST_F(BuilderTest, WithoutACallbackStepsStillFailAndRelease) {
  job.context()->statusCallback = nullptr;
  Begin({"QvDocStart", 300, 0});
  EXPECT_EQ(BeginDocument(job.job()), kErrMemory);
  EXPECT_EQ(LoggedOps(), (Ops{"QvDocOpen", "QvDocStart", "QvDocClose"}));
  Begin();
  EXPECT_EQ(SetColorTable(job.job(), 0, 300, nullptr), kErrMemory);
  Begin();
  StandInSetDocCloseResult(303);
  EXPECT_EQ(FinishDocument(job.job()), kErrLib303);
  EXPECT_TRUE(host.calls().empty());
}

}  // namespace
