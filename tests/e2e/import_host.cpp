#include "tests/e2e/import_host.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>

#include "platform/platform_test.h"
#include "platform/locked_global.h"

using namespace gifin;

namespace e2e {
namespace {

namespace fs = std::filesystem;

// One scratch directory per test program, removed at exit. The Windows
// directory points into it, so no profile on the machine reaches a setup.
const fs::path& ScratchPath() {
  static const struct Scratch {
    fs::path path =
        fs::temp_directory_path() / ("gifin-e2e-" + std::to_string(std::random_device()()));
    Scratch() {
      if (!fs::create_directory(path)) throw std::runtime_error("no fresh scratch directory");
      setenv("WINDIR", (path / "no-windows-directory").string().c_str(), 1);
    }
    ~Scratch() {
      std::error_code ignored;
      fs::remove_all(path, ignored);
    }
  } scratch;
  return scratch.path;
}

// A host stream is served on the thread that imports from it.
thread_local std::map<uint32_t, std::pair<const Bytes*, int64_t>> streams;  // bytes, position
thread_local uint32_t nextStreamValue = 0x57AE0001u;

}  // namespace

uint32_t userZeroStream = 0;
int32_t WINAPI UserZeroStreamProc(uint32_t user, int32_t op, void* buffer, int32_t value,
                                  int32_t origin) {
  return ByteStreamProc(user == 0 ? userZeroStream : user, op, buffer, value, origin);
}

uint32_t OpenByteStream(const Bytes& bytes) {
  streams[nextStreamValue] = {&bytes, 0};
  return nextStreamValue++;
}

void CloseByteStream(uint32_t userValue) { streams.erase(userValue); }

int32_t WINAPI ByteStreamProc(uint32_t userValue, int32_t operation, void* buffer, int32_t value,
                              int32_t origin) {
  auto found = streams.find(userValue);
  if (found == streams.end()) return -1;
  const Bytes& bytes = *found->second.first;
  int64_t& position = found->second.second;
  const auto size = static_cast<int64_t>(bytes.size());
  if (operation == kHostStreamRead) {
    if (value < 0 || buffer == nullptr) return -1;
    const int64_t n = std::max<int64_t>(0, std::min<int64_t>(value, size - position));
    if (n > 0) std::memcpy(buffer, bytes.data() + position, static_cast<size_t>(n));
    position += n;
    return static_cast<int32_t>(n);
  }
  if (operation == kHostStreamSeek) {
    const int64_t to = (origin == 0 ? 0 : origin == 1 ? position : size) + value;
    if (origin < 0 || origin > 2 || to < 0) return -1;
    return static_cast<int32_t>(position = to);
  }
  return operation == kHostStreamTell ? static_cast<int32_t>(position) : -1;
}

HGLOBAL MemoryBlockOf(const Bytes& bytes) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes.size());
  LockedGlobal address(block);
  if (address && !bytes.empty()) std::memcpy(address.As<void>(), bytes.data(), bytes.size());
  return block;
}

std::vector<testhost::StatusCall> ImportRun::OfKind(int32_t kind) const {
  std::vector<testhost::StatusCall> out;
  for (const testhost::StatusCall& c : calls)
    if (c.kind == kind) out.push_back(c);
  return out;
}

std::vector<int32_t> ImportRun::Errors() const {
  std::vector<int32_t> codes;
  for (const testhost::StatusCall& c : OfKind(kStatusError)) codes.push_back(c.code);
  return codes;
}

std::vector<std::string> ImportRun::Ops() const {
  std::vector<std::string> ops;
  for (const std::string& entry : log) {
    const std::string op = LogField(entry, "op");
    ops.push_back(op.size() >= 2 ? op.substr(1, op.size() - 2) : op);
  }
  return ops;
}

std::vector<uint8_t> PersistentBytes(HGLOBAL optionsBlock) {
  std::vector<uint8_t> bytes(kPersistentOptionsBytes);
  QvOptionsControl(optionsBlock, kQvOptionFetchPersistent, static_cast<int32_t>(bytes.size()),
                   nullptr, bytes.data(), 0);
  return bytes;
}

