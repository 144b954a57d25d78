// emf_check WINDOWS.emf LINUX.emf: the metafile that GDI wrote is well
// formed (header, record sizes and count, end record) and its bitmaps are
// the Linux writer's: the same places and sizes, pixel for pixel (palette
// colours resolved, rows in display order). Prints "emf check passed".
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kHeader = 1, kEnd = 14, kStretchDiBits = 81, kAlphaBlend = 114;
constexpr uint32_t kSignature = 0x464D4520;  // " EMF"

struct Image {
  int32_t x, y, width, height;
  std::vector<uint32_t> argb;  // top row first
  bool operator==(const Image& o) const {
    return x == o.x && y == o.y && width == o.width && height == o.height && argb == o.argb;
  }
};

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  if (at + 4 > b.size()) return 0;
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
int32_t I32(const std::vector<uint8_t>& b, size_t at) { return static_cast<int32_t>(U32(b, at)); }

// The DIB at (bmi, bits) inside one record as ARGB, top row first; false
// when it does not lie inside the record or has a form this writer never uses.
bool DecodeDib(const std::vector<uint8_t>& f, size_t record, size_t size, uint32_t bmi,
               uint32_t bits, Image* image) {
  if (bmi < 8 || bmi + 40 > size || bits > size) return false;
  const size_t h = record + bmi;
  const int32_t width = I32(f, h + 4), height = I32(f, h + 8);
  const uint32_t depth = U32(f, h + 14) & 0xFFFF, compression = U32(f, h + 16);
  if (width <= 0 || height == 0) return false;
  if (depth != 1 && depth != 4 && depth != 8 && depth != 32) return false;
  // GDI records 32-bit pixels with their masks (BI_BITFIELDS): only the
  // plain BGRA order is read.
  const bool plainMasks = compression == 3 && depth == 32 && bmi + 52 <= size &&
                          U32(f, h + 40) == 0xFF0000 && U32(f, h + 44) == 0xFF00 &&
                          U32(f, h + 48) == 0xFF;
  if (compression != 0 && !plainMasks) return false;
  const int32_t rows = height < 0 ? -height : height;
  const size_t stride = (static_cast<size_t>(width) * depth + 31) / 32 * 4;
  if (bits + stride * rows > size) return false;
  const size_t colors = depth == 32 ? 0 : 1u << depth;
  if (bmi + 40 + colors * 4 > size) return false;
  image->width = width;
  image->height = rows;
  image->argb.clear();
  for (int32_t row = 0; row < rows; ++row) {
    const int32_t stored = height < 0 ? row : rows - 1 - row;
    const size_t line = record + bits + stride * stored;
    for (int32_t column = 0; column < width; ++column) {
      if (depth == 32) {
        image->argb.push_back(U32(f, line + column * 4));
        continue;
      }
      const size_t bit = static_cast<size_t>(column) * depth;
      const uint32_t index = (f[line + bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
      image->argb.push_back(0xFF000000u | (U32(f, h + 40 + index * 4) & 0xFFFFFF));
    }
  }
  return true;
}

// Reads and checks one metafile; its bitmaps in record order.
bool ReadMetafile(const char* path, std::vector<Image>* images, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (f.size() < 88 || U32(f, 0) != kHeader || U32(f, 40) != kSignature) {
    *error = "no metafile header";
    return false;
  }
  if (U32(f, 48) != f.size()) {
    *error = "the header's size is not the file's";
    return false;
  }
  uint32_t records = 0, type = 0;
  for (size_t at = 0; at < f.size(); ++records) {
    type = U32(f, at);
    const uint32_t size = U32(f, at + 4);
    if (size < 8 || size % 4 != 0 || size > f.size() - at) {
      *error = "record " + std::to_string(records) + " has a bad size";
      return false;
    }
    Image image = {};
    bool bitmap = false, decoded = false;
    if (type == kStretchDiBits) {
      bitmap = true;
      image.x = I32(f, at + 24);
      image.y = I32(f, at + 28);
      decoded = DecodeDib(f, at, size, U32(f, at + 48), U32(f, at + 56), &image);
    } else if (type == kAlphaBlend) {
      bitmap = true;
      image.x = I32(f, at + 24);
      image.y = I32(f, at + 28);
      decoded = DecodeDib(f, at, size, U32(f, at + 84), U32(f, at + 92), &image);
    }
    if (bitmap && !decoded) {
      *error = "record " + std::to_string(records) + " holds no readable bitmap";
      return false;
    }
    if (bitmap) images->push_back(image);
    at += size;
  }
  if (type != kEnd || U32(f, 52) != records) {
    *error = "no end record, or the header's record count is wrong";
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: emf_check WINDOWS.emf LINUX.emf\n");
    return 2;
  }
  std::vector<Image> fromWindows, fromLinux;
  std::string error;
  for (int i = 1; i <= 2; ++i) {
    if (!ReadMetafile(argv[i], i == 1 ? &fromWindows : &fromLinux, &error)) {
      std::printf("%s: %s\n", argv[i], error.c_str());
      return 1;
    }
  }
  if (fromWindows.size() != fromLinux.size()) {
    std::printf("%zu bitmaps on Windows, %zu on Linux\n", fromWindows.size(), fromLinux.size());
    return 1;
  }
  for (size_t i = 0; i < fromWindows.size(); ++i) {
    if (!(fromWindows[i] == fromLinux[i])) {
      std::printf("bitmap %zu differs: Windows %dx%d at (%d, %d), Linux %dx%d at (%d, %d)\n", i,
                  fromWindows[i].width, fromWindows[i].height, fromWindows[i].x, fromWindows[i].y,
                  fromLinux[i].width, fromLinux[i].height, fromLinux[i].x, fromLinux[i].y);
      return 1;
    }
  }
  std::printf("emf check passed: %zu bitmaps\n", fromWindows.size());
  return 0;
}
