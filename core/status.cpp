#include "core/status.h"

#include <cstdint>

namespace gifin {

namespace {

StatusCallback CallbackOf(const FilterSetup* job) {
  return job->hostContext != nullptr ? job->hostContext->statusCallback : nullptr;
}

uint32_t UserValueOf(const FilterSetup* job) {
  return job->hostContext != nullptr ? job->hostContext->userValue : 0;
}

// Numbers this filter never sends. Hosts also know them from the library's
// own reports, so the severity table keeps them.
constexpr FilterError kForeign56 = 0x38;
constexpr FilterError kForeign57 = 0x39;
constexpr FilterError kForeign59 = 0x3B;
constexpr FilterError kForeign60 = 0x3C;
constexpr FilterError kForeign527 = 0x20F;
constexpr FilterError kForeign775 = 0x307;
constexpr FilterError kForeign784 = 0x310;
constexpr FilterError kForeign4867 = 0x1303;

// The severity sent with a report; every number not here has kSeverityLow.
struct CodeSeverity {
  FilterError code;
  int32_t severity;
};
constexpr CodeSeverity kSeverities[] = {
    {kErrLibFontTable, kSeverityMedium}, {kForeign56, kSeverityMedium},
    {kForeign60, kSeverityMedium},       {kForeign4867, kSeverityMedium},
    {kForeign57, kSeverityHigh},         {kForeign59, kSeverityHigh},
    {kForeign527, kSeverityHigh},        {kForeign775, kSeverityHigh},
    {kForeign784, kSeverityHigh},
};

// The library's error codes, first to last, and the number each becomes;
// any code not here becomes kErrLibUnknown.
struct LibraryCodes {
  int32_t first, last;
  FilterError error;
};
constexpr LibraryCodes kLibraryCodes[] = {
    {kQvErrNone, kQvErrNone, kErrNone},
    {kQvErr20, kQvErr20, kErrLib20},
    {kQvErrGroup21First, kQvErrGroup21Last, kErrLibGroup21},
    {kQvErrNothingToDo, kQvErrNothingToDo, kErrNone},  // not an error
    {kQvErrGroup161First, kQvErrGroup161Last, kErrLibGroup161},
    {kQvErr168, kQvErr168, kErrLib168},
    {kQvErrOutOfMemory, kQvErrOutOfMemory, kErrMemory},
    {kQvErr301, kQvErr301, kErrLib301},
    {kQvErr302, kQvErr302, kErrLib302},  // but kErrLibFontTable at the font table
    {kQvErr303, kQvErr303, kErrLib303},
    {kQvErrGroup304First, kQvErrGroup304Last, kErrLibGroup304},
    {kQvErrStop, kQvErrStop, kErrCancelled},
};

}  // namespace

int32_t CallHostStatus(StatusCallback callback, uint32_t userValue, int32_t kind, int32_t code,
                       int32_t value1, int32_t value2, int32_t severity, int32_t* extra) {
  if (callback == nullptr) return 0;
  const int32_t answer = callback(userValue, kind, code, value1, value2, severity, extra);
  if (answer == 0 || kind != kStatusProgress || code != kStatusCodeProgress) return answer;

  // A stop request during progress is only a question: the host confirms or
  // withdraws it in the follow-up.
  int32_t followUpExtra[kStatusExtraValues] = {};
  return callback(userValue, kStatusCancelFollowUp, kErrCancelled, 0, 0, 0, followUpExtra);
}

FilterError ReportProgress(FilterSetup* job) {
  const StatusCallback callback = CallbackOf(job);
  if (callback == nullptr) return kErrNone;
  const int32_t answer = CallHostStatus(callback, UserValueOf(job), kStatusProgress,
                                        kStatusCodeProgress, job->percentDone, 0, 0, nullptr);
  return answer != 0 ? kErrCancelled : kErrNone;
}

FilterError CheckImportStatus(FilterSetup* job) {
  if (ReportProgress(job) != kErrNone) return kErrCancelled;
  LibraryErrorPair pair{};
  if (FilterError code = FetchLibraryError(job, &pair)) {
    QvAbort(job->picture);
    return code == kErrCancelled ? code : Fail(job, code);
  }
  return kErrNone;
}

int32_t SeverityOf(FilterError code) {
  for (const CodeSeverity& entry : kSeverities) {
    if (entry.code == code) return entry.severity;
  }
  return kSeverityLow;
}

void ReportFilterError(FilterSetup* job, FilterError code, const int32_t* extra, int extraCount) {
  int32_t block[kStatusExtraValues] = {};
  if (extra != nullptr) {
    for (int i = 0; i < extraCount && i < kStatusExtraValues; ++i) block[i] = extra[i];
  }
  const int32_t severity = SeverityOf(code);
  const StatusCallback callback = CallbackOf(job);
  if (callback == nullptr) return;
  // The answer is ignored: the caller goes on with the code it reported.
  CallHostStatus(callback, UserValueOf(job), kStatusError, code, 0, 0, severity, block);
}

FilterError FetchLibraryError(FilterSetup* job, LibraryErrorPair* pair) {
  LibraryErrorPair local{};
  if (pair == nullptr) pair = &local;
  int32_t flag = 0;
  QvGetError(job->picture, kQvGetErrorMode, &flag, pair);
  if (flag == 0) return kErrNone;
  return TranslateLibraryError(pair->code, pair->operation);
}

FilterError TranslateLibraryError(int32_t libraryCode, int32_t operation) {
  if (libraryCode == kQvErr302 && operation == kQvOpSetFontTable) {
    return kErrLibFontTable;
  }
  for (const LibraryCodes& entry : kLibraryCodes) {
    if (libraryCode >= entry.first && libraryCode <= entry.last) return entry.error;
  }
  return kErrLibUnknown;
}

int32_t MeasureStreamLength(QvStream stream) {
  const int32_t position = QvStreamSeek(stream, 0, kQvSeekCurrent);
  if (position == -1) return -1;
  const int32_t length = QvStreamSeek(stream, 0, kQvSeekEnd);
  // Back where it was even when the end could not be found.
  QvStreamSeek(stream, position, kQvSeekStart);
  return length;
}

void RecordInputSize(QvStream stream, FilterSetup* job) {
  job->inputSize = MeasureStreamLength(stream);
}

void UpdatePercentDone(QvStream stream, FilterSetup* job) {
  const int32_t position = QvStreamSeek(stream, 0, kQvSeekCurrent);
  // Without a known length, or with a position the stream could not tell,
  // there is nothing to divide: the host keeps seeing the last value sent.
  if (job->inputSize <= 0 || position < 0) return;
  // A stream may run past the length it stated; progress never passes 100.
  if (position >= job->inputSize) {
    job->percentDone = 100;
    return;
  }
  job->percentDone = static_cast<int32_t>(int64_t{position} * 100 / job->inputSize);
}

}  // namespace gifin
