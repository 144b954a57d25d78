// Enhanced Metafile output of the companion stand-in. Pictures are built by
// hand; the metafile is checked twice: by walking its records here (sizes,
// header counts, handles, what each drawing record holds), and by an
// independent reader (emf2svg, then rsvg-convert) whose pixels must match
// the stand-in's own rendering.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "companion/standin.h"

#ifdef STANDIN_HAVE_PNG
#include <png.h>
#endif

namespace {

using standin::Bitmap;
using standin::Picture;
using standin::Rgb;
using standin::TextLine;
using Rows = std::vector<std::vector<int>>;

const Rgb kBackground{10, 20, 30};
const Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255},
    kYellow{255, 255, 0};

Picture MakePicture(int width, int height) {
  Picture picture;
  picture.frame[2] = static_cast<int16_t>(width);
  picture.frame[3] = static_cast<int16_t>(height);
  picture.scaleMode = 1;
  picture.scale = 25.4 / 96;
  picture.hasBackground = true;
  picture.background = kBackground;
  return picture;
}

// A bitmap at (left, top), picture space, y up; pixels top row first, packed
// as the filter sends them, one band per entry of bandRows (empty: one band).
Bitmap& AddBitmap(Picture* picture, int left, int top, int depth, const Rows& pixels,
                  const std::vector<Rgb>& palette, bool transparent = false,
                  int backColorIndex = 0, std::vector<int> bandRows = {}) {
  Bitmap bitmap;
  const int width = static_cast<int>(pixels[0].size());
  const int height = static_cast<int>(pixels.size());
  bitmap.left = static_cast<int16_t>(left);
  bitmap.top = static_cast<int16_t>(top);
  bitmap.right = static_cast<int16_t>(left + width);
  bitmap.bottom = static_cast<int16_t>(top - height);
  bitmap.width = static_cast<uint16_t>(width);
  bitmap.height = static_cast<uint16_t>(height);
  bitmap.depth = depth;
  bitmap.transparent = transparent;
  bitmap.backColorIndex = static_cast<uint16_t>(backColorIndex);
  bitmap.palette = palette;
  if (bandRows.empty()) bandRows = {height};
  const size_t rowLength = (static_cast<size_t>(depth) * width + 31) / 32 * 4;
  int done = 0;
  for (const int rows : bandRows) {
    Bitmap::Band band{bitmap.left, static_cast<int16_t>(top - done), bitmap.right,
                      static_cast<int16_t>(top - done - rows), bitmap.width,
                      static_cast<uint16_t>(rows), std::vector<uint8_t>(rowLength * rows, 0)};
    for (int y = 0; y < rows; ++y) {
      for (int x = 0; x < width; ++x) {
        const int bit = x * depth;
        band.data[y * rowLength + bit / 8] |=
            static_cast<uint8_t>(pixels[done + y][x] << (8 - depth - bit % 8));
      }
    }
    bitmap.bands.push_back(band);
    done += rows;
  }
  bitmap.ended = true;
  picture->order.push_back({Picture::Item::kBitmap, picture->bitmaps.size()});
  picture->bitmaps.push_back(bitmap);
  return picture->bitmaps.back();
}

void AddText(Picture* picture, int x, int y, int height, const std::string& text,
             const Rgb& color, const std::string& face = "SWISS:HELVETICA") {
  TextLine line;
  line.x = static_cast<int16_t>(x);
  line.y = static_cast<int16_t>(y);
  line.height = static_cast<int16_t>(height);
  line.color = color;
  line.face = face;
  line.text = text;
  picture->order.push_back({Picture::Item::kText, picture->texts.size()});
  picture->texts.push_back(line);
}

// Writes the metafile, or says why the test cannot go on.
bool WriteEmf(const Picture& picture, std::vector<uint8_t>* bytes) {
  std::string error;
  const int result = StandInWriteEmf(picture, bytes, &error);
#ifdef STANDIN_HAVE_UEMF
  EXPECT_EQ(result, 0) << error;
  return result == 0;
#else
  EXPECT_NE(result, 0);
  EXPECT_NE(error.find("libUEMF"), std::string::npos) << error;
  return false;
#endif
}

