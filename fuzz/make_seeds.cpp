// Writes the seed corpus of the fuzz entry points: the sample GIFs and small
// GIFs from the test-support writer that each reach one corner of the
// format, behind control bytes that switch every fault off.
//
//   make_fuzz_seeds EXAMPLES_DIR SEEDS_DIR
//
// SEEDS_DIR/import/, file_info/ and import_gr/ get one file per GIF (the
// import also a few with faults armed). The output is the same on every
// run.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/gif_writer.h"

namespace {

namespace fs = std::filesystem;
using gifwrite::Bytes;
using gifwrite::Color;
using gifwrite::GifBuilder;
using gifwrite::Image;

std::vector<Color> Ramp(int count) {
  std::vector<Color> colors;
  for (int i = 0; i < count; ++i) {
    const int level = count > 1 ? i * 255 / (count - 1) : 0;
    colors.push_back({static_cast<uint8_t>(level), static_cast<uint8_t>(255 - level),
                      static_cast<uint8_t>(level / 2)});
  }
  return colors;
}

Image Pattern(uint16_t width, uint16_t height, int colors, uint16_t left = 0, uint16_t top = 0) {
  Image image;
  image.left = left;
  image.top = top;
  image.width = width;
  image.height = height;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      image.pixels.push_back(static_cast<uint8_t>((x + 3 * y) % colors));
  return image;
}

// Pixels a decoder cannot predict, so the table fills and keeps going.
Image Noise(uint16_t width, uint16_t height) {
  Image image = Pattern(width, height, 256);
  uint32_t state = 0x2545F491u;
  for (uint8_t& pixel : image.pixels) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    pixel = static_cast<uint8_t>(state);
  }
  return image;
}

struct Seed {
  std::string name;
  Bytes gif;
};

std::vector<Seed> WriterSeeds() {
  std::vector<Seed> seeds;
  seeds.push_back({"one-pixel-87a",
                   GifBuilder(1, 1, Ramp(2), "87a").AddImage(Pattern(1, 1, 2)).Trailer().bytes()});
  Image interlaced = Pattern(7, 9, 4);
  interlaced.interlaced = true;
  seeds.push_back(
      {"interlaced-9-rows", GifBuilder(7, 9, Ramp(4)).AddImage(interlaced).Trailer().bytes()});

  Image local2 = Pattern(13, 3, 2, 1, 1);
  local2.localColors = Ramp(2);
  Image local8 = Pattern(5, 4, 8, 2, 2);
  local8.localColors = Ramp(8);
  seeds.push_back({"local-tables", GifBuilder(20, 10, Ramp(32))
                                       .GraphicControl(true, 1, 10)
                                       .AddImage(local2)
                                       .GraphicControl(false, 0)
                                       .AddImage(local8)
                                       .AddImage(Pattern(3, 3, 32))
                                       .Trailer()
                                       .bytes()});
  seeds.push_back({"plain-text", GifBuilder(64, 48, Ramp(4))
                                     .PlainText(2, 4, 60, 36, 6, 12, 1, 2,
                                                {"word word word word",
                                                 "\x0a"
                                                 "ab cd\xe9 ef 12"})
                                     .PlainText(0, 0, 8, 8, 8, 0, 3, 0, {"cell height zero"})
                                     .Trailer()
                                     .bytes()});
  seeds.push_back({"comment-application", GifBuilder(4, 4, Ramp(2))
                                              .Comment("a comment")
                                              .Application("NETSCAPE2.0", {1, 0, 0})
                                              .AddImage(Pattern(4, 4, 2))
                                              .Raw({0x00, 0x42, 0x13})  // bytes between blocks
                                              .Trailer()
                                              .bytes()});
  seeds.push_back({"zero-screen-size", GifBuilder(0, 0, Ramp(4))
                                           .Comment("before the image")
                                           .AddImage(Pattern(6, 5, 4))
                                           .Trailer()
                                           .bytes()});
  Image full = Noise(72, 72);
  full.lzw.clearWhenFull = false;
  seeds.push_back(
      {"table-full-no-clear", GifBuilder(72, 72, Ramp(256)).AddImage(full).Trailer().bytes()});
  Image cleared = Pattern(16, 16, 16);
  cleared.lzw.clearEvery = 7;
  cleared.lzw.subBlockSize = 1;
  seeds.push_back({"clears-and-tiny-sub-blocks",
                   GifBuilder(16, 16, Ramp(16)).AddImage(cleared).Trailer().bytes()});
  Image bare = Pattern(9, 2, 4);
  bare.lzw.initialClear = false;
  bare.lzw.endCode = false;
  seeds.push_back({"no-clear-no-end-no-trailer", GifBuilder(9, 2, Ramp(4)).AddImage(bare).bytes()});
  seeds.push_back({"no-global-table", GifBuilder(3, 3, {}, "89a")
                                          .SetHeaderSizeField(7)
                                          .AddImage(Pattern(3, 3, 2))
                                          .Trailer()
                                          .bytes()});
  Image wide = Pattern(9000, 1, 2);
  seeds.push_back(
      {"row-past-one-band", GifBuilder(9000, 1, Ramp(256)).AddImage(wide).Trailer().bytes()});
  return seeds;
}

