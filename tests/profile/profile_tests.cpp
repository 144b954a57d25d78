// Where the profile is found, and what its mode section gives a setup: all
// through CreateSetup of a module copy in a directory of the test's own,
// with $WINDIR pointed into the same scratch tree.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "tests/profile/filter_module.h"
#include "tests/support/gif_writer.h"
#include "tests/support/recording_host.h"

namespace {

namespace fs = std::filesystem;
using setuptest::DirectoryOfLength;
using setuptest::FilterModuleCopy;
using setuptest::ReadSetup;
using setuptest::ScopedEnv;
using setuptest::ScopedWorkingDir;
using setuptest::ScratchDir;

std::string Section(const std::string& name, const std::string& driver) {
  return "[" + name + "]\nDriver=" + driver + "\n";
}

// Makes a setup and gives back its fields (null when none was made); the
// setup is destroyed and nothing may stay live.
std::unique_ptr<FilterSetup> MakeSetup(const FilterModuleCopy& filter, const char* profileName,
                                       const char* modeName) {
  HGLOBAL handle = filter.CreateSetup(nullptr, profileName, modeName, 0);
  std::unique_ptr<FilterSetup> fields;
  if (handle != nullptr) {
    fields = ReadSetup(handle);
    EXPECT_EQ(filter.DestroySetup(handle), 0);
  }
  EXPECT_EQ(testhost::DescribeLive(), "");
  return fields;
}

// ---- Location --------------------------------------------------------------

// A scratch tree with the module in module/, the Windows directory in
// windows/ and an empty working directory cwd/.
class ProfileLocation : public ::testing::Test {
 protected:
  ProfileLocation()
      : moduleDir_(dir_.Sub("module")),
        windowsDir_(dir_.Sub("windows")),
        cwd_(dir_.Sub("cwd")),
        filter_(moduleDir_),
        windir_("WINDIR", windowsDir_),
        inCwd_(cwd_) {}

