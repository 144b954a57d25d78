// Rendering of recorded pictures by the companion stand-in: RGBA pixels,
// PNG files read back with libpng, and SVG text. Pictures are built by hand,
// the way the recording would hold them.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
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

const Rgb kBackground{10, 20, 30};
const Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255},
    kYellow{255, 255, 0}, kBlack{0, 0, 0};

// Letters of the expected-image art.
const std::map<char, Rgb> kArt = {{'.', kBackground}, {'k', kBlack}, {'R', kRed},
                                  {'G', kGreen},      {'B', kBlue},  {'W', kWhite},
                                  {'Y', kYellow}};

Picture MakePicture(int x1, int y1, int x2, int y2, bool background = true) {
  Picture picture;
  picture.frame[0] = static_cast<int16_t>(x1);
  picture.frame[1] = static_cast<int16_t>(y1);
  picture.frame[2] = static_cast<int16_t>(x2);
  picture.frame[3] = static_cast<int16_t>(y2);
  picture.hasBackground = background;
  picture.background = kBackground;
  return picture;
}


// Packs rows as the filter sends them: MSB first, high nibble first, padded
// to 4 bytes. Bits and bytes past the width are filled with ones so that a
// renderer reading past a row's pixels draws something wrong.
std::vector<uint8_t> PackRows(const std::vector<std::vector<int>>& rows, int depth, int width) {
  const size_t rowLength = ((depth * width + 7) / 8 + 3) / 4 * 4;
  std::vector<uint8_t> data(rowLength * rows.size(), 0xFF);
  for (size_t r = 0; r < rows.size(); ++r) {
    for (int x = 0; x < width; ++x) {
      const int bit = x * depth;
      uint8_t& byte = data[r * rowLength + bit / 8];
      const int shift = 8 - depth - bit % 8;
      byte = static_cast<uint8_t>((byte & ~(((1 << depth) - 1) << shift)) | (rows[r][x] << shift));
    }
  }
  return data;
}

// A bitmap at (left, top) in picture space (y up), pixels given top row
// first, sent in bands of bandRows rows (empty: one band).
void AddBitmap(Picture* picture, int left, int top, int depth,
               const std::vector<std::vector<int>>& pixels, const std::vector<Rgb>& palette,
               bool transparent = false, uint16_t backColorIndex = 0,
               const std::vector<int>& bandRows = {}) {
  Bitmap bitmap;
  const int width = pixels.empty() ? 0 : static_cast<int>(pixels[0].size());
  const int height = static_cast<int>(pixels.size());
  bitmap.left = static_cast<int16_t>(left);
  bitmap.top = static_cast<int16_t>(top);
  bitmap.right = static_cast<int16_t>(left + width);
  bitmap.bottom = static_cast<int16_t>(top - height);
  bitmap.width = static_cast<uint16_t>(width);
  bitmap.height = static_cast<uint16_t>(height);
  bitmap.depth = depth;
  bitmap.transparent = transparent;
  bitmap.backColorIndex = backColorIndex;
  bitmap.palette = palette;
  const std::vector<int> split = bandRows.empty() ? std::vector<int>{height} : bandRows;
  int done = 0;
  for (const int rows : split) {
    Bitmap::Band band;
    band.left = bitmap.left;
    band.top = static_cast<int16_t>(top - done);
    band.right = bitmap.right;
    band.bottom = static_cast<int16_t>(top - done - rows);
    band.width = bitmap.width;
    band.rows = static_cast<uint16_t>(rows);
    band.data = PackRows({pixels.begin() + done, pixels.begin() + done + rows},
                         depth, width);
    bitmap.bands.push_back(band);
    done += rows;
  }
  bitmap.ended = true;
  picture->order.push_back({Picture::Item::kBitmap, picture->bitmaps.size()});
  picture->bitmaps.push_back(bitmap);
}

