// CreateSetup on a fuzzed profile, then an import on the setup it made.
// Control bytes:
//   0  bits 0-1 the host's profile name: 0 the file's full path, 1 its bare
//      name (in the Windows directory), 2 none (the module's own name there),
//      3 a name that opens nowhere; bits 2-4 the mode name (kModeNames).
//   1  bits 0-1 fail that allocation (1 = first of CreateSetup).
#include "core/filter_setup.h"
#include "fuzz/fuzz_input.h"
#include "platform/locked_global.h"
#include "tests/support/gif_writer.h"

using namespace gifin;

namespace {

const std::string kLong(259, 'M');
const std::string kLonger = kLong + "M";  // one past the field
const char* const kModeNames[8] = {nullptr,         "",      "Mode", "m", "MODE ", kLong.c_str(),
                                   kLonger.c_str(), "ir_gif"};

// A 256-colour global table, an image and a plain text, so that the
// profile's colours and fonts are used.
const e2e::Bytes& ImportedGif() {
  static const e2e::Bytes gif = [] {
    const gifwrite::Image image{0, 0, 4, 2, false, {}, {0, 1, 2, 3, 255, 254, 253, 252}, {}};
    return gifwrite::GifBuilder(16, 16, std::vector<gifwrite::Color>(256, {1, 2, 3}))
        .AddImage(image)
        .PlainText(0, 0, 16, 16, 8, 8, 1, 0, {"ab"})
        .Trailer()
        .bytes();
  }();
  return gif;
}

void CheckSetup(const FilterSetup& s, bool found) {
  const auto ends = [](const char* field, size_t bytes) { return std::memchr(field, 0, bytes); };
  bool ended = ends(s.driverName, sizeof s.driverName) &&
               ends(s.modeSection, sizeof s.modeSection) &&
               ends(s.profilePath, sizeof s.profilePath) &&
               ends(s.colorTableSource, sizeof s.colorTableSource);
  for (const auto& name : s.colorNames) ended = ended && ends(name, sizeof name);
  for (int i = 0; i < kMaxProfileFonts; ++i)
    ended = ended && ends(s.fontNames[i], kFontNameBytes) && ends(s.fontFaces[i], kFontNameBytes);
  Check(ended && s.magic == kSetupMagic, "a setup text past its field, or no magic");
  Check(s.colorCount >= 0 && s.colorCount <= kMaxProfileColors && s.fontCount >= 0 &&
            s.fontCount <= kMaxProfileFonts &&
            (s.overrideColorCount == 0 || s.overrideColorCount == s.colorCount),
        "counts of colours, fonts, colours in force:", s.colorCount, s.fontCount,
        s.overrideColorCount);
  Check(found || (s.colorCount == 0 && s.fontCount == 0 && s.profilePath[0] == 0),
        "a profile that opens nowhere was read");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Input input(data, size);
  const int naming = input.control[0] & 3;
  const std::string bare = "fuzz-profile.ini";
  // By bare name, or under the module's name with its extension replaced, in
  // the harness's scratch directory, which is made the Windows directory.
  const std::string file = e2e::WriteScratchFile(naming == 1 ? bare : "gifin.INI", input.gif);
  [[maybe_unused]] static const int windows =
      setenv("WINDIR", file.substr(0, file.rfind('/')).c_str(), 1);

  const std::string names[4] = {file, bare, "", "/nowhere/" + bare};
  ArmFaults(input.control[1] & 3, 0, 0);
  HGLOBAL handle = CreateSetup(nullptr, naming == 2 ? nullptr : names[naming].c_str(),
                               kModeNames[(input.control[0] >> 2) & 7], 0);
  DisarmFaults();
  std::remove(file.c_str());  // the harness's own setup must not find it
  if (handle == nullptr) return ExpectNothingLive("CreateSetup"), 0;

  FilterSetup setup;
  {
    LockedGlobal locked(handle);
    Check(static_cast<bool>(locked), "a setup that does not lock");
    std::memcpy(&setup, locked.As<const FilterSetup>(), sizeof setup);
  }
  Check(DestroySetup(handle) == 0, "DestroySetup refused a setup");
  CheckSetup(setup, naming != 3);

  e2e::ImportOptions options;
  options.input = InputKind::kMemory;
  options.adjustSetup = [&setup](FilterSetup* fields) { *fields = setup; };
  const e2e::ImportRun run = e2e::Import(ImportedGif(), options);
  Check(run.live.empty(), "the import left live: " + run.live);
  Check(run.result == 0, "the import on the setup gave", run.result);
  Check(run.picture && !run.picture->bitmaps.empty(), "the import made no bitmap");
  const std::vector<standin::Rgb>& palette = run.picture->bitmaps[0].palette;
  for (int i = 0; i < setup.overrideColorCount && i < static_cast<int>(palette.size()); ++i) {
    const RgbTriple& c = setup.colors[i];
    Check(palette[i] == standin::Rgb{c.red, c.green, c.blue}, "not the profile's colour:", i);
  }
  return 0;
}
