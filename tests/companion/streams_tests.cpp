// Input streams of the companion stand-in: the same bytes, structured reads
// and seeks through a file, a memory block and a host stream, the ways a
// host stream or a file can let a reader down, and the call log of them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "gifimport/filter_api.h"
#include "gifimport/input_stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Pattern(size_t size) {
  Bytes bytes(size);
  uint32_t x = 12345;
  for (uint8_t& b : bytes) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
  return bytes;
}

// A host stream over a byte vector, with the misbehaviours hosts have.
struct HostStream {
  Bytes data;
  int32_t chunk = 0;       // > 0: deliver at most this many bytes per call
  int32_t lieBy = 0;       // claim this many bytes more than delivered
  int32_t readResult = 0;  // non-zero: every read returns this, delivers nothing
  bool broken = false;     // seek and tell fail
  int32_t position = 0;
};
std::vector<HostStream*> hosts;

int32_t WINAPI HostProc(uint32_t user, int32_t op, void* buffer, int32_t value, int32_t origin) {
  HostStream& h = *hosts.at(user);
  if (op == kHostStreamTell) return h.broken ? -1 : h.position;
  if (op == kHostStreamSeek) {
    const int64_t base = origin == 0 ? 0 : origin == 1 ? h.position : int64_t(h.data.size());
    return h.broken || base + value < 0 ? -1 : (h.position = int32_t(base + value));
  }
  if (h.readResult != 0) return h.readResult;
  int32_t n = int32_t(std::min<int64_t>(value, int64_t(h.data.size()) - h.position));
  if (h.chunk > 0) n = std::min(n, h.chunk);
  if (n > 0) std::memcpy(buffer, h.data.data() + h.position, size_t(n));
  h.position += std::max(n, 0);
  return n + h.lieBy;
}

// Opens bytes as a file, a memory block or a host stream; closes what is
// still open at the end, when nothing may be left.
class Streams : public ::testing::Test {
 protected:
  void SetUp() override { StandInResetFaults(); }
  void TearDown() override {
    for (QvStream s : open_) QvStreamClose(s);
    hosts.clear();
    EXPECT_EQ(StandInLiveStreams(), 0);
  }
  QvStream OpenFile(const Bytes& bytes) {
    char name[] = "/tmp/companion_streamXXXXXX";
    const int fd = mkstemp(name);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    close(fd);
    QvStream s = Keep(QvStreamOpen(name, nullptr, 0));
    unlink(name);  // the stream keeps the file open
    return s;
  }
  QvStream OpenHost(HostStream* host) {
    hosts.push_back(host);
    StreamOpenDescriptor d = {};
    d.source = hosts.size() - 1;
    d.streamFunction = &HostProc;
    return Keep(QvStreamOpen("carried.gif", &d, 0));
  }
  std::vector<QvStream> OpenAll(const Bytes& bytes, int32_t hostChunk = 0) {
    memory_.push_back(std::make_unique<Bytes>(bytes));
    addresses_.push_back(std::make_unique<const uint8_t*>(memory_.back()->data()));
    StreamOpenDescriptor d = {};
    d.source = reinterpret_cast<uintptr_t>(addresses_.back().get());
    d.size = uint32_t(bytes.size());
    host_.push_back(std::make_unique<HostStream>(HostStream{bytes, hostChunk}));
    return {OpenFile(bytes), Keep(QvStreamOpen(nullptr, &d, 0)), OpenHost(host_.back().get())};
  }
  QvStream Keep(QvStream s) {
    if (s != nullptr) open_.push_back(s);
    return s;
  }
  std::vector<QvStream> open_;
  std::vector<std::unique_ptr<Bytes>> memory_;
  std::vector<std::unique_ptr<const uint8_t*>> addresses_;
  std::vector<std::unique_ptr<HostStream>> host_;
};

const char* const kKinds[] = {"file", "memory", "host"};

