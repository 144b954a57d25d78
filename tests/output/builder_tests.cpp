// The picture builder steps against the companion stand-in: what reaches the
// document, which library errors are reported, which call comes next, and
// what each step returns.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "output/builder_steps.h"
#include "tests/support/recording_host.h"

namespace {

using Texts = std::vector<std::string>;

// Operations in the companion's call log, error queries left out.
Texts LoggedOps() {
  Texts ops = testhost::LoggedOperations();
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
    StandInForgetPictures();
    host.Attach(job.context());
    job->progressSpan = 100;
    Begin();
  }
  void TearDown() override {
    End();
    StandInResetFaults();
    EXPECT_EQ(testhost::DescribeLive(), "");
  }
  // A fresh document, host record and log.
  void Begin(Pending pending = {}) {
    End();
    StandInResetFaults();
    job->picture = QvDocCreate(0);
    ASSERT_NE(job->picture, nullptr);
    if (pending.after)
      StandInSetPendingErrorAfter(pending.after, 1, pending.code, pending.operation);
    host.Clear();
    StandInClearLog();
  }
  // Destroys the document; what it got is then StandInLastPicture().
  const standin::Picture& End() {
    if (job->picture != nullptr) QvDocDestroy(job->picture);
    job->picture = nullptr;
    static const standin::Picture none;
    return StandInLastPicture() ? *StandInLastPicture() : none;
  }
  testhost::RecordingHost host;
  testhost::ScopedJob job;
};

// The range announcement comes first whatever follows; its answer is
// ignored and brings no follow-up.
TEST_F(BuilderTest, BeginDocumentAgainstLibraryErrors) {
  const std::string range = "0/-1 0,100 s0";
  const Texts opened = {"QvDocOpen"}, started = {"QvDocOpen", "QvDocStart"};
  const struct {
    int16_t openResult;
    Pending pending;
    FilterError result;
    Texts calls, ops;
  } table[] = {
      {0, {}, 0, {range}, started},
      {76, {}, 0, {range}, opened},  // nothing to do, not started
      {302, {}, 14, {range, "3/14 0,0 s0 extra[]"}, opened},
      {0, {"QvDocOpen", 303, 0}, 15, {range, "3/15 0,0 s0 extra[]"}, opened},
      // A start that leaves 300 closes the document again.
      {0,
       {"QvDocStart", 300, 0},
       27,
       {range, "3/27 0,0 s0 extra[]"},
       {"QvDocOpen", "QvDocStart", "QvDocClose"}},
      {0, {"QvDocStart", 76, 0}, 0, {range}, started},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(&row - table);
    Begin(row.pending);
    StandInSetDocOpenResult(row.openResult);
    host.AnswerOthers(1);
    EXPECT_EQ(BeginDocument(job.job()), row.result);
    EXPECT_EQ(LoggedOps(), row.ops);
    EXPECT_EQ(host.Texts(), row.calls);
    EXPECT_EQ(End().openReserved, 0);
  }
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
      {"close returns 302", {}, 302, 14, {14}},
      {"close replaces the finish error", {"QvDocFinish", 300, 0}, 303, 15, {27, 15}},
      {"close replaces a stop", {"QvDocFinish", 901, 0}, 20, 65, {65}},
      {"close with nothing to do keeps the finish error", {"QvDocFinish", 300, 0}, 76, 27, {27}},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.what);
    Begin(row.pending);
    StandInSetDocCloseResult(row.closeResult);
    EXPECT_EQ(FinishDocument(job.job()), row.result);
    EXPECT_EQ(LoggedOps(), (Texts{"QvDocFinish", "QvDocClose"}));
    EXPECT_EQ(host.Codes(3), row.reports);
  }
}

