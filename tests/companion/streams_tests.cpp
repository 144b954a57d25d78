// Input streams of the companion stand-in: the same bytes, reads, structured
// reads and seeks through a file, a memory block and a host stream, and the
// ways a host stream or a file can let a reader down.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "companion/standin.h"

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
  int32_t position = 0;
  int32_t chunk = 0;       // > 0: deliver at most this many bytes per call
  int32_t lieBy = 0;       // claim this many bytes more than delivered
  int32_t readResult = 0;  // non-zero: every read returns this, delivers nothing
  bool seekFails = false, tellFails = false;

  static int32_t Proc(uint32_t user, int32_t op, void* buffer, int32_t value, int32_t origin);
};

std::vector<HostStream*>& Hosts() {
  static std::vector<HostStream*> hosts;
  return hosts;
}

int32_t HostStream::Proc(uint32_t user, int32_t op, void* buffer, int32_t value, int32_t origin) {
  HostStream& h = *Hosts().at(user);
  if (op == kHostStreamTell) return h.tellFails ? -1 : h.position;
  if (op == kHostStreamSeek) {
    int64_t base = origin == 0 ? 0 : origin == 1 ? h.position : static_cast<int64_t>(h.data.size());
    if (h.seekFails || base + value < 0) return -1;
    return h.position = static_cast<int32_t>(base + value);
  }
  if (h.readResult != 0) return h.readResult;
  int64_t left = static_cast<int64_t>(h.data.size()) - h.position;
  int32_t n = static_cast<int32_t>(std::max<int64_t>(0, std::min<int64_t>(value, left)));
  if (h.chunk > 0) n = std::min(n, h.chunk);
  if (n > 0) std::memcpy(buffer, h.data.data() + h.position, static_cast<size_t>(n));
  h.position += n;
  return n + h.lieBy;
}

// Opens the same bytes three ways; closes whatever is still open at the end.
class Streams : public ::testing::Test {
 protected:
  void SetUp() override { StandInResetFaults(); }
  void TearDown() override {
    for (QvStream s : open_) QvStreamClose(s);
    if (!path_.empty()) unlink(path_.c_str());
    Hosts().clear();
    EXPECT_EQ(StandInLiveStreams(), 0);
  }

  QvStream OpenFile(const Bytes& bytes) {
    char name[] = "/tmp/companion_streamXXXXXX";
    int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    path_ = name;
    return Keep(QvStreamOpen(name, nullptr, 0));
  }
  QvStream OpenMemory(const Bytes& bytes) {
    memory_ = bytes;
    address_ = memory_.data();
    StreamOpenDescriptor d = {};
    d.source = reinterpret_cast<uintptr_t>(&address_);
    d.size = static_cast<uint32_t>(memory_.size());
    return Keep(QvStreamOpen(nullptr, &d, 0));
  }
  QvStream OpenHost(HostStream* host) {
    Hosts().push_back(host);
    StreamOpenDescriptor d = {};
    d.source = Hosts().size() - 1;
    d.streamFunction = &HostStream::Proc;
    return Keep(QvStreamOpen("carried.gif", &d, 0));
  }
  // File, memory and host stream over the same bytes.
  std::vector<QvStream> OpenAll(const Bytes& bytes) {
    host_ = HostStream();
    host_.data = bytes;
    return {OpenFile(bytes), OpenMemory(bytes), OpenHost(&host_)};
  }
  QvStream Keep(QvStream s) {
    EXPECT_NE(s, nullptr);
    if (s != nullptr) open_.push_back(s);
    return s;
  }

  std::vector<QvStream> open_;
  std::string path_;
  Bytes memory_;
  const uint8_t* address_ = nullptr;
  HostStream host_;
};

const char* const kKinds[] = {"file", "memory", "host"};

