// CreateSetup, DestroySetup and EscapeSetup through copies of the built module
// in a scratch tree, so that "beside the module" and $WINDIR are places the
// test controls; the copies share the program's stand-ins and their counts.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
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
#include "tests/support/row_tests.h"

using namespace gifin;

namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

void WriteFile(const fs::path& path, const std::string& text) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

struct FilterModuleCopy {
  explicit FilterModuleCopy(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    fs::copy_file(GIFIN_MODULE_FILE, path, fs::copy_options::overwrite_existing);
    std::string error;
    if (!module.Load(path, &error)) throw std::runtime_error(error);
    CreateSetup = module.Resolve<decltype(CreateSetup)>("CreateSetup");
    DestroySetup = module.Resolve<decltype(DestroySetup)>("DestroySetup");
    EscapeSetup = module.Resolve<decltype(EscapeSetup)>("EscapeSetup");
  }
  host::FilterModule module;
  decltype(&::CreateSetup) CreateSetup = nullptr;
  decltype(&::DestroySetup) DestroySetup = nullptr;
  decltype(&::EscapeSetup) EscapeSetup = nullptr;
};

// A setup's fields (null when none was made), destroyed again with nothing
// left live; what no profile sets is zero in every new setup.
std::unique_ptr<FilterSetup> MakeSetup(const FilterModuleCopy& filter, const char* profile,
                                       const char* mode) {
  HGLOBAL handle = filter.CreateSetup(nullptr, profile, mode, 0);
  std::unique_ptr<FilterSetup> fields;
  if (handle) fields = std::make_unique<FilterSetup>(*LockedGlobal(handle).As<const FilterSetup>());
  EXPECT_EQ(handle ? filter.DestroySetup(handle) : 0, 0);
  if (fields) {
    EXPECT_STREQ(fields->startName, "") << "the field after the font list is untouched";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&fields->persistentOptions),
                          kPersistentOptionsBytes),
              std::string(kPersistentOptionsBytes, '\0'));
  }
  EXPECT_EQ(testhost::DescribeLive(), "");
  return fields;
}

// The suite's tree: a module copy in module/ and $WINDIR at windows/, where
// no profile is.
class SetupTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string pattern = (fs::temp_directory_path() / "gifin-profile-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    root_ = fs::canonical(pattern).string();  // a real path, as module paths are
    filter_ = new FilterModuleCopy(root_ + "/module/gifin.so");
    fs::create_directories(root_ + "/windows");
  }
  static void TearDownTestSuite() {
    delete filter_;
    fs::remove_all(root_);
  }
  void SetUp() override { setenv("WINDIR", (root_ + "/windows").c_str(), 1); }
  void TearDown() override {
    StandInResetFaults();
    EXPECT_EQ(testhost::DescribeLive(), "");
  }

  static inline std::string root_;
  static inline FilterModuleCopy* filter_ = nullptr;
};

// Each row of the data file in a tree of its own: the module copy, $WINDIR
// and the profiles are made, and a setup is asked for with the host's name.
class ProfilePlace : public testtable::RowTest<SetupTest> {};
const fs::path kStartDirectory = fs::current_path();

TEST_P(ProfilePlace, WinsInTurn) {
  ASSERT_EQ(row.size(), 6u);
  const std::string tree = root_ + "/row" + std::to_string(row.line);
  fs::create_directories(tree + "/cwd");
  fs::current_path(tree + "/cwd");
  std::string moduleDir, windowsDir;
  const auto place = [&](const std::string& name) {
    if (name[0] == '@') return tree + "/" + name.substr(1);
    if (name.rfind("module/", 0) == 0) return moduleDir + name.substr(6);
    return name.rfind("windows/", 0) == 0 ? windowsDir + name.substr(7) : name;
  };
  // "name#N": made below name, its full path N long, in parts of at most
  // 200 characters with their "/", one less where 200 would leave just 1.
  const auto makeDir = [&](const std::string& spec) {
    const size_t hash = spec.find('#');
    std::string path = place(spec.substr(0, hash));
    const size_t length = hash == std::string::npos ? 0 : std::stoul(spec.substr(hash + 1));
    for (size_t part; path.size() < length; path += "/" + std::string(part, 'd'))
      part = std::min<size_t>(length - path.size() - 1, 200) - (length - path.size() == 202);
    fs::create_directories(path);
    return path;
  };
  windowsDir = makeDir(row[1].substr(0, row[1].find_last_not_of('/') + 1));
  setenv("WINDIR", (windowsDir + (row[1].back() == '/' ? "/" : "")).c_str(), 1);
  moduleDir = makeDir(row[2].substr(0, row[2].rfind('/')));
  FilterModuleCopy filter(moduleDir + row[2].substr(row[2].rfind('/')));
  for (const std::string& file : testtable::Words(row[4]))
    WriteFile(place(file), "[ir_gif]\n~Mode=M\n[M]\nDriver=" + file + "\n");
  PlatformFailPathQueries(std::stoi(row[0]));
  auto setup = MakeSetup(filter, row[3].empty() ? nullptr : place(row[3]).c_str(), nullptr);
  PlatformFailPathQueries(0);
  fs::current_path(kStartDirectory);
  ASSERT_NE(setup, nullptr);
  EXPECT_EQ((Texts{setup->profilePath, setup->driverName, setup->modeSection}),
            (row[5] == "-" ? Texts{"", "ir_gif.0", ""} : Texts{place(row[5]), row[5], "M"}));
}
TESTTABLE_ROWS(ProfilePlace, PROFILE_DATA "profile_places.txt", "", 23, -1);

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

