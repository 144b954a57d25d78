#include "tests/support/gif_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace gifwrite {
namespace {

constexpr int kMaxCodeBits = 12;
constexpr int kTableCodes = 1 << kMaxCodeBits;  // 4096
constexpr int kHashSlots = 8192;                // load stays below 1/2

// LSB-first bit packer over a flat byte string; sub-blocks are cut later.
// Writes through a raw cursor: a 4096 x 4096 image is 16 million codes.
class BitPacker {
 public:
  BitPacker(Bytes* out, size_t expectedBytes) : out_(out) { out_->resize(expectedBytes + 16); }
  void Put(int code, int width) {
    buffer_ |= static_cast<uint64_t>(code & ((1 << width) - 1)) << bits_;
    bits_ += width;
    if (bits_ >= 32) {
      if (used_ + 8 > out_->size()) out_->resize(out_->size() * 2 + 16);
      uint8_t* at = out_->data() + used_;
      for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(buffer_ >> (8 * i));
      used_ += 4;
      buffer_ >>= 32;
      bits_ -= 32;
    }
  }
  // Writes the bits left and trims the string to what was written.
  void Finish() {
    if (used_ + 8 > out_->size()) out_->resize(used_ + 8);
    for (; bits_ > 0; bits_ -= 8, buffer_ >>= 8) (*out_)[used_++] = static_cast<uint8_t>(buffer_);
    bits_ = 0;
    out_->resize(used_);
  }

 private:
  Bytes* out_;
  size_t used_ = 0;
  uint64_t buffer_ = 0;
  int bits_ = 0;
};

// The string table as an open-addressing hash of (prefix code, byte).
class CodeTable {
 public:
  CodeTable() : keys_(kHashSlots), codes_(kHashSlots) {}
  void Clear() { std::fill(keys_.begin(), keys_.end(), 0u); }
  // The code of prefix+byte, or -1.
  int Find(int prefix, uint8_t byte) const {
    uint32_t key = Key(prefix, byte);
    for (uint32_t slot = Slot(key);; slot = (slot + 1) & (kHashSlots - 1)) {
      if (keys_[slot] == key) return codes_[slot];
      if (keys_[slot] == 0) return -1;
    }
  }
  void Add(int prefix, uint8_t byte, int code) {
    uint32_t key = Key(prefix, byte);
    uint32_t slot = Slot(key);
    while (keys_[slot] != 0) slot = (slot + 1) & (kHashSlots - 1);
    keys_[slot] = key;
    codes_[slot] = static_cast<uint16_t>(code);
  }

 private:
  // +1 so that 0 marks an empty slot.
  static uint32_t Key(int prefix, uint8_t byte) {
    return ((static_cast<uint32_t>(prefix) << 8) | byte) + 1;
  }
  static uint32_t Slot(uint32_t key) { return (key * 2654435761u) >> (32 - 13); }
  std::vector<uint32_t> keys_;
  std::vector<uint16_t> codes_;
};

void AppendSubBlocks(Bytes* out, const uint8_t* data, size_t size, int subBlockSize,
                     bool terminator) {
  size_t chunk = static_cast<size_t>(std::clamp(subBlockSize, 1, 255));
  size_t at = out->size();
  out->resize(at + size + (size + chunk - 1) / chunk + (terminator ? 1 : 0));
  uint8_t* cursor = out->data() + at;
  for (size_t done = 0; done < size; done += chunk) {
    size_t n = std::min(chunk, size - done);
    *cursor++ = static_cast<uint8_t>(n);
    std::memcpy(cursor, data + done, n);
    cursor += n;
  }
  if (terminator) *cursor = 0;
}

void Put16(Bytes* out, uint16_t value) {
  out->push_back(static_cast<uint8_t>(value));
  out->push_back(static_cast<uint8_t>(value >> 8));
}

// Size field n of a table of `count` colours: 2^(n+1) >= count, n in 0..7.
int SizeFieldFor(size_t count) {
  int n = 0;
  while (n < 7 && (size_t{2} << n) < count) ++n;
  return n;
}

void AppendColorTable(Bytes* out, const std::vector<Color>& colors) {
  size_t padded = size_t{2} << SizeFieldFor(colors.size());
  for (size_t i = 0; i < padded; ++i) {
    Color c = i < colors.size() ? colors[i] : Color{0, 0, 0};
    out->push_back(c.r);
    out->push_back(c.g);
    out->push_back(c.b);
  }
}

int CodeSizeForColors(size_t count) { return std::max(2, SizeFieldFor(count) + 1); }

}  // namespace

