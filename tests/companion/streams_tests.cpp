// Input streams of the companion stand-in: the same bytes, structured reads
// and seeks through a file, a memory block and a host stream, and the ways a
// host stream or a file can let a reader down.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "gifimport/filter_api.h"
#include "gifimport/input_stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

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

QvStream OpenHost(HostStream* host) {
  hosts.push_back(host);
  StreamOpenDescriptor d = {};
  d.source = hosts.size() - 1;
  d.streamFunction = &HostProc;
  return QvStreamOpen("carried.gif", &d, 0);
}

// The same bytes opened as a file, a memory block and a host stream.
struct ThreeKinds {
  explicit ThreeKinds(const Bytes& bytes, int32_t hostChunk = 0)
      : memory(bytes), address(memory.data()), host{bytes, hostChunk} {
    const std::string name = testing::TempDir() + "companion_stream" + std::to_string(getpid());
    std::ofstream(name, std::ios::binary) << std::string(bytes.begin(), bytes.end());
    StreamOpenDescriptor block = {};
    block.source = reinterpret_cast<uintptr_t>(&address);
    block.size = uint32_t(bytes.size());
    streams = {QvStreamOpen(name.c_str(), nullptr, 0), QvStreamOpen(nullptr, &block, 0),
               OpenHost(&host)};
    std::remove(name.c_str());  // the stream keeps the file open
  }
  ~ThreeKinds() {
    for (QvStream s : streams) QvStreamClose(s);
  }
  Bytes memory;
  const uint8_t* address;
  HostStream host;
  std::vector<QvStream> streams;
};

TEST(Streams, StructuredReadsPlaceShortsAtEvenOffsetsAndRefuseBadFormats) {
  const Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 0x40, 0x01, 0xF0, 0x00, 0xF7, 0x02, 0x00};
  const struct {
    const char* format;
    Bytes input;
    int32_t count, expected;
    Bytes record;  // 0xEE: a byte the read must leave alone
  } cases[] = {
      {"6c2s3c", gif, 1, 1, gif},
      {"1c1s", {1, 2, 3, 4, 5, 6}, 2, 2, {1, 0xEE, 2, 3, 4, 0xEE, 5, 6}},  // records start even
      {"1c1s1c", {1, 2, 3, 4, 5, 6, 7}, 2, 1, {1, 0xEE, 2, 3, 4, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},
      {"6c2s3c", {'G', 'I', 'F'}, 1, 0, Bytes(13, 0xEE)},
      {"4097c", gif, 1, 0, {0xEE}},  // formats the stand-in does not know read nothing
      {"1c1", gif, 1, 0, {0xEE}},
      {"2c-1s", gif, 1, 0, {0xEE}},
      {"99999999999999999999c", gif, 1, 0, {0xEE}},
      {"2c", gif, -3, 0, {0xEE}},
  };
  for (const auto& c : cases) {
    ThreeKinds three(c.input);
    for (QvStream s : three.streams) {
      Bytes record(c.record.size(), 0xEE);
      EXPECT_EQ(QvStreamReadFormat(s, c.format, record.data(), c.count), c.expected) << c.format;
      EXPECT_EQ(record, c.record) << c.format;
      if (c.record.size() == 1) {
        EXPECT_EQ(QvStreamSeek(s, 0, 1), 0) << "a refused read moved";
      }
    }
  }
}

