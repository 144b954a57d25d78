// The whole import as a host runs it: ImportFile on a setup, from a memory
// block and from a file, into the companion stand-in without a trace, beside
// giflib's DGifSlurp from memory, all interleaved in one run.
//
//   import_bench [--large] [--kinds=noise8,tiny-images,...] [--benchmark_repetitions=N]
//                [--benchmark_filter=...]
//
// Files of five kinds are made at 4000 x 4000 (and also at 8000 x 8000 with
// --large): 8-bit photo-like, 8-bit noise, 4-bit noise, 1-bit (a dithered
// photo) and interlaced 8-bit photo-like. Before any timing, the bitmaps of
// one import of each file are compared with giflib's pixels; the run stops
// if any differs. At the end a table gives per file the medians of the
// repetitions (CPU time): megapixels per second, the ratio to giflib, the
// file input against the memory input, and the peak resident memory of one
// import per pixel, measured in a child process of its own per import.
//
// Configured with -DGIFIMPORT_WUFFS_C=<paths of Wuffs' single-file C
// releases>, it also times those decoders on the same files from memory
// into an indexed buffer, checked against giflib's pixels first, and gives
// the filter's import against each and against the faster one.
//
// Two pairs of files show how the cost grows: many tiny images (10,000 and
// 100,000), and one image of many full sub-blocks (about 1,000 and 10,000);
// the time per image and per sub-block, less what an import of a one-pixel
// GIF takes, should stay the same.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_images.h"
#include "bench/peer_decoder.h"
#include "companion/standin.h"
#include "core/input_source.h"
#include "gifimport/filter_api.h"
#include "gifimport/standin_picture.h"
#include "platform/locked_global.h"
#include "tests/support/gif_writer.h"
#include "tests/support/giflib_oracle.h"

using namespace gifin;

namespace {

struct Sample {
  std::string name;          // "noise8/4000"
  std::string path;          // the file, for file input and the child processes
  HGLOBAL memory = nullptr;  // the whole file, for memory input and giflib
  uint32_t width = 0, height = 0;
  int depth = 8;
  double units = 0;  // pixels, or images or sub-blocks for the growth files
  const char* unit = "MPix";
  int64_t peakBytes[2] = {-1, -1};  // one import's peak resident memory, per input kind
  // The wall time of that import, the first of a fresh process (what a
  // command-line host pays), per input kind.
  double firstSeconds[2] = {NAN, NAN};
};

std::string scratchDirectory;

#ifdef GIFIMPORT_BENCH_PEERS
#define X(peer) extern "C" const PeerDecoder peer;
GIFIMPORT_BENCH_PEERS
#undef X
#define X(peer) &peer,
const std::vector<const PeerDecoder*> kPeers = {GIFIMPORT_BENCH_PEERS};
#undef X
#else
const std::vector<const PeerDecoder*> kPeers;
#endif

std::string PeerKey(size_t index, const Sample& sample) {
  return "peer" + std::to_string(index) + "/memory/" + sample.name;
}

// ---- Inputs ------------------------------------------------------------------

using namespace benchimages;

std::string ScratchPath(const std::string& name) {
  std::string file = name;
  std::replace(file.begin(), file.end(), '/', '-');
  return scratchDirectory + "/" + file + ".gif";
}

HGLOBAL GlobalBlockOf(const gifwrite::Bytes& bytes) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  LockedGlobal address(block);
  if (!address) {
    if (block != nullptr) GlobalFree(block);
    return nullptr;
  }
  std::memcpy(address.As<void>(), bytes.data(), bytes.size());
  return block;
}

Sample StoreSample(const std::string& name, const gifwrite::Bytes& gif) {
  Sample sample;
  sample.name = name;
  sample.path = ScratchPath(name);
  sample.memory = GlobalBlockOf(gif);
  if (sample.memory == nullptr || !gifwrite::WriteFile(sample.path, gif)) {
    std::fprintf(stderr, "%s: cannot store the input\n", name.c_str());
    std::exit(2);
  }
  return sample;
}

