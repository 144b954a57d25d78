/* gifimport: the call log of our stand-in for the companion library
 * (libQvGdi32.so here, QvGdi32.dll on Windows). The real library keeps no
 * such log; these calls are the stand-in's only.
 *
 * The log holds every companion call the filter makes, one JSON object per
 * call, in call order, with its arguments and result; objects are named
 * "doc#1", "stream#2" and so on, never by address, so that two runs of the
 * same import give the same log. It is off from the start: a host pays
 * nothing for it unless it asks.
 *
 *   StandInSetLogging(1);
 *   StandInClearLog();
 *   ... ImportFile ...
 *   StandInWriteLog("calls.jsonl");
 *
 * Each thread has a log of its own: the entries, sizes and clears below are
 * the calling thread's, so an import's log holds its calls alone, whatever
 * runs on other threads. The switch (StandInSetLogging) holds for all.
 *
 * Plain C, C linkage; stands alone.
 */
#ifndef GIFIMPORT_STANDIN_LOG_H
#define GIFIMPORT_STANDIN_LOG_H

#ifndef STANDIN_API
#define STANDIN_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* 1: log every call from now on; 0 (the start): log nothing, and make no
 * log text at all. Entries already there stay either way. */
STANDIN_API void StandInSetLogging(int on);
/* Drops every entry of this thread; the objects' numbers count from 1 again. */
STANDIN_API void StandInClearLog(void);
/* This thread's entries since its last clear. A log that never is cleared
 * stops growing at 262,144 entries, with one entry saying so. */
STANDIN_API int StandInLogSize(void);
/* Entry `index` (0-based) as one JSON object, or null past the end; valid
 * until the next call of the stand-in. */
STANDIN_API const char* StandInLogEntry(int index);
/* Writes this thread's entries as JSON Lines to a new file at `path`; 0 on
 * success. */
STANDIN_API int StandInWriteLog(const char* path);

#ifdef __cplusplus
}
#endif

#endif
