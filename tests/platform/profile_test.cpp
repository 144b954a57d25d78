// The profile reader, the file open test and the Windows directory, over
// files made in a scratch directory that stands in as the Windows directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/platform_test.h"

namespace {

class PlatformFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/platform_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setenv("WINDIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("WINDIR");
    std::filesystem::remove_all(dir_);
  }
  std::string Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
    return dir_ + "/" + name;
  }
  std::string dir_;
};

TEST_F(PlatformFiles, ProfileValues) {
  const std::string path = Write("gifin.INI",
                                 "; comment line\r\n"
                                 "[Other]\r\n"
                                 "Driver=wrong section\r\n"
                                 "  [ Mode A ]  \r\n"
                                 "  Driver  =  pdf out  \r\n"
                                 ";Color[000]=(1, 2, 3)\r\n"
                                 "Font[001]=\"Arial\", \"Helvetica\"\r\n"
                                 "Single='quoted'\r\n"
                                 "Mixed=\"half'\r\n"
                                 "Inner=a \"b\" c\r\n"
                                 "Quotes=\"\"\r\n"
                                 "Empty=\r\n"
                                 "DRIVER=second key\r\n"
                                 "[mode a]\n"
                                 "Later=from the repeated section\n"
                                 "Driver=repeated section\n");
  const struct {
    const char *section, *key, *def;
    DWORD size;
    const char* expect;
  } cases[] = {
      {"mode a", "driver", "x", 260, "pdf out"},  // case, blanks, first key wins
      {"MODE A", "Font[001]", "", 260, "Arial\", \"Helvetica"},
      {"Mode A", "Single", "", 260, "quoted"},
      {"Mode A", "Mixed", "", 260, "\"half'"},
      {"Mode A", "Inner", "", 260, "a \"b\" c"},
      {"Mode A", "Quotes", "x", 260, ""},
      {"Mode A", "Empty", "x", 260, ""},              // present but empty: not the default
      {"Mode A", "Color[000]", "none", 260, "none"},  // commented out
      {"Mode A", "Later", "", 260, "from the repeated section"},
      {"Other", "Driver", "", 260, "wrong section"},
      {"Mode A", "Driver", "", 4, "pdf"},  // cut to size - 1, after unquoting
      {"Mode A", "Single", "", 3, "qu"},
      {"Mode A", "Driver", "", 1, ""},
      {"Mode A", "Missing", "default  ", 260, "default"},
      {"Mode A", "Missing", "default", 4, "def"},
      {"Mode A", "Missing", nullptr, 260, ""},
      {"No section", "Driver", "d", 260, "d"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key + " size " + std::to_string(c.size));
    char buffer[300];
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(GetPrivateProfileStringA(c.section, c.key, c.def, buffer, c.size, path.c_str()),
              std::strlen(c.expect));
    EXPECT_STREQ(buffer, c.expect);
    EXPECT_EQ(buffer[c.size], 'X') << "wrote past the buffer";
  }
}

TEST_F(PlatformFiles, ProfileFileLookup) {
  Write("gifin.INI", "[s]\nk=in windows directory\n");
  std::filesystem::create_directory(dir_ + "/sub");
  Write("sub/other.ini", "\xEF\xBB\xBF[s]\nk=by path\n");
  const std::pair<std::string, const char*> cases[] = {
      {"gifin.INI", "in windows directory"},  // a bare name: Windows directory
      {"GIFIN.ini", "in windows directory"},  // names ignore case
      {dir_ + "/sub/other.ini", "by path"},
      {dir_ + "\\sub\\other.ini", "by path"},  // backslashes separate too
      {"other.ini", "default"},                // bare names are not searched for
      {dir_ + "/missing.ini", "default"},
      {dir_ + "/sub", "default"},  // a directory
      {"", "default"},
  };
  for (const auto& [file, expect] : cases) {
    char buffer[64];
    GetPrivateProfileStringA("S", "K", "default", buffer, sizeof buffer, file.c_str());
    EXPECT_STREQ(buffer, expect) << file;
  }
  char buffer[8] = "X";
  EXPECT_EQ(GetPrivateProfileStringA("s", nullptr, "d", buffer, 8, "gifin.INI"), 0u);
  EXPECT_STREQ(buffer, "");
}

TEST_F(PlatformFiles, OpenTestGivesCountedHandlesForReadableFilesOnly) {
  const std::string file = Write("present.ini", "x"), unreadable = Write("unreadable.ini", "x");
  chmod(unreadable.c_str(), 0);
  ASSERT_EQ(mkfifo((dir_ + "/fifo").c_str(), 0600), 0);
  const std::pair<std::string, bool> cases[] = {
      {file, true},
      {dir_ + "\\PRESENT.INI", true},
      {dir_ + "/absent.ini", false},
      {dir_, false},
      {dir_ + "/fifo", false},  // must not wait for a writer
      {"", false},
      {geteuid() == 0 ? "" : unreadable, false},
  };
  const int before = PlatformLiveFileHandles();
  for (const auto& [name, opens] : cases) {
    SCOPED_TRACE(name);
    HANDLE h = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_EQ(h != INVALID_HANDLE_VALUE, opens);
    if (!opens) continue;
    EXPECT_EQ(PlatformLiveFileHandles(), before + 1);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h)) << "a closed handle is closed only once";
  }
  EXPECT_EQ(PlatformLiveFileHandles(), before);
}

TEST_F(PlatformFiles, WindowsDirectoryFollowsTheWindowsReturnConvention) {
  const UINT length = static_cast<UINT>(dir_.size());
  char buffer[300];
  for (UINT size : {0u, 1u, length}) {
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(GetWindowsDirectoryA(buffer, size), length + 1) << "size " << size;
    EXPECT_EQ(buffer[0], 'X') << "nothing copied when it does not fit";
  }
  EXPECT_EQ(GetWindowsDirectoryA(buffer, length + 1), length);
  EXPECT_EQ(dir_, buffer);
  setenv("WINDIR", "", 1);  // empty counts as unset
  EXPECT_GT(GetWindowsDirectoryA(buffer, sizeof buffer), 0u);
  EXPECT_NE(dir_, buffer);
  EXPECT_EQ(buffer[0], '/');
}

}  // namespace