// One image of `pixels` (display order) filling the screen.
Sample MakeImageSample(const std::string& kind, uint32_t side, int depth, bool interlaced,
                       const std::vector<uint8_t>& pixels) {
  gifwrite::GifBuilder builder(static_cast<uint16_t>(side), static_cast<uint16_t>(side),
                               GreyColors(1 << depth));
  gifwrite::Image image;
  image.width = image.height = static_cast<uint16_t>(side);
  image.interlaced = interlaced;
  image.pixels = pixels;
  builder.AddImage(image).Trailer();
  Sample sample = StoreSample(kind + "/" + std::to_string(side), builder.bytes());
  sample.width = sample.height = side;
  sample.depth = depth;
  sample.units = double(side) * side / 1e6;
  return sample;
}

// `count` images of 4 x 4 pixels spread over a 400 x 400 screen.
Sample MakeTinyImagesSample(int count) {
  gifwrite::GifBuilder builder(400, 400, GreyColors(256));
  gifwrite::Image image;
  image.width = image.height = 4;
  for (int i = 0; i < count; ++i) {
    image.left = static_cast<uint16_t>(i * 4 % 400);
    image.top = static_cast<uint16_t>(i / 100 * 4 % 400);
    image.pixels = NoisePixels(16, 8, static_cast<unsigned>(i));
    builder.AddImage(image);
  }
  builder.Trailer();
  Sample sample = StoreSample("tiny-images/" + std::to_string(count), builder.bytes());
  sample.units = count;
  sample.unit = "image";
  return sample;
}

// One 8-bit noise image with about `blocks` full sub-blocks of data.
Sample MakeSubBlocksSample(int blocks) {
  // Noise takes about 1.4 bytes a pixel.
  const auto side = static_cast<uint32_t>(std::sqrt(blocks * 255.0 / 1.4));
  Sample sample =
      MakeImageSample("sub-blocks", side, 8, false, NoisePixels(size_t{side} * side, 8, 9));
  sample.name = "sub-blocks/" + std::to_string(blocks);
  // The real count: every sub-block but the last is full.
  const auto bytes = static_cast<size_t>(GlobalSize(sample.memory));
  sample.units = std::ceil((bytes - 13 - 768 - 10 - 2) / 256.0);
  sample.unit = "sub-block";
  return sample;
}

// ---- The two decoders ----------------------------------------------------------

int32_t WINAPI AnswerStatus(uint32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t*) {
  return 0;  // go on
}

// One import as a host makes it; the picture stays as the stand-in's last.
int32_t ImportOnce(HGLOBAL setup, const Sample& sample, InputKind input) {
  HostContext context = {};
  context.statusCallback = AnswerStatus;
  if (input == InputKind::kMemory) context.inputMemory = sample.memory;
  ImportRequest request = {};
  request.setupHandle = setup;
  request.hostContext = &context;
  return ImportFile(0, "", "", input == InputKind::kFile ? sample.path.c_str() : "", &request);
}

// DGifSlurp of the whole file from memory; the pixels of its first image
// when `keep`, else one byte when it worked; empty when it failed.
std::vector<uint8_t> SlurpGiflib(const Sample& sample, bool keep) {
  const LockedGlobal locked(sample.memory);
  std::vector<oracle::GifImage> images;
  std::vector<uint8_t> pixels;
  if (oracle::SlurpGiflib(locked.As<const uint8_t>(),
                          static_cast<size_t>(GlobalSize(sample.memory)), &images) &&
      !images.empty()) {
    if (keep)
      pixels = std::move(images[0].pixels);
    else
      pixels.resize(1);
  }
  return pixels;
}

// A peer's decoding of the whole file from memory; its pixels when `keep`,
// else one byte when it worked; empty when it failed.
std::vector<uint8_t> DecodeWithPeer(const PeerDecoder& peer, const Sample& sample, bool keep) {
  const LockedGlobal locked(sample.memory);
  PeerImage image;
  std::vector<uint8_t> pixels;
  if (peer.decode(locked.As<const uint8_t>(), static_cast<size_t>(GlobalSize(sample.memory)),
                  &image) != 0) {
    return pixels;
  }
  if (keep)
    pixels.assign(image.pixels, image.pixels + size_t{image.width} * image.height);
  else
    pixels.resize(1);
  std::free(image.block);
  return pixels;
}