#define WRITE_EMF_OR_SKIP(picture, bytes)                                      \
  do {                                                                         \
    if (!WriteEmf(picture, bytes)) {                                           \
      if (!HasFailure()) GTEST_SKIP() << "stand-in built without libUEMF";    \
      return;                                                                  \
    }                                                                          \
  } while (0)

// ---- Reading records back, by the format's own offsets.

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  if (at + 4 > b.size()) return 0;
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
int32_t I32(const std::vector<uint8_t>& b, size_t at) { return static_cast<int32_t>(U32(b, at)); }
Rgb ColorRef(uint32_t ref) {
  return {static_cast<uint8_t>(ref), static_cast<uint8_t>(ref >> 8),
          static_cast<uint8_t>(ref >> 16)};
}

enum : uint32_t {
  kHeader = 1, kEof = 14, kSetBkMode = 18, kSetTextAlign = 22, kSetTextColor = 24,
  kSelectObject = 37, kCreatePen = 38, kCreateBrush = 39, kDeleteObject = 40, kRectangle = 43,
  kStretchDIBits = 81, kCreateFont = 82, kTextOutA = 83, kAlphaBlend = 114,
};

// One drawing record as read back.
struct Drawn {
  uint32_t type = 0;
  int x = 0, y = 0, width = 0, height = 0;  // destination; text: reference point
  int bits = 0;
  std::vector<Rgb> table;                   // DIB colour table
  std::vector<uint8_t> pixels;              // DIB rows, bottom-up
  std::string text, face;
  int fontHeight = 0, family = 0;
  Rgb color;                                // text colour in force
};

struct Metafile {
  int32_t bounds[4] = {}, frame[4] = {};
  int32_t device[2] = {}, millimetres[2] = {};
  Rgb background;
  std::vector<Drawn> drawn;
};