Bytes EncodeImageData(const std::vector<uint8_t>& pixels, int minCodeSize,
                      const LzwOptions& options) {
  minCodeSize = std::clamp(minCodeSize, 1, 8);
  const int clearCode = 1 << minCodeSize;
  const int endCode = clearCode + 1;
  const int firstFree = clearCode + 2;
  const uint8_t pixelMask = static_cast<uint8_t>(clearCode - 1);

  Bytes codes;
  // Room for one code of the widest width per pixel: no regrowth.
  BitPacker packer(&codes, pixels.size() * static_cast<size_t>(kMaxCodeBits) / 8);
  CodeTable table;

  // The encoder runs one table entry ahead of a decoder, so the code width
  // is taken from a mirror of the decoder's state: that is the width the
  // decoder will read each code with, including the end code.
  int nextCode = firstFree;  // encoder's next free entry
  int decoderNext = firstFree;
  int width = minCodeSize + 1;
  bool decoderHasPrefix = false;
  int codesSinceClear = 0;

  auto resetDecoderView = [&] {
    decoderNext = firstFree;
    width = minCodeSize + 1;
    decoderHasPrefix = false;
  };
  auto emitData = [&](int code) {
    packer.Put(code, width);
    if (decoderHasPrefix && decoderNext < kTableCodes) ++decoderNext;
    // Checked after every code, not only after a new entry: with code size 1
    // the first code after a clear already meets the limit (4).
    if (decoderNext == (1 << width) && width < kMaxCodeBits) ++width;
    decoderHasPrefix = true;
    ++codesSinceClear;
  };
  auto emitClear = [&] {
    packer.Put(clearCode, width);
    table.Clear();
    nextCode = firstFree;
    codesSinceClear = 0;
    resetDecoderView();
  };

  if (options.initialClear) packer.Put(clearCode, width);
  if (!pixels.empty()) {
    int prefix = pixels[0] & pixelMask;
    for (size_t i = 1; i < pixels.size(); ++i) {
      uint8_t byte = pixels[i] & pixelMask;
      int found = table.Find(prefix, byte);
      if (found >= 0) {
        prefix = found;
        continue;
      }
      emitData(prefix);
      if (options.clearEvery > 0 && codesSinceClear >= options.clearEvery) {
        emitClear();
      } else if (nextCode < kTableCodes) {
        table.Add(prefix, byte, nextCode++);
      } else if (options.clearWhenFull) {
        emitClear();
      }  // else: deferred clear, the full table stays as it is
      prefix = byte;
    }
    emitData(prefix);
  }
  if (options.endCode) packer.Put(endCode, width);
  packer.Finish();

  Bytes out;
  out.push_back(static_cast<uint8_t>(minCodeSize));
  AppendSubBlocks(&out, codes.data(), codes.size(), options.subBlockSize, true);
  return out;
}

Bytes PackCodes(int minCodeSize, const std::vector<std::pair<int, int>>& codes, int subBlockSize,
                bool terminator) {
  Bytes packed;
  BitPacker packer(&packed, codes.size() * 2);
  for (const auto& [code, width] : codes) packer.Put(code, std::clamp(width, 1, 16));
  packer.Finish();
  Bytes out;
  out.push_back(static_cast<uint8_t>(minCodeSize));
  AppendSubBlocks(&out, packed.data(), packed.size(), subBlockSize, terminator);
  return out;
}

GifBuilder::GifBuilder(uint16_t width, uint16_t height, const std::vector<Color>& globalColors,
                       const std::string& version, uint8_t backgroundIndex) {
  std::string v = (version + "   ").substr(0, 3);
  bytes_ = {'G',
            'I',
            'F',
            static_cast<uint8_t>(v[0]),
            static_cast<uint8_t>(v[1]),
            static_cast<uint8_t>(v[2])};
  Put16(&bytes_, width);
  Put16(&bytes_, height);
  hasGlobal_ = !globalColors.empty();
  globalCount_ = hasGlobal_ ? (size_t{2} << SizeFieldFor(globalColors.size())) : 0;
  uint8_t packed = 0;
  if (hasGlobal_)
    packed = static_cast<uint8_t>(0x80 | (SizeFieldFor(globalColors.size()) << 4) |
                                  SizeFieldFor(globalColors.size()));
  bytes_.push_back(packed);
  bytes_.push_back(backgroundIndex);
  bytes_.push_back(0);  // aspect ratio
  blockOffsets_.push_back(0);
  if (hasGlobal_) {
    blockOffsets_.push_back(bytes_.size());
    AppendColorTable(&bytes_, globalColors);
  }
}

GifBuilder& GifBuilder::SetHeaderSizeField(int n) {
  if (!hasGlobal_) {
    bytes_[10] = static_cast<uint8_t>((bytes_[10] & ~0x07) | (n & 7));
    headerSizeField_ = n & 7;
  }
  return *this;
}

