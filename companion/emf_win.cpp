// Enhanced Metafile output of a recorded picture on Windows: drawn through
// GDI into a metafile device context, as a program draws on a printer.
//
// The picture is laid out as the Linux writer (emf.cpp) lays it out: the
// frame at logical (0, 0), y down, one logical unit per picture unit; the
// background as a filled rectangle; each strip of a bitmap in the form
// FormOf gives (emf_layout.h: its palette DIB, a mask and the palette DIB,
// or AlphaBlend of premultiplied 32-bit pixels); text as ANSI text on its
// baseline.
#include <windows.h>

#include <cstring>
#include <new>

#include "companion/emf_layout.h"
#include "companion/render_internal.h"

namespace standin {
namespace emf {
namespace {

// A BITMAPINFO with room for a 256-entry colour table.
struct DibHeader {
  BITMAPINFOHEADER header;
  RGBQUAD colors[256];
};

// Palette DIB rows at `depth` over the strip's place, combined by `rop`.
bool DrawDib(HDC dc, const Strip& strip, int depth, const std::vector<Quad>& colors,
             const std::vector<uint8_t>& pixels, DWORD rop) {
  const int x = strip.x, y = strip.y, width = strip.width, rows = strip.rows;
  DibHeader info = {};
  info.header.biSize = sizeof info.header;
  info.header.biWidth = width;
  info.header.biHeight = rows;
  info.header.biPlanes = 1;
  info.header.biBitCount = static_cast<WORD>(depth);
  info.header.biCompression = BI_RGB;
  info.header.biSizeImage = static_cast<DWORD>(pixels.size());
  info.header.biClrUsed = static_cast<DWORD>(colors.size());
  for (size_t i = 0; i < colors.size() && i < 256; ++i) {
    info.colors[i] = RGBQUAD{colors[i].blue, colors[i].green, colors[i].red, colors[i].reserved};
  }
  return StretchDIBits(dc, x, y, width, rows, 0, 0, width, rows, pixels.data(),
                       reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS, rop) != 0;
}

bool DrawAlphaStrip(HDC dc, const Bitmap& bitmap, const Strip& strip) {
  const int x = strip.x, y = strip.y, width = strip.width, rows = strip.rows;
  const std::vector<uint8_t> pixels = AlphaRows(bitmap, strip);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = rows;  // bottom-up, as AlphaRows lays them out
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (section == nullptr) return false;
  std::memcpy(bits, pixels.data(), pixels.size());
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
  return ForEachStrip(picture, bitmap, layout, [&](const Strip& strip) {
    int hole = -1;
    switch (FormOf(bitmap, strip, &hole)) {
      case StripForm::kIndexed:
        return DrawDib(dc, strip, bitmap.depth, ColorTable(bitmap, -1), IndexedRows(bitmap, strip),
                       SRCCOPY);
      case StripForm::kMasked: {
        // Fenced off by the saved state, as emf.cpp does for office suites.
        if (SaveDC(dc) == 0) return false;
        const bool drawn = DrawDib(dc, strip, 1, MaskTable(), MaskRows(strip), SRCAND) &&
                           DrawDib(dc, strip, bitmap.depth, ColorTable(bitmap, hole),
                                   IndexedRows(bitmap, strip, hole), SRCPAINT);
        return RestoreDC(dc, -1) != FALSE && drawn;
      }
      case StripForm::kAlpha:
        break;
    }
    return DrawAlphaStrip(dc, bitmap, strip);
  });
}

bool DrawTextOf(HDC dc, const TextLine& line, const Layout& layout) {
  if (line.text.empty()) return true;  // nothing to show
  static_assert(FF_ROMAN == render::kFamilyRoman && FF_SWISS == render::kFamilySwiss &&
                    FF_MODERN == render::kFamilyModern && FF_SCRIPT == render::kFamilyScript &&
                    FF_DECORATIVE == render::kFamilyDecorative && FF_DONTCARE == 0,
                "the family bits SplitTableFace gives");
  const render::TableFace split = render::SplitTableFace(line.face);
  const std::string& face = split.name;
  const BYTE family = split.family;
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
