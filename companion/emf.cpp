// Enhanced Metafile output of a recorded picture, written with libUEMF.
//
// Device units are picture units: device x = picture x - frame x1, device
// y = frame y2 - picture y (the picture's y axis points up, the metafile's
// down), the same image space as the RGBA, PNG and SVG outputs. The default
// mapping mode stays, so logical units are device units too.
//
// Physical size: with scale mode 1 one picture unit is `picture.scale`
// millimetres; any other mode, or a factor outside what a display can mean,
// falls back to 96 units per inch. The header's frame (0.01 mm) and its
// reference device (pixels per millimetre) both follow that factor.
//
// Drawing, in order: a rectangle of the background colour, filled without
// an outline, over the whole frame (black when the picture set none); then
// bitmaps and text lines in call order. A bitmap whose every pixel is drawn
// goes out as StretchDIBits at its own depth with its palette as the colour
// table. One with pixels left out (its back colour index when transparent,
// or places no band covers) goes out near its depth too: a 1-bit mask
// ANDed in, then its palette DIB ORed over it with those pixels black
// (emf_layout.h, StripForm), so that a frame of an animation costs a byte
// and a bit a pixel, not four. emf2svg ignores raster operations, MaskBlt
// and TransparentBlt, but reads a colour table's reserved byte as alpha,
// which the two tables set for it; office suites join the pair into one
// masked bitmap. Only where no index is free to stand for the left-out
// pixels do 32-bit premultiplied pixels go out as AlphaBlend. Bitmaps are
// clipped to the frame and sent in strips, so that no record grows beyond a
// few megabytes. Each text line is ANSI text on its baseline, in a font of
// its own (created, selected, deselected, deleted), with the face's
// per-character advances.
#include <cmath>
#include <cstdlib>
#include <new>

#include "companion/emf_layout.h"
#include "companion/render_internal.h"

#ifdef STANDIN_HAVE_UEMF
#include <uemf.h>
#endif

#ifdef STANDIN_HAVE_UEMF
namespace standin {
namespace emf {

namespace {

// The reference device is this many millimetres square; large, so that its
// whole number of pixels gives the pixel size to a thousandth.
constexpr int32_t kReferenceMillimetres = 1000;
// nBytes is 32-bit; readers with signed sizes stop at 2 GB.
constexpr size_t kMaxMetafileBytes = 0x7FFFFFFF;
// libUEMF buffer: start and growth.
constexpr uint32_t kInitialBytes = 64 * 1024;
constexpr uint32_t kGrowthBytes = 1024 * 1024;

U_RECTL Rect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  U_RECTL rect;
  rect.left = left;
  rect.top = top;
  rect.right = right;
  rect.bottom = bottom;
  return rect;
}

// The records of one metafile under construction. Every failure is kept
// (the first one wins) and makes every later step a no-op, so the drawing
// code can run straight through and ask once at the end.
class Writer {
 public:
  Writer() = default;
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;
  ~Writer() {
    if (track_) emf_free(&track_);
    if (handles_) emf_htable_free(&handles_);
  }

  bool Start() {
    // libUEMF builds the metafile in memory but wants a file to finish it
    // into; the bytes are taken from its buffer, so the file is /dev/null.
    if (emf_start("/dev/null", kInitialBytes, kGrowthBytes, &track_) != 0) {
      track_ = nullptr;
      return Fail("libUEMF could not start a metafile");
    }
    if (emf_htable_create(16, 16, &handles_) != 0) {
      handles_ = nullptr;
      return Fail("libUEMF could not make its handle table");
    }
    return true;
  }

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  EMFHANDLES* handles() { return handles_; }

  // Appends a record made by libUEMF and frees it; null means libUEMF could
  // not make it.
  bool Add(char* record) {
    if (!ok()) {
      std::free(record);
      return false;
    }
    if (!record) return Fail("libUEMF could not make a record (out of memory)");
    const size_t size = reinterpret_cast<const U_EMR*>(record)->nSize;
    if (size > kMaxMetafileBytes - track_->used) {
      std::free(record);
      return Fail("the metafile would be larger than 2 GB");
    }
    if (!charge_.Add(size)) {
      std::free(record);
      return Fail("the metafile would pass the memory budget");
    }
    const int appended = emf_append(reinterpret_cast<PU_ENHMETARECORD>(record), track_, 0);
    std::free(record);
    return appended == 0 || Fail("libUEMF could not grow the metafile (out of memory)");
  }

