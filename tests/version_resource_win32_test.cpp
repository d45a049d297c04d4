// The program's version resource, read back as Explorer's Properties page
// reads it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The version resource of tagbatch.exe, which lies one folder up.
std::vector<char> ProgramVersionInfo() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string program(path, length);
  program.resize(program.find_last_of("\\/"));
  program.resize(program.find_last_of("\\/") + 1);
  program += "tagbatch.exe";
  DWORD ignored = 0;
  std::vector<char> info(GetFileVersionInfoSizeA(program.c_str(), &ignored));
  if (info.empty() ||
      !GetFileVersionInfoA(program.c_str(), 0, static_cast<DWORD>(info.size()),
                           info.data()))
    info.clear();
  return info;
}

std::string Text(const std::vector<char>& info, const char* name) {
  void* value = nullptr;
  UINT size = 0;
  const std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
  if (!VerQueryValueA(info.data(), key.c_str(), &value, &size) || size == 0)
    return "";
  return static_cast<const char*>(value);
}

TEST(VersionResourceTest, CarriesTheProjectsVersion) {
  const std::vector<char> info = ProgramVersionInfo();
  ASSERT_FALSE(info.empty());
  EXPECT_EQ(Text(info, "ProductVersion"), TAGBATCH_VERSION);
  EXPECT_EQ(Text(info, "FileVersion"), TAGBATCH_VERSION);

  void* value = nullptr;
  UINT size = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", &value, &size));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                std::to_string(HIWORD(fixed->dwFileVersionLS)),
            TAGBATCH_VERSION);
}

}  // namespace