void AddText(Picture* picture, int x, int y, int height, const std::string& text,
             const Rgb& color = kYellow, const std::string& face = "SWISS:HELVETICA") {
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

struct Rendered {
  int width = 0, height = 0;
  std::vector<uint8_t> rgba;
  Rgb At(int x, int y) const {
    const uint8_t* p = &rgba[(static_cast<size_t>(y) * width + x) * 4];
    return {p[0], p[1], p[2]};
  }
};

Rendered RenderRgba(const Picture& picture) {
  Rendered out;
  EXPECT_EQ(StandInRenderRgba(picture, &out.rgba, &out.width, &out.height), 0);
  return out;
}

// The rendering as art letters ('?' for a colour not in the art).
std::vector<std::string> AsArt(const Rendered& image) {
  std::vector<std::string> rows;
  for (int y = 0; y < image.height; ++y) {
    std::string row;
    for (int x = 0; x < image.width; ++x) {
      char letter = '?';
      for (const auto& [key, color] : kArt) {
        if (image.At(x, y) == color) letter = key;
      }
      row += letter;
    }
    rows.push_back(row);
  }
  return rows;
}

std::string TempPath(const std::string& name) {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  return testing::TempDir() + "render_" + info->name() + "_" + name;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// ---- Pixels --------------------------------------------------------------

struct ArtCase {
  const char* name;
  Picture picture;
  std::vector<std::string> expected;
};

std::vector<ArtCase> ArtCases() {
  std::vector<ArtCase> cases;
  {
    Picture p = MakePicture(0, 0, 10, 3);
    AddBitmap(&p, 1, 3, 1, {{1, 0, 1, 1, 0, 0, 1, 0, 1}, {0, 1, 0, 0, 1, 1, 0, 1, 0}},
                   {kRed, kGreen});
    cases.push_back({"1-bit, width 9: most significant bit first", p,
                     {".GRGGRRGRG", ".RGRRGGRGR", ".........."}});
  }
  {
    Picture p = MakePicture(0, 0, 5, 2);
    AddBitmap(&p, 2, 2, 4, {{0, 1, 2}, {3, 15, 1}}, {kRed, kGreen, kBlue});
    cases.push_back({"4-bit, width 3, palette of 3: high nibble first, indices past it black", p,
                     {"..RGB", "..kkG"}});
  }
  {
    Picture p = MakePicture(0, 0, 6, 5);
    AddBitmap(&p, 0, 5, 8, {{0, 1, 2, 3, 0}, {1, 2, 3, 0, 1}, {2, 3, 0, 1, 2}, {200, 0, 200, 0, 255}},
              {kRed, kGreen, kBlue, kWhite}, false, 0, {3, 1});
    cases.push_back({"8-bit, width 5, in bands of 3 rows and 1 row", p,
                     {"RGBWR.", "GBWRG.", "BWRGB.", "kRkRk.", "......"}});
  }
  {
    // Each band at its own corners, even where they leave a gap.
    Picture p = MakePicture(0, 0, 4, 4);
    AddBitmap(&p, 0, 4, 8, {{0, 1}, {1, 0}}, {kRed, kGreen}, false, 0, {1, 1});
    Bitmap& bitmap = p.bitmaps.back();
    bitmap.bands[1].left = 2;
    bitmap.bands[1].top = 1;
    cases.push_back({"bands placed at their own corners", p, {"RG..", "....", "....", "..GR"}});
  }
  {
    Picture p = MakePicture(0, 0, 4, 3);
    const std::vector<Rgb> palette = {kRed, kGreen, kRed};
    AddBitmap(&p, 0, 3, 8, {{0, 1, 2, 0}}, palette, true, 0);
    AddBitmap(&p, 0, 2, 8, {{0, 1, 2, 0}}, palette, false, 0);
    AddBitmap(&p, 0, 1, 4, {{0, 1, 2, 0}}, palette, true, 2);
    cases.push_back({"transparent: only the back colour index is left out, not its colour", p,
                     {".GR.", "RGRR", "RG.R"}});
  }
  {
    // A frame that does not start at the origin; the bitmap sticks out of it
    // on every side.
    Picture p = MakePicture(2, 1, 6, 4);
    std::vector<std::vector<int>> pixels(5, std::vector<int>(6));
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 6; ++x) pixels[y][x] = (x + y) % 4;
    AddBitmap(&p, 0, 6, 8, pixels, {kRed, kGreen, kBlue, kWhite});
    cases.push_back({"clipped to a frame away from the origin", p, {"RGBW", "GBWR", "BWRG"}});
  }
  {
    Picture p = MakePicture(0, 0, 3, 1, false);
    cases.push_back({"no background colour set: black", p, {"kkk"}});
  }
  {
    // The call order decides what lies on top, not the order of the lists.
    Picture p = MakePicture(0, 0, 2, 1);
    AddBitmap(&p, 0, 1, 8, {{0, 0}}, {kRed});
    AddBitmap(&p, 1, 1, 8, {{0}}, {kGreen});
    std::swap(p.order[0], p.order[1]);
    cases.push_back({"call order", p, {"RR"}});
  }
  {
    Picture p = MakePicture(0, 0, 3, 2);
    AddBitmap(&p, 0, 2, 8, {{0, 1, 0}, {1, 0, 1}}, {});
    AddBitmap(&p, 0, 2, 1, {{0}}, {kRed});
    p.bitmaps.back().bands[0].data.clear();
    cases.push_back({"empty palette draws black; a band without data draws nothing", p,
                     {"kkk", "kkk"}});
  }
  return cases;
}

TEST(RenderRgba, DrawsBackgroundBitmapsAndClipsPixelExact) {
  for (const ArtCase& c : ArtCases()) {
    SCOPED_TRACE(c.name);
    const Rendered image = RenderRgba(c.picture);
    EXPECT_EQ(image.width, static_cast<int>(c.expected[0].size()));
    EXPECT_EQ(image.height, static_cast<int>(c.expected.size()));
    EXPECT_EQ(AsArt(image), c.expected);
    for (size_t i = 3; i < image.rgba.size(); i += 4) ASSERT_EQ(image.rgba[i], 0xFF);
  }
}

TEST(RenderRgba, RefusesEmptyAndAbsurdFrames) {
  const struct {
    int x1, y1, x2, y2;
    const char* words;
  } cases[] = {
      {0, 0, 0, 10, "empty"},       {0, 0, 10, 0, "empty"},
      {5, 5, 2, 8, "empty"},        {0, 0, 16385, 1, "too large"},
      {-10000, 0, 10000, 1, "too large"}, {0, -16000, 1, 16000, "too large"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.x2 - c.x1) + " x " + std::to_string(c.y2 - c.y1));
    const Picture picture = MakePicture(c.x1, c.y1, c.x2, c.y2);
    std::vector<uint8_t> rgba;
    int width = -1, height = -1;
    EXPECT_NE(StandInRenderRgba(picture, &rgba, &width, &height), 0);
    for (const auto render : {StandInRenderPng, StandInRenderSvg}) {
      const std::string path = TempPath("refused");
      std::remove(path.c_str());
      std::string error;
      EXPECT_NE(render(picture, path.c_str(), &error), 0);
      EXPECT_NE(error.find(c.words), std::string::npos) << error;
      EXPECT_FALSE(std::ifstream(path).good()) << "nothing written";
    }
  }
}

