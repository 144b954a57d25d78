// PNG encoding (libpng, when the stand-in was built with it), row by row
// into a byte sink or, with libdeflate, the whole image at once; and the
// path-taking outputs.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "companion/large_buffer.h"
#include "companion/render_internal.h"

#ifdef STANDIN_HAVE_PNG
#include <png.h>
#endif
#ifdef STANDIN_HAVE_DEFLATE
#include <libdeflate.h>
#endif

namespace standin {
namespace render {

namespace {

// A row unfit for one PNG row: refused before libpng sees it.
constexpr int kMaxPngSide = 1 << 20;

bool WriteToFile(void* user, const uint8_t* data, size_t size) {
  return std::fwrite(data, 1, size, static_cast<std::FILE*>(user)) == size;
}

}  // namespace

ByteSink FileSink(std::FILE* file) { return ByteSink{WriteToFile, file}; }

bool PlanPalette(const std::vector<const Bitmap*>& bitmaps, const Rgb* emptyColor, bool covered,
                 PngPlan* plan) {
  bool drawn[256] = {};
  for (const Bitmap* bitmap : bitmaps) {
    if (bitmap->palette != bitmaps.front()->palette) return false;
    // Every byte value the bands hold; row padding may add a value that is
    // not drawn, which costs at most a palette entry.
    bool seen[256] = {};
    for (const Bitmap::Band& band : bitmap->bands) {
      for (const uint8_t byte : band.data) seen[byte] = true;
    }
    bool values[256] = {};
    for (int v = 0; v < 256; ++v) {
      if (!seen[v]) continue;
      if (bitmap->depth == 8) {
        values[v] = true;
      } else if (bitmap->depth == 4) {
        values[v >> 4] = values[v & 0x0F] = true;
      } else {
        values[1] = values[1] || v != 0;
        values[0] = values[0] || v != 0xFF;
      }
    }
    if (bitmap->transparent && bitmap->backColorIndex < 256) values[bitmap->backColorIndex] = false;
    for (int v = 0; v < 256; ++v) drawn[v] = drawn[v] || values[v];
  }
  const std::vector<Rgb> none;
  const std::vector<Rgb>& palette = bitmaps.empty() ? none : bitmaps.front()->palette;
  int last = -1;
  for (int v = 0; v < 256; ++v) {
    if (drawn[v]) last = v;
  }
  int empty = 0;
  if (!covered) {
    while (empty < 256 && drawn[empty]) ++empty;
    if (empty == 256) return false;  // no entry left for where nothing is drawn
    last = std::max(last, empty);
  }
  plan->colors.assign(static_cast<size_t>(std::max(last, 0)) + 1, Rgb{});
  // An index past the palette has no colour of its own: black.
  for (size_t i = 0; i < plan->colors.size() && i < palette.size(); ++i)
    plan->colors[i] = palette[i];
  plan->alpha.clear();
  if (covered) {
    // every pixel is drawn: no entry for the empty ones, nothing see-through
  } else if (emptyColor != nullptr) {
    plan->colors[static_cast<size_t>(empty)] = *emptyColor;
  } else {
    plan->colors[static_cast<size_t>(empty)] = Rgb{};  // as RGBA leaves it: 0, 0, 0, 0
    plan->alpha.assign(static_cast<size_t>(empty) + 1, 0xFF);
    plan->alpha.back() = 0;
  }
  const size_t count = plan->colors.size();
  plan->bitDepth = count <= 2 ? 1 : count <= 4 ? 2 : count <= 16 ? 4 : 8;
  plan->emptyIndex = empty;
  plan->palette = true;
  return true;
}

#ifdef STANDIN_HAVE_PNG
namespace {

struct PngState {
  const ByteSink* sink;
  const std::function<void(int, uint8_t*)>* rows;
  std::string message;
};

void SinkBytes(png_structp png, png_bytep data, png_size_t size) {
  auto* state = static_cast<PngState*>(png_get_io_ptr(png));
  if (!state->sink->write(state->sink->user, data, size)) {
    png_error(png, std::strerror(errno != 0 ? errno : EIO));
  }
}

void FlushNothing(png_structp) {}

void KeepError(png_structp png, png_const_charp message) {
  auto* state = static_cast<PngState*>(png_get_error_ptr(png));
  state->message = message ? message : "unknown error";
  png_longjmp(png, 1);
}

void IgnoreWarning(png_structp, png_const_charp) {}

int CompressionLevel(const RenderOptions& options) {
  return options.compression < 0 ? 1 : options.compression > 9 ? 9 : options.compression;
}

// No exception may cross libpng's frames, nor a longjmp a destructor.
bool FillRow(const PngState& state, int y, uint8_t* row) noexcept {
  try {
    (*state.rows)(y, row);
    return true;
  } catch (...) {
    return false;
  }
}

void PackRow(const uint8_t* indices, int width, int bitDepth, uint8_t* packed) {
  const int perByte = 8 / bitDepth;
  for (int x = 0; x < width; x += perByte) {
    uint8_t byte = 0;
    for (int k = 0; k < perByte; ++k) {
      const int value = x + k < width ? indices[x + k] : 0;
      byte = static_cast<uint8_t>(byte | (value << (8 - bitDepth * (k + 1))));
    }
    packed[x / perByte] = byte;
  }
}

// Nothing with a destructor lives here: libpng leaves by longjmp.
bool WriteRows(const PngPlan& plan, PngState* state, const RenderOptions& options, int doneRows,
               int totalRows, uint8_t* row, uint8_t* packed, const png_color* colors,
               const png_byte* alpha) {
  png_structp writer =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, state, KeepError, IgnoreWarning);
  png_infop info = writer ? png_create_info_struct(writer) : nullptr;
  if (!info) {
    png_destroy_write_struct(&writer, nullptr);
    state->message = "libpng could not start";
    return false;
  }
  if (setjmp(png_jmpbuf(writer))) {  // NOLINT(cert-err52-cpp): libpng reports errors by longjmp
    png_destroy_write_struct(&writer, &info);
    return false;
  }
  png_set_write_fn(writer, state, SinkBytes, FlushNothing);
  png_set_compression_level(writer, CompressionLevel(options));
  png_set_compression_mem_level(writer, 9);  // a little faster, 256 KiB more
  // Palette rows gain nothing from filters; RGBA rows a lot from the
  // cheapest one, and from them all when size matters more than time.
  png_set_filter(writer, 0,
                 plan.palette || options.compression == 0 ? PNG_FILTER_NONE
                 : options.compression < 6                ? PNG_FILTER_SUB
                                                          : PNG_ALL_FILTERS);
  png_set_IHDR(writer, info, static_cast<png_uint_32>(plan.width),
               static_cast<png_uint_32>(plan.height), plan.palette ? plan.bitDepth : 8,
               plan.palette ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (plan.palette) {
    png_set_PLTE(writer, info, colors, static_cast<int>(plan.colors.size()));
    if (!plan.alpha.empty()) {
      png_set_tRNS(writer, info, alpha, static_cast<int>(plan.alpha.size()), nullptr);
    }
  }
  png_write_info(writer, info);
  for (int y = 0; y < plan.height; ++y) {
    if (options.progress && y % 32 == 0 &&
        options.progress(options.progressUser, static_cast<int>((int64_t{doneRows} + y) * 1000 /
                                                                (totalRows > 0 ? totalRows : 1)))) {
      png_error(writer, "the writing was cancelled");
    }
    if (!FillRow(*state, y, row)) png_error(writer, "out of memory");
    if (plan.palette && plan.bitDepth < 8) {
      PackRow(row, plan.width, plan.bitDepth, packed);
      png_write_row(writer, packed);
    } else {
      png_write_row(writer, row);
    }
  }
  png_write_end(writer, info);
  png_destroy_write_struct(&writer, &info);
  return true;
}

}  // namespace

bool WritePng(const PngPlan& plan, const std::function<void(int, uint8_t*)>& rows,
              const ByteSink& sink, const RenderOptions& options, int doneRows, int totalRows,
              std::string* error) {
  if (plan.width <= 0 || plan.height <= 0 || plan.width > kMaxPngSide ||
      plan.height > kMaxPngSide) {
    if (error)
      *error = "no PNG of " + std::to_string(plan.width) + " x " + std::to_string(plan.height);
    return false;
  }
  std::vector<uint8_t> row(static_cast<size_t>(plan.width) * (plan.palette ? 1 : 4));
  std::vector<uint8_t> packed(static_cast<size_t>(plan.width));
  std::vector<png_color> colors;
  for (const Rgb& c : plan.colors) colors.push_back(png_color{c.red, c.green, c.blue});
  PngState state{&sink, &rows, {}};
  if (WriteRows(plan, &state, options, doneRows, totalRows, row.data(), packed.data(),
                colors.data(), plan.alpha.data())) {
    return true;
  }
  if (error)
    *error = state.message.find("cancelled") != std::string::npos
                 ? state.message
                 : "libpng failed: " + state.message;
  return false;
}

#ifdef STANDIN_HAVE_DEFLATE
namespace {

// Stored images past this go row by row: the whole-image buffers would
// strain a 32-bit address space and a PNG chunk's length.
constexpr uint64_t kMaxWholeBytes = uint64_t{1} << 30;
// IDAT chunks of at most this: readers that take a chunk at a time keep
// little in hand.
constexpr size_t kIdatBytes = size_t{1} << 20;

void PutBigEndian(uint32_t value, uint8_t* out) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

bool PutChunk(const ByteSink& sink, const char* type, const uint8_t* data, size_t size) {
  uint8_t head[8], crc[4];
  PutBigEndian(static_cast<uint32_t>(size), head);
  std::memcpy(head + 4, type, 4);
  uint32_t sum = libdeflate_crc32(0, head + 4, 4);
  if (size > 0) sum = libdeflate_crc32(sum, data, size);
  PutBigEndian(sum, crc);
  return sink.write(sink.user, head, 8) && (size == 0 || sink.write(sink.user, data, size)) &&
         sink.write(sink.user, crc, 4);
}

// A filtered byte's weight in the choice of filter: its distance from 0
// as a signed byte.
inline uint32_t Weight(uint8_t value) { return std::min(value, static_cast<uint8_t>(-value)); }

// Filters the rows in place (each `stride` bytes, its filter byte first),
// from the bottom up so that the row above is still unfiltered. Each row
// takes whichever of None, Sub and Up gives the smallest sum of weights,
// the usual choice; the two cheap filters catch most of what the others do
// on a GIF's pixels.
void FilterRows(uint8_t* image, size_t stride, int height, size_t bpp, const uint8_t* zeros) {
  const size_t length = stride - 1;
  for (int y = height - 1; y >= 0; --y) {
    uint8_t* row = image + stride * static_cast<size_t>(y) + 1;
    const uint8_t* up = y > 0 ? row - stride : zeros;
    uint32_t none = 0, sub = 0, vertical = 0;
    for (size_t i = 0; i < bpp && i < length; ++i) {
      none += Weight(row[i]);
      sub += Weight(row[i]);
      vertical += Weight(static_cast<uint8_t>(row[i] - up[i]));
    }
    for (size_t i = bpp; i < length; ++i) {
      none += Weight(row[i]);
      sub += Weight(static_cast<uint8_t>(row[i] - row[i - bpp]));
      vertical += Weight(static_cast<uint8_t>(row[i] - up[i]));
    }
    uint8_t filter = 0;
    if (sub < none && sub <= vertical) {
      filter = 1;
      for (size_t i = length; i-- > bpp;) row[i] = static_cast<uint8_t>(row[i] - row[i - bpp]);
    } else if (vertical < none) {
      filter = 2;
      for (size_t i = 0; i < length; ++i) row[i] = static_cast<uint8_t>(row[i] - up[i]);
    }
    row[-1] = filter;
  }
}

using Compressor = std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)>;

// Whether deflating gains anything on `data`, by samples spread over it,
// each compressed on its own. Noise, as a GIF of random or dithered pixels
// holds, gains nothing at any level, and finding so takes the compressor
// four times as long as storing the bytes: such an image is stored.
bool DeflateGains(libdeflate_compressor* compressor, const uint8_t* data, size_t size) {
  constexpr size_t kSample = 16384, kSamples = 16;
  if (size < kSample * kSamples * 4) return true;  // small: the choice saves little
  std::vector<uint8_t> out(libdeflate_deflate_compress_bound(compressor, kSample));
  size_t packed = 0;
  for (size_t i = 0; i < kSamples; ++i) {
    const uint8_t* at = data + (size - kSample) / (kSamples - 1) * i;
    const size_t n = libdeflate_deflate_compress(compressor, at, kSample, out.data(), out.size());
    packed += n > 0 ? n : kSample;
  }
  return packed * 100 < kSample * kSamples * 99;  // a gain under 1% is none
}

}  // namespace

bool WritePngWhole(const PngPlan& plan, const std::function<void(int, uint8_t*)>& rows,
                   const ByteSink& sink, const RenderOptions& options, std::string* error) {
  const int level = CompressionLevel(options);
  const size_t rowBytes = plan.palette ? (static_cast<size_t>(plan.width) * plan.bitDepth + 7) / 8
                                       : static_cast<size_t>(plan.width) * 4;
  const size_t stride = rowBytes + 1;
  const uint64_t stored = uint64_t{stride} * static_cast<uint64_t>(std::max(plan.height, 0));
  Compressor compressor(libdeflate_alloc_compressor(level), libdeflate_free_compressor);
  Compressor storer(libdeflate_alloc_compressor(0), libdeflate_free_compressor);
  internal::MemoryCharge charge;
  const size_t bound =
      compressor && storer && plan.width > 0 && plan.height > 0 && plan.width <= kMaxPngSide &&
              stored <= kMaxWholeBytes
          ? std::max(libdeflate_zlib_compress_bound(compressor.get(), static_cast<size_t>(stored)),
                     libdeflate_zlib_compress_bound(storer.get(), static_cast<size_t>(stored)))
          : 0;
  internal::LargeBuffer image, compressed;
  if (bound > 0 && charge.Add(stored + bound)) {
    image.Allocate(static_cast<size_t>(stored));
    compressed.Allocate(bound);
  }
  if (!image || !compressed) {
    charge.Release();
    image.Release();
    compressed.Release();
    return WritePng(plan, rows, sink, options, 0, plan.height, error);
  }
  std::vector<uint8_t> row(static_cast<size_t>(plan.width));
  for (int y = 0; y < plan.height; ++y) {
    // The rows are about half the work, the compression the rest.
    if (options.progress && y % 32 == 0 &&
        options.progress(options.progressUser, static_cast<int>(int64_t{y} * 500 / plan.height))) {
      if (error) *error = "the writing was cancelled";
      return false;
    }
    uint8_t* out = image.get() + stride * static_cast<size_t>(y);
    out[0] = 0;  // no filter
    if (plan.palette && plan.bitDepth < 8) {
      rows(y, row.data());
      PackRow(row.data(), plan.width, plan.bitDepth, out + 1);
    } else {
      rows(y, out + 1);
    }
  }
  // Filtered palette rows take half the time and size on a noisy picture
  // and cost a few percent on flat art, which compresses best unfiltered:
  // from level 6 on, where size comes first, they are left so.
  if (level > 0 && (level < 6 || !plan.palette)) {
    const std::vector<uint8_t> zeros(rowBytes);
    FilterRows(image.get(), stride, plan.height, plan.palette ? 1 : 4, zeros.data());
  }
  libdeflate_compressor* chosen =
      level > 0 && !DeflateGains(compressor.get(), image.get(), static_cast<size_t>(stored))
          ? storer.get()
          : compressor.get();
  const size_t size = libdeflate_zlib_compress(chosen, image.get(), static_cast<size_t>(stored),
                                               compressed.get(), bound);
  image.Release();
  uint8_t header[13] = {};
  PutBigEndian(static_cast<uint32_t>(plan.width), header);
  PutBigEndian(static_cast<uint32_t>(plan.height), header + 4);
  header[8] = static_cast<uint8_t>(plan.palette ? plan.bitDepth : 8);
  header[9] = plan.palette ? 3 : 6;  // colour type: palette, or RGBA
  std::vector<uint8_t> colors;
  for (const Rgb& c : plan.colors) colors.insert(colors.end(), {c.red, c.green, c.blue});
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  errno = 0;
  bool written =
      size > 0 && sink.write(sink.user, kSignature, sizeof kSignature) &&
      PutChunk(sink, "IHDR", header, sizeof header) &&
      (!plan.palette || PutChunk(sink, "PLTE", colors.data(), colors.size())) &&
      (plan.alpha.empty() || PutChunk(sink, "tRNS", plan.alpha.data(), plan.alpha.size()));
  for (size_t at = 0; written && at < size; at += kIdatBytes)
    written = PutChunk(sink, "IDAT", compressed.get() + at, std::min(kIdatBytes, size - at));
  if (written && PutChunk(sink, "IEND", nullptr, 0)) return true;
  if (error) {
    *error = size == 0
                 ? "libdeflate could not compress the image"
                 : std::string("cannot write the PNG: ") + std::strerror(errno != 0 ? errno : EIO);
  }
  return false;
}
#endif  // STANDIN_HAVE_DEFLATE

#elif defined(_WIN32)

// Windows encodes through WIC (render_png_win.cpp) a whole RGBA image: the
// rows are composed first, palette entries turned into their colours.
bool WritePng(const PngPlan& plan, const std::function<void(int, uint8_t*)>& rows,
              const ByteSink& sink, const RenderOptions& options, int doneRows, int totalRows,
              std::string* error) {
  const size_t width = static_cast<size_t>(plan.width);
  std::vector<uint8_t> rgba(width * static_cast<size_t>(plan.height) * 4);
  std::vector<uint8_t> row(width * (plan.palette ? 1 : 4));
  for (int y = 0; y < plan.height; ++y) {
    if (options.progress && y % 32 == 0 &&
        options.progress(options.progressUser, static_cast<int>((int64_t{doneRows} + y) * 1000 /
                                                                (totalRows > 0 ? totalRows : 1)))) {
      if (error) *error = "the writing was cancelled";
      return false;
    }
    rows(y, row.data());
    uint8_t* out = &rgba[width * static_cast<size_t>(y) * 4];
    if (!plan.palette) {
      std::memcpy(out, row.data(), width * 4);
      continue;
    }
    for (size_t x = 0; x < width; ++x, out += 4) {
      const size_t index = row[x];
      const Rgb color = index < plan.colors.size() ? plan.colors[index] : Rgb{};
      out[0] = color.red, out[1] = color.green, out[2] = color.blue;
      out[3] = index < plan.alpha.size() ? plan.alpha[index] : 0xFF;
    }
  }
  std::vector<uint8_t> png;
  if (!EncodePng(rgba.data(), plan.width, plan.height, &png, error)) return false;
  if (!sink.write(sink.user, png.data(), png.size())) {
    if (error) *error = std::string("cannot write the PNG: ") + std::strerror(errno);
    return false;
  }
  return true;
}

#else

bool WritePng(const PngPlan&, const std::function<void(int, uint8_t*)>&, const ByteSink&,
              const RenderOptions&, int, int, std::string* error) {
  if (error) *error = "built without PNG support";
  return false;
}

#endif

#if !defined(STANDIN_HAVE_PNG) || !defined(STANDIN_HAVE_DEFLATE)
bool WritePngWhole(const PngPlan& plan, const std::function<void(int, uint8_t*)>& rows,
                   const ByteSink& sink, const RenderOptions& options, std::string* error) {
  return WritePng(plan, rows, sink, options, 0, plan.height, error);
}
#endif

bool WriteImagePng(const uint8_t* rgba, int width, int height, std::FILE* out,
                   const RenderOptions& options, std::string* error) {
  PngPlan plan;
  plan.width = width;
  plan.height = height;
  const size_t rowBytes = static_cast<size_t>(std::max(width, 0)) * 4;
  return WritePngWhole(
      plan,
      [&](int y, uint8_t* row) {
        std::memcpy(row, rgba + rowBytes * static_cast<size_t>(y), rowBytes);
      },
      FileSink(out), options, error);
}

int WriteToPath(const Picture& picture, const char* path, const RenderOptions& options,
                std::string* error, PictureWriter writer) {
  int width = 0, height = 0;
  std::string message;
  if (!ImageSize(picture, &width, &height, &message)) {
    if (error) *error = message;
    return 1;
  }
  if (!path || !*path) {
    if (error) *error = "no output path";
    return 1;
  }
  std::FILE* file = std::fopen(path, "wb");
  if (!file) {
    if (error) *error = std::string("cannot open ") + path + ": " + std::strerror(errno);
    return 1;
  }
  const int written = writer(picture, file, options, &message);
  const int writeErrno = errno;
  const bool closed = std::fclose(file) == 0;
  if (written == 0 && closed) return 0;
  if (error) {
    *error = written != 0 ? message
                          : std::string("cannot write ") + path + ": " +
                                std::strerror(closed ? writeErrno : errno);
  }
  std::remove(path);  // a half-written image is worse than none
  return 1;
}

}  // namespace render
}  // namespace standin