// ---- The check -------------------------------------------------------------------

// The last picture's single bitmap against `expected` (palette indices,
// display order). "" when they agree.
std::string CompareBitmap(const Sample& sample, const std::vector<uint8_t>& expected) {
  const standin::Picture* picture = StandInLastPicture();
  if (picture == nullptr || picture->bitmaps.size() != 1) return "not one bitmap";
  if (picture->bitmaps[0].depth != sample.depth) return "bitmap depth";
  oracle::GifImage image;
  image.width = int(sample.width);
  image.height = int(sample.height);
  image.pixels = expected;
  return oracle::CompareBitmap(picture->bitmaps[0], image);
}

bool CheckSample(const Sample& sample, const std::vector<uint8_t>& source) {
  const std::vector<uint8_t> giflib = SlurpGiflib(sample, true);
  HGLOBAL setup = CreateSetup(nullptr, nullptr, nullptr, 0);
  const int32_t result = ImportOnce(setup, sample, InputKind::kMemory);
  DestroySetup(setup);
  std::string differs = result != 0        ? "ImportFile result " + std::to_string(result)
                        : giflib != source ? "giflib's pixels differ from the encoder's"
                                           : CompareBitmap(sample, giflib);
  StandInForgetPictures();
  for (const PeerDecoder* peer : kPeers) {
    if (differs.empty() && DecodeWithPeer(*peer, sample, true) != source)
      differs = std::string(peer->name) + "'s pixels differ from the encoder's";
  }
  std::fprintf(stderr, "%-22s %9zu bytes: %s\n", sample.name.c_str(),
               static_cast<size_t>(GlobalSize(sample.memory)),
               differs.empty() ? "bitmaps match giflib's pixels" : ("DIFFER: " + differs).c_str());
  return differs.empty();
}

// ---- Peak memory, one import per child process ----------------------------------

int64_t StatusBytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const size_t length = std::strlen(field);
  while (std::getline(status, line)) {
    if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':') {
      return std::atoll(line.c_str() + length + 1) * 1024;
    }
  }
  return -1;
}

