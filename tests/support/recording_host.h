// Test support: a host status callback that records every call and answers
// from a script, a zero-filled job in a global block, and the live-object
// check of the stand-ins.
//
//   testhost::RecordingHost host;
//   host.AnswerProgress(3, 1);   // ask to stop at the third progress call
//   host.AnswerFollowUp(0);      // ... and withdraw it in the follow-up
//   testhost::ScopedJob job;
//   host.Attach(job.context());  // userValue and callback into the context
//   ... run the filter ...
//   EXPECT_EQ(host.Codes(3), std::vector<int32_t>{27});
//   EXPECT_EQ(testhost::DescribeLive(), "");
#ifndef GIFIMPORT_TESTS_SUPPORT_RECORDING_HOST_H
#define GIFIMPORT_TESTS_SUPPORT_RECORDING_HOST_H

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "filter/filter_api.h"
#include "filter/filter_setup.h"

namespace testhost {

// One call of the status callback, all seven arguments.
struct StatusCall {
  uint32_t userValue = 0;
  int32_t kind = 0, code = 0, value1 = 0, value2 = 0, severity = 0;
  bool hasExtra = false;               // the seventh argument was not null
  std::array<int32_t, 10> extra = {};  // its ten values, when hasExtra
};

// Each host gets its own userValue; the callback finds the host by it, so a
// call with the wrong userValue is not recorded and shows up in
// strayCalls(). At most one RecordingHost per userValue, many at once.
class RecordingHost {
 public:
  RecordingHost();
  ~RecordingHost();
  RecordingHost(const RecordingHost&) = delete;
  RecordingHost& operator=(const RecordingHost&) = delete;

  uint32_t userValue() const { return userValue_; }
  StatusCallback callback() const;
  // Puts userValue and callback into `context`.
  void Attach(HostContext* context) const;

  // ---- Script. Unscripted calls are answered 0 (go on).
  // Answer the nth plain progress call (kind 0, code 0; 1 = the first) with
  // `answer`; nth 0 answers every progress call not named otherwise.
  void AnswerProgress(int nth, int32_t answer);
  // Answer of every cancellation follow-up (kind 2); 1 (confirm) unless set.
  void AnswerFollowUp(int32_t answer) { followUpAnswer_ = answer; }
  // Answer of range announcements and error reports (which the filter must
  // ignore).
  void AnswerOthers(int32_t answer) { otherAnswer_ = answer; }

  // ---- Record.
  const std::vector<StatusCall>& calls() const { return calls_; }
  std::vector<StatusCall> CallsOfKind(int32_t kind) const;
  // Codes of the calls of one kind, in order (kind 3: the error numbers).
  std::vector<int32_t> Codes(int32_t kind) const;
  // value1 of the plain progress calls, in order.
  std::vector<int32_t> ProgressValues() const;
  void Clear();
  // Calls whose userValue named no living host, since the program started.
  static int strayCalls();

  // Internal: the callback's entry into the host.
  int32_t Record(const StatusCall& call);

 private:
  uint32_t userValue_;
  std::map<int, int32_t> progressAnswers_;
  int32_t followUpAnswer_ = 1;
  int32_t otherAnswer_ = 0;
  int progressCalls_ = 0;
  std::vector<StatusCall> calls_;
};

// A zero-filled FilterSetup in a movable global block, locked for the
// object's life, with a zero-filled HostContext and ImportRequest beside it
// (the request's setupHandle is the block, and the job points to both as
// InitJobFromRequest would set them).
class ScopedJob {
 public:
  ScopedJob();
  ~ScopedJob();
  ScopedJob(const ScopedJob&) = delete;
  ScopedJob& operator=(const ScopedJob&) = delete;

  FilterSetup* job() const { return job_; }
  FilterSetup* operator->() const { return job_; }
  HGLOBAL handle() const { return handle_; }
  HostContext* context() { return &context_; }
  ImportRequest* request() { return &request_; }

 private:
  HGLOBAL handle_ = nullptr;
  FilterSetup* job_ = nullptr;
  HostContext context_ = {};
  ImportRequest request_ = {};
};

// What the stand-ins hold live: platform blocks and handles, companion
// streams, documents, options blocks and captures.
struct LiveCounts {
  int globalBlocks = 0, localBlocks = 0, metafiles = 0, fileHandles = 0;
  int streams = 0, documents = 0, optionsBlocks = 0, captures = 0;
};
LiveCounts TakeLiveCounts();
// "" when the live counts equal `baseline` (nothing live by default), else
// each count that differs, as "documents 1 (expected 0)". The blocks of
// ScopedJobs still alive are expected on top of the baseline.
std::string DescribeLive(const LiveCounts& baseline = {});

// The operation names of the companion's call log ("QvDocOpen", ...), in
// call order since the last StandInClearLog.
std::vector<std::string> LoggedOperations();

}  // namespace testhost

#endif
