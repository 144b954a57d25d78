// The Linux platform stand-in where the filter could tell it from Windows:
// memory and metafile handles, module strings and paths, profiles and files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/linux/module_registry.h"
#include "platform/platform_test.h"
#include "tests/support/table.h"

namespace {

struct Family {
  void* (*alloc)(UINT, SIZE_T);
  void* (*lock)(void*);
  BOOL (*unlock)(void*);
  void* (*free)(void*);
  int (*live)();
  UINT moveable, zeroInit;
};
void* CallGlobalAlloc(UINT f, SIZE_T n) { return GlobalAlloc(f, n); }
void* CallLocalAlloc(UINT f, SIZE_T n) { return LocalAlloc(f, n); }

TEST(PlatformMemory, LocksZeroingLimitsAndEveryUseOfAStaleOrForeignHandleIsAFault) {
  const Family families[] = {{CallGlobalAlloc, GlobalLock, GlobalUnlock, GlobalFree,
                              PlatformLiveGlobalBlocks, GMEM_MOVEABLE, GMEM_ZEROINIT},
                             {CallLocalAlloc, LocalLock, LocalUnlock, LocalFree,
                              PlatformLiveLocalBlocks, LMEM_MOVEABLE, LMEM_ZEROINIT}};
  for (const Family& f : families) {
    const Family& other = families[&f == families];
    const int before = f.live();
    void *moveable = f.alloc(f.moveable, 16), *fixed = f.alloc(0, 16),
         *foreign = other.alloc(other.moveable, 8);
    EXPECT_EQ(f.live(), before + 2);
    void* address = f.lock(moveable);
    EXPECT_NE(address, moveable) << "a moveable handle must not be its address";
    EXPECT_EQ(f.lock(fixed), fixed);
    EXPECT_EQ(f.lock(moveable), address);
    EXPECT_TRUE(f.unlock(moveable)) << "still locked once";
    for (int i = 0; i < 2; ++i) EXPECT_FALSE(f.unlock(moveable)) << "unlocked: no fault";
    EXPECT_EQ(f.lock(moveable), address) << "and freed below while locked";
    int local = 0;
    for (void* bad : {static_cast<void*>(&local), address, foreign}) {
      EXPECT_EQ(f.lock(bad), nullptr);
      EXPECT_EQ(f.free(bad), bad);
    }
    other.free(foreign);
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
    // Large blocks too: each after one freed dirty, whose memory is kept.
    for (SIZE_T size : {SIZE_T{64}, SIZE_T{5} << 20}) {
      for (UINT flags : {0u, f.zeroInit, f.moveable, f.moveable | f.zeroInit}) {
        void* block = f.alloc(flags, size);
        auto* bytes = static_cast<char*>(f.lock(block));
        EXPECT_EQ(std::string(bytes, size) == std::string(size, '\0'), (flags & f.zeroInit) != 0)
            << "flags " << flags << ", " << size << " bytes";
        std::memset(bytes, 0x5A, size);
        f.free(block);
      }
    }
    EXPECT_EQ(f.alloc(f.moveable, kPlatformMaxBlockBytes + 1), nullptr) << "past a 32-bit process";
    EXPECT_EQ(f.alloc(0, ~SIZE_T{0}), nullptr);
    EXPECT_EQ(f.live(), before);
  }
}

TEST(PlatformModules, StringsPathsAndMetafilesAsWindowsHasThem) {
  const ModuleStringResource strings[] = {{1, "~Mode"}, {5103, "GIF Import"}, {7, ""}};
  const ModuleResources resources = {strings, 3, nullptr, 0};
  HINSTANCE self =
      StandInRegisterModule(reinterpret_cast<const void*>(&CallLocalAlloc), &resources);
  char path[PATH_MAX] = {}, buffer[PATH_MAX];
  const std::tuple<UINT, int, const char*> cases[] = {
      {5103, 11, "GIF Import"}, {5103, 10, "GIF Impor"}, {5103, 1, ""}, {7, 260, ""}, {2, 260, ""}};
  for (const auto& [id, max, expect] : cases) {
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(LoadStringA(self, id, buffer, max), int(std::strlen(expect))) << id;
    EXPECT_EQ(buffer + std::string("|") + buffer[max], expect + std::string("|X"));
  }
  const DWORD length = DWORD(readlink("/proc/self/exe", path, sizeof path - 1));
  EXPECT_EQ(GetModuleFileNameA(self, buffer, sizeof buffer), length);
  EXPECT_STREQ(buffer, path);
  EXPECT_EQ(GetModuleFileNameA(self, buffer, length), length) << "cut, with the terminator";
  EXPECT_EQ(buffer, std::string(path, length - 1));
  EXPECT_EQ(GetModuleFileNameA(HMODULE(&resources), buffer, sizeof buffer), 0u);
  // Each registration is matched by its own unregistration.
  EXPECT_EQ(StandInRegisterModule(reinterpret_cast<const void*>(&CallLocalAlloc), nullptr), self);
  for (int loaded : {5, 0}) {
    StandInUnregisterModule(self);
    EXPECT_EQ(LoadStringA(self, 1, buffer, 16), loaded);
  }

  const BYTE bytes[] = {1, 0, 0, 0, 0x20, 'E', 'M', 'F'};
  HENHMETAFILE enhanced = SetEnhMetaFileBits(sizeof bytes, bytes);
  HMETAFILE plain = SetMetaFileBitsEx(sizeof bytes, bytes);
  EXPECT_EQ(
      std::vector<DWORD>({GetObjectType(enhanced), GetObjectType(plain), GetObjectType(path)}),
      std::vector<DWORD>({OBJ_ENHMETAFILE, OBJ_METAFILE, 0}));
  EXPECT_FALSE(DeleteMetaFile(HMETAFILE(enhanced)) || DeleteEnhMetaFile(HENHMETAFILE(plain)))
      << "each kind is deleted only by its own call";
  EXPECT_TRUE(DeleteEnhMetaFile(enhanced) && DeleteMetaFile(plain) && !DeleteMetaFile(plain));
  EXPECT_EQ(PlatformLiveMetafiles(), 0);
}

// The profile file holds its own questions (";= " lines) and answers, on
// itself and on other files, which CreateFileA must open or refuse as
// Windows does; the Windows directory is the profile's.
TEST(PlatformFiles, ProfilesAreReadFoundAndOpenedAsWindowsHasThem) {
  char scratch[] = "/tmp/platform_test_XXXXXX";
  ASSERT_NE(mkdtemp(scratch), nullptr);
  const std::string dir = scratch, self = PROFILE_READS_FILE;
  const std::string windows = self.substr(0, self.rfind('/'));
  setenv("WINDIR", windows.c_str(), 1);
  std::ofstream(dir + "/unreadable") << "[mode a]\ndriver=x\n";
  chmod((dir + "/unreadable").c_str(), 0);
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
  int asked = 0;
  for (const testtable::TableRow& f : testtable::LoadRows(self, ";= ")) {
    SCOPED_TRACE(testing::PrintToString(f));
    ++asked;
    std::string file = f.size() > 5 ? f[5] : "/", fallback = f[2];
    if (file == "@unreadable" && geteuid() == 0) continue;  // root reads it all the same
    if (file == "/" || file == "\\") file = self;
    if (f.size() > 5 && f[5] == "\\") std::replace(file.begin(), file.end(), '/', '\\');
    if (file[0] == '@') file = dir + "/" + file.substr(1);
    if (file == "\"\"") file.clear();
    std::replace(fallback.begin(), fallback.end(), '_', ' ');
    if (f[0] != ";= -") {
      char buffer[300];
      std::memset(buffer, 'X', sizeof buffer);
      const DWORD size = std::stoul(f[3]);
      EXPECT_EQ(GetPrivateProfileStringA(f[0].substr(3).c_str(), f[1].c_str(),
                                         f[2] == "(null)" ? nullptr : fallback.c_str(), buffer,
                                         size, file.c_str()),
                f[4].size());
      EXPECT_EQ(buffer + std::string("|") + buffer[size], f[4] + "|X");
    }
    if (f.size() < 7) continue;
    HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_EQ(h != INVALID_HANDLE_VALUE, f[6] == "1");
    EXPECT_EQ(PlatformLiveFileHandles(), f[6] == "1" ? 1 : 0);
    EXPECT_TRUE(f[6] != "1" || (CloseHandle(h) && !CloseHandle(h))) << "closed only once";
  }
  EXPECT_EQ(asked, 27);
  EXPECT_EQ(PlatformLiveFileHandles(), 0);
  // The Windows directory: its length + 1 when it does not fit, nothing copied.
  char buffer[PATH_MAX];
  const UINT length = static_cast<UINT>(windows.size());
  for (UINT size : {0u, length, length + 1}) {
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(GetWindowsDirectoryA(buffer, size), size > length ? length : length + 1);
    EXPECT_EQ(std::string(buffer, size > length ? length : 1), size > length ? windows : "X");
  }
  unsetenv("WINDIR");
  std::filesystem::remove_all(dir);
}

}  // namespace