// In the child: one import of `path`; prints the result, the peak resident
// memory the import added to what the process held before it and the
// import's wall time in seconds.
int MeasureOneImport(const std::string& inputName, const std::string& path) {
  Sample sample;
  sample.path = path;
  const InputKind input = inputName == "memory" ? InputKind::kMemory : InputKind::kFile;
  if (input == InputKind::kMemory) {  // the host's block, held before the import
    std::ifstream in(path, std::ios::binary);
    sample.memory = GlobalBlockOf(
        gifwrite::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
  }
  HGLOBAL setup = CreateSetup(nullptr, nullptr, nullptr, 0);
  const int64_t before = StatusBytes("VmRSS");
  // Start the peak afresh from here (Linux: "5" resets VmHWM).
  if (std::FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
    std::fputs("5", f);
    std::fclose(f);
  }
  const auto start = std::chrono::steady_clock::now();
  const int32_t result = ImportOnce(setup, sample, input);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  const int64_t peak = StatusBytes("VmHWM");
  std::printf("%d %lld %.6f\n", result, static_cast<long long>(peak - before), took.count());
  return 0;
}

// Sets the sample's peak and first-import time for `input` (slot 0 memory, 1 file).
void MeasureInChild(Sample* sample, InputKind input) {
  const int slot = input == InputKind::kMemory ? 0 : 1;
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return;
  self[n] = '\0';
  const std::string command =
      std::string("'") + self +
      "' --peak-memory=" + (input == InputKind::kMemory ? "memory" : "file") + " '" + sample->path +
      "'";
  std::FILE* child = popen(command.c_str(), "r");
  if (child == nullptr) return;
  int result = -1;
  long long bytes = -1;
  double seconds = NAN;
  const bool read = std::fscanf(child, "%d %lld %lf", &result, &bytes, &seconds) == 3;
  pclose(child);
  if (!read || result != 0) return;
  sample->peakBytes[slot] = bytes;
  sample->firstSeconds[slot] = seconds;
}

// ---- Timing -----------------------------------------------------------------------

void BenchImport(benchmark::State& state, const Sample* sample, InputKind input) {
  HGLOBAL setup = CreateSetup(nullptr, nullptr, nullptr, 0);
  StandInClearLog();
  for (auto _ : state) {
    if (ImportOnce(setup, *sample, input) != 0) state.SkipWithError("ImportFile failed");
    // Each import pays for letting its own picture and log go.
    StandInForgetPictures();
    StandInClearLog();
  }
  DestroySetup(setup);
}

// The import with the stand-in's call log on, as every host got it before
// the log was off by default.
void BenchLogged(benchmark::State& state, const Sample* sample) {
  StandInSetLogging(1);
  BenchImport(state, sample, InputKind::kMemory);
  StandInSetLogging(0);
}

// Reading the imported bitmap back through the picture API, into a buffer
// touched before the timing starts.
void BenchPixels(benchmark::State& state, const Sample* sample) {
  HGLOBAL setup = CreateSetup(nullptr, nullptr, nullptr, 0);
  const bool imported = ImportOnce(setup, *sample, InputKind::kMemory) == 0;
  DestroySetup(setup);
  std::vector<uint8_t> pixels(size_t{sample->width} * sample->height, 1);
  for (auto _ : state) {
    if (!imported ||
        StandInPictureBitmapPixels(StandInPictureLast(), 0, pixels.data(), pixels.size()) != 0) {
      state.SkipWithError("no whole bitmap to read");
    }
  }
  StandInForgetPictures();
}

void BenchPeer(benchmark::State& state, const Sample* sample, const PeerDecoder* peer) {
  for (auto _ : state) {
    if (DecodeWithPeer(*peer, *sample, false).empty()) state.SkipWithError("the peer failed");
  }
}

void BenchGiflib(benchmark::State& state, const Sample* sample) {
  for (auto _ : state) {
    if (SlurpGiflib(*sample, false).empty()) state.SkipWithError("DGifSlurp failed");
  }
}

// Keeps each run's CPU time per iteration, by benchmark, for the table.
class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0) {
        seconds[run.run_name.function_name].push_back(run.cpu_accumulated_time /
                                                      double(run.iterations));
      }
    }
    // The console shows the medians only; the table below says the rest.
    std::vector<Run> shown;
    for (const Run& run : runs) {
      if (run.repetitions <= 1 || run.aggregate_name == "median") shown.push_back(run);
    }
    if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
  }
  double Median(const std::string& name) const {
    auto found = seconds.find(name);
    if (found == seconds.end() || found->second.empty()) return NAN;
    std::vector<double> v = found->second;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  }
  std::map<std::string, std::vector<double>> seconds;
};

// The filter's whole import (memory input) against each peer's decoding,
// and against the faster peer (target: 1.5x).
void PrintPeers(const Collector& c, const std::vector<Sample>& images) {
  std::printf("\nThe import against the peers (ms, medians of CPU time; x = peer's / ours):\n\n");
  std::printf("%-18s %9s", "file", "ours");
  for (const PeerDecoder* peer : kPeers) std::printf(" | %-28.28s", peer->name);
  std::printf(" | %s\n", "x faster peer");
  for (const Sample& s : images) {
    const double mem = c.Median("import/memory/" + s.name);
    std::printf("%-18s %9.2f", s.name.c_str(), mem * 1e3);
    double fastest = NAN;
    for (size_t i = 0; i < kPeers.size(); ++i) {
      const double peer = c.Median(PeerKey(i, s));
      if (!(peer >= fastest)) fastest = peer;
      std::printf(" | %9.2f ms %6.2fx         ", peer * 1e3, peer / mem);
    }
    std::printf(" | %6.2fx\n", fastest / mem);
  }
}

