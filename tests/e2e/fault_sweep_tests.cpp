// Every allocation, every library error and every stream read failing in
// turn, on every road into the filter: each run ends with a number the host
// hears, nothing stays live or is touched after it was freed, and the host's
// records hold only what the entry writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform_test.h"
#include "tests/e2e/import_host.h"

using namespace gifin;

namespace {

using E = e2e::Entry;

// How many a complete run makes, how the nth is made to fail, and the number
// that failure ends an import with (library code 303 translates to 15).
const struct {
  const char* name;
  long (*made)();
  void (*arm)(long n);
  int32_t number;
} kFaults[] = {
    {"allocation", PlatformAllocationCount, PlatformFailAllocationAt, 27},
    {"library error after document call", StandInDocumentCalls,
     [](long n) { StandInSetPendingErrorAfter("*", static_cast<int>(n), kQvErr303, 0); }, 15},
    {"stream read", StandInStreamReadCalls, StandInFailStreamReadAt, 21},
    {"library stop after document call", StandInDocumentCalls,
     [](long n) { StandInSetPendingErrorAfter("*", static_cast<int>(n), kQvErrStop, 0); }, 61},
};
constexpr int kFaultKinds = sizeof kFaults / sizeof kFaults[0];

// Roads 0 to 2 are ImportFile by file, memory and stream; the others are
// these entries (ImportGR also by the stream function its block carries).
const E kEntries[] = {E::kGRFile,   E::kGRMemory, E::kGRBlockStream, E::kEmbeddedFile,
                      E::kCBStream, E::kInfoFile, E::kInfoMemory,    E::kInfoStream};
constexpr int kRoads = 3 + sizeof kEntries / sizeof kEntries[0], kFirstInfo = kRoads - 3;

// One whole run on `gif` (also at `path`), `arm` called right before it: its
// result, and what is amiss with the records, reports and live objects.
// The host (a metafile capture on the entries) answers a stop to progress
// call `stopAt`, 0 for none.
std::pair<int32_t, std::string> RunRoad(int road, const e2e::Bytes& gif, const std::string& path,
                                        const std::function<void()>& arm, int stopAt = 0) {
  if (road >= 3) {
    const e2e::EntryRun run = e2e::CallEntry(kEntries[road - 3], gif, [&] {
      if (arm) arm();
      StandInStopCaptureAtProgress(stopAt);
    });
    return {run.result, run.wrong};
  }
  e2e::ImportOptions options;
  options.input = static_cast<InputKind>(road);
  options.cancelAtProgress = stopAt;
  options.inputPath = road == 0 ? std::optional<std::string>(path) : std::nullopt;
  options.beforeImport = arm;
  const e2e::ImportRun run = e2e::Import(gif, options);
  // A stop found by a progress check gives the picture up unreported.
  const bool reported =
      run.Errors() == (run.result ? std::vector<int32_t>{run.result} : std::vector<int32_t>{}) ||
      (run.result == kErrCancelled && run.Errors().empty());
  return {run.result, run.live + (run.recordsKept ? "" : " host records changed") +
                          (reported ? "" : " reports")};
}

// Each run ends with the fault's number, but:
//  - an entry's first allocation is its setup's: 5315, nothing imported;
//  - a library error or stop left after the filter's last query (the last
//    two document calls: the final QvGetError and QvDocClose) is never
//    asked for; every earlier stop ends a metafile entry as stopped too;
//  - a read failing where a block begins is the end of the data, which ends
//    the picture like the trailer: one such run per block;
//  - a read failing while a screen of size 0 is looked for in the first
//    image descriptor reaches no image: -23.
TEST(FaultSweep, EveryFaultOnEveryRoadEndsWithAReportedNumberAndNothingLive) {
  // Each GIF's blocks and the reads of its screen size's recovery (a screen
  // of size 0 in zero-screen.gif; sweep.gif has every kind of block).
  const struct {
    std::string file;
    long blocks, recoveryReads;
  } gifs[] = {{"/sweep.gif", 7, 0}, {"/zero-screen.gif", 3, 5}};
  long runs[kFaultKinds] = {};
  for (const auto& g : gifs) {
    const e2e::Bytes gif = e2e::ReadWholeFile(GIFIMPORT_CASES + g.file);
    const std::string path = e2e::WriteScratchFile("sweep.gif", gif);
    for (int road = 0; road < kRoads; ++road) {
      const bool info = road >= kFirstInfo, captured = road >= 3 && !info;
      const int32_t ended = captured ? e2e::CaptureSuccess() : 0;
      for (int f = 0; f < kFaultKinds; ++f) {
        SCOPED_TRACE(g.file + ", road " + std::to_string(road) + ", " + kFaults[f].name);
        long start = 0;
        const auto reference = RunRoad(road, gif, path, [&] { start = kFaults[f].made(); });
        const long made = kFaults[f].made() - start;
        ASSERT_EQ(std::to_string(reference.first) + reference.second, std::to_string(ended));
        std::vector<int32_t> results, expected(static_cast<size_t>(made), kFaults[f].number);
        for (long n = 1; n <= made; ++n) {
          const auto out = RunRoad(road, gif, path, [&] { kFaults[f].arm(n); });
          EXPECT_EQ(out.second, "") << "failing at " << n;
          results.push_back(out.first);
        }
        runs[f] += made;
        if (f == 0 && captured && made > 0) expected[0] = kHostNoOptionsOrSetup;
        if (f == 1 || f == 3) std::fill(expected.end() - std::min(made, 2L), expected.end(), ended);
        if (f == 2) std::fill_n(expected.begin() + 1, g.recoveryReads, -23);
        if (f == 2 && !info) {
          EXPECT_EQ(std::count(results.begin(), results.end(), ended), g.blocks);
          std::replace(results.begin(), results.end(), ended, kFaults[f].number);
        }
        EXPECT_EQ(results, expected);
      }
    }
  }
  std::printf(
      "fault sweep: %ld, %ld, %ld and %ld runs with an allocation, a library error, a "
      "read, a library stop\n",
      runs[0], runs[1], runs[2], runs[3]);
}

// A stop the host answers at any progress call ends ImportFile with 61,
// unreported, and a metafile entry as stopped, with no metafile.
TEST(FaultSweep, AStopAtEveryProgressCallEndsEveryImportRoadAsStopped) {
  const e2e::Bytes gif = e2e::ReadWholeFile(GIFIMPORT_CASES "/sweep.gif");
  const std::string path = e2e::WriteScratchFile("sweep.gif", gif);
  const e2e::ImportRun whole = e2e::Import(gif);
  ASSERT_EQ(whole.result, 0);
  const int progress =
      static_cast<int>(std::count_if(whole.calls.begin(), whole.calls.end(), [](auto& c) {
        return c.kind == kStatusProgress && c.code == kStatusCodeProgress;
      }));
  ASSERT_GT(progress, 2);
  for (int road = 0; road < kFirstInfo; ++road) {
    std::vector<int32_t> results, expected(static_cast<size_t>(progress), kErrCancelled);
    expected.push_back(road < 3 ? 0 : e2e::CaptureSuccess());
    for (int n = 1; n <= progress + 1; ++n) {
      const auto out = RunRoad(road, gif, path, nullptr, n);
      EXPECT_EQ(out.second, "") << "road " << road << ", stop at " << n;
      results.push_back(out.first);
    }
    EXPECT_EQ(results, expected) << "road " << road;
  }
}

}  // namespace