// Requested names are looked up by name or face, in any case; without a
// request the table is the profile's faces. 32 entries at most, whether
// requested or from a setup whose count says more than it holds.
TEST_F(BuilderTest, FontTables) {
  const char* mapped[][2] = {{"Roman", "Times"},
                             {"Sans", "Helvetica"},
                             {"Mono", "Courier"},
                             {"Courier", "Elite"},
                             {"SANS", "Arial"}};
  Texts faces, names;
  std::vector<const char*> requested;
  for (int k = 0; k < kMaxProfileFonts; ++k) {
    faces.push_back(k < 5 ? mapped[k][1] : "face " + std::to_string(k));
    std::snprintf(job->fontNames[k], kFontNameBytes, "%s", k < 5 ? mapped[k][0] : "unused");
    std::snprintf(job->fontFaces[k], kFontNameBytes, "%s", faces.back().c_str());
  }
  for (int i = 0; i < 40; ++i) names.push_back("font " + std::to_string(i));
  for (const std::string& n : names) requested.push_back(n.c_str());
  const struct {
    const char* what;
    int32_t fontCount;
    std::vector<const char*> requested;
    Texts table;
  } rows[] = {
      {"by name, any case", 5, {"sAnS"}, {"Helvetica"}},
      {"by face only", 5, {"HELVETICA"}, {"Helvetica"}},
      {"face of an earlier entry before the name of a later", 5, {"courier"}, {"Courier"}},
      {"first of two names wins", 5, {"sans"}, {"Helvetica"}},
      {"a prefix is no match: the name itself", 5, {"Helv"}, {"Helv"}},
      {"in request order", 5, {"Times", "x", "Mono"}, {"Times", "x", "Courier"}},
      {"none: the profile's faces", 5, {}, Texts(faces.begin(), faces.begin() + 5)},
      {"none, the setup's count beyond 32", 1000, {}, faces},
      {"40 requested", 5, requested, Texts(names.begin(), names.begin() + 32)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Begin();
    job->fontCount = row.fontCount;
    const auto count = static_cast<int32_t>(row.requested.size());
    EXPECT_EQ(SetFontTable(job.job(), count, count ? row.requested.data() : nullptr), 0);
    EXPECT_EQ(End().fontTable, row.table);
  }
}

// An error left by earlier calls is found here even when no table is sent.
TEST_F(BuilderTest, FontTableErrorsAreCheckedEvenWithoutATable) {
  const char* swiss = "SWISS:HELVETICA";
  const struct {
    const char* what;
    int32_t count;
    Pending pending;
    FilterError result;
    Texts ops;
  } rows[] = {
      {"302 at the font table", 1, {"QvSetFontTable", 302, 269}, 9, {"QvSetFontTable"}},
      {"negative count", -1, {"QvSetBackMode", 301, 0}, 23, {"QvSetBackMode"}},
      {"empty profile, count 0", 0, {"QvSetBackMode", 168, 0}, 25, {"QvSetBackMode"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    job->fontCount = 0;
    Begin(row.pending);
    if (row.count <= 0) QvSetBackMode(job->picture, 1);
    EXPECT_EQ(SetFontTable(job.job(), row.count, &swiss), row.result);
    EXPECT_EQ(host.Codes(3), std::vector<int32_t>{row.result});
    EXPECT_EQ(LoggedOps(), row.ops);
  }
}

// Every corner reaches the document, with flag 0 only its 16-bit value.
TEST_F(BuilderTest, PictureWindowCarriesEachCorner) {
  PictureRect rect;
  std::memset(&rect, 0x7F, sizeof rect);
  rect.x1.value = 1, rect.y1.value = 2, rect.x2.value = 300, rect.y2.value = 400;
  for (int32_t flag : {0, 1}) {
    Begin();
    SetPictureWindow(job.job(), flag, &rect, 1);
    const standin::Picture& picture = End();
    EXPECT_EQ(std::vector<int16_t>(picture.window, picture.window + 4),
              (std::vector<int16_t>{1, 2, 300, 400}))
        << "flag " << flag;
  }
}

// A palette holds 0 to 256 colours; any other count is 27 and sends nothing.
TEST_F(BuilderTest, ColorTables) {
  std::vector<uint8_t> rgb(300 * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 7 + 1);
  const struct {
    int32_t count;
    FilterError result;
  } rows[] = {{256, 0}, {0, 0}, {257, 27}, {-1, 27}, {INT32_MIN, 27}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.count);
    Begin();
    EXPECT_EQ(SetColorTable(job.job(), 0, row.count, rgb.data()), row.result);
    EXPECT_EQ(host.Codes(3),
              row.result ? std::vector<int32_t>{row.result} : std::vector<int32_t>{});
    EXPECT_EQ(LoggedOps().empty(), row.result != 0);
    std::vector<standin::Rgb> expected;
    for (int32_t i = 0; row.result == 0 && i < row.count; ++i)
      expected.push_back({rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]});
    EXPECT_EQ(End().palette, expected);
  }
}

}  // namespace
