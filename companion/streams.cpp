// Input streams of the companion stand-in: a file (buffered), a memory block
// the caller keeps locked, or a host stream function. Every read goes through
// one place that knows how much the stream can give, so a short file, a block
// of size 0 or a host that fails or lies ends a read instead of overrunning it.
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "companion/file_input.h"
#include "companion/standin.h"
#include "companion/standin_internal.h"
#include "gifimport/input_stream.h"

using standin::internal::Entry;
using standin::internal::JsonText;
using standin::internal::LogId;
using standin::internal::LogTag;

namespace {

// One system read fills this much of a file stream's buffer, so reading a GIF
// a byte at a time costs a memory copy per byte, not a system call.
constexpr size_t kFileBufferBytes = 64 * 1024;

// Structured reads: the largest record one format may describe, and the
// largest count of one group. Anything bigger is a broken format, not a GIF
// record (the largest the filter reads is 13 bytes).
constexpr size_t kMaxFormatRecordBytes = 4096;
constexpr long kMaxFormatGroupCount = 4096;
constexpr size_t kMaxFormatLength = 256;

constexpr int32_t kDefaultVersion = 0x02000006;

}  // namespace

struct QvStreamRec {
  enum Kind { kFile, kMemory, kHost } kind = kFile;
  LogTag tag;
  int64_t position = 0;  // file and memory streams; may lie past the end
  // kFile
  standin::internal::InputFile file = standin::internal::kNoInputFile;
  std::unique_ptr<uint8_t[]> buffer;
  int64_t bufferStart = 0;
  size_t bufferBytes = 0;
  // kMemory
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  // kHost
  HostStreamProc function = nullptr;
  uint32_t userValue = 0;
};

