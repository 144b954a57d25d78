// Enhanced Metafile output of a recorded picture on Windows: drawn through
// GDI into a metafile device context, as a program draws on a printer.
//
// The picture is laid out as the Linux writer (emf.cpp) lays it out: the
// frame at logical (0, 0), y down, one logical unit per picture unit; the
// background as a filled rectangle; bitmaps fully drawn go out at their own
// depth with their palette, bitmaps with pixels left out as AlphaBlend of
// premultiplied 32-bit pixels; text as ANSI text on its baseline.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <new>

#include "companion/render_internal.h"

namespace standin {
namespace emf {
namespace {

constexpr double kDefaultMillimetresPerUnit = 25.4 / 96;
// A unit finer than this or coarser than that is no display's pixel.
constexpr double kMinMillimetresPerUnit = 0.001;
constexpr double kMaxMillimetresPerUnit = 10.0;
// Pixels of one bitmap record at most (16 MB of 32-bit pixels).
constexpr size_t kStripPixels = size_t{1} << 22;

struct Layout {
  int x1 = 0, y2 = 0;         // picture point of logical (0, 0)
  int width = 0, height = 0;  // frame in logical units
  double millimetresPerUnit = kDefaultMillimetresPerUnit;
};

bool MakeLayout(const Picture& picture, Layout* layout, std::string* error) {
  layout->x1 = picture.frame[0];
  layout->y2 = picture.frame[3];
  layout->width = picture.frame[2] - picture.frame[0];
  layout->height = picture.frame[3] - picture.frame[1];
  if (layout->width <= 0 || layout->height <= 0) {
    *error = "the picture's frame is empty (" + std::to_string(layout->width) + " x " +
             std::to_string(layout->height) + ")";
    return false;
  }
  const double scale = picture.scale;
  if (picture.scaleMode == 1 && std::isfinite(scale) && scale >= kMinMillimetresPerUnit &&
      scale <= kMaxMillimetresPerUnit) {
    layout->millimetresPerUnit = scale;
  }
  return true;
}

LONG Hundredths(int units, const Layout& layout) {
  return static_cast<LONG>(std::lround(units * layout.millimetresPerUnit * 100.0));
}

// Palette indices of `rows` rows of a bitmap's image rectangle from row
// `row0`, -1 where nothing is drawn: bands at their own corners, later bands
// over earlier ones, the back colour index of a transparent bitmap left out.
void GatherStrip(const Picture& picture, const Bitmap& bitmap, int left, int row0, int width,
                 int rows, std::vector<int16_t>* indices) {
  indices->assign(static_cast<size_t>(width) * static_cast<size_t>(rows), -1);
  for (const Bitmap::Band& band : bitmap.bands) {
    const int bandColumn = band.left - picture.frame[0];
    const int bandRow = picture.frame[3] - band.top;
    const int firstColumn = std::max(left, bandColumn);
    const int endColumn = std::min(left + width, bandColumn + static_cast<int>(band.width));
    const int firstRow = std::max(row0, bandRow);
    const int endRow = std::min(row0 + rows, bandRow + static_cast<int>(band.rows));
    for (int row = firstRow; row < endRow; ++row) {
      int16_t* out = &(*indices)[static_cast<size_t>(row - row0) * width];
      for (int column = firstColumn; column < endColumn; ++column) {
        const int index =
            render::BandPixelIndex(band, bitmap.depth, column - bandColumn, row - bandRow);
        if (index < 0) continue;
        if (bitmap.transparent && index == bitmap.backColorIndex) continue;
        out[column - left] = static_cast<int16_t>(index);
      }
    }
  }
}

// An index past the palette has no colour of its own: black.
Rgb PaletteColor(const Bitmap& bitmap, int index) {
  return static_cast<size_t>(index) < bitmap.palette.size() ? bitmap.palette[index] : Rgb{};
}

// A BITMAPINFO with room for a 256-entry colour table.
struct DibHeader {
  BITMAPINFOHEADER header;
  RGBQUAD colors[256];
};

bool DrawIndexedStrip(HDC dc, const Bitmap& bitmap, const std::vector<int16_t>& indices, int x,
                      int y, int width, int rows) {
  const int depth = bitmap.depth;
  const size_t stride = (static_cast<size_t>(width) * depth + 31) / 32 * 4;
  std::vector<uint8_t> pixels(stride * static_cast<size_t>(rows), 0);
  for (int row = 0; row < rows; ++row) {
    uint8_t* out = &pixels[static_cast<size_t>(rows - 1 - row) * stride];
    const int16_t* in = &indices[static_cast<size_t>(row) * width];
    for (int column = 0; column < width; ++column) {
      const size_t bit = static_cast<size_t>(column) * depth;
      out[bit / 8] |= static_cast<uint8_t>(in[column] << (8 - depth - bit % 8));
    }
  }
  DibHeader info = {};
  info.header.biSize = sizeof info.header;
  info.header.biWidth = width;
  info.header.biHeight = rows;
  info.header.biPlanes = 1;
  info.header.biBitCount = static_cast<WORD>(depth);
  info.header.biCompression = BI_RGB;
  info.header.biSizeImage = static_cast<DWORD>(pixels.size());
  info.header.biClrUsed = 1u << depth;
  for (int i = 0; i < (1 << depth); ++i) {
    const Rgb color = PaletteColor(bitmap, i);
    info.colors[i] = RGBQUAD{color.blue, color.green, color.red, 0};
  }
  return StretchDIBits(dc, x, y, width, rows, 0, 0, width, rows, pixels.data(),
                       reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS, SRCCOPY) != 0;
}

bool DrawAlphaStrip(HDC dc, const Bitmap& bitmap, const std::vector<int16_t>& indices, int x, int y,
                    int width, int rows) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -rows;  // top-down, as the indices
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (section == nullptr) return false;
  auto* out = static_cast<uint8_t*>(bits);
  for (size_t i = 0; i < indices.size(); ++i, out += 4) {
    if (indices[i] < 0) {
      out[0] = out[1] = out[2] = out[3] = 0;
      continue;
    }
    const Rgb color = PaletteColor(bitmap, indices[i]);
    out[0] = color.blue;
    out[1] = color.green;
    out[2] = color.red;
    out[3] = 0xFF;
  }
  bool drawn = false;
  if (HDC source = CreateCompatibleDC(nullptr)) {
    HGDIOBJ previous = SelectObject(source, section);
    const BLENDFUNCTION blend = {AC_SRC_OVER, 0, 0xFF, AC_SRC_ALPHA};
    drawn = AlphaBlend(dc, x, y, width, rows, source, 0, 0, width, rows, blend) != FALSE;
    SelectObject(source, previous);
    DeleteDC(source);
  }
  DeleteObject(section);
  return drawn;
}

bool DrawBitmap(HDC dc, const Picture& picture, const Bitmap& bitmap, const Layout& layout) {
  if (bitmap.depth != 1 && bitmap.depth != 4 && bitmap.depth != 8) return true;  // draws nothing
  int left = 0, top = 0, width = 0, height = 0;
  if (!render::BitmapBounds(picture, bitmap, layout.width, layout.height, &left, &top, &width,
                            &height)) {
    return true;  // nothing of it inside the frame
  }
  const int stripRows = static_cast<int>(
      std::max<size_t>(1, std::min<size_t>(height, kStripPixels / static_cast<size_t>(width))));
  std::vector<int16_t> indices;
  for (int row0 = 0; row0 < height; row0 += stripRows) {
    const int rows = std::min(stripRows, height - row0);
    GatherStrip(picture, bitmap, left, top + row0, width, rows, &indices);
    size_t drawn = 0;
    for (const int16_t index : indices) drawn += index >= 0;
    if (drawn == 0) continue;
    const bool ok = drawn == indices.size()
                        ? DrawIndexedStrip(dc, bitmap, indices, left, top + row0, width, rows)
                        : DrawAlphaStrip(dc, bitmap, indices, left, top + row0, width, rows);
    if (!ok) return false;
  }
  return true;
}

// "SWISS:HELVETICA" names the face after the colon and its family before.
BYTE FontFamily(std::string family) {
  for (char& c : family) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static const struct {
    const char* name;
    BYTE value;
  } kFamilies[] = {{"ROMAN", FF_ROMAN},
                   {"SWISS", FF_SWISS},
                   {"MODERN", FF_MODERN},
                   {"SCRIPT", FF_SCRIPT},
                   {"DECORATIVE", FF_DECORATIVE}};
  for (const auto& known : kFamilies) {
    if (family == known.name) return known.value;
  }
  return FF_DONTCARE;
}

bool DrawTextOf(HDC dc, const TextLine& line, const Layout& layout) {
  if (line.text.empty()) return true;  // nothing to show
  const size_t colon = line.face.find(':');
  const std::string face = colon == std::string::npos ? line.face : line.face.substr(colon + 1);
  const BYTE family =
      colon == std::string::npos ? FF_DONTCARE : FontFamily(line.face.substr(0, colon));
  // A negative height asks for the character height.
  HFONT font = CreateFontA(-render::EffectiveTextHeight(line), 0, 0, 0, FW_NORMAL, 0, 0, 0,
                           ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           static_cast<BYTE>(VARIABLE_PITCH | family),
                           face.substr(0, LF_FACESIZE - 1).c_str());
  if (font == nullptr) return false;
  HGDIOBJ previous = SelectObject(dc, font);
  SetTextColor(dc, RGB(line.color.red, line.color.green, line.color.blue));
  const bool drawn =
      ExtTextOutA(dc, line.x - layout.x1, layout.y2 - line.y, 0, nullptr, line.text.data(),
                  static_cast<UINT>(line.text.size()), nullptr) != FALSE;
  SelectObject(dc, previous);
  DeleteObject(font);
  return drawn;
}

bool DrawBackground(HDC dc, const Picture& picture, const Layout& layout) {
  const Rgb color = picture.hasBackground ? picture.background : Rgb{};
  const COLORREF ref = RGB(color.red, color.green, color.blue);
  // A pen of the colour too, so that the rectangle covers the last row and
  // column of the frame.
  HPEN pen = CreatePen(PS_SOLID, 1, ref);
  HBRUSH brush = CreateSolidBrush(ref);
  bool drawn = false;
  if (pen != nullptr && brush != nullptr) {
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, brush);
    drawn = Rectangle(dc, 0, 0, layout.width, layout.height) != FALSE;
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
  }
  if (pen != nullptr) DeleteObject(pen);
  if (brush != nullptr) DeleteObject(brush);
  return drawn;
}

bool WritePicture(const Picture& picture, std::vector<uint8_t>* bytes, std::string* error) {
  Layout layout;
  if (!MakeLayout(picture, &layout, error)) return false;
  const RECT frame = {0, 0, Hundredths(layout.width, layout), Hundredths(layout.height, layout)};
  HDC dc = CreateEnhMetaFileA(nullptr, nullptr, &frame, "gifimport\0picture\0");
  if (dc == nullptr) {
    *error = "GDI could not start a metafile";
    return false;
  }
  SetBkMode(dc, TRANSPARENT);  // text draws its glyphs only
  SetTextAlign(dc, TA_BASELINE | TA_LEFT | TA_NOUPDATECP);
  bool drawn = DrawBackground(dc, picture, layout);
  for (const Picture::Item& item : picture.order) {
    if (!drawn) break;
    if (item.kind == Picture::Item::kBitmap && item.index < picture.bitmaps.size()) {
      drawn = DrawBitmap(dc, picture, picture.bitmaps[item.index], layout);
    } else if (item.kind == Picture::Item::kText && item.index < picture.texts.size()) {
      drawn = DrawTextOf(dc, picture.texts[item.index], layout);
    }
  }
  HENHMETAFILE metafile = CloseEnhMetaFile(dc);
  if (!drawn || metafile == nullptr) {
    if (metafile != nullptr) DeleteEnhMetaFile(metafile);
    *error = "GDI could not draw the picture into a metafile";
    return false;
  }
  const UINT size = GetEnhMetaFileBits(metafile, 0, nullptr);
  bytes->resize(size);
  const bool copied = size != 0 && GetEnhMetaFileBits(metafile, size, bytes->data()) == size;
  DeleteEnhMetaFile(metafile);
  if (!copied) *error = "GDI gave no bytes for the metafile";
  return copied;
}

}  // namespace
}  // namespace emf
}  // namespace standin

int StandInWriteEmf(const standin::Picture& picture, std::vector<uint8_t>* bytes,
                    std::string* error) {
  std::string message = "no place for the metafile's bytes";
  bool done = false;
  if (bytes) {
    std::vector<uint8_t> written;
    try {
      done = standin::emf::WritePicture(picture, &written, &message);
    } catch (const std::bad_alloc&) {
      message = "not enough memory to write the metafile";
    }
    if (done) bytes->swap(written);
  }
  if (done) return 0;
  if (error) *error = message;
  return 1;
}
