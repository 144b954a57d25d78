// Rendering of recorded pictures by the companion stand-in: RGBA pixels
// and SVG text.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "gifimport/standin_picture.h"
#include "tests/companion/pictures.h"
#include "tests/support/row_tests.h"

namespace {

using namespace pictures;
using Art = std::vector<std::string>;

TEST(RenderRgba, DrawsBackgroundThenBitmapsInCallOrderPixelExact) {
  // 1-, 4- and 8-bit rows, odd widths, two bands, indices past the palette.
  Picture p = MakePicture(0, 0, 10, 6);
  AddBitmap(&p, 1, 6, 1, {{1, 0, 1, 1, 0, 0, 1, 0, 1}, {0, 1, 0, 0, 1, 1, 0, 1, 0}},
            {kRed, kGreen});
  AddBitmap(&p, 0, 4, 4, {{0, 1, 2}, {3, 15, 1}}, {kRed, kGreen, kBlue});
  AddBitmap(&p, 4, 4, 8, {{0, 1, 2, 3, 0}, {1, 2, 3, 0, 1}, {2, 3, 0, 1, 2}, {200, 0, 200, 0, 255}},
            {kRed, kGreen, kBlue, kWhite}, -1, {3, 1});
  EXPECT_EQ(RenderRgba(p).Art(), Art({".GRGGRRGRG", ".RGRRGGRGR", "RGB.RGBWR.", "kkG.GBWRG.",
                                      "....BWRGB.", "....kRkRk."}));
  // Transparency leaves out the index, not its colour.
  p = MakePicture(0, 0, 4, 3);
  AddBitmap(&p, 0, 3, 8, {{0, 1, 2, 0}}, {kRed, kGreen, kRed}, 0);
  AddBitmap(&p, 0, 2, 8, {{0, 1, 2, 0}}, {kRed, kGreen, kRed});
  AddBitmap(&p, 0, 1, 4, {{0, 1, 2, 0}}, {kRed, kGreen, kRed}, 2);
  EXPECT_EQ(RenderRgba(p).Art(), Art({".GR.", "RGRR", "RG.R"}));
  // Clipped to a frame away from the origin: the bitmap sticks out on every side.
  p = MakePicture(2, 1, 6, 4);
  Rows pixels(5, std::vector<int>(6));
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) pixels[y][x] = (x + y) % 4;
  AddBitmap(&p, 0, 6, 8, pixels, {kRed, kGreen, kBlue, kWhite});
  EXPECT_EQ(RenderRgba(p).Art(), Art({"RGBW", "GBWR", "BWRG"}));
  // Each band at its own corners; a band that never came and one cut short
  // (its second row gone, its first after a byte) leave their rows out.
  p = MakePicture(0, 0, 4, 6);
  Bitmap& moved = AddBitmap(&p, 0, 6, 8, {{0, 1}, {1, 0}, {1, 1}, {0, 0}, {1, 1}, {0, 1}},
                            {kRed, kGreen}, -1, {1, 1, 1, 1, 2});
  moved.bands[1].left = 2, moved.bands[1].top = 1;
  moved.bands.erase(moved.bands.begin() + 2);
  moved.bands.back().data.resize(1);
  EXPECT_EQ(RenderRgba(p).Art(), Art({"RG..", "....", "....", "RR..", "G...", "..GR"}));
  // Black without a background; the call order decides what is on top.
  p = MakePicture(0, 0, 3, 1, false);
  AddBitmap(&p, 0, 1, 8, {{0, 0}}, {kRed});
  AddBitmap(&p, 1, 1, 8, {{0}}, {kGreen});
  std::swap(p.order[0], p.order[1]);
  EXPECT_EQ(RenderRgba(p).Art(), Art({"RRk"}));
}