  // The end record; libUEMF then fills the header's byte, record and handle
  // counts.
  bool Finish(std::vector<uint8_t>* bytes) {
    if (!Add(U_EMREOF_set(0, nullptr, track_))) return false;
    if (emf_finish(track_, handles_) != 0) return Fail("libUEMF could not finish the metafile");
    // The copy handed out lives beside the writer's buffer for a moment.
    if (!charge_.Add(track_->used)) return Fail("the metafile would pass the memory budget");
    bytes->assign(track_->buf, track_->buf + track_->used);
    return true;
  }

  bool Fail(const std::string& message) {
    if (error_.empty()) error_ = message;
    return false;
  }

 private:
  EMFTRACK* track_ = nullptr;
  EMFHANDLES* handles_ = nullptr;
  internal::MemoryCharge charge_;  // the buffer, as it grows
  std::string error_;
};

// Bounds are (0, 0, width, height): the right and bottom edges lie just
// past the last pixel. emf2svg takes the picture's size from them that way;
// a reader that counts them inclusively sees one blank column and row more,
// never a pixel less.
bool AddHeader(Writer* writer, const Layout& layout) {
  const int32_t devicePixels =
      static_cast<int32_t>(std::lround(kReferenceMillimetres / layout.millimetresPerUnit));
  return writer->Add(U_EMRHEADER_set(
      Rect(0, 0, layout.width, layout.height),
      Rect(0, 0, Hundredths(layout.width, layout), Hundredths(layout.height, layout)), nullptr, 0,
      nullptr, sizel_set(devicePixels, devicePixels),
      sizel_set(kReferenceMillimetres, kReferenceMillimetres), 0));
}

// A brush of the colour and no pen: an outline would draw a line in the
// pen's colour that office suites show along the right and bottom edges.
// Without a pen GDI leaves the rectangle's right column and bottom row
// out, so it reaches one unit past the frame on both.
bool AddBackground(Writer* writer, const Picture& picture, const Layout& layout) {
  const Rgb color = picture.hasBackground ? picture.background : Rgb{};
  const U_COLORREF ref = colorref3_set(color.red, color.green, color.blue);
  uint32_t brush = 0;
  writer->Add(createbrushindirect_set(&brush, writer->handles(), logbrush_set(U_BS_SOLID, ref, 0)));
  if (!writer->ok()) return false;
  writer->Add(selectobject_set(U_NULL_PEN, writer->handles()));
  writer->Add(selectobject_set(brush, writer->handles()));
  writer->Add(U_EMRRECTANGLE_set(Rect(0, 0, layout.width + 1, layout.height + 1)));
  writer->Add(selectobject_set(U_BLACK_PEN, writer->handles()));
  writer->Add(selectobject_set(U_WHITE_BRUSH, writer->handles()));
  writer->Add(deleteobject_set(&brush, writer->handles()));
  return writer->ok();
}

int32_t PixelsPerMetre(const Layout& layout) {
  return static_cast<int32_t>(std::lround(1000.0 / layout.millimetresPerUnit));
}

// Palette DIB rows at `depth` over the strip's place, combined by `rop`.
bool AddDib(Writer* writer, const Layout& layout, const Strip& strip, int depth,
            const std::vector<Quad>& colors, std::vector<uint8_t> pixels, uint32_t rop) {
  const int x = strip.x, y = strip.y, width = strip.width, rows = strip.rows;
  std::vector<U_RGBQUAD> table(colors.size());
  for (size_t i = 0; i < colors.size(); ++i) {
    table[i] = rgbquad_set(colors[i].red, colors[i].green, colors[i].blue, colors[i].reserved);
  }
  const U_BITMAPINFOHEADER header = bitmapinfoheader_set(
      width, rows, 1, static_cast<uint16_t>(depth), U_BI_RGB, static_cast<uint32_t>(pixels.size()),
      PixelsPerMetre(layout), PixelsPerMetre(layout), static_cast<uint32_t>(colors.size()), 0);
  PU_BITMAPINFO info = bitmapinfo_set(header, table.data());
  if (!info) return writer->Fail("libUEMF could not make a bitmap header (out of memory)");
  writer->Add(U_EMRSTRETCHDIBITS_set(
      Rect(x, y, x + width - 1, y + rows - 1), point32_set(x, y), point32_set(width, rows),
      point32_set(0, 0), point32_set(width, rows), U_DIB_RGB_COLORS, rop, info,
      static_cast<uint32_t>(pixels.size()), reinterpret_cast<char*>(pixels.data())));
  std::free(info);
  return writer->ok();
}

// Some pixels left out: 32-bit premultiplied BGRA, alpha 0 exactly there.
bool AddAlphaStrip(Writer* writer, const Bitmap& bitmap, const Layout& layout, const Strip& strip) {
  const int x = strip.x, y = strip.y, width = strip.width, rows = strip.rows;
  std::vector<uint8_t> pixels = AlphaRows(bitmap, strip);
  const U_BITMAPINFOHEADER header =
      bitmapinfoheader_set(width, rows, 1, 32, U_BI_RGB, static_cast<uint32_t>(pixels.size()),
                           PixelsPerMetre(layout), PixelsPerMetre(layout), 0, 0);
  PU_BITMAPINFO info = bitmapinfo_set(header, nullptr);
  if (!info) return writer->Fail("libUEMF could not make a bitmap header (out of memory)");
  U_BLEND blend;
  blend.Operation = 0;  // source over
  blend.Flags = 0;
  blend.Global = 0xFF;
  blend.Op = U_AC_SRC_ALPHA;
  writer->Add(U_EMRALPHABLEND_set(
      Rect(x, y, x + width - 1, y + rows - 1), point32_set(x, y), point32_set(width, rows),
      point32_set(0, 0), point32_set(width, rows), xform_set(1, 0, 0, 1, 0, 0),
      colorref3_set(0, 0, 0), U_DIB_RGB_COLORS, blend, info, static_cast<uint32_t>(pixels.size()),
      reinterpret_cast<char*>(pixels.data())));
  std::free(info);
  return writer->ok();
}

bool AddBitmap(Writer* writer, const Picture& picture, const Bitmap& bitmap, const Layout& layout) {
  ForEachStrip(picture, bitmap, layout, [&](const Strip& strip) {
    int hole = -1;
    switch (FormOf(bitmap, strip, &hole)) {
      case StripForm::kIndexed:
        return AddDib(writer, layout, strip, bitmap.depth, ColorTable(bitmap, -1),
                      IndexedRows(bitmap, strip), U_SRCCOPY);
      case StripForm::kMasked:
        // Office suites join a mask with its bitmap only when the two are
        // alone between other records: the saved state fences them off.
        writer->Add(U_EMRSAVEDC_set());
        AddDib(writer, layout, strip, 1, MaskTable(), MaskRows(strip), U_SRCAND);
        AddDib(writer, layout, strip, bitmap.depth, ColorTable(bitmap, hole),
               IndexedRows(bitmap, strip, hole), U_SRCPAINT);
        return writer->Add(U_EMRRESTOREDC_set(-1));
      case StripForm::kAlpha:
        break;
    }
    return AddAlphaStrip(writer, bitmap, layout, strip);
  });
  return writer->ok();
}

// Character widths in thousandths of the em, from the space to the tilde,
// of the faces the font table names (SWISS:HELVETICA, ROMAN:TIMES) and the
// faces readers put in their place, which share them. Courier's letters
// all take 600.
constexpr uint16_t kSansWidths[] = {
    278,  278, 355, 556, 556, 889, 667, 191, 333, 333, 389, 584, 278, 333, 278, 278,  // space to /
    556,  556, 556, 556, 556, 556, 556, 556, 556, 556, 278, 278, 584, 584, 584, 556,  // 0 to ?
    1015, 667, 667, 722, 722, 667, 611, 778, 722, 278, 500, 667, 556, 833, 722, 778,  // @ to O
    667,  778, 722, 667, 611, 722, 667, 944, 667, 667, 611, 278, 278, 278, 469, 556,  // P to _
    333,  556, 556, 500, 556, 556, 278, 556, 556, 222, 222, 500, 222, 833, 556, 556,  // ` to o
    556,  556, 333, 500, 278, 556, 500, 722, 500, 500, 500, 334, 260, 334, 584};      // p to ~
constexpr uint16_t kSerifWidths[] = {
    250, 333, 408, 500, 500, 833, 778, 180, 333, 333, 500, 564, 250, 333, 250, 278,  // space to /
    500, 500, 500, 500, 500, 500, 500, 500, 500, 500, 278, 278, 564, 564, 564, 444,  // 0 to ?
    921, 722, 667, 667, 722, 611, 556, 722, 722, 333, 389, 722, 611, 889, 722, 722,  // @ to O
    556, 722, 667, 556, 611, 722, 722, 944, 722, 722, 611, 333, 278, 333, 469, 500,  // P to _
    333, 444, 500, 444, 500, 444, 333, 500, 500, 278, 278, 500, 278, 778, 500, 500,  // ` to o
    500, 500, 333, 389, 278, 500, 500, 722, 500, 500, 444, 480, 200, 480, 541};      // p to ~
static_assert(sizeof(kSansWidths) == sizeof(kSerifWidths) &&
                  sizeof(kSansWidths) / sizeof(kSansWidths[0]) == 0x7F - 0x20,
              "one width a character");

struct FaceWidths {
  const uint16_t* ascii;  // nullptr: every character `other` wide
  uint16_t other;         // Latin-1 letters above 0x7F, mostly as wide as digits
};

FaceWidths WidthsOf(const std::string& tableFace) {
  const render::FaceKind kind = render::KindOfFace(tableFace);
  if (kind == render::FaceKind::kFixed) return {nullptr, 600};
  return kind == render::FaceKind::kSerif ? FaceWidths{kSerifWidths, 500}
                                          : FaceWidths{kSansWidths, 556};
}

U_LOGFONT MakeFont(const std::string& tableFace, int height) {
  static_assert(U_FF_ROMAN == render::kFamilyRoman && U_FF_SWISS == render::kFamilySwiss &&
                    U_FF_MODERN == render::kFamilyModern && U_FF_SCRIPT == render::kFamilyScript &&
                    U_FF_DECORATIVE == render::kFamilyDecorative && U_FF_DONTCARE == 0,
                "the family bits SplitTableFace gives");
  const render::TableFace split = render::SplitTableFace(tableFace);
  const std::string& face = split.name;
  const uint8_t family = split.family;
  // ANSI bytes are Latin-1 code points; the last slot keeps the terminator.
  uint16_t name[U_LF_FACESIZE] = {};
  for (size_t i = 0; i < face.size() && i + 1 < U_LF_FACESIZE && face[i] != '\0'; ++i) {
    name[i] = static_cast<unsigned char>(face[i]);
  }
  // A negative height asks for the character height, what the SVG output
  // gives as its font size.
  const uint8_t pitch = WidthsOf(tableFace).ascii == nullptr ? U_FIXED_PITCH : U_VARIABLE_PITCH;
  return logfont_set(-height, 0, 0, 0, U_FW_NORMAL, 0, 0, 0, U_ANSI_CHARSET, U_OUT_DEFAULT_PRECIS,
                     U_CLIP_DEFAULT_PRECIS, U_DEFAULT_QUALITY, static_cast<uint8_t>(pitch | family),
                     name);
}

// One advance per character at the em height, rounded so that their sum is
// the line's rounded width.
void SetAdvances(const std::string& text, const FaceWidths& face, int height, uint32_t* advances) {
  int64_t thousandths = 0, placed = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    thousandths +=
        face.ascii != nullptr && c >= 0x20 && c < 0x7F ? face.ascii[c - 0x20] : face.other;
    const int64_t end = (thousandths * height + 500) / 1000;
    advances[i] = static_cast<uint32_t>(end - placed);
    placed = end;
  }
}

bool AddText(Writer* writer, const TextLine& line, const Layout& layout) {
  if (line.text.empty()) return true;  // nothing to show
  const int height = render::EffectiveTextHeight(line);
  const U_LOGFONT font = MakeFont(line.face, height);
  uint32_t handle = 0;
  writer->Add(extcreatefontindirectw_set(&handle, writer->handles(),
                                         reinterpret_cast<const char*>(&font), nullptr));
  if (!writer->ok()) return false;
  writer->Add(selectobject_set(handle, writer->handles()));
  const Rgb& color = line.color;
  writer->Add(U_EMRSETTEXTCOLOR_set(colorref3_set(color.red, color.green, color.blue)));

  const uint32_t count = static_cast<uint32_t>(line.text.size());
  // Advances from the face's own widths, so that a reader spaces the
  // letters as the face does instead of at a fixed step.
  uint32_t* advances = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) * (count ? count : 1)));
  if (advances) SetAdvances(line.text, WidthsOf(line.face), height, advances);
  char* text = advances ? emrtext_set(point32_set(line.x - layout.x1, layout.y2 - line.y), count, 1,
                                      const_cast<char*>(line.text.data()), U_ETO_NONE,
                                      Rect(0, 0, -1, -1), advances)
                        : nullptr;
  std::free(advances);
  if (!text) {
    writer->Fail("libUEMF could not make a text record (out of memory)");
  } else {
    const float toHundredths = static_cast<float>(layout.millimetresPerUnit * 100.0);
    writer->Add(U_EMREXTTEXTOUTA_set(Rect(0, 0, -1, -1), U_GM_COMPATIBLE, toHundredths,
                                     toHundredths, reinterpret_cast<PU_EMRTEXT>(text)));
    std::free(text);
  }
  writer->Add(selectobject_set(U_DEVICE_DEFAULT_FONT, writer->handles()));
  writer->Add(deleteobject_set(&handle, writer->handles()));
  return writer->ok();
}

