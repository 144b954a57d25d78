// PNG encoding (libpng, when the stand-in was built with it) and file output.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "companion/render_internal.h"

#ifdef STANDIN_HAVE_PNG
#include <png.h>
#endif

namespace standin {
namespace render {

#ifdef STANDIN_HAVE_PNG
namespace {

struct PngSink {
  std::vector<uint8_t>* bytes;
  std::string message;
};

void AppendBytes(png_structp png, png_bytep data, png_size_t size) {
  auto* sink = static_cast<PngSink*>(png_get_io_ptr(png));
  bool stored = true;
  try {
    sink->bytes->insert(sink->bytes->end(), data, data + size);
  } catch (const std::bad_alloc&) {
    stored = false;  // no exception may cross libpng's C frames
  }
  if (!stored) png_error(png, "out of memory");
}

void FlushNothing(png_structp) {}

void KeepError(png_structp png, png_const_charp message) {
  auto* sink = static_cast<PngSink*>(png_get_error_ptr(png));
  sink->message = message ? message : "unknown error";
  png_longjmp(png, 1);
}

void IgnoreWarning(png_structp, png_const_charp) {}

}  // namespace

bool EncodePng(const uint8_t* rgba, int width, int height, std::vector<uint8_t>* png,
               std::string* error) {
  png->clear();
  PngSink sink{png, {}};
  png_structp writer = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, KeepError,
                                               IgnoreWarning);
  png_infop info = writer ? png_create_info_struct(writer) : nullptr;
  if (!info) {
    png_destroy_write_struct(&writer, nullptr);
    if (error) *error = "libpng could not start";
    return false;
  }
  // Nothing with a destructor may live between setjmp and the last libpng call.
  if (setjmp(png_jmpbuf(writer))) {
    png_destroy_write_struct(&writer, &info);
    if (error) *error = "libpng failed: " + sink.message;
    return false;
  }
  png_set_write_fn(writer, &sink, AppendBytes, FlushNothing);
  png_set_IHDR(writer, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(writer, info);
  const size_t stride = static_cast<size_t>(width) * 4;
  for (int y = 0; y < height; ++y) {
    png_write_row(writer, const_cast<png_bytep>(rgba + stride * static_cast<size_t>(y)));
  }
  png_write_end(writer, info);
  png_destroy_write_struct(&writer, &info);
  return true;
}

#elif !defined(_WIN32)  // Windows encodes through WIC (render_png_win.cpp)

bool EncodePng(const uint8_t*, int, int, std::vector<uint8_t>* png, std::string* error) {
  png->clear();
  if (error) *error = "built without PNG support";
  return false;
}

#endif

bool WriteBytes(const char* path, const void* data, size_t size, std::string* error) {
  if (!path || !*path) {
    if (error) *error = "no output path";
    return false;
  }
  std::FILE* file = std::fopen(path, "wb");
  if (!file) {
    if (error) *error = std::string("cannot open ") + path + ": " + std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(data, 1, size, file) == size;
  const int writeErrno = errno;
  const bool closed = std::fclose(file) == 0;
  if (written && closed) return true;
  if (error) {
    *error = std::string("cannot write ") + path + ": " +
             std::strerror(written ? errno : writeErrno);
  }
  std::remove(path);  // a half-written image is worse than none
  return false;
}

}  // namespace render
}  // namespace standin