  ScratchDir dir_;
  std::string moduleDir_, windowsDir_, cwd_;
  FilterModuleCopy filter_;
  ScopedEnv windir_;
  ScopedWorkingDir inCwd_;
};

TEST_F(ProfileLocation, EachPlaceWinsInTurn) {
  const std::string kHostFull = dir_.path() + "/host/my.INI";
  struct Case {
    const char* what;
    std::string hostName;         // "" for none
    std::vector<std::string> at;  // files written, relative to the scratch tree
    std::string expectPath;       // "" when no profile is found
    std::string expectDriver;
  };
  const std::vector<Case> cases = {
      {"host's full path before the others", kHostFull,
       {"host/my.INI", "module/my.INI", "windows/my.INI"}, kHostFull, "host"},
      {"bare host name beside the module", "my.INI", {"module/my.INI", "windows/my.INI"},
       moduleDir_ + "/my.INI", "module"},
      {"bare host name in the Windows directory", "my.INI", {"windows/my.INI"},
       windowsDir_ + "/my.INI", "windows"},
      {"bare host name in the working directory, read from there", "my.INI",
       {"cwd/my.INI", "windows/my.INI"}, "my.INI", "cwd"},
      {"named after the module, beside it", "", {"module/gifin.INI", "windows/gifin.INI"},
       moduleDir_ + "/gifin.INI", "module"},
      {"named after the module, in the Windows directory", "", {"windows/gifin.INI"},
       windowsDir_ + "/gifin.INI", "windows"},
      {"a host name that opens nowhere", "nowhere.INI", {"module/gifin.INI", "windows/gifin.INI"},
       "", "ir_gif.0"},
      {"nothing anywhere", "", {"module/other.INI"}, "", "ir_gif.0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const std::string& file : c.at) {
      const std::string place = file.substr(0, file.find('/'));
      dir_.Write(file, "[ir_gif]\n~Mode=Main\n" + Section("Main", place));
    }
    auto setup = MakeSetup(filter_, c.hostName.empty() ? nullptr : c.hostName.c_str(), nullptr);
    ASSERT_NE(setup, nullptr);
    EXPECT_STREQ(setup->profilePath, c.expectPath.c_str());
    EXPECT_STREQ(setup->driverName, c.expectDriver.c_str());
    EXPECT_STREQ(setup->modeSection, c.expectPath.empty() ? "" : "Main");
    for (const std::string& file : c.at) fs::remove(dir_.path() + "/" + file);
  }
}

TEST_F(ProfileLocation, WindowsDirectoryWithOrWithoutTrailingSeparator) {
  dir_.Write("windows/gifin.INI", "[ir_gif]\n~Mode=M\n" + Section("M", "W"));
  for (const std::string& windir : {windowsDir_, windowsDir_ + "/"}) {
    SCOPED_TRACE(windir);
    ScopedEnv env("WINDIR", windir);
    auto setup = MakeSetup(filter_, nullptr, nullptr);
    ASSERT_NE(setup, nullptr);
    EXPECT_EQ(std::string(setup->profilePath), windowsDir_ + "/gifin.INI");
    EXPECT_STREQ(setup->driverName, "W");
  }
}

// A module file name without an extension gets ".INI" appended; a dot in
// its directory never cuts the path.
TEST(ProfileModuleName, ExtensionOfTheFileNameOnly) {
  ScratchDir dir;
  const std::string moduleDir = dir.Sub("filters.d");
  ScopedEnv windir("WINDIR", dir.Sub("windows"));
  struct Case {
    const char* moduleFile;
    const char* profileFile;
  };
  for (const Case& c : {Case{"gifin.so", "gifin.INI"}, Case{"gifin", "gifin.INI"},
                        Case{"gif.in.so", "gif.in.INI"}}) {
    SCOPED_TRACE(c.moduleFile);
    FilterModuleCopy filter(moduleDir, c.moduleFile);
    const std::string expected = dir.Write(std::string("filters.d/") + c.profileFile,
                                           Section("M", "D") + "[ir_gif]\n~Mode=M\n");
    auto setup = MakeSetup(filter, nullptr, nullptr);
    ASSERT_NE(setup, nullptr);
    EXPECT_EQ(std::string(setup->profilePath), expected);
    fs::remove(expected);
  }
}

// Every joined candidate must fit 259 characters; one that would not is
// skipped rather than cut, and nothing overflows (the sanitizer build
// watches the buffers).
TEST(ProfileLocationLimits, CandidatesThatWouldNotFitAreSkipped) {
  const std::string kProfile = "[ir_gif]\n~Mode=M\n";
  struct Case {
    const char* what;
    size_t moduleDirLength;   // the module is gifin.so inside it
    size_t windowsDirLength;  // $WINDIR, without a trailing separator
    bool windowsTrailing;     // $WINDIR given with a trailing separator
    bool besideModule;        // a profile beside the module too
    const char* expectDriver;  // "module", "windows" or the default
  };
  // "/gifin.INI" adds 10 characters to a directory.
  const std::vector<Case> cases = {
      {"beside the module at 259", 249, 40, false, true, "module"},
      {"beside the module at 260: skipped", 250, 40, false, true, "windows"},
      {"Windows directory at 259", 100, 249, false, false, "windows"},
      {"Windows directory at 260: not found", 100, 250, false, false, "ir_gif.0"},
      {"Windows directory with separator at 259", 100, 249, true, false, "windows"},
      {"Windows directory of 259 characters", 100, 259, false, false, "ir_gif.0"},
      {"Windows directory of 258 and its separator", 100, 258, true, false, "ir_gif.0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    const std::string moduleDir = DirectoryOfLength(dir.Sub("m"), c.moduleDirLength);
    const std::string windowsDir = DirectoryOfLength(dir.Sub("w"), c.windowsDirLength);
    FilterModuleCopy filter(moduleDir);
    ScopedEnv windir("WINDIR", c.windowsTrailing ? windowsDir + "/" : windowsDir);
    // The files exist; only the candidate's length decides.
    if (c.besideModule) {
      dir.Write(moduleDir.substr(dir.path().size() + 1) + "/gifin.INI",
                kProfile + Section("M", "module"));
    }
    dir.Write(windowsDir.substr(dir.path().size() + 1) + "/gifin.INI",
              kProfile + Section("M", "windows"));
    auto setup = MakeSetup(filter, nullptr, nullptr);
    ASSERT_NE(setup, nullptr);
    EXPECT_STREQ(setup->driverName, c.expectDriver);
    EXPECT_LT(std::strlen(setup->profilePath), kTextFieldBytes);
  }
}

TEST(ProfileLocationLimits, LongHostNames) {
  ScratchDir dir;
  FilterModuleCopy filter(dir.Sub("m"));
  const std::string windowsDir = DirectoryOfLength(dir.Sub("w"), 200);
  ScopedEnv windir("WINDIR", windowsDir);
  // Fits beside the short module directory, not in the long Windows one.
  const std::string name(100, 'n');
  dir.Write("m/" + name, "[ir_gif]\n~Mode=M\n" + Section("M", "module"));
  auto setup = MakeSetup(filter, name.c_str(), nullptr);
  ASSERT_NE(setup, nullptr);
  EXPECT_STREQ(setup->driverName, "module");
}

// ---- Mode sections ----------------------------------------------------------

// One module copy for all; every profile is named by its full path.
class ModeSection : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDir;
    filter_ = new FilterModuleCopy(dir_->Sub("module"));
  }
  static void TearDownTestSuite() {
    delete filter_;
    delete dir_;
  }
  void SetUp() override { windir_ = std::make_unique<ScopedEnv>("WINDIR", dir_->Sub("windows")); }

