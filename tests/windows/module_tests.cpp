// The filter module as Windows loads it: its string table and version
// resource read by the system. (Its exports and the companion's ordinals
// are checked without running them: product_check.cmake.)
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(WindowsModules, StringTableAndVersionResourceHoldTheFilterTexts) {
  HMODULE filter = LoadLibraryA("gifin.dll");
  ASSERT_NE(filter, nullptr) << GetLastError();
  const std::pair<UINT, const char*> strings[] = {
      {0, "~Defaults"}, {1, "~Mode"}, {4, "Driver"},   {5, "ColorTableSource"}, {7, "Font"},
      {8, "Color"},     {9, "FILE"},  {10, "PROFILE"}, {5103, "GIF Import"},    {5104, ""}};
  for (const auto& [id, expected] : strings) {
    char text[260] = {};
    EXPECT_EQ(LoadStringA(filter, id, text, sizeof text), int(std::string(expected).size())) << id;
    EXPECT_STREQ(text, expected) << id;
  }
  char path[MAX_PATH] = {};
  ASSERT_NE(GetModuleFileNameA(filter, path, MAX_PATH), 0u);
  DWORD ignored = 0;
  std::vector<char> info(GetFileVersionInfoSizeA(path, &ignored));
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(GetFileVersionInfoA(path, 0, static_cast<DWORD>(info.size()), info.data()));
  for (const auto& [key, expected] :
       {std::pair{"FileDescription", "GIF Graphic Import Filter"},
        {"FilterDefinitions", "Graphics Interchange Format,0,.GIF"}}) {
    char* value = nullptr;
    UINT length = 0;
    const std::string query = std::string("\\StringFileInfo\\040904E4\\") + key;
    ASSERT_TRUE(
        VerQueryValueA(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
        << key;
    EXPECT_STREQ(value, expected);
  }
  FreeLibrary(filter);
}

}  // namespace