bool Write(const fs::path& path, const uint8_t (&control)[4], const Bytes& gif) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(control), sizeof control);
  out.write(reinterpret_cast<const char*>(gif.data()), static_cast<std::streamsize>(gif.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_fuzz_seeds EXAMPLES_DIR SEEDS_DIR\n");
    return 2;
  }
  std::vector<Seed> seeds;
  std::vector<fs::path> samples;
  for (const fs::directory_entry& entry : fs::directory_iterator(argv[1]))
    if (entry.path().extension() == ".gif") samples.push_back(entry.path());
  std::sort(samples.begin(), samples.end());
  for (const fs::path& sample : samples) {
    std::ifstream in(sample, std::ios::binary);
    seeds.push_back({"sample-" + sample.stem().string(),
                     Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())});
  }
  for (Seed& seed : WriterSeeds()) seeds.push_back(std::move(seed));

  const fs::path importDir = fs::path(argv[2]) / "import";
  const fs::path infoDir = fs::path(argv[2]) / "file_info";
  const fs::path metafileDir = fs::path(argv[2]) / "import_gr";
  for (const fs::path& dir : {importDir, infoDir, metafileDir}) fs::create_directories(dir);
  // Import: a recording host, no fault. File info: a whole 60-byte record.
  // Metafile entry: no options block of the host's.
  const uint8_t kImportPlain[4] = {0x01, 0, 0, 0};
  const uint8_t kInfoWhole[4] = {64, 0, 0, 0};
  const uint8_t kNoHostBlock[4] = {0, 0, 0, 0};
  bool ok = true;
  for (const Seed& seed : seeds) {
    ok = Write(importDir / (seed.name + ".in"), kImportPlain, seed.gif) && ok;
    ok = Write(infoDir / (seed.name + ".in"), kInfoWhole, seed.gif) && ok;
    ok = Write(metafileDir / (seed.name + ".in"), kNoHostBlock, seed.gif) && ok;
  }
  // A few imports with the host's side armed: a stop at the second progress
  // call, the third allocation failing over a host stream, a pending
  // library error after the first band.
  Bytes interlaced = GifBuilder(7, 9, Ramp(4)).AddImage(Pattern(7, 9, 4)).Trailer().bytes();
  for (const Seed& seed : seeds)
    if (seed.name == "interlaced-9-rows") interlaced = seed.gif;
  const uint8_t kStop[4] = {0x01 | 2 << 1, 0, 0, 0};
  const uint8_t kAllocationOverStream[4] = {0x01, 3 | 2 << 5, 0, 0};
  const uint8_t kBandError[4] = {0x01, 0, 0, 0 | 0 << 3 | 4 << 5};
  ok = Write(importDir / "armed-stop.in", kStop, interlaced) && ok;
  ok = Write(importDir / "armed-allocation-stream.in", kAllocationOverStream, interlaced) && ok;
  ok = Write(importDir / "armed-band-error.in", kBandError, interlaced) && ok;
  // The other roads of the metafile entries and of GetFileInfo: ImportCB
  // through a host stream, ImportEmbeddedGR by path and by the block's
  // stream function; GetFileInfo by path and by stream.
  const uint8_t kFileRoad[4] = {0x01, 1 << 5, 0, 0};
  ok = Write(importDir / "file-road.in", kFileRoad, interlaced) && ok;
  const uint8_t kCBStream[4] = {0x01 | 1 << 2, 0, 0, 0};
  const uint8_t kEmbeddedPath[4] = {0x01 | 2 << 2 | 0x10, 0, 0, 0};
  const uint8_t kEmbeddedBlockStream[4] = {0x01 | 2 << 2 | 0x20, 0, 0, 0};
  const uint8_t kInfoPath[4] = {64, 1 << 2, 0, 0};
  const uint8_t kInfoStream[4] = {64, 2 << 2, 0, 0};
  ok = Write(metafileDir / "cb-stream.in", kCBStream, interlaced) && ok;
  ok = Write(metafileDir / "embedded-path.in", kEmbeddedPath, interlaced) && ok;
  ok = Write(metafileDir / "embedded-block-stream.in", kEmbeddedBlockStream, interlaced) && ok;
  ok = Write(infoDir / "path.in", kInfoPath, interlaced) && ok;
  ok = Write(infoDir / "stream.in", kInfoStream, interlaced) && ok;

  // Profiles: every key the setup reads, in canonical and looser forms,
  // named by full path, bare name and the module's own name.
  const std::string kProfile =
      "[ir_gif]\r\n~Mode=Gray\r\n\r\n[Gray]\r\nDriver=gray.drv\r\nColorTableSource=PROFILE\r\n"
      "Color[000]=(255, 128, 0), \"orange\"\r\nColor[001]=300 0 0\r\nColor[002]=(1,2,3),\"x\"\r\n"
      "Color[003]=(7)\r\nFont[001]=\"Swiss\", \"Helvetica\"\r\nFont[002]=a,b\r\n"
      "Font[003]=\"\", \"Face\"\r\n; a "
      "comment\r\n[Mode]\r\nDriver='q'\r\nColorTableSource=file\r\n";
  const fs::path profileDir = fs::path(argv[2]) / "profile";
  fs::create_directories(profileDir);
  const Bytes profile(kProfile.begin(), kProfile.end());
  const uint8_t kByPath[4] = {0, 0, 0, 0}, kBare[4] = {1, 0, 0, 0}, kModule[4] = {2, 0, 0, 0},
                kModeGiven[4] = {0 | 2 << 2, 0, 0, 0};
  ok = Write(profileDir / "by-path.in", kByPath, profile) && ok;
  ok = Write(profileDir / "bare-name.in", kBare, profile) && ok;
  ok = Write(profileDir / "module-name.in", kModule, profile) && ok;
  ok = Write(profileDir / "mode-given.in", kModeGiven, profile) && ok;

  // Call sequences, 4 bytes a step [what][slot][a][b] (setup_calls_fuzzer):
  // each kind of handle made, escaped on, destroyed and freed, and an import
  // whose callback comes back into the filter.
  const fs::path callsDir = fs::path(argv[2]) / "setup_calls";
  fs::create_directories(callsDir);
  const Bytes kMixUp = {0, 0, 0, 0, 1, 1, 0, 0,  2, 2, 7, 1, 5, 0, 0, 0x80, 5, 1, 0, 0x80,
                        5, 1, 2, 1, 5, 1, 2, 12, 5, 0, 1, 0, 5, 2, 1, 0,    5, 0, 5, 9,
                        3, 1, 0, 0, 3, 2, 0, 0,  4, 2, 0, 0, 5, 2, 0, 0,    3, 2, 0, 0,
                        3, 0, 0, 0, 3, 0, 0, 0,  5, 0, 0, 0, 7, 3, 5, 0,    3, 3, 0, 0};
  const Bytes kReentry = {0, 0, 0, 0, 0, 1, 0, 0, 1, 2, 0, 0, 5, 0, 0, 0x80,
                          6, 0, 5, 0, 3, 0, 0, 0, 5, 0, 1, 0, 6, 0, 0, 0,
                          6, 1, 1, 0, 5, 0, 2, 0, 4, 2, 0, 0, 3, 0, 0, 0};
  const uint8_t kNoControl[4] = {0, 0, 0, 0};
  ok = Write(callsDir / "mix-up.in", kNoControl, kMixUp) && ok;
  ok = Write(callsDir / "reentry.in", kNoControl, kReentry) && ok;
  std::printf("%zu seeds written to %s\n", seeds.size(), argv[2]);
  return ok ? 0 : 1;
}