// Walks the records, checking their framing and the handles on the way:
// every object created is new, selected only while alive, deleted only
// when no longer selected, and gone by the end.
Metafile Walk(const std::vector<uint8_t>& b) {
  Metafile m;
  EXPECT_GE(b.size(), 108u);
  EXPECT_EQ(U32(b, 0), kHeader);
  EXPECT_EQ(U32(b, 40), 0x464D4520u) << "signature";
  EXPECT_EQ(U32(b, 44), 0x10000u) << "version";
  EXPECT_EQ(U32(b, 48), b.size()) << "nBytes";
  for (int i = 0; i < 4; ++i) {
    m.bounds[i] = I32(b, 8 + 4 * i);
    m.frame[i] = I32(b, 24 + 4 * i);
  }
  m.device[0] = I32(b, 72), m.device[1] = I32(b, 76);
  m.millimetres[0] = I32(b, 80), m.millimetres[1] = I32(b, 84);
  const uint32_t handleSlots = U32(b, 56) & 0xFFFF;

  std::map<uint32_t, uint32_t> live;      // handle -> creating record type
  std::map<uint32_t, uint32_t> selected;  // creating record type -> handle
  Rgb textColor;
  const Drawn* font = nullptr;
  Drawn fontRecord;
  uint32_t records = 0, lastType = 0;
  size_t at = 0;
  while (at < b.size()) {
    const uint32_t type = U32(b, at), size = U32(b, at + 4);
    ++records;
    if (size < 8 || size % 4 != 0 || size > b.size() - at) {
      ADD_FAILURE() << "record " << records << " (type " << type << ") has size " << size;
      return m;
    }
    const std::vector<uint8_t> r(b.begin() + at, b.begin() + at + size);
    at += size;
    lastType = type;
    if (type == kCreatePen || type == kCreateBrush || type == kCreateFont) {
      const uint32_t handle = U32(r, 8);
      EXPECT_TRUE(handle > 0 && handle < handleSlots) << "handle " << handle;
      EXPECT_EQ(live.count(handle), 0u) << "handle " << handle << " created twice";
      live[handle] = type;
      if (type == kCreateBrush) m.background = ColorRef(U32(r, 16));
      if (type == kCreateFont) {
        fontRecord = Drawn{};
        fontRecord.fontHeight = I32(r, 12);
        fontRecord.family = r[12 + 27];
        for (size_t i = 0; i < 32 && U32(r, 40 + 2 * i) % 0x10000 != 0; ++i) {
          fontRecord.face += static_cast<char>(r[40 + 2 * i]);
        }
      }
    } else if (type == kSelectObject) {
      const uint32_t handle = U32(r, 8);
      if (handle & 0x80000000u) {  // a stock object takes its kind's place
        const uint32_t stock = handle & 0x7FFFFFFFu;
        const uint32_t kind = stock <= 5 || stock == 18   ? kCreateBrush
                              : stock <= 8 || stock == 19 ? kCreatePen
                                                          : kCreateFont;
        selected[kind] = 0;
        continue;
      }
      if (live.count(handle) == 0) {
        ADD_FAILURE() << "selects dead handle " << handle;
        return m;
      }
      selected[live[handle]] = handle;
      if (live[handle] == kCreateFont) font = &fontRecord;
    } else if (type == kDeleteObject) {
      const uint32_t handle = U32(r, 8);
      if (live.count(handle) == 0) {
        ADD_FAILURE() << "deletes dead handle " << handle;
        return m;
      }
      EXPECT_NE(selected[live[handle]], handle) << "deletes selected handle " << handle;
      if (live[handle] == kCreateFont) font = nullptr;
      live.erase(handle);
    } else if (type == kSetTextColor) {
      textColor = ColorRef(U32(r, 8));
    } else if (type == kRectangle) {
      EXPECT_EQ(std::vector<int32_t>({I32(r, 8), I32(r, 12), I32(r, 16), I32(r, 20)}),
                std::vector<int32_t>({0, 0, m.bounds[2], m.bounds[3]}));
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
      const size_t stride = (static_cast<size_t>(d.width) * d.bits + 31) / 32 * 4;
      EXPECT_EQ(bitsSize, stride * d.height);
      const uint32_t colors = U32(r, bmi + 32);
      EXPECT_EQ(bmiSize, 40 + 4 * colors);
      for (uint32_t i = 0; i < colors && bmi + 40 + 4 * i + 4 <= size; ++i) {
        const size_t c = bmi + 40 + 4 * i;
        d.table.push_back({r[c + 2], r[c + 1], r[c]});
      }
      d.pixels.assign(r.begin() + std::min<size_t>(bits, size),
                      r.begin() + std::min<size_t>(bits + bitsSize, size));
      m.drawn.push_back(d);
    } else if (type == kTextOutA) {
      EXPECT_NE(font, nullptr) << "text without a font of its own";
      Drawn d = font ? *font : Drawn{};
      d.type = type;
      d.x = I32(r, 36), d.y = I32(r, 40);
      const uint32_t count = U32(r, 44), offset = U32(r, 48), dx = U32(r, 72);
      EXPECT_LE(offset + count, size);
      EXPECT_LE(dx + 4 * count, size) << "one advance per character";
      d.text.assign(r.begin() + std::min<size_t>(offset, size),
                    r.begin() + std::min<size_t>(offset + count, size));
      d.color = textColor;
      m.drawn.push_back(d);
    }
  }
  EXPECT_EQ(U32(b, 52), records) << "nRecords";
  EXPECT_EQ(lastType, kEof);
  EXPECT_TRUE(live.empty()) << live.size() << " objects never deleted";
  return m;
}

