// End-to-end harness: imports a GIF through the filter's exports exactly as
// a host does (CreateSetup, ImportRequest and HostContext, ImportFile,
// DestroySetup), by any of the three input kinds, and keeps what came out:
// the result, the status calls, the companion call log and the picture.
#ifndef GIFIMPORT_TESTS_E2E_IMPORT_HOST_H
#define GIFIMPORT_TESTS_E2E_IMPORT_HOST_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "gifimport/filter_api.h"
#include "core/filter_setup.h"
#include "core/input_source.h"
#include "tests/support/recording_host.h"
#include "tests/support/table.h"

#ifdef _WIN32
#include <stdlib.h>
// WINDIR steers only the Linux stand-in's Windows directory; set it the POSIX way.
inline int setenv(const char* name, const char* value, int) { return _putenv_s(name, value); }
#endif

namespace e2e {

using Bytes = std::vector<uint8_t>;

struct ImportOptions {
  gifin::InputKind input = gifin::InputKind::kFile;
  bool alsoPath = false;                 // memory and host stream input also pass a path to the GIF
  bool unlockableMemory = false;         // memory input hands a discarded block, whatever the GIF
  bool callback = true, context = true;  // false: no status callback; no HostContext at all
  int cancelAtProgress = 0;              // answer this progress call (1 = first) with a stop
  int32_t followUpAnswer = 1;            // answer to the cancellation follow-up
  std::string openName, startName;       // ImportFile's strings
  std::optional<std::string> inputPath;  // in place of the harness's own
  std::function<void(FilterSetup*)> adjustSetup;      // the locked setup, as a profile fills it
  std::function<void(ImportRequest*)> adjustRequest;  // the request, once the harness filled it
  std::function<void()> beforeImport;  // right before ImportFile, e.g. to arm a failure
};

struct ImportRun {
  int32_t result = 0;
  std::vector<testhost::StatusCall> calls;  // every status callback call
  std::vector<std::string> log;             // companion calls, JSON each
  std::optional<standin::Picture> picture;  // the document the import destroyed
  std::string live;                         // DescribeLive() after the import
  bool recordsKept = false;  // the request, context and memory block as the host left them
  // The status calls of one kind; codes of the kind-3 reports; "op" of each log entry.
  std::vector<testhost::StatusCall> OfKind(int32_t kind) const;
  std::vector<int32_t> Errors() const;
  std::vector<std::string> Ops() const;
};

// Runs one import of `gif`: nothing it made stays live, its faults and budget end with it.
ImportRun Import(const Bytes& gif, const ImportOptions& options = {});

// A file in the harness's scratch directory (the first call also points the
// Windows directory away from any profile on the machine).
std::string WriteScratchFile(const std::string& name, const Bytes& bytes);
inline Bytes ReadWholeFile(const std::string& path) {
  const std::string bytes = testtable::ReadBytes(path);
  return Bytes(bytes.begin(), bytes.end());
}
// A movable block holding `bytes` (discarded, locking to null, when empty).
HGLOBAL MemoryBlockOf(const Bytes& bytes);

// Host streams over byte strings the caller keeps: ByteStreamProc serves
// the user value OpenByteStream gave until CloseByteStream.
uint32_t OpenByteStream(const Bytes& bytes);
void CloseByteStream(uint32_t userValue);
int32_t WINAPI ByteStreamProc(uint32_t userValue, int32_t operation, void* buffer, int32_t value,
                              int32_t origin);
// The same for an options block to carry: user value 0 is userZeroStream's.
extern uint32_t userZeroStream;
int32_t WINAPI UserZeroStreamProc(uint32_t userValue, int32_t operation, void* buffer,
                                  int32_t value, int32_t origin);

// The metafile entries (on GetFilterInfo's block, capture value 77) and
// GetFileInfo (into a 60-byte record, 12 bytes behind it) as a host calls them
// on `gif`: by a file (the memory block beside it), the memory block alone, a
// host stream, or (ImportGR) the block's stream function of user value 0.
// `arm` runs right before the call; `wrong` says what is amiss afterwards.
enum class Entry {
  kGRFile,
  kGRMemory,
  kGRBlockStream,
  kCBStream,
  kCBMemory,
  kEmbeddedFile,
  kEmbeddedMemory,
  kInfoFile,
  kInfoMemory,
  kInfoStream
};
struct EntryRun {
  int32_t result = 0;
  ImportResult frame{};  // its metafile deleted
  FileInfoRecord record{};
  std::vector<std::string> log;  // companion calls of the entry
  std::string wrong;
};
EntryRun CallEntry(Entry entry, const Bytes& gif, const std::function<void()>& arm);

// The 24 persistent bytes of a host's options block.
std::vector<uint8_t> PersistentBytes(HGLOBAL optionsBlock);
// A metafile entry's result when its capture ended well: 0, or
// kQvCaptureNoMetafile where the stand-in cannot write a metafile.
int32_t CaptureSuccess();

// The value of "key" in a log entry (its JSON text, quotes kept), or "".
std::string LogField(const std::string& entry, const std::string& key);

}  // namespace e2e

#endif
