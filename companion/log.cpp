// The call log of the companion stand-in: one JSON object per call, in call
// order, written as JSON Lines for the host and read by the tests. Each
// thread keeps a log of its own, so an import's log holds its own calls only,
// in its own order, whatever runs beside it.
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "companion/standin_internal.h"

namespace standin {
namespace internal {
namespace {

// A fuzzer or a long-running host that never clears the log must not grow it
// without end; past this many entries one marker entry is added and further
// calls go unlogged.
constexpr size_t kMaxLogEntries = size_t{1} << 18;

// Epochs of every thread's log, so that a tag never matches two logs.
std::atomic<uint64_t> lastEpoch{0};
// Switches of the log (StandInSetLogging) so far, on any thread: a read run
// that was open before one takes no later call in.
std::atomic<uint64_t> logSwitches{0};

// The read run that the last entry stands for. Its entry is written out
// only when someone looks or another entry follows, so a byte-at-a-time
// reader pays a comparison per call, not a new text.
struct ReadRun {
  bool open = false;
  uint64_t switches = 0;  // logSwitches when it opened
  bool dirty = false;
  std::string op, stream, format;
  bool hasFormat = false;
  int32_t count = 0;
  int64_t calls = 0, total = 0;
};

uint64_t NewEpoch() { return lastEpoch.fetch_add(1, std::memory_order_relaxed) + 1; }

struct LogState {
  std::vector<std::string> entries;
  bool full = false;
  uint64_t epoch = NewEpoch();  // objects tagged in another epoch get a new number
  std::map<std::string, int> lastNumber;
  std::map<const void*, int> foreign;
  ReadRun run;
};

LogState& State() {
  thread_local LogState state;
  return state;
}

void FlushRun() {
  LogState& s = State();
  ReadRun& r = s.run;
  if (!r.dirty) return;
  r.dirty = false;
  std::string json = "{\"op\":" + JsonText(r.op) + ",\"stream\":" + r.stream;
  if (r.hasFormat) json += ",\"format\":" + JsonText(r.format);
  json += ",\"count\":" + std::to_string(r.count) + ",\"calls\":" + std::to_string(r.calls) +
          ",\"result\":" + std::to_string(r.total) + "}";
  s.entries.back() = std::move(json);
}

void Append(std::string line) {
  LogState& s = State();
  FlushRun();
  s.run.open = false;
  if (s.full) return;
  if (s.entries.size() + 1 >= kMaxLogEntries) {
    s.entries.push_back("{\"op\":\"StandInLogFull\"}");
    s.full = true;
    return;
  }
  s.entries.push_back(std::move(line));
}

}  // namespace

// Off until asked: a host that wants no trace pays nothing for one.
std::atomic<bool> logOn{false};

std::string CopyText(const char* text) {
  if (text == nullptr) return std::string();
  return std::string(text, strnlen(text, kMaxTextBytes));
}

std::string LogId(const char* kind, LogTag* tag) {
  LogState& s = State();
  if (tag->epoch != s.epoch) {
    tag->epoch = s.epoch;
    tag->number = ++s.lastNumber[kind];
  }
  return "\"" + std::string(kind) + "#" + std::to_string(tag->number) + "\"";
}

std::string ForeignId(const void* address) {
  if (address == nullptr) return "null";
  LogState& s = State();
  auto it = s.foreign.find(address);
  int number;
  if (it != s.foreign.end()) {
    number = it->second;
  } else {
    number = ++s.lastNumber["ptr"];
    s.foreign.emplace(address, number);
  }
  return "\"ptr#" + std::to_string(number) + "\"";
}

std::string JsonText(const char* text) {
  if (text == nullptr) return "null";
  return JsonText(CopyText(text));
}

std::string JsonText(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        // The filter's texts are 8-bit, not UTF-8: bytes above 0x7F are
        // written as the Latin-1 code points they are, so the log stays valid.
        if (c < 0x20 || c >= 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

std::string JsonNumber(double value) {
  if (!std::isfinite(value))
    return JsonText(std::isnan(value) ? "nan" : value > 0 ? "inf" : "-inf");
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

void Entry::Begin(const char* op) { json_ = "{\"op\":" + JsonText(op); }

void Entry::Add(const char* key, const std::string& json) {
  json_ += ",";
  json_ += JsonText(key);
  json_ += ":";
  json_ += json;
}

void Entry::Append() { standin::internal::Append(json_ + "}"); }

void LogStreamRead(const char* op, const std::string& streamId, const char* format, int32_t count,
                   int32_t result) {
  LogState& s = State();
  ReadRun& r = s.run;
  bool hasFormat = format != nullptr;
  const uint64_t switches = logSwitches.load(std::memory_order_relaxed);
  bool same = r.open && r.switches == switches && r.op == op && r.stream == streamId &&
              r.hasFormat == hasFormat && (!hasFormat || r.format == format) && r.count == count;
  if (!same) {
    Append(std::string());  // the run's entry, written out by FlushRun
    if (s.full) return;
    r = ReadRun();
    r.open = true;
    r.switches = switches;
    r.op = op;
    r.stream = streamId;
    r.hasFormat = hasFormat;
    if (hasFormat) r.format = CopyText(format);
    r.count = count;
  }
  r.calls += 1;
  r.total += result;
  r.dirty = true;
}

}  // namespace internal
}  // namespace standin

using standin::internal::State;

extern "C" {

STANDIN_API void StandInClearLog(void) {
  auto& s = State();
  s.entries.clear();
  s.full = false;
  s.run = {};
  s.epoch = standin::internal::NewEpoch();
  s.lastNumber.clear();
  s.foreign.clear();
}

STANDIN_API void StandInSetLogging(int on) {
  auto& s = State();
  // Calls made while the log is off must not be counted into the read run
  // that was open before, on this thread or any other.
  standin::internal::FlushRun();
  s.run.open = false;
  standin::internal::logSwitches.fetch_add(1, std::memory_order_relaxed);
  standin::internal::logOn.store(on != 0, std::memory_order_relaxed);
}

STANDIN_API int StandInLogSize(void) { return static_cast<int>(State().entries.size()); }

STANDIN_API const char* StandInLogEntry(int index) {
  standin::internal::FlushRun();
  const auto& entries = State().entries;
  if (index < 0 || static_cast<size_t>(index) >= entries.size()) return nullptr;
  return entries[static_cast<size_t>(index)].c_str();
}

STANDIN_API int StandInWriteLog(const char* path) {
  if (path == nullptr) return 1;
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return 1;
  standin::internal::FlushRun();
  bool ok = true;
  for (const std::string& line : State().entries) {
    ok = ok && std::fwrite(line.data(), 1, line.size(), file) == line.size() &&
         std::fputc('\n', file) != EOF;
  }
  if (std::fclose(file) != 0) ok = false;
  return ok ? 0 : 1;
}

}  // extern "C"
