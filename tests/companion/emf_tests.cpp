// Enhanced Metafile output of the companion stand-in, checked twice: by
// walking its records here (header, handles, what each drawing record
// holds, bitmaps against the stand-in's own rendering), and by an
// independent reader (emf2svg, then rsvg-convert) whose pixels must match.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/companion/emf_reader.h"
#include "tests/companion/pictures.h"

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

Rgb ColorRef(uint32_t ref) { return {uint8_t(ref), uint8_t(ref >> 8), uint8_t(ref >> 16)}; }
uint32_t Argb(const Rgb& c) { return 0xFF000000u | c.red << 16 | c.green << 8 | c.blue; }
constexpr uint32_t kSetBkMode = 18, kSetTextAlign = 22, kSetTextColor = 24, kSelectObject = 37,
                   kCreatePen = 38, kCreateBrush = 39, kDeleteObject = 40, kRectangle = 43,
                   kCreateFont = 82, kTextOutA = 83;

struct Drawn {  // one drawing record as read back
  uint32_t type = 0;
  emf::Image image;  // a bitmap's place, size and pixels
  int x = 0, y = 0, fontHeight = 0, family = 0,
      advance = 0;  // text: reference point, sum of advances
  std::string text, face;
  Rgb color;  // text colour in force
};
struct Metafile {
  std::vector<int32_t> bounds, frame, device;  // device: pixels, then millimetres
  Rgb background;
  std::vector<Drawn> drawn;
};

// Walks the records, checking the handles on the way: every object created
// is new, selected only while alive, deleted only when no longer selected,
// and gone by the end.
Metafile Walk(const Bytes& b) {
  Metafile m;
  std::string error;
  const std::vector<emf::Record> records = emf::Records(b, &error);
  EXPECT_TRUE(error.empty()) << error;
  for (int i = 0; i < 4; ++i) {
    m.bounds.push_back(I32(b, 8 + 4 * i));
    m.frame.push_back(I32(b, 24 + 4 * i));
    m.device.push_back(I32(b, 72 + 4 * i));
  }
  std::map<uint32_t, uint32_t> live, selected;  // handle -> kind; kind -> handle
  uint32_t bkMode = 2, textAlign = 0;           // the device's own: opaque, top left
  bool nullPen = false;
  Drawn text;
  for (const emf::Record& record : records) {
    const Bytes r(b.begin() + record.at, b.begin() + record.at + record.size);
    const uint32_t type = record.type, handle = U32(r, 8);
    if (type == kCreatePen || type == kCreateBrush || type == kCreateFont) {
      EXPECT_TRUE(handle > 0 && handle < (U32(b, 56) & 0xFFFF) && !live.count(handle)) << handle;
      live[handle] = type;
      if (type == kCreateBrush) m.background = ColorRef(U32(r, 16));
      if (type == kCreateFont) text.fontHeight = I32(r, 12), text.family = r[39], text.face = "";
      for (size_t i = 40; type == kCreateFont && i < 104 && U32(r, i) % 0x10000; i += 2)
        text.face += char(r[i]);
    } else if (type == kSelectObject && (handle & 0x80000000u)) {  // stock: in its kind's place
      const uint32_t stock = handle & 0x7FFFFFFFu;
      nullPen = nullPen || stock == 8;
      selected[stock <= 5 || stock == 18   ? kCreateBrush
               : stock <= 8 || stock == 19 ? kCreatePen
                                           : kCreateFont] = 0;
    } else if (type == kSelectObject || type == kDeleteObject) {
      if (!live.count(handle)) return ADD_FAILURE() << "uses dead handle " << handle, m;
      if (type == kSelectObject) selected[live[handle]] = handle;
      nullPen = nullPen && !(type == kSelectObject && live[handle] == kCreatePen);
      EXPECT_TRUE(type == kSelectObject || selected[live[handle]] != handle) << "deletes selected";
      if (type == kDeleteObject) live.erase(handle);
    } else if (type == kSetBkMode || type == kSetTextAlign) {
      (type == kSetBkMode ? bkMode : textAlign) = handle;
    } else if (type == kSetTextColor) {
      text.color = ColorRef(handle);
    } else if (type == kRectangle) {
      EXPECT_TRUE(nullPen) << "the background has no outline";
      EXPECT_EQ(std::vector<int32_t>({I32(r, 8), I32(r, 12), I32(r, 16), I32(r, 20)}),
                std::vector<int32_t>({0, 0, m.bounds[2] + 1, m.bounds[3] + 1}))
          << "without a pen the right column and bottom row are left out";
    } else if (type == emf::kStretchDIBits || type == emf::kAlphaBlend) {
      Drawn d;
      d.type = type;
      EXPECT_TRUE(emf::ReadBitmap(b, record, &d.image));
      const bool alpha = type == emf::kAlphaBlend;
      const uint32_t bmi = U32(r, alpha ? 84 : 48), height = d.image.height;
      const uint32_t colors = d.image.bits < 32 ? 1u << d.image.bits : 0;
      EXPECT_EQ(
          std::vector<uint32_t>({U32(r, alpha ? 32 : 72), U32(r, alpha ? 36 : 76), U32(r, bmi + 8),
                                 U32(r, bmi + 32), U32(r, alpha ? 88 : 52),
                                 U32(r, alpha ? 96 : 60)}),
          std::vector<uint32_t>({uint32_t(d.image.width), height, height, colors, 40 + 4 * colors,
                                 (d.image.width * d.image.bits + 31) / 32 * 4 * height}))
          << "destination size, rows bottom-up, colours used, header size, pixel bytes";
      m.drawn.push_back(d);
    } else if (type == kTextOutA) {
      EXPECT_NE(selected[kCreateFont], 0u) << "text without a font of its own";
      EXPECT_EQ(std::vector<uint32_t>({textAlign, bkMode}), std::vector<uint32_t>({24, 1}))
          << "on the baseline from the left, glyphs only with no box behind them";
      Drawn d = text;
      d.type = type, d.x = I32(r, 36), d.y = I32(r, 40);
      const uint32_t count = U32(r, 44), offset = U32(r, 48), dx = U32(r, 72);
      EXPECT_TRUE(offset + count <= r.size() && dx + 4 * count <= r.size())
          << "the text and one advance per character lie inside the record";
      d.text.assign(r.begin() + std::min<size_t>(offset, r.size()),
                    r.begin() + std::min<size_t>(offset + count, r.size()));
      for (uint32_t i = 0; i < count; ++i) d.advance += I32(r, dx + 4 * i);
      m.drawn.push_back(d);
    }
  }
  EXPECT_TRUE(live.empty()) << live.size() << " objects never deleted";
  return m;
}