GifBuilder& GifBuilder::GraphicControl(bool transparent, uint8_t transparentIndex, uint16_t delay) {
  blockOffsets_.push_back(bytes_.size());
  bytes_.insert(bytes_.end(), {0x21, 0xF9, 0x04, static_cast<uint8_t>(transparent ? 1 : 0)});
  Put16(&bytes_, delay);
  bytes_.push_back(transparentIndex);
  bytes_.push_back(0);
  return *this;
}

GifBuilder& GifBuilder::Comment(const std::string& text) {
  blockOffsets_.push_back(bytes_.size());
  bytes_.insert(bytes_.end(), {0x21, 0xFE});
  AppendSubBlocks(&bytes_, reinterpret_cast<const uint8_t*>(text.data()), text.size(), 255, true);
  return *this;
}

GifBuilder& GifBuilder::Application(const std::string& identifier, const Bytes& data) {
  blockOffsets_.push_back(bytes_.size());
  bytes_.insert(bytes_.end(), {0x21, 0xFF, 0x0B});
  std::string id = (identifier + std::string(11, ' ')).substr(0, 11);
  bytes_.insert(bytes_.end(), id.begin(), id.end());
  AppendSubBlocks(&bytes_, data.data(), data.size(), 255, true);
  return *this;
}

GifBuilder& GifBuilder::PlainText(uint16_t gridLeft, uint16_t gridTop, uint16_t gridWidth,
                                  uint16_t gridHeight, uint8_t cellWidth, uint8_t cellHeight,
                                  uint8_t foreground, uint8_t background,
                                  const std::vector<std::string>& subBlocks) {
  blockOffsets_.push_back(bytes_.size());
  bytes_.insert(bytes_.end(), {0x21, 0x01, 0x0C});
  for (uint16_t v : {gridLeft, gridTop, gridWidth, gridHeight}) Put16(&bytes_, v);
  bytes_.insert(bytes_.end(), {cellWidth, cellHeight, foreground, background});
  for (const std::string& text : subBlocks) {
    AppendSubBlocks(&bytes_, reinterpret_cast<const uint8_t*>(text.data()), text.size(), 255,
                    false);
  }
  bytes_.push_back(0);
  return *this;
}

GifBuilder& GifBuilder::AddImage(const Image& image) {
  blockOffsets_.push_back(bytes_.size());
  bytes_.push_back(0x2C);
  for (uint16_t v : {image.left, image.top, image.width, image.height}) Put16(&bytes_, v);
  bool hasLocal = !image.localColors.empty();
  uint8_t packed = image.interlaced ? 0x40 : 0;
  if (hasLocal) packed |= static_cast<uint8_t>(0x80 | SizeFieldFor(image.localColors.size()));
  bytes_.push_back(packed);
  if (hasLocal) AppendColorTable(&bytes_, image.localColors);

  if (!image.rawData.empty()) {
    bytes_.insert(bytes_.end(), image.rawData.begin(), image.rawData.end());
    return *this;
  }
  int codeSize = image.minCodeSize;
  if (codeSize == 0) {
    size_t colors = hasLocal     ? image.localColors.size()
                    : hasGlobal_ ? globalCount_
                                 : (size_t{2} << headerSizeField_);
    codeSize = CodeSizeForColors(colors);
  }
  size_t count = size_t{image.width} * image.height;
  Bytes data;
  if (image.interlaced && image.pixels.size() == count && count > 0) {
    std::vector<uint8_t> streamOrder(count);
    std::vector<int> order = InterlaceOrder(image.height);
    for (size_t row = 0; row < order.size(); ++row) {
      std::memcpy(&streamOrder[row * image.width],
                  &image.pixels[static_cast<size_t>(order[row]) * image.width], image.width);
    }
    data = EncodeImageData(streamOrder, codeSize, image.lzw);
  } else {
    data = EncodeImageData(image.pixels, codeSize, image.lzw);
  }
  bytes_.insert(bytes_.end(), data.begin(), data.end());
  return *this;
}

GifBuilder& GifBuilder::Raw(const Bytes& bytes) {
  blockOffsets_.push_back(bytes_.size());
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

GifBuilder& GifBuilder::Trailer() {
  blockOffsets_.push_back(bytes_.size());
  bytes_.push_back(0x3B);
  return *this;
}

std::vector<int> InterlaceOrder(int height) {
  std::vector<int> order;
  order.reserve(static_cast<size_t>(std::max(height, 0)));
  static const int kStart[4] = {0, 4, 2, 1};
  static const int kStep[4] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass) {
    for (int row = kStart[pass]; row < height; row += kStep[pass]) order.push_back(row);
  }
  return order;
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

}  // namespace gifwrite