TEST(BitmapPixelIndex, ReadsEveryPixelBackFromItsBand) {
  for (const int depth : {1, 4, 8}) {
    SCOPED_TRACE("depth " + std::to_string(depth));
    const int width = 7, height = 5;
    std::vector<std::vector<int>> pixels(height, std::vector<int>(width));
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) pixels[y][x] = (x * 3 + y * 5) % (1 << depth);
    Picture picture = MakePicture(0, 0, 20, 20);
    AddBitmap(&picture, 3, 12, depth, pixels, {}, false, 0, {2, 2, 1});
    const Bitmap& bitmap = picture.bitmaps[0];
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) ASSERT_EQ(bitmap.PixelIndex(x, y), pixels[y][x]) << x << "," << y;
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{
             {-1, 0}, {0, -1}, {width, 0}, {0, height}, {width, height}}) {
      EXPECT_EQ(bitmap.PixelIndex(x, y), -1) << x << "," << y;
    }
  }
}

TEST(BitmapPixelIndex, MissingBandsAndShortDataGiveMinusOne) {
  Picture picture = MakePicture(0, 0, 8, 8);
  AddBitmap(&picture, 0, 8, 8, {{1, 2}, {3, 4}, {5, 6}}, {}, false, 0, {1, 1, 1});
  Bitmap& bitmap = picture.bitmaps[0];
  bitmap.bands.erase(bitmap.bands.begin() + 1);  // the middle row never came
  bitmap.bands.back().data.resize(1);            // and the last one stops after a byte
  const int expected[3][2] = {{1, 2}, {-1, -1}, {5, -1}};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 2; ++x) EXPECT_EQ(bitmap.PixelIndex(x, y), expected[y][x]) << x << "," << y;
}