int32_t CaptureSuccess() {
  std::vector<uint8_t> bytes;
  std::string error;
  standin::Picture picture;
  picture.frame[2] = picture.frame[3] = 2;
  return StandInWriteEmf(picture, &bytes, &error) == 0 ? 0 : kQvCaptureNoMetafile;
}

std::string LogField(const std::string& entry, const std::string& key) {
  const std::string needle = "\"" + key + "\":";
  const size_t at = entry.find(needle);
  if (at == std::string::npos) return "";
  // To the comma or bracket that ends the value, past the lists and the
  // texts (with their escapes) inside it.
  size_t end = at + needle.size();
  for (int depth = 0; end < entry.size() && (depth > 0 || !std::strchr(",]}", entry[end])); ++end) {
    if (entry[end] == '"')
      while (++end < entry.size() && entry[end] != '"') end += entry[end] == '\\';
    end = std::min(end, entry.size());  // an unended text ends the value
    depth += (entry[end] == '[' || entry[end] == '{') - (entry[end] == ']' || entry[end] == '}');
  }
  return entry.substr(at + needle.size(), end - at - needle.size());
}

std::string WriteScratchFile(const std::string& name, const Bytes& bytes) {
  const std::string path = (ScratchPath() / name).string();
  std::ofstream(path, std::ios::binary) << std::string(bytes.begin(), bytes.end());
  return path;
}

EntryRun CallEntry(Entry entry, const Bytes& gif, const std::function<void()>& arm) {
  const std::string path = WriteScratchFile("entry.gif", gif);
  HGLOBAL options = nullptr;
  GetFilterInfo(0, 0, &options, 0);
  const int32_t captureValue = 77;
  QvOptionsControl(options, kQvOptionCaptureValue, 4, &captureValue, nullptr, 0);
  if (entry == Entry::kGRBlockStream)
    EscapeSetup(options, kEscapeStreamFunction, kEscapeValueBytes,
                reinterpret_cast<void*>(&UserZeroStreamProc), nullptr, 0);
  SourceDescriptor source{};
  if (entry != Entry::kGRMemory && entry != Entry::kCBMemory && entry != Entry::kEmbeddedMemory)
    std::snprintf(source.path, sizeof source.path, "%s", path.c_str());
  source.memory = MemoryBlockOf(gif);
  userZeroStream = OpenByteStream(gif);
  std::vector<uint8_t> persistent = PersistentBytes(options), area(72, 0xEE);
  area[0] = 60, area[1] = area[2] = area[3] = 0;
  auto* record = reinterpret_cast<FileInfoRecord*>(area.data());
  EntryRun run;
  StandInClearLog();
  const unsigned long long budget = PlatformMemoryBudget();
  if (arm) arm();
  ImportResult& r = run.frame;
  const auto memory = reinterpret_cast<uintptr_t>(source.memory);
  if (entry <= Entry::kGRBlockStream) run.result = ImportGR(0, &source, &r, options);
  if (entry == Entry::kCBStream || entry == Entry::kCBMemory)
    run.result = ImportCB(0, &source, &r, options, userZeroStream,
                          entry == Entry::kCBStream ? ByteStreamProc : nullptr);
  if (entry == Entry::kEmbeddedFile || entry == Entry::kEmbeddedMemory)
    run.result = ImportEmbeddedGR(0, &source, &r, options, 0, "Start");
  if (entry == Entry::kInfoFile) run.result = GetFileInfo(path.c_str(), record, 0, nullptr);
  if (entry == Entry::kInfoMemory) run.result = GetFileInfo("", record, memory, nullptr);
  if (entry == Entry::kInfoStream)
    run.result = GetFileInfo("", record, userZeroStream, ByteStreamProc);
  for (int i = 0; i < StandInLogSize(); ++i) run.log.push_back(StandInLogEntry(i));
  PlatformFailAllocationAt(0), PlatformSetMemoryBudget(budget), StandInResetFaults();
  StandInForgetPictures();
  std::memcpy(&run.record, record, sizeof run.record);
  if (run.result == 0 && GetObjectType(r.metafile) == OBJ_ENHMETAFILE) {
    DeleteEnhMetaFile(static_cast<HENHMETAFILE>(r.metafile));
  } else if (r.metafile != nullptr) {
    run.wrong += " a metafile beside a failure";
  } else if (run.result == 0 && entry < Entry::kInfoFile) {
    run.wrong += " success without a metafile";
  }
  // ImportCB leaves its stream function in the block once a setup took it.
  const HostStreamProc function = &ByteStreamProc;
  const std::vector<uint8_t> after = PersistentBytes(options);
  if (entry == Entry::kCBStream && after != persistent)
    std::memcpy(persistent.data(), &function, sizeof function);
  if (after != persistent) run.wrong += " persistent bytes changed";
  if (std::count(area.begin() + 60, area.end(), 0xEE) != 12)
    run.wrong += " written past the record";
  if (entry >= Entry::kInfoFile && run.result != 0 &&
      std::count(area.begin() + 4, area.begin() + 60, 0) != 56)
    run.wrong += " items stored with a failure";
  if (GlobalLock(source.memory) && GlobalUnlock(source.memory) != FALSE)
    run.wrong += " memory left locked";
  CloseByteStream(userZeroStream);
  if (GlobalFree(source.memory) != nullptr) run.wrong += " the host's block was freed";
  GlobalFree(options);
  run.wrong += testhost::DescribeLive();
  return run;
}

