// Test support: a host status callback that records every call and answers
// from a script, a zero-filled job in a global block, and the live-object
// check of the stand-ins.
#ifndef GIFIMPORT_TESTS_SUPPORT_RECORDING_HOST_H
#define GIFIMPORT_TESTS_SUPPORT_RECORDING_HOST_H

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/filter_setup.h"
#include "gifimport/filter_api.h"
#include "platform/locked_global.h"

namespace testhost {

// One call of the status callback, all seven arguments.
struct StatusCall {
  uint32_t userValue = 0;
  int32_t kind = 0, code = 0, value1 = 0, value2 = 0, severity = 0;
  bool hasExtra = false;                               // the seventh argument was not null
  std::array<int32_t, kStatusExtraValues> extra = {};  // its ten values, when hasExtra
};

// Each host has its own userValue, far from 0, and the callback records a
// call only in the host it names: a call with a wrong userValue is lost.
class RecordingHost {
 public:
  RecordingHost();
  ~RecordingHost();
  RecordingHost(const RecordingHost&) = delete;
  RecordingHost& operator=(const RecordingHost&) = delete;

  void Attach(HostContext* context) const;  // its userValue and the callback

  // The nth plain progress call (kind 0, code 0; 1 = the first) gets
  // `answer`, nth 0 standing for every other one. Unscripted: 0, follow-up 1.
  void AnswerProgress(int nth, int32_t answer) { progressAnswers_[nth] = answer; }
  void AnswerFollowUp(int32_t answer) { followUpAnswer_ = answer; }  // kind 2
  void AnswerOthers(int32_t answer) { otherAnswer_ = answer; }       // range and error reports

  const std::vector<StatusCall>& calls() const { return calls_; }
  std::vector<int32_t> Codes(int32_t kind) const;  // kind 3: the error numbers
  // Every call as "kind/code value1,value2 sN", then " extra[...]" (trailing
  // zeros left out) when the seventh argument was given.
  std::vector<std::string> Texts() const;
  void Clear() { calls_.clear(), progressCalls_ = 0; }

  int32_t Record(const StatusCall& call);  // the callback's entry

 private:
  uint32_t userValue_;
  std::map<int, int32_t> progressAnswers_;
  int32_t followUpAnswer_ = 1, otherAnswer_ = 0;
  int progressCalls_ = 0;
  std::vector<StatusCall> calls_;
};

// A zero-filled FilterSetup in a movable global block, locked for the
// object's life, with a zero-filled HostContext and ImportRequest beside it,
// linked as InitJobFromRequest links them.
class ScopedJob {
 public:
  ScopedJob();
  ~ScopedJob();

  FilterSetup* job() const { return block_.As<FilterSetup>(); }
  FilterSetup* operator->() const { return job(); }
  HostContext* context() { return &context_; }

 private:
  LockedGlobal block_;
  HostContext context_ = {};
  ImportRequest request_ = {};
};

// "" when the stand-ins hold nothing live but the blocks of living
// ScopedJobs, else each count that is off: "documents 1 (expected 0)".
std::string DescribeLive();

// The operation names of the companion's call log since StandInClearLog.
std::vector<std::string> LoggedOperations();

}  // namespace testhost

#endif