// ---- Text ----------------------------------------------------------------

struct Box {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;  // inclusive
};

Box InkBox(const Rendered& image, const Rgb& ink) {
  Box box;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      if (!(image.At(x, y) == ink)) continue;
      box.left = std::min(box.left, x);
      box.top = std::min(box.top, y);
      box.right = std::max(box.right, x);
      box.bottom = std::max(box.bottom, y);
    }
  }
  return box;
}

TEST(RenderText, SitsOnTheBaselineAtTheOriginAndScalesWithTheHeight) {
  // Frame 60 x 40: the origin (x, y) is image column x, row 40 - y.
  const struct {
    const char* text;
    int height;
    int left, top, right, bottom;  // ink box in image pixels
  } cases[] = {
      {"H", 10, 5, 23, 9, 29},     // 5 x 7 above the baseline row 30
      {"H", 20, 5, 16, 14, 29},    // twice as large
      {"HH", 10, 5, 23, 15, 29},   // one blank column between letters
      {"gy", 10, 5, 25, 15, 31},   // descenders reach two rows below
      {"H", 0, 5, 23, 9, 29},      // no height set: readable anyway
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " at height " + std::to_string(c.height));
    Picture picture = MakePicture(0, 0, 60, 40);
    AddText(&picture, 5, 10, c.height, c.text);
    const Box box = InkBox(RenderRgba(picture), kYellow);
    EXPECT_EQ(box.left, c.left);
    EXPECT_EQ(box.top, c.top);
    EXPECT_EQ(box.right, c.right);
    EXPECT_EQ(box.bottom, c.bottom);
  }
}

TEST(RenderText, EveryPrintableCharacterHasItsOwnGlyph) {
  std::map<std::vector<uint8_t>, char> seen;
  for (int c = 0x21; c < 0x7F; ++c) {
    Picture picture = MakePicture(0, 0, 8, 12);
    AddText(&picture, 1, 3, 10, std::string(1, static_cast<char>(c)));
    const Rendered image = RenderRgba(picture);
    EXPECT_GE(InkBox(image, kYellow).right, 0) << "no ink for " << static_cast<char>(c);
    const auto [it, fresh] = seen.emplace(image.rgba, static_cast<char>(c));
    EXPECT_TRUE(fresh) << static_cast<char>(c) << " looks like " << it->second;
  }
}

TEST(RenderText, IsClippedAndDrawnInCallOrder) {
  Picture picture = MakePicture(0, 0, 12, 10);
  AddText(&picture, -3, 5, 10, "MM", kWhite);  // starts left of the frame
  AddBitmap(&picture, 0, 10, 8, {std::vector<int>(12, 0)}, {kRed});
  AddText(&picture, 2, 9, 10, "W", kGreen);  // tops above the frame, over the bitmap
  AddText(&picture, 11, 2, 30, "W", kBlue);  // huge, mostly outside
  const Rendered image = RenderRgba(picture);
  const Box white = InkBox(image, kWhite);
  EXPECT_EQ(white.left, 1);   // the first "M" spans columns -3 to 1
  EXPECT_EQ(white.right, 7);  // the second 3 to 7
  EXPECT_EQ(white.top, 1);    // its row 0 lies under the bitmap drawn after it
  const Box green = InkBox(image, kGreen);
  EXPECT_EQ(green.top, 0);
  EXPECT_EQ(green.bottom, 0);
  EXPECT_EQ(image.At(0, 0), kRed);  // the bitmap row stays where "W" has no ink
  EXPECT_EQ(InkBox(image, kBlue).right, 11);
}

// ---- PNG -----------------------------------------------------------------

