// What the parts of the companion stand-in share among themselves: the call
// log with its stable object ids, and the hooks that reset their faults.
// Internal to the stand-in library.
#ifndef GIFIMPORT_COMPANION_STANDIN_INTERNAL_H
#define GIFIMPORT_COMPANION_STANDIN_INTERNAL_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "platform/platform_test.h"

struct HostContext;  // gifimport/filter_api.h

namespace standin {
struct Picture;  // companion/standin.h

namespace internal {

// ---- Threads -----------------------------------------------------------------
// A host may import on several threads at once, as the real library allows.
// What all threads share (the sets of live objects, Windows' memory budget)
// is touched only under this guard; what one import arms or reads back (the
// faults and counters, the call log, the last picture) is the calling
// thread's own, so imports on several threads neither see nor disturb one
// another. Nothing that calls out (a host stream function) or takes the guard
// again runs under it.
class SharedGuard {
 public:
  SharedGuard();
  ~SharedGuard();
  SharedGuard(const SharedGuard&) = delete;
  SharedGuard& operator=(const SharedGuard&) = delete;
};

// Thread-local data asked for on every call of an import: at a fixed offset
// from the thread pointer, as a library loaded with its program (or soon
// after) may have it, not found through a lookup call each time. Its few
// hundred bytes fit the room the C library keeps for a library opened later.
#if defined(__ELF__)
#define STANDIN_HOT_TLS __attribute__((tls_model("initial-exec")))
#else
#define STANDIN_HOT_TLS
#endif

// For the few helpers every call of an import goes through, and the rarer
// paths kept out of them.
#define STANDIN_INLINE inline __attribute__((always_inline))
#define STANDIN_COLD __attribute__((noinline))

// The live objects of one kind (streams, documents), of every thread: a set
// under the shared guard. Each thread remembers the last object it found and
// trusts that while nothing of the kind has been removed since, so the many
// calls of an import on its own stream or document skip the guard.
template <typename T>
class LiveSet {
 public:
  void Insert(const T* object) {
    SharedGuard guard;
    set_.insert(object);
  }
  void Erase(const T* object) {
    SharedGuard guard;
    set_.erase(object);
    removals_.fetch_add(1, std::memory_order_release);
  }
  bool Contains(const T* object) {
    if (object == nullptr) return false;
    const uint64_t removals = removals_.load(std::memory_order_acquire);
    if (memo_.object == object && memo_.removals == removals) return true;
    SharedGuard guard;
    if (set_.count(object) == 0) return false;
    memo_ = Memo{object, removals};
    return true;
  }
  size_t Size() {
    SharedGuard guard;
    return set_.size();
  }

 private:
  struct Memo {
    const T* object;
    uint64_t removals;
  };
  std::set<const T*> set_;
  std::atomic<uint64_t> removals_{0};
  static thread_local Memo memo_ STANDIN_HOT_TLS;
};
template <typename T>
thread_local typename LiveSet<T>::Memo LiveSet<T>::memo_ STANDIN_HOT_TLS{nullptr, 0};

// Longest text the stand-in copies out of a caller's string; a longer one is
// cut. The filter's texts are at most 259 characters, so this only guards
// against a string that never ends.
constexpr size_t kMaxTextBytes = 65536;

// The text at `text` (null: empty), cut at kMaxTextBytes.
std::string CopyText(const char* text);

// Whether calls are logged (StandInSetLogging). While the log is off no log
// text is made at all: callers skip building what only an entry would hold.
// Asked on every call, hence a flag read without ordering; the switch holds
// for every thread, each of which logs into a log of its own.
extern std::atomic<bool> logOn;
inline bool LogOn() { return logOn.load(std::memory_order_relaxed); }

// ---- Log ids ---------------------------------------------------------------
// Objects appear in the log as "doc#1", "stream#2", never as addresses, so
// that two runs give the same log. Numbers count from the last
// StandInClearLog on the thread: every object carries a LogTag and gets its
// number the first time the current log mentions it (epochs are unique
// across threads, so an object another thread's log named is named anew).
struct LogTag {
  uint64_t epoch = 0;
  int number = 0;
};
// "kind#N" for an object of the stand-in's own.
std::string LogId(const char* kind, LogTag* tag);
// "ptr#N" for an address the stand-in did not make; null gives "null"
// (already JSON, like every value below).
std::string ForeignId(const void* address);

// The log id of an options block handle (options.cpp).
std::string OptionsBlockId(void* handle);

// ---- JSON ------------------------------------------------------------------
std::string JsonText(const char* text);  // a quoted string, or null
std::string JsonText(const std::string& text);
std::string JsonNumber(double value);  // exact round trip; non-finite as text

// One log entry: {"op":NAME, key:value, ...}. Values are JSON already.
// Made while the log is off, it does nothing; on() tells the caller whether
// values worth the making will be kept.
class Entry {
 public:
  explicit Entry(const char* op) : on_(LogOn()) {
    if (on_) Begin(op);
  }
  bool on() const { return on_; }
  Entry& Raw(const char* key, const std::string& json) {
    if (on_) Add(key, json);
    return *this;
  }
  Entry& Int(const char* key, int64_t value) {
    if (on_) Add(key, std::to_string(value));
    return *this;
  }
  Entry& Text(const char* key, const char* text) {
    if (on_) Add(key, JsonText(text));
    return *this;
  }
  // Appends the entry to the log.
  void Log() {
    if (on_) Append();
  }

 private:
  void Begin(const char* op);
  void Add(const char* key, const std::string& json);
  void Append();

  bool on_;
  std::string json_;
};

// A stream read (callers check LogOn() first), logged compactly: consecutive calls of the same
// operation on the same stream with the same count (and format) share one entry, which counts the
// calls and adds up their results.
void LogStreamRead(const char* op, const std::string& streamId, const char* format, int32_t count,
                   int32_t result);

// ---- Captures (capture.cpp) -------------------------------------------------
// The open capture that a document opened with `context` is for (the context
// names it as userValue, with QvMetafileStatus as its callback), which keeps
// the context; 0 when there is none.
uint32_t CaptureOfContext(HostContext* context);
// The captured document was closed: the capture writes its metafile.
void CaptureDocumentClosed(uint32_t capture, const Picture& picture);

// ---- Memory ----------------------------------------------------------------
// Memory the stand-in holds for itself (a picture's bands and texts, an
// output writer's buffers), charged against the platform's memory budget,
// which the filter's blocks share, and given back when the holder goes.
class MemoryCharge {
 public:
  MemoryCharge() = default;
  ~MemoryCharge() { Release(); }
  MemoryCharge(const MemoryCharge&) = delete;
  MemoryCharge& operator=(const MemoryCharge&) = delete;
  MemoryCharge& operator=(MemoryCharge&& other) noexcept {
    if (this != &other) {
      Release();
      bytes_ = other.bytes_;
      other.bytes_ = 0;
    }
    return *this;
  }
  // false, with nothing charged, when `bytes` more would pass the budget.
  bool Add(unsigned long long bytes) {
    if (PlatformChargeMemory(bytes) == 0) return false;
    bytes_ += bytes;
    return true;
  }
  void Release() {
    PlatformReleaseMemory(bytes_);
    bytes_ = 0;
  }

 private:
  unsigned long long bytes_ = 0;
};

// ---- Faults ----------------------------------------------------------------
void ResetStreamFaults();
void ResetDocumentFaults();
void ResetCaptureFaults();

}  // namespace internal
}  // namespace standin

#endif
