#include "tests/support/recording_host.h"

#include <stdexcept>

#include "companion/standin.h"
#include "platform/platform_test.h"

using namespace gifin;

namespace testhost {
namespace {

// Far from 0, so that a filter passing 0 or a small number is caught. A
// host's calls come on the thread that imports, which made the host: each
// thread keeps its own hosts.
thread_local uint32_t nextUserValue = 0x5EED0001u;
std::map<uint32_t, RecordingHost*>& Hosts() {
  thread_local std::map<uint32_t, RecordingHost*> hosts;  // ready before any host is made
  return hosts;
}
int liveJobs = 0;

int32_t WINAPI RecordingCallback(uint32_t userValue, int32_t kind, int32_t code, int32_t value1,
                                 int32_t value2, int32_t severity, int32_t* extra) {
  StatusCall call{userValue, kind, code, value1, value2, severity, extra != nullptr, {}};
  // Reading all ten values lets the sanitizer catch a shorter block.
  for (size_t i = 0; extra != nullptr && i < call.extra.size(); ++i) call.extra[i] = extra[i];
  auto found = Hosts().find(userValue);
  return found == Hosts().end() ? 0 : found->second->Record(call);
}

}  // namespace

RecordingHost::RecordingHost() : userValue_(nextUserValue++) { Hosts()[userValue_] = this; }
RecordingHost::~RecordingHost() { Hosts().erase(userValue_); }

void RecordingHost::Attach(HostContext* context) const {
  context->userValue = userValue_;
  context->statusCallback = &RecordingCallback;
}

int32_t RecordingHost::Record(const StatusCall& call) {
  calls_.push_back(call);
  if (call.kind == kStatusCancelFollowUp) return followUpAnswer_;
  if (call.kind != kStatusProgress || call.code != kStatusCodeProgress) return otherAnswer_;
  auto named = progressAnswers_.find(++progressCalls_);
  if (named == progressAnswers_.end()) named = progressAnswers_.find(0);
  return named != progressAnswers_.end() ? named->second : 0;
}

std::vector<int32_t> RecordingHost::Codes(int32_t kind) const {
  std::vector<int32_t> out;
  for (const StatusCall& call : calls_)
    if (call.kind == kind) out.push_back(call.code);
  return out;
}

std::vector<std::string> RecordingHost::Texts() const {
  std::vector<std::string> out;
  for (const StatusCall& c : calls_) {
    std::string text = std::to_string(c.kind) + "/" + std::to_string(c.code) + " " +
                       std::to_string(c.value1) + "," + std::to_string(c.value2) + " s" +
                       std::to_string(c.severity);
    size_t used = c.hasExtra ? c.extra.size() : 0;
    while (used > 0 && c.extra[used - 1] == 0) --used;
    for (size_t i = 0; i < used; ++i) text += (i ? "," : " extra[") + std::to_string(c.extra[i]);
    out.push_back(text + (used ? "]" : c.hasExtra ? " extra[]" : ""));
  }
  return out;
}

ScopedJob::ScopedJob() : block_(LockedGlobal::Allocate(kSetupBlockBytes)) {
  if (!block_) throw std::runtime_error("ScopedJob: no global block for the job");
  request_.setupHandle = block_.block();
  request_.hostContext = &context_;
  job()->hostContext = &context_;
  job()->request = &request_;
  ++liveJobs;
}

ScopedJob::~ScopedJob() { --liveJobs; }

std::string DescribeLive() {
  const struct {
    const char* what;
    int count, expected;
  } rows[] = {
      {"global blocks", PlatformLiveGlobalBlocks(), liveJobs},
      {"local blocks", PlatformLiveLocalBlocks(), 0},
      {"metafiles", PlatformLiveMetafiles(), 0},
      {"file handles", PlatformLiveFileHandles(), 0},
      {"streams", StandInLiveStreams(), 0},
      {"documents", StandInLiveDocuments(), 0},
      {"options blocks", StandInLiveOptionsBlocks(), 0},
      {"captures", StandInLiveCaptures(), 0},
      {"handle faults", PlatformTakeHandleFaults(), 0},
  };
  std::string out;
  for (const auto& row : rows) {
    if (row.count < 0 || row.count == row.expected) continue;  // -1: the system keeps no count
    out += (out.empty() ? "" : ", ") + std::string(row.what) + " " + std::to_string(row.count) +
           " (expected " + std::to_string(row.expected) + ")";
  }
  return out;
}

std::vector<std::string> LoggedOperations() {
  static const std::string key = "\"op\":\"";
  std::vector<std::string> ops;
  for (int i = 0; i < StandInLogSize(); ++i) {
    const std::string entry = StandInLogEntry(i);
    const size_t at = entry.find(key), begin = at + key.size();
    if (at != std::string::npos) ops.push_back(entry.substr(begin, entry.find('"', begin) - begin));
  }
  return ops;
}

}  // namespace testhost
