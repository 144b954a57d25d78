// The pixel oracle: every sample GIF, crasher and fuzz seed that is a GIF,
// imported from memory through ImportFile and the stand-in, each bitmap held
// against giflib's decoding of the same bytes wherever both read the file
// whole; and a hash of our pixels per file, kept as golden data so that a
// change in what any of them imports shows even where giflib gives up.
//
//   pixel_oracle GOLDEN ROOT           checks against GOLDEN
//   pixel_oracle GOLDEN ROOT --write   writes GOLDEN anew
//
// GOLDEN holds one line per file: its path under ROOT, ImportFile's result,
// the number of bitmaps and the 64-bit FNV-1a hash of their sizes, depths
// and bands as sent (packed rows of palette indices).
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/import_host.h"
#include "tests/support/giflib_oracle.h"

namespace fs = std::filesystem;

namespace {

// The directories searched, under ROOT; fuzz seeds carry their control
// bytes in front of the GIF.
const char* const kSampleDirectories[] = {"examples", "tests/crashers", "fuzz/seeds/import",
                                          "fuzz/seeds/import_gr", "fuzz/seeds/file_info"};
constexpr size_t kSeedControlBytes = 4;

bool StartsGif(const e2e::Bytes& bytes, size_t at) {
  return bytes.size() >= at + 3 && std::memcmp(bytes.data() + at, "GIF", 3) == 0;
}

struct Outcome {
  int32_t result = 0;
  size_t bitmaps = 0;
  uint64_t hash = 0;
  bool compared = false;  // giflib read it whole too
  std::string differs;    // from giflib; "" when it agrees or cannot say
};

void Mix(uint64_t* hash, const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) *hash = (*hash ^ bytes[i]) * 0x100000001B3ull;
}

void Mix(uint64_t* hash, uint32_t value) {
  const uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                            uint8_t(value >> 24)};
  Mix(hash, bytes, 4);
}

Outcome Check(const e2e::Bytes& gif) {
  e2e::ImportOptions options;
  options.road = e2e::Road::kMemory;
  const e2e::ImportRun run = e2e::Import(gif, options);
  Outcome outcome;
  outcome.result = run.result;
  outcome.hash = 0xCBF29CE484222325ull;
  if (!run.live.empty()) outcome.differs = "left live: " + run.live;
  if (!run.picture) return outcome;
  const std::vector<standin::Bitmap>& bitmaps = run.picture->bitmaps;
  outcome.bitmaps = bitmaps.size();
  for (const standin::Bitmap& bitmap : bitmaps) {
    Mix(&outcome.hash, bitmap.width);
    Mix(&outcome.hash, bitmap.height);
    Mix(&outcome.hash, static_cast<uint32_t>(bitmap.depth));
    for (const standin::Bitmap::Band& band : bitmap.bands) {
      Mix(&outcome.hash, band.rows);
      Mix(&outcome.hash, band.data.data(), band.data.size());
    }
  }
  // Only a file both decoders read whole is compared: each keeps its own
  // tolerances of broken files.
  std::vector<oracle::GifImage> images;
  if (outcome.result != 0 || !oracle::SlurpGiflib(gif.data(), gif.size(), &images)) return outcome;
  outcome.compared = true;
  if (images.size() != bitmaps.size()) {
    outcome.differs = std::to_string(bitmaps.size()) + " bitmaps, giflib " +
                      std::to_string(images.size()) + " images";
    return outcome;
  }
  for (size_t i = 0; i < images.size() && outcome.differs.empty(); ++i) {
    const std::string differs = oracle::CompareBitmap(bitmaps[i], images[i]);
    if (!differs.empty()) outcome.differs = "image " + std::to_string(i + 1) + ": " + differs;
  }
  return outcome;
}

std::string GoldenLine(const std::string& name, const Outcome& o) {
  char text[64];
  std::snprintf(text, sizeof text, " %d %zu %016" PRIx64, static_cast<int>(o.result), o.bitmaps,
                o.hash);
  return name + text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: pixel_oracle GOLDEN ROOT [--write]\n");
    return 2;
  }
  const std::string goldenPath = argv[1];
  const fs::path root = argv[2];
  const bool write = argc > 3 && std::strcmp(argv[3], "--write") == 0;

  std::map<std::string, std::string> golden;
  std::ifstream in(goldenPath);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != '#') golden[line.substr(0, line.find(' '))] = line;
  }

  std::vector<std::string> names;
  for (const char* directory : kSampleDirectories) {
    if (!fs::is_directory(root / directory)) continue;
    for (const auto& entry : fs::directory_iterator(root / directory)) {
      if (entry.is_regular_file())
        names.push_back(fs::relative(entry.path(), root).generic_string());
    }
  }
  std::sort(names.begin(), names.end());

  std::ostringstream written;
  written << "# pixel_oracle: file, ImportFile result, bitmaps, FNV-1a of their pixels\n";
  int failed = 0;
  size_t checked = 0, compared = 0;
  for (const std::string& name : names) {
    e2e::Bytes bytes = e2e::ReadWholeFile((root / name).string());
    const bool seed = name.rfind("fuzz/", 0) == 0;
    if (seed && StartsGif(bytes, kSeedControlBytes)) {
      bytes.erase(bytes.begin(), bytes.begin() + kSeedControlBytes);
    } else if (!StartsGif(bytes, 0)) {
      continue;
    }
    ++checked;
    const Outcome outcome = Check(bytes);
    compared += outcome.compared ? 1 : 0;
    const std::string line = GoldenLine(name, outcome);
    written << line << "\n";
    if (!outcome.differs.empty()) {
      std::printf("%s: differs from giflib: %s\n", name.c_str(), outcome.differs.c_str());
      ++failed;
    }
    if (!write && golden[name] != line) {
      std::printf("%s: golden \"%s\", now \"%s\"\n", name.c_str(), golden[name].c_str(),
                  line.c_str());
      ++failed;
    }
  }
  if (write) std::ofstream(goldenPath) << written.str();
  std::printf("%zu files checked, %zu of them against giflib, %d failures\n", checked, compared,
              failed);
  return failed == 0 && checked != 0 ? 0 : 1;
}