ImportRun Import(const Bytes& gif, const ImportOptions& options) {
  ImportRun run;
  ScratchPath();
  HGLOBAL setup = CreateSetup(nullptr, nullptr, nullptr, 0);
  if (options.adjustSetup) options.adjustSetup(LockedGlobal(setup).As<FilterSetup>());

  testhost::RecordingHost host;
  if (options.cancelAtProgress > 0) host.AnswerProgress(options.cancelAtProgress, 1);
  host.AnswerFollowUp(options.followUpAnswer);
  HostContext context = {};
  if (options.callback) host.Attach(&context);
  ImportRequest request = {};
  request.setupHandle = setup;
  request.hostContext = options.context ? &context : nullptr;

  const std::string path = options.inputPath.value_or(
      options.input == InputKind::kFile || options.alsoPath ? WriteScratchFile("input.gif", gif)
                                                            : "");
  if (options.input ==
      InputKind::kMemory)  // a zero-sized movable block is discarded: locks to null
    context.inputMemory =
        options.unlockableMemory ? GlobalAlloc(GMEM_MOVEABLE, 0) : MemoryBlockOf(gif);
  if (options.input == InputKind::kHostStream) {
    request.streamUserValue = OpenByteStream(gif);
    EscapeSetup(setup, kEscapeStreamFunction, kEscapeValueBytes,
                reinterpret_cast<void*>(&ByteStreamProc), nullptr, 0);
  }
  HGLOBAL memory = context.inputMemory;
  const uint32_t stream = request.streamUserValue;
  if (options.adjustRequest) options.adjustRequest(&request);

  StandInForgetPictures();
  StandInClearLog();
  unsigned char requestBefore[sizeof request], contextBefore[sizeof context];  // padding too
  std::memcpy(requestBefore, &request, sizeof request);
  std::memcpy(contextBefore, &context, sizeof context);
  const unsigned long long budget = PlatformMemoryBudget();
  if (options.beforeImport) options.beforeImport();
  run.result =
      ImportFile(0, options.openName.c_str(), options.startName.c_str(), path.c_str(), &request);
  PlatformFailAllocationAt(0), PlatformSetMemoryBudget(budget), StandInResetFaults();
  run.recordsKept = std::memcmp(&request, requestBefore, sizeof request) == 0 &&
                    std::memcmp(&context, contextBefore, sizeof context) == 0 &&
                    (memory == nullptr || !GlobalLock(memory) || GlobalUnlock(memory) == FALSE);

  for (int i = 0; i < StandInLogSize(); ++i) run.log.push_back(StandInLogEntry(i));
  if (const standin::Picture* picture = StandInLastPicture()) run.picture = *picture;
  StandInForgetPictures();
  run.calls = host.calls();

  if (memory != nullptr) GlobalFree(memory);
  CloseByteStream(stream);
  DestroySetup(setup);
  run.live = testhost::DescribeLive();
  return run;
}

}  // namespace e2e
