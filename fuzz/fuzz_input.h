// What the fuzz entry points share: how an input is split into control bytes
// and data bytes, faults armed from them, a host stream, the check that
// nothing is left live, and how a broken expectation ends the run.
//
// Every input is  [control bytes][data bytes]. The control bytes choose the
// host's side of the call (status callback, when to ask for a stop, which
// allocation or stream read fails, which road the input takes), so that
// libFuzzer mutates them along with the file. An input shorter than the
// control bytes is padded with 0, which means: no fault, no cancellation.
#ifndef GIFIMPORT_FUZZ_FUZZ_INPUT_H
#define GIFIMPORT_FUZZ_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "gifimport/win_platform.h"

namespace fuzzin {

using Bytes = std::vector<uint8_t>;

constexpr size_t kControlBytes = 4;

struct SplitInput {
  uint8_t control[kControlBytes] = {};
  Bytes gif;
};
SplitInput Split(const uint8_t* data, size_t size);

// The memory budget of every import a fuzzer makes (set when the fuzzer
// starts): valid images of any size up to it are imported, big ones
// included (2^21 pixels already hold rows longer than a band), and larger
// ones are refused as cheaply as the small ones; each big one costs as much
// as hundreds of small inputs, so the budget is kept low.
constexpr unsigned long long kFuzzBudgetBytes = 16ull << 20;

// A movable global block holding `bytes` (1 zero byte when empty), unlocked;
// null when it cannot be had. The caller frees it.
void* BlockHolding(const Bytes& bytes);

// A host stream over `bytes` (kept by the caller until the next call) that
// serves any user value; StreamCallsFrom counts the calls that came with
// another user value than `expected`.
void ServeStream(const Bytes* bytes, uint32_t expected);
int32_t WINAPI StreamProc(uint32_t userValue, int32_t operation, void* buffer, int32_t value,
                          int32_t origin);
int StrangerStreamCalls();

// True for every number ImportFile may give (0 included).
bool IsImportResult(int32_t result);

// Prints `what` and aborts, so that libFuzzer keeps the input as a crash.
// The replay program prints the file name before.
[[noreturn]] void Finding(const std::string& what);

// Finding() unless every platform block and handle, companion stream,
// document, options block, capture and metafile is released.
void ExpectNothingLive(const char* entry);

// Arms the faults of one call: the nth allocation (1 = the first) and the
// nth stream read fail, and at most one pending companion error from one
// control byte (0: none): bits 0-2 the operation, bits 3-4 after which of
// its calls, bits 5-7 the library code. DisarmFaults switches all off.
void ArmFaults(long allocation, long read, uint8_t library);
void DisarmFaults();

// Deletes a metafile an entry handed back, as a host does.
void DeleteMetafile(HANDLE metafile);

}  // namespace fuzzin

// The entry libFuzzer calls with each input; every *_fuzzer.cpp defines it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

#endif
