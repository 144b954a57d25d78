// The host status protocol as a host sees it: which calls arrive with which
// arguments, what the answers do, the error numbers and their severities,
// progress percentages, and the job record filled from a host request.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "filter/filter_api.h"
#include "filter/filter_setup.h"
#include "filter/status.h"
#include "tests/support/recording_host.h"

namespace {

using testhost::RecordingHost;
using testhost::ScopedJob;
using testhost::StatusCall;

const std::array<int32_t, 10> kZeroExtra = {};

bool Logged(const std::string& op) {
  const std::vector<std::string> ops = testhost::LoggedOperations();
  return std::find(ops.begin(), ops.end(), op) != ops.end();
}

class StatusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StandInResetFaults();
    StandInClearLog();
    host.Attach(job.context());
    FreshDocument();
  }
  void TearDown() override {
    QvDocDestroy(job->picture);
    job->picture = nullptr;
    StandInResetFaults();
    EXPECT_EQ(testhost::DescribeLive(), "");
  }
  void FreshDocument() {
    if (job->picture != nullptr) QvDocDestroy(job->picture);
    job->picture = QvDocCreate(0);
    ASSERT_NE(job->picture, nullptr);
  }
  // `code` (at `operation`) pending, as a failed library call leaves it.
  void LeavePendingError(int16_t code, int16_t operation) {
    StandInSetPendingErrorAfter("QvPictureEnd", 1, code, operation);
    QvPictureEnd(job->picture);
  }

  RecordingHost host;
  ScopedJob job;
};

// ---- The callback protocol ---------------------------------------------------

