// The host status protocol as a host sees it: which calls arrive with which
// arguments, what the answers do, the error numbers and their severities,
// and progress percentages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "companion/standin.h"
#include "core/status.h"
#include "tests/support/recording_host.h"

namespace {

using Texts = std::vector<std::string>;

class StatusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StandInResetFaults();
    host.Attach(job.context());
    job->picture = QvDocCreate(0);
    ASSERT_NE(job->picture, nullptr);
  }
  void TearDown() override {
    QvDocDestroy(job->picture);
    StandInResetFaults();
    EXPECT_EQ(testhost::DescribeLive(), "");
  }
  // `code` (at `operation`) pending, as a failed library call leaves it.
  void LeavePendingError(int16_t code, int16_t operation) {
    StandInSetPendingErrorAfter("QvPictureEnd", 1, code, operation);
    QvPictureEnd(job->picture);
  }

  testhost::RecordingHost host;
  testhost::ScopedJob job;
};

// Any non-zero answer to a progress call only asks to stop: the follow-up
// confirms or withdraws it. A stop is no error report.
TEST_F(StatusTest, AStopRequestIsDecidedByTheFollowUp) {
  const std::string progress = "0/0 37,0 s0", followUp = "2/61 0,0 s0 extra[]";
  const struct {
    int32_t answer, followUpAnswer;
    FilterError result;
    Texts calls;  // of one ReportProgress
  } cases[] = {
      {0, 1, 0, {progress}},
      {1, 1, kErrCancelled, {progress, followUp}},
      {5, -1, kErrCancelled, {progress, followUp}},
      {1, 0, 0, {progress, followUp}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "answer " << c.answer << ", follow-up " << c.followUpAnswer);
    host.Clear();
    host.AnswerProgress(0, c.answer);
    host.AnswerFollowUp(c.followUpAnswer);
    job->percentDone = 37;
    EXPECT_EQ(ReportProgress(job.job()), c.result);
    EXPECT_EQ(CheckImportStatus(job.job()), c.result);
    Texts twice = c.calls;
    twice.insert(twice.end(), c.calls.begin(), c.calls.end());
    EXPECT_EQ(host.Texts(), twice);
  }
}

// A pending library error gives the picture up and is reported once; a stop
// wins before the library is asked, and the error then stays pending.
TEST_F(StatusTest, CheckImportStatusAbortsOnAPendingLibraryError) {
  LeavePendingError(300, 7);
  StandInClearLog();
  EXPECT_EQ(CheckImportStatus(job.job()), kErrMemory);
  EXPECT_EQ(testhost::LoggedOperations(), (Texts{"QvGetError", "QvAbort"}));
  EXPECT_EQ(CheckImportStatus(job.job()), 0) << "the fetch cleared the error";

  LeavePendingError(301, 7);
  host.AnswerProgress(0, 1);
  StandInClearLog();
  EXPECT_EQ(CheckImportStatus(job.job()), kErrCancelled);
  EXPECT_EQ(testhost::LoggedOperations(), Texts{});
  host.AnswerProgress(0, 0);
  EXPECT_EQ(CheckImportStatus(job.job()), kErrLib301);
  EXPECT_EQ(host.Codes(3), (std::vector<int32_t>{kErrMemory, kErrLib301}));
}

