// output_bench: what writing the picture costs beside the import itself, on
// an 8000 x 8000 8-bit GIF made by the test-support encoder, through the
// gifimport command as a person runs it.
//
//   output_bench [DIR [RUNS]]    (scratch files go to DIR, default /tmp;
//                                 RUNS of each, default 5)
//
// Runs the import alone, then with a PNG and with an SVG written, and
// reports the medians of CPU time (user + system of the process) and of
// peak memory; the targets: the PNG written in at most twice the import's
// time, the SVG within 1.5 bytes of memory per pixel beyond the import's
// own. CPU time, because the machine may be busy with other work.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/gif_writer.h"

namespace {

constexpr int kSide = 8000;

struct Measure {
  double seconds = 0;  // CPU
  double wall = 0;
  double peakKilobytes = 0;
  int status = -1;
};

double Seconds(const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; }

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
  m.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.seconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  m.peakKilobytes = double(usage.ru_maxrss);
  m.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return m;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The medians over `runs` runs, the runs of the three kinds interleaved so
// that a burst of other work on the machine touches each alike.
std::vector<Measure> RunMedians(const std::vector<std::vector<std::string>>& commands, int runs) {
  std::vector<std::vector<Measure>> all(commands.size());
  for (int run = 0; run < runs; ++run) {
    for (size_t c = 0; c < commands.size(); ++c) all[c].push_back(RunHost(commands[c]));
  }
  std::vector<Measure> medians;
  for (const std::vector<Measure>& ms : all) {
    std::vector<double> cpu, wall, peak;
    Measure m;
    m.status = 0;
    for (const Measure& one : ms) {
      cpu.push_back(one.seconds);
      wall.push_back(one.wall);
      peak.push_back(one.peakKilobytes);
      if (one.status != 0) m.status = one.status;
    }
    m.seconds = Median(cpu);
    m.wall = Median(wall);
    m.peakKilobytes = Median(peak);
    medians.push_back(m);
  }
  return medians;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : "/tmp";
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const std::string gif = dir + "/output_bench.gif";
  std::vector<gifwrite::Color> colors;
  for (int i = 0; i < 256; ++i) colors.push_back({uint8_t(i), uint8_t(255 - i), uint8_t(i * 3)});
  gifwrite::Image image{0, 0, kSide, kSide, false, {}, {}, {}};
  image.pixels.resize(size_t{kSide} * kSide);
  uint32_t noise = 1;
  for (size_t i = 0; i < image.pixels.size(); ++i) {
    noise = noise * 1103515245u + 12345u;
    const size_t x = i % kSide, y = i / kSide;
    image.pixels[i] = uint8_t((x / 37 + y / 53) * 5 + ((noise >> 28) & 3));
  }
  std::printf("making %d x %d 8-bit GIF ...\n", kSide, kSide);
  std::fflush(stdout);
  if (!gifwrite::WriteFile(
          gif, gifwrite::GifBuilder(kSide, kSide, colors).AddImage(image).Trailer().bytes())) {
    std::fprintf(stderr, "cannot write %s\n", gif.c_str());
    return 1;
  }
  const std::string host = GIFIMPORT_HOST;
  const std::vector<Measure> m =
      RunMedians({{host, "import", gif, "-q"},
                  {host, "import", gif, "-q", "-o", dir + "/output_bench.png"},
                  {host, "import", gif, "-q", "-o", dir + "/output_bench.svg"}},
                 runs);
  const Measure& alone = m[0];
  const Measure& png = m[1];
  const Measure& svg = m[2];
  const double pixels = double(kSide) * kSide;
  std::printf("medians of %d runs, CPU seconds (wall in brackets)\n", runs);
  std::printf("import alone:  %6.2f s (%6.2f), peak %7.1f MB\n", alone.seconds, alone.wall,
              alone.peakKilobytes / 1024.0);
  std::printf(
      "import + PNG:  %6.2f s (%6.2f), peak %7.1f MB; writing %.2f s = %.2f x the import (target "
      "<= 2)\n",
      png.seconds, png.wall, png.peakKilobytes / 1024.0, png.seconds - alone.seconds,
      (png.seconds - alone.seconds) / alone.seconds);
  std::printf(
      "import + SVG:  %6.2f s (%6.2f), peak %7.1f MB; writing %.2f s, %.2f bytes a pixel beyond "
      "the import (target <= 1.5)\n",
      svg.seconds, svg.wall, svg.peakKilobytes / 1024.0, svg.seconds - alone.seconds,
      (svg.peakKilobytes - alone.peakKilobytes) * 1024.0 / pixels);
  if (std::getenv("OUTPUT_BENCH_KEEP") == nullptr) {
    for (const char* ext : {"gif", "png", "svg"})
      std::remove((dir + "/output_bench." + ext).c_str());
  }
  return alone.status == 0 && png.status == 0 && svg.status == 0 ? 0 : 1;
}
