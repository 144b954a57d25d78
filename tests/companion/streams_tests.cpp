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
#include "tests/support/row_tests.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A host stream over a byte vector, with the misbehaviours hosts have: at
// most `chunk` bytes a call, claiming `lieBy` more than delivered, every
// read giving `readResult`, seek and tell failing when `broken`.
struct HostStream {
  Bytes data;
  int32_t chunk = 0, lieBy = 0, readResult = 0, position = 0;
  bool broken = false;
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
  n = std::max(0, h.chunk > 0 ? std::min(n, h.chunk) : n);
  if (n > 0) std::memcpy(buffer, h.data.data() + h.position, size_t(n));
  h.position += n;
  return n + h.lieBy;
}

QvStream OpenHost(HostStream* host) {
  hosts.push_back(host);
  const StreamOpenDescriptor d = {hosts.size() - 1, 0, 0, 0, &HostProc, 0};
  return QvStreamOpen("carried.gif", &d, 0);
}

// The same bytes opened as a file, a memory block and a host stream.
struct ThreeKinds {
  explicit ThreeKinds(const Bytes& bytes, int32_t hostChunk = 0)
      : address(bytes.data()), host{bytes, hostChunk} {
    const std::string name = testing::TempDir() + "companion_stream" + std::to_string(getpid());
    std::ofstream(name, std::ios::binary) << std::string(bytes.begin(), bytes.end());
    const StreamOpenDescriptor block = {
        reinterpret_cast<uintptr_t>(&address), uint32_t(bytes.size()), 0, 0, nullptr, 0};
    streams = {QvStreamOpen(name.c_str(), nullptr, 0), QvStreamOpen(nullptr, &block, 0),
               OpenHost(&host)};
    std::remove(name.c_str());  // the stream keeps the file open
  }
  ~ThreeKinds() {
    for (QvStream s : streams) QvStreamClose(s);
  }
  const uint8_t* address;  // of the caller's bytes, which outlive the streams
  HostStream host;
  std::vector<QvStream> streams;
};

class StreamFormat : public testtable::RowTest<> {};

TEST_P(StreamFormat, StructuredReadsPlaceShortsAtEvenOffsetsAndRefuseBadFormats) {
  const auto hex = [](const std::string& field) {
    Bytes bytes;
    for (const std::string& word : testtable::Words(field))
      bytes.push_back(uint8_t(std::stoi(word, nullptr, 16)));
    return bytes;
  };
  const Bytes input = hex(row[1]), expected = hex(row[4]);
  ThreeKinds three(input);
  for (QvStream s : three.streams) {
    Bytes record(expected.size(), 0xEE);
    EXPECT_EQ(QvStreamReadFormat(s, row[0].c_str(), record.data(), std::stoi(row[2])),
              std::stoi(row[3]));
    EXPECT_EQ(record, expected);
    EXPECT_TRUE(expected.size() > 1 || QvStreamSeek(s, 0, 1) == 0) << "a refused read moved";
  }
}
TESTTABLE_ROWS(StreamFormat, COMPANION_DATA "stream_formats.txt", "", 9, -1);

// Sizes across the 64 KiB file buffer and seeks like a file's: the three
// kinds deliver the very same bytes, whatever pieces a host hands out.
TEST(Streams, ThreeKindsReadAndSeekAlike) {
  Bytes data(200000);
  uint32_t x = 12345;
  for (uint8_t& b : data) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
  const int32_t seeks[][3] = {{-1, 0, -1},      {-200001, 1, -1}, {5, 0, 5},  {3, 1, 8},
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
      const int32_t result = QvStreamSeek(s, seek[0], seek[1]);
      EXPECT_EQ(result, seek[2]) << seek[0] << "," << seek[1];
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
  // A 16-byte read from 64 bytes: chunk, lieBy, readResult, what it gives.
  const int32_t cases[][4] = {
      {0, 0, -1, 0}, {0, 0, -7, 0}, {0, 1000, 0, 16}, {1, 0, 0, 16}, {0, 0, 0x7FFFFFF0, 16}};
  for (const auto& c : cases) {
    HostStream host{Bytes(64, 1), c[0], c[1], c[2]};
    QvStream s = OpenHost(&host);
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[16]);  // ASan sees any write past it
    EXPECT_EQ(QvStreamRead(s, buffer.get(), 16), c[3]) << c[2] << " " << c[1];
    Bytes record(13);
    EXPECT_LE(QvStreamReadFormat(s, "6c2s3c", record.data(), 1), 1);
    QvStreamClose(s);  // while its host lives: closing asks the host where it stands
  }
  HostStream broken{{}, 0, 0, 0, 0, true};
  QvStream s = OpenHost(&broken);
  for (const int32_t origin : {0, 1, 2}) EXPECT_EQ(QvStreamSeek(s, origin - 1, origin), -1);
  QvStreamClose(s);

  const uint8_t* none = nullptr;
  StreamOpenDescriptor noSource = {0, 10, 0, 0, nullptr, 0};
  StreamOpenDescriptor nullAddress = {reinterpret_cast<uintptr_t>(&none), 10, 0, 0, nullptr, 0};
  const std::string fifo = testing::TempDir() + "companion_fifo" + std::to_string(getpid());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(QvStreamOpen(fifo.c_str(), nullptr, 0), nullptr) << "waiting for a writer would hang";
  std::remove(fifo.c_str());
  for (const char* path : {"/nonexistent/x.gif", "/tmp", ""})
    EXPECT_EQ(QvStreamOpen(path, nullptr, 0), nullptr) << path;
  for (const StreamOpenDescriptor* d :
       {static_cast<StreamOpenDescriptor*>(nullptr), &noSource, &nullAddress})
    EXPECT_EQ(QvStreamOpen(nullptr, d, 0), nullptr);
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
