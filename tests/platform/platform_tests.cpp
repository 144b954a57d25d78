// The Linux platform stand-in where the filter could tell it from Windows:
// memory handles, strings and paths of modules, metafile handles, profiles,
// files and the Windows directory; and its test controls.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/linux/module_registry.h"
#include "platform/platform_test.h"

namespace {

struct Family {
  const char* name;
  void* (*alloc)(UINT, SIZE_T);
  void* (*lock)(void*);
  BOOL (*unlock)(void*);
  void* (*free)(void*);
  int (*live)();
  UINT moveable, zeroInit;
};
void* CallGlobalAlloc(UINT f, SIZE_T n) { return GlobalAlloc(f, n); }
void* CallLocalAlloc(UINT f, SIZE_T n) { return LocalAlloc(f, n); }
const Family kFamilies[] = {{"Global", CallGlobalAlloc, GlobalLock, GlobalUnlock, GlobalFree,
                             PlatformLiveGlobalBlocks, GMEM_MOVEABLE, GMEM_ZEROINIT},
                            {"Local", CallLocalAlloc, LocalLock, LocalUnlock, LocalFree,
                             PlatformLiveLocalBlocks, LMEM_MOVEABLE, LMEM_ZEROINIT}};

TEST(PlatformMemory, LocksZeroingAndEveryUseOfAStaleOrForeignHandleIsAFault) {
  for (const Family& f : kFamilies) {
    SCOPED_TRACE(f.name);
    const int before = f.live();
    void *moveable = f.alloc(f.moveable, 16), *fixed = f.alloc(0, 16);
    ASSERT_TRUE(moveable && fixed);
    EXPECT_EQ(f.live(), before + 2);
    void* address = f.lock(moveable);
    EXPECT_NE(address, moveable) << "a moveable handle must not be its address";
    EXPECT_EQ(f.lock(fixed), fixed);
    EXPECT_EQ(f.lock(moveable), address);
    EXPECT_TRUE(f.unlock(moveable)) << "still locked once";
    for (int i = 0; i < 2; ++i) EXPECT_FALSE(f.unlock(moveable)) << "unlocked: no fault";
    EXPECT_EQ(f.lock(moveable), address) << "and freed below while locked";
    int local = 0;
    void* other = &f == kFamilies ? LocalAlloc(LHND, 8) : GlobalAlloc(GHND, 8);
    for (void* foreign : {static_cast<void*>(&local), address, other}) {
      EXPECT_EQ(f.lock(foreign), nullptr);
      EXPECT_EQ(f.free(foreign), foreign);
    }
    (&f == kFamilies ? LocalFree : GlobalFree)(other);
    EXPECT_EQ(f.free(moveable), nullptr);
    EXPECT_EQ(f.free(fixed), nullptr);
    EXPECT_EQ(f.live(), before);
    for (void* stale : {moveable, fixed}) {
      EXPECT_EQ(f.lock(stale), nullptr);
      EXPECT_FALSE(f.unlock(stale));
      EXPECT_EQ(f.free(stale), stale) << "a second free must fail";
    }
    EXPECT_EQ(f.free(nullptr), nullptr);
    EXPECT_EQ(PlatformTakeHandleFaults(), 12) << "6 foreign, 6 stale; null and unlocked none";
    for (UINT flags : {0u, f.zeroInit, f.moveable, f.moveable | f.zeroInit}) {
      void* block = f.alloc(flags, 64);
      EXPECT_EQ(std::string(static_cast<char*>(f.lock(block)), 64) == std::string(64, '\0'),
                (flags & f.zeroInit) != 0)
          << "flags " << flags;
      f.unlock(block);
      f.free(block);
    }
  }
}

TEST(PlatformMemory, SizesLimitsHandleLookupAndTheNthAllocationFailing) {
  const int before = PlatformLiveGlobalBlocks();
  EXPECT_EQ(GlobalAlloc(GHND, kPlatformMaxBlockBytes + 1), nullptr) << "past a 32-bit process";
  EXPECT_EQ(LocalAlloc(LPTR, kPlatformMaxBlockBytes + 1), nullptr);
  EXPECT_EQ(GlobalAlloc(GMEM_FIXED, ~SIZE_T{0}), nullptr);
  EXPECT_EQ(PlatformLiveGlobalBlocks(), before);
  HGLOBAL block = GlobalAlloc(GHND, 12024);
  EXPECT_EQ(GlobalSize(block), 12024u);
  GlobalFree(block);
  EXPECT_EQ(GlobalSize(block), 0u);
  HLOCAL fixedEmpty = LocalAlloc(LPTR, 0);  // still an address
  EXPECT_NE(fixedEmpty, nullptr);
  EXPECT_EQ(LocalFree(fixedEmpty), nullptr);
  HLOCAL moveable = LocalAlloc(LHND, 32), fixed = LocalAlloc(LPTR, 32);
  auto* address = static_cast<char*>(LocalLock(moveable));
  EXPECT_EQ(LocalHandle(address), moveable);
  EXPECT_EQ(LocalHandle(fixed), fixed);
  EXPECT_EQ(LocalHandle(address + 1), nullptr);
  LocalFree(moveable);
  EXPECT_EQ(LocalHandle(address), nullptr);
  LocalFree(fixed);

  const long count = PlatformAllocationCount();
  PlatformFailAllocationAt(3);
  void* blocks[4];
  for (long i = 0; i < 4; ++i) {
    blocks[i] = i % 2 ? LocalAlloc(LPTR, 8) : GlobalAlloc(GHND, 8);
    EXPECT_EQ(blocks[i] == nullptr, i == 2) << "allocation " << i + 1;
  }
  EXPECT_EQ(PlatformAllocationCount(), count + 4) << "failed attempts count too";
  for (long i = 0; i < 4; ++i) (i % 2 ? LocalFree : GlobalFree)(blocks[i]);
}

std::string ExecutablePath() {
  char path[PATH_MAX] = {};
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

TEST(PlatformModules, StringsAndFileNamesAsWindowsCutsThem) {
  const ModuleStringResource strings[] = {{1, "~Mode"}, {5103, "GIF Import"}, {7, ""}};
  const ModuleResources resources = {strings, 3, nullptr, 0};
  HINSTANCE self =
      StandInRegisterModule(reinterpret_cast<const void*>(&ExecutablePath), &resources);
  HINSTANCE library = StandInRegisterModule(reinterpret_cast<const void*>(&GlobalAlloc), nullptr);
  ASSERT_TRUE(self && library && self != library);
  const auto unregistered = reinterpret_cast<HINSTANCE>(const_cast<ModuleResources*>(&resources));
  const struct {
    HINSTANCE instance;
    UINT id;
    int max;
    const char* expect;
  } cases[] = {{self, 5103, 11, "GIF Import"},
               {self, 5103, 10, "GIF Impor"},
               {self, 5103, 1, ""},
               {self, 1, 260, "~Mode"},
               {self, 7, 260, ""},
               {self, 2, 260, ""},
               {nullptr, 1, 260, ""},
               {unregistered, 1, 260, ""}};
  for (const auto& c : cases) {
    char buffer[300];
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(LoadStringA(c.instance, c.id, buffer, c.max), int(std::strlen(c.expect))) << c.id;
    EXPECT_STREQ(buffer, c.expect);
    EXPECT_EQ(buffer[c.max], 'X') << c.id << " max " << c.max;
  }
  const std::string exe = ExecutablePath();
  char buffer[PATH_MAX];
  for (HMODULE module : {static_cast<HMODULE>(nullptr), self}) {
    EXPECT_EQ(GetModuleFileNameA(module, buffer, sizeof buffer), exe.size());
    EXPECT_EQ(exe, buffer);
  }
  const std::string path(buffer, GetModuleFileNameA(library, buffer, sizeof buffer));
  EXPECT_TRUE(path[0] == '/' && path.find("libWinPlatform.so") != std::string::npos) << path;
  const auto size = static_cast<DWORD>(exe.size());
  EXPECT_EQ(GetModuleFileNameA(self, buffer, size), size);
  EXPECT_EQ(std::string(buffer), exe.substr(0, size - 1));
  EXPECT_EQ(GetModuleFileNameA(self, buffer, 0), 0u);
  int local = 0;
  EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(&local), buffer, sizeof buffer), 0u);
  // Each registration is matched by its own unregistration.
  EXPECT_EQ(StandInRegisterModule(reinterpret_cast<const void*>(&ExecutablePath), nullptr), self);
  for (int loaded : {5, 0}) {
    StandInUnregisterModule(self);
    EXPECT_EQ(LoadStringA(self, 1, buffer, 16), loaded);
  }
  StandInUnregisterModule(library);
}