// Palette index (or BGRA) of pixel (x, y), y = 0 the top row of the DIB.
int DibIndex(const Drawn& d, int x, int y) {
  const size_t stride = (static_cast<size_t>(d.width) * d.bits + 31) / 32 * 4;
  const size_t bit = static_cast<size_t>(x) * d.bits;
  const uint8_t byte = d.pixels[(d.height - 1 - y) * stride + bit / 8];
  return (byte >> (8 - d.bits - bit % 8)) & ((1 << d.bits) - 1);
}
const uint8_t* DibBgra(const Drawn& d, int x, int y) {
  return &d.pixels[((d.height - 1 - y) * static_cast<size_t>(d.width) + x) * 4];
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
    Picture picture = MakePicture(600, 400);
    picture.scaleMode = c.mode;
    picture.scale = c.scale;
    AddText(&picture, 5, 300, 12, "a", kYellow);
    AddBitmap(&picture, 0, 400, 8, {{0, 1}}, {kRed, kGreen});
    std::vector<uint8_t> bytes;
    WRITE_EMF_OR_SKIP(picture, &bytes);
    const Metafile m = Walk(bytes);
    EXPECT_EQ(std::vector<int32_t>(m.bounds, m.bounds + 4),
              std::vector<int32_t>({0, 0, 600, 400}));
    EXPECT_EQ(std::vector<int32_t>(m.frame, m.frame + 4),
              std::vector<int32_t>({0, 0, c.right, c.bottom}));
    // The reference device has the same pixel size.
    const double millimetres = c.right / 60000.0;
    EXPECT_NEAR(1.0 * m.millimetres[0] / m.device[0], millimetres, millimetres / 1000);
    EXPECT_EQ(m.device[0], m.device[1]);
    EXPECT_TRUE(m.background == kBackground);
  }
}

TEST(WriteEmf, BitmapsKeepTheirDepthAndPaletteAndLeaveOutExactlyTheBackIndex) {
  // Frame 12 x 6; every bitmap's pixels are read back out of its DIB.
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
      {"1 bit, width not a byte", 1, {{1, 0, 1, 1, 0, 1, 0, 0, 1}, {0, 1, 1, 0, 0, 0, 1, 1, 1}},
       {kWhite, kBlue}, false, 0, {}, kStretchDIBits},
      {"4 bits, local palette, odd width", 4, {{0, 1, 2}, {3, 2, 1}, {1, 1, 0}}, four, false, 0,
       {2, 1}, kStretchDIBits},
      {"8 bits, index past the palette", 8, {{0, 9, 1, 2, 3}}, four, false, 0, {},
       kStretchDIBits},
      {"transparent but the index unused", 8, {{0, 1}, {2, 0}}, four, true, 3, {},
       kStretchDIBits},
      {"transparent index shares a colour", 4, {{0, 3, 1}, {3, 3, 0}}, four, true, 3, {},
       kAlphaBlend},
      {"band missing", 8, {{1}, {2}, {1}}, four, false, 0, {1, 1, 1}, kAlphaBlend},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Picture picture = MakePicture(12, 6);
    picture.frame[0] = 100;  // a frame away from the origin
    picture.frame[2] = 112;
    Bitmap& bitmap = AddBitmap(&picture, 102, 5, c.depth, c.pixels, c.palette, c.transparent,
                               c.back, c.bands);
    const bool gap = std::string(c.name) == "band missing";
    if (gap) bitmap.bands.erase(bitmap.bands.begin() + 1);
    std::vector<uint8_t> bytes;
    WRITE_EMF_OR_SKIP(picture, &bytes);
    const Metafile m = Walk(bytes);
    ASSERT_EQ(m.drawn.size(), 1u);
    const Drawn& d = m.drawn[0];
    EXPECT_EQ(d.type, c.expectedType);
    EXPECT_EQ(d.x, 2);
    EXPECT_EQ(d.y, 1) << "frame y2 - picture top";
    EXPECT_EQ(d.width, static_cast<int>(c.pixels[0].size()));
    EXPECT_EQ(d.height, static_cast<int>(c.pixels.size()));
    for (int y = 0; y < d.height; ++y) {
      for (int x = 0; x < d.width; ++x) {
        const int index = c.pixels[y][x];
        const bool out = (c.transparent && index == c.back) || (gap && y == 1);
        const Rgb color = index < static_cast<int>(c.palette.size()) ? c.palette[index] : Rgb{};
        if (d.type == kStretchDIBits) {
          EXPECT_EQ(d.bits, c.depth);
          ASSERT_EQ(d.table.size(), 1u << c.depth);
          ASSERT_EQ(DibIndex(d, x, y), index) << x << "," << y;
          EXPECT_TRUE(d.table[index] == color) << "index " << index;
        } else {
          ASSERT_EQ(d.bits, 32);
          const uint8_t* p = DibBgra(d, x, y);
          EXPECT_EQ(p[3], out ? 0 : 255) << x << "," << y;
          EXPECT_TRUE((Rgb{p[2], p[1], p[0]} == (out ? Rgb{} : color))) << x << "," << y;
        }
      }
    }
  }
}