  // A setup from a profile holding `text`, with mode section "Mode" unless
  // another (or null) is given.
  std::unique_ptr<FilterSetup> FromProfile(const std::string& text, const char* mode = "Mode") {
    const std::string path = dir_->Write("p.INI", text);
    return MakeSetup(*filter_, path.c_str(), mode);
  }

  static ScratchDir* dir_;
  static FilterModuleCopy* filter_;
  std::unique_ptr<ScopedEnv> windir_;
};
ScratchDir* ModeSection::dir_ = nullptr;
FilterModuleCopy* ModeSection::filter_ = nullptr;

TEST_F(ModeSection, DriverDecidesWhetherASetupIsMade) {
  struct Case {
    const char* what;
    std::string text;
    const char* mode;
    const char* expectDriver;  // null: no setup
    const char* expectMode;
  };
  const std::string longDriver(300, 'v');
  const std::string cutDriver = longDriver.substr(0, kDriverNameBytes - 1);
  const std::vector<Case> cases = {
      {"driver present", "[Mode]\nDriver=PS\n", "Mode", "PS", "Mode"},
      {"driver empty", "[Mode]\nDriver=\nColorTableSource=X\n", "Mode", nullptr, nullptr},
      {"driver missing", "[Mode]\nColorTableSource=X\n", "Mode", nullptr, nullptr},
      {"section missing", "[Other]\nDriver=PS\n", "Mode", nullptr, nullptr},
      {"mode from ~Mode", "[ir_gif]\n~Mode=Main\n[Main]\nDriver=M\n", nullptr, "M", "Main"},
      {"empty host mode counts as none", "[ir_gif]\n~Mode=Main\n[Main]\nDriver=M\n", "", "M",
       "Main"},
      {"no ~Mode: empty section name", "[ir_gif]\n[Main]\nDriver=M\n", nullptr, nullptr, nullptr},
      {"host mode wins over ~Mode", "[ir_gif]\n~Mode=Main\n[Main]\nDriver=M\n[Alt]\nDriver=A\n",
       "Alt", "A", "Alt"},
      {"host mode without ir_gif section", "[Alt]\nDriver=A\n", "Alt", "A", "Alt"},
      {"driver cut to its field", "[Mode]\nDriver=" + longDriver + "\n", "Mode",
       cutDriver.c_str(), "Mode"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto setup = FromProfile(c.text, c.mode);
    if (c.expectDriver == nullptr) {
      EXPECT_EQ(setup, nullptr);
      continue;
    }
    ASSERT_NE(setup, nullptr);
    EXPECT_STREQ(setup->driverName, c.expectDriver);
    EXPECT_STREQ(setup->modeSection, c.expectMode);
  }
}

TEST_F(ModeSection, OnlyFileKeepsTheGifColours) {
  struct Case {
    const char* line;  // the ColorTableSource line, if any
    const char* expectSource;
    int expectOverride;
  };
  const std::vector<Case> cases = {
      {"ColorTableSource=FILE\n", "FILE", 0},
      {"ColorTableSource=file\n", "file", 0},
      {"ColorTableSource = File\n", "File", 0},
      {"ColorTableSource=FILEFILEFI\n", "FILEFILEF", 2},  // cut to 9, no longer FILE
      {"ColorTableSource=FILE2\n", "FILE2", 2},
      {"ColorTableSource=PROFILE\n", "PROFILE", 2},
      {"ColorTableSource=\n", "", 2},
      {"", "", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    auto setup = FromProfile(std::string("[Mode]\nDriver=D\n") + c.line +
                             "Color[000]=(1, 2, 3)\nColor[001]=(4, 5, 6)\n");
    ASSERT_NE(setup, nullptr);
    EXPECT_STREQ(setup->colorTableSource, c.expectSource);
    EXPECT_EQ(setup->colorCount, 2);
    EXPECT_EQ(setup->overrideColorCount, c.expectOverride);
  }
}

TEST_F(ModeSection, ColourValues) {
  struct Case {
    const char* value;
    int red, green, blue;
    const char* name;
  };
  const std::vector<Case> cases = {
      {"(255, 128, 0), \"Orange\"", 255, 128, 0, "Orange"},
      {"(255, 128, 0),\"Orange\"", 255, 128, 0, ""},  // no blank before the name
      {"(255, 128, 0)", 255, 128, 0, ""},
      {"(255)", 255, 0, 0, ""},
      {"300, 0, 0", 44, 0, 0, ""},
      {"10 20 30", 10, 20, 30, ""},
      {"10,20,30", 10, 20, 30, ""},
      {"(-1, 256, 511)", 255, 0, 255, ""},
      {"(12abc, +7, x9)", 12, 7, 0, ""},
      {"(99999999999, -99999999999, 0)", 255, 0, 0, ""},  // atoi saturates
      {"(1, 2, 3), \"A name longer than sixteen\"", 1, 2, 3, "A name longer th"},
      {"red", 0, 0, 0, ""},
  };
  std::string text = "[Mode]\nDriver=D\nColorTableSource=PROFILE\n";
  for (size_t i = 0; i < cases.size(); ++i) {
    char key[32];
    std::snprintf(key, sizeof key, "Color[%03zu]=", i);
    text += key + std::string(cases[i].value) + "\n";
  }
  auto setup = FromProfile(text);
  ASSERT_NE(setup, nullptr);
  ASSERT_EQ(setup->colorCount, static_cast<int>(cases.size()));
  EXPECT_EQ(setup->overrideColorCount, setup->colorCount);
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].value);
    EXPECT_EQ(setup->colors[i].red, cases[i].red);
    EXPECT_EQ(setup->colors[i].green, cases[i].green);
    EXPECT_EQ(setup->colors[i].blue, cases[i].blue);
    EXPECT_STREQ(setup->colorNames[i], cases[i].name);
  }
}

