// Where the profile is found, and what its mode section gives a setup: all
// through CreateSetup of a module copy in a directory of the test's own,
// with $WINDIR pointed into the same scratch tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/profile/filter_module.h"
#include "tests/support/gif_writer.h"

namespace {

namespace fs = std::filesystem;
using setuptest::FilterModuleCopy;
using setuptest::MakeSetup;
using setuptest::ScopedEnv;
using setuptest::ScratchDir;

// A profile whose mode "M" names `driver`.
std::string ProfileFor(const std::string& driver) {
  return "[ir_gif]\n~Mode=M\n[M]\nDriver=" + driver + "\n";
}

// A directory below `path` whose full path is exactly `length` characters,
// made of nested components of at most 200 characters.
std::string DirectoryOfLength(std::string path, size_t length) {
  while (path.size() < length) {
    size_t part = std::min<size_t>(length - path.size() - 1, 200);
    if (length - path.size() - 1 - part == 1) --part;  // a remainder of one holds no component
    path += "/" + std::string(part, 'd');
  }
  fs::create_directories(path);
  return path;
}

// ---- Location --------------------------------------------------------------

// The module in module/, the Windows directory in windows/, and an empty
// working directory cwd/.
class ProfileLocation : public ::testing::Test {
 protected:
  ProfileLocation() : filter_(dir_.Sub("module")), windir_("WINDIR", dir_.Sub("windows")) {
    fs::current_path(dir_.Sub("cwd"));
  }
  ~ProfileLocation() override { fs::current_path(oldCwd_); }

