// DecodeImage on large GIFs made by the test-support encoder, beside giflib's
// DGifSlurp on the same files when giflib is installed.
//
//   decode_bench [--benchmark_filter=...] [--benchmark_repetitions=N]
//
// Reported per file: megapixels per second and megabytes per second of the
// compressed image data. Before timing, the pixels of both decoders are
// compared once; the run stops if any differs.
//
// The companion stand-in records every call for the tests. Here the calls
// DecodeImage makes (stream reads and seeks, the pending-error query, the
// bands) go to the minimal versions below instead, which this program
// defines in the stand-in's place: a memory stream, no error ever pending,
// and a band sink that only counts (or, for the one check, keeps the rows).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/filter_setup.h"
#include "gif/lzw_decoder.h"
#include "gif/raster.h"
#include "tests/support/gif_writer.h"

#ifdef GIFIMPORT_BENCH_GIFLIB
#include "tests/support/giflib_oracle.h"
#endif

using namespace gifin;

namespace {

struct MemoryStream {
  const uint8_t* data;
  int32_t size;
  int32_t position;
};

struct BandSink {
  uint64_t bands = 0;
  uint64_t bytes = 0;
  std::vector<uint8_t>* keep = nullptr;  // rows of every band, when set
};
BandSink sink;

}  // namespace

extern "C" {

int32_t WINAPI QvStreamRead(QvStream stream, void* destination, int32_t count) {
  auto* s = reinterpret_cast<MemoryStream*>(stream);
  const int32_t n = std::max(0, std::min(count, s->size - s->position));
  std::memcpy(destination, s->data + s->position, static_cast<size_t>(n));
  s->position += n;
  return n;
}

int32_t WINAPI QvStreamSeek(QvStream stream, int32_t offset, int32_t origin) {
  auto* s = reinterpret_cast<MemoryStream*>(stream);
  const int32_t base = origin == 0 ? 0 : origin == 1 ? s->position : s->size;
  if (base + offset < 0) return -1;
  s->position = base + offset;
  return s->position;
}

void WINAPI QvGetError(QvPicture, int32_t, int32_t* flag, LibraryErrorPair*) { *flag = 0; }

void WINAPI QvBitmapBand(QvPicture, const BitmapCorners*, const BitmapSize* size, int32_t negDepth,
                         int32_t, const uint8_t* rows) {
  const size_t bytes = size_t{RowLength(-negDepth, size->width.value)} * size->rows.value;
  ++sink.bands;
  sink.bytes += bytes;
  if (sink.keep != nullptr) sink.keep->insert(sink.keep->end(), rows, rows + bytes);
}

}  // extern "C"