TEST_F(ModeSection, FontValues) {
  struct Case {
    std::string value;
    std::string name, face;
  };
  const std::string a70(70, 'a'), b70(70, 'b');
  const std::vector<Case> cases = {
      {"\"SWISS:HELVETICA\", \"Arial\"", "SWISS:HELVETICA", "Arial"},
      {"\"\", \"Arial\"", "", "Arial"},
      {"Swiss, Arial", "Swis", ""},
      {"\"Swiss\"", "Swis", ""},
      {"\"" + a70 + "\", \"" + b70 + "\"", a70.substr(0, 64), b70.substr(0, 64)},
  };
  std::string text = "[Mode]\nDriver=D\nFont[000]=\"Never\", \"Read\"\n";
  for (size_t i = 0; i < cases.size(); ++i) {
    text += "Font[" + std::string(i + 1 < 10 ? "00" : "0") + std::to_string(i + 1) +
            "]=" + cases[i].value + "\n";
  }
  auto setup = FromProfile(text);
  ASSERT_NE(setup, nullptr);
  ASSERT_EQ(setup->fontCount, static_cast<int>(cases.size()));
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].value);
    EXPECT_EQ(setup->fontNames[i], cases[i].name);
    EXPECT_EQ(setup->fontFaces[i], cases[i].face);
  }
}

