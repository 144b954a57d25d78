// The picture builder's steps against the companion stand-in, from the table
// in builder_steps.txt: what each step returns, reports, calls and leaves in
// the document.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "output/builder_steps.h"
#include "tests/support/recording_host.h"
#include "tests/support/row_tests.h"

using namespace gifin;

namespace {

using Texts = std::vector<std::string>;

std::string Joined(const Texts& texts, const char* between = " ") {
  std::string out;
  for (const std::string& text : texts) out += (out.empty() ? "" : between) + text;
  return out;
}

class BuilderStep : public testtable::RowTest<> {};

TEST_P(BuilderStep, AsTheRowSays) {
  const char* kNames[] = {"Roman", "Sans", "Mono", "Courier", "SANS"};
  const char* kFaces[] = {"Times", "Helvetica", "Courier", "Elite", "Arial"};
  std::vector<uint8_t> rgb(300 * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 7 + 1);
  testhost::RecordingHost host;
  testhost::ScopedJob job;
  host.Attach(job.context());
  job->progressSpan = 100;
  for (int k = 0; k < kMaxProfileFonts; ++k) {
    std::snprintf(job->fontNames[k], kFontNameBytes, "%s", k < 5 ? kNames[k] : "unused");
    std::snprintf(job->fontFaces[k], kFontNameBytes, "%s", k < 5 ? kFaces[k] : "face");
  }
  StandInResetFaults();
  StandInForgetPictures();
  job->picture = QvDocCreate(0);
  for (const std::string& word : testtable::Words(row[1])) {
    const size_t colon = word.find(':'), eq = word.find('=');
    if (colon != std::string::npos)
      StandInSetPendingErrorAfter(word.substr(0, colon).c_str(), 1,
                                  int16_t(std::stoi(word.substr(colon + 1))),
                                  int16_t(std::stoi(word.substr(word.rfind(':') + 1))));
    if (word.rfind("open=", 0) == 0) StandInSetDocOpenResult(int16_t(std::stoi(&word[eq + 1])));
    if (word.rfind("close=", 0) == 0) StandInSetDocCloseResult(int16_t(std::stoi(&word[eq + 1])));
    if (word == "answer") host.AnswerOthers(1);
    if (word == "backmode") QvSetBackMode(job->picture, 1);
  }
  StandInClearLog();
  const Texts step = testtable::Words(row[0]);
  const auto arg = [&step](size_t i) { return std::stoi(step.at(i)); };
  FilterError result = -1;
  std::string got;
  if (step[0] == "begin") result = BeginDocument(job.job());
  if (step[0] == "finish") result = FinishDocument(job.job());
  if (step[0] == "fonts") {
    job->fontCount = arg(1);
    std::vector<const char*> names;
    for (size_t i = 3; i < step.size(); ++i) names.push_back(step[i].c_str());
    result = SetFontTable(job.job(), arg(2),
                          step.size() > 3 && step[3] != "null" ? names.data() : nullptr);
  }
  if (step[0] == "window") {
    PictureRect rect;
    std::memset(&rect, 0x7F, sizeof rect);
    rect.x1.value = 1, rect.y1.value = 2, rect.x2.value = 300, rect.y2.value = 400;
    SetPictureWindow(job.job(), arg(1), &rect, int16_t(arg(2)));
    result = 0;
    const std::string entry = StandInLogEntry(StandInLogSize() - 1);
    got = entry.substr(entry.find("\"rect\""));
  }
  if (step[0] == "colors") result = SetColorTable(job.job(), 0, arg(1), rgb.data());
  Texts ops = testhost::LoggedOperations();
  ops.erase(std::remove(ops.begin(), ops.end(), "QvGetError"), ops.end());
  if (job->picture) QvDocDestroy(job->picture);
  const standin::Picture& picture = *StandInLastPicture();
  if (step[0] == "fonts") got = Joined(picture.fontTable);
  if (step[0] == "colors") {
    got = std::to_string(picture.palette.size());
    static_assert(sizeof(standin::Rgb) == 3, "palette entries are RGB triples");
    EXPECT_TRUE(picture.palette.empty() ||
                !std::memcmp(picture.palette.data(), rgb.data(), 3 * picture.palette.size()));
  }
  EXPECT_EQ(std::to_string(result), row[2]);
  EXPECT_EQ(Joined(host.Texts(), " ; "), row[3]);
  EXPECT_EQ(Joined(ops), row[4]);
  EXPECT_EQ(got, Joined(testtable::Words(row.size() > 5 ? row[5] : "")));
  StandInResetFaults();
  EXPECT_EQ(testhost::DescribeLive(), "");
}
TESTTABLE_ROWS(BuilderStep, BUILDER_STEPS_FILE, "", 35, -1);

}  // namespace