// Ten extra values, the given ones first; the answer brings no follow-up.
// Severity 1 or 2 for a few numbers, 0 for every other.
TEST_F(StatusTest, ErrorReportsCarryTenExtraValuesAndTheirSeverity) {
  host.AnswerOthers(1);
  const int32_t given[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  ReportFilterError(job.job(), kErrRead);
  ReportFilterError(job.job(), kErrRead, given, 3);
  ReportFilterError(job.job(), kErrRead, given, 12);
  ReportFilterError(job.job(), kErrRead, given, -4);
  EXPECT_EQ(Fail(job.job(), kErrMemory), kErrMemory);
  EXPECT_EQ(host.Texts(), (Texts{"3/21 0,0 s0 extra[]", "3/21 0,0 s0 extra[1,2,3]",
                                 "3/21 0,0 s0 extra[1,2,3,4,5,6,7,8,9,10]", "3/21 0,0 s0 extra[]",
                                 "3/27 0,0 s0 extra[]"}));

  const std::vector<FilterError> bySeverity[3] = {
      {0, 8, 10, 21, 27, 58, 61, -23, -24, 4866, 526, 785, 14, -9, 0x10009},
      {9, 56, 60, 4867},
      {57, 59, 527, 775, 784}};
  for (int32_t severity = 0; severity < 3; ++severity) {
    for (FilterError code : bySeverity[severity]) {
      host.Clear();
      ReportFilterError(job.job(), code);
      EXPECT_EQ(host.Texts(), Texts{"3/" + std::to_string(code) + " 0,0 s" +
                                    std::to_string(severity) + " extra[]"});
    }
  }
}

// Through a pending library error, so the 16-bit pair is widened with sign.
TEST_F(StatusTest, LibraryErrorTranslation) {
  const struct {
    int16_t code, operation;
    FilterError expected;
  } table[] = {
      {0, 0, 0},     {76, 0, 0},     {76, 269, 0}, {20, 0, 65},     {19, 0, 26},    {21, 0, 12},
      {26, 0, 12},   {27, 0, 26},    {160, 0, 26}, {161, 0, 13},    {166, 0, 13},   {167, 0, 26},
      {168, 0, 25},  {169, 0, 26},   {300, 0, 27}, {301, 0, 23},    {302, 269, 9},  {302, 0, 14},
      {302, -1, 14}, {303, 269, 15}, {304, 0, 19}, {305, 0, 19},    {306, 0, 26},   {901, 0, 61},
      {900, 0, 26},  {902, 0, 26},   {-1, 0, 26},  {-32768, 0, 26}, {32767, 0, 26},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(testing::Message() << "library code " << row.code << " at " << row.operation);
    LeavePendingError(row.code, row.operation);
    LibraryErrorPair pair{};
    EXPECT_EQ(FetchLibraryError(job.job(), &pair), row.expected);
    EXPECT_EQ(std::make_pair(pair.code, pair.operation), std::make_pair(row.code, row.operation));
    EXPECT_EQ(FetchLibraryError(job.job(), nullptr), 0) << "the fetch clears the error";
  }
  // Full 32-bit codes beyond the pair's range are not folded into it.
  EXPECT_EQ(TranslateLibraryError(65536 + 302, 269), kErrLibUnknown);
  EXPECT_EQ(TranslateLibraryError(302, 65536 + 269), kErrLib302);
}

// A host stream of any stated length that holds no data: only positions
// matter here. One that cannot tell fails every seek and tell.
struct FakeStream {
  int32_t length = 0, position = 0;
  bool cannotTell = false;
} fake;

int32_t WINAPI FakeStreamProc(uint32_t, int32_t operation, void*, int32_t value, int32_t origin) {
  if (operation == kHostStreamRead) return 0;
  if (fake.cannotTell) return -1;
  if (operation == kHostStreamTell) return fake.position;
  const int64_t target = (origin == 0   ? 0
                          : origin == 1 ? fake.position
                                        : fake.length) +
                         int64_t{value};
  if (target < 0 || target > INT32_MAX) return -1;
  return fake.position = static_cast<int32_t>(target);
}

TEST_F(StatusTest, ProgressPercentAtTheEdges) {
  const struct {
    const char* what;
    int32_t length, position;
    bool cannotTell;
    int32_t inputSize, percent;
  } table[] = {
      {"truncated, not rounded", 1000, 999, false, 1000, 99},
      {"at the end", 1000, 1000, false, 1000, 100},
      {"past the stated length", 1000, 4000, false, 1000, 100},
      {"first size whose product overflows 32 bits", 21474837, 21474837, false, 21474837, 100},
      {"largest, one short of the end", INT32_MAX, INT32_MAX - 1, false, INT32_MAX, 99},
      {"empty stream: kept", 0, 0, false, 0, 7},
      {"size unknown: kept", 1000, 500, true, -1, 7},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.what);
    fake = FakeStream{row.length};
    StreamOpenDescriptor descriptor = {};
    descriptor.source = 1;
    descriptor.streamFunction = &FakeStreamProc;
    QvStream stream = QvStreamOpen("", &descriptor, 0);
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(QvStreamSeek(stream, 6, 0), 6);
    fake.cannotTell = row.cannotTell;
    StandInClearLog();
    RecordInputSize(stream, job.job());
    EXPECT_EQ(job->inputSize, row.inputSize);
    if (row.cannotTell) {
      EXPECT_EQ(testhost::LoggedOperations(), Texts{"QvStreamSeek"}) << "asked once";
    } else {
      EXPECT_EQ(QvStreamSeek(stream, 0, 1), 6) << "position restored";
      ASSERT_EQ(QvStreamSeek(stream, row.position, 0), row.position);
    }
    job->percentDone = 7;
    UpdatePercentDone(stream, job.job());
    EXPECT_EQ(job->percentDone, row.percent);
    QvStreamClose(stream);
  }
}

}  // namespace
