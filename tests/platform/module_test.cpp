// Module instances, string loading, module paths and metafile handles.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

#include "platform/linux/module_registry.h"
#include "platform/platform_test.h"

namespace {

const ModuleStringResource kStrings[] = {{1, "~Mode"}, {5103, "GIF Import"}, {7, ""}};
const ModuleVersionValue kVersion[] = {{"FileDescription", "GIF Graphic Import Filter"}};
const ModuleResources kResources = {kStrings, 3, kVersion, 1};

std::string ExecutablePath() {
  char path[PATH_MAX] = {};
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

TEST(PlatformModules, LoadStringCopiesAtMostMaxMinusOne) {
  HINSTANCE instance =
      StandInRegisterModule(reinterpret_cast<const void*>(&ExecutablePath), &kResources);
  ASSERT_NE(instance, nullptr);
  const auto unregistered = reinterpret_cast<HINSTANCE>(const_cast<ModuleResources*>(&kResources));
  const struct {
    HINSTANCE instance;
    UINT id;
    int max;
    const char* expect;
  } cases[] = {
      {instance, 5103, 260, "GIF Import"},
      {instance, 5103, 11, "GIF Import"},
      {instance, 5103, 10, "GIF Impor"},
      {instance, 5103, 1, ""},
      {instance, 1, 260, "~Mode"},
      {instance, 7, 260, ""},
      {instance, 2, 260, ""},  // no such id
      {nullptr, 1, 260, ""},
      {unregistered, 1, 260, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.id) + " max " + std::to_string(c.max));
    char buffer[300];
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(LoadStringA(c.instance, c.id, buffer, c.max),
              static_cast<int>(std::strlen(c.expect)));
    EXPECT_STREQ(buffer, c.expect);
    EXPECT_EQ(buffer[c.max], 'X');
  }

  // Each registration is matched by its own unregistration.
  EXPECT_EQ(StandInRegisterModule(reinterpret_cast<const void*>(&kResources), nullptr), instance);
  char buffer[16];
  for (int loaded : {5, 0}) {
    StandInUnregisterModule(instance);
    EXPECT_EQ(LoadStringA(instance, 1, buffer, 16), loaded);
  }
}

TEST(PlatformModules, ModuleFileNameIsTheFullPathWithWindowsTruncation) {
  const std::string exe = ExecutablePath();
  ASSERT_FALSE(exe.empty());
  HINSTANCE self = StandInRegisterModule(reinterpret_cast<const void*>(&ExecutablePath), nullptr);
  HINSTANCE library = StandInRegisterModule(reinterpret_cast<const void*>(&GlobalAlloc), nullptr);
  ASSERT_TRUE(self && library);
  EXPECT_NE(self, library);
  char buffer[PATH_MAX];
  for (HMODULE module : {static_cast<HMODULE>(nullptr), self}) {
    EXPECT_EQ(GetModuleFileNameA(module, buffer, sizeof buffer), exe.size());
    EXPECT_EQ(exe, buffer);
  }
  const std::string path(buffer, GetModuleFileNameA(library, buffer, sizeof buffer));
  EXPECT_EQ(path[0], '/');
  EXPECT_NE(path.find("libWinPlatform.so"), std::string::npos) << path;

  const auto size = static_cast<DWORD>(exe.size());
  std::memset(buffer, 'X', sizeof buffer);
  EXPECT_EQ(GetModuleFileNameA(self, buffer, size), size);
  EXPECT_EQ(std::string(buffer), exe.substr(0, size - 1));
  EXPECT_EQ(GetModuleFileNameA(self, buffer, 0), 0u);
  int local = 0;
  EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(&local), buffer, sizeof buffer), 0u);
  StandInUnregisterModule(self);
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
  EXPECT_EQ(GetObjectType(enhanced), static_cast<DWORD>(OBJ_ENHMETAFILE));
  EXPECT_EQ(GetObjectType(plain), static_cast<DWORD>(OBJ_METAFILE));
  EXPECT_EQ(GetObjectType(memory), 0u);
  EXPECT_EQ(GetObjectType(nullptr), 0u);

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
  EXPECT_TRUE(DeleteEnhMetaFile(enhanced));
  EXPECT_TRUE(DeleteMetaFile(plain));
  EXPECT_FALSE(DeleteEnhMetaFile(enhanced));
  EXPECT_EQ(GetObjectType(enhanced), 0u);
  EXPECT_EQ(PlatformLiveMetafiles(), before);
  EXPECT_EQ(SetEnhMetaFileBits(0, bytes), nullptr);
  GlobalFree(memory);
}

}  // namespace