#ifdef STANDIN_HAVE_PNG
bool ReadPng(const std::vector<uint8_t>* memory, const std::string& path, Rendered* out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  const bool begun = memory ? png_image_begin_read_from_memory(&image, memory->data(), memory->size())
                            : png_image_begin_read_from_file(&image, path.c_str());
  if (!begun) return false;
  image.format = PNG_FORMAT_RGBA;
  out->width = static_cast<int>(image.width);
  out->height = static_cast<int>(image.height);
  out->rgba.assign(PNG_IMAGE_SIZE(image), 0);
  return png_image_finish_read(&image, nullptr, out->rgba.data(), 0, nullptr) != 0;
}
#endif

Picture MixedPicture() {
  Picture picture = MakePicture(-4, 0, 29, 17);
  AddBitmap(&picture, -6, 15, 4, {{0, 1, 2, 3, 1}, {3, 2, 1, 0, 2}, {2, 2, 2, 2, 2}},
                       {kRed, kGreen, kBlue, kWhite}, true, 2, {2, 1});
  AddBitmap(&picture, 10, 30, 1, std::vector<std::vector<int>>(20, {1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1}),
                       {kWhite, kBlue});
  AddText(&picture, 0, 2, 10, "Ok <&>");
  return picture;
}

TEST(RenderPng, WritesExactlyTheRgbaPixels) {
  const Picture picture = MixedPicture();
  const std::string path = TempPath("mixed.png");
  std::string error;
  const int result = StandInRenderPng(picture, path.c_str(), &error);
#ifdef STANDIN_HAVE_PNG
  ASSERT_EQ(result, 0) << error;
  Rendered read;
  ASSERT_TRUE(ReadPng(nullptr, path, &read));
  const Rendered expected = RenderRgba(picture);
  EXPECT_EQ(read.width, 33);
  EXPECT_EQ(read.height, 17);
  EXPECT_EQ(read.rgba, expected.rgba);
#else
  EXPECT_NE(result, 0);
  EXPECT_EQ(error, "built without PNG support");
#endif
}

TEST(RenderPng, ReportsAFileThatCannotBeWritten) {
  std::string error;
  const Picture picture = MakePicture(0, 0, 2, 2);
  for (const auto render : {StandInRenderPng, StandInRenderSvg}) {
    EXPECT_NE(render(picture, "/nonexistent-dir/x/picture.out", &error), 0);
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_NE(render(picture, nullptr, &error), 0);
    EXPECT_FALSE(error.empty());
  }
}

// ---- SVG -----------------------------------------------------------------

