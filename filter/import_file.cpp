#include "filter/filter_api.h"
#include "filter/filter_setup.h"
#include "filter/status.h"
#include "gif/import_driver.h"

namespace {

// The setup block stays locked for the whole import so that the addresses of
// its fields stay valid; every way out unlocks it.
class LockedSetup {
 public:
  explicit LockedSetup(HGLOBAL handle)
      : handle_(handle), job_(handle ? static_cast<FilterSetup*>(GlobalLock(handle)) : nullptr) {}
  ~LockedSetup() {
    if (job_) GlobalUnlock(handle_);
  }
  LockedSetup(const LockedSetup&) = delete;
  LockedSetup& operator=(const LockedSetup&) = delete;
  FilterSetup* job() const { return job_; }

 private:
  HGLOBAL handle_;
  FilterSetup* job_;
};

const char* OrEmpty(const char* text) { return text ? text : ""; }

}  // namespace

extern "C" GIFIN_API int32_t WINAPI ImportFile(uint32_t /*unused*/, const char* openName,
                                               const char* startName, const char* inputPath,
                                               ImportRequest* request) {
  // Without a request or a live setup there is no job to report through:
  // the host gets the number DestroySetup gives for a handle it cannot lock.
  if (!request) return kErrSetupLock;
  // A block too small or without the magic is not a setup (an options block,
  // say): writing the job into it would run past its end.
  if (!request->setupHandle || GlobalSize(request->setupHandle) < sizeof(FilterSetup)) {
    return kErrSetupLock;
  }
  LockedSetup setup(request->setupHandle);
  FilterSetup* job = setup.job();
  if (!job || job->magic != kSetupMagic) return kErrSetupLock;

  const bool namesFit = InitJobFromRequest(job, request);
  job->progressBase = 0;
  job->progressSpan = 100;
  // Names that do not fit their 260-byte fields are refused rather than cut:
  // a cut path would open another file, a cut name would name another
  // document. Nothing is imported then, and the host hears why.
  if (!CopyTextField(job->openName, OrEmpty(openName)) ||
      !CopyTextField(job->startName, OrEmpty(startName)) || !namesFit) {
    return Fail(job, kErrMemory);
  }
  if (!CopyTextField(job->inputPath, OrEmpty(inputPath))) return Fail(job, kErrStreamOpen);

  return RunImport(job);
}
