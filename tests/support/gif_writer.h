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

// Options of the LZW encoder, to make streams that exercise the decoder.
struct LzwOptions {
  bool initialClear = true;  // begin with a clear code
  bool endCode = true;       // end with an end code
  // Emit a clear code when the table fills (4096); false keeps going with
  // 12-bit codes and a full table ("deferred clear").
  bool clearWhenFull = true;
  int clearEvery = 0;      // > 0: also clear after this many codes
  int subBlockSize = 255;  // 1..255
};

// LZW-encodes pixel indices (each < 2^minCodeSize; higher bits are dropped)
// into GIF image data: the minimum code size byte (1..8), the sub-blocks and
// the terminator. Every code, the end code included, has the width a
// decoder reads it with.
Bytes EncodeImageData(const std::vector<uint8_t>& pixels, int minCodeSize,
                      const LzwOptions& options = {});
// Packs raw codes (pairs of code and width), LSB first, into sub-blocks after
// the minimum code size byte, for hand-built streams.
Bytes PackCodes(int minCodeSize, const std::vector<std::pair<int, int>>& codes,
                int subBlockSize = 255, bool terminator = true);

struct Image {
  uint16_t left = 0, top = 0, width = 0, height = 0;
  bool interlaced = false;
  std::vector<Color> localColors;  // empty: none; else 2..256 (padded to 2^n)
  // width x height indices in display order; an interlaced image is written
  // in interlace row order. Any other count is encoded as it stands.
  std::vector<uint8_t> pixels;
  LzwOptions lzw;
};

// Builds a GIF block by block.
class GifBuilder {
 public:
  // version "87a" or "89a"; globalColors empty: no global table.
  GifBuilder(uint16_t width, uint16_t height, const std::vector<Color>& globalColors = {},
             const std::string& version = "89a", uint8_t backgroundIndex = 0);
  // Size field n written in the header when there is no global table.
  GifBuilder& SetHeaderSizeField(int n);
  GifBuilder& GraphicControl(bool transparent, uint8_t transparentIndex, uint16_t delay = 0);
  GifBuilder& Comment(const std::string& text);
  GifBuilder& Application(const std::string& identifier, const Bytes& data);
  // Plain-text extension; each text a sub-block of its own (at most 255 bytes).
  GifBuilder& PlainText(uint16_t gridLeft, uint16_t gridTop, uint16_t gridWidth,
                        uint16_t gridHeight, uint8_t cellWidth, uint8_t cellHeight,
                        uint8_t foreground, uint8_t background,
                        const std::vector<std::string>& subBlocks);
  GifBuilder& AddImage(const Image& image);
  GifBuilder& Raw(const Bytes& bytes);  // anything, verbatim
  GifBuilder& Trailer();
  const Bytes& bytes() const { return bytes_; }
  // Offsets where each block began: the header (0), the global table, then
  // every block added (for truncation sweeps).
  const std::vector<size_t>& blockOffsets() const { return blockOffsets_; }

 private:
  Bytes& Block();  // notes where a block begins
  Bytes bytes_;
  std::vector<size_t> blockOffsets_;
  int colorBits_ = 1;  // of the global table, or the header's size field + 1
};

bool WriteFile(const std::string& path, const Bytes& bytes);

}  // namespace gifwrite

#endif