void PrintTable(const Collector& c, const std::vector<Sample>& images,
                const std::vector<Sample>& growth) {
  std::printf(
      "\nMedians of CPU time per import. MPix/s of the whole import; ratio = giflib's time "
      "/ ours;\nfile/mem = file input time / memory input time; peak = resident memory one "
      "import adds,\nper pixel (budget: 2.1 bytes a pixel + 8 MB).\n\n");
  std::printf("%-18s %9s %9s %9s %7s %7s %8s %9s %9s %s\n", "file", "ours mem", "ours file",
              "giflib", "ratio", "r.file", "file/mem", "peak mem", "peak file", "budget");
  for (const Sample& s : images) {
    const double mem = c.Median("import/memory/" + s.name);
    const double file = c.Median("import/file/" + s.name);
    const double gif = c.Median("giflib/memory/" + s.name);
    const double pixels = double(s.width) * s.height;
    const double budget = 2.1 * pixels + 8.0 * 1024 * 1024;
    const int64_t peak = std::max(s.peakBytes[0], s.peakBytes[1]);
    std::printf("%-18s %9.1f %9.1f %9.1f %6.2fx %6.2fx %8.3f %9.2f %9.2f %s\n", s.name.c_str(),
                s.units / mem, s.units / file, s.units / gif, gif / mem, gif / file, file / mem,
                s.peakBytes[0] / pixels, s.peakBytes[1] / pixels,
                peak < 0         ? "unmeasured"
                : peak <= budget ? "within"
                                 : "OVER");
  }
  std::printf(
      "\nThe stand-in as a host gets it (call log off), against the log on; reading the\n"
      "bitmap back (StandInPictureBitmapPixels) against the import (targets: at most\n"
      "1.1x with the log on only when asked for, the read at most the import).\n\n");
  std::printf("%-18s %12s %12s %12s %12s\n", "file", "log on/off", "import ms", "read ms",
              "read/import");
  for (const Sample& s : images) {
    const double mem = c.Median("import/memory/" + s.name);
    const double read = c.Median("picture/pixels/" + s.name);
    std::printf("%-18s %11.2fx %12.1f %12.1f %11.2fx\n", s.name.c_str(),
                c.Median("sdk/log-on/" + s.name) / mem, mem * 1e3, read * 1e3, read / mem);
  }
  if (!kPeers.empty()) PrintPeers(c, images);
  std::printf(
      "\nThe first import in a fresh process (wall time, one child process each), as a\n"
      "command-line host pays it, against the median CPU time above.\n\n");
  std::printf("%-18s %12s %12s %12s\n", "file", "first file", "first mem", "first/median");
  for (const Sample& s : images) {
    std::printf("%-18s %9.1f ms %9.1f ms %11.2fx\n", s.name.c_str(), s.firstSeconds[1] * 1e3,
                s.firstSeconds[0] * 1e3, s.firstSeconds[1] / c.Median("import/file/" + s.name));
  }
  if (growth.empty()) return;
  // growth[0] is a GIF of one pixel: what every import costs, whatever its size.
  const double fixed = c.Median("import/memory/" + growth[0].name);
  std::printf(
      "\nGrowth: time per unit at two scales (memory input), less the %.3f ms that\n"
      "an import of a one-pixel GIF takes.\n",
      fixed * 1e3);
  for (size_t i = 1; i + 1 < growth.size(); i += 2) {
    const Sample& small = growth[i];
    const Sample& large = growth[i + 1];
    const double a = (c.Median("import/memory/" + small.name) - fixed) / small.units;
    const double b = (c.Median("import/memory/" + large.name) - fixed) / large.units;
    std::printf("%-20s %8.3f us/%-9s  %-20s %8.3f us/%-9s  ratio %.2f\n", small.name.c_str(),
                a * 1e6, small.unit, large.name.c_str(), b * 1e6, large.unit, b / a);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // The child that measures one import's memory.
  if (argc == 3 && std::strncmp(argv[1], "--peak-memory=", 14) == 0) {
    return MeasureOneImport(argv[1] + 14, argv[2]);
  }

  bool large = false;
  std::string kinds;  // only these files, by the first part of their names
  bool repetitions = false, interleaving = false;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--large") == 0) {
      large = true;
      continue;
    }
    if (std::strncmp(argv[i], "--kinds=", 8) == 0) {
      kinds = std::string(",") + (argv[i] + 8) + ",";
      continue;
    }
    repetitions = repetitions || std::strncmp(argv[i], "--benchmark_repetitions", 23) == 0;
    interleaving = interleaving || std::strncmp(argv[i], "--benchmark_enable_random", 25) == 0;
    args.push_back(argv[i]);
  }
  // Medians over repetitions that take turns with each other, so that a
  // busy moment of the machine falls on every contender alike.
  static char kRepetitions[] = "--benchmark_repetitions=7";
  static char kInterleaving[] = "--benchmark_enable_random_interleaving=true";
  if (!repetitions) args.push_back(kRepetitions);
  if (!interleaving) args.push_back(kInterleaving);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());

  char pattern[] = "/tmp/import-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 2;
  scratchDirectory = pattern;
  setenv("WINDIR", (scratchDirectory + "/no-windows").c_str(), 1);  // no profile

  std::vector<Sample> images;
  std::vector<uint32_t> sides = {4000};
  if (large) sides.push_back(8000);
  bool same = true;
  for (uint32_t side : sides) {
    for (const benchimages::Kind& kind : benchimages::kKinds) {
      const std::string name = kind.name;
      if (!kinds.empty() && kinds.find("," + name + ",") == std::string::npos) continue;
      const std::vector<uint8_t> source = benchimages::KindPixels(kind, side);
      images.push_back(MakeImageSample(name, side, kind.depth, kind.interlaced, source));
      same = CheckSample(images.back(), source) && same;
    }
  }
  if (!same) return 1;
  std::vector<Sample> growth;
  if (kinds.empty() || kinds.find(",tiny-images,") != std::string::npos ||
      kinds.find(",sub-blocks,") != std::string::npos) {
    growth = {MakeImageSample("one-pixel", 1, 8, false, {0}), MakeTinyImagesSample(10000),
              MakeTinyImagesSample(100000), MakeSubBlocksSample(1000), MakeSubBlocksSample(10000)};
  }
  for (Sample& s : images) {
    MeasureInChild(&s, InputKind::kMemory);
    MeasureInChild(&s, InputKind::kFile);
  }

  for (const Sample& s : images) {
    benchmark::RegisterBenchmark(("import/memory/" + s.name).c_str(), BenchImport, &s,
                                 InputKind::kMemory)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    benchmark::RegisterBenchmark(("import/file/" + s.name).c_str(), BenchImport, &s,
                                 InputKind::kFile)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    benchmark::RegisterBenchmark(("giflib/memory/" + s.name).c_str(), BenchGiflib, &s)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    for (size_t i = 0; i < kPeers.size(); ++i) {
      benchmark::RegisterBenchmark(PeerKey(i, s).c_str(), BenchPeer, &s, kPeers[i])
          ->Unit(benchmark::kMillisecond)
          ->Iterations(1);
    }
    benchmark::RegisterBenchmark(("sdk/log-on/" + s.name).c_str(), BenchLogged, &s)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    benchmark::RegisterBenchmark(("picture/pixels/" + s.name).c_str(), BenchPixels, &s)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
  }
  for (const Sample& s : growth) {
    benchmark::RegisterBenchmark(("import/memory/" + s.name).c_str(), BenchImport, &s,
                                 InputKind::kMemory)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
  }
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  PrintTable(collector, images, growth);
  benchmark::Shutdown();

  for (const Sample& s : images) std::remove(s.path.c_str());
  for (const Sample& s : growth) std::remove(s.path.c_str());
  rmdir(scratchDirectory.c_str());
  return 0;
}