std::string RenderSvgText(const Picture& picture, std::string* error = nullptr) {
  const std::string path = TempPath("picture.svg");
  std::string message;
  const int result = StandInRenderSvg(picture, path.c_str(), &message);
  if (error) *error = message;
  if (result != 0) return {};
  return ReadText(path);
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(RenderSvg, TextElementsCarryPlaceFaceSizeColourAndEscapedText) {
  const struct {
    const char* face;
    const char* family;
  } faces[] = {
      {"SWISS:HELVETICA", "'HELVETICA', sans-serif"},
      {"Courier New", "'Courier New', sans-serif"},
      {"ROMAN:", "sans-serif"},
      {"", "sans-serif"},
      {"X:Ti'me\"s<;", "'Times', sans-serif"},
  };
  for (const auto& f : faces) {
    SCOPED_TRACE(f.face);
    Picture picture = MakePicture(-4, 0, 40, 20);
    AddText(&picture, 3, 6, 11, "a<b & \"c\" 'd'>", kYellow, f.face);
    AddText(&picture, 0, 0, 0, std::string("x\x01\xE9", 3), kBlue, f.face);
    std::string error;
    const std::string svg = RenderSvgText(picture, &error);
    ASSERT_FALSE(svg.empty()) << error;
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    EXPECT_NE(svg.find("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"44\" height=\"20\""),
              std::string::npos);
    EXPECT_NE(svg.find("<text x=\"7\" y=\"14\" font-family=\"" + std::string(f.family) +
                       "\" font-size=\"11\" fill=\"#ffff00\""),
              std::string::npos)
        << svg;
    EXPECT_NE(svg.find(">a&lt;b &amp; &quot;c&quot; &apos;d&apos;&gt;</text>"), std::string::npos);
    EXPECT_NE(svg.find("fill=\"#0000ff\""), std::string::npos);
    EXPECT_NE(svg.find(">x&#xFFFD;&#xE9;</text>"), std::string::npos) << svg;
    EXPECT_EQ(Count(svg, "<text "), 2u);
    EXPECT_EQ(Count(svg, "</text>"), 2u);
    EXPECT_EQ(Count(svg, "<image"), 0u);
  }
}

TEST(RenderSvg, BackgroundRectangleAndBitmapsAsEmbeddedImagesInCallOrder) {
  const Picture picture = MixedPicture();
  std::string error;
  const std::string svg = RenderSvgText(picture, &error);
#ifndef STANDIN_HAVE_PNG
  EXPECT_TRUE(svg.empty());
  EXPECT_EQ(error, "built without PNG support");
#else
  ASSERT_FALSE(svg.empty()) << error;
  EXPECT_NE(svg.find("<rect x=\"0\" y=\"0\" width=\"33\" height=\"17\" fill=\"#0a141e\""),
            std::string::npos);
  EXPECT_EQ(Count(svg, "<image "), 2u);
  EXPECT_EQ(Count(svg, "image-rendering:pixelated"), 2u);
  EXPECT_LT(svg.find("<rect"), svg.find("<image"));
  EXPECT_LT(svg.rfind("<image"), svg.find("<text"));
  EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");

  // Each image holds its bitmap alone, clipped to the frame, see-through
  // where its pixels were left out: (x, y, width, height, pixels).
  struct Expected {
    int x, y, width, height;
    std::vector<std::string> art;  // ' ' = alpha 0
  };
  const Expected expected[] = {
      {0, 2, 3, 3, {" WG", "GR ", "   "}},  // two columns lie left of the frame
      {14, 0, 11, 7, std::vector<std::string>(7, "BWBWBWBWBWB")},  // cut at the top
  };
  size_t at = 0;
  for (const Expected& e : expected) {
    at = svg.find("<image ", at);
    ASSERT_NE(at, std::string::npos);
    const std::string element = svg.substr(at, svg.find("/>", at) - at);
    at += 1;
    SCOPED_TRACE(element.substr(0, 120));
    EXPECT_NE(element.find("x=\"" + std::to_string(e.x) + "\" y=\"" + std::to_string(e.y) +
                           "\" width=\"" + std::to_string(e.width) + "\" height=\"" +
                           std::to_string(e.height) + "\""),
              std::string::npos);
    const std::string prefix = "href=\"data:image/png;base64,";
    const size_t start = element.find(prefix);
    ASSERT_NE(start, std::string::npos);
    const std::string encoded = element.substr(start + prefix.size(),
                                               element.find('"', start + prefix.size()) -
                                                   start - prefix.size());
    std::vector<uint8_t> png;
    uint32_t bits = 0;
    int count = 0;
    for (const char c : encoded) {
      const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
      if (c == '=') break;
      bits = (bits << 6) | static_cast<uint32_t>(std::string(digits).find(c));
      if (++count % 4 == 0) {
        png.insert(png.end(), {uint8_t(bits >> 16), uint8_t(bits >> 8), uint8_t(bits)});
        bits = 0;
      }
    }
    if (count % 4 == 2) png.push_back(uint8_t(bits >> 4));
    if (count % 4 == 3) png.insert(png.end(), {uint8_t(bits >> 10), uint8_t(bits >> 2)});
    Rendered image;
    ASSERT_TRUE(ReadPng(&png, {}, &image));
    ASSERT_EQ(image.width, e.width);
    ASSERT_EQ(image.height, e.height);
    for (int y = 0; y < e.height; ++y) {
      for (int x = 0; x < e.width; ++x) {
        const char want = e.art[y][x];
        const uint8_t alpha = image.rgba[(static_cast<size_t>(y) * e.width + x) * 4 + 3];
        if (want == ' ') {
          EXPECT_EQ(alpha, 0) << x << "," << y;
        } else {
          EXPECT_EQ(alpha, 0xFF) << x << "," << y;
          EXPECT_TRUE(image.At(x, y) == kArt.at(want)) << x << "," << y;
        }
      }
    }
  }
#endif
}

}  // namespace
