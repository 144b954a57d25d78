// The host status protocol as a host sees it (calls, answers, error numbers,
// severities, progress percentages) for the rows of status.txt.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "companion/standin.h"
#include "core/status.h"
#include "tests/support/recording_host.h"
#include "tests/support/row_tests.h"

using namespace gifin;

namespace {

using testtable::Row;
using Texts = std::vector<std::string>;

int32_t Number(const std::string& field) { return static_cast<int32_t>(std::stoll(field, 0, 0)); }

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
  const int64_t base = origin == 0 ? 0 : origin == 1 ? fake.position : fake.length;
  const int64_t target = base + value;
  if (target < 0 || target > INT32_MAX) return -1;
  return fake.position = static_cast<int32_t>(target);
}

// A job in a global block with a picture, and a recording host; the rows of
// each kind.
struct Status {
  Status() {
    StandInResetFaults();
    host.Attach(job.context());
    job->picture = QvDocCreate(0);
  }
  ~Status() {
    QvDocDestroy(job->picture);
    StandInResetFaults();
    EXPECT_EQ(testhost::DescribeLive(), "");
  }
  // `code` (at `operation`) pending, as a failed library call leaves it.
  void LeavePendingError(int16_t code, int16_t operation) {
    StandInSetPendingErrorAfter("QvPictureEnd", 1, code, operation);
    QvPictureEnd(job->picture);
  }
  void Stop(const Row& r) {
    host.AnswerProgress(0, Number(r[1]));
    host.AnswerFollowUp(Number(r[2]));
    job->percentDone = 37;
    EXPECT_EQ(ReportProgress(job.job()), Number(r[3]));
    EXPECT_EQ(CheckImportStatus(job.job()), Number(r[3]));
    Texts once = {"0/0 37,0 s0"}, twice;
    if (r[4] != "progress") once.push_back("2/61 0,0 s0 extra[]");
    for (int i = 0; i < 2; ++i) twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(host.Texts(), twice);
  }
  void Report(const Row& r) {
    const int32_t given[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    host.AnswerOthers(1);  // brings no follow-up
    ReportFilterError(job.job(), Number(r[1]), r[2] == "none" ? nullptr : given,
                      r[2] == "none" ? 0 : Number(r[2]));
    EXPECT_EQ(host.Texts(), Texts{r[3]});
  }
  void Library(const Row& r) {
    const auto code = static_cast<int16_t>(Number(r[1]));
    const auto operation = static_cast<int16_t>(Number(r[2]));
    LeavePendingError(code, operation);
    LibraryErrorPair pair{};
    EXPECT_EQ(FetchLibraryError(job.job(), &pair), Number(r[3]));
    EXPECT_EQ(std::make_pair(pair.code, pair.operation), std::make_pair(code, operation));
    EXPECT_EQ(FetchLibraryError(job.job(), nullptr), 0) << "the fetch clears the error";
  }
  void Pending(const Row& r) {
    LeavePendingError(static_cast<int16_t>(Number(r[1])), 7);
    host.AnswerProgress(0, Number(r[2]));
    host.AnswerFollowUp(1);
    StandInClearLog();
    EXPECT_EQ(CheckImportStatus(job.job()), Number(r[3]));
    EXPECT_EQ(testhost::LoggedOperations(), r[4] == "-" ? Texts{} : testtable::Words(r[4]));
    host.AnswerProgress(0, 0);
    EXPECT_EQ(CheckImportStatus(job.job()), Number(r[5]));
    EXPECT_EQ(host.Codes(3), std::vector<int32_t>{Number(r[6])});
  }
  void Percent(const Row& r) {
    fake = FakeStream{Number(r[1])};
    StreamOpenDescriptor descriptor = {1, 0, 0, 0, &FakeStreamProc, 0};
    QvStream stream = QvStreamOpen("", &descriptor, 0);
    ASSERT_EQ(QvStreamSeek(stream, 6, 0), 6);
    fake.cannotTell = r[3] == "no";
    StandInClearLog();
    RecordInputSize(stream, job.job());
    EXPECT_EQ(job->inputSize, Number(r[4]));
    if (fake.cannotTell) {
      EXPECT_EQ(testhost::LoggedOperations(), Texts{"QvStreamSeek"}) << "asked once";
    } else {
      EXPECT_EQ(QvStreamSeek(stream, 0, 1), 6) << "position restored";
      EXPECT_EQ(QvStreamSeek(stream, Number(r[2]), 0), Number(r[2]));
    }
    job->percentDone = 7;
    UpdatePercentDone(stream, job.job());
    EXPECT_EQ(job->percentDone, Number(r[5]));
    QvStreamClose(stream);
  }

  testhost::RecordingHost host;
  testhost::ScopedJob job;
};

// Each kind of row through its check, on a fresh job and host.
struct StatusRow : testtable::RowTest<> {
  Status t;
};
#define STATUS_ROWS(Kind, kind, count)                       \
  using Status##Kind = StatusRow;                            \
  TEST_P(Status##Kind, AsTheRowSays) { t.Kind(row.fields); } \
  TESTTABLE_ROWS(Status##Kind, GIFIMPORT_STATUS_TABLE, kind, count, -1, true)
STATUS_ROWS(Stop, "stop", 4);
STATUS_ROWS(Report, "report", 27);
STATUS_ROWS(Library, "library", 29);
STATUS_ROWS(Percent, "percent", 7);
STATUS_ROWS(Pending, "pending", 2);

// Full 32-bit codes beyond the pair's range are not folded into it.
TEST(StatusTest, LibraryCodesPastSixteenBitsAreUnknown) {
  EXPECT_EQ(TranslateLibraryError(65536 + kQvErr302, kQvOpSetFontTable), kErrLibUnknown);
  EXPECT_EQ(TranslateLibraryError(kQvErr302, 65536 + kQvOpSetFontTable), kErrLib302);
}

}  // namespace
