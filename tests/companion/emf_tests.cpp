// Enhanced Metafile output of the companion stand-in, checked twice: by
// walking its records here (sizes, header counts, handles, what each drawing
// record holds), and by an independent reader (emf2svg, then rsvg-convert)
// whose pixels must match the stand-in's own rendering.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/companion/pictures.h"

namespace {

using namespace pictures;
using Bytes = std::vector<uint8_t>;

// The metafile; false when the stand-in was built without libUEMF, which it
// must then say.
bool WriteEmf(const Picture& picture, Bytes* bytes) {
  std::string error;
  const int result = StandInWriteEmf(picture, bytes, &error);
#ifdef STANDIN_HAVE_UEMF
  EXPECT_EQ(result, 0) << error;
#else
  EXPECT_NE(error.find("libUEMF"), std::string::npos) << error;
#endif
  return result == 0;
}

#define WRITE_EMF_OR_SKIP(picture, bytes)                                \
  if (!WriteEmf(picture, bytes)) {                                       \
    if (!HasFailure()) GTEST_SKIP() << "stand-in built without libUEMF"; \
    return;                                                              \
  }

uint32_t U32(const Bytes& b, size_t at) {
  if (at + 4 > b.size()) return 0;
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
int32_t I32(const Bytes& b, size_t at) { return static_cast<int32_t>(U32(b, at)); }
Rgb ColorRef(uint32_t ref) { return {uint8_t(ref), uint8_t(ref >> 8), uint8_t(ref >> 16)}; }

enum : uint32_t {
  kHeader = 1,
  kEof = 14,
  kSetBkMode = 18,
  kSetTextAlign = 22,
  kSetTextColor = 24,
  kSelectObject = 37,
  kCreatePen = 38,
  kCreateBrush = 39,
  kDeleteObject = 40,
  kRectangle = 43,
  kStretchDIBits = 81,
  kCreateFont = 82,
  kTextOutA = 83,
  kAlphaBlend = 114,
};

// One drawing record as read back.
struct Drawn {
  uint32_t type = 0;
  int x = 0, y = 0, width = 0, height = 0;  // destination; text: reference point
  int bits = 0;
  std::vector<Rgb> table;  // DIB colour table
  Bytes pixels;            // DIB rows, bottom-up
  std::string text, face;
  int fontHeight = 0, family = 0;
  int advance = 0;  // text: the sum of its advances
  Rgb color;        // text colour in force
};

struct Metafile {
  std::vector<int32_t> bounds, frame;
  int32_t device[2] = {}, millimetres[2] = {};
  Rgb background;
  std::vector<Drawn> drawn;
};

// Walks the records, checking their framing and the handles on the way:
// every object created is new, selected only while alive, deleted only
// when no longer selected, and gone by the end.
Metafile Walk(const Bytes& b) {
  Metafile m;
  EXPECT_GE(b.size(), 108u);
  const std::vector<uint32_t> header = {U32(b, 0), U32(b, 40), U32(b, 44), U32(b, 48)};
  EXPECT_EQ(header, std::vector<uint32_t>({kHeader, 0x464D4520u, 0x10000u, uint32_t(b.size())}))
      << "type, signature, version, nBytes";
  for (int i = 0; i < 4; ++i) {
    m.bounds.push_back(I32(b, 8 + 4 * i));
    m.frame.push_back(I32(b, 24 + 4 * i));
  }
  m.device[0] = I32(b, 72), m.device[1] = I32(b, 76);
  m.millimetres[0] = I32(b, 80), m.millimetres[1] = I32(b, 84);
  const uint32_t handleSlots = U32(b, 56) & 0xFFFF;
  std::map<uint32_t, uint32_t> live;      // handle -> creating record type
  std::map<uint32_t, uint32_t> selected;  // creating record type -> handle
  uint32_t bkMode = 2, textAlign = 0;     // the device's own: opaque, top left
  bool nullPen = false;
  Rgb textColor;
  Drawn font;
  uint32_t records = 0, type = 0;
  for (size_t at = 0, size = 0; at < b.size(); at += size) {
    type = U32(b, at), size = U32(b, at + 4);
    ++records;
    if (size < 8 || size % 4 != 0 || size > b.size() - at) {
      ADD_FAILURE() << "record " << records << " (type " << type << ") has size " << size;
      return m;
    }
    const Bytes r(b.begin() + at, b.begin() + at + size);
    const uint32_t handle = U32(r, 8);
    if (type == kCreatePen || type == kCreateBrush || type == kCreateFont) {
      EXPECT_TRUE(handle > 0 && handle < handleSlots) << "handle " << handle;
      EXPECT_EQ(live.count(handle), 0u) << "handle " << handle << " created twice";
      live[handle] = type;
      if (type == kCreateBrush) m.background = ColorRef(U32(r, 16));
      if (type == kCreateFont) {
        font = Drawn{};
        font.fontHeight = I32(r, 12);
        font.family = r[12 + 27];
        for (size_t i = 40; i < 104 && U32(r, i) % 0x10000 != 0; i += 2) font.face += char(r[i]);
      }
    } else if (type == kSelectObject && (handle & 0x80000000u)) {  // stock: in its kind's place
      const uint32_t stock = handle & 0x7FFFFFFFu;
      if (stock == 8) nullPen = true;
      selected[stock <= 5 || stock == 18   ? kCreateBrush
               : stock <= 8 || stock == 19 ? kCreatePen
                                           : kCreateFont] = 0;
    } else if (type == kSelectObject || type == kDeleteObject) {
      if (live.count(handle) == 0) {
        ADD_FAILURE() << "uses dead handle " << handle << " in record type " << type;
        return m;
      }
      if (type == kSelectObject) {
        selected[live[handle]] = handle;
        if (live[handle] == kCreatePen) nullPen = false;
      } else {
        EXPECT_NE(selected[live[handle]], handle) << "deletes selected handle " << handle;
        live.erase(handle);
      }
    } else if (type == kSetBkMode || type == kSetTextAlign) {
      (type == kSetBkMode ? bkMode : textAlign) = handle;
    } else if (type == kSetTextColor) {
      textColor = ColorRef(handle);
    } else if (type == kRectangle) {
      EXPECT_TRUE(nullPen) << "the background has no outline";
      EXPECT_EQ(std::vector<int32_t>({I32(r, 8), I32(r, 12), I32(r, 16), I32(r, 20)}),
                std::vector<int32_t>({0, 0, m.bounds[2] + 1, m.bounds[3] + 1}))
          << "without a pen the right column and bottom row are left out";
    } else if (type == kStretchDIBits || type == kAlphaBlend) {
      const bool alpha = type == kAlphaBlend;
      Drawn d;
      d.type = type;
      d.x = I32(r, 24), d.y = I32(r, 28);
      d.width = I32(r, alpha ? 32 : 72), d.height = I32(r, alpha ? 36 : 76);
      const uint32_t bmi = U32(r, alpha ? 84 : 48), bmiSize = U32(r, alpha ? 88 : 52);
      const uint32_t bits = U32(r, alpha ? 92 : 56), bitsSize = U32(r, alpha ? 96 : 60);
      EXPECT_LE(bmi + bmiSize, size);
      EXPECT_LE(bits + bitsSize, size);
      EXPECT_EQ(I32(r, bmi + 4), d.width);
      EXPECT_EQ(I32(r, bmi + 8), d.height) << "positive: rows bottom-up";
      d.bits = r[bmi + 14];
      EXPECT_EQ(bitsSize, (size_t{1} * d.width * d.bits + 31) / 32 * 4 * d.height);
      const uint32_t colors = U32(r, bmi + 32);
      EXPECT_EQ(bmiSize, 40 + 4 * colors);
      for (size_t c = bmi + 40; c + 4 <= std::min<size_t>(size, bmi + 40 + 4 * colors); c += 4) {
        d.table.push_back({r[c + 2], r[c + 1], r[c]});
      }
      d.pixels.assign(r.begin() + std::min<size_t>(bits, size),
                      r.begin() + std::min<size_t>(bits + bitsSize, size));
      m.drawn.push_back(d);
    } else if (type == kTextOutA) {
      EXPECT_NE(selected[kCreateFont], 0u) << "text without a font of its own";
      EXPECT_EQ(textAlign, 24u) << "on the baseline, from the left";
      EXPECT_EQ(bkMode, 1u) << "glyphs only, no box behind them";
      Drawn d = font;
      d.type = type;
      d.x = I32(r, 36), d.y = I32(r, 40);
      const uint32_t count = U32(r, 44), offset = U32(r, 48), dx = U32(r, 72);
      EXPECT_LE(offset + count, size);
      EXPECT_LE(dx + 4 * count, size) << "one advance per character";
      d.text.assign(r.begin() + std::min<size_t>(offset, size),
                    r.begin() + std::min<size_t>(offset + count, size));
      for (uint32_t i = 0; i < count && dx + 4 * i + 4 <= size; ++i)
        d.advance += I32(r, dx + 4 * i);
      d.color = textColor;
      m.drawn.push_back(d);
    }
  }
  EXPECT_EQ(U32(b, 52), records) << "nRecords";
  EXPECT_EQ(type, kEof);
  EXPECT_TRUE(live.empty()) << live.size() << " objects never deleted";
  return m;
}

// Palette index (or BGRA) of pixel (x, y), y = 0 the top row of the DIB.
int DibIndex(const Drawn& d, int x, int y) {
  const size_t bit = size_t{1} * x * d.bits, stride = (size_t{1} * d.width * d.bits + 31) / 32 * 4;
  const uint8_t byte = d.pixels[(d.height - 1 - y) * stride + bit / 8];
  return (byte >> (8 - d.bits - bit % 8)) & ((1 << d.bits) - 1);
}
const uint8_t* DibBgra(const Drawn& d, int x, int y) {
  return &d.pixels[((d.height - 1 - y) * size_t{1} * d.width + x) * 4];
}

TEST(WriteEmf, HeaderFrameFollowsTheScaleAndHandlesBalance) {
  // A 600 x 400 frame; the metafile's frame is in 0.01 mm.
  const struct {
    const char* name;
    int16_t mode;
    double scale;
    int32_t right, bottom;
  } cases[] = {{"96 per inch", 1, 0.2645833333333333, 15875, 10583},
               {"half millimetre units", 1, 0.5, 30000, 20000},
               {"mode other than 1", 0, 0.5, 15875, 10583},
               {"no factor", 1, 0.0, 15875, 10583},
               {"not a number", 1, std::nan(""), 15875, 10583}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Picture picture = MakePicture(0, 0, 600, 400);
    picture.scaleMode = c.mode;
    picture.scale = c.scale;
    AddText(&picture, 5, 300, 12, "a");
    AddBitmap(&picture, 0, 400, 8, {{0, 1}}, {kRed, kGreen});
    Bytes bytes;
    WRITE_EMF_OR_SKIP(picture, &bytes);
    const Metafile m = Walk(bytes);
    EXPECT_EQ(m.bounds, std::vector<int32_t>({0, 0, 600, 400}));
    EXPECT_EQ(m.frame, std::vector<int32_t>({0, 0, c.right, c.bottom}));
    // The reference device has the same pixel size.
    const double millimetres = c.right / 60000.0;
    EXPECT_NEAR(1.0 * m.millimetres[0] / m.device[0], millimetres, millimetres / 1000);
    EXPECT_EQ(m.device[0], m.device[1]);
    EXPECT_TRUE(m.background == kBackground);
    ASSERT_EQ(m.drawn.size(), 2u);
    EXPECT_EQ(m.drawn[0].type, kTextOutA) << "in call order";
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

TEST(WriteEmf, BitmapsKeepTheirDepthAndPaletteAndLeaveOutExactlyTheBackIndex) {
  // Frame 12 x 6 away from the origin. Every bitmap's pixels are read back
  // from its DIB, and an independent reader must show what the rendering does.
  const std::vector<Rgb> four = {kRed, kGreen, kBlue, kRed};  // 3 repeats 0's colour
  const struct {
    const char* name;
    int depth;
    Rows pixels;
    std::vector<Rgb> palette;
    bool transparent;
    int back;
    std::vector<int> bands;
    uint32_t expectedType;
  } cases[] = {
      {"1 bit, width not a byte",
       1,
       {{1, 0, 1, 1, 0, 1, 0, 0, 1}, {0, 1, 1, 0, 0, 0, 1, 1, 1}},
       {kWhite, kBlue},
       false,
       0,
       {},
       kStretchDIBits},
      {"4 bits, local palette, odd width",
       4,
       {{0, 1, 2}, {3, 2, 1}, {1, 1, 0}},
       four,
       false,
       0,
       {2, 1},
       kStretchDIBits},
      {"8 bits, index past the palette", 8, {{0, 9, 1, 2, 3}}, four, false, 0, {}, kStretchDIBits},
      {"transparent but the index unused", 8, {{0, 1}, {2, 0}}, four, true, 3, {}, kStretchDIBits},
      {"transparent index shares a colour",
       4,
       {{0, 3, 1}, {3, 3, 0}},
       four,
       true,
       3,
       {},
       kAlphaBlend},
      {"band missing", 8, {{1}, {2}, {1}}, four, false, 0, {1, 1, 1}, kAlphaBlend},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Picture picture = MakePicture(100, 0, 112, 6);
    Bitmap& bitmap =
        AddBitmap(&picture, 102, 5, c.depth, c.pixels, c.palette, c.transparent, c.back, c.bands);
    const bool gap = std::string(c.name) == "band missing";
    if (gap) bitmap.bands.erase(bitmap.bands.begin() + 1);
    Bytes bytes;
    WRITE_EMF_OR_SKIP(picture, &bytes);
    const Metafile m = Walk(bytes);
    ASSERT_EQ(m.drawn.size(), 1u);
    const Drawn& d = m.drawn[0];
    EXPECT_EQ(std::vector<int>({int(d.type), d.x, d.y, d.width, d.height}),
              std::vector<int>(
                  {int(c.expectedType), 2, 1, int(c.pixels[0].size()), int(c.pixels.size())}))
        << "type, place (frame y2 - picture top) and size";
    EXPECT_EQ(d.bits, d.type == kStretchDIBits ? c.depth : 32);
    for (int y = 0; y < d.height; ++y) {
      for (int x = 0; x < d.width; ++x) {
        const int index = c.pixels[y][x];
        const bool out = (c.transparent && index == c.back) || (gap && y == 1);
        const Rgb color = index < int(c.palette.size()) ? c.palette[index] : Rgb{};
        if (d.type == kStretchDIBits) {
          ASSERT_EQ(d.table.size(), 1u << c.depth);
          ASSERT_EQ(DibIndex(d, x, y), index) << x << "," << y;
          EXPECT_TRUE(d.table[index] == color) << "index " << index;
        } else {
          const uint8_t* p = DibBgra(d, x, y);
          EXPECT_EQ(p[3], out ? 0 : 255) << x << "," << y;
          EXPECT_TRUE((Rgb{p[2], p[1], p[0]} == (out ? Rgb{} : color))) << x << "," << y;
        }
      }
    }
    Image shown;
    if (!ReadBack(bytes, &shown)) continue;
    const Image expected = RenderRgba(picture);
    ASSERT_EQ(std::vector<int>({shown.width, shown.height}),
              std::vector<int>({expected.width, expected.height}));
    EXPECT_EQ(shown.Art(), expected.Art()) << "as the independent reader shows it";
  }
}

TEST(WriteEmf, ClipsBitmapsToTheFrameAndSplitsLargeOnesIntoStrips) {
  Picture picture = MakePicture(0, 0, 4100, 1030);
  // Sticks out left and top; 4096 x 1026 of it inside the frame.
  Rows pixels(1030, std::vector<int>(4100, 0));
  for (int y = 0; y < 1030; ++y) pixels[y][(y * 7) % 4100] = 1;
  AddBitmap(&picture, -4, 1034, 1, pixels, {kBlue, kWhite});
  Bytes bytes;
  WRITE_EMF_OR_SKIP(picture, &bytes);
  const Metafile m = Walk(bytes);
  ASSERT_GE(m.drawn.size(), 2u);
  int nextRow = 0;
  for (const Drawn& d : m.drawn) {
    EXPECT_EQ(std::vector<int>({d.x, d.y, d.width}), std::vector<int>({0, nextRow, 4096}))
        << "strips follow each other down";
    for (int y = 0; y < d.height; ++y) {
      const int column = ((d.y + y + 4) * 7) % 4100 - 4;
      for (const int x : {column - 1, column, column + 1}) {
        if (x < 0 || x >= 4096) continue;
        ASSERT_EQ(DibIndex(d, x, y), x == column ? 1 : 0) << "row " << d.y + y;
      }
    }
    nextRow += d.height;
  }
  EXPECT_EQ(nextRow, 1026);
}

TEST(WriteEmf, TextIsAnsiOnItsBaselineInTheMappedFaceColourAndHeight) {
  const struct {
    const char* face;
    int height;
    std::string expectedFace;
    int expectedFamily, expectedHeight, expectedAdvance;  // the line's width in the face
  } cases[] = {{"SWISS:HELVETICA", 10, "HELVETICA", 0x20, 10, 36},
               {"roman:Times", 16, "Times", 0x10, 16, 53},
               {"Courier", 8, "Courier", 0x00, 8, 38},
               {"SWISS:AVeryLongFaceNameThatGoesOnAndOnBeyondRoom", 0,
                "AVeryLongFaceNameThatGoesOnAndO", 0x20, 12, 43}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.face);
    Picture picture = MakePicture(0, 0, 200, 100);
    AddText(&picture, 7, 60, c.height, "Line \xE9 1", kGreen, c.face);
    AddText(&picture, 7, 50, c.height, "", kGreen, c.face);  // nothing to draw
    Bytes bytes;
    WRITE_EMF_OR_SKIP(picture, &bytes);
    const Metafile m = Walk(bytes);
    ASSERT_EQ(m.drawn.size(), 1u);
    const Drawn& d = m.drawn[0];
    EXPECT_EQ(std::vector<int>({static_cast<int>(d.type), d.x, d.y, d.family & 0xF0, d.fontHeight}),
              std::vector<int>({kTextOutA, 7, 40, c.expectedFamily, -c.expectedHeight}))
        << "type, baseline point, family, character height";
    EXPECT_EQ(d.text, "Line \xE9 1");
    EXPECT_EQ(d.advance, c.expectedAdvance);
    EXPECT_EQ(d.face, c.expectedFace);
    EXPECT_TRUE(d.color == kGreen);
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
