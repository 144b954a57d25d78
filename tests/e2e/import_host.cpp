#include "tests/e2e/import_host.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>

#include "filter/filter_api.h"
#include "platform/platform_test.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

// One scratch directory per test program, removed at exit. The Windows
// directory points into it, so no profile on the machine reaches a setup.
class Scratch {
 public:
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "gifin-e2e-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    setenv("WINDIR", (fs::path(path_) / "no-windows-directory").c_str(), 1);
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

Scratch& TheScratch() {
  static Scratch scratch;
  return scratch;
}

// Host streams over byte strings, found by their user value.
struct ByteStream {
  const Bytes* bytes = nullptr;
  int64_t position = 0;
};
std::map<uint32_t, ByteStream>& Streams() {
  static std::map<uint32_t, ByteStream> streams;
  return streams;
}
uint32_t nextStreamValue = 0x57AE0001u;

int32_t WINAPI ByteStreamProc(uint32_t userValue, int32_t operation, void* buffer, int32_t value,
                              int32_t origin) {
  auto found = Streams().find(userValue);
  if (found == Streams().end()) return -1;
  ByteStream& s = found->second;
  const auto size = static_cast<int64_t>(s.bytes->size());
  switch (operation) {
    case kHostStreamRead: {
      if (value < 0 || buffer == nullptr) return -1;
      const int64_t n = std::min<int64_t>(value, size - std::min(s.position, size));
      if (n > 0) std::memcpy(buffer, s.bytes->data() + s.position, static_cast<size_t>(n));
      s.position += n;
      return static_cast<int32_t>(n);
    }
    case kHostStreamSeek: {
      const int64_t base = origin == 0 ? 0 : origin == 1 ? s.position : origin == 2 ? size : -1;
      if (base < 0 || base + value < 0) return -1;
      s.position = base + value;
      return static_cast<int32_t>(s.position);
    }
    case kHostStreamTell:
      return static_cast<int32_t>(s.position);
    default:
      return -1;
  }
}

HGLOBAL MemoryBlockOf(const Bytes& bytes) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.empty() ? 1 : bytes.size());
  if (block == nullptr) return nullptr;
  if (void* address = GlobalLock(block)) {
    if (!bytes.empty()) std::memcpy(address, bytes.data(), bytes.size());
    GlobalUnlock(block);
  }
  return block;
}

}  // namespace

const char* RoadName(Road road) {
  switch (road) {
    case Road::kFile:
      return "file";
    case Road::kMemory:
      return "memory";
    case Road::kStream:
      return "stream";
  }
  return "?";
}

std::vector<testhost::StatusCall> ImportRun::OfKind(int32_t kind) const {
  std::vector<testhost::StatusCall> out;
  std::copy_if(calls.begin(), calls.end(), std::back_inserter(out),
               [kind](const testhost::StatusCall& c) { return c.kind == kind; });
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
    std::string op = LogField(entry, "op");
    if (op.size() >= 2) op = op.substr(1, op.size() - 2);
    ops.push_back(op);
  }
  return ops;
}

std::string LogField(const std::string& entry, const std::string& key) {
  const std::string needle = "\"" + key + "\":";
  size_t at = entry.find(needle);
  if (at == std::string::npos) return "";
  at += needle.size();
  size_t end = at;
  int depth = 0;
  bool inText = false;
  for (; end < entry.size(); ++end) {
    const char c = entry[end];
    if (inText) {
      if (c == '\\') {
        ++end;
      } else if (c == '"') {
        inText = false;
      }
      continue;
    }
    if (c == '"') {
      inText = true;
    } else if (c == '[' || c == '{') {
      ++depth;
    } else if (c == ']' || c == '}') {
      if (depth == 0) break;
      --depth;
    } else if (c == ',' && depth == 0) {
      break;
    }
  }
  return entry.substr(at, end - at);
}

HGLOBAL NewSetup() {
  TheScratch();
  return CreateSetup(nullptr, nullptr, nullptr, 0);
}

std::string WriteScratchFile(const std::string& name, const Bytes& bytes) {
  const std::string path = (fs::path(TheScratch().path()) / name).string();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

Bytes ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ImportRun Import(const Bytes& gif, const ImportOptions& options) {
  ImportRun run;
  HGLOBAL setup = NewSetup();
  if (setup == nullptr) throw std::runtime_error("CreateSetup made no setup");
  if (options.adjustSetup) {
    auto* fields = static_cast<FilterSetup*>(GlobalLock(setup));
    if (fields == nullptr) throw std::runtime_error("setup cannot be locked");
    options.adjustSetup(fields);
    GlobalUnlock(setup);
  }

  testhost::RecordingHost host;
  if (options.cancelAtProgress > 0) host.AnswerProgress(options.cancelAtProgress, 1);
  host.AnswerFollowUp(options.followUpAnswer);
  HostContext context = {};
  if (options.callback) host.Attach(&context);
  ImportRequest request = {};
  request.setupHandle = setup;
  request.hostContext = options.context ? &context : nullptr;

  HGLOBAL memory = nullptr;
  std::string path;
  uint32_t streamValue = 0;
  if (options.road == Road::kFile || options.alsoPath) {
    path = WriteScratchFile("input.gif", gif);
    run.inputPath = path;
  }
  switch (options.road) {
    case Road::kFile:
      break;
    case Road::kMemory:
      // A zero-sized movable block is a discarded one: a live handle that
      // locks to null.
      memory = options.unlockableMemory ? GlobalAlloc(GMEM_MOVEABLE, 0) : MemoryBlockOf(gif);
      context.inputMemory = memory;
      break;
    case Road::kStream:
      streamValue = nextStreamValue++;
      Streams()[streamValue] = ByteStream{&gif, 0};
      request.streamUserValue = streamValue;
      EscapeSetup(setup, kEscapeStreamFunction, 4, reinterpret_cast<void*>(&ByteStreamProc),
                  nullptr, 0);
      break;
  }

  StandInForgetPictures();
  StandInClearLog();
  if (options.beforeImport) options.beforeImport();
  run.result = ImportFile(0, "", "", path.c_str(), &request);
  PlatformFailAllocationAt(0);

  for (int i = 0; i < StandInLogSize(); ++i) run.log.push_back(StandInLogEntry(i));
  const standin::Picture* picture = StandInLastPicture();
  if (picture != nullptr && options.keepPicture) run.picture = *picture;
  StandInForgetPictures();
  run.calls = host.calls();

  if (memory != nullptr) GlobalFree(memory);
  if (streamValue != 0) Streams().erase(streamValue);
  DestroySetup(setup);
  run.live = testhost::DescribeLive();
  return run;
}

}  // namespace e2e