TEST_F(Streams, StructuredReadsPlaceShortsAtEvenOffsetsAndRefuseBadFormats) {
  const Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 0x40, 0x01, 0xF0, 0x00, 0xF7, 0x02, 0x00};
  const struct {
    const char* format;
    Bytes input;
    int32_t count, expected;
    Bytes record;  // 0xEE: a byte the read must leave alone
  } cases[] = {
      {"1c1s1c", {0x05, 0x34, 0x12, 0x09}, 1, 1, {0x05, 0xEE, 0x34, 0x12, 0x09}},
      {"6c2s3c", gif, 1, 1, gif},
      {"1c1s", {1, 2, 3, 4, 5, 6}, 2, 2, {1, 0xEE, 2, 3, 4, 0xEE, 5, 6}},  // records start even
      {"1c1s1c", {1, 2, 3, 4, 5, 6, 7}, 2, 1, {1, 0xEE, 2, 3, 4, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},
      {"3c", {1, 2, 3, 4, 5}, 3, 1, {1, 2, 3, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},
      {"6c2s3c", {'G', 'I', 'F'}, 1, 0, Bytes(13, 0xEE)},
  };
  for (const auto& c : cases) {
    auto streams = OpenAll(c.input);
    for (size_t k = 0; k < streams.size(); ++k) {
      Bytes record(c.record.size(), 0xEE);
      EXPECT_EQ(QvStreamReadFormat(streams[k], c.format, record.data(), c.count), c.expected);
      EXPECT_EQ(record, c.record) << c.format << " via " << kKinds[k];
    }
  }
  Bytes record(16, 0xEE);
  for (QvStream s : OpenAll(Pattern(64))) {
    for (const char* format : {"", "c", "0c", "1x", "1C", "1c1", "1 c", "2c-1s",
                               "99999999999999999999c", "4097c", "4096s"})
      EXPECT_EQ(QvStreamReadFormat(s, format, record.data(), 1), 0) << format;
    EXPECT_EQ(QvStreamReadFormat(s, nullptr, record.data(), 1), 0);
    EXPECT_EQ(QvStreamReadFormat(s, "2c", record.data(), 0), 0);
    EXPECT_EQ(QvStreamReadFormat(s, "2c", record.data(), -3), 0);
    EXPECT_EQ(QvStreamSeek(s, 0, 1), 0) << "the stream moved";
  }
  EXPECT_EQ(record, Bytes(16, 0xEE));
  EXPECT_EQ(QvStreamReadFormat(nullptr, "1c", record.data(), 1), 0);
}

// Sizes across the 64 KiB file buffer and seeks like a file's: the three
// kinds deliver the very same bytes, whatever pieces a host hands out.
TEST_F(Streams, ThreeKindsReadAndSeekAlike) {
  const Bytes data = Pattern(200000);
  const struct {
    int32_t offset, origin, expected;
  } seeks[] = {{-1, 0, -1},      {-200001, 1, -1}, {5, 0, 5},  {3, 1, 8},
               {-10, 2, 199990}, {50, 2, 200050},  {2, 3, -1}, {65534, 0, 65534}};
  auto streams = OpenAll(data, 777);
  for (size_t k = 0; k < streams.size(); ++k) {
    SCOPED_TRACE(kKinds[k]);
    Bytes got;
    for (int32_t size : {1, 13, 65535, 2, 70000, 3, 40000, 100000}) {
      Bytes part(static_cast<size_t>(size));
      got.insert(got.end(), part.begin(),
                 part.begin() + QvStreamRead(streams[k], part.data(), size));
    }
    EXPECT_EQ(got, data);
    int32_t position = 200000;
    for (const auto& seek : seeks) {
      const int32_t result = QvStreamSeek(streams[k], seek.offset, seek.origin);
      EXPECT_EQ(result, seek.expected) << seek.offset << "," << seek.origin;
      position = result >= 0 ? result : position;  // a failed seek stays
      uint8_t byte = 0;
      EXPECT_EQ(QvStreamRead(streams[k], &byte, 1), position < 200000 ? 1 : 0);
      EXPECT_TRUE(position >= 200000 || byte == data[position]);
      QvStreamSeek(streams[k], position, 0);
    }
    uint16_t value[2];
    ASSERT_EQ(QvStreamReadShorts(streams[k], value, 2), 2);
    EXPECT_EQ(value[1], data[65536] | data[65537] << 8);
    ASSERT_EQ(QvStreamSeek(streams[k], -3, 2), 199997);
    EXPECT_EQ(QvStreamReadShorts(streams[k], value, 2), 1) << "an odd byte is no short";
    StandInFailStreamReadAt(2);  // the second read from now fails once and reads nothing
    EXPECT_EQ(std::vector<int32_t>(
                  {QvStreamSeek(streams[k], 0, 0), QvStreamRead(streams[k], &value, 4),
                   QvStreamReadFormat(streams[k], "4c", &value, 1), QvStreamSeek(streams[k], 0, 1),
                   QvStreamReadChars(streams[k], &value, 4)}),
              std::vector<int32_t>({0, 4, 0, 4, 4}));
  }
  // Byte-at-a-time reads of a file are served from its buffer.
  const long before = StandInFileSystemReads();
  uint8_t byte;
  QvStreamSeek(streams[0], 0, 0);
  for (size_t at = 0; at < data.size(); ++at)
    ASSERT_TRUE(QvStreamReadChars(streams[0], &byte, 1) == 1 && byte == data[at]) << at;
  EXPECT_LE(StandInFileSystemReads() - before, 200000 / 65536 + 3);
}

TEST_F(Streams, FailingOrLyingHostsAndFailedOpensNeverOverrunNorLeak) {
  const struct {
    int32_t readResult, lieBy, chunk, expected;  // of a 16-byte read from 64 bytes
  } cases[] = {
      {-1, 0, 0, 0}, {-7, 0, 0, 0}, {0, 1000, 0, 16}, {0, 0, 1, 16}, {0x7FFFFFF0, 0, 0, 16}};
  for (const auto& c : cases) {
    HostStream host{Pattern(64), c.chunk, c.lieBy, c.readResult};
    QvStream s = OpenHost(&host);
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[16]);  // ASan sees any write past it
    EXPECT_EQ(QvStreamRead(s, buffer.get(), 16), c.expected) << c.readResult << " " << c.lieBy;
    Bytes record(13);
    EXPECT_LE(QvStreamReadFormat(s, "6c2s3c", record.data(), 1), 1);
    QvStreamClose(s);  // while its host lives: closing asks the host where it stands
    open_.pop_back();
  }
  HostStream broken{{}, 0, 0, 0, true};
  QvStream s = OpenHost(&broken);
  for (const int32_t origin : {0, 1, 2}) EXPECT_EQ(QvStreamSeek(s, origin - 1, origin), -1);

  const uint8_t* none = nullptr;
  StreamOpenDescriptor noSource = {}, nullAddress = {};
  noSource.size = nullAddress.size = 10;
  nullAddress.source = reinterpret_cast<uintptr_t>(&none);
  char fifo[] = "/tmp/companion_fifoXXXXXX";
  close(mkstemp(fifo));
  unlink(fifo);
  ASSERT_EQ(mkfifo(fifo, 0600), 0);
  EXPECT_EQ(QvStreamOpen(fifo, nullptr, 0), nullptr) << "waiting for a writer would hang";
  unlink(fifo);
  for (const char* path : {"/nonexistent/x.gif", "/tmp", ""})
    EXPECT_EQ(QvStreamOpen(path, nullptr, 0), nullptr) << path;
  EXPECT_EQ(QvStreamOpen(nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(QvStreamOpen(nullptr, &noSource, 0), nullptr);
  EXPECT_EQ(QvStreamOpen(nullptr, &nullAddress, 0), nullptr);
  EXPECT_EQ(StandInLiveStreams(), 1);
  QvStreamClose(nullptr);
  nullAddress.size = 0;  // an empty block is an empty stream, not a failure
  QvStream empty = Keep(QvStreamOpen(nullptr, &nullAddress, 0));
  EXPECT_EQ(std::vector<int32_t>({QvStreamRead(empty, &none, 4), QvStreamSeek(empty, 0, 2)}),
            std::vector<int32_t>({0, 0}));
}

// One run of calls as an import makes them; the log is cleared after the
// open, so that the stream is numbered anew.
std::string RunOver(QvStream stream) {
  StandInClearLog();
  uint8_t header[13];
  QvStreamReadFormat(stream, "6c2s3c", header, 1);
  for (int i = 0; i < 3; ++i) QvStreamReadChars(stream, header, 1);
  QvStreamSeek(stream, 0, 2);
  QvPicture doc = QvDocCreate(0);
  HGLOBAL options = QvOptionsCreate(0, 0, 0, 0);
  HostContext context = {};
  QvDocOpen(doc, "start", "open", 0, options, &context);
  QvDocSetNames(doc, "quote\"back\\slash", "tab\t", "\xe9");
  PaletteEntry colors[2] = {};
  colors[1].red = 255;
  QvSetPalette(doc, 0, 2, colors);
  BitmapCorners corners = {};
  BitmapSize size = {{3, 0}, {2, 0}};
  const uint8_t rows[8] = {1, 2, 3, 0, 4, 5, 6, 0};
  QvBitmapBegin(doc, &corners, &size, -8, 0, 1, 3, 0);
  QvBitmapBand(doc, &corners, &size, -8, 1, rows);
  QvBitmapEnd(doc);
  QvDocDestroy(doc);
  GlobalFree(options);
  QvStreamClose(stream);
  std::string log;
  for (int i = 0; i < StandInLogSize(); ++i) log += StandInLogEntry(i) + std::string("\n");
  return log;
}

TEST_F(Streams, SameCallsGiveTheSameLogWhateverTheInput) {
  const auto streams = OpenAll({'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, ';', 0, 0});
  open_.clear();  // each run closes its stream
  const std::string log = RunOver(streams[0]);
  StandInSetLogging(0);  // unlogged: no entry, the same picture
  EXPECT_EQ(RunOver(streams[1]), "");
  StandInSetLogging(1);
  EXPECT_EQ(StandInLastPicture()->bitmaps.at(0).bands.at(0).data, Bytes({1, 2, 3, 0, 4, 5, 6, 0}));
  EXPECT_EQ(RunOver(streams[2]), log);
  for (const char* part :
       {"{\"op\":\"QvStreamReadFormat\",\"stream\":\"stream#1\",\"format\":\"6c2s3c\",\"count\":1,"
        "\"calls\":1,\"result\":1}\n{\"op\":\"QvStreamReadChars\",\"stream\":\"stream#1\","
        "\"count\":1,\"calls\":3,\"result\":3}\n",  // reads in a row: one entry that counts them
        R"("names":["quote\"back\\slash","tab\t","\u00e9"])", R"("entries":[[0,0,0],[255,0,0]])",
        R"("options":"block#1","context":"ptr#)",
        R"("size":[3,2],"negDepth":-8,"reserved":1,"bytes":8,"checksum":")"}) {
    EXPECT_NE(log.find(part), std::string::npos) << part;
  }
  EXPECT_EQ(log.find("0x"), std::string::npos) << "an address in the log";
  const std::string out = testing::TempDir() + "companion_log.jsonl";
  ASSERT_EQ(StandInWriteLog(out.c_str()), 0);
  std::stringstream written;
  written << std::ifstream(out).rdbuf();
  unlink(out.c_str());
  EXPECT_EQ(written.str(), log);
  EXPECT_NE(StandInWriteLog("/nonexistent/dir/log.jsonl"), 0);
}

}  // namespace
