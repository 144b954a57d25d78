// Turns a recorded picture into an image of its frame's size: background,
// then bitmaps and text lines in call order.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "companion/render_internal.h"

namespace standin {
namespace render {

namespace {

bool Refuse(std::string* error, const std::string& message) {
  if (error) *error = message;
  return false;
}

// The band's top-left pixel in image space.
int BandColumn(const Picture& picture, const Bitmap::Band& band) {
  return band.left - picture.frame[0];
}
int BandRow(const Picture& picture, const Bitmap::Band& band) {
  return picture.frame[3] - band.top;
}

// What a band holds of image row `row`: its bytes, its first column in image
// space and how many of its pixels are there (a band whose data stop short
// shows what it has). False when the band has nothing of that row.
struct BandRowSlice {
  const uint8_t* data;
  int column0;
  int64_t pixels;
};
bool SliceOfRow(const Picture& picture, const Bitmap::Band& band, int depth, int row,
                BandRowSlice* slice) {
  const size_t rowLength = BandRowLength(depth, band.width);
  const size_t start = static_cast<size_t>(row - BandRow(picture, band)) * rowLength;
  if (rowLength == 0 || start >= band.data.size()) return false;
  const size_t present = std::min(rowLength, band.data.size() - start);
  slice->data = band.data.data() + start;
  slice->column0 = BandColumn(picture, band);
  slice->pixels = std::min<int64_t>(static_cast<int64_t>(band.width),
                                    static_cast<int64_t>(present) * 8 / depth);
  return true;
}

}  // namespace

void Canvas::Put(int x, int y, const Rgb& color) {
  x -= left;
  y -= top;
  if (x < 0 || y < 0 || x >= width || y >= height) return;
  uint8_t* pixels = target != nullptr ? target : rgba.data();
  uint8_t* pixel = &pixels[(static_cast<size_t>(y) * static_cast<size_t>(width) + x) * 4];
  pixel[0] = color.red;
  pixel[1] = color.green;
  pixel[2] = color.blue;
  pixel[3] = 0xFF;
}

bool ImageSize(const Picture& picture, int* width, int* height, std::string* error) {
  const int w = picture.frame[2] - picture.frame[0];
  const int h = picture.frame[3] - picture.frame[1];
  const std::string size = std::to_string(w) + " x " + std::to_string(h);
  if (w <= 0 || h <= 0) return Refuse(error, "the picture's frame is empty (" + size + ")");
  if (w > kMaxImageSide || h > kMaxImageSide) {
    return Refuse(error, "the picture's frame is too large to render (" + size + "; at most " +
                             std::to_string(kMaxImageSide) + " x " + std::to_string(kMaxImageSide) +
                             ")");
  }
  *width = w;
  *height = h;
  return true;
}

bool BitmapBounds(const Picture& picture, const Bitmap& bitmap, int imageWidth, int imageHeight,
                  int* left, int* top, int* width, int* height) {
  int x1 = imageWidth, y1 = imageHeight, x2 = 0, y2 = 0;
  for (const Bitmap::Band& band : bitmap.bands) {
    const int column0 = BandColumn(picture, band);
    const int row0 = BandRow(picture, band);
    const int shownLeft = std::max(0, column0);
    const int shownRight = std::min(imageWidth, column0 + band.width);
    const int shownTop = std::max(0, row0);
    const int shownBottom = std::min(imageHeight, row0 + band.rows);
    if (shownLeft >= shownRight || shownTop >= shownBottom) continue;  // all outside
    x1 = std::min(x1, shownLeft);
    y1 = std::min(y1, shownTop);
    x2 = std::max(x2, shownRight);
    y2 = std::max(y2, shownBottom);
  }
  if (x1 >= x2 || y1 >= y2) return false;
  *left = x1;
  *top = y1;
  *width = x2 - x1;
  *height = y2 - y1;
  return true;
}

BitmapRows::BitmapRows(const Picture& picture, const Bitmap& bitmap, int imageHeight)
    : picture_(picture),
      bitmap_(bitmap),
      first_(static_cast<size_t>(std::max(0, imageHeight)) + 1, 0) {
  auto rowsOf = [&](const Bitmap::Band& band, int* from, int* to) {
    const int row0 = BandRow(picture, band);
    *from = std::max(0, row0);
    *to = std::min(imageHeight, row0 + static_cast<int>(band.rows));
  };
  int from = 0, to = 0;
  for (const Bitmap::Band& band : bitmap.bands) {
    rowsOf(band, &from, &to);
    for (int row = from; row < to; ++row) ++first_[static_cast<size_t>(row) + 1];
  }
  for (size_t row = 1; row < first_.size(); ++row) first_[row] += first_[row - 1];
  bands_.resize(first_.back());
  std::vector<uint32_t> next(first_.begin(), first_.end() - 1);
  for (size_t i = 0; i < bitmap.bands.size(); ++i) {
    rowsOf(bitmap.bands[i], &from, &to);
    for (int row = from; row < to; ++row)
      bands_[next[static_cast<size_t>(row)]++] = static_cast<uint32_t>(i);
  }
}

template <typename Index>
void BitmapRows::GatherInto(int row, int x0, int width, Index* out) const {
  if (row < 0 || static_cast<size_t>(row) + 1 >= first_.size()) return;
  const int depth = bitmap_.depth;
  const bool leaveOut = bitmap_.transparent;
  const int back = bitmap_.backColorIndex;
  for (uint32_t k = first_[static_cast<size_t>(row)]; k < first_[static_cast<size_t>(row) + 1];
       ++k) {
    BandRowSlice slice;
    if (!SliceOfRow(picture_, bitmap_.bands[bands_[k]], depth, row, &slice)) continue;
    const uint8_t* data = slice.data;
    const int first = std::max(0, x0 - slice.column0);
    const int end = static_cast<int>(
        std::min<int64_t>(slice.pixels, static_cast<int64_t>(x0) + width - slice.column0));
    Index* o = out + (slice.column0 - x0);
    // Bytes to bytes, every one drawn: the row as it is.
    if (sizeof(Index) == 1 && depth == 8 && !leaveOut) {
      if (first < end) std::memcpy(o + first, data + first, static_cast<size_t>(end - first));
      continue;
    }
    for (int c = first; c < end; ++c) {
      const int index = depth == 8   ? data[c]
                        : depth == 4 ? (c & 1 ? data[c >> 1] & 0x0F : data[c >> 1] >> 4)
                                     : (data[c >> 3] >> (7 - (c & 7))) & 1;
      if (leaveOut && index == back) continue;
      o[c] = static_cast<Index>(index);
    }
  }
}

void BitmapRows::Gather(int row, int x0, int width, int16_t* out) const {
  GatherInto(row, x0, width, out);
}

void BitmapRows::Gather(int row, int x0, int width, uint8_t* out) const {
  GatherInto(row, x0, width, out);
}

void BitmapRows::Spans(int row, int x0, int width, std::vector<std::pair<int, int>>* spans) const {
  if (bitmap_.transparent || row < 0 || static_cast<size_t>(row) + 1 >= first_.size()) return;
  const int depth = bitmap_.depth;
  for (uint32_t k = first_[static_cast<size_t>(row)]; k < first_[static_cast<size_t>(row) + 1];
       ++k) {
    BandRowSlice slice;
    if (!SliceOfRow(picture_, bitmap_.bands[bands_[k]], depth, row, &slice)) continue;
    const int64_t end =
        std::min<int64_t>(slice.pixels, static_cast<int64_t>(x0) + width - slice.column0);
    const int from = std::max(0, slice.column0 - x0);
    const int to = static_cast<int>(slice.column0 - x0 + end);
    if (from < to) spans->emplace_back(from, to);
  }
}

bool CoversArea(const std::vector<const BitmapRows*>& bitmaps, int left, int top, int width,
                int height) {
  std::vector<std::pair<int, int>> spans;
  for (int y = top; y < top + height; ++y) {
    spans.clear();
    for (const BitmapRows* rows : bitmaps) rows->Spans(y, left, width, &spans);
    std::sort(spans.begin(), spans.end());
    int reached = 0;
    for (const auto& span : spans) {
      if (span.first > reached) break;
      reached = std::max(reached, span.second);
    }
    if (reached < width) return false;
  }
  return true;
}

namespace {

std::vector<std::unique_ptr<BitmapRows>> MakeBitmapRows(const Picture& picture, int imageHeight) {
  std::vector<std::unique_ptr<BitmapRows>> rows(picture.bitmaps.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    const int depth = picture.bitmaps[i].depth;
    if (depth == 1 || depth == 4 || depth == 8) {
      rows[i] = std::make_unique<BitmapRows>(picture, picture.bitmaps[i], imageHeight);
    }
  }
  return rows;
}

// Rows [top, top + height) and columns [left, left + width) of one bitmap
// onto the canvas, in image coordinates.
void DrawBitmapArea(const Bitmap& bitmap, const BitmapRows& rows, int left, int top, int width,
                    int height, Canvas* canvas, std::vector<int16_t>* line) {
  line->resize(static_cast<size_t>(std::max(width, 0)));
  for (int y = top; y < top + height; ++y) {
    std::fill(line->begin(), line->end(), -1);
    rows.Gather(y, left, width, line->data());
    for (int x = 0; x < width; ++x) {
      const int index = (*line)[static_cast<size_t>(x)];
      if (index < 0) continue;
      // An index past the palette has no colour of its own: black.
      canvas->Put(
          left + x, y,
          static_cast<size_t>(index) < bitmap.palette.size() ? bitmap.palette[index] : Rgb{});
    }
  }
}

void DrawItems(const Picture& picture, const std::vector<std::unique_ptr<BitmapRows>>& rows,
               Canvas* canvas) {
  std::vector<int16_t> line;
  for (const Picture::Item& item : picture.order) {
    if (item.kind == Picture::Item::kText && item.index < picture.texts.size()) {
      DrawTextLine(picture, picture.texts[item.index], canvas);
      continue;
    }
    if (item.kind != Picture::Item::kBitmap || item.index >= rows.size() || !rows[item.index])
      continue;
    DrawBitmapArea(picture.bitmaps[item.index], *rows[item.index], canvas->left, canvas->top,
                   canvas->width, canvas->height, canvas, &line);
  }
}

// Clears the canvas to see-through, or to the colour opaque.
void ClearCanvas(Canvas* canvas, const Rgb* color) {
  canvas->rgba.assign(static_cast<size_t>(canvas->width) * static_cast<size_t>(canvas->height) * 4,
                      0);
  if (color == nullptr) return;
  for (size_t i = 0; i < canvas->rgba.size(); i += 4) {
    canvas->rgba[i] = color->red;
    canvas->rgba[i + 1] = color->green;
    canvas->rgba[i + 2] = color->blue;
    canvas->rgba[i + 3] = 0xFF;
  }
}

Rgb BackgroundOf(const Picture& picture) {
  // No background colour set means black, as on a fresh screen.
  return picture.hasBackground ? picture.background : Rgb{};
}

}  // namespace

bool RenderCanvas(const Picture& picture, Canvas* canvas, std::string* error) {
  int width = 0, height = 0;
  if (!ImageSize(picture, &width, &height, error)) return false;
  canvas->left = 0;
  canvas->top = 0;
  canvas->width = width;
  canvas->height = height;
  const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
  if (!canvas->charge.Add(bytes)) {
    return Refuse(error, "rendering " + std::to_string(width) + " x " + std::to_string(height) +
                             " pixels would pass the memory budget");
  }
  try {
    const Rgb background = BackgroundOf(picture);
    ClearCanvas(canvas, &background);
    DrawItems(picture, MakeBitmapRows(picture, height), canvas);
  } catch (const std::bad_alloc&) {
    return Refuse(error, "not enough memory to render " + std::to_string(width) + " x " +
                             std::to_string(height) + " pixels");
  }
  return true;
}

bool DrawItem(const Picture& picture, size_t item, Canvas* canvas) {
  if (item >= picture.order.size()) return false;
  const Picture::Item& drawn = picture.order[item];
  if (drawn.kind == Picture::Item::kText) {
    if (drawn.index >= picture.texts.size()) return false;
    DrawTextLine(picture, picture.texts[drawn.index], canvas);
    return true;
  }
  if (drawn.index >= picture.bitmaps.size()) return false;
  const Bitmap& bitmap = picture.bitmaps[drawn.index];
  if (bitmap.depth != 1 && bitmap.depth != 4 && bitmap.depth != 8) return true;  // draws nothing
  // Only the rows and columns its bands reach: a frame's small bitmap on a
  // large screen costs its own size.
  int left = 0, top = 0, width = 0, height = 0;
  const int imageHeight = canvas->top + canvas->height;
  if (!BitmapBounds(picture, bitmap, canvas->left + canvas->width, imageHeight, &left, &top, &width,
                    &height)) {
    return true;
  }
  std::vector<int16_t> line;
  DrawBitmapArea(bitmap, BitmapRows(picture, bitmap, imageHeight), left, top, width, height, canvas,
                 &line);
  return true;
}

namespace {

// Rows of RGBA composed at a time.
constexpr int kStripRows = 64;

// The whole picture as one PNG, composed row by row: palette indices when
// it fits a palette, else RGBA in strips of rows.
bool WholePicturePng(const Picture& picture, std::FILE* out, const RenderOptions& options,
                     std::string* error) {
  int width = 0, height = 0;
  if (!ImageSize(picture, &width, &height, error)) return false;
  const auto rows = MakeBitmapRows(picture, height);
  std::vector<const Bitmap*> bitmaps;
  std::vector<const BitmapRows*> bitmapRows;
  bool hasText = false;
  for (const Picture::Item& item : picture.order) {
    if (item.kind == Picture::Item::kText && item.index < picture.texts.size()) hasText = true;
    if (item.kind == Picture::Item::kBitmap && item.index < rows.size() && rows[item.index]) {
      bitmaps.push_back(&picture.bitmaps[item.index]);
      bitmapRows.push_back(rows[item.index].get());
    }
  }
  const Rgb background = BackgroundOf(picture);
  PngPlan plan;
  plan.width = width;
  plan.height = height;
  Canvas strip;
  std::function<void(int, uint8_t*)> fill;
  if (!hasText && PlanPalette(bitmaps, options.background ? &background : nullptr,
                              CoversArea(bitmapRows, 0, 0, width, height), &plan)) {
    // Straight into the row: where no bitmap draws keeps the empty entry.
    fill = [&](int y, uint8_t* row) {
      std::memset(row, plan.emptyIndex, static_cast<size_t>(width));
      for (const Picture::Item& item : picture.order) {
        if (item.kind == Picture::Item::kBitmap && item.index < rows.size() && rows[item.index]) {
          rows[item.index]->Gather(y, 0, width, row);
        }
      }
    };
  } else {
    strip.width = width;
    strip.top = -kStripRows;
    fill = [&](int y, uint8_t* row) {
      if (y < strip.top || y >= strip.top + strip.height) {
        strip.top = y;
        strip.height = std::min(int{kStripRows}, height - y);
        ClearCanvas(&strip, options.background ? &background : nullptr);
        DrawItems(picture, rows, &strip);
      }
      std::memcpy(row,
                  &strip.rgba[static_cast<size_t>(y - strip.top) * static_cast<size_t>(width) * 4],
                  static_cast<size_t>(width) * 4);
    };
  }
  return WritePngWhole(plan, fill, FileSink(out), options, error);
}

}  // namespace

}  // namespace render
}  // namespace standin

int StandInRenderRgba(const standin::Picture& picture, std::vector<uint8_t>* rgba, int* width,
                      int* height) {
  if (!rgba) return 1;
  standin::render::Canvas canvas;
  if (!standin::render::RenderCanvas(picture, &canvas, nullptr)) return 1;
  rgba->swap(canvas.rgba);
  if (width) *width = canvas.width;
  if (height) *height = canvas.height;
  return 0;
}

int StandInWritePng(const standin::Picture& picture, std::FILE* out,
                    const standin::RenderOptions& options, std::string* error) {
  std::string message;
  bool done = false;
  try {
    done = out != nullptr && standin::render::WholePicturePng(picture, out, options, &message);
    if (out == nullptr) message = "no output file";
  } catch (const std::bad_alloc&) {
    message = "not enough memory to write the PNG";
  }
  if (done) return 0;
  if (error) *error = message;
  return 1;
}

int StandInRenderPng(const standin::Picture& picture, const char* path, std::string* error) {
  return standin::render::WriteToPath(picture, path, standin::render::FilledBackground(), error,
                                      StandInWritePng);
}