TEST(PlatformMetafiles, HandlesHaveTheirKindAndAreDeletedOnlyByIt) {
  const BYTE bytes[] = {1, 0, 0, 0, 0x20, 'E', 'M', 'F'};
  const int before = PlatformLiveMetafiles();
  HENHMETAFILE enhanced = SetEnhMetaFileBits(sizeof bytes, bytes);
  HMETAFILE plain = SetMetaFileBitsEx(sizeof bytes, bytes);
  HGLOBAL memory = GlobalAlloc(GHND, 4);
  ASSERT_TRUE(enhanced && plain);
  EXPECT_EQ(PlatformLiveMetafiles(), before + 2);
  EXPECT_EQ(std::vector<DWORD>({GetObjectType(enhanced), GetObjectType(plain),
                                GetObjectType(memory), GetObjectType(nullptr)}),
            std::vector<DWORD>({OBJ_ENHMETAFILE, OBJ_METAFILE, 0, 0}));
  BYTE copy[sizeof bytes + 1] = {};
  EXPECT_EQ(GetEnhMetaFileBits(enhanced, 0, nullptr), sizeof bytes);
  EXPECT_EQ(GetEnhMetaFileBits(enhanced, sizeof bytes - 1, copy), 0u);
  EXPECT_EQ(copy[0], 0) << "nothing copied into a buffer too small";
  EXPECT_EQ(GetEnhMetaFileBits(enhanced, sizeof copy, copy), sizeof bytes);
  EXPECT_EQ(std::memcmp(copy, bytes, sizeof bytes), 0);
  EXPECT_EQ(GetEnhMetaFileBits(reinterpret_cast<HENHMETAFILE>(plain), 0, nullptr), 0u);
  EXPECT_FALSE(DeleteMetaFile(reinterpret_cast<HMETAFILE>(enhanced)));
  EXPECT_FALSE(DeleteEnhMetaFile(reinterpret_cast<HENHMETAFILE>(plain)));
  EXPECT_FALSE(DeleteEnhMetaFile(reinterpret_cast<HENHMETAFILE>(memory)));
  EXPECT_TRUE(DeleteEnhMetaFile(enhanced) && DeleteMetaFile(plain));
  EXPECT_FALSE(DeleteEnhMetaFile(enhanced));
  EXPECT_EQ(GetObjectType(enhanced), 0u);
  EXPECT_EQ(PlatformLiveMetafiles(), before);
  EXPECT_EQ(SetEnhMetaFileBits(0, bytes), nullptr);
  GlobalFree(memory);
}