namespace {

// Every thread's open streams.
STANDIN_INLINE standin::internal::LiveSet<QvStreamRec>& LiveStreams() {
  static standin::internal::LiveSet<QvStreamRec> live;
  return live;
}

// A thread's faults and counters: what one import arms and reads back.
struct StreamState {
  long failReadCountdown = 0;  // 0: off; 1: the next read call fails
  long readCalls = 0;          // since the thread began
  long fileSystemReads = 0;
  int32_t version = kDefaultVersion;
  int64_t lastClosedPosition = -1;
};

StreamState& State() {
  thread_local StreamState state STANDIN_HOT_TLS;
  return state;
}

STANDIN_INLINE QvStreamRec* Find(QvStream stream) {
  return LiveStreams().Contains(stream) ? stream : nullptr;
}

std::string StreamId(QvStream stream) {
  QvStreamRec* s = Find(stream);
  if (s != nullptr) return LogId("stream", &s->tag);
  return standin::internal::ForeignId(stream);
}

// True when this read call is the one a test asked to fail.
bool ReadCallFails() {
  StreamState& state = State();
  ++state.readCalls;
  long& countdown = state.failReadCountdown;
  if (countdown <= 0) return false;
  return --countdown == 0;
}

STANDIN_COLD size_t ReadFile(QvStreamRec& s, uint8_t* destination, size_t count) {
  size_t done = 0;
  while (done < count) {
    if (s.position >= s.bufferStart &&
        s.position < s.bufferStart + static_cast<int64_t>(s.bufferBytes)) {
      size_t offset = static_cast<size_t>(s.position - s.bufferStart);
      size_t take = std::min(count - done, s.bufferBytes - offset);
      std::memcpy(destination + done, s.buffer.get() + offset, take);
      done += take;
      s.position += static_cast<int64_t>(take);
      continue;
    }
    const int64_t got =
        standin::internal::ReadInputFile(s.file, s.buffer.get(), kFileBufferBytes, s.position);
    State().fileSystemReads += 1;
    if (got <= 0) break;
    s.bufferStart = s.position;
    s.bufferBytes = static_cast<size_t>(got);
  }
  return done;
}

size_t ReadMemory(QvStreamRec& s, uint8_t* destination, size_t count) {
  if (s.position >= static_cast<int64_t>(s.size)) return 0;
  size_t available = static_cast<size_t>(static_cast<int64_t>(s.size) - s.position);
  size_t take = std::min(count, available);
  if (take != 0) std::memcpy(destination, s.data + s.position, take);
  s.position += static_cast<int64_t>(take);
  return take;
}

STANDIN_COLD size_t ReadHost(QvStreamRec& s, uint8_t* destination, size_t count) {
  size_t done = 0;
  // A host may deliver less than asked before the end; ask again until it
  // says 0 (end) or fails. Every round moves on by at least one byte.
  while (done < count) {
    int32_t ask = static_cast<int32_t>(std::min<size_t>(count - done, INT32_MAX));
    int32_t got = s.function(s.userValue, kHostStreamRead, destination + done, ask, 0);
    if (got <= 0) break;  // 0 end, -1 (or any negative) failure
    // A host that claims more than it was asked for is believed only up to
    // what was asked: nothing past the caller's count is ever taken.
    done += static_cast<size_t>(std::min(got, ask));
  }
  return done;
}

size_t ReadBytes(QvStreamRec& s, uint8_t* destination, size_t count) {
  switch (s.kind) {
    case QvStreamRec::kFile:
      return ReadFile(s, destination, count);
    case QvStreamRec::kMemory:
      return ReadMemory(s, destination, count);
    case QvStreamRec::kHost:
      return ReadHost(s, destination, count);
  }
  return 0;
}

int32_t SeekHost(QvStreamRec& s, int32_t offset, int32_t origin) {
  if (origin == 0 && offset < 0) return -1;
  int32_t result = (origin == 1 && offset == 0)
                       ? s.function(s.userValue, kHostStreamTell, nullptr, 0, 0)
                       : s.function(s.userValue, kHostStreamSeek, nullptr, offset, origin);
  return result < 0 ? -1 : result;
}

int32_t Seek(QvStreamRec& s, int32_t offset, int32_t origin) {
  if (origin < 0 || origin > 2) return -1;
  if (s.kind == QvStreamRec::kHost) return SeekHost(s, offset, origin);
  int64_t base = s.position;
  if (origin == 0) {
    base = 0;
  } else if (origin == 2) {
    if (s.kind == QvStreamRec::kMemory) {
      base = s.size;
    } else {
      base = standin::internal::InputFileSize(s.file);
      if (base < 0) return -1;
    }
  }
  int64_t target = base + offset;
  // Before the start fails; past the end is allowed, as with a file, and
  // reads there give nothing. A position a 32-bit result cannot carry fails.
  if (target < 0 || target > INT32_MAX) return -1;
  s.position = target;
  return static_cast<int32_t>(target);
}

struct FormatGroup {
  size_t count;
  bool isShort;
};

struct FormatLayout {
  FormatGroup groups[kMaxFormatLength / 2];
  size_t groupCount = 0;
  size_t streamBytes = 0;
  size_t recordBytes = 0;
};

// Parses "6c2s3c": decimal counts (1 or more) each followed by c or s. A
// short value sits at the next even offset of the record. False for anything
// else: an unknown letter, a missing or zero count, a record too big.
bool ParseFormat(const char* format, FormatLayout* layout) {
  if (format == nullptr || format[0] == '\0') return false;
  size_t length = 0;
  while (format[length] != '\0') {
    if (++length > kMaxFormatLength) return false;
  }
  size_t offset = 0;
  for (size_t i = 0; i < length;) {
    long count = 0;
    size_t digits = 0;
    while (i < length && format[i] >= '0' && format[i] <= '9') {
      count = count * 10 + (format[i] - '0');
      if (count > kMaxFormatGroupCount) return false;
      ++i;
      ++digits;
    }
    if (digits == 0 || count == 0 || i == length) return false;
    char letter = format[i++];
    FormatGroup group{static_cast<size_t>(count), false};
    if (letter == 's') {
      group.isShort = true;
      offset = (offset + 1) & ~size_t{1};
      offset += 2 * group.count;
      layout->streamBytes += 2 * group.count;
    } else if (letter == 'c') {
      offset += group.count;
      layout->streamBytes += group.count;
    } else {
      return false;
    }
    if (offset > kMaxFormatRecordBytes) return false;
    layout->groups[layout->groupCount++] = group;
  }
  layout->recordBytes = offset;
  return true;
}

// Spreads one record's stream bytes into the record; pad bytes are left as
// they were.
void ScatterRecord(const FormatLayout& layout, const uint8_t* in, uint8_t* record) {
  size_t offset = 0;
  for (size_t g = 0; g < layout.groupCount; ++g) {
    const FormatGroup& group = layout.groups[g];
    if (!group.isShort) {
      std::memcpy(record + offset, in, group.count);
      in += group.count;
      offset += group.count;
      continue;
    }
    offset = (offset + 1) & ~size_t{1};
    for (size_t k = 0; k < group.count; ++k) {
      // The caller read layout.streamBytes bytes into `in`, which these groups
      // add up to; the analyzer cannot tie the two together.
      // NOLINTNEXTLINE(clang-analyzer-core.UndefinedBinaryOperatorResult)
      uint16_t value = static_cast<uint16_t>(in[0] | (in[1] << 8));
      std::memcpy(record + offset, &value, 2);
      in += 2;
      offset += 2;
    }
  }
}

}  // namespace