TEST_F(StatusTest, FollowUpOnlyAfterAStopRequestDuringProgress) {
  struct Case {
    const char* what;
    int32_t kind, code;
    int32_t answer, followUpAnswer;
    int32_t result;
    bool followUp;
  } cases[] = {
      {"progress, go on", 0, 0, 0, 1, 0, false},
      {"progress, stop confirmed", 0, 0, 1, 1, 1, true},
      {"progress, stop confirmed with another value", 0, 0, 5, -1, -1, true},
      {"progress, stop withdrawn", 0, 0, 1, 0, 0, true},
      {"range announcement", 0, -1, 1, 1, 1, false},
      {"error report", 3, 27, 1, 1, 1, false},
      {"kind 2 itself", 2, 61, 1, 1, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingHost h;
    h.AnswerProgress(0, c.answer);
    h.AnswerOthers(c.answer);
    h.AnswerFollowUp(c.followUpAnswer);
    int32_t extra[10] = {};
    const int32_t result =
        CallHostStatus(h.callback(), h.userValue(), c.kind, c.code, 42, 43, 2,
                       c.kind == 0 ? nullptr : extra);
    EXPECT_EQ(result, c.result);
    ASSERT_EQ(h.calls().size(), c.followUp ? 2u : 1u);
    const StatusCall& first = h.calls()[0];
    EXPECT_EQ(first.userValue, h.userValue());
    EXPECT_EQ(first.kind, c.kind);
    EXPECT_EQ(first.code, c.code);
    EXPECT_EQ(first.value1, 42);
    EXPECT_EQ(first.value2, 43);
    EXPECT_EQ(first.severity, 2);
    if (c.followUp) {
      const StatusCall& next = h.calls()[1];
      EXPECT_EQ(next.userValue, h.userValue());
      EXPECT_EQ(next.kind, 2);
      EXPECT_EQ(next.code, 61);
      EXPECT_EQ(next.value1, 0);
      EXPECT_EQ(next.value2, 0);
      EXPECT_EQ(next.severity, 0);
      EXPECT_TRUE(next.hasExtra);
      EXPECT_EQ(next.extra, kZeroExtra);
    }
  }
  EXPECT_EQ(RecordingHost::strayCalls(), 0);
}

TEST_F(StatusTest, ProgressSendsPercentAndTurnsAConfirmedStopInto61) {
  struct Case {
    int32_t answer, followUpAnswer;
    FilterError progress, check;
  } cases[] = {
      {0, 1, 0, 0},
      {1, 1, kErrCancelled, kErrCancelled},
      {1, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "answer " << c.answer << ", follow-up " << c.followUpAnswer);
    host.Clear();
    host.AnswerProgress(0, c.answer);
    host.AnswerFollowUp(c.followUpAnswer);
    job->percentDone = 37;
    EXPECT_EQ(ReportProgress(job.job()), c.progress);
    EXPECT_EQ(CheckImportStatus(job.job()), c.check);
    EXPECT_EQ(host.ProgressValues(), (std::vector<int32_t>{37, 37}));
    for (const StatusCall& call : host.CallsOfKind(0)) EXPECT_FALSE(call.hasExtra);
    EXPECT_TRUE(host.Codes(3).empty()) << "a stop is not reported as an error";
  }
}

TEST_F(StatusTest, CheckImportStatusAbortsOnAPendingLibraryErrorWithoutReporting) {
  LeavePendingError(300, 7);
  StandInClearLog();
  EXPECT_EQ(CheckImportStatus(job.job()), kErrMemory);
  EXPECT_TRUE(Logged("QvAbort"));
  EXPECT_TRUE(host.Codes(3).empty());
  // The fetch cleared the error: the next check finds nothing.
  EXPECT_EQ(CheckImportStatus(job.job()), 0);

  // A stop wins before the library is asked; the error stays pending.
  LeavePendingError(301, 7);
  host.AnswerProgress(0, 1);
  StandInClearLog();
  EXPECT_EQ(CheckImportStatus(job.job()), kErrCancelled);
  EXPECT_FALSE(Logged("QvAbort"));
  host.AnswerProgress(0, 0);
  EXPECT_EQ(CheckImportStatus(job.job()), kErrLib301);
}

TEST_F(StatusTest, ErrorReportsCarryTenExtraValuesAndIgnoreTheAnswer) {
  host.AnswerOthers(1);
  const int32_t given[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  ReportFilterError(job.job(), kErrRead);
  ReportFilterError(job.job(), kErrRead, given, 3);
  ReportFilterError(job.job(), kErrRead, given, 12);
  ReportFilterError(job.job(), kErrRead, given, -4);
  EXPECT_EQ(Fail(job.job(), kErrMemory), kErrMemory);

  const std::vector<StatusCall> reports = host.CallsOfKind(3);
  ASSERT_EQ(host.calls().size(), 5u) << "no follow-up after an error report";
  const std::array<int32_t, 10> three = {1, 2, 3, 0, 0, 0, 0, 0, 0, 0};
  const std::array<int32_t, 10> ten = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_EQ(reports[0].extra, kZeroExtra);
  EXPECT_EQ(reports[1].extra, three);
  EXPECT_EQ(reports[2].extra, ten);
  EXPECT_EQ(reports[3].extra, kZeroExtra);
  EXPECT_EQ(reports[4].extra, kZeroExtra);
  for (const StatusCall& r : reports) {
    EXPECT_TRUE(r.hasExtra);
    EXPECT_EQ(r.value1, 0);
    EXPECT_EQ(r.value2, 0);
  }
  EXPECT_EQ(host.Codes(3), (std::vector<int32_t>{21, 21, 21, 21, 27}));
}

TEST_F(StatusTest, NullCallbackMeansNoCallsAndTheSameResults) {
  EXPECT_EQ(CallHostStatus(nullptr, 1, 0, 0, 50, 0, 0, nullptr), 0);

  HostContext silent = {};
  silent.userValue = host.userValue();
  for (HostContext* context : {&silent, static_cast<HostContext*>(nullptr)}) {
    SCOPED_TRACE(context ? "null callback" : "no context");
    job->hostContext = context;
    job->percentDone = 50;
    EXPECT_EQ(ReportProgress(job.job()), 0);
    ReportFilterError(job.job(), kErrRead);
    EXPECT_EQ(Fail(job.job(), kErrNotGif), kErrNotGif);
    LeavePendingError(302, 269);
    EXPECT_EQ(CheckImportStatus(job.job()), kErrLibFontTable) << "errors are still returned";
    FreshDocument();
  }
  EXPECT_TRUE(host.calls().empty());
  EXPECT_EQ(RecordingHost::strayCalls(), 0);
}

// ---- Numbers hosts rely on ---------------------------------------------------

TEST_F(StatusTest, SeverityTableReachesTheHost) {
  const struct {
    FilterError code;
    int32_t severity;
  } table[] = {
      {9, 1},    {56, 1},   {60, 1},    {4867, 1},  {57, 2},  {59, 2},  {527, 2},  {775, 2},
      {784, 2},  {0, 0},    {8, 0},     {10, 0},    {21, 0},  {27, 0},  {58, 0},   {61, 0},
      {-23, 0},  {-24, 0},  {4866, 0},  {526, 0},   {785, 0}, {14, 0},  {-9, 0},   {0x10009, 0},
  };
  for (const auto& row : table) {
    host.Clear();
    ReportFilterError(job.job(), row.code);
    ASSERT_EQ(host.calls().size(), 1u);
    EXPECT_EQ(host.calls()[0].code, row.code);
    EXPECT_EQ(host.calls()[0].severity, row.severity) << "code " << row.code;
  }
}

// Through a pending library error, so the 16-bit pair is widened with sign.
TEST_F(StatusTest, LibraryErrorTranslation) {
  const struct {
    int16_t code, operation;
    FilterError expected;
  } table[] = {
      {0, 0, 0},        {76, 0, 0},       {76, 269, 0},     {20, 0, 65},     {19, 0, 26},
      {21, 0, 12},      {24, 0, 12},      {26, 0, 12},      {27, 0, 26},     {160, 0, 26},
      {161, 0, 13},     {166, 0, 13},     {167, 0, 26},     {168, 0, 25},    {169, 0, 26},
      {299, 0, 26},     {300, 0, 27},     {301, 0, 23},     {302, 269, 9},   {302, 0, 14},
      {302, 2, 14},     {302, -1, 14},    {303, 269, 15},   {304, 0, 19},    {305, 0, 19},
      {306, 0, 26},     {901, 0, 61},     {900, 0, 26},     {-1, 0, 26},     {-32768, 0, 26},
      {32767, 0, 26},   {1, 0, 26},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(testing::Message() << "library code " << row.code << " at " << row.operation);
    EXPECT_EQ(TranslateLibraryError(row.code, row.operation), row.expected);
    LeavePendingError(row.code, row.operation);
    LibraryErrorPair pair{};
    EXPECT_EQ(FetchLibraryError(job.job(), &pair), row.expected);
    EXPECT_EQ(pair.code, row.code);
    EXPECT_EQ(pair.operation, row.operation);
    EXPECT_EQ(FetchLibraryError(job.job(), nullptr), 0) << "the fetch clears the error";
  }
  // Full 32-bit codes beyond the pair's range are not folded into it.
  EXPECT_EQ(TranslateLibraryError(65536 + 302, 269), kErrLibUnknown);
  EXPECT_EQ(TranslateLibraryError(302, 65536 + 269), kErrLib302);
}

// ---- Progress measurement ----------------------------------------------------

// A host stream of any stated length that holds no data: only positions
// matter here.
struct FakeStream {
  int32_t length = 0;
  int32_t position = 0;
  bool cannotTell = false;  // neither position nor length can be had
};
FakeStream fake;

int32_t WINAPI FakeStreamProc(uint32_t, int32_t operation, void*, int32_t value, int32_t origin) {
  if (operation == kHostStreamRead) return 0;
  if (operation == kHostStreamTell) return fake.cannotTell ? -1 : fake.position;
  if (operation != kHostStreamSeek || fake.cannotTell) return -1;
  int64_t base = origin == 0 ? 0 : origin == 1 ? fake.position : fake.length;
  int64_t target = base + value;
  if (target < 0 || target > INT32_MAX) return -1;
  fake.position = static_cast<int32_t>(target);
  return fake.position;
}

QvStream OpenFakeStream() {
  StreamOpenDescriptor descriptor = {};
  descriptor.source = 1;
  descriptor.streamFunction = &FakeStreamProc;
  return QvStreamOpen("", &descriptor, 0);
}

TEST_F(StatusTest, ProgressPercentAtTheEdges) {
  const struct {
    const char* what;
    int32_t length, position;
    bool cannotTell;
    int32_t inputSize, percent;
  } table[] = {
      {"start", 1000, 0, false, 1000, 0},
      {"truncated, not rounded", 1000, 999, false, 1000, 99},
      {"at the end", 1000, 1000, false, 1000, 100},
      {"past the stated length", 1000, 4000, false, 1000, 100},
      {"first size whose product overflows 32 bits", 21474837, 21474837, false, 21474837, 100},
      {"large, halfway", 100000000, 50000000, false, 100000000, 50},
      {"largest, one short of the end", INT32_MAX, INT32_MAX - 1, false, INT32_MAX, 99},
      {"empty stream: kept", 0, 0, false, 0, 7},
      {"size unknown: kept", 1000, 500, true, -1, 7},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.what);
    fake = FakeStream{};
    fake.length = row.length;
    QvStream stream = OpenFakeStream();
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(QvStreamSeek(stream, 6, 0), 6);
    fake.cannotTell = row.cannotTell;
    StandInClearLog();
    RecordInputSize(stream, job.job());
    EXPECT_EQ(job->inputSize, row.inputSize);
    if (row.cannotTell) {
      EXPECT_EQ(testhost::LoggedOperations(), std::vector<std::string>{"QvStreamSeek"})
          << "a stream that cannot tell its position is asked once";
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

// ---- The job record ----------------------------------------------------------

TEST_F(StatusTest, RequestNamesAreBoundedByTheirFields) {
  const std::string fits(259, 'a');
  const std::string tooLong(260, 'b');
  const std::string far(100000, 'c');
  const struct {
    const char* what;
    const char* names[3];
    bool result;
    const char* expected[3];  // null: the previous text stays
  } table[] = {
      {"all fit", {"one", fits.c_str(), ""}, true, {"one", fits.c_str(), ""}},
      {"null keeps the previous", {nullptr, nullptr, nullptr}, true, {nullptr, nullptr, nullptr}},
      {"first too long", {tooLong.c_str(), "two", "three"}, false, {nullptr, "two", "three"}},
      {"last too long", {"one", "two", tooLong.c_str()}, false, {"one", "two", nullptr}},
      {"far too long", {far.c_str(), far.c_str(), far.c_str()}, false, {nullptr, nullptr, nullptr}},
  };
  HostContext context = {};
  const QvPicture document = job->picture;
  for (const auto& row : table) {
    SCOPED_TRACE(row.what);
    std::memset(job.job(), 0, kSetupBlockBytes);
    for (int i = 0; i < 3; ++i) std::snprintf(job->docNames[i], kTextFieldBytes, "previous %d", i);
    job->picture = reinterpret_cast<QvPicture>(uintptr_t{0x1234});
    job->percentDone = 55;
    job->inputSize = 77;
    ImportRequest request = {};
    request.optionsHandle = reinterpret_cast<HGLOBAL>(uintptr_t{0x4321});
    request.hostContext = &context;
    for (int i = 0; i < 3; ++i) request.docNames[i] = row.names[i];

    EXPECT_EQ(InitJobFromRequest(job.job(), &request), row.result);
    for (int i = 0; i < 3; ++i) {
      const std::string previous = "previous " + std::to_string(i);
      EXPECT_EQ(job->docNames[i], std::string(row.expected[i] ? row.expected[i] : previous.c_str()))
          << "name " << i;
    }
    EXPECT_EQ(job->picture, nullptr);
    EXPECT_EQ(job->percentDone, 0);
    EXPECT_EQ(job->inputSize, 77) << "not a request field";
    EXPECT_EQ(job->hostContext, &context);
    EXPECT_EQ(job->optionsHandle, request.optionsHandle);
    EXPECT_EQ(job->request, &request);
  }
  job->picture = document;
  job->hostContext = job.context();
  job->request = job.request();
}

// Host writers program against the offsets the public header documents;
// these are the ones of this build's target.
TEST(RecordLayout, OffsetsMatchThePublicHeader) {
  const bool narrow = sizeof(void*) == 4;
  const struct {
    const char* field;
    size_t offset, narrowOffset, wideOffset;
  } table[] = {
      {"HostContext.statusCallback", offsetof(HostContext, statusCallback), 8, 8},
      {"HostContext.hostValue", offsetof(HostContext, hostValue), 20, 24},
      {"HostContext.inputMemory", offsetof(HostContext, inputMemory), 24, 32},
      {"HostContext.results", offsetof(HostContext, results), 28, 40},
      {"sizeof HostContext", sizeof(HostContext), 60, 72},
      {"ImportRequest.setupHandle", offsetof(ImportRequest, setupHandle), 4, 8},
      {"ImportRequest.docNames", offsetof(ImportRequest, docNames), 12, 24},
      {"ImportRequest.hostContext", offsetof(ImportRequest, hostContext), 24, 48},
      {"ImportRequest.streamUserValue", offsetof(ImportRequest, streamUserValue), 28, 56},
      {"sizeof ImportRequest", sizeof(ImportRequest), 36, 64},
      {"FilterSetup.percentDone", offsetof(FilterSetup, percentDone), 11124, 11124},
      {"FilterSetup.picture", offsetof(FilterSetup, picture), 11140, 11144},
      {"FilterSetup.hostContext", offsetof(FilterSetup, hostContext), 11928, 11944},
      {"FilterSetup.request", offsetof(FilterSetup, request), 11936, 11960},
      {"FilterSetup.persistentOptions", offsetof(FilterSetup, persistentOptions), 12000, 12000},
      {"sizeof StreamOpenDescriptor", sizeof(StreamOpenDescriptor), 24, 40},
  };
  for (const auto& row : table) {
    std::printf("%-32s %6zu\n", row.field, row.offset);
    EXPECT_EQ(row.offset, narrow ? row.narrowOffset : row.wideOffset) << row.field;
  }
  EXPECT_EQ(PersistentOptionsSize(), narrow ? 24 : 32);
}

}  // namespace