// The profile file holds its own questions (";= " lines) and answers.
TEST(PlatformProfiles, ValuesAsWindowsReadsThem) {
  std::ifstream in(PROFILE_READS_FILE, std::ios::binary);
  int asked = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(";= ", 0) != 0) continue;
    std::vector<std::string> f;
    std::stringstream fields(line.substr(3));
    for (std::string field; f.size() < 4 && std::getline(fields, field, '|');) f.push_back(field);
    f.emplace_back();
    std::getline(fields, f.back());
    SCOPED_TRACE(line);
    ++asked;
    char buffer[300];
    std::memset(buffer, 'X', sizeof buffer);
    const DWORD size = std::stoul(f[3]);
    EXPECT_EQ(GetPrivateProfileStringA(f[0].c_str(), f[1].c_str(),
                                       f[2] == "(null)" ? nullptr : f[2].c_str(), buffer, size,
                                       PROFILE_READS_FILE),
              f[4].size());
    EXPECT_EQ(buffer, f[4]);
    EXPECT_EQ(buffer[size], 'X') << "wrote past the buffer";
  }
  EXPECT_EQ(asked, 17);
}

// Files made in a scratch directory that stands in as the Windows directory.
class PlatformFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/platform_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setenv("WINDIR", dir_.c_str(), 1);
    std::filesystem::create_directory(dir_ + "/sub");
    std::ofstream(dir_ + "/gifin.INI") << "[s]\nk=in windows directory\n";
    std::ofstream(dir_ + "/sub/other.ini") << "\xEF\xBB\xBF[s]\nk=by path\n";
  }
  void TearDown() override {
    unsetenv("WINDIR");
    std::filesystem::remove_all(dir_);
  }
  std::string dir_;
};