TEST_F(Streams, StructuredReadsPlaceShortsAtEvenOffsets) {
  struct Case {
    const char* format;
    Bytes input;
    int32_t count, expected;
    Bytes record;  // 0xEE: a byte the read must leave alone
  };
  const Case cases[] = {
      {"1c1s1c", {0x05, 0x34, 0x12, 0x09}, 1, 1, {0x05, 0xEE, 0x34, 0x12, 0x09}},
      {"6c2s3c",
       {'G', 'I', 'F', '8', '9', 'a', 0x40, 0x01, 0xF0, 0x00, 0xF7, 0x02, 0x00},
       1,
       1,
       {'G', 'I', 'F', '8', '9', 'a', 0x40, 0x01, 0xF0, 0x00, 0xF7, 0x02, 0x00}},
      {"3c", {1, 2, 3, 4, 5, 6, 7, 8, 9}, 3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {"4s1c", {1, 0, 2, 0, 3, 0, 4, 0, 0x80}, 1, 1, {1, 0, 2, 0, 3, 0, 4, 0, 0x80}},
      {"1c1s1c", {1, 2, 3, 4, 5, 6, 7}, 2, 1, {1, 0xEE, 2, 3, 4, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},
      {"3c", {1, 2, 3, 4, 5}, 3, 1, {1, 2, 3, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},
      {"6c2s3c", {'G', 'I', 'F'}, 1, 0, Bytes(13, 0xEE)},
  };
  for (const Case& c : cases) {
    auto streams = OpenAll(c.input);
    for (size_t k = 0; k < streams.size(); ++k) {
      SCOPED_TRACE(std::string(c.format) + " via " + kKinds[k]);
      Bytes record(c.record.size(), 0xEE);
      EXPECT_EQ(QvStreamReadFormat(streams[k], c.format, record.data(), c.count), c.expected);
      EXPECT_EQ(record, c.record);
    }
  }
}

TEST_F(Streams, BadFormatsReadNothing) {
  const char* const formats[] = {
      "",      "c",     "0c",   "1x", "1C", "1c1", "1 c", "2c-1s", "99999999999999999999c",
      "4097c", "4096s", nullptr};
  auto streams = OpenAll(Pattern(64));
  for (QvStream s : streams) {
    for (const char* format : formats) {
      SCOPED_TRACE(format ? format : "(null)");
      Bytes record(16, 0xEE);
      EXPECT_EQ(QvStreamReadFormat(s, format, record.data(), 1), 0);
      EXPECT_EQ(record, Bytes(16, 0xEE));
      EXPECT_EQ(QvStreamSeek(s, 0, 1), 0) << "the stream moved";
    }
    Bytes record(16);
    EXPECT_EQ(QvStreamReadFormat(s, "2c", record.data(), 0), 0);
    EXPECT_EQ(QvStreamReadFormat(s, "2c", record.data(), -3), 0);
  }
  Bytes record(16);
  EXPECT_EQ(QvStreamReadFormat(nullptr, "1c", record.data(), 1), 0);
}

TEST_F(Streams, SeekLikeAFile) {
  struct Step {
    int32_t offset, origin, expected;
    int32_t readExpected;  // bytes a 4-byte read gives afterwards
  };
  const Step steps[] = {
      {0, 2, 100, 0},   {-10, 2, 90, 4}, {-1, 0, -1, 4},  // before the start fails, stays
      {-200, 1, -1, 4}, {5, 0, 5, 4},    {3, 1, 8, 4},
      {50, 2, 150, 0},  {0, 1, 150, 0},  {2, 3, -1, 0},  // past the end; no origin 3
      {-4, 2, 96, 4},
  };
  Bytes data = Pattern(100);
  auto streams = OpenAll(data);
  for (size_t k = 0; k < streams.size(); ++k) {
    SCOPED_TRACE(kKinds[k]);
    int32_t position = 0;
    for (const Step& step : steps) {
      SCOPED_TRACE(std::to_string(step.offset) + "," + std::to_string(step.origin));
      int32_t result = QvStreamSeek(streams[k], step.offset, step.origin);
      EXPECT_EQ(result, step.expected);
      if (result >= 0) position = result;
      Bytes got(4);
      ASSERT_EQ(QvStreamRead(streams[k], got.data(), 4), step.readExpected);
      if (step.readExpected > 0) {
        EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin() + position));
      }
      QvStreamSeek(streams[k], position, 0);
    }
  }
  EXPECT_EQ(QvStreamSeek(nullptr, 0, 1), -1);
}

// A mix of sizes across the 64 KiB file buffer, seeks included: the three
// kinds must deliver the very same bytes.
TEST_F(Streams, ThreeKindsDeliverTheSameBytes) {
  Bytes data = Pattern(200000);
  auto streams = OpenAll(data);
  host_.chunk = 777;  // a host that hands out small pieces
  const int32_t sizes[] = {1, 13, 65535, 2, 70000, 3, 40000, 100000};
  for (size_t k = 0; k < streams.size(); ++k) {
    SCOPED_TRACE(kKinds[k]);
    Bytes got;
    for (int32_t size : sizes) {
      Bytes part(static_cast<size_t>(size));
      int32_t n = QvStreamRead(streams[k], part.data(), size);
      got.insert(got.end(), part.begin(), part.begin() + n);
    }
    EXPECT_EQ(got, data);
    ASSERT_EQ(QvStreamSeek(streams[k], 65534, 0), 65534);
    uint16_t value[2];
    ASSERT_EQ(QvStreamReadShorts(streams[k], value, 2), 2);
    EXPECT_EQ(value[0], data[65534] | data[65535] << 8);
    EXPECT_EQ(value[1], data[65536] | data[65537] << 8);
    ASSERT_EQ(QvStreamSeek(streams[k], -3, 2), 199997);
    EXPECT_EQ(QvStreamReadShorts(streams[k], value, 2), 1) << "an odd byte is no short";
  }
}

TEST_F(Streams, ByteAtATimeFileReadsAreBuffered) {
  Bytes data = Pattern(300000);
  QvStream s = OpenFile(data);
  long before = StandInFileSystemReads();
  bool same = true;
  uint8_t byte;
  for (size_t i = 0; i < data.size(); ++i) {
    same = same && QvStreamReadChars(s, &byte, 1) == 1 && byte == data[i];
  }
  EXPECT_TRUE(same);
  EXPECT_EQ(QvStreamReadChars(s, &byte, 1), 0);
  EXPECT_LE(StandInFileSystemReads() - before, 300000 / 65536 + 3);
}

TEST_F(Streams, FailingOrLyingHostsNeverOverrun) {
  struct Case {
    const char* name;
    int32_t readResult, lieBy, chunk;
    int32_t expected;  // of a 16-byte read from 64 bytes
  };
  const Case cases[] = {
      {"fails", -1, 0, 0, 0},
      {"odd failure", -7, 0, 0, 0},
      {"claims too much", 0, 1000, 0, 16},
      {"one byte a call", 0, 0, 1, 16},
      {"claims a huge count", 0x7FFFFFF0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HostStream host;
    host.data = Pattern(64);
    host.readResult = c.readResult;
    host.lieBy = c.lieBy;
    host.chunk = c.chunk;
    QvStream s = OpenHost(&host);
    // Exactly 16 bytes of room: ASan reports any write past them.
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[16]);
    int32_t n = QvStreamRead(s, buffer.get(), 16);
    if (c.readResult > 0) {
      EXPECT_LE(n, 16);
    } else {
      EXPECT_EQ(n, c.expected);
    }
    Bytes record(13);
    EXPECT_LE(QvStreamReadFormat(s, "6c2s3c", record.data(), 1), 1);
  }
  HostStream broken;
  broken.seekFails = broken.tellFails = true;
  QvStream s = OpenHost(&broken);
  EXPECT_EQ(QvStreamSeek(s, 0, 1), -1);
  EXPECT_EQ(QvStreamSeek(s, 0, 2), -1);
  EXPECT_EQ(QvStreamSeek(s, -1, 0), -1);
}

TEST_F(Streams, OpenFailuresLeaveNothingOpen) {
  int32_t zero = 0;
  const uint8_t* none = nullptr;
  StreamOpenDescriptor noSource = {};
  noSource.size = 10;
  StreamOpenDescriptor nullAddress = {};
  nullAddress.source = reinterpret_cast<uintptr_t>(&none);
  nullAddress.size = 10;
  EXPECT_EQ(QvStreamOpen("/nonexistent/x.gif", nullptr, 0), nullptr);
  EXPECT_EQ(QvStreamOpen("/tmp", nullptr, 0), nullptr) << "a directory is no input";
  char fifo[] = "/tmp/companion_fifoXXXXXX";
  close(mkstemp(fifo));
  unlink(fifo);
  ASSERT_EQ(mkfifo(fifo, 0600), 0);
  EXPECT_EQ(QvStreamOpen(fifo, nullptr, 0), nullptr) << "waiting for a writer would hang";
  unlink(fifo);
  EXPECT_EQ(QvStreamOpen("", nullptr, 0), nullptr);
  EXPECT_EQ(QvStreamOpen(nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(QvStreamOpen(nullptr, &noSource, 0), nullptr);
  EXPECT_EQ(QvStreamOpen(nullptr, &nullAddress, 0), nullptr);
  EXPECT_EQ(StandInLiveStreams(), 0);

  // An empty block is an empty stream, not a failure.
  nullAddress.size = 0;
  QvStream empty = Keep(QvStreamOpen(nullptr, &nullAddress, 0));
  EXPECT_EQ(StandInLiveStreams(), 1);
  EXPECT_EQ(QvStreamRead(empty, &zero, 4), 0);
  EXPECT_EQ(QvStreamSeek(empty, 0, 2), 0);
  QvStreamClose(nullptr);
}

TEST_F(Streams, NthReadFailsOnce) {
  auto streams = OpenAll(Pattern(32));
  for (QvStream s : streams) {
    uint8_t buffer[4];
    StandInFailStreamReadAt(2);
    EXPECT_EQ(QvStreamRead(s, buffer, 4), 4);
    EXPECT_EQ(QvStreamReadFormat(s, "4c", buffer, 1), 0);
    EXPECT_EQ(QvStreamSeek(s, 0, 1), 4) << "a failed read reads nothing";
    EXPECT_EQ(QvStreamReadChars(s, buffer, 4), 4);
  }
}

}  // namespace
