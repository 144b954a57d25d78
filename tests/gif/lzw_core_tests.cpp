// The LZW code loop on plain bytes, a named case each: the codes a stream
// holds with the width each is packed in, the pixels they must give, the
// bits consumed and why decoding stops (the pixels of many more streams:
// lzw_streams.txt). Each code is packed in the width the case gives it, so
// that no case depends on the decoder's idea of when the width grows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "gif/lzw_core.h"
#include "tests/support/gif_writer.h"
#include "tests/support/row_tests.h"

using namespace gifin;

namespace {

const std::string kCases =
    std::string(LZW_STREAMS_FILE).substr(0, std::string(LZW_STREAMS_FILE).rfind('/')) +
    "/lzw_core_cases.txt";

// The code bytes of image data, without its code size and sub-block framing.
std::vector<uint8_t> CodeBytes(const gifwrite::Bytes& data) {
  std::vector<uint8_t> bytes;
  for (size_t at = 1; at < data.size() && data[at] != 0; at += data[at] + 1u)
    bytes.insert(bytes.end(), data.begin() + at + 1, data.begin() + at + 1 + data[at]);
  return bytes;
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

class LzwCore : public testtable::RowTest<> {};

TEST_P(LzwCore, GivesItsPixelsAndStops) {
  const uint32_t size = std::stoul(row[2]);
  const LzwStop stops[] = {LzwStop::kNeedInput, LzwStop::kEndCode, LzwStop::kOutputFull,
                           LzwStop::kEndlessChain};
  const char* const names[] = {"input", "end", "full", "cycle"};
  const LzwStop stop = stops[std::find(names, names + 4, row[4]) - names];
  std::vector<std::pair<int, int>> codes;
  for (const std::string& code : testtable::Words(row[1]))
    codes.emplace_back(std::stoi(code), std::stoi(code.substr(code.find('/') + 1)));
  std::vector<uint8_t> bytes = CodeBytes(gifwrite::PackCodes(2, codes));
  bytes.resize(bytes.size() + kLzwInputSlack, 0xFF);  // never to be used
  LzwInput input;
  input.bytes = bytes.data();
  input.available = static_cast<uint32_t>(bytes.size() - kLzwInputSlack);
  Core core(size);
  EXPECT_EQ(core.decoder.Decode(input), stop);
  const std::vector<std::string> written = testtable::Words(row[3]);
  std::vector<uint8_t> pixels(size, 0);
  for (size_t i = 0; i < written.size(); ++i)
    pixels[i] = static_cast<uint8_t>(std::stoi(written[i]));
  EXPECT_EQ(core.output, pixels);
  EXPECT_EQ(core.decoder.Written(), written.size());
  EXPECT_EQ(input.bitPosition, std::stoul(row[5]));
  if (stop != LzwStop::kNeedInput) {
    EXPECT_EQ(core.decoder.Decode(input), stop) << "again";
  }
}

TESTTABLE_ROWS(LzwCore, kCases, "", 6, 0);

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
  const std::vector<uint8_t> whole = CodeBytes(data);

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
