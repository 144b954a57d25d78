// The setup and its profile through the exports of a copy of the built module
// in a scratch directory of the test's own (so that "beside the module" is a
// place the test controls), with $WINDIR pointed into the same tree: where
// the profile is found, what its mode section gives a setup, CreateSetup's
// refusals and defaults, DestroySetup and EscapeSetup. The copy shares the
// stand-ins of the test program, so live counts and faults cover it too.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "core/filter_setup.h"
#include "core/status.h"
#include "host/filter_module.h"
#include "platform/locked_global.h"
#include "platform/platform_test.h"
#include "tests/support/recording_host.h"

namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

// A fresh directory, removed with everything in it; its real path, as
// module paths are.
struct ScratchDir {
  ScratchDir() {
    std::string pattern = (fs::temp_directory_path() / "gifin-profile-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path = fs::canonical(pattern).string();
  }
  ~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  // A subdirectory, made with its parents; its full path.
  std::string Sub(const std::string& relative) const {
    fs::create_directories(path + "/" + relative);
    return path + "/" + relative;
  }
  // Writes `text` to the file `relative` (parents made); its full path.
  std::string Write(const std::string& relative, const std::string& text) const {
    const fs::path full = fs::path(path) / relative;
    fs::create_directories(full.parent_path());
    std::ofstream(full, std::ios::binary) << text;
    return full.string();
  }
  std::string path;
};

// The filter module copied to `directory`/`fileName` and loaded from there.
struct FilterModuleCopy {
  explicit FilterModuleCopy(const std::string& directory,
                            const std::string& fileName = "gifin.so") {
    const std::string path = directory + "/" + fileName;
    fs::create_directories(directory);
    fs::copy_file(GIFIN_MODULE_FILE, path, fs::copy_options::overwrite_existing);
    std::string error;
    if (!module.Load(path, &error)) throw std::runtime_error(error);
    CreateSetup = module.Resolve<decltype(CreateSetup)>("CreateSetup");
    DestroySetup = module.Resolve<decltype(DestroySetup)>("DestroySetup");
    EscapeSetup = module.Resolve<decltype(EscapeSetup)>("EscapeSetup");
    if (!CreateSetup || !DestroySetup || !EscapeSetup) throw std::runtime_error("missing export");
  }
  host::FilterModule module;
  decltype(&::CreateSetup) CreateSetup = nullptr;
  decltype(&::DestroySetup) DestroySetup = nullptr;
  decltype(&::EscapeSetup) EscapeSetup = nullptr;
};

// The fields of a setup, copied out while the block is locked.
std::unique_ptr<FilterSetup> ReadSetup(HGLOBAL handle) {
  LockedGlobal locked(handle);
  if (!locked) return nullptr;
  return std::make_unique<FilterSetup>(*locked.As<const FilterSetup>());
}

// Makes a setup and gives back its fields (null when none was made); the
// setup is destroyed again and nothing may stay live.
std::unique_ptr<FilterSetup> MakeSetup(const FilterModuleCopy& filter, const char* profile,
                                       const char* mode) {
  HGLOBAL handle = filter.CreateSetup(nullptr, profile, mode, 0);
  std::unique_ptr<FilterSetup> fields;
  if (handle != nullptr) {
    fields = ReadSetup(handle);
    EXPECT_EQ(filter.DestroySetup(handle), 0);
  }
  EXPECT_EQ(testhost::DescribeLive(), "");
  return fields;
}

// One module copy a suite in module/, $WINDIR at windows/ of the same
// scratch tree, where no profile is; nothing may stay live after a test.
class SetupTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDir;
    filter_ = new FilterModuleCopy(dir_->Sub("module"));
  }
  static void TearDownTestSuite() {
    delete filter_;
    delete dir_;
  }
  void SetUp() override {
    setenv("WINDIR", dir_->Sub("windows").c_str(), 1);
    StandInResetFaults();
    StandInClearLog();
  }
  void TearDown() override {
    StandInResetFaults();
    PlatformFailAllocationAt(0);
    PlatformFailPathQueries(0);
    EXPECT_EQ(testhost::DescribeLive(), "");
  }
  // A setup from a profile holding `text`, with mode section `mode`.
  std::unique_ptr<FilterSetup> FromProfile(const std::string& text, const char* mode = "Mode") {
    return MakeSetup(*filter_, dir_->Write("p.INI", text).c_str(), mode);
  }

  static inline ScratchDir* dir_ = nullptr;
  static inline FilterModuleCopy* filter_ = nullptr;
};

// A profile whose mode "M" names `driver`.
std::string ProfileFor(const std::string& driver) {
  return "[ir_gif]\n~Mode=M\n[M]\nDriver=" + driver + "\n";
}