// The C API's pixels, unpacked a band at a time, against the model's own
// reading pixel by pixel: bands in the wrong place, one missing, one cut
// short, two overlapping (the later wins), at every depth.
TEST(PictureApi, BitmapPixelsAreThePixelsTheBandsDelivered) {
  for (const int depth : {1, 4, 8}) {
    Picture p = MakePicture(0, 0, 12, 8);
    Rows pixels(8, std::vector<int>(11));
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 11; ++x) pixels[y][x] = (x * 7 + y * 3) % (1 << depth);
    Bitmap& b = AddBitmap(&p, 1, 8, depth, pixels, {kRed}, -1, {2, 2, 2, 1, 1});
    b.bands[1].left = 4, b.bands[1].top = 7;  // shifted right and up: overlaps the first
    b.bands[2].data.resize(2);                // its first row cut after two bytes
    b.bands[3].left = -2;                     // sticking out left of the bitmap
    b.bands.erase(b.bands.begin() + 4);       // the last row never came
    b.bands.push_back(b.bands[0]);            // sent again, lower, onto the shifted one
    b.bands.back().top = 6;
    b.bands.back().data.assign(b.bands.back().data.size(), 0x5A);
    std::vector<uint8_t> got(11 * 8, 0xEE);
    const auto* picture = reinterpret_cast<const StandInPicture*>(&p);
    std::vector<uint8_t> expected(got.size());
    int missing = 0;
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 11; ++x) {
        const int found = b.PixelIndex(x, y);
        missing += found < 0;
        expected[size_t(y) * 11 + size_t(x)] = uint8_t(found < 0 ? 0 : found);
      }
    EXPECT_EQ(StandInPictureBitmapPixels(picture, 0, got.data(), got.size()), missing) << depth;
    EXPECT_EQ(got, expected) << depth;
    EXPECT_GT(missing, 0);
    EXPECT_EQ(StandInPictureBitmapPixels(picture, 0, got.data(), got.size() - 1), -1);
  }
}

class TextBox : public testtable::RowTest<> {};

TEST_P(TextBox, SitsOnTheBaselineAtTheOriginScaledToTheHeightAndClipped) {
  Picture picture = MakePicture(0, 0, 60, 40);
  AddText(&picture, std::stoi(row[2]), 10, std::stoi(row[1]), row[0]);
  const Image image = RenderRgba(picture);
  int box[4] = {image.width, image.height, -1, -1};
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x)
      if (image.At(x, y) == kYellow)
        box[0] = std::min(box[0], x), box[1] = std::min(box[1], y), box[2] = std::max(box[2], x),
        box[3] = std::max(box[3], y);
  std::string got;
  for (const int side : box) got += std::to_string(side) + " ";
  EXPECT_EQ(got, row[3] + " ");
}
TESTTABLE_ROWS(TextBox, COMPANION_DATA "text_boxes.txt", "", 7, 4);

// Text elements carry place, face, size, colour and escaped text: the whole
// file as expected_text.svg holds it. Unwritable paths are refused, saying why.
TEST(RenderSvg, TextElementsCarryPlaceFaceSizeColourAndEscapedText) {
  Picture picture = MakePicture(-4, 0, 40, 20);
  AddText(&picture, 3, 6, 11, "a<b & \"c\" 'd'>");
  AddText(&picture, 0, 0, 0, "x\x01\xE9", kBlue, "ROMAN:Ti'me\"s<;");
  AddText(&picture, 0, 0, 9, "", kBlue, "modern:courier");
  const std::string path = testing::TempDir() + "render_text.svg";
  std::string error;
  ASSERT_EQ(StandInRenderSvg(picture, path.c_str(), &error), 0) << error;
  EXPECT_EQ(testtable::ReadBytes(path), testtable::ReadBytes(COMPANION_DATA "expected_text.svg"));
  for (const char* bad : {"/nonexistent-dir/picture.png", static_cast<const char*>(nullptr)}) {
    error.clear();
    EXPECT_NE(StandInRenderPng(picture, bad, &error), 0);
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