bool WritePicture(const Picture& picture, std::vector<uint8_t>* bytes, std::string* error) {
  Layout layout;
  if (!MakeLayout(picture, &layout, error)) return false;
  Writer writer;
  if (writer.Start() && AddHeader(&writer, layout)) {
    writer.Add(U_EMRSETBKMODE_set(U_TRANSPARENT));  // text draws its glyphs only
    writer.Add(U_EMRSETTEXTALIGN_set(U_TA_BASELINE | U_TA_LEFT | U_TA_NOUPDATECP));
    AddBackground(&writer, picture, layout);
    for (const Picture::Item& item : picture.order) {
      if (!writer.ok()) break;
      if (item.kind == Picture::Item::kBitmap && item.index < picture.bitmaps.size()) {
        AddBitmap(&writer, picture, picture.bitmaps[item.index], layout);
      } else if (item.kind == Picture::Item::kText && item.index < picture.texts.size()) {
        AddText(&writer, picture.texts[item.index], layout);
      }
    }
    writer.Finish(bytes);
  }
  if (writer.ok()) return true;
  *error = writer.error();
  return false;
}

}  // namespace

}  // namespace emf
}  // namespace standin
#endif  // STANDIN_HAVE_UEMF

int StandInWriteEmf(const standin::Picture& picture, std::vector<uint8_t>* bytes,
                    std::string* error) {
  std::string message;
  bool done = false;
  if (!bytes) {
    message = "no place for the metafile's bytes";
  } else {
#ifdef STANDIN_HAVE_UEMF
    std::vector<uint8_t> written;
    try {
      done = standin::emf::WritePicture(picture, &written, &message);
    } catch (const std::bad_alloc&) {
      message = "not enough memory to write the metafile";
    }
    if (done) bytes->swap(written);
#else
    (void)picture;
    message = "the companion stand-in was built without libUEMF: no metafile can be written";
#endif
  }
  if (done) return 0;
  if (error) *error = message;
  return 1;
}
