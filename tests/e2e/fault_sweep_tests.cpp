// Every allocation, every library error and every stream read failing in
// turn, on every road into the filter: each run ends with a number the host
// hears, nothing stays live or is touched after it was freed, and the host's
// records hold only what the entry writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "gifimport/filter_api.h"
#include "platform/platform_test.h"
#include "tests/e2e/import_host.h"

namespace {

using e2e::Bytes;

// How many a complete run makes, how the nth is made to fail, and the number
// that failure ends an import with (library code 303 translates to 15).
const struct Fault {
  const char* name;
  long (*made)();
  void (*arm)(long n);
  int32_t number;
} kFaults[] = {
    {"allocation", PlatformAllocationCount, PlatformFailAllocationAt, 27},
    {"library error after document call", StandInDocumentCalls,
     [](long n) { StandInSetPendingErrorAfter("*", static_cast<int>(n), 303, 0); }, 15},
    {"stream read", StandInStreamReadCalls, StandInFailStreamReadAt, 21},
};
enum { kAllocation, kLibraryError, kRead };

// A road runs one whole entry on the GIF, calling `arm` right before it, and
// gives the entry's result and what it found wrong afterwards with the host's
// records and the live objects ("" when nothing).
using Arming = std::function<void()>;
struct Outcome {
  int32_t result = 0;
  std::string wrong;
};
std::string gifPath;  // the GIF swept, as a file

Outcome ByImportFile(e2e::Road road, const Bytes& gif, const Arming& arm) {
  e2e::ImportOptions options;
  options.road = road;
  if (road == e2e::Road::kFile) options.inputPath = gifPath;
  options.beforeImport = arm;
  const e2e::ImportRun run = e2e::Import(gif, options);
  std::string wrong = run.live + (run.recordsKept ? "" : " host records changed");
  if (run.Errors() != (run.result ? std::vector<int32_t>{run.result} : std::vector<int32_t>{}))
    wrong += " reports";
  return {run.result, wrong};
}

// Each run ends with the fault's number, but:
//  - an entry's first allocation is its setup's: 5315, nothing imported;
//  - a library error left after the filter's last query (the last two
//    document calls: the final QvGetError and QvDocClose) is never asked for;
//  - a read failing where a block begins is the end of the data, which ends
//    the picture like the trailer: one such run per block;
//  - a read failing while a screen of size 0 is looked for in the first
//    image descriptor reaches no image: -23.
TEST(FaultSweep, EveryFaultOnEveryRoadEndsWithAReportedNumberAndNothingLive) {
  using E = e2e::Entry;
  const struct {
    const char* name;
    int road;  // an e2e::Road, or -1 for an entry
    E entry;
  } roads[] = {{"ImportFile by file", 0, E::kGRFile},
               {"ImportFile by memory", 1, E::kGRFile},
               {"ImportFile by stream", 2, E::kGRFile},
               {"ImportGR by file", -1, E::kGRFile},
               {"ImportGR by memory", -1, E::kGRMemory},
               {"ImportGR by the block's stream", -1, E::kGRBlockStream},
               {"ImportEmbeddedGR", -1, E::kEmbeddedFile},
               {"ImportCB", -1, E::kCBStream},
               {"GetFileInfo by file", -1, E::kInfoFile},
               {"GetFileInfo by memory", -1, E::kInfoMemory},
               {"GetFileInfo by stream", -1, E::kInfoStream}};
  const struct {
    Bytes gif;
    long blocks, recoveryReads;
  } gifs[] = {// A local palette, an interlaced image whose data spans sub-blocks,
              // plain text, a comment, the control and application blocks: 7 blocks.
              {e2e::ReadWholeFile(GIFIMPORT_CASES "/sweep.gif"), 7, 0},
              // A screen of size 0, taken from the image behind the comment: 3 blocks.
              {e2e::ReadWholeFile(GIFIMPORT_CASES "/zero-screen.gif"), 3, 5}};
  long runs[3] = {};
  for (const auto& [gif, blocks, recoveryReads] : gifs) {
    gifPath = e2e::WriteScratchFile("sweep.gif", gif);
    for (const auto& road : roads) {
      const auto run = [&road, &gif = gif](const Arming& arm) {
        if (road.road < 0) {
          const e2e::EntryRun entry = e2e::CallEntry(road.entry, gif, arm);
          return Outcome{entry.result, entry.wrong};
        }
        return ByImportFile(static_cast<e2e::Road>(road.road), gif, arm);
      };
      const bool info = road.entry >= E::kInfoFile, captured = road.road < 0 && !info;
      const int32_t ended = captured ? e2e::CaptureSuccess() : 0;
      for (int f : {kAllocation, kLibraryError, kRead}) {
        const Fault& fault = kFaults[f];
        long start = 0;
        const Outcome reference = run([&] { start = fault.made(); });
        const long made = fault.made() - start;
        ASSERT_EQ(std::to_string(reference.result) + reference.wrong, std::to_string(ended))
            << road.name;
        std::vector<int32_t> results, expected(static_cast<size_t>(made), fault.number);
        for (long n = 1; n <= made; ++n) {
          SCOPED_TRACE(std::string(road.name) + ", " + fault.name + " " + std::to_string(n));
          const Outcome out = run([&] { fault.arm(n); });
          StandInResetFaults();
          EXPECT_EQ(out.wrong, "");
          results.push_back(out.result);
        }
        runs[f] += made;
        if (f == kAllocation && captured && made > 0) expected[0] = kHostNoOptionsOrSetup;
        if (f == kLibraryError)
          std::fill(expected.end() - std::min(made, 2L), expected.end(), ended);
        if (f == kRead) std::fill_n(expected.begin() + 1, recoveryReads, -23);
        if (f == kRead && !info) {
          EXPECT_EQ(std::count(results.begin(), results.end(), ended), blocks) << road.name;
          std::replace(results.begin(), results.end(), ended, fault.number);
        }
        EXPECT_EQ(results, expected) << road.name << ", " << fault.name;
      }
    }
  }
  std::printf(
      "fault sweep: %ld runs with an allocation failing, %ld with a library error, %ld with a read "
      "failing\n",
      runs[kAllocation], runs[kLibraryError], runs[kRead]);
}

}  // namespace