// The cases of the data file, each its header row's fields and then its
// profile and expected setup as two fields, at the header's line.
std::vector<testtable::TableRow> ModeCases() {
  std::vector<testtable::TableRow> cases;
  size_t part = 0;
  for (const testtable::TableRow& line : testtable::LoadRows(PROFILE_DATA "mode_sections.txt")) {
    if (line[0].rfind("===", 0) == 0) {
      cases.push_back(line), part = cases.back().size(), cases.back().fields[0].erase(0, 4);
      cases.back().fields.resize(part + 2);
    } else if (line[0] == "---") {
      ++part;
    } else if (!cases.empty()) {
      cases.back().fields[part] += line[0] + "\n";
    }
  }
  return cases;
}

// Each case of the data file: its profile through CreateSetup, and the setup.
class ModeSection : public testtable::RowTest<SetupTest> {};

TEST_P(ModeSection, GivesItsSetup) {
  const size_t size = row.size();  // what | mode [| name] | profile | setup
  WriteFile(root_ + "/p.INI", row[size - 2]);
  const std::string mode = row[1], name = size > 4 ? row[2] : root_ + "/p.INI";
  const auto given = [](const std::string& text) { return text == "~" ? nullptr : text.c_str(); };
  EXPECT_EQ(Describe(MakeSetup(*filter_, given(name), given(mode)).get()), row[size - 1]);
}
INSTANTIATE_TEST_SUITE_P(Rows, ModeSection, testing::ValuesIn(ModeCases()), testtable::NameBy(0));
TEST(ModeSection_Table, Rows) { EXPECT_EQ(ModeCases().size(), 28u); }

// An old library gives no setup and allocates nothing (a failed allocation
// is the profile fuzzer's and the fault sweep's).
TEST_F(SetupTest, RefusedWithoutLeftovers) {
  const std::pair<int32_t, bool> versions[] = {
      {0x02000006, true}, {0x02010000, true}, {0x02000005, false}, {INT32_MIN + 6, false}};
  for (const auto& [version, made] : versions) {
    StandInSetVersion(version);
    const long allocations = PlatformAllocationCount();
    EXPECT_EQ(MakeSetup(*filter_, nullptr, nullptr) != nullptr, made) << version;
    EXPECT_EQ(PlatformAllocationCount() > allocations, made) << "a refusal allocates nothing";
  }
}

// The rows of the data file in turn on an options block whose persistent
// bytes hold a pattern; after each, the bytes hold what it says. A row's test
// first runs the rows above it. On a setup, and which handles are refused, is
// the setup-calls fuzzer's to check.
class Escape : public testtable::RowTest<SetupTest> {
 protected:
  static constexpr auto kRecord = static_cast<int32_t>(kPersistentOptionsBytes);
  void Run(const testtable::TableRow& r) {
    const Texts names = {"stream", "word", "flag", "record", "null"};
    void* const values[] = {kStreamValue, &word, &flag, record.data(), nullptr};
    void* value = values[std::find(names.begin(), names.end(), r[2]) - names.begin()];
    const int32_t code = std::stoi(r[0], nullptr, 0);
    const int32_t size = r[1] == "record" ? kRecord : std::stoi(r[1], nullptr, 0);
    EXPECT_EQ(filter_->EscapeSetup(handle, code, size, value, nullptr, 0), std::stoi(r[3]));
    if (r[4] == "stream") std::memcpy(pattern.data(), &value, sizeof value);
    if (r[4] == "word") std::memcpy(&pattern[offsetof(PersistentOptions, carriedWord)], value, 4);
    if (r[4] == "record") pattern = record;
    QvOptionsControl(handle, kQvOptionFetchPersistent, kRecord, nullptr, persistent.data(), 0);
    EXPECT_EQ(persistent, pattern);
  }
  void* const kStreamValue = reinterpret_cast<void*>(~uintptr_t{0} / 3);  // all bytes set
  uint32_t word = 0xCAFEBABEu;
  uint8_t flag = 0xFF;
  std::vector<uint8_t> record = std::vector<uint8_t>(kRecord, 0x11), pattern = record,
                       persistent = record;
  HGLOBAL handle = QvOptionsCreate(0, 0, 0, 0);
};

TEST_P(Escape, ChangesOnlyItsOwnWordAndPassesOtherCodesOn) {
  for (int i = 0; i < kRecord; ++i) pattern[i] = static_cast<uint8_t>(0xA0 + i);
  QvOptionsControl(handle, kQvOptionStorePersistent, kRecord, pattern.data(), nullptr, 0);
  for (const testtable::TableRow& above : testtable::LoadRows(row.file))
    if (above.line < row.line) Run(above);
  Run(row);
  uint8_t fetched = 0;
  QvOptionsControl(handle, kQvOptionRegisterMark, 1, nullptr, &fetched, 0);
  EXPECT_TRUE(row[0] != "0x28" || row[3] != "0" || fetched == 0xFF) << "0x28 reached the block";
  GlobalFree(handle);
}
TESTTABLE_ROWS(Escape, PROFILE_DATA "escapes.txt", "", 13, -1);

}  // namespace
