// The C view of the recorded picture (gifimport/standin_picture.h), over
// the C++ model that the stand-in keeps.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "companion/render_internal.h"
#include "companion/standin.h"
#include "gifimport/standin_picture.h"

namespace {

const standin::Picture* Model(const StandInPicture* picture) {
  return reinterpret_cast<const standin::Picture*>(picture);
}

const standin::Bitmap* BitmapAt(const StandInPicture* picture, int index) {
  const standin::Picture* model = Model(picture);
  if (model == nullptr || index < 0 || static_cast<size_t>(index) >= model->bitmaps.size()) {
    return nullptr;
  }
  return &model->bitmaps[static_cast<size_t>(index)];
}

StandInColor ColorOf(const standin::Rgb& rgb) { return StandInColor{rgb.red, rgb.green, rgb.blue}; }

int CopyPalette(const std::vector<standin::Rgb>& palette, StandInColor* colors, int max) {
  const size_t copied =
      colors == nullptr || max <= 0 ? 0 : std::min(palette.size(), static_cast<size_t>(max));
  for (size_t i = 0; i < copied; ++i) colors[i] = ColorOf(palette[i]);
  return static_cast<int>(palette.size());
}

void SetError(char* error, size_t errorSize, const std::string& message) {
  if (error == nullptr || errorSize == 0) return;
  const size_t length = std::min(message.size(), errorSize - 1);
  std::memcpy(error, message.data(), length);
  error[length] = '\0';
}

standin::RenderOptions RenderOptionsOf(const StandInSaveOptions* options) {
  standin::RenderOptions render;
  if (options != nullptr) {
    render.background = options->background != 0;
    render.compression = std::clamp(options->compression, 0, 9);
    render.progress = options->progress;
    render.progressUser = options->progressUser;
  }
  return render;
}

standin::render::PictureWriter WriterOf(int format) {
  return format == kStandInPng   ? StandInWritePng
         : format == kStandInSvg ? StandInWriteSvg
                                 : nullptr;
}

// The pixels of one packed byte, most significant first: 8 at depth 1, 2
// at depth 4, as one little table per depth.
struct ByteUnpacker {
  uint8_t ones[256][8];
  uint8_t nibbles[256][2];
  ByteUnpacker() {
    for (int byte = 0; byte < 256; ++byte) {
      for (int i = 0; i < 8; ++i) ones[byte][i] = static_cast<uint8_t>((byte >> (7 - i)) & 1);
      nibbles[byte][0] = static_cast<uint8_t>(byte >> 4);
      nibbles[byte][1] = static_cast<uint8_t>(byte & 0x0F);
    }
  }
};

// Columns first to end of one packed row into `out` (column 0 at out[0]):
// whole bytes a table entry at a time, the odd columns at either end one by one.
void UnpackRow(const uint8_t* data, int depth, int first, int end, uint8_t* out) {
  if (depth == 8) {
    if (end > first) std::memcpy(out + first, data + first, static_cast<size_t>(end - first));
    return;
  }
  static const ByteUnpacker unpack;
  const int perByte = 8 / depth;
  const auto one = [&](int column) {
    const int bit = column * depth;
    const uint8_t packed = data[bit / 8];
    out[column] = depth == 4 ? unpack.nibbles[packed][bit % 8 / 4] : unpack.ones[packed][bit % 8];
  };
  int column = first;
  for (; column < end && column % perByte != 0; ++column) one(column);
  for (; column + perByte <= end; column += perByte) {
    const uint8_t packed = data[column / perByte];
    std::memcpy(out + column, depth == 4 ? unpack.nibbles[packed] : unpack.ones[packed],
                static_cast<size_t>(perByte));
  }
  for (; column < end; ++column) one(column);
}

// What one band delivered of one bitmap row: columns first to end.
struct Span {
  int row, first, end;
  bool operator<(const Span& o) const { return row != o.row ? row < o.row : first < o.first; }
};

// One band's pixels into the bitmap's, where the band meets it, by the
// band's own corners; a band whose data stop short gives what it has. Bands
// taken in order leave the later one where two overlap, at a cost of the
// bands' pixels, not pixels times bands.
void UnpackBand(const standin::Bitmap& bitmap, const standin::Bitmap::Band& band, uint8_t* pixels,
                std::vector<Span>* delivered) {
  const int depth = bitmap.depth;
  const size_t rowLength = standin::render::BandRowLength(depth, band.width);
  if (rowLength == 0) return;
  const int x0 = band.left - bitmap.left;  // the bitmap's column of the band's first
  const int y0 = bitmap.top - band.top;    // the bitmap's row of the band's first
  const int firstColumn = std::max(0, -x0);
  const int endColumn = std::min<int>(band.width, bitmap.width - x0);
  const int firstRow = std::max(0, -y0);
  const int endRow = std::min<int>(band.rows, bitmap.height - y0);
  for (int row = firstRow; row < endRow; ++row) {
    const size_t start = static_cast<size_t>(row) * rowLength;
    if (start >= band.data.size()) break;
    const uint8_t* data = band.data.data() + start;
    const int64_t present = static_cast<int64_t>(band.data.size() - start) * 8 / depth;
    const int end = static_cast<int>(std::min<int64_t>(endColumn, present));
    const size_t at = static_cast<size_t>(y0 + row) * bitmap.width + static_cast<size_t>(x0);
    UnpackRow(data, depth, firstColumn, end, pixels + at);
    if (end > firstColumn) delivered->push_back({y0 + row, x0 + firstColumn, x0 + end});
  }
}

// Pixels the spans cover, each counted once however many bands sent it.
size_t CoveredPixels(std::vector<Span> spans) {
  std::sort(spans.begin(), spans.end());
  size_t covered = 0;
  int row = -1, reached = 0;
  for (const Span& span : spans) {
    if (span.row != row) row = span.row, reached = 0;
    const int from = std::max(span.first, reached);
    if (span.end > from) covered += static_cast<size_t>(span.end - from);
    reached = std::max(reached, span.end);
  }
  return covered;
}

}  // namespace

