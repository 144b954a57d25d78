// The C view of the recorded picture (gifimport/standin_picture.h), over
// the C++ model that the stand-in keeps.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>

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
  int missing = 0;
  for (int y = 0; y < bitmap->height; ++y) {
    for (int x = 0; x < bitmap->width; ++x) {
      const int found = bitmap->PixelIndex(x, y);
      if (found < 0) ++missing;
      pixels[static_cast<size_t>(y) * bitmap->width + static_cast<size_t>(x)] =
          static_cast<uint8_t>(found < 0 ? 0 : found);
    }
  }
  return missing;
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