namespace standin {
namespace internal {

void ResetStreamFaults() {
  State().failReadCountdown = 0;
  State().version = kDefaultVersion;
}

}  // namespace internal
}  // namespace standin

extern "C" {

QV_API QvStream WINAPI QvStreamOpen(const char* path, const StreamOpenDescriptor* descriptor,
                                    int32_t reserved) {
  std::unique_ptr<QvStreamRec> s(new QvStreamRec);
  Entry entry("QvStreamOpen");
  entry.Text("path", path);
  bool opened = false;
  if (descriptor != nullptr && descriptor->streamFunction != nullptr) {
    s->kind = QvStreamRec::kHost;
    s->function = descriptor->streamFunction;
    s->userValue = static_cast<uint32_t>(descriptor->source);
    entry.Text("kind", "host").Int("userValue", s->userValue);
    opened = true;
  } else if (descriptor != nullptr) {
    s->kind = QvStreamRec::kMemory;
    entry.Text("kind", "memory").Int("size", descriptor->size);
    if (descriptor->source != 0) {
      s->data = *reinterpret_cast<const uint8_t* const*>(descriptor->source);
      s->size = descriptor->size;
      // An empty block may come without an address; a non-empty one may not.
      opened = s->data != nullptr || s->size == 0;
    }
  } else if (path != nullptr) {
    entry.Text("kind", "file");
    s->file = standin::internal::OpenInputFile(path);
    if (s->file != standin::internal::kNoInputFile) {
      s->buffer.reset(new (std::nothrow) uint8_t[kFileBufferBytes]);
      opened = s->buffer != nullptr;
      if (!opened) standin::internal::CloseInputFile(s->file);
    }
  }
  entry.Int("reserved", reserved);
  if (!opened) {
    entry.Raw("result", "null").Log();
    return nullptr;
  }
  QvStreamRec* stream = s.release();
  LiveStreams().Insert(stream);
  if (entry.on()) entry.Raw("result", LogId("stream", &stream->tag)).Log();
  return stream;
}

QV_API void WINAPI QvStreamClose(QvStream stream) {
  if (standin::internal::LogOn()) Entry("QvStreamClose").Raw("stream", StreamId(stream)).Log();
  QvStreamRec* s = Find(stream);
  if (s == nullptr) return;
  // Where reading stopped, for a host that tells its user where a file broke.
  State().lastClosedPosition = s->kind == QvStreamRec::kHost
                                   ? s->function(s->userValue, kHostStreamTell, nullptr, 0, 0)
                                   : s->position;
  LiveStreams().Erase(s);
  if (s->file != standin::internal::kNoInputFile) standin::internal::CloseInputFile(s->file);
  delete s;
}

namespace {

// Bytes and 8-bit values are the same read; only the logged name differs.
int32_t ReadByteValues(const char* operation, QvStream stream, void* destination, int32_t count) {
  QvStreamRec* s = Find(stream);
  int32_t result = 0;
  if (!ReadCallFails() && s != nullptr && destination != nullptr && count > 0) {
    result = static_cast<int32_t>(
        ReadBytes(*s, static_cast<uint8_t*>(destination), static_cast<size_t>(count)));
  }
  if (standin::internal::LogOn()) {
    standin::internal::LogStreamRead(operation, StreamId(stream), nullptr, count, result);
  }
  return result;
}

}  // namespace

QV_API int32_t WINAPI QvStreamRead(QvStream stream, void* destination, int32_t count) {
  return ReadByteValues("QvStreamRead", stream, destination, count);
}

QV_API int32_t WINAPI QvStreamReadChars(QvStream stream, void* destination, int32_t count) {
  return ReadByteValues("QvStreamReadChars", stream, destination, count);
}

QV_API int32_t WINAPI QvStreamReadShorts(QvStream stream, void* destination, int32_t count) {
  QvStreamRec* s = Find(stream);
  int32_t result = 0;
  if (!ReadCallFails() && s != nullptr && destination != nullptr && count > 0) {
    auto* out = static_cast<uint8_t*>(destination);
    for (int32_t i = 0; i < count; ++i) {
      uint8_t bytes[2];
      if (ReadBytes(*s, bytes, 2) != 2) break;
      uint16_t value = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
      std::memcpy(out + 2 * static_cast<size_t>(i), &value, 2);
      ++result;
    }
  }
  if (standin::internal::LogOn()) {
    standin::internal::LogStreamRead("QvStreamReadShorts", StreamId(stream), nullptr, count,
                                     result);
  }
  return result;
}

QV_API int32_t WINAPI QvStreamReadFormat(QvStream stream, const char* format, void* record,
                                         int32_t count) {
  QvStreamRec* s = Find(stream);
  int32_t result = 0;
  FormatLayout layout;
  bool fails = ReadCallFails();
  if (!fails && s != nullptr && record != nullptr && count > 0 && ParseFormat(format, &layout) &&
      static_cast<uint64_t>(count) * layout.recordBytes <= INT32_MAX) {
    auto* out = static_cast<uint8_t*>(record);
    uint8_t in[kMaxFormatRecordBytes];
    for (; result < count; ++result) {
      // A record cut short by the end of the input is not a record: it is
      // neither counted nor stored.
      if (ReadBytes(*s, in, layout.streamBytes) != layout.streamBytes) break;
      ScatterRecord(layout, in, out + static_cast<size_t>(result) * layout.recordBytes);
    }
  }
  if (standin::internal::LogOn()) {
    standin::internal::LogStreamRead("QvStreamReadFormat", StreamId(stream),
                                     format != nullptr ? format : "", count, result);
  }
  return result;
}

QV_API int32_t WINAPI QvStreamSeek(QvStream stream, int32_t offset, int32_t origin) {
  QvStreamRec* s = Find(stream);
  int32_t result = s != nullptr ? Seek(*s, offset, origin) : -1;
  if (standin::internal::LogOn()) {
    Entry("QvStreamSeek")
        .Raw("stream", StreamId(stream))
        .Int("offset", offset)
        .Int("origin", origin)
        .Int("result", result)
        .Log();
  }
  return result;
}

QV_API int32_t WINAPI QvGetVersion(void) {
  int32_t version = State().version;
  Entry("QvGetVersion").Int("result", version).Log();
  return version;
}

STANDIN_API int StandInLiveStreams(void) { return static_cast<int>(LiveStreams().Size()); }

STANDIN_API void StandInSetVersion(int32_t version) { State().version = version; }

STANDIN_API void StandInFailStreamReadAt(long n) { State().failReadCountdown = n > 0 ? n : 0; }

STANDIN_API long StandInStreamReadCalls(void) { return State().readCalls; }

STANDIN_API long StandInFileSystemReads(void) { return State().fileSystemReads; }

STANDIN_API int64_t StandInLastStreamPosition(void) { return State().lastClosedPosition; }

}  // extern "C"
