// The setup and its profile through the exports of a copy of the built module
// in a scratch directory of the test's own (so that "beside the module" is a
// place the test controls), with $WINDIR pointed into the same tree: where
// the profile is found, what its mode section gives a setup, CreateSetup's
// refusals and defaults, DestroySetup and EscapeSetup. The copy shares the
// stand-ins of the test program, so live counts and faults cover it too.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "core/filter_setup.h"
#include "host/filter_module.h"
#include "platform/locked_global.h"
#include "platform/platform_test.h"
#include "tests/support/recording_host.h"
#include "tests/support/table.h"

namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

// Writes `text` to `path`, its parents made.
void WriteFile(const fs::path& path, const std::string& text) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// The filter module copied to `path` and loaded from there.
struct FilterModuleCopy {
  explicit FilterModuleCopy(const fs::path& path) {
    fs::create_directories(path.parent_path());
    fs::copy_file(GIFIN_MODULE_FILE, path, fs::copy_options::overwrite_existing);
    std::string error;
    if (!module.Load(path.string(), &error)) throw std::runtime_error(error);
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
  return locked ? std::make_unique<FilterSetup>(*locked.As<const FilterSetup>()) : nullptr;
}

// Makes a setup and gives back its fields (null when none was made); the
// setup is destroyed again and nothing may stay live. What no profile sets
// is zero in every new setup.
std::unique_ptr<FilterSetup> MakeSetup(const FilterModuleCopy& filter, const char* profile,
                                       const char* mode) {
  HGLOBAL handle = filter.CreateSetup(nullptr, profile, mode, 0);
  std::unique_ptr<FilterSetup> fields = handle ? ReadSetup(handle) : nullptr;
  if (handle) {
    EXPECT_EQ(filter.DestroySetup(handle), 0);
  }
  if (fields) {
    EXPECT_EQ(fields->magic, kSetupMagic);
    EXPECT_STREQ(fields->startName, "") << "the field after the font list is untouched";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&fields->persistentOptions),
                          kPersistentOptionsBytes),
              std::string(kPersistentOptionsBytes, '\0'));
  }
  EXPECT_EQ(testhost::DescribeLive(), "");
  return fields;
}

// A scratch tree for the suite with a module copy in module/ and $WINDIR at
// windows/, where no profile is; nothing may stay live after a test.
class SetupTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string pattern = (fs::temp_directory_path() / "gifin-profile-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = fs::canonical(pattern).string();  // a real path, as module paths are
    filter_ = new FilterModuleCopy(root_ + "/module/gifin.so");
  }
  static void TearDownTestSuite() {
    delete filter_;
    fs::remove_all(root_);
  }
  void SetUp() override {
    fs::create_directories(root_ + "/windows");
    setenv("WINDIR", (root_ + "/windows").c_str(), 1);
    StandInResetFaults();
  }
  void TearDown() override {
    StandInResetFaults();
    PlatformFailAllocationAt(0);
    PlatformFailPathQueries(0);
    EXPECT_EQ(testhost::DescribeLive(), "");
  }

  static inline std::string root_;
  static inline FilterModuleCopy* filter_ = nullptr;
};

// ---- Location --------------------------------------------------------------

