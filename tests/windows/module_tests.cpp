// The built modules as Windows loads them: the filter's twelve exports by
// name and nothing else, the companion's operations by ordinal only, and the
// filter's string table and version resource read by the system.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct LoadedModule {
  explicit LoadedModule(const char* name) : handle(LoadLibraryA(name)) {}
  ~LoadedModule() {
    if (handle) FreeLibrary(handle);
  }
  HMODULE handle;
};

TEST(WindowsModules, FilterExportsTheTwelveNamesAndNoOthers) {
  LoadedModule filter("gifin.dll");
  ASSERT_NE(filter.handle, nullptr) << GetLastError();
  for (const char* name : {"ImportFile", "CreateSetup", "DestroySetup", "EditSetup", "EscapeSetup",
                           "GetFileInfo", "GetFilterInfo", "GetFilterPref", "ImportGR", "ImportCB",
                           "ImportEmbeddedGR", "QVRGetFilterVersion"}) {
    EXPECT_NE(GetProcAddress(filter.handle, name), nullptr) << name;
  }
  // Neither the entry routine nor decorated aliases nor the module's state.
  for (const char* name : {"DllMain", "DllMain@12", "_ImportFile@20", "ImportFile@20",
                           "moduleInstance", "QvStreamOpen"}) {
    EXPECT_EQ(GetProcAddress(filter.handle, name), nullptr) << name;
  }
}

TEST(WindowsModules, CompanionExportsEveryOperationByOrdinalOnly) {
  LoadedModule companion("QvGdi32.dll");
  ASSERT_NE(companion.handle, nullptr) << GetLastError();
  const struct {
    WORD ordinal;
    const char* name;
  } kOperations[] = {
#define QV_ORDINAL(ordinal, name, bytes) {ordinal, #name},
#include "companion/ordinals.inc"
#undef QV_ORDINAL
  };
  std::vector<FARPROC> seen;
  for (const auto& operation : kOperations) {
    FARPROC address = GetProcAddress(companion.handle, MAKEINTRESOURCEA(operation.ordinal));
    EXPECT_NE(address, nullptr) << operation.name;
    EXPECT_EQ(GetProcAddress(companion.handle, operation.name), nullptr) << operation.name;
    for (FARPROC other : seen) EXPECT_NE(address, other) << operation.name;
    seen.push_back(address);
  }
}

TEST(WindowsModules, StringTableAndVersionResourceHoldTheFilterTexts) {
  LoadedModule filter("gifin.dll");
  ASSERT_NE(filter.handle, nullptr);
  const struct {
    UINT id;
    const char* text;
  } kStrings[] = {{0, "~Defaults"},    {1, "~Mode"}, {4, "Driver"}, {5, "ColorTableSource"},
                  {7, "Font"},         {8, "Color"}, {9, "FILE"},   {10, "PROFILE"},
                  {5103, "GIF Import"}};
  for (const auto& entry : kStrings) {
    char text[260] = {};
    EXPECT_EQ(LoadStringA(filter.handle, entry.id, text, sizeof text),
              static_cast<int>(std::string(entry.text).size()))
        << entry.id;
    EXPECT_STREQ(text, entry.text) << entry.id;
  }
  char text[8] = {};
  EXPECT_EQ(LoadStringA(filter.handle, 5104, text, sizeof text), 0);

  char path[MAX_PATH] = {};
  ASSERT_NE(GetModuleFileNameA(filter.handle, path, MAX_PATH), 0u);
  DWORD ignored = 0;
  std::vector<char> info(GetFileVersionInfoSizeA(path, &ignored));
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(GetFileVersionInfoA(path, 0, static_cast<DWORD>(info.size()), info.data()));
  const struct {
    const char* key;
    const char* value;
  } kValues[] = {{"FileDescription", "GIF Graphic Import Filter"},
                 {"FilterDefinitions", "Graphics Interchange Format,0,.GIF"}};
  for (const auto& entry : kValues) {
    char* value = nullptr;
    UINT length = 0;
    const std::string query = std::string("\\StringFileInfo\\040904E4\\") + entry.key;
    ASSERT_TRUE(
        VerQueryValueA(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
        << entry.key;
    EXPECT_STREQ(value, entry.value);
  }
}

}  // namespace