TEST_F(PlatformFiles, ProfilesAreFoundAndOpenedLikeWindowsFiles) {
  const std::string other = dir_ + "/sub/other.ini";
  const struct {
    std::string file;
    const char* value;  // read as [S] K, default "-"
    bool opens;         // by CreateFileA
  } cases[] = {
      {"gifin.INI", "in windows directory", false},  // a bare name: Windows directory
      {"GIFIN.ini", "in windows directory", false},  // names ignore case
      {other, "by path", true},
      {dir_ + "\\sub\\OTHER.INI", "by path", true},  // backslashes separate too
      {"other.ini", "-", false},                     // bare names are not searched for
      {dir_ + "/missing.ini", "-", false},
      {dir_ + "/sub", "-", false},  // a directory
      {"", "-", false},
      {dir_ + "/fifo", "-", false},  // must not wait for a writer
      {geteuid() == 0 ? "" : dir_ + "/unreadable", "-", false},
  };
  ASSERT_EQ(mkfifo((dir_ + "/fifo").c_str(), 0600), 0);
  std::ofstream(dir_ + "/unreadable") << "[s]\nk=x\n";
  chmod((dir_ + "/unreadable").c_str(), 0);
  const int before = PlatformLiveFileHandles();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    char buffer[64];
    if (c.file.find("fifo") == std::string::npos) {
      GetPrivateProfileStringA("S", "K", "-", buffer, sizeof buffer, c.file.c_str());
      EXPECT_STREQ(buffer, c.value);
    }
    HANDLE h = CreateFileA(c.file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_EQ(h != INVALID_HANDLE_VALUE, c.opens);
    if (!c.opens) continue;
    EXPECT_EQ(PlatformLiveFileHandles(), before + 1);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h)) << "a closed handle is closed only once";
  }
  EXPECT_EQ(PlatformLiveFileHandles(), before);
  char buffer[300] = "X";
  EXPECT_EQ(GetPrivateProfileStringA("s", nullptr, "d", buffer, 8, "gifin.INI"), 0u);
  EXPECT_STREQ(buffer, "");

  // The Windows directory: its length + 1 when it does not fit, nothing copied.
  const UINT length = static_cast<UINT>(dir_.size());
  for (UINT size : {0u, 1u, length}) {
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(GetWindowsDirectoryA(buffer, size), length + 1) << "size " << size;
    EXPECT_EQ(buffer[0], 'X');
  }
  EXPECT_EQ(GetWindowsDirectoryA(buffer, length + 1), length);
  EXPECT_EQ(dir_, buffer);
  setenv("WINDIR", "", 1);  // empty counts as unset
  EXPECT_GT(GetWindowsDirectoryA(buffer, sizeof buffer), 0u);
  EXPECT_TRUE(dir_ != buffer && buffer[0] == '/');
}

}  // namespace
