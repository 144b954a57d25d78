// Test support: builds GIF files in memory, with a real LZW encoder, so that
// tests, examples and benchmarks make their own inputs.
#ifndef GIFIMPORT_TESTS_SUPPORT_GIF_WRITER_H
#define GIFIMPORT_TESTS_SUPPORT_GIF_WRITER_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace gifwrite {

using Bytes = std::vector<uint8_t>;

struct Color {
  uint8_t r, g, b;
};

// The LZW encoder's choices, to make streams that exercise the decoder.
struct LzwOptions {
  bool initialClear = true, endCode = true;
  bool clearWhenFull = true;  // false: a full table stays ("deferred clear")
  int clearEvery = 0;         // > 0: also clear after this many codes
  int subBlockSize = 255;     // 1..255
};

// Image data (code size byte, sub-blocks, terminator) of pixel indices, each
// masked to minCodeSize bits; every code has the width a decoder reads it with.
Bytes EncodeImageData(const std::vector<uint8_t>& pixels, int minCodeSize,
                      const LzwOptions& options = {});
// Raw (code, width) pairs packed LSB first into sub-blocks, for hand-built streams.
Bytes PackCodes(int minCodeSize, const std::vector<std::pair<int, int>>& codes,
                int subBlockSize = 255);

struct Image {
  uint16_t left = 0, top = 0, width = 0, height = 0;
  bool interlaced = false;
  std::vector<Color> localColors;  // empty: none; else 2..256 (padded to 2^n)
  std::vector<uint8_t> pixels;     // display order (any other count as it stands)
  LzwOptions lzw;
};

class GifBuilder {
 public:
  // version "87a" or "89a"; globalColors empty: no global table.
  GifBuilder(uint16_t width, uint16_t height, const std::vector<Color>& globalColors = {},
             const std::string& version = "89a", uint8_t backgroundIndex = 0);
  // disposal: the method's 3 bits (0 none, 1 keep, 2 background, 3 previous);
  // delay in hundredths of a second.
  GifBuilder& GraphicControl(bool transparent, uint8_t transparentIndex, int disposal = 0,
                             uint16_t delay = 0);
  GifBuilder& Comment(const std::string& text);
  // Plain-text extension; each text a sub-block of its own (at most 255 bytes).
  GifBuilder& PlainText(uint16_t gridLeft, uint16_t gridTop, uint16_t gridWidth,
                        uint16_t gridHeight, uint8_t cellWidth, uint8_t cellHeight,
                        uint8_t foreground, uint8_t background,
                        const std::vector<std::string>& subBlocks);
  GifBuilder& AddImage(const Image& image);
  GifBuilder& Trailer();
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
  int colorBits_ = 1;  // of the global table
};

bool WriteFile(const std::string& path, const Bytes& bytes);

}  // namespace gifwrite

#endif