// Sizes across the 64 KiB file buffer and seeks like a file's: the three
// kinds deliver the very same bytes, whatever pieces a host hands out.
TEST(Streams, ThreeKindsReadAndSeekAlike) {
  Bytes data(200000);
  uint32_t x = 12345;
  for (uint8_t& b : data) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
  const struct {
    int32_t offset, origin, expected;
  } seeks[] = {{-1, 0, -1},      {-200001, 1, -1}, {5, 0, 5},  {3, 1, 8},
               {-10, 2, 199990}, {50, 2, 200050},  {2, 3, -1}, {65534, 0, 65534}};
  ThreeKinds three(data, 777);
  for (QvStream s : three.streams) {
    Bytes got;
    for (int32_t size : {1, 13, 65535, 2, 70000, 3, 40000, 100000}) {
      Bytes part(static_cast<size_t>(size));
      got.insert(got.end(), part.begin(), part.begin() + QvStreamRead(s, part.data(), size));
    }
    EXPECT_EQ(got, data);
    int32_t position = 200000;
    for (const auto& seek : seeks) {
      const int32_t result = QvStreamSeek(s, seek.offset, seek.origin);
      EXPECT_EQ(result, seek.expected) << seek.offset << "," << seek.origin;
      position = result >= 0 ? result : position;  // a failed seek stays
      uint8_t byte = 0;
      EXPECT_EQ(QvStreamRead(s, &byte, 1), position < 200000 ? 1 : 0);
      EXPECT_TRUE(position >= 200000 || byte == data[position]);
      QvStreamSeek(s, position, 0);
    }
    StandInFailStreamReadAt(2);  // the second read from now fails once and reads nothing
    uint8_t bytes[4];
    EXPECT_EQ(std::vector<int32_t>({QvStreamRead(s, bytes, 4), QvStreamReadChars(s, bytes, 1),
                                    QvStreamSeek(s, 0, 1)}),
              std::vector<int32_t>({4, 0, 65538}));
  }
}

TEST(Streams, FailingOrLyingHostsAndFailedOpensNeverOverrunNorLeak) {
  const struct {
    int32_t readResult, lieBy, chunk, expected;  // of a 16-byte read from 64 bytes
  } cases[] = {
      {-1, 0, 0, 0}, {-7, 0, 0, 0}, {0, 1000, 0, 16}, {0, 0, 1, 16}, {0x7FFFFFF0, 0, 0, 16}};
  for (const auto& c : cases) {
    HostStream host{Bytes(64, 1), c.chunk, c.lieBy, c.readResult};
    QvStream s = OpenHost(&host);
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[16]);  // ASan sees any write past it
    EXPECT_EQ(QvStreamRead(s, buffer.get(), 16), c.expected) << c.readResult << " " << c.lieBy;
    Bytes record(13);
    EXPECT_LE(QvStreamReadFormat(s, "6c2s3c", record.data(), 1), 1);
    QvStreamClose(s);  // while its host lives: closing asks the host where it stands
  }
  HostStream broken{{}, 0, 0, 0, true};
  QvStream s = OpenHost(&broken);
  for (const int32_t origin : {0, 1, 2}) EXPECT_EQ(QvStreamSeek(s, origin - 1, origin), -1);
  QvStreamClose(s);

  const uint8_t* none = nullptr;
  StreamOpenDescriptor noSource = {}, nullAddress = {};
  noSource.size = nullAddress.size = 10;
  nullAddress.source = reinterpret_cast<uintptr_t>(&none);
  const std::string fifo = testing::TempDir() + "companion_fifo" + std::to_string(getpid());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(QvStreamOpen(fifo.c_str(), nullptr, 0), nullptr) << "waiting for a writer would hang";
  std::remove(fifo.c_str());
  for (const char* path : {"/nonexistent/x.gif", "/tmp", ""})
    EXPECT_EQ(QvStreamOpen(path, nullptr, 0), nullptr) << path;
  EXPECT_EQ(QvStreamOpen(nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(QvStreamOpen(nullptr, &noSource, 0), nullptr);
  EXPECT_EQ(QvStreamOpen(nullptr, &nullAddress, 0), nullptr);
  EXPECT_EQ(StandInLiveStreams(), 0);
  QvStreamClose(nullptr);
  nullAddress.size = 0;  // an empty block is an empty stream, not a failure
  QvStream empty = QvStreamOpen(nullptr, &nullAddress, 0);
  EXPECT_EQ(std::vector<int32_t>({QvStreamRead(empty, &none, 4), QvStreamSeek(empty, 0, 2)}),
            std::vector<int32_t>({0, 0}));
  QvStreamClose(empty);
  EXPECT_EQ(StandInLiveStreams(), 0);
}

}  // namespace