TEST(WriteEmf, HeaderFollowsTheScaleAndTextIsAnsiOnItsBaselineInTheMappedFace) {
  const struct {
    int16_t mode;
    double scale;
    int32_t right, bottom;  // of the 600 x 400 frame, in 0.01 mm
    const char* face;
    int height;
    std::string expectedFace;
    int family, expectedHeight, advance;  // advance: the line's width in the face
  } cases[] = {
      {1, 0.2645833333333333, 15875, 10583, "SWISS:HELVETICA", 10, "HELVETICA", 0x20, 10, 36},
      {1, 0.5, 30000, 20000, "roman:Times", 16, "Times", 0x10, 16, 53},  // half mm units
      {0, 0.5, 15875, 10583, "Courier", 8, "Courier", 0x00, 8, 38},      // mode other than 1
      {1, 0.0, 15875, 10583, "SWISS:AVeryLongFaceNameThatGoesOnAndOnBeyondRoom", 0,
       "AVeryLongFaceNameThatGoesOnAndO", 0x20, 12, 43},
      {1, std::nan(""), 15875, 10583, "SWISS:HELVETICA", 10, "HELVETICA", 0x20, 10, 36}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.face + std::string(" scale ") + std::to_string(c.scale));
    Picture picture = MakePicture(0, 0, 600, 400);
    picture.scaleMode = c.mode;
    picture.scale = c.scale;
    AddText(&picture, 7, 360, c.height, "Line \xE9 1", kGreen, c.face);
    AddBitmap(&picture, 0, 400, 8, {{0, 1}}, {kRed, kGreen});
    AddText(&picture, 7, 50, c.height, "", kGreen, c.face);  // nothing to draw
    Bytes bytes;
    std::string error;
    WRITE_EMF_OR_SKIP(picture, &bytes);
    const Metafile m = Walk(bytes);
    EXPECT_EQ(m.bounds, std::vector<int32_t>({0, 0, 600, 400}));
    EXPECT_EQ(m.frame, std::vector<int32_t>({0, 0, c.right, c.bottom}));
    const double millimetres = c.right / 60000.0;  // the reference device's pixel size
    EXPECT_NEAR(1.0 * m.device[2] / m.device[0], millimetres, millimetres / 1000);
    EXPECT_EQ(m.device[0], m.device[1]);
    EXPECT_TRUE(m.background == kBackground);
    ASSERT_EQ(m.drawn.size(), 2u);
    const Drawn& d = m.drawn[0];
    EXPECT_EQ(std::vector<int>({int(d.type), d.x, d.y, d.family & 0xF0, d.fontHeight, d.advance}),
              std::vector<int>({int(kTextOutA), 7, 40, c.family, -c.expectedHeight, c.advance}))
        << "in call order; baseline point, family, character height, advances";
    EXPECT_EQ(d.text + "|" + d.face, "Line \xE9 1|" + c.expectedFace);
    EXPECT_TRUE(d.color == kGreen);
  }
}

