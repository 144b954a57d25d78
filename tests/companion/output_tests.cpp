// The PNG, SVG and Enhanced Metafile outputs of the companion stand-in: the
// metafile walked record by record here (header, handles, what each drawing
// record holds); every output shown by an independent reader (emf2svg,
// rsvg-convert, libpng) as the stand-in renders it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/companion/emf_reader.h"
#include "tests/companion/pictures.h"
#include "tests/support/row_tests.h"

namespace {

using namespace pictures;
using emf::Bytes, emf::I32, emf::U32;

// Without libUEMF the stand-in must refuse, saying why; the test then skips.
#ifdef STANDIN_HAVE_UEMF
#define WRITE_EMF_OR_SKIP(picture, bytes) ASSERT_EQ(StandInWriteEmf(picture, bytes, &error), 0)
#else
#define WRITE_EMF_OR_SKIP(picture, bytes)                       \
  ASSERT_NE(StandInWriteEmf(picture, bytes, &error), 0);        \
  ASSERT_NE(error.find("libUEMF"), std::string::npos) << error; \
  GTEST_SKIP() << "stand-in built without libUEMF"
#endif

constexpr uint32_t kSetBkMode = 18, kSetTextAlign = 22, kSetTextColor = 24, kSaveDC = 33,
                   kRestoreDC = 34, kSelectObject = 37, kCreatePen = 38, kCreateBrush = 39,
                   kDeleteObject = 40, kRectangle = 43, kCreateFont = 82, kTextOutA = 83;

struct Metafile {
  std::vector<int32_t> header;  // bounds, frame (0.01 mm), device in pixels, in millimetres
  uint32_t background = 0;      // of the brush, a COLORREF
  std::vector<uint32_t> drawn;  // the drawing records' types in order
  std::vector<emf::Image> images;
  std::vector<std::string> texts;  // "x,y height family face advances colour text"
};

// Walks the records, checking the handles on the way: every object created
// is new, selected only while alive, deleted only when no longer selected,
// and gone by the end; and every mask alone with its bitmap between a saved
// and restored state, as office suites need to see the pair as one.
Metafile Walk(const Bytes& b) {
  Metafile m;
  std::string error, font;
  for (size_t at : {8, 12, 16, 20, 24, 28, 32, 36, 72, 76, 80, 84}) m.header.push_back(I32(b, at));
  std::map<uint32_t, uint32_t> live, selected;        // handle -> kind; kind -> handle
  uint32_t bkMode = 2, textAlign = 0, textColor = 0;  // the device's own: opaque, top left
  bool nullPen = false;
  const std::vector<emf::Record> records = emf::Records(b, &error);
  for (size_t n = 0; n < records.size(); ++n) {
    const emf::Record& record = records[n];
    const Bytes r(b.begin() + record.at, b.begin() + record.at + record.size);
    const uint32_t type = record.type, handle = U32(r, 8);
    const uint32_t kind = live.count(handle) ? live[handle] : 0;
    if (type == kCreatePen || type == kCreateBrush || type == kCreateFont) {
      EXPECT_TRUE(handle > 0 && handle < (U32(b, 56) & 0xFFFF) && !kind) << "handle " << handle;
      live[handle] = type;
      if (type == kCreateBrush) m.background = U32(r, 16);
      if (type == kCreateFont)
        font = std::to_string(I32(r, 12)) + " " + std::to_string(r[39]) + " ";
      for (size_t i = 40; type == kCreateFont && i < 104 && r[i]; i += 2) font += char(r[i]);
    } else if (type == kSelectObject && (handle & 0x80000000u)) {  // stock: in its kind's place
      const uint32_t stock = handle & 0x7FFFFFFFu;
      nullPen = nullPen || stock == 8;
      selected[stock <= 5 || stock == 18   ? kCreateBrush
               : stock <= 8 || stock == 19 ? kCreatePen
                                           : kCreateFont] = 0;
    } else if (type == kSelectObject || type == kDeleteObject) {
      if (!kind) return ADD_FAILURE() << "uses dead handle " << handle, m;
      EXPECT_TRUE(type == kSelectObject || selected[kind] != handle) << "deletes a selected one";
      if (type == kSelectObject) selected[kind] = handle, nullPen = nullPen && kind != kCreatePen;
      if (type == kDeleteObject) live.erase(handle);
    } else if (type == kSetBkMode || type == kSetTextAlign || type == kSetTextColor) {
      (type == kSetBkMode ? bkMode : type == kSetTextAlign ? textAlign : textColor) = handle;
    } else if (type == kRectangle) {
      EXPECT_TRUE(nullPen) << "the background has no outline";
      EXPECT_EQ(std::vector<int32_t>({I32(r, 8), I32(r, 12), I32(r, 16), I32(r, 20)}),
                std::vector<int32_t>({0, 0, m.header[2] + 1, m.header[3] + 1}))
          << "without a pen the right column and bottom row are left out";
    } else if (type == emf::kStretchDIBits || type == emf::kAlphaBlend) {
      emf::Image image;
      EXPECT_TRUE(emf::ReadBitmap(b, record, &image));
      const bool alpha = type == emf::kAlphaBlend;
      const uint32_t bmi = U32(r, alpha ? 84 : 48), rows = image.height;
      const uint32_t colors = image.bits < 32 ? 1u << image.bits : 0;
      EXPECT_EQ(std::vector<uint32_t>({U32(r, alpha ? 32 : 72), U32(r, alpha ? 36 : 76),
                                       U32(r, bmi + 8), U32(r, bmi + 32), U32(r, alpha ? 88 : 52),
                                       U32(r, alpha ? 96 : 60)}),
                std::vector<uint32_t>({uint32_t(image.width), rows, rows, colors, 40 + 4 * colors,
                                       (image.width * image.bits + 31) / 32 * 4 * rows}))
          << "destination size, rows bottom-up, colours used, header size, pixel bytes";
      if (image.rop == emf::kSrcAnd) {
        emf::Image painted;
        EXPECT_TRUE(n > 0 && n + 2 < records.size() && records[n - 1].type == kSaveDC &&
                    emf::ReadBitmap(b, records[n + 1], &painted) && painted.rop == emf::kSrcPaint &&
                    painted.x == image.x && painted.y == image.y && painted.width == image.width &&
                    painted.height == image.height && records[n + 2].type == kRestoreDC)
            << "mask at record " << n << " fenced off with its bitmap";
      }
      m.images.push_back(image);
    } else if (type == kTextOutA) {
      EXPECT_TRUE(selected[kCreateFont] && textAlign == 24 && bkMode == 1)
          << "a font of its own, on the baseline from the left, no box behind the glyphs";
      const uint32_t count = U32(r, 44), offset = U32(r, 48), dx = U32(r, 72);
      if (offset + count > r.size() || dx + 4 * count > r.size())
        return ADD_FAILURE() << "the text or its advances lie outside the record", m;
      int advance = 0;
      for (uint32_t i = 0; i < count; ++i) advance += I32(r, dx + 4 * i);
      m.texts.push_back(std::to_string(I32(r, 36)) + "," + std::to_string(I32(r, 40)) + " " + font +
                        " " + std::to_string(advance) + " " + std::to_string(textColor) + " " +
                        std::string(r.begin() + offset, r.begin() + offset + count));
    }
    if (type == emf::kStretchDIBits || type == emf::kAlphaBlend || type == kTextOutA)
      m.drawn.push_back(type);
  }
  EXPECT_TRUE(error.empty()) << error;
  EXPECT_TRUE(live.empty()) << live.size() << " objects never deleted";
  return m;
}

// What the metafile's bitmaps leave over its background brush, and what
// the render shows, as 0xAARRGGBB.
std::vector<uint32_t> Composed(const Metafile& m, const Image& shown) {
  const uint32_t brush = m.background;
  std::vector<uint32_t> canvas(
      size_t{1} * shown.width * shown.height,
      0xFF000000u | (brush & 0xFF) << 16 | (brush & 0xFF00) | (brush >> 16 & 0xFF));
  for (const emf::Image& image : m.images)
    EXPECT_TRUE(emf::Draw(image, shown.width, shown.height, &canvas)) << std::hex << image.rop;
  return canvas;
}
std::vector<uint32_t> Argb(const Image& image) {
  std::vector<uint32_t> argb;
  for (size_t i = 0; i + 3 < image.rgba.size(); i += 4)
    argb.push_back(uint32_t{image.rgba[i + 3]} << 24 | image.rgba[i] << 16 |
                   image.rgba[i + 1] << 8 | image.rgba[i + 2]);
  return argb;
}

void ExpectComposedIsRender(const Metafile& m, const Image& shown) {
  const std::vector<uint32_t> composed = Composed(m, shown), argb = Argb(shown);
  const size_t at = size_t(std::mismatch(composed.begin(), composed.end(), argb.begin()).first -
                           composed.begin());
  EXPECT_EQ(at, composed.size()) << "the records leave " << std::hex << composed[at]
                                 << " where the render shows " << argb[at] << std::dec << " at "
                                 << at % shown.width << "," << at / shown.width;
}

// Every output refuses an empty frame, the pixel outputs an absurd one too,
// and writes nothing.
TEST(Outputs, RefuseEmptyAndAbsurdFrames) {
  const std::string path = testing::TempDir() + "render_refused.svg";
  const int frames[][4] = {
      {0, 0, 0, 10}, {5, 5, 2, 8}, {0, 3, 4, 3}, {0, 0, 16385, 1}, {0, -16000, 1, 16000}};
  for (const auto& f : frames) {
    const Picture picture = MakePicture(f[0], f[1], f[2], f[3]);
    Bytes rgba, bytes = {1, 2, 3};
    std::string error;
    EXPECT_NE(StandInRenderRgba(picture, &rgba, nullptr, nullptr), 0);
    std::remove(path.c_str());
    EXPECT_NE(StandInRenderSvg(picture, path.c_str(), &error), 0);
    const bool large = f[2] - f[0] > 16384 || f[3] - f[1] > 16384;
    EXPECT_NE(error.find(large ? "too large" : "empty"), std::string::npos) << error;
    EXPECT_FALSE(std::ifstream(path).good()) << "nothing written";
    if (large) continue;  // a metafile has no pixels to bound
    error.clear();
    EXPECT_NE(StandInWriteEmf(picture, &bytes, &error), 0);
    EXPECT_TRUE(!error.empty() && bytes == Bytes({1, 2, 3})) << "the bytes left alone";
  }
}

class EmfText : public testtable::RowTest<> {};

TEST_P(EmfText, HeaderFollowsTheScaleAndTextIsAnsiOnItsBaselineInTheMappedFace) {
  Picture picture = MakePicture(0, 0, 600, 400);
  picture.scaleMode = int16_t(std::stoi(row[0]));
  picture.scale = std::stod(row[1]);
  AddText(&picture, 7, 360, std::stoi(row[4]), "Line \xE9 1", kGreen, row[3]);
  AddBitmap(&picture, 0, 400, 8, {{0, 1}}, {kRed, kGreen});
  AddText(&picture, 7, 50, std::stoi(row[4]), "", kGreen, row[3]);  // nothing to draw
  Bytes bytes;
  std::string error;
  WRITE_EMF_OR_SKIP(picture, &bytes);
  const Metafile m = Walk(bytes);
  const std::vector<std::string> frame = testtable::Words(row[2]);
  EXPECT_EQ(std::vector<int32_t>(m.header.begin(), m.header.begin() + 8),
            std::vector<int32_t>({0, 0, 600, 400, 0, 0, std::stoi(frame[0]), std::stoi(frame[1])}));
  const double millimetres = std::stoi(frame[0]) / 60000.0;  // the reference device's pixel size
  EXPECT_NEAR(1.0 * m.header[10] / m.header[8], millimetres, millimetres / 1000);
  EXPECT_EQ(m.header[8], m.header[9]);
  EXPECT_EQ(m.background, 0x1E140Au);
  EXPECT_EQ(m.drawn, std::vector<uint32_t>({kTextOutA, emf::kStretchDIBits}));
  EXPECT_EQ(m.texts, std::vector<std::string>{row[5] + " Line \xE9 1"});
}
TESTTABLE_ROWS(EmfText, COMPANION_DATA "emf_text.txt", "", 4, -1);

// One picture through every output: the PNG holds exactly the rendered
// pixels, and an independent reader shows the SVG and the metafile so; the
// metafile's bitmap records hold them too, large bitmaps in strips.
TEST(Outputs, PngSvgAndMetafileShowExactlyTheRenderedPixels) {
  Picture picture = MakePicture(-4, 0, 4096, 1036);
  Rows pixels(1030, std::vector<int>(4100, 0));  // 4096 x 1026 of it inside the frame
  for (int y = 0; y < 1030; ++y) pixels[y][(y * 7) % 4100] = 1;
  AddBitmap(&picture, -8, 1040, 1, pixels, {kBlue, kWhite});
  const std::vector<Rgb> four = {kRed, kGreen, kBlue, kRed};  // 3 repeats 0's colour
  AddBitmap(&picture, -6, 9, 4, {{0, 1, 2, 3, 1}, {3, 2, 1, 0, 2}, {2, 2, 2, 2, 2}}, four, 2,
            {2, 1});  // cut by the left edge, see-through
  AddBitmap(&picture, 1, 4, 1, {{1, 0, 1, 1, 0, 1, 0, 0, 1}, {0, 1, 1, 0, 0, 0, 1, 1, 1}},
            {kWhite, kBlue});
  AddBitmap(&picture, 11, 4, 4, {{0, 1, 2}, {3, 2, 1}, {1, 1, 0}}, four, -1, {2, 1});
  AddBitmap(&picture, 15, 4, 8, {{0, 9, 1, 2, 3}}, four);          // index past the palette
  AddBitmap(&picture, 21, 4, 8, {{0, 1}, {2, 0}}, four, 3);        // back index unused
  AddBitmap(&picture, 24, 4, 4, {{0, 3, 1}, {3, 3, 0}}, four, 3);  // shares 0's colour
  Bitmap& gap = AddBitmap(&picture, 28, 4, 8, {{1}, {2}, {1}}, four, -1, {1, 1, 1});
  gap.bands.erase(gap.bands.begin() + 1);
  Bitmap& full = AddBitmap(&picture, 31, 4, 1, {{1, 0}, {0, 1}, {1, 1}}, {kRed, kGreen}, -1,
                           {1, 1, 1});  // a gap, and no index free to stand for it
  full.bands.erase(full.bands.begin() + 1);
  Bitmap& cut = AddBitmap(&picture, 40, 6, 1, Rows(20, {1, 0, 1, 0, 1, 0, 1}), {kWhite, kBlue});
  cut.bands.push_back(cut.bands[0]);  // cut at the bottom, and a band left of the frame
  cut.bands.back().left = -60;
  const Image shown = RenderRgba(picture);
  const std::string png = testing::TempDir() + "outputs.png", svg = png + ".svg";
  std::string error;
  Image read;
#ifdef STANDIN_HAVE_PNG
  ASSERT_EQ(StandInRenderPng(picture, png.c_str(), &error), 0) << error;
  ASSERT_EQ(StandInRenderSvg(picture, svg.c_str(), &error), 0) << error;
  ASSERT_TRUE(ReadPng(testtable::ReadBytes(png), &read));
  EXPECT_TRUE(read.width == 4100 && read.height == 1036 && read.rgba == shown.rgba);
  EXPECT_TRUE(!ReadBack(testtable::ReadBytes(svg), false, &read) || read.Art() == shown.Art())
      << "SVG";
#else
  EXPECT_NE(StandInRenderPng(picture, png.c_str(), &error), 0);
  EXPECT_EQ(error, "built without PNG support");
#endif
  Bytes bytes;
  WRITE_EMF_OR_SKIP(picture, &bytes);
  const Metafile m = Walk(bytes);
  // Large bitmaps go in strips that follow down (the pixels below show each
  // strip's own; the reader's view shows none is missing).
  size_t strip = 0, row = 0;
  for (; strip < m.images.size() && m.images[strip].width == 4096; row += m.images[strip++].height)
    EXPECT_TRUE(m.images[strip].x == 0 && m.images[strip].y == int(row)) << strip;
  EXPECT_EQ(std::vector<size_t>({row, m.images.size() - strip}), std::vector<size_t>({1026, 12}))
      << "rows in strips, and the other bitmaps (three masked, one of 32-bit pixels)";
  ExpectComposedIsRender(m, shown);
  EXPECT_TRUE(!ReadBack(std::string(bytes.begin(), bytes.end()), true, &read) ||
              read.Art() == shown.Art())
      << "metafile";
}

// A picture of random pixels gains nothing from deflating and is stored;
// one whose lower half is flat is deflated: both read back exactly, and only
// the stored one is about the size of its rows.
TEST(Outputs, NoiseIsStoredAndFlatArtDeflatedBothExact) {
#ifndef STANDIN_HAVE_PNG
  GTEST_SKIP() << "the stand-in writes no PNG in this build";
#else
  std::vector<Rgb> palette(256);
  for (int i = 0; i < 256; ++i) palette[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)};
  std::mt19937 random(7);
  for (const bool flatHalf : {false, true}) {
    Picture picture = MakePicture(0, 0, 1100, 1100);
    Rows pixels(1100, std::vector<int>(1100, 3));
    for (int y = 0; y < (flatHalf ? 550 : 1100); ++y)
      for (int& p : pixels[y]) p = int(random() & 0xFF);
    AddBitmap(&picture, 0, 1100, 8, pixels, palette);
    const std::string png = testing::TempDir() + "noise.png";
    std::string error;
    ASSERT_EQ(StandInRenderPng(picture, png.c_str(), &error), 0) << error;
    const std::string bytes = testtable::ReadBytes(png);
    Image read;
    ASSERT_TRUE(ReadPng(bytes, &read));
    EXPECT_TRUE(read.width == 1100 && read.height == 1100 && read.rgba == RenderRgba(picture).rgba)
        << flatHalf;
    const size_t rows = 1100 * 1101;
    if (flatHalf) {
      EXPECT_LT(bytes.size(), rows * 6 / 10);
    } else {
      EXPECT_LT(bytes.size(), rows + rows / 1000 + 2048);
    }
  }
#endif
}