extern "C" {

STANDIN_API const StandInPicture* StandInPictureLast(void) {
  return reinterpret_cast<const StandInPicture*>(StandInLastPicture());
}

STANDIN_API void StandInPictureForget(void) { StandInForgetPictures(); }

STANDIN_API int StandInPictureGetInfo(const StandInPicture* picture, StandInPictureInfo* info) {
  const standin::Picture* model = Model(picture);
  if (model == nullptr || info == nullptr) return -1;
  *info = StandInPictureInfo{};
  std::copy(model->frame, model->frame + 4, info->frame);
  std::copy(model->window, model->window + 4, info->window);
  info->scaleMode = model->scaleMode;
  info->scale = model->scale;
  info->hasBackground = model->hasBackground ? 1 : 0;
  info->background = ColorOf(model->background);
  info->paletteCount = static_cast<int32_t>(model->palette.size());
  info->bitmapCount = static_cast<int32_t>(model->bitmaps.size());
  info->textCount = static_cast<int32_t>(model->texts.size());
  info->complete = model->finished && model->closed && !model->aborted ? 1 : 0;
  return 0;
}

STANDIN_API int StandInPicturePalette(const StandInPicture* picture, StandInColor* colors,
                                      int max) {
  const standin::Picture* model = Model(picture);
  return model == nullptr ? -1 : CopyPalette(model->palette, colors, max);
}

STANDIN_API int StandInPictureGetBitmap(const StandInPicture* picture, int index,
                                        StandInBitmapInfo* info) {
  const standin::Bitmap* bitmap = BitmapAt(picture, index);
  if (bitmap == nullptr || info == nullptr) return -1;
  *info = StandInBitmapInfo{};
  info->left = bitmap->left;
  info->top = bitmap->top;
  info->right = bitmap->right;
  info->bottom = bitmap->bottom;
  info->width = bitmap->width;
  info->height = bitmap->height;
  info->depth = bitmap->depth;
  info->transparent = bitmap->transparent ? 1 : 0;
  info->backColorIndex = bitmap->backColorIndex;
  info->paletteCount = static_cast<int32_t>(bitmap->palette.size());
  info->bandCount = static_cast<int32_t>(bitmap->bands.size());
  info->complete = bitmap->ended ? 1 : 0;
  return 0;
}

STANDIN_API int StandInPictureBitmapPalette(const StandInPicture* picture, int index,
                                            StandInColor* colors, int max) {
  const standin::Bitmap* bitmap = BitmapAt(picture, index);
  return bitmap == nullptr ? -1 : CopyPalette(bitmap->palette, colors, max);
}

STANDIN_API int StandInPictureBitmapPixels(const StandInPicture* picture, int index,
                                           uint8_t* pixels, size_t size) {
  const standin::Bitmap* bitmap = BitmapAt(picture, index);
  const size_t count = bitmap == nullptr ? 0 : static_cast<size_t>(bitmap->width) * bitmap->height;
  if (bitmap == nullptr || (pixels == nullptr && count != 0) || size < count) return -1;
  std::fill(pixels, pixels + count, uint8_t{0});
  std::vector<Span> delivered;
  for (const standin::Bitmap::Band& band : bitmap->bands)
    UnpackBand(*bitmap, band, pixels, &delivered);
  return static_cast<int>(count - CoveredPixels(std::move(delivered)));
}

STANDIN_API int StandInPictureGetText(const StandInPicture* picture, int index,
                                      StandInTextInfo* info) {
  const standin::Picture* model = Model(picture);
  if (model == nullptr || info == nullptr || index < 0 ||
      static_cast<size_t>(index) >= model->texts.size()) {
    return -1;
  }
  const standin::TextLine& line = model->texts[static_cast<size_t>(index)];
  *info = StandInTextInfo{};
  info->x = line.x;
  info->y = line.y;
  info->extentX = line.extentX;
  info->extentY = line.extentY;
  info->height = line.height;
  info->colorIndex = line.colorIndex;
  info->color = ColorOf(line.color);
  info->face = line.face.c_str();
  info->text = line.text.c_str();
  return 0;
}

STANDIN_API int StandInPictureWrite(const StandInPicture* picture, FILE* out, int format,
                                    const StandInSaveOptions* options, char* error,
                                    size_t errorSize) {
  const standin::render::PictureWriter writer = WriterOf(format);
  std::string message;
  int result = 1;
  if (Model(picture) == nullptr || out == nullptr || writer == nullptr) {
    message = "no picture, no file or an unknown format";
  } else {
    result = writer(*Model(picture), out, RenderOptionsOf(options), &message);
  }
  if (result != 0) SetError(error, errorSize, message);
  return result;
}

STANDIN_API int StandInPictureSave(const StandInPicture* picture, const char* path, int format,
                                   const StandInSaveOptions* options, char* error,
                                   size_t errorSize) {
  const standin::render::PictureWriter writer = WriterOf(format);
  std::string message = "no picture or an unknown format";
  int result = 1;
  if (Model(picture) != nullptr && writer != nullptr) {
    result = standin::render::WriteToPath(*Model(picture), path, RenderOptionsOf(options), &message,
                                          writer);
  }
  if (result != 0) SetError(error, errorSize, message);
  return result;
}

STANDIN_API int StandInPictureItemCount(const StandInPicture* picture) {
  const standin::Picture* model = Model(picture);
  return model == nullptr ? -1 : static_cast<int>(model->order.size());
}

STANDIN_API int StandInPictureGetItem(const StandInPicture* picture, int n, int32_t* kind,
                                      int32_t* index) {
  const standin::Picture* model = Model(picture);
  if (model == nullptr || kind == nullptr || index == nullptr || n < 0 ||
      static_cast<size_t>(n) >= model->order.size()) {
    return -1;
  }
  const standin::Picture::Item& item = model->order[static_cast<size_t>(n)];
  *kind = item.kind == standin::Picture::Item::kText ? kStandInItemText : kStandInItemBitmap;
  *index = static_cast<int32_t>(item.index);
  return 0;
}

STANDIN_API int StandInPictureDrawItem(const StandInPicture* picture, int n, uint8_t* rgba,
                                       size_t size) {
  const standin::Picture* model = Model(picture);
  int width = 0, height = 0;
  if (model == nullptr || rgba == nullptr || n < 0 ||
      !standin::render::ImageSize(*model, &width, &height, nullptr) ||
      size / 4 / static_cast<size_t>(width) < static_cast<size_t>(height)) {
    return -1;
  }
  standin::render::Canvas canvas;
  canvas.width = width;
  canvas.height = height;
  canvas.target = rgba;
  try {
    return standin::render::DrawItem(*model, static_cast<size_t>(n), &canvas) ? 0 : -1;
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

STANDIN_API int StandInImageWrite(const uint8_t* rgba, int width, int height, FILE* out, int format,
                                  const StandInSaveOptions* options, char* error,
                                  size_t errorSize) {
  std::string message = "no image, no file or an unknown format";
  bool written = false;
  if (rgba != nullptr && out != nullptr && (format == kStandInPng || format == kStandInSvg)) {
    if (width <= 0 || height <= 0 || width > standin::render::kMaxImageSide ||
        height > standin::render::kMaxImageSide) {
      message = "no image of " + std::to_string(width) + " x " + std::to_string(height);
    } else {
      const standin::RenderOptions render = RenderOptionsOf(options);
      try {
        written = format == kStandInPng
                      ? standin::render::WriteImagePng(rgba, width, height, out, render, &message)
                      : standin::render::WriteImageSvg(rgba, width, height, out, render, &message);
      } catch (const std::bad_alloc&) {
        message = "not enough memory to write the image";
      }
    }
  }
  if (written) return 0;
  SetError(error, errorSize, message);
  return 1;
}

}  // extern "C"
