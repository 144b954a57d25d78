// What the fuzz entry points share: how an input is split into control bytes
// and GIF bytes, the check that nothing is left live, and how a broken
// expectation ends the run.
//
// Every input is  [control bytes][GIF bytes]. The control bytes choose the
// host's side of the import (status callback, when to ask for a stop, which
// allocation or stream read fails), so that libFuzzer mutates them along
// with the file. An input shorter than the control bytes is padded with 0,
// which means: no fault, no cancellation.
#ifndef GIFIMPORT_FUZZ_FUZZ_INPUT_H
#define GIFIMPORT_FUZZ_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzin {

using Bytes = std::vector<uint8_t>;

constexpr size_t kControlBytes = 4;

struct SplitInput {
  uint8_t control[kControlBytes] = {};
  Bytes gif;
};
SplitInput Split(const uint8_t* data, size_t size);

// Images of 2^21 to 2^30 pixels are valid (the platform refuses blocks above
// 1 GB, so anything larger fails at once with 27), but each costs as much as
// hundreds of small inputs: fresh megabytes to fault in, twice over with the
// stand-in's copy of the bands. True when some ',' in `gif` is followed by
// such a width x height: the entry points skip those inputs and leave big
// images to the end-to-end tests and the benchmarks. 2^21 pixels still hold
// rows longer than a band (width 65535, 32 rows). The scan is loose on
// purpose: the filter's block loop reads image descriptors wherever a ','
// falls between blocks, also inside data it did not consume.
bool MayHoldCostlyImage(const Bytes& gif);

// A movable global block holding `bytes` (1 zero byte when empty), unlocked;
// null when it cannot be had. The caller frees it.
void* BlockHolding(const Bytes& bytes);

// True for every number ImportFile may give (0 included).
bool IsImportResult(int32_t result);

// Prints `what` with the input's size and aborts, so that libFuzzer keeps the
// input as a crash. The replay program prints the file name before.
[[noreturn]] void Finding(const std::string& what);

// Finding() unless every platform block and handle, companion stream,
// document, options block, capture and metafile is released.
void ExpectNothingLive(const char* entry);

// Arms at most one pending companion error from one control byte (0: none):
// bits 0-2 the operation, bits 3-4 after which of its calls, bits 5-7 the
// library code.
void ArmLibraryFault(uint8_t control);

}  // namespace fuzzin

#endif