TEST(WriteEmf, ClipsBitmapsToTheFrameAndSplitsLargeOnesIntoStrips) {
  Picture picture = MakePicture(4100, 1030);
  // Sticks out left and top; 4096 x 1026 of it inside the frame.
  Rows pixels(1030, std::vector<int>(4100, 0));
  for (int y = 0; y < 1030; ++y) pixels[y][(y * 7) % 4100] = 1;
  AddBitmap(&picture, -4, 1034, 1, pixels, {kBlue, kWhite});
  std::vector<uint8_t> bytes;
  WRITE_EMF_OR_SKIP(picture, &bytes);
  const Metafile m = Walk(bytes);
  ASSERT_GE(m.drawn.size(), 2u);
  int nextRow = 0;
  for (const Drawn& d : m.drawn) {
    EXPECT_EQ(d.x, 0);
    EXPECT_EQ(d.width, 4096);
    EXPECT_EQ(d.y, nextRow) << "strips follow each other down";
    for (int y = 0; y < d.height; ++y) {
      const int source = d.y + y + 4;
      const int column = (source * 7) % 4100 - 4;
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
    int expectedFamily, expectedHeight;
  } cases[] = {{"SWISS:HELVETICA", 10, "HELVETICA", 0x20, 10},
               {"roman:Times", 16, "Times", 0x10, 16},
               {"Courier", 8, "Courier", 0x00, 8},
               {"SWISS:AVeryLongFaceNameThatGoesOnAndOnBeyondRoom", 0,
                "AVeryLongFaceNameThatGoesOnAndO", 0x20, 12}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.face);
    Picture picture = MakePicture(200, 100);
    AddText(&picture, 7, 60, c.height, "Line \xE9 1", kGreen, c.face);
    AddText(&picture, 7, 50, c.height, "", kGreen, c.face);  // nothing to draw
    std::vector<uint8_t> bytes;
    WRITE_EMF_OR_SKIP(picture, &bytes);
    const Metafile m = Walk(bytes);
    ASSERT_EQ(m.drawn.size(), 1u);
    const Drawn& d = m.drawn[0];
    EXPECT_EQ(d.type, kTextOutA);
    EXPECT_EQ(d.text, "Line \xE9 1");
    EXPECT_EQ(d.x, 7);
    EXPECT_EQ(d.y, 40);
    EXPECT_EQ(d.face, c.expectedFace);
    EXPECT_EQ(d.family & 0xF0, c.expectedFamily);
    EXPECT_EQ(d.fontHeight, -c.expectedHeight) << "character height";
    EXPECT_TRUE(d.color == kGreen);
  }
}

TEST(WriteEmf, RefusesWhatHasNoPicture) {
  const struct {
    int x1, y1, x2, y2;
  } frames[] = {{0, 0, 0, 10}, {5, 5, 2, 8}, {0, 3, 4, 3}};
  for (const auto& f : frames) {
    Picture picture = MakePicture(1, 1);
    picture.frame[0] = static_cast<int16_t>(f.x1), picture.frame[1] = static_cast<int16_t>(f.y1);
    picture.frame[2] = static_cast<int16_t>(f.x2), picture.frame[3] = static_cast<int16_t>(f.y2);
    std::vector<uint8_t> bytes = {1, 2, 3};
    std::string error;
    EXPECT_NE(StandInWriteEmf(picture, &bytes, &error), 0);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(bytes, std::vector<uint8_t>({1, 2, 3})) << "left untouched";
  }
  std::string error;
  EXPECT_NE(StandInWriteEmf(MakePicture(2, 2), nullptr, &error), 0);
  EXPECT_FALSE(error.empty());
}