// Each row of the data file in a tree of its own: the module copy, $WINDIR
// and the profiles are made, and a setup is asked for with the host's name.
TEST_F(SetupTest, EachPlaceWinsInTurn) {
  const fs::path oldCwd = fs::current_path();
  int n = 0;
  const int rows = testtable::ForEachRow(PROFILE_PLACES_FILE, [&](const testtable::Row& row) {
    SCOPED_TRACE(testing::PrintToString(row));
    ASSERT_EQ(row.size(), 6u);
    const std::string tree = root_ + "/row" + std::to_string(++n);
    fs::create_directories(tree + "/cwd");
    fs::current_path(tree + "/cwd");
    std::string moduleDir, windowsDir;
    const auto place = [&](const std::string& name) {
      if (name[0] == '@') return tree + "/" + name.substr(1);
      for (const auto& [prefix, dir] :
           {std::pair{"module/", &moduleDir}, {"windows/", &windowsDir}})
        if (name.rfind(prefix, 0) == 0) return *dir + name.substr(std::strlen(prefix) - 1);
      return name;
    };
    // A directory "name#N": made below name, its full path N long, of
    // components of at most 200 characters (a remainder of one holds none).
    const auto makeDir = [&](const std::string& spec) {
      const size_t hash = spec.find('#');
      std::string path = place(spec.substr(0, hash));
      const size_t length = hash == std::string::npos ? 0 : std::stoul(spec.substr(hash + 1));
      while (path.size() < length) {
        size_t part = std::min<size_t>(length - path.size() - 1, 200);
        if (length - path.size() - 1 - part == 1) --part;
        path += "/" + std::string(part, 'd');
      }
      fs::create_directories(path);
      return path;
    };
    windowsDir = makeDir(row[1].substr(0, row[1].find_last_not_of('/') + 1));
    setenv("WINDIR", (windowsDir + (row[1].back() == '/' ? "/" : "")).c_str(), 1);
    const size_t slash = row[2].rfind('/');
    moduleDir = makeDir(row[2].substr(0, slash));
    FilterModuleCopy filter(moduleDir + row[2].substr(slash));
    for (const std::string& file : testtable::Words(row[4]))
      WriteFile(place(file), "[ir_gif]\n~Mode=M\n[M]\nDriver=" + file + "\n");
    PlatformFailPathQueries(std::stoi(row[0]));
    auto setup = MakeSetup(filter, row[3].empty() ? nullptr : place(row[3]).c_str(), nullptr);
    PlatformFailPathQueries(0);
    ASSERT_NE(setup, nullptr);
    EXPECT_EQ((Texts{setup->profilePath, setup->driverName, setup->modeSection}),
              (row[5] == "-" ? Texts{"", "ir_gif.0", ""} : Texts{place(row[5]), row[5], "M"}));
  });
  fs::current_path(oldCwd);
  EXPECT_EQ(rows, 23);
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
            std::to_string(c.blue) + " \"" + setup->colorNames[i] + "\"\n";
  }
  for (int i = 0; i < setup->fontCount; ++i)
    text += std::string("font \"") + setup->fontNames[i] + "\" \"" + setup->fontFaces[i] + "\"\n";
  return text;
}

// Each case of the data file: its profile through CreateSetup, and the setup.
TEST_F(SetupTest, EachProfileGivesItsSetup) {
  testtable::Row header;
  std::string profile, expected, *part = &profile;
  int cases = 0;
  const auto check = [&] {
    if (header.empty()) return;
    SCOPED_TRACE(header[0]);
    const std::string path = root_ + "/p.INI";
    WriteFile(path, profile);
    header.resize(3, path);
    const auto name = [](const std::string& text) { return text == "~" ? nullptr : text.c_str(); };
    EXPECT_EQ(Describe(MakeSetup(*filter_, name(header[2]), name(header[1])).get()), expected);
    ++cases;
  };
  testtable::ForEachRow(MODE_SECTIONS_FILE, [&](const testtable::Row& row) {
    if (row[0].rfind("===", 0) == 0) {
      check();
      header = row, profile.clear(), expected.clear(), part = &profile;
    } else if (row[0] == "---") {
      part = &expected;
    } else {
      *part += row[0] + "\n";
    }
  });
  check();
  EXPECT_EQ(cases, 28);
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
    std::vector<uint8_t> pattern, other(kPersistentOptionsBytes, 0x11);
    for (int i = 0; i < kPersistentBytes; ++i) pattern.push_back(static_cast<uint8_t>(0xA0 + i));
    HGLOBAL handle =
        isSetup ? filter_->CreateSetup(nullptr, nullptr, nullptr, 0) : QvOptionsCreate(0, 0, 0, 0);
    if (isSetup) {
      std::memcpy(&LockedGlobal(handle).As<FilterSetup>()->persistentOptions, pattern.data(),
                  pattern.size());
    } else {
      QvOptionsControl(handle, kOptionStorePersistent, kPersistentBytes, pattern.data(), nullptr,
                       0);
    }
    uint8_t flag = 0xFF;
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
      if (c.bytes && (c.code == 0x51 || c.code == 0x52 || !isSetup))
        std::memcpy(pattern.data() + c.at, value, c.bytes);
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
