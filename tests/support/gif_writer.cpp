#include "tests/support/gif_writer.h"

#include <algorithm>
#include <fstream>

namespace gifwrite {
namespace {

constexpr int kMaxCodeBits = 12, kTableCodes = 1 << kMaxCodeBits;

void AppendSubBlocks(Bytes* out, const uint8_t* data, size_t size, int subBlockSize,
                     bool terminator) {
  const size_t chunk = static_cast<size_t>(std::clamp(subBlockSize, 1, 255));
  for (size_t done = 0; done < size; done += chunk) {
    const size_t n = std::min(chunk, size - done);
    out->push_back(static_cast<uint8_t>(n));
    out->insert(out->end(), data + done, data + done + n);
  }
  if (terminator) out->push_back(0);
}

struct BitPacker {
  Bytes out;
  uint64_t buffer = 0;
  int bits = 0;
  void Put(int code, int width) {
    buffer |= static_cast<uint64_t>(code & ((1 << width) - 1)) << bits;
    for (bits += width; bits >= 8; bits -= 8, buffer >>= 8)
      out.push_back(static_cast<uint8_t>(buffer));
  }
  Bytes ImageData(int minCodeSize, int subBlockSize) {
    if (bits > 0) out.push_back(static_cast<uint8_t>(buffer));
    Bytes data{static_cast<uint8_t>(minCodeSize)};
    AppendSubBlocks(&data, out.data(), out.size(), subBlockSize, true);
    return data;
  }
};

void AppendText(Bytes* out, const std::string& text, bool terminator) {
  AppendSubBlocks(out, reinterpret_cast<const uint8_t*>(text.data()), text.size(), 255, terminator);
}
void Put16(Bytes* out, uint16_t value) {
  out->insert(out->end(), {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)});
}

int SizeFieldFor(size_t count) {  // n in 0..7 with 2^(n+1) >= count
  int n = 0;
  while (n < 7 && (size_t{2} << n) < count) ++n;
  return n;
}

void AppendColorTable(Bytes* out, std::vector<Color> colors) {  // padded to its size field
  colors.resize(size_t{2} << SizeFieldFor(colors.size()), Color{0, 0, 0});
  for (const Color& c : colors) out->insert(out->end(), {c.r, c.g, c.b});
}

}  // namespace

Bytes EncodeImageData(const std::vector<uint8_t>& pixels, int minCodeSize,
                      const LzwOptions& options) {
  minCodeSize = std::clamp(minCodeSize, 1, 8);
  const int clearCode = 1 << minCodeSize, firstFree = clearCode + 2;
  const auto pixelMask = static_cast<uint8_t>(clearCode - 1);
  // Prefix code x byte -> (stamp << 12) | code: a clear is one increment of the stamp.
  static thread_local std::vector<uint32_t> table(size_t{kTableCodes} << 8);
  static thread_local uint32_t stamp = 0;
  auto clearTable = [&] {
    if (++stamp == 1u << 20) std::fill(table.begin(), table.end(), 0u), stamp = 1;
  };
  clearTable();
  BitPacker packer;
  packer.out.reserve(pixels.size() * 3 / 2 + 16);
  // The encoder runs one entry ahead of a decoder: widths follow a mirror of the decoder.
  int nextCode = firstFree, decoderNext = firstFree, width = minCodeSize + 1, codesSinceClear = 0;
  bool decoderHasPrefix = false;
  auto emitData = [&](int code) {
    packer.Put(code, width);
    if (decoderHasPrefix && decoderNext < kTableCodes) ++decoderNext;
    // After every code: with code size 1 the first one after a clear meets the limit.
    if (decoderNext == (1 << width) && width < kMaxCodeBits) ++width;
    decoderHasPrefix = true, ++codesSinceClear;
  };
  auto emitClear = [&] {
    packer.Put(clearCode, width);
    clearTable();
    nextCode = decoderNext = firstFree, width = minCodeSize + 1;
    decoderHasPrefix = false, codesSinceClear = 0;
  };
  if (options.initialClear) packer.Put(clearCode, width);
  if (!pixels.empty()) {
    int prefix = pixels[0] & pixelMask;
    for (size_t i = 1; i < pixels.size(); ++i) {
      const uint8_t byte = pixels[i] & pixelMask;
      uint32_t& entry = table[static_cast<size_t>(prefix) << 8 | byte];
      if (entry >> kMaxCodeBits == stamp) {
        prefix = static_cast<int>(entry & (kTableCodes - 1));
        continue;
      }
      emitData(prefix);
      if ((options.clearEvery > 0 && codesSinceClear >= options.clearEvery) ||
          (nextCode == kTableCodes && options.clearWhenFull))
        emitClear();
      else if (nextCode < kTableCodes)  // else: deferred clear, the full table stays as it is
        entry = stamp << kMaxCodeBits | static_cast<uint32_t>(nextCode++);
      prefix = byte;
    }
    emitData(prefix);
  }
  if (options.endCode) packer.Put(clearCode + 1, width);
  return packer.ImageData(minCodeSize, options.subBlockSize);
}