// ---- Read back by emf2svg and rsvg-convert.

bool ReaderInstalled() {
  return std::system("command -v emf2svg-conv >/dev/null 2>&1 && "
                     "command -v rsvg-convert >/dev/null 2>&1") == 0;
}

struct Image {
  int width = 0, height = 0;
  std::vector<uint8_t> rgba;
  Rgb At(int x, int y) const {
    const uint8_t* p = &rgba[(static_cast<size_t>(y) * width + x) * 4];
    return {p[0], p[1], p[2]};
  }
};

class EmfReadBack : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef STANDIN_HAVE_PNG
    GTEST_SKIP() << "no libpng to read the rasterised SVG";
#endif
    if (!ReaderInstalled()) GTEST_SKIP() << "emf2svg-conv or rsvg-convert not installed";
    char dir[] = "/tmp/emf_tests.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
  }
  void TearDown() override {
    for (const char* name : {"/picture.emf", "/picture.svg", "/picture.png"}) {
      std::remove((dir_ + name).c_str());
    }
    if (!dir_.empty()) rmdir(dir_.c_str());
  }

  // The metafile as the independent reader shows it; false when it cannot.
  bool ReadBack(const Picture& picture, Image* image) {
    std::vector<uint8_t> bytes;
    if (!WriteEmf(picture, &bytes)) return false;
    const std::string emf = dir_ + "/picture.emf", svg = dir_ + "/picture.svg",
                      png = dir_ + "/picture.png";
    std::ofstream(emf, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));
    const std::string convert = "emf2svg-conv -i '" + emf + "' -o '" + svg +
                                "' >/dev/null 2>&1 && rsvg-convert '" + svg + "' -o '" + png +
                                "' >/dev/null 2>&1";
    if (std::system(convert.c_str()) != 0) {
      ADD_FAILURE() << "the reader refused the metafile: " << convert;
      return false;
    }
#ifdef STANDIN_HAVE_PNG
    png_image read{};
    read.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&read, png.c_str())) return false;
    read.format = PNG_FORMAT_RGBA;
    image->width = static_cast<int>(read.width);
    image->height = static_cast<int>(read.height);
    image->rgba.resize(PNG_IMAGE_SIZE(read));
    return png_image_finish_read(&read, nullptr, image->rgba.data(), 0, nullptr) != 0;
#else
    (void)image;
    return false;
#endif
  }

  static Image Rendered(const Picture& picture) {
    Image image;
    EXPECT_EQ(StandInRenderRgba(picture, &image.rgba, &image.width, &image.height), 0);
    return image;
  }

  std::string dir_;
};

