// Pictures built by hand the way a document records them, and the images
// the stand-in's outputs give back, for the rendering and metafile tests.
#ifndef GIFIMPORT_TESTS_COMPANION_PICTURES_H
#define GIFIMPORT_TESTS_COMPANION_PICTURES_H

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "tests/support/table.h"

#ifdef STANDIN_HAVE_PNG
#include <png.h>
#endif

namespace pictures {

using standin::Bitmap, standin::Picture, standin::Rgb;
using Rows = std::vector<std::vector<int>>;

const Rgb kBackground{10, 20, 30}, kBlack{0, 0, 0}, kRed{255, 0, 0}, kGreen{0, 255, 0},
    kBlue{0, 0, 255}, kWhite{255, 255, 255}, kYellow{255, 255, 0};

inline Picture MakePicture(int x1, int y1, int x2, int y2, bool background = true) {
  Picture p;
  p.frame[0] = int16_t(x1), p.frame[1] = int16_t(y1), p.frame[2] = int16_t(x2);
  p.frame[3] = int16_t(y2), p.hasBackground = background, p.background = kBackground;
  return p;
}

// A bitmap with its top-left pixel at picture (left, top), y up, see-through
// where its index is `back` (-1: nowhere), sent in bands of bandRows rows
// (empty: one band). Rows are packed as the filter sends them, padded to 4
// bytes with ones, so that reading past a row shows.
inline Bitmap& AddBitmap(Picture* picture, int left, int top, int depth, const Rows& pixels,
                         const std::vector<Rgb>& palette, int back = -1,
                         std::vector<int> bandRows = {}) {
  Bitmap b;
  const int width = static_cast<int>(pixels[0].size()), height = static_cast<int>(pixels.size());
  b.left = int16_t(left), b.top = int16_t(top), b.width = uint16_t(width);
  b.right = int16_t(left + width), b.bottom = int16_t(top - height), b.height = uint16_t(height);
  b.depth = depth, b.transparent = back >= 0, b.backColorIndex = uint16_t(back < 0 ? 0 : back);
  b.palette = palette, b.ended = true;
  if (bandRows.empty()) bandRows = {height};
  const size_t rowLength = ((depth * width + 7) / 8 + 3) / 4 * 4;
  int done = 0;
  for (const int rows : bandRows) {
    std::vector<uint8_t> data(rowLength * rows, 0xFF);
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < width; ++x) {
        uint8_t& byte = data[y * rowLength + x * depth / 8];
        const int shift = 8 - depth - x * depth % 8;
        byte = uint8_t((byte & ~(((1 << depth) - 1) << shift)) | (pixels[done + y][x] << shift));
      }
    b.bands.push_back({b.left, int16_t(top - done), b.right, int16_t(top - done - rows), b.width,
                       uint16_t(rows), data});
    done += rows;
  }
  picture->order.push_back({Picture::Item::kBitmap, picture->bitmaps.size()});
  picture->bitmaps.push_back(b);
  return picture->bitmaps.back();
}

inline void AddText(Picture* picture, int x, int y, int height, const std::string& text,
                    const Rgb& color = kYellow, const std::string& face = "SWISS:HELVETICA") {
  picture->order.push_back({Picture::Item::kText, picture->texts.size()});
  picture->texts.push_back(
      {int16_t(x), int16_t(y), 0, 0, int16_t(height), 0, 0, color, face, text});
}

struct Image {
  int width = 0, height = 0;
  std::vector<uint8_t> rgba;
  const uint8_t* Pixel(int x, int y) const { return &rgba[(size_t{1} * y * width + x) * 4]; }
  Rgb At(int x, int y) const { return {Pixel(x, y)[0], Pixel(x, y)[1], Pixel(x, y)[2]}; }
  // One letter a pixel: ' ' see-through, '?' a colour the art has no letter for.
  std::vector<std::string> Art() const {
    const std::map<char, Rgb> letters = {{'.', kBackground}, {'k', kBlack}, {'R', kRed},
                                         {'G', kGreen},      {'B', kBlue},  {'W', kWhite},
                                         {'Y', kYellow}};
    std::vector<std::string> rows(height, std::string(width, '?'));
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        for (const auto& [key, color] : letters)
          if (Pixel(x, y)[3] == 0 || (Pixel(x, y)[3] == 0xFF && At(x, y) == color))
            rows[y][x] = Pixel(x, y)[3] ? key : ' ';
    return rows;
  }
};

inline Image RenderRgba(const Picture& picture) {
  Image out;
  EXPECT_EQ(StandInRenderRgba(picture, &out.rgba, &out.width, &out.height), 0);
  return out;
}

#ifdef STANDIN_HAVE_PNG
inline bool ReadPng(const std::string& bytes, Image* out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return false;
  image.format = PNG_FORMAT_RGBA;
  out->width = int(image.width), out->height = int(image.height);
  out->rgba.assign(PNG_IMAGE_SIZE(image), 0);
  return png_image_finish_read(&image, nullptr, out->rgba.data(), 0, nullptr) != 0;
}
#endif

// The pixels rsvg-convert shows of an SVG, or of a metafile emf2svg made
// one of: an independent reader's view. False when they are not installed
// (or there is no libpng to read them).
inline bool ReadBack(const std::string& bytes, bool metafile, Image* image) {
#ifdef STANDIN_HAVE_PNG
  if (std::system(metafile ? "(command -v emf2svg-conv && command -v rsvg-convert) >/dev/null"
                           : "command -v rsvg-convert >/dev/null") != 0)
    return false;
  // Per process: test runs of other builds may share the temporary folder.
  const std::string base = testing::TempDir() + "picture_" + std::to_string(getpid());
  std::ofstream(base + (metafile ? ".emf" : ".svg"), std::ios::binary) << bytes;
  std::string command = "rsvg-convert '" + base + ".svg' -o '" + base + ".png'";
  if (metafile) command = "emf2svg-conv -i '" + base + ".emf' -o '" + base + ".svg' && " + command;
  const bool converted = std::system((command + " >/dev/null 2>&1").c_str()) == 0;
  const std::string png = testtable::ReadBytes(base + ".png");
  for (const char* ending : {".emf", ".svg", ".png"}) std::remove((base + ending).c_str());
  EXPECT_TRUE(converted) << "the reader refused the picture: " << command;
  return converted && ReadPng(png, image);
#else
  return (void)bytes, (void)metafile, (void)image, false;
#endif
}

}  // namespace pictures

#endif