// ---- Location --------------------------------------------------------------

// Each line of the data file: its files are written, a setup is made with
// the host's profile name, and the files are removed again.
TEST_F(SetupTest, EachPlaceWinsInTurn) {
  const fs::path oldCwd = fs::current_path();
  fs::current_path(dir_->Sub("cwd"));
  std::ifstream table(PROFILE_PLACES_FILE);
  ASSERT_TRUE(table) << PROFILE_PLACES_FILE;
  int rows = 0;
  for (std::string line; std::getline(table, line);) {
    if (line.empty() || line[0] == '#') continue;
    SCOPED_TRACE(line);
    Texts fields;  // failing, host name, files, path, driver
    std::istringstream in(line + "|");
    for (std::string field; std::getline(in, field, '|');) {
      field.erase(0, field.find_first_not_of(' '));
      field.erase(field.find_last_not_of(' ') + 1);
      for (size_t at; (at = field.find('@')) != std::string::npos;)
        field.replace(at, 1, dir_->path + "/");
      fields.push_back(field);
    }
    ASSERT_EQ(fields.size(), 5u);
    Texts files;
    std::istringstream names(fields[2]);
    for (std::string file; names >> file; files.push_back(file))
      dir_->Write(file, ProfileFor(file.substr(0, file.find('/'))));
    PlatformFailPathQueries(std::stoi(fields[0]));
    auto setup = MakeSetup(*filter_, fields[1].empty() ? nullptr : fields[1].c_str(), nullptr);
    PlatformFailPathQueries(0);
    ASSERT_NE(setup, nullptr);
    EXPECT_EQ((Texts{setup->profilePath, setup->driverName, setup->modeSection}),
              (Texts{fields[3], fields[4], fields[3].empty() ? "" : "M"}));
    for (const std::string& file : files) fs::remove(dir_->path + "/" + file);
    ++rows;
  }
  EXPECT_GE(rows, 13) << "rows read";
  fs::current_path(oldCwd);
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

// Every joined candidate must fit 259 characters; one that would not is
// skipped rather than cut ("/gifin.INI" adds 10 to a directory). The
// profile named after the module replaces everything from the last "." of
// its file name by ".INI", or appends it; a dot in a directory never cuts.
TEST(ProfileLocationLimits, CandidatesThatWouldNotFitAreSkipped) {
  const struct {
    size_t moduleDirLength, windowsDirLength;
    bool windowsTrailing;      // $WINDIR given with a trailing separator
    bool besideModule;         // a profile beside the module too
    const char* expectDriver;  // "module", "windows" or the default
    const char* moduleFile = "gifin.so";
    const char* profileFile = "gifin.INI";
  } cases[] = {
      {249, 40, false, true, "module"},
      {250, 40, false, true, "windows"},
      {100, 249, false, false, "windows"},
      {100, 250, false, false, "ir_gif.0"},
      {100, 249, true, false, "windows"},
      {100, 259, false, false, "ir_gif.0"},
      {100, 258, true, false, "ir_gif.0"},
      {100, 40, false, true, "module", "gifin", "gifin.INI"},
      {100, 40, false, true, "module", "gif.in.so", "gif.in.INI"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    ScratchDir dir;
    const std::string moduleDir = DirectoryOfLength(dir.Sub("m.d"), c.moduleDirLength);
    const std::string windowsDir = DirectoryOfLength(dir.Sub("w"), c.windowsDirLength);
    FilterModuleCopy filter(moduleDir, c.moduleFile);
    setenv("WINDIR", (c.windowsTrailing ? windowsDir + "/" : windowsDir).c_str(), 1);
    // The files exist; only the candidate's length decides.
    if (c.besideModule) std::ofstream(moduleDir + "/" + c.profileFile) << ProfileFor("module");
    std::ofstream(windowsDir + "/" + c.profileFile) << ProfileFor("windows");
    auto setup = MakeSetup(filter, nullptr, nullptr);
    ASSERT_NE(setup, nullptr);
    EXPECT_STREQ(setup->driverName, c.expectDriver);
  }
}

// ---- Mode sections ----------------------------------------------------------

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
TEST_F(SetupTest, EachProfileGivesItsSetup) {
  std::ifstream file(MODE_SECTIONS_FILE);
  ASSERT_TRUE(file) << MODE_SECTIONS_FILE;
  std::string line, header, profile, expected, *part = nullptr;
  int cases = 0;
  const auto check = [&] {
    if (header.empty()) return;
    SCOPED_TRACE(header);
    const std::string mode = header.substr(4, header.find('|') - 4);
    EXPECT_EQ(Describe(FromProfile(profile, mode == "~" ? nullptr : mode.c_str()).get()), expected);
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

TEST_F(SetupTest, ListsStopAtWhatTheSetupHolds) {
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

// ---- Setup lifecycle ---------------------------------------------------------

// An old library, or no memory, gives no setup and leaves nothing behind.
TEST_F(SetupTest, RefusedWithoutLeftovers) {
  const std::pair<int32_t, bool> versions[] = {
      {0x02000006, true}, {0x02010000, true}, {0x02000005, false}, {INT32_MIN + 6, false}};
  for (const auto& [version, made] : versions) {
    SCOPED_TRACE(version);
    StandInSetVersion(version);
    const long allocations = PlatformAllocationCount();
    EXPECT_EQ(MakeSetup(*filter_, nullptr, nullptr) != nullptr, made);
    EXPECT_EQ(PlatformAllocationCount() > allocations, made) << "a refusal allocates nothing";
  }
  StandInResetFaults();
  PlatformFailAllocationAt(1);
  EXPECT_EQ(MakeSetup(*filter_, nullptr, nullptr), nullptr);
}

// Host names must fit their 260-byte fields: one of 260 characters or more
// is refused rather than cut. Without a profile a setup takes the defaults,
// and a host mode is not used.
TEST_F(SetupTest, HostNamesAndDefaults) {
  const std::string mode259(259, 'm'), mode260(260, 'm'), name259(259, 'p'), name260(260, 'p');
  const std::string profile = dir_->Write("long.INI", "[" + mode259 + "]\nDriver=Long\n");
  const Texts defaults = {"ir_gif.0", "FILE", "", ""};
  const struct {
    const char *profile, *mode;
    Texts fields;  // driver, source, mode, profile; none: refused
  } cases[] = {
      {nullptr, nullptr, defaults},
      {nullptr, "Some Mode", defaults},
      {profile.c_str(), mode259.c_str(), {"Long", "", mode259, profile}},
      {profile.c_str(), mode260.c_str(), {}},
      {name259.c_str(), nullptr, defaults},
      {name260.c_str(), nullptr, {}},
      {name259.c_str(), mode260.c_str(), defaults},  // the mode is not looked at
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    auto setup = MakeSetup(*filter_, c.profile, c.mode);
    ASSERT_EQ(setup != nullptr, !c.fields.empty());
    if (!setup) continue;
    EXPECT_EQ(setup->magic, kSetupMagic);
    EXPECT_EQ(
        (Texts{setup->driverName, setup->colorTableSource, setup->modeSection, setup->profilePath}),
        c.fields);
    EXPECT_EQ(
        (std::vector<int32_t>{setup->colorCount, setup->overrideColorCount, setup->fontCount}),
        (std::vector<int32_t>{0, 0, 0}));
    const auto* persistent = reinterpret_cast<const uint8_t*>(&setup->persistentOptions);
    EXPECT_EQ(std::vector<uint8_t>(persistent, persistent + kPersistentOptionsBytes),
              std::vector<uint8_t>(kPersistentOptionsBytes));
  }
}

// Stands for a host stream function; only its value is ever used. Every
// byte is set, so a value cut to 32 bits on a 64-bit build shows.
void* const kStreamValue = reinterpret_cast<void*>(~uintptr_t{0} / 3);
uint32_t secondWord = 0xCAFEBABEu;
constexpr auto kPersistentBytes = static_cast<int32_t>(kPersistentOptionsBytes);

// On a setup and on an options block whose persistent bytes hold a pattern:
// 0x51 takes the value itself, 0x52 reads four bytes from the pointer, each
// only with size 4 and changing only its own word (the rows that change
// nothing come first, while the pattern is whole). Other codes reach the
// library as given (a setup is no options block to it), their result comes
// back and what they stored stays. Sizes no option has are refused.
TEST_F(SetupTest, EscapeChangesOnlyItsOwnWordAndPassesOtherCodesOn) {
  for (bool isSetup : {true, false}) {
    SCOPED_TRACE(isSetup ? "setup" : "options block");
    std::vector<uint8_t> pattern;
    for (int i = 0; i < kPersistentBytes; ++i) pattern.push_back(static_cast<uint8_t>(0xA0 + i));
    HGLOBAL handle = nullptr;
    if (isSetup) {
      handle = filter_->CreateSetup(nullptr, nullptr, nullptr, 0);
      LockedGlobal setup(handle);
      std::memcpy(&setup.As<FilterSetup>()->persistentOptions, pattern.data(), pattern.size());
    } else {
      handle = QvOptionsCreate(0, 0, 0, 0);
      QvOptionsControl(handle, kOptionStorePersistent, kPersistentBytes, pattern.data(), nullptr,
                       0);
    }
    uint8_t flag = 0xFF;
    std::vector<uint8_t> other(kPersistentOptionsBytes, 0x11);
    const struct {
      int32_t code, size;
      void* data;
      int32_t setupResult, blockResult;
      size_t at, bytes;  // the word that changes, to the value at `data` (0: none)
    } cases[] = {
        {0x51, 8, kStreamValue, 0, 0, 0, 0},
        {0x52, 8, &secondWord, 0, 0, 0, 0},
        {0x52, 2, &secondWord, 0, 0, 0, 0},
        {0x52, 4, nullptr, 0, 0, 0, 0},
        {0x51, 4, kStreamValue, 0, 0, 0, sizeof(void*)},
        {0x52, 4, &secondWord, 0, 0, offsetof(PersistentOptions, secondOption), 4},
        {kOptionSet28, 1, &flag, kQvOptionsBadBlock, 0, 0, 0},
        {0x99, 4, &flag, kQvOptionsBadBlock, kQvOptionsUnknownCode, 0, 0},
        {kOptionSet28, 2, &flag, kQvOptionsBadBlock, kQvOptionsBadSize, 0, 0},
        {0x52, -1, &secondWord, kSetupBadSize, kSetupBadSize, 0, 0},
        {kOptionSet28, 0x7FFFFFFF, &flag, kSetupBadSize, kSetupBadSize, 0, 0},
        // Passed on, its write stays (the setup is no options block to the library).
        {kOptionStorePersistent, kPersistentBytes, other.data(), kQvOptionsBadBlock, 0, 0,
         kPersistentOptionsBytes},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(&c - cases);
      EXPECT_EQ(filter_->EscapeSetup(handle, c.code, c.size, c.data, nullptr, 0),
                isSetup ? c.setupResult : c.blockResult);
      const void* value = c.code == 0x51 ? static_cast<const void*>(&c.data) : c.data;
      const bool ownCode = c.code == 0x51 || c.code == 0x52;
      if (c.bytes && (ownCode || !isSetup)) std::memcpy(pattern.data() + c.at, value, c.bytes);
      std::vector<uint8_t> persistent(kPersistentOptionsBytes);
      if (isSetup) {
        std::memcpy(persistent.data(), &ReadSetup(handle)->persistentOptions, persistent.size());
      } else {
        QvOptionsControl(handle, kOptionFetchPersistent, kPersistentBytes, nullptr,
                         persistent.data(), 0);
      }
      EXPECT_EQ(persistent, pattern);
    }
    uint8_t fetched = 0;
    QvOptionsControl(handle, kOptionSet28, 1, nullptr, &fetched, 0);
    EXPECT_EQ(fetched, isSetup ? 0 : 0xFF) << "option 0x28 reached the block";
    GlobalFree(handle);
  }
}

// Only a live setup is freed or escaped into; an options block (to Destroy),
// a small block with the setup's first word, a freed handle or none are
// refused and left alone (the sanitizer build catches a write past the
// small block's end).
TEST_F(SetupTest, OnlyALiveSetupIsDestroyedOrEscapedInto) {
  HGLOBAL setup = filter_->CreateSetup(nullptr, nullptr, nullptr, 0);
  ASSERT_NE(setup, nullptr);
  EXPECT_EQ(filter_->DestroySetup(setup), 0);
  EXPECT_EQ(PlatformLiveGlobalBlocks(), 0);
  HGLOBAL options = QvOptionsCreate(0, 0, 0, 0);
  HGLOBAL lookalike = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 8);
  *LockedGlobal(lookalike).As<uint32_t>() = kSetupMagic;
  for (HGLOBAL handle :
       {setup, HGLOBAL{nullptr}, reinterpret_cast<HGLOBAL>(0x10), options, lookalike}) {
    EXPECT_EQ(filter_->DestroySetup(handle), kSetupNotLive);
    if (handle == options) continue;  // escapes into an options block are the library's
    EXPECT_EQ(filter_->EscapeSetup(handle, 0x51, 4, kStreamValue, nullptr, 0), kSetupNotLive);
    EXPECT_EQ(filter_->EscapeSetup(handle, 0x52, 4, &secondWord, nullptr, 0), kSetupNotLive);
  }
  EXPECT_EQ(PlatformLiveGlobalBlocks(), 2) << "nothing else was freed";
  {
    LockedGlobal locked(lookalike);
    const auto* bytes = locked.As<const uint8_t>();
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 8),
              (std::vector<uint8_t>{0xCC, 0xDD, 0xEE, 0xFF, 0, 0, 0, 0}));
  }
  EXPECT_EQ(PlatformTakeHandleFaults(), 0) << "a handle that is not live is never locked";
  for (HGLOBAL handle : {options, lookalike}) GlobalFree(handle);
}

}  // namespace
