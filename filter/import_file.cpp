#include "gifimport/filter_api.h"
#include "core/filter_setup.h"
#include "core/status.h"
#include "gif/import_driver.h"

namespace gifin {

namespace {

// The setup block stays locked and marked busy for the whole import, so
// that the addresses of its fields stay valid and a status callback that
// calls back into the filter cannot free or reuse it; every way out unlocks
// it and clears the mark.
class BusySetup {
 public:
  explicit BusySetup(LockedGlobal&& setup) : setup_(static_cast<LockedGlobal&&>(setup)) {
    setup_.As<FilterSetup>()->busy = 1;
  }
  ~BusySetup() { setup_.As<FilterSetup>()->busy = 0; }
  BusySetup(const BusySetup&) = delete;
  BusySetup& operator=(const BusySetup&) = delete;

 private:
  LockedGlobal setup_;
};

const char* OrEmpty(const char* text) { return text ? text : ""; }

}  // namespace

}  // namespace gifin

using namespace gifin;

extern "C" GIFIN_API int32_t WINAPI ImportFile(uint32_t /*unused*/, const char* openName,
                                               const char* startName, const char* inputPath,
                                               ImportRequest* request) {
  // Without a request or a live setup there is no job to report through.
  // A block too small or without the magic is not a setup (an options block,
  // say): writing the job into it would run past its end.
  if (!request) return kSetupNotLive;
  LockedGlobal setup = LockSetup(request->setupHandle);
  FilterSetup* job = setup.As<FilterSetup>();
  if (!job) return kSetupNotLive;
  // An import already runs on it (this is its status callback): its job
  // fields must stay as they are.
  if (job->busy) return kSetupBusy;
  BusySetup busy(static_cast<LockedGlobal&&>(setup));

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
