// output_bench: what writing the picture costs beside the import itself, on
// an 8000 x 8000 8-bit GIF made by the test-support encoder, through the
// gifimport command as a person runs it.
//
//   output_bench [DIR]    (scratch files go to DIR, default /tmp)
//
// Runs the import alone, then with a PNG and with an SVG written, and
// reports the wall time and peak memory of each; the targets: the PNG in
// at most twice the import's time, the SVG within 1.5 bytes of memory per
// pixel beyond the import's own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/gif_writer.h"

namespace {

constexpr int kSide = 8000;

struct Measure {
  double seconds = 0;
  long peakKilobytes = 0;
  int status = -1;
};

Measure RunHost(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage = {};
  wait4(child, &status, 0, &usage);
  Measure m;
  m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.peakKilobytes = usage.ru_maxrss;
  m.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : "/tmp";
  const std::string gif = dir + "/output_bench.gif";
  std::vector<gifwrite::Color> colors;
  for (int i = 0; i < 256; ++i) colors.push_back({uint8_t(i), uint8_t(255 - i), uint8_t(i * 3)});
  gifwrite::Image image{0, 0, kSide, kSide, false, {}, {}, 0, {}, {}};
  image.pixels.resize(size_t{kSide} * kSide);
  uint32_t noise = 1;
  for (size_t i = 0; i < image.pixels.size(); ++i) {
    noise = noise * 1103515245u + 12345u;
    const size_t x = i % kSide, y = i / kSide;
    image.pixels[i] = uint8_t((x / 37 + y / 53) * 5 + ((noise >> 28) & 3));
  }
  std::printf("making %d x %d 8-bit GIF ...\n", kSide, kSide);
  std::fflush(stdout);
  if (!gifwrite::WriteFile(gif, gifwrite::GifBuilder(kSide, kSide, colors).AddImage(image).Trailer().bytes())) {
    std::fprintf(stderr, "cannot write %s\n", gif.c_str());
    return 1;
  }
  const std::string host = GIFIMPORT_HOST;
  const Measure alone = RunHost({host, "import", gif, "-q"});
  const Measure png = RunHost({host, "import", gif, "-q", "-o", dir + "/output_bench.png"});
  const Measure svg = RunHost({host, "import", gif, "-q", "-o", dir + "/output_bench.svg"});
  const double pixels = double(kSide) * kSide;
  std::printf("import alone:    %6.2f s, peak %7.1f MB\n", alone.seconds, alone.peakKilobytes / 1024.0);
  std::printf("import + PNG:    %6.2f s, peak %7.1f MB; writing %.2f s = %.2f x the import (target <= 2)\n",
              png.seconds, png.peakKilobytes / 1024.0, png.seconds - alone.seconds,
              (png.seconds - alone.seconds) / alone.seconds);
  std::printf("import + SVG:    %6.2f s, peak %7.1f MB; writing %.2f s, %.2f bytes a pixel beyond the "
              "import (target <= 1.5)\n",
              svg.seconds, svg.peakKilobytes / 1024.0, svg.seconds - alone.seconds,
              (svg.peakKilobytes - alone.peakKilobytes) * 1024.0 / pixels);
  for (const char* ext : {"gif", "png", "svg"}) std::remove((dir + "/output_bench." + ext).c_str());
  return alone.status == 0 && png.status == 0 && svg.status == 0 ? 0 : 1;
}