// An animation's 8-bit frames, each with a transparent index, each over the
// ones before: the metafile keeps them near their depth, a byte and a bit a
// pixel and a little a frame, and what lay behind a see-through pixel
// shows both by the records' raster operations and in emf2svg.
TEST(Outputs, TransparentFramesStayNearTheirDepthAndShowWhatLiesBehind) {
  Picture picture = MakePicture(0, 0, 200, 70);
  std::vector<Rgb> palette(256);
  for (int i = 0; i < 256; ++i) palette[i] = {uint8_t(i), uint8_t(i * 3), uint8_t(255 - i)};
  size_t pixels = 0;
  for (int frame = 0; frame < 8; ++frame) {
    const int back = 200 + frame;
    Rows rows(60, std::vector<int>(190, back));
    for (int y = 0; y < 60; ++y)
      for (int x = 0; x < 190; ++x) {
        const int index = (x * 7 + y * 3 + frame) % 256;
        if (frame == 0 || (x / 9 + y / 5 + frame) % 4 == 0 || (x + y * frame) % 13 == 0)
          rows[y][x] = index == back ? index + 1 : index;
      }
    AddBitmap(&picture, frame, 70 - frame % 3, 8, rows, palette, back, {25, 35});
    pixels += 190 * 60;
  }
  const Image shown = RenderRgba(picture);
  Bytes bytes;
  std::string error;
  WRITE_EMF_OR_SKIP(picture, &bytes);
  EXPECT_LE(bytes.size(), pixels * 5 / 4 + 65536) << "bytes for " << pixels << " pixels";
  ExpectComposedIsRender(Walk(bytes), shown);
  Image read;
  EXPECT_TRUE(!ReadBack(std::string(bytes.begin(), bytes.end()), true, &read) ||
              read.rgba == shown.rgba)
      << "emf2svg";
}

}  // namespace
