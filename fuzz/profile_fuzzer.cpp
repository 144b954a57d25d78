// CreateSetup on a fuzzed profile file, found each way a profile is found,
// then an import on the setup it made.
//
// Control bytes:
//   0  bits 0-1 the host's profile name: 0 the file's full path, 1 its bare
//      name (found in the Windows directory), 2 none (the module's own name
//      in the Windows directory), 3 a name that opens nowhere; bits 2-4 the
//      host's mode name (kModeNames).
//   1  bits 0-1 fail that allocation (1 = first of CreateSetup).
//   2, 3  not used.
//
// After every input: every text of the setup ends inside its field; the
// counts stay within the lists; the profile colours in force are the ones
// the picture's palette starts with; the import succeeds; nothing live.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gifimport/filter_api.h"
#include "core/filter_setup.h"
#include "fuzz/fuzz_input.h"
#include "tests/e2e/import_host.h"
#include "tests/support/gif_writer.h"

namespace {

const std::string kLong(259, 'M');
const std::string kLonger = kLong + "M";  // one past the field
const char* const kModeNames[8] = {nullptr,         "",      "Mode", "m", "MODE ", kLong.c_str(),
                                   kLonger.c_str(), "ir_gif"};

// The Windows directory of this program, inside the harness's scratch
// directory, and the profile's names there.
struct Places {
  std::string windows, bare, module;
};

const Places& PlacesOnce() {
  static const Places places = [] {
    const std::string scratch = e2e::WriteScratchFile("profile-probe", {});
    Places p;
    p.windows = scratch.substr(0, scratch.rfind('/')) + "/windows";
    mkdir(p.windows.c_str(), 0700);
    setenv("WINDIR", p.windows.c_str(), 1);
    p.bare = "fuzz-profile.ini";
    p.module = "gifin.INI";  // the module's name with its extension replaced
    return p;
  }();
  return places;
}

// A 256-colour global table, an image and a plain text, so that the
// profile's colours and fonts are used.
const e2e::Bytes& ImportedGif() {
  static const e2e::Bytes gif = [] {
    std::vector<gifwrite::Color> colors(256, gifwrite::Color{1, 2, 3});
    gifwrite::Image image;
    image.width = 4;
    image.height = 2;
    image.pixels = {0, 1, 2, 3, 255, 254, 253, 252};
    return gifwrite::GifBuilder(16, 16, colors)
        .AddImage(image)
        .PlainText(0, 0, 16, 16, 8, 8, 1, 0, {"ab"})
        .Trailer()
        .bytes();
  }();
  return gif;
}

bool Ends(const char* field, size_t bytes) { return std::memchr(field, 0, bytes) != nullptr; }

void CheckSetup(const FilterSetup& s, bool found) {
  bool ended = Ends(s.driverName, sizeof s.driverName) &&
               Ends(s.modeSection, sizeof s.modeSection) &&
               Ends(s.profilePath, sizeof s.profilePath) &&
               Ends(s.colorTableSource, sizeof s.colorTableSource);
  for (const auto& name : s.colorNames) ended = ended && Ends(name, sizeof name);
  for (int i = 0; i < kMaxProfileFonts; ++i) {
    ended = ended && Ends(s.fontNames[i], kFontNameBytes) && Ends(s.fontFaces[i], kFontNameBytes);
  }
  if (!ended) fuzzin::Finding("a setup text runs past its field");
  if (s.magic != kSetupMagic) fuzzin::Finding("a setup without its magic");
  if (s.colorCount < 0 || s.colorCount > kMaxProfileColors || s.fontCount < 0 ||
      s.fontCount > kMaxProfileFonts) {
    fuzzin::Finding("counts " + std::to_string(s.colorCount) + " colours, " +
                    std::to_string(s.fontCount) + " fonts");
  }
  if (s.overrideColorCount != 0 && s.overrideColorCount != s.colorCount) {
    fuzzin::Finding("overrideColorCount " + std::to_string(s.overrideColorCount));
  }
  if (!found && (s.colorCount != 0 || s.fontCount != 0 || s.profilePath[0] != 0)) {
    fuzzin::Finding("a profile that opens nowhere was read");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzzin::SplitInput input = fuzzin::Split(data, size);
  const Places& places = PlacesOnce();
  const int naming = input.control[0] & 3;
  const std::string file = places.windows + "/" + (naming == 1 ? places.bare : places.module);
  FILE* out = std::fopen(file.c_str(), "wb");
  if (out == nullptr) fuzzin::Finding("cannot write " + file);
  if (!input.gif.empty())
    std::fwrite(input.gif.data(), 1, input.gif.size(), out);  // data() may be null
  std::fclose(out);

  const std::string names[4] = {file, places.bare, "", "/nowhere/" + places.bare};
  const char* profileName = naming == 2 ? nullptr : names[naming].c_str();
  const char* modeName = kModeNames[(input.control[0] >> 2) & 7];
  fuzzin::ArmFaults(input.control[1] & 3, 0, 0);
  HGLOBAL handle = CreateSetup(nullptr, profileName, modeName, 0);
  fuzzin::DisarmFaults();
  std::remove(file.c_str());  // the harness's own setup must not find it
  if (handle == nullptr) {
    fuzzin::ExpectNothingLive("CreateSetup");
    return 0;
  }

  FilterSetup setup;
  const auto* locked = static_cast<const FilterSetup*>(GlobalLock(handle));
  if (locked == nullptr) fuzzin::Finding("a setup that does not lock");
  std::memcpy(&setup, locked, sizeof setup);
  GlobalUnlock(handle);
  if (DestroySetup(handle) != 0) fuzzin::Finding("DestroySetup refused a setup");
  CheckSetup(setup, naming != 3);

  e2e::ImportOptions options;
  options.road = e2e::Road::kMemory;
  options.adjustSetup = [&setup](FilterSetup* fields) { *fields = setup; };
  const e2e::ImportRun run = e2e::Import(ImportedGif(), options);
  if (!run.live.empty()) fuzzin::Finding("the import left live: " + run.live);
  if (run.result != 0)
    fuzzin::Finding("the import on the setup gave " + std::to_string(run.result));
  if (!run.picture || run.picture->bitmaps.empty()) fuzzin::Finding("the import made no bitmap");
  const std::vector<standin::Rgb>& palette = run.picture->bitmaps[0].palette;
  for (int i = 0; i < setup.overrideColorCount && i < static_cast<int>(palette.size()); ++i) {
    const RgbTriple& c = setup.colors[i];
    if (!(palette[i] == standin::Rgb{c.red, c.green, c.blue})) {
      fuzzin::Finding("palette entry " + std::to_string(i) + " is not the profile's colour");
    }
  }
  return 0;
}