TEST_F(ModeSection, ListsEndAtTheFirstGap) {
  struct Case {
    const char* what;
    const char* keys;
    int colors, fonts;
  };
  const std::vector<Case> cases = {
      {"gap after three",
       "Color[000]=1 1 1\nColor[001]=2 2 2\nColor[002]=3 3 3\nColor[004]=4 4 4\n"
       "Font[001]=\"a\", \"A\"\nFont[002]=\"b\", \"B\"\nFont[004]=\"d\", \"D\"\n",
       3, 2},
      {"first missing", "Color[001]=2 2 2\nFont[000]=\"z\", \"Z\"\nFont[002]=\"b\", \"B\"\n", 0, 0},
      {"empty value ends the list", "Color[000]=1 1 1\nColor[001]=\nColor[002]=3 3 3\n"
       "Font[001]=\"a\", \"A\"\nFont[002]=\nFont[003]=\"c\", \"C\"\n", 1, 1},
      {"keys in any order", "Color[001]=2 2 2\nColor[000]=1 1 1\n", 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto setup = FromProfile(std::string("[Mode]\nDriver=D\n") + c.keys);
    ASSERT_NE(setup, nullptr);
    EXPECT_EQ(setup->colorCount, c.colors);
    EXPECT_EQ(setup->fontCount, c.fonts);
  }
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
  EXPECT_EQ(setup->colors[255].red, 255);
  EXPECT_EQ(setup->colors[255].green, 0);  // 256 keeps its low 8 bits
  EXPECT_STREQ(setup->colorNames[255], "c255");
  EXPECT_EQ(setup->fontCount, kMaxProfileFonts);
  EXPECT_STREQ(setup->fontNames[31], "name32");
  EXPECT_STREQ(setup->fontFaces[31], "face32");
  // The field after the font list is untouched.
  EXPECT_STREQ(setup->startName, "");
}

// ---- Imports on real setups ---------------------------------------------------

// The profile's colours take the place of the GIF's first global colours
// unless the source is FILE, and the picture's font request gets the face.
TEST_F(ModeSection, ImportsShowTheProfileColoursAndFaces) {
  const gifwrite::Color kGray{128, 128, 128};
  gifwrite::GifBuilder gif(3, 1, {{0, 0, 0}, {255, 255, 255}, kGray, {0, 0, 255}});
  gifwrite::Image image;
  image.width = 3;
  image.height = 1;
  image.pixels = {0, 1, 2};
  gif.AddImage(image).Trailer();
  const std::string gifPath = dir_->path() + "/three.gif";
  ASSERT_TRUE(gifwrite::WriteFile(gifPath, gif.bytes()));

  struct Case {
    const char* source;
    standin::Rgb first, second;
    const char* face;
  };
  const standin::Rgb kRed{250, 10, 20}, kGreen{5, 240, 15}, kBlack{0, 0, 0}, kWhite{255, 255, 255};
  for (const Case& c : {Case{"PROFILE", kRed, kGreen, "Arial"}, Case{"FILE", kBlack, kWhite, "Arial"}}) {
    SCOPED_TRACE(c.source);
    const std::string profile = dir_->Write(
        "import.INI", std::string("[Mode]\nDriver=D\nColorTableSource=") + c.source +
                          "\nColor[000]=(250, 10, 20), \"Red\"\nColor[001]=(5, 240, 15)\n"
                          "Font[001]=\"swiss:helvetica\", \"Arial\"\n");
    HGLOBAL setup = filter_->CreateSetup(nullptr, profile.c_str(), "Mode", 0);
    ASSERT_NE(setup, nullptr);
    HostContext context{};
    ImportRequest request{};
    request.setupHandle = setup;
    request.hostContext = &context;
    StandInForgetPictures();
    EXPECT_EQ(filter_->ImportFile(0, "", "", gifPath.c_str(), &request), 0);
    EXPECT_EQ(filter_->DestroySetup(setup), 0);
    EXPECT_EQ(testhost::DescribeLive(), "");

    const standin::Picture* picture = StandInLastPicture();
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->fontTable, std::vector<std::string>{c.face});
    std::vector<uint8_t> rgba;
    int width = 0, height = 0;
    ASSERT_EQ(StandInRenderRgba(*picture, &rgba, &width, &height), 0);
    ASSERT_EQ(width * height, 3);
    const standin::Rgb expected[] = {c.first, c.second, {kGray.r, kGray.g, kGray.b}};
    for (int x = 0; x < 3; ++x) {
      SCOPED_TRACE(x);
      EXPECT_EQ(rgba[x * 4], expected[x].red);
      EXPECT_EQ(rgba[x * 4 + 1], expected[x].green);
      EXPECT_EQ(rgba[x * 4 + 2], expected[x].blue);
    }
  }
}

}  // namespace