  fs::path oldCwd_ = fs::current_path();
  ScratchDir dir_;
  FilterModuleCopy filter_;
  ScopedEnv windir_;
};

TEST_F(ProfileLocation, EachPlaceWinsInTurn) {
  const std::string root = dir_.path() + "/";
  const struct {
    const char* what;
    std::string hostName;         // "" for none
    std::vector<std::string> at;  // files written, relative to the scratch tree
    std::string expectPath;       // "" when no profile is found
    std::string expectDriver;
  } cases[] = {
      {"host's full path before the others",
       root + "host/my.INI",
       {"host/my.INI", "module/my.INI", "windows/my.INI"},
       root + "host/my.INI",
       "host"},
      {"bare host name beside the module",
       "my.INI",
       {"module/my.INI", "windows/my.INI"},
       root + "module/my.INI",
       "module"},
      {"bare host name in the Windows directory",
       "my.INI",
       {"windows/my.INI"},
       root + "windows/my.INI",
       "windows"},
      {"bare host name in the working directory, read from there",
       "my.INI",
       {"cwd/my.INI", "windows/my.INI"},
       "my.INI",
       "cwd"},
      {"named after the module, beside it",
       "",
       {"module/gifin.INI", "windows/gifin.INI"},
       root + "module/gifin.INI",
       "module"},
      {"named after the module, in the Windows directory",
       "",
       {"windows/gifin.INI"},
       root + "windows/gifin.INI",
       "windows"},
      {"a host name that opens nowhere",
       "nowhere.INI",
       {"module/gifin.INI", "windows/gifin.INI"},
       "",
       "ir_gif.0"},
      {"nothing anywhere", "", {"module/other.INI"}, "", "ir_gif.0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const std::string& file : c.at)
      dir_.Write(file, ProfileFor(file.substr(0, file.find('/'))));
    auto setup = MakeSetup(filter_, c.hostName.empty() ? nullptr : c.hostName.c_str(), nullptr);
    ASSERT_NE(setup, nullptr);
    EXPECT_EQ(setup->profilePath, c.expectPath);
    EXPECT_EQ(setup->driverName, c.expectDriver);
    EXPECT_STREQ(setup->modeSection, c.expectPath.empty() ? "" : "M");
    for (const std::string& file : c.at) fs::remove(root + file);
  }
}

// Every joined candidate must fit 259 characters; one that would not is
// skipped rather than cut ("/gifin.INI" adds 10 to a directory). The
// profile named after the module replaces everything from the last "." of
// its file name by ".INI", or appends it; a dot in a directory never cuts.
TEST(ProfileLocationLimits, CandidatesThatWouldNotFitAreSkipped) {
  const struct {
    const char* what;
    size_t moduleDirLength, windowsDirLength;
    bool windowsTrailing;      // $WINDIR given with a trailing separator
    bool besideModule;         // a profile beside the module too
    const char* expectDriver;  // "module", "windows" or the default
    const char* moduleFile = "gifin.so";
    const char* profileFile = "gifin.INI";
  } cases[] = {
      {"beside the module at 259", 249, 40, false, true, "module"},
      {"beside the module at 260: skipped", 250, 40, false, true, "windows"},
      {"Windows directory at 259", 100, 249, false, false, "windows"},
      {"Windows directory at 260: not found", 100, 250, false, false, "ir_gif.0"},
      {"Windows directory with separator at 259", 100, 249, true, false, "windows"},
      {"Windows directory of 259 characters", 100, 259, false, false, "ir_gif.0"},
      {"Windows directory of 258 and its separator", 100, 258, true, false, "ir_gif.0"},
      {"module without an extension", 100, 40, false, true, "module", "gifin", "gifin.INI"},
      {"module with two dots", 100, 40, false, true, "module", "gif.in.so", "gif.in.INI"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    const std::string moduleDir = DirectoryOfLength(dir.Sub("m.d"), c.moduleDirLength);
    const std::string windowsDir = DirectoryOfLength(dir.Sub("w"), c.windowsDirLength);
    FilterModuleCopy filter(moduleDir, c.moduleFile);
    ScopedEnv windir("WINDIR", c.windowsTrailing ? windowsDir + "/" : windowsDir);
    // The files exist; only the candidate's length decides.
    if (c.besideModule) std::ofstream(moduleDir + "/" + c.profileFile) << ProfileFor("module");
    std::ofstream(windowsDir + "/" + c.profileFile) << ProfileFor("windows");
    auto setup = MakeSetup(filter, nullptr, nullptr);
    ASSERT_NE(setup, nullptr);
    EXPECT_STREQ(setup->driverName, c.expectDriver);
  }
}

// ---- Mode sections ----------------------------------------------------------

class ModeSection : public setuptest::SharedModuleTest {
 protected:
  // A setup from a profile holding `text`, with mode section "Mode" unless
  // another (or null) is given.
  std::unique_ptr<FilterSetup> FromProfile(const std::string& text, const char* mode = "Mode") {
    return MakeSetup(*filter_, dir_->Write("p.INI", text).c_str(), mode);
  }
};

// The setup's fields as the data file writes them.
std::string Describe(const FilterSetup* setup) {
  if (setup == nullptr) return "no setup\n";
  std::string text = std::string("driver=") + setup->driverName + " mode=" + setup->modeSection +
                     " source=" + setup->colorTableSource +
                     " override=" + std::to_string(setup->overrideColorCount) + "\n";
  for (int i = 0; i < setup->colorCount; ++i) {
    const RgbTriple& c = setup->colors[i];
    text += "color " + std::to_string(c.red) + " " + std::to_string(c.green) + " " +
            std::to_string(c.blue) + " " + setup->colorNames[i] + "\n";
  }
  for (int i = 0; i < setup->fontCount; ++i)
    text += std::string("font ") + setup->fontNames[i] + "|" + setup->fontFaces[i] + "\n";
  return text;
}

// Each case of the data file: its profile through CreateSetup, and the setup.
TEST_F(ModeSection, EachProfileGivesItsSetup) {
  std::ifstream file(MODE_SECTIONS_FILE);
  ASSERT_TRUE(file) << MODE_SECTIONS_FILE;
  std::string line, header, profile, expected, *part = nullptr;
  int cases = 0;
  const auto check = [&] {
    if (header.empty()) return;
    SCOPED_TRACE(header);
    const std::string mode = header.substr(4, header.find('|') - 4);
    auto setup = FromProfile(profile, mode == "~" ? nullptr : mode.c_str());
    EXPECT_EQ(Describe(setup.get()), expected);
    ++cases;
  };
  while (std::getline(file, line)) {
    if (line.rfind("===", 0) == 0) {
      check();
      header = line, profile.clear(), expected.clear(), part = &profile;
    } else if (line == "---") {
      part = &expected;
    } else if (part != nullptr) {
      *part += line + "\n";
    }
  }
  check();
  EXPECT_GE(cases, 18) << "cases read";
}

TEST_F(ModeSection, ListsStopAtWhatTheSetupHolds) {
  std::string text = "[Mode]\nDriver=D\nColorTableSource=PROFILE\n";
  char line[96];
  for (int i = 0; i < 300; ++i) {
    std::snprintf(line, sizeof line, "Color[%03d]=(%d, %d, %d), \"c%d\"\n", i, i, i + 1, i + 2, i);
    text += line;
  }
  for (int i = 1; i <= 40; ++i) {
    std::snprintf(line, sizeof line, "Font[%03d]=\"name%d\", \"face%d\"\n", i, i, i);
    text += line;
  }
  auto setup = FromProfile(text);
  ASSERT_NE(setup, nullptr);
  EXPECT_EQ(setup->colorCount, kMaxProfileColors);
  EXPECT_EQ(setup->overrideColorCount, kMaxProfileColors);
  EXPECT_STREQ(setup->colorNames[255], "c255");
  EXPECT_EQ(setup->fontCount, kMaxProfileFonts);
  EXPECT_STREQ(setup->fontFaces[31], "face32");
  EXPECT_STREQ(setup->startName, "") << "the field after the font list is untouched";
}

// An import on a profile setup: its colours take the place of the GIF's
// first global colours, and the picture's font request gets the face.
TEST_F(ModeSection, ImportsShowTheProfileColoursAndFaces) {
  gifwrite::Image image;
  image.width = 3;
  image.height = 1;
  image.pixels = {0, 1, 2};
  const std::string gif = dir_->path() + "/three.gif";
  ASSERT_TRUE(gifwrite::WriteFile(
      gif, gifwrite::GifBuilder(3, 1, {{0, 0, 0}, {255, 255, 255}, {128, 128, 128}, {0, 0, 255}})
               .AddImage(image)
               .Trailer()
               .bytes()));
  const std::string profile =
      dir_->Write("import.INI",
                  "[Mode]\nDriver=D\nColorTableSource=PROFILE\nColor[000]=(250, 10, 20)\n"
                  "Color[001]=(5, 240, 15)\nFont[001]=\"swiss:helvetica\", \"Arial\"\n");
  HGLOBAL setup = filter_->CreateSetup(nullptr, profile.c_str(), "Mode", 0);
  ASSERT_NE(setup, nullptr);
  HostContext context{};
  ImportRequest request{};
  request.setupHandle = setup;
  request.hostContext = &context;
  StandInForgetPictures();
  EXPECT_EQ(filter_->ImportFile(0, "", "", gif.c_str(), &request), 0);
  EXPECT_EQ(filter_->DestroySetup(setup), 0);

  const standin::Picture* picture = StandInLastPicture();
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->fontTable, std::vector<std::string>{"Arial"});
  std::vector<uint8_t> rgba;
  int width = 0, height = 0;
  ASSERT_EQ(StandInRenderRgba(*picture, &rgba, &width, &height), 0);
  EXPECT_EQ(rgba, (std::vector<uint8_t>{250, 10, 20, 255, 5, 240, 15, 255, 128, 128, 128, 255}));
}

}  // namespace
