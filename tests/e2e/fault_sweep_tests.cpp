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

std::string LeftLocked(HGLOBAL block) {
  return GlobalLock(block) && GlobalUnlock(block) != FALSE ? " memory left locked" : "";
}

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

// ImportGR (by file, memory, or the stream function of user value 0 that
// the block carries), ImportEmbeddedGR and ImportCB, on a block from
// GetFilterInfo; GetFileInfo into a 60-byte record with 12 bytes behind it.
enum Entry { kGRFile, kGRMemory, kGRStream, kEmbedded, kCB, kInfoFile, kInfoMemory, kInfoStream };
uint32_t streamValue = 0;
int32_t WINAPI UserZeroStream(uint32_t, int32_t op, void* buffer, int32_t value, int32_t origin) {
  return e2e::ByteStreamProc(streamValue, op, buffer, value, origin);
}

Outcome ByEntry(Entry entry, const Bytes& gif, const Arming& arm) {
  HGLOBAL options = nullptr;
  GetFilterInfo(0, 0, &options, 0);
  if (entry == kGRStream)
    EscapeSetup(options, 0x51, 4, reinterpret_cast<void*>(&UserZeroStream), nullptr, 0);
  SourceDescriptor source{};
  if (entry != kGRMemory) std::snprintf(source.path, sizeof source.path, "%s", gifPath.c_str());
  source.memory = e2e::MemoryBlockOf(gif);
  streamValue = e2e::OpenByteStream(gif);
  std::vector<uint8_t> persistent = e2e::PersistentBytes(options), area(72, 0xEE);
  std::fill(area.begin(), area.begin() + 4, 0);
  area[0] = 60;
  auto* record = reinterpret_cast<FileInfoRecord*>(area.data());
  const auto memory = reinterpret_cast<uintptr_t>(source.memory);
  ImportResult result{};
  arm();
  Outcome out;
  if (entry == kEmbedded) out.result = ImportEmbeddedGR(0, &source, &result, options, 0, "Start");
  if (entry == kCB)
    out.result = ImportCB(0, &source, &result, options, streamValue, e2e::ByteStreamProc);
  if (entry <= kGRStream) out.result = ImportGR(0, &source, &result, options);
  if (entry == kInfoFile) out.result = GetFileInfo(gifPath.c_str(), record, 0, nullptr);
  if (entry == kInfoMemory) out.result = GetFileInfo("", record, memory, nullptr);
  if (entry == kInfoStream) out.result = GetFileInfo("", record, streamValue, e2e::ByteStreamProc);
  PlatformFailAllocationAt(0);
  StandInFailStreamReadAt(0);
  if (out.result == 0 && GetObjectType(result.metafile) == OBJ_ENHMETAFILE) {
    DeleteEnhMetaFile(static_cast<HENHMETAFILE>(result.metafile));
  } else if (result.metafile != nullptr) {
    out.wrong += " a metafile beside a failure";
  }
  // ImportCB leaves its stream function in the block once a setup took it.
  const HostStreamProc function = &e2e::ByteStreamProc;
  const std::vector<uint8_t> after = e2e::PersistentBytes(options);
  if (entry == kCB && after != persistent)
    std::memcpy(persistent.data(), &function, sizeof function);
  if (after != persistent) out.wrong += " persistent bytes changed";
  if (std::count(area.begin() + 60, area.end(), 0xEE) != 12)
    out.wrong += " written past the record";
  const bool cleared = std::count(area.begin() + 4, area.begin() + 60, 0) == 56;
  if (entry >= kInfoFile && out.result != 0 && !cleared)
    out.wrong += " items stored with a failure";
  out.wrong += LeftLocked(source.memory);
  e2e::CloseByteStream(streamValue);
  GlobalFree(source.memory);
  GlobalFree(options);
  out.wrong += testhost::DescribeLive();
  return out;
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
  const struct {
    const char* name;
    int road;  // an e2e::Road, or -1 for an entry
    Entry entry;
  } roads[] = {
      {"ImportFile by file", 0, kGRFile},        {"ImportFile by memory", 1, kGRFile},
      {"ImportFile by stream", 2, kGRFile},      {"ImportGR by file", -1, kGRFile},
      {"ImportGR by memory", -1, kGRMemory},     {"ImportGR by the block's stream", -1, kGRStream},
      {"ImportEmbeddedGR", -1, kEmbedded},       {"ImportCB", -1, kCB},
      {"GetFileInfo by file", -1, kInfoFile},    {"GetFileInfo by memory", -1, kInfoMemory},
      {"GetFileInfo by stream", -1, kInfoStream}};
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
        if (road.road < 0) return ByEntry(road.entry, gif, arm);
        return ByImportFile(static_cast<e2e::Road>(road.road), gif, arm);
      };
      const bool info = road.entry >= kInfoFile, captured = road.road < 0 && !info;
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