Bytes PackCodes(int minCodeSize, const std::vector<std::pair<int, int>>& codes, int subBlockSize) {
  BitPacker packer;
  for (const auto& [code, width] : codes) packer.Put(code, std::clamp(width, 1, 16));
  return packer.ImageData(minCodeSize, subBlockSize);
}

GifBuilder::GifBuilder(uint16_t width, uint16_t height, const std::vector<Color>& globalColors,
                       const std::string& version, uint8_t backgroundIndex) {
  const std::string head = "GIF" + (version + "   ").substr(0, 3);
  bytes_.assign(head.begin(), head.end());
  for (uint16_t side : {width, height}) Put16(&bytes_, side);
  const int field = SizeFieldFor(globalColors.size());
  bytes_.push_back(globalColors.empty() ? 0 : static_cast<uint8_t>(0x80 | field << 4 | field));
  bytes_.insert(bytes_.end(), {backgroundIndex, 0});  // no aspect ratio
  if (!globalColors.empty()) {
    colorBits_ = field + 1;
    AppendColorTable(&bytes_, globalColors);
  }
}

GifBuilder& GifBuilder::GraphicControl(bool transparent, uint8_t transparentIndex, int disposal,
                                       uint16_t delay) {
  const auto packed = static_cast<uint8_t>(((disposal & 7) << 2) | (transparent ? 1 : 0));
  bytes_.insert(bytes_.end(), {0x21, 0xF9, 0x04, packed, uint8_t(delay & 0xFF), uint8_t(delay >> 8),
                               transparentIndex, 0});
  return *this;
}

GifBuilder& GifBuilder::Comment(const std::string& text) {
  bytes_.insert(bytes_.end(), {0x21, 0xFE});
  AppendText(&bytes_, text, true);
  return *this;
}

GifBuilder& GifBuilder::PlainText(uint16_t gridLeft, uint16_t gridTop, uint16_t gridWidth,
                                  uint16_t gridHeight, uint8_t cellWidth, uint8_t cellHeight,
                                  uint8_t foreground, uint8_t background,
                                  const std::vector<std::string>& subBlocks) {
  bytes_.insert(bytes_.end(), {0x21, 0x01, 0x0C});
  for (uint16_t v : {gridLeft, gridTop, gridWidth, gridHeight}) Put16(&bytes_, v);
  bytes_.insert(bytes_.end(), {cellWidth, cellHeight, foreground, background});
  for (const std::string& text : subBlocks) AppendText(&bytes_, text, false);
  bytes_.push_back(0);
  return *this;
}

GifBuilder& GifBuilder::AddImage(const Image& image) {
  bytes_.push_back(0x2C);
  for (uint16_t v : {image.left, image.top, image.width, image.height}) Put16(&bytes_, v);
  const bool hasLocal = !image.localColors.empty();
  const int field = SizeFieldFor(image.localColors.size());
  bytes_.push_back(
      static_cast<uint8_t>((image.interlaced ? 0x40 : 0) | (hasLocal ? 0x80 | field : 0)));
  if (hasLocal) AppendColorTable(&bytes_, image.localColors);
  const int codeSize = std::max(2, hasLocal ? field + 1 : colorBits_);
  std::vector<uint8_t> streamOrder = image.pixels;
  if (image.interlaced && image.pixels.size() == size_t{image.width} * image.height) {
    auto at = streamOrder.begin();
    for (const auto& [first, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
      for (size_t row = first; row < image.height; row += step)
        at = std::copy_n(image.pixels.begin() + long(row * image.width), image.width, at);
  }
  const Bytes data = EncodeImageData(streamOrder, codeSize, image.lzw);
  bytes_.insert(bytes_.end(), data.begin(), data.end());
  return *this;
}

GifBuilder& GifBuilder::Trailer() {
  bytes_.push_back(0x3B);
  return *this;
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  return bool(
      out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size())));
}

}  // namespace gifwrite