TEST_F(EmfReadBack, BitmapsShowTheSamePixelsAsTheRendering) {
  std::vector<std::pair<const char*, Picture>> cases;
  {
    // A global 2-colour image, then one with a local palette of 16, then an
    // 8-bit one: odd widths, several bands.
    Picture p = MakePicture(16, 10);
    AddBitmap(&p, 1, 9, 1, {{1, 0, 1, 1, 0}, {0, 1, 0, 0, 1}}, {kWhite, kBlue});
    std::vector<Rgb> local(16);
    for (int i = 0; i < 16; ++i) {
      local[i] = {static_cast<uint8_t>(i * 16), 200, static_cast<uint8_t>(255 - i * 9)};
    }
    Rows pixels(5, std::vector<int>(7));
    for (int y = 0; y < 5; ++y) {
      for (int x = 0; x < 7; ++x) pixels[y][x] = (x * 3 + y * 5) % 16;
    }
    AddBitmap(&p, 8, 8, 4, pixels, local, false, 0, {2, 2, 1});
    AddBitmap(&p, 0, 3, 8, {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}},
              local);
    cases.push_back({"local palette", p});
  }
  {
    // Index 2 is transparent; index 0 has its very colour and must stay.
    Picture p = MakePicture(8, 6);
    AddBitmap(&p, 0, 6, 8, Rows(6, std::vector<int>(8, 1)), {kGreen, kGreen});
    AddBitmap(&p, 1, 5, 4, {{0, 2, 1, 2, 0}, {2, 0, 2, 1, 2}, {1, 2, 2, 2, 0}},
              {kRed, kBlue, kRed}, true, 2);
    cases.push_back({"transparent colour also at another index", p});
  }
  for (const auto& [name, picture] : cases) {
    SCOPED_TRACE(name);
    Image shown;
    if (!ReadBack(picture, &shown)) {
      if (!HasFailure()) GTEST_SKIP() << "stand-in built without libUEMF";
      return;
    }
    const Image expected = Rendered(picture);
    ASSERT_EQ(shown.width, expected.width);
    ASSERT_EQ(shown.height, expected.height);
    for (int y = 0; y < expected.height; ++y) {
      for (int x = 0; x < expected.width; ++x) {
        const Rgb a = shown.At(x, y), e = expected.At(x, y);
        ASSERT_TRUE(a == e) << "pixel " << x << "," << y << ": shown " << int(a.red) << " "
                            << int(a.green) << " " << int(a.blue) << ", rendered "
                            << int(e.red) << " " << int(e.green) << " " << int(e.blue);
      }
    }
  }
}

// Inclusive box of the pixels that `ink` says are text: left, top, right, bottom.
template <typename Ink>
std::vector<int> InkBox(const Image& image, Ink ink) {
  std::vector<int> box = {image.width, image.height, -1, -1};
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      if (!ink(image.At(x, y))) continue;
      box = {std::min(box[0], x), std::min(box[1], y), std::max(box[2], x), std::max(box[3], y)};
    }
  }
  return box;
}

TEST_F(EmfReadBack, TextLandsWhereTheRenderingPutsItInItsColour) {
  // Baseline at image row 40 - 12 = 28; glyphs are the reader's own, so
  // only place and colour are compared.
  Picture picture = MakePicture(120, 40);
  AddText(&picture, 6, 12, 16, "GIF text", kYellow);
  Image shown;
  if (!ReadBack(picture, &shown)) {
    if (!HasFailure()) GTEST_SKIP() << "stand-in built without libUEMF";
    return;
  }
  const Image expected = Rendered(picture);
  ASSERT_EQ(shown.width, expected.width);
  ASSERT_EQ(shown.height, expected.height);
  // Anti-aliased yellow over the dark background: red and green well up.
  const auto yellowish = [](const Rgb& c) { return c.red > 128 && c.green > 128 && c.blue < 100; };
  const std::vector<int> got = InkBox(shown, yellowish);
  const std::vector<int> want = InkBox(expected, [](const Rgb& c) { return c == kYellow; });
  ASSERT_GE(got[2], 0) << "no text shown";
  EXPECT_NEAR(got[0], 6, 2) << "starts at the origin";
  EXPECT_NEAR(got[3], 28, 2) << "sits on the baseline (no descenders here)";
  EXPECT_NEAR(got[1], want[1], 4) << "about as tall as the rendering";
  EXPECT_LT(got[0], want[2]);
  EXPECT_LT(want[0], got[2]) << "overlaps the rendered line";
  bool exact = false;
  for (int y = got[1]; y <= got[3]; ++y) {
    for (int x = got[0]; x <= got[2]; ++x) exact = exact || shown.At(x, y) == kYellow;
  }
  EXPECT_TRUE(exact) << "the text colour itself appears";
  for (int y = 0; y < shown.height; ++y) {
    for (int x = 0; x < shown.width; ++x) {
      const bool inBox = x >= got[0] - 1 && x <= got[2] + 1 && y >= got[1] - 1 && y <= got[3] + 1;
      ASSERT_TRUE(inBox || shown.At(x, y) == kBackground) << "stray ink at " << x << "," << y;
    }
  }
}

}  // namespace
