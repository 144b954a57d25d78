#include "tests/support/recording_host.h"

#include <cstdio>
#include <stdexcept>

#include "companion/standin.h"
#include "platform/platform_test.h"

namespace testhost {
namespace {

// userValues start far from 0 so that a filter passing 0 or a small number
// instead of the host's value is caught.
uint32_t nextUserValue = 0x5EED0001u;
std::map<uint32_t, RecordingHost*>& Hosts() {
  static std::map<uint32_t, RecordingHost*> hosts;
  return hosts;
}
int strays = 0;
int liveJobs = 0;

int32_t WINAPI RecordingCallback(uint32_t userValue, int32_t kind, int32_t code, int32_t value1,
                                 int32_t value2, int32_t severity, int32_t* extra) {
  StatusCall call;
  call.userValue = userValue;
  call.kind = kind;
  call.code = code;
  call.value1 = value1;
  call.value2 = value2;
  call.severity = severity;
  call.hasExtra = extra != nullptr;
  // Reading all ten values lets the sanitizer catch a shorter block.
  if (extra != nullptr)
    for (size_t i = 0; i < call.extra.size(); ++i) call.extra[i] = extra[i];

  auto found = Hosts().find(userValue);
  if (found == Hosts().end()) {
    ++strays;
    return 0;
  }
  return found->second->Record(call);
}

}  // namespace

RecordingHost::RecordingHost() : userValue_(nextUserValue++) { Hosts()[userValue_] = this; }

RecordingHost::~RecordingHost() { Hosts().erase(userValue_); }

StatusCallback RecordingHost::callback() const { return &RecordingCallback; }

void RecordingHost::Attach(HostContext* context) const {
  context->userValue = userValue_;
  context->statusCallback = callback();
}

void RecordingHost::AnswerProgress(int nth, int32_t answer) { progressAnswers_[nth] = answer; }

int32_t RecordingHost::Record(const StatusCall& call) {
  calls_.push_back(call);
  if (call.kind == 0 && call.code == 0) {
    ++progressCalls_;
    auto named = progressAnswers_.find(progressCalls_);
    if (named != progressAnswers_.end()) return named->second;
    auto every = progressAnswers_.find(0);
    return every != progressAnswers_.end() ? every->second : 0;
  }
  if (call.kind == 2) return followUpAnswer_;
  return otherAnswer_;
}

std::vector<StatusCall> RecordingHost::CallsOfKind(int32_t kind) const {
  std::vector<StatusCall> out;
  for (const StatusCall& call : calls_)
    if (call.kind == kind) out.push_back(call);
  return out;
}

std::vector<int32_t> RecordingHost::Codes(int32_t kind) const {
  std::vector<int32_t> out;
  for (const StatusCall& call : calls_)
    if (call.kind == kind) out.push_back(call.code);
  return out;
}

std::vector<int32_t> RecordingHost::ProgressValues() const {
  std::vector<int32_t> out;
  for (const StatusCall& call : calls_)
    if (call.kind == 0 && call.code == 0) out.push_back(call.value1);
  return out;
}

void RecordingHost::Clear() {
  calls_.clear();
  progressCalls_ = 0;
}

int RecordingHost::strayCalls() { return strays; }

ScopedJob::ScopedJob() {
  handle_ = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, kSetupBlockBytes);
  if (handle_ != nullptr) job_ = static_cast<FilterSetup*>(GlobalLock(handle_));
  if (job_ == nullptr) throw std::runtime_error("ScopedJob: no global block for the job");
  request_.setupHandle = handle_;
  request_.hostContext = &context_;
  job_->hostContext = &context_;
  job_->request = &request_;
  ++liveJobs;
}

ScopedJob::~ScopedJob() {
  --liveJobs;
  GlobalUnlock(handle_);
  GlobalFree(handle_);
}

LiveCounts TakeLiveCounts() {
  LiveCounts live;
  live.globalBlocks = PlatformLiveGlobalBlocks();
  live.localBlocks = PlatformLiveLocalBlocks();
  live.metafiles = PlatformLiveMetafiles();
  live.fileHandles = PlatformLiveFileHandles();
  live.streams = StandInLiveStreams();
  live.documents = StandInLiveDocuments();
  live.optionsBlocks = StandInLiveOptionsBlocks();
  live.captures = StandInLiveCaptures();
  return live;
}

std::string DescribeLive(const LiveCounts& baseline) {
  const LiveCounts now = TakeLiveCounts();
  std::string out;
  auto compare = [&out](const char* what, int count, int expected) {
    if (count == expected) return;
    char line[96];
    std::snprintf(line, sizeof line, "%s%s %d (expected %d)", out.empty() ? "" : ", ", what, count,
                  expected);
    out += line;
  };
  compare("global blocks", now.globalBlocks, baseline.globalBlocks + liveJobs);
  compare("local blocks", now.localBlocks, baseline.localBlocks);
  compare("metafiles", now.metafiles, baseline.metafiles);
  compare("file handles", now.fileHandles, baseline.fileHandles);
  compare("streams", now.streams, baseline.streams);
  compare("documents", now.documents, baseline.documents);
  compare("options blocks", now.optionsBlocks, baseline.optionsBlocks);
  compare("captures", now.captures, baseline.captures);
  return out;
}

std::vector<std::string> LoggedOperations() {
  static const std::string key = "\"op\":\"";
  std::vector<std::string> ops;
  for (int i = 0; i < StandInLogSize(); ++i) {
    const std::string entry = StandInLogEntry(i);
    const size_t at = entry.find(key);
    if (at == std::string::npos) continue;
    const size_t begin = at + key.size();
    ops.push_back(entry.substr(begin, entry.find('"', begin) - begin));
  }
  return ops;
}

}  // namespace testhost
