// Host status protocol: progress, cancellation, error reports, and the
// translation of companion library errors into the filter's error numbers.
//
// Who reports. A failure reaches the host once, as one error report (kind
// 3), and is afterwards only passed on:
//   - A step returns 0 or a FilterError it has reported itself, through
//     Fail, where it met the failure. Its callers pass the number on and
//     report nothing.
//   - A reader that reports nothing returns Unreported (OpenInput,
//     ReadGifHeader). Its caller reports it through Fail, or, where there is
//     no host to report to (GetFileInfo), hands the number back as the
//     entry's result.
//   - A stop met at a progress check (ReportProgress, CheckImportStatus) is
//     not reported: the host's own the host knows, and QvAbort has told the
//     library of its own. A stop the library's error fetched after any
//     other call gives (its 901) is reported like any of its errors.
// The import keeps its first failure as its result (gif/import_driver.cpp),
// also from steps the picture goes on past.
#ifndef GIFIMPORT_CORE_STATUS_H
#define GIFIMPORT_CORE_STATUS_H

#include <cstdint>

#include "core/filter_setup.h"
#include "gifimport/companion.h"
#include "gifimport/input_stream.h"

namespace gifin {

using FilterError = int32_t;

// What a reader that reports nothing returns: a failure its caller still
// has to report or hand on. It does not turn into a FilterError by itself,
// so it cannot be passed on as if it had been reported.
struct [[nodiscard]] Unreported {
  FilterError code = kErrNone;
  explicit operator bool() const { return code != kErrNone; }
};

// The host's answer; 0 with no callback. After a non-zero answer to a plain
// progress call (kind 0, code 0) the host is asked once more with the
// cancellation follow-up, whose answer is the result.
int32_t CallHostStatus(StatusCallback callback, uint32_t userValue, int32_t kind, int32_t code,
                       int32_t value1, int32_t value2, int32_t severity, int32_t* extra);

// Sends percentDone; kErrCancelled when the host confirms a stop, else 0.
FilterError ReportProgress(FilterSetup* job);

// ReportProgress, then a pending library error, after which the picture is
// given up with QvAbort. Any number but a stop is reported; a stop is not:
// the host's own the host knows, and QvAbort has told the library of its
// own (a metafile capture then ends as stopped).
FilterError CheckImportStatus(FilterSetup* job);

// Reports `code` (kind 3) with its severity and up to ten extra values.
void ReportFilterError(FilterSetup* job, FilterError code, const int32_t* extra = nullptr,
                       int extraCount = 0);
int32_t SeverityOf(FilterError code);

// The translated pending library error of job->picture, 0 when none.
FilterError FetchLibraryError(FilterSetup* job, LibraryErrorPair* pair);
FilterError TranslateLibraryError(int32_t libraryCode, int32_t operation);

// Stream length in bytes, the position left as it was; -1 when unknown.
int32_t MeasureStreamLength(QvStream stream);
void RecordInputSize(QvStream stream, FilterSetup* job);
// percentDone = position x 100 / inputSize, truncated, the product in 64
// bits. A position at or past inputSize gives 100. With an inputSize of 0 or
// below (-1: the stream cannot tell), or a position the stream cannot tell,
// nothing is divided and percentDone stays as it was, so the host keeps
// seeing the last value sent (0 until the end of the import, then 100).
void UpdatePercentDone(QvStream stream, FilterSetup* job);

// Reports `code` and returns it: the one error path of every step. A stop
// the library asks for (its 901, kErrCancelled) is reported like any of its
// errors, so that whoever listens (a metafile capture) hears that the
// picture was given up; only the progress check leaves a stop unreported.
inline FilterError Fail(FilterSetup* job, FilterError code) {
  ReportFilterError(job, code);
  return code;
}

}  // namespace gifin

#endif