// The metafile as emf2svg and rsvg-convert show it; false when they are
// not installed.
bool ReadBack(const Bytes& bytes, Image* image) {
#ifdef STANDIN_HAVE_PNG
  if (std::system("(command -v emf2svg-conv && command -v rsvg-convert) >/dev/null 2>&1") != 0) {
    return false;
  }
  // Per process: test runs of other builds may share the temporary folder.
  const std::string base = testing::TempDir() + "emf_tests_picture_" + std::to_string(getpid());
  std::ofstream(base + ".emf", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  const std::string convert = "emf2svg-conv -i '" + base + ".emf' -o '" + base + ".svg' && " +
                              "rsvg-convert '" + base + ".svg' -o '" + base + ".png'";
  const bool converted = std::system((convert + " >/dev/null 2>&1").c_str()) == 0;
  std::stringstream png;
  png << std::ifstream(base + ".png", std::ios::binary).rdbuf();
  for (const char* ending : {".emf", ".svg", ".png"}) std::remove((base + ending).c_str());
  EXPECT_TRUE(converted) << "the reader refused the metafile: " << convert;
  return converted && ReadPng(png.str(), image);
#else
  return (void)bytes, (void)image, false;  // no libpng to read the rasterised SVG
#endif
}

// Large bitmaps go in strips; each bitmap record holds what the stand-in's
// rendering shows at its place: its colours, the background where left out.
TEST(WriteEmf, BitmapsKeepDepthAndPaletteAreClippedInStripsAndLeaveOutExactlyTheBackIndex) {
  Picture picture = MakePicture(0, 0, 4100, 1036);
  Rows pixels(1030, std::vector<int>(4100, 0));  // 4096 x 1026 of it inside the frame
  for (int y = 0; y < 1030; ++y) pixels[y][(y * 7) % 4100] = 1;
  AddBitmap(&picture, -4, 1040, 1, pixels, {kBlue, kWhite});
  const std::vector<Rgb> four = {kRed, kGreen, kBlue, kRed};  // 3 repeats 0's colour
  AddBitmap(&picture, 1, 4, 1, {{1, 0, 1, 1, 0, 1, 0, 0, 1}, {0, 1, 1, 0, 0, 0, 1, 1, 1}},
            {kWhite, kBlue});
  AddBitmap(&picture, 11, 4, 4, {{0, 1, 2}, {3, 2, 1}, {1, 1, 0}}, four, -1, {2, 1});
  AddBitmap(&picture, 15, 4, 8, {{0, 9, 1, 2, 3}}, four);          // index past the palette
  AddBitmap(&picture, 21, 4, 8, {{0, 1}, {2, 0}}, four, 3);        // back index unused
  AddBitmap(&picture, 24, 4, 4, {{0, 3, 1}, {3, 3, 0}}, four, 3);  // shares 0's colour
  Bitmap& gap = AddBitmap(&picture, 28, 4, 8, {{1}, {2}, {1}}, four, -1, {1, 1, 1});
  gap.bands.erase(gap.bands.begin() + 1);
  Bytes bytes;
  std::string error;
  WRITE_EMF_OR_SKIP(picture, &bytes);
  const Metafile m = Walk(bytes);
  std::vector<std::vector<int>> kinds;
  for (const Drawn& d : m.drawn)
    kinds.push_back({int(d.type), d.image.bits, d.image.x, d.image.y, d.image.width});
  ASSERT_GE(kinds.size(), 8u);
  const std::vector<std::vector<int>> last = {{81, 1, 1, 1032, 9},    {81, 4, 11, 1032, 3},
                                              {81, 8, 15, 1032, 5},   {81, 8, 21, 1032, 2},
                                              {114, 32, 24, 1032, 3}, {114, 32, 28, 1032, 1}};
  EXPECT_EQ(std::vector<std::vector<int>>(kinds.end() - 6, kinds.end()), last)
      << "palette DIBs at their depth, alpha only where something is left out";
  int row = 0;
  for (size_t strip = 0; strip + 6 < kinds.size(); row += m.drawn[strip++].image.height)
    EXPECT_EQ(kinds[strip], std::vector<int>({81, 1, 0, row, 4096})) << "strips follow down";
  EXPECT_EQ(row, 1026);
  const Image shown = RenderRgba(picture);
  for (const Drawn& d : m.drawn) {
    for (int y = 0; y < d.image.height; ++y) {
      for (int x = 0; x < d.image.width; ++x) {
        const uint32_t drawn = d.image.argb[size_t{1} * y * d.image.width + x];
        const Rgb there = shown.At(d.image.x + x, d.image.y + y);
        ASSERT_TRUE(drawn == 0 ? there == kBackground : drawn == Argb(there))
            << std::hex << drawn << " at " << std::dec << d.image.x + x << "," << d.image.y + y;
      }
    }
  }
  Image read;
  if (ReadBack(bytes, &read)) {
    EXPECT_TRUE(read.Art() == shown.Art()) << "as the independent reader shows it";
  }
}

TEST(WriteEmf, RefusesWhatHasNoPicture) {
  for (const auto& f : {std::vector<int>{0, 0, 0, 10}, {5, 5, 2, 8}, {0, 3, 4, 3}}) {
    Bytes bytes = {1, 2, 3};
    std::string error;
    EXPECT_NE(StandInWriteEmf(MakePicture(f[0], f[1], f[2], f[3]), &bytes, &error), 0);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(bytes, Bytes({1, 2, 3})) << "left untouched";
  }
  std::string error;
  EXPECT_NE(StandInWriteEmf(MakePicture(0, 0, 2, 2), nullptr, &error), 0);
  EXPECT_FALSE(error.empty());
}

}  // namespace
