// End-to-end harness: imports a GIF through the filter's exports exactly as
// a host does (CreateSetup, ImportRequest and HostContext, ImportFile,
// DestroySetup), by any of the three input roads, and keeps what came out:
// the result, the status calls, the companion call log and the picture.
//
//   e2e::ImportOptions options;
//   options.road = e2e::Road::kMemory;
//   e2e::ImportRun run = e2e::Import(gif.bytes(), options);
//   EXPECT_EQ(run.result, 0);
//   EXPECT_EQ(run.picture->bitmaps.size(), 1u);
#ifndef GIFIMPORT_TESTS_E2E_IMPORT_HOST_H
#define GIFIMPORT_TESTS_E2E_IMPORT_HOST_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "filter/filter_setup.h"
#include "tests/support/recording_host.h"

namespace e2e {

using Bytes = std::vector<uint8_t>;

enum class Road { kFile, kMemory, kStream };
const char* RoadName(Road road);

struct ImportOptions {
  Road road = Road::kFile;
  bool callback = true;       // false: a HostContext without a status callback
  bool context = true;        // false: a request without a HostContext at all
  int cancelAtProgress = 0;   // answer this progress call (1 = first) with a stop
  int32_t followUpAnswer = 1; // answer to the cancellation follow-up
  // Called with the locked setup before the import (the setup fields a
  // profile would fill).
  std::function<void(FilterSetup*)> adjustSetup;
  // Called right before ImportFile (after every block of the harness was
  // made), e.g. to arm an allocation failure.
  std::function<void()> beforeImport;
  // The memory road hands a block that cannot be locked instead.
  bool unlockableMemory = false;
  // The memory and stream roads also pass the path of a file holding the GIF.
  bool alsoPath = false;
  // false: the picture is not copied out (a huge one costs time and memory).
  bool keepPicture = true;
};

struct ImportRun {
  int32_t result = 0;
  std::vector<testhost::StatusCall> calls;  // every status callback call
  std::vector<std::string> log;             // companion calls, JSON each
  std::optional<standin::Picture> picture;  // the document the import destroyed
  std::string live;                         // DescribeLive() after the import
  std::string inputPath;                    // the file the file road read

  // The status calls of one kind; codes of the kind-3 reports.
  std::vector<testhost::StatusCall> OfKind(int32_t kind) const;
  std::vector<int32_t> Errors() const;
  // "op" of every log entry, in order.
  std::vector<std::string> Ops() const;
};

// Runs one import of `gif`. Nothing the harness made is left live.
ImportRun Import(const Bytes& gif, const ImportOptions& options = {});

// A fresh setup as a host makes it (no profile to be found); null if none.
HGLOBAL NewSetup();

// A file in the harness's scratch directory holding `bytes`.
std::string WriteScratchFile(const std::string& name, const Bytes& bytes);
Bytes ReadWholeFile(const std::string& path);

// The value of "key" in a log entry (its JSON text, quotes kept), or "".
std::string LogField(const std::string& entry, const std::string& key);

}  // namespace e2e

#endif
