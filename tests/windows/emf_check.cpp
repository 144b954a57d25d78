// emf_check WINDOWS.emf LINUX.emf: the metafile that GDI wrote is well
// formed (header, record sizes and count, end record) and its bitmaps are
// the Linux writer's: the same places and sizes, pixel for pixel (palette
// colours resolved, rows in display order). Prints "emf check passed".
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/companion/emf_reader.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: emf_check WINDOWS.emf LINUX.emf\n");
    return 2;
  }
  std::vector<emf::Image> images[2];
  for (int i = 0; i < 2; ++i) {
    std::ifstream in(argv[i + 1], std::ios::binary);
    const emf::Bytes f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string error;
    for (const emf::Record& r : emf::Records(f, &error)) {
      emf::Image image;
      if (emf::ReadBitmap(f, r, &image)) {
        images[i].push_back(image);
      } else if (r.type == emf::kStretchDIBits || r.type == emf::kAlphaBlend) {
        error = "record at " + std::to_string(r.at) + " holds no readable bitmap";
      }
    }
    if (!error.empty()) return std::printf("%s: %s\n", argv[i + 1], error.c_str()), 1;
  }
  if (images[0].size() != images[1].size()) {
    std::printf("%zu bitmaps on Windows, %zu on Linux\n", images[0].size(), images[1].size());
    return 1;
  }
  for (size_t i = 0; i < images[0].size(); ++i) {
    const emf::Image &w = images[0][i], &l = images[1][i];
    if (!(w == l)) {
      std::printf("bitmap %zu differs: Windows %dx%d at (%d, %d), Linux %dx%d at (%d, %d)\n", i,
                  w.width, w.height, w.x, w.y, l.width, l.height, l.x, l.y);
      return 1;
    }
  }
  std::printf("emf check passed: %zu bitmaps\n", images[0].size());
  return 0;
}
