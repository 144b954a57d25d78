// The LZW code loop on plain bytes, a named case each: the codes a stream
// holds with the width each is packed in, the pixels they must give, the
// bits consumed and why decoding stops (the pixels of many more streams:
// lzw_streams.txt). The packing here is the format's
// own (least significant bit first), written out so that no case depends on
// the decoder's idea of when the width grows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "gif/lzw_core.h"
#include "tests/support/gif_writer.h"

namespace {

struct CoreCase {
  const char* name;
  const char* codes;  // "code/width ...", minimum code size 2 (clear 4, end 5)
  uint32_t outputSize;
  const char* pixels;  // those written; the rest of the output stays 0
  LzwStop stop;
  uint32_t bitsConsumed;
};

const CoreCase kCases[] = {
    {"RootsThenTheEndCode", "4/3 1/3 2/3 5/3", 8, "1 2", LzwStop::kEndCode, 12},
    {"AFullOutputStopsBeforeTheEndCode", "4/3 1/3 2/3 3/3 5/3", 2, "1 2", LzwStop::kOutputFull, 9},
    {"AStringIsCutAtTheOutputsEnd", "4/3 1/3 2/3 6/3 5/3", 3, "1 2 1", LzwStop::kOutputFull, 12},
    // Entries 6 and 7 end up prefixes of each other; the last code's string
    // runs through them.
    {"AChainInACycleStopsDecoding", "4/3 1/3 7/3 6/3 7/3 5/4", 16, "1 0 0 0",
     LzwStop::kEndlessChain, 15},
    {"BytesWithoutAWholeCodeAreLeft", "4/3 1/3", 8, "1", LzwStop::kNeedInput, 6},
    // After a clear code the table is fresh: strings are copied again.
    {"AClearCodeEndsAnEarlierTablesReach", "4/3 1/3 7/3 2/3 4/3 3/3 6/3 5/3", 16, "1 2 3 3 3",
     LzwStop::kEndCode, 24},
};

std::vector<uint8_t> Pack(const char* codes, uint32_t* bits) {
  std::vector<uint8_t> bytes;
  std::istringstream in(codes);
  std::string item;
  *bits = 0;
  while (in >> item) {
    const uint32_t code = std::stoul(item), width = std::stoul(item.substr(item.find('/') + 1));
    for (uint32_t i = 0; i < width; ++i, ++*bits) {
      if (*bits % 8 == 0) bytes.push_back(0);
      bytes.back() |= static_cast<uint8_t>(((code >> i) & 1) << (*bits % 8));
    }
  }
  return bytes;
}

std::vector<uint8_t> Pixels(const char* text, uint32_t size) {
  std::vector<uint8_t> pixels(size, 0);
  std::istringstream in(text);
  unsigned value = 0;
  for (uint32_t i = 0; in >> value; ++i) pixels.at(i) = static_cast<uint8_t>(value);
  return pixels;
}

struct Core {
  explicit Core(uint32_t outputSize, uint8_t minimumCodeSize = 2)
      : tables(new LzwTables()),
        stack(new uint16_t[kReversalStackBytes / 2]()),
        output(outputSize, 0),
        decoder(tables.get(), stack.get(), minimumCodeSize, output.data(), outputSize) {}
  std::unique_ptr<LzwTables> tables;
  std::unique_ptr<uint16_t[]> stack;
  std::vector<uint8_t> output;
  LzwDecoder decoder;
};

class LzwCore : public testing::TestWithParam<CoreCase> {};

TEST_P(LzwCore, GivesItsPixelsAndStops) {
  const CoreCase& c = GetParam();
  uint32_t bits = 0;
  std::vector<uint8_t> bytes = Pack(c.codes, &bits);
  bytes.resize(bytes.size() + kLzwInputSlack, 0xFF);  // never to be used
  LzwInput input;
  input.bytes = bytes.data();
  input.available = static_cast<uint32_t>(bytes.size() - kLzwInputSlack);
  Core core(c.outputSize);
  EXPECT_EQ(core.decoder.Decode(input), c.stop);
  EXPECT_EQ(core.output, Pixels(c.pixels, c.outputSize));
  std::istringstream written(c.pixels);
  EXPECT_EQ(core.decoder.Written(),
            std::distance(std::istream_iterator<int>(written), std::istream_iterator<int>()));
  EXPECT_EQ(input.bitPosition, c.bitsConsumed);
  if (c.stop != LzwStop::kNeedInput) {
    EXPECT_EQ(core.decoder.Decode(input), c.stop) << "again";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, LzwCore, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<CoreCase>& row) {
                           return std::string(row.param.name);
                         });

// With more input to come the core stops for it while kLzwInputMargin bytes
// or fewer lie past the byte position, and resumes where it stopped once the
// caller has moved the unread bytes to the front and added more: a real
// encoder's stream fed a few bytes at a time gives its pixels, its table full
// long before the end and kept without a clear code.
TEST(LzwCoreInput, StopsForMoreAndResumesWhereItStopped) {
  std::vector<uint8_t> image(12000);
  for (size_t i = 0; i < image.size(); ++i)
    image[i] = static_cast<uint8_t>(uint32_t(i) * 2654435761u >> 25);
  gifwrite::LzwOptions options;
  options.clearWhenFull = false;
  const gifwrite::Bytes data = gifwrite::EncodeImageData(image, 7, options);
  std::vector<uint8_t> whole;  // the code bytes without their sub-block framing
  for (size_t at = 1; at < data.size() && data[at] != 0; at += data[at] + 1u)
    whole.insert(whole.end(), data.begin() + at + 1, data.begin() + at + 1 + data[at]);

  for (const size_t piece : {1, 3, 7, 255}) {
    SCOPED_TRACE(piece);
    Core core(static_cast<uint32_t>(image.size()), 7);
    std::vector<uint8_t> window(piece + kLzwInputMargin + kLzwInputSlack + 1, 0);
    LzwInput input;
    input.bytes = window.data();
    size_t fed = 0, stops = 0;
    LzwStop stop = LzwStop::kNeedInput;
    while (stop == LzwStop::kNeedInput && (input.more || fed == 0)) {
      const uint32_t at = input.bitPosition >> 3;
      std::memmove(window.data(), window.data() + at, input.available - at);
      input.available -= at;
      input.bitPosition &= 7;
      const size_t add = std::min(piece, whole.size() - fed);
      std::memcpy(window.data() + input.available, whole.data() + fed, add);
      input.available += static_cast<uint32_t>(add);
      fed += add;
      input.more = fed < whole.size();
      stop = core.decoder.Decode(input);
      if (stop == LzwStop::kNeedInput && input.more) {
        EXPECT_GE((input.bitPosition >> 3) + kLzwInputMargin, input.available) << "too early";
        ++stops;
      }
    }
    EXPECT_EQ(stop, LzwStop::kOutputFull) << "the encoder's end code follows the last pixel";
    EXPECT_GE(stops, whole.size() / (piece + kLzwInputMargin + 1));
    EXPECT_EQ(core.output, image);
  }
}

}  // namespace