namespace {

constexpr uint16_t kSide = 4096;
constexpr size_t kImageOffset = 13 + 768;  // header and a 256-entry global table
constexpr size_t kDataOffset = kImageOffset + 10;

struct Sample {
  std::string name;
  bool interlaced = false;
  std::vector<uint8_t> pixels;  // display order
  gifwrite::Bytes gif;
};

// Smooth gradients and a little noise, as a photograph's tones.
std::vector<uint8_t> PhotoPixels(unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> pixels(size_t{kSide} * kSide);
  for (size_t y = 0; y < kSide; ++y) {
    for (size_t x = 0; x < kSide; ++x) {
      const double tone = 128 + 70 * std::sin(x / 611.0) * std::cos(y / 437.0) +
                          40 * std::sin((x + 2.0 * y) / 997.0) + static_cast<int>(random() % 5) - 2;
      pixels[y * kSide + x] = static_cast<uint8_t>(std::clamp(tone, 0.0, 255.0));
    }
  }
  return pixels;
}

std::vector<uint8_t> NoisePixels(unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> pixels(size_t{kSide} * kSide);
  for (auto& p : pixels) p = static_cast<uint8_t>(random());
  return pixels;
}

Sample MakeSample(const std::string& name, std::vector<uint8_t> pixels, bool interlaced) {
  std::vector<gifwrite::Color> grey(256);
  for (int i = 0; i < 256; ++i) grey[i] = {uint8_t(i), uint8_t(i), uint8_t(i)};
  gifwrite::GifBuilder builder(kSide, kSide, grey);
  gifwrite::Image image;
  image.width = kSide;
  image.height = kSide;
  image.interlaced = interlaced;
  image.pixels = pixels;
  builder.AddImage(image).Trailer();
  Sample sample;
  sample.name = name;
  sample.interlaced = interlaced;
  sample.pixels = std::move(pixels);
  sample.gif = builder.bytes();
  return sample;
}

size_t DataBytes(const Sample& sample) { return sample.gif.size() - kDataOffset - 1; }

// One DecodeImage of the sample's image data. 0 on success.
FilterError DecodeOurs(const Sample& sample, FilterSetup* job) {
  MemoryStream stream = {sample.gif.data() + kDataOffset,
                         static_cast<int32_t>(sample.gif.size() - kDataOffset), 0};
  job->inputSize = stream.size;
  return DecodeImage(job, sample.interlaced ? 0x40 : 0, 8, kSide, 0, kSide, kSide,
                     reinterpret_cast<QvStream>(&stream));
}

void SetRates(benchmark::State& state, const Sample& sample) {
  state.counters["MPix/s"] = benchmark::Counter(double(kSide) * kSide / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
  state.counters["MB/s"] = benchmark::Counter(double(DataBytes(sample)) / 1e6,
                                              benchmark::Counter::kIsIterationInvariantRate);
}

void BenchOurs(benchmark::State& state, const Sample* sample) {
  FilterSetup* job = new FilterSetup();
  HostContext context = {};  // no callback: progress costs no host call
  job->hostContext = &context;
  for (auto _ : state) {
    if (DecodeOurs(*sample, job) != 0) state.SkipWithError("DecodeImage failed");
  }
  SetRates(state, *sample);
  delete job;
}

#ifdef GIFIMPORT_BENCH_GIFLIB
// DGifSlurp of the whole file; the pixels of its first image (one byte
// unless `keep`), or empty.
std::vector<uint8_t> SlurpGiflib(const Sample& sample, bool keep) {
  std::vector<oracle::GifImage> images;
  std::vector<uint8_t> pixels;
  if (oracle::SlurpGiflib(sample.gif.data(), sample.gif.size(), &images) && !images.empty()) {
    if (keep)
      pixels = std::move(images[0].pixels);
    else
      pixels.resize(1);
  }
  return pixels;
}

void BenchGiflib(benchmark::State& state, const Sample* sample) {
  for (auto _ : state) {
    if (SlurpGiflib(*sample, false).empty()) state.SkipWithError("DGifSlurp failed");
  }
  SetRates(state, *sample);
}
#endif

// Our pixels against the encoder's input, and giflib's against both.
bool CheckPixels(const Sample& sample) {
  std::vector<uint8_t> ours;
  sink.keep = &ours;
  FilterSetup* job = new FilterSetup();
  HostContext context = {};
  job->hostContext = &context;
  const FilterError result = DecodeOurs(sample, job);
  delete job;
  sink.keep = nullptr;
  bool same = result == 0 && ours == sample.pixels;
  std::fprintf(stderr, "%s: %zu bytes of image data; DecodeImage pixels %s", sample.name.c_str(),
               DataBytes(sample), same ? "match" : "DIFFER");
#ifdef GIFIMPORT_BENCH_GIFLIB
  const bool giflibSame = SlurpGiflib(sample, true) == ours;
  std::fprintf(stderr, ", giflib's %s", giflibSame ? "match" : "DIFFER");
  same = same && giflibSame;
#endif
  std::fprintf(stderr, "\n");
  return same;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  static std::vector<Sample> samples;
  samples.push_back(MakeSample("photo", PhotoPixels(1), false));
  samples.push_back(MakeSample("noise", NoisePixels(2), false));
  samples.push_back(MakeSample("photo_interlaced", PhotoPixels(3), true));
  for (const Sample& sample : samples) {
    if (sample.gif.size() <= kDataOffset || sample.gif[kImageOffset] != ',') return 2;
    if (!CheckPixels(sample)) return 1;
  }
  for (const Sample& sample : samples) {
    benchmark::RegisterBenchmark(("DecodeImage/" + sample.name).c_str(), BenchOurs, &sample)
        ->Unit(benchmark::kMillisecond);
#ifdef GIFIMPORT_BENCH_GIFLIB
    benchmark::RegisterBenchmark(("DGifSlurp/" + sample.name).c_str(), BenchGiflib, &sample)
        ->Unit(benchmark::kMillisecond);
#endif
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
