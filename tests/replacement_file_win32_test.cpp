// What Windows adds: others' handles, attributes, odd file systems, searches
// and the console.
#include <windows.h>

#include <gtest/gtest.h>

#include "driver/platform.h"
#include "io/replacement_file.h"
#include "md3/md3_model.h"
#include "tests/conversion_check.h"
#include "tests/model_builder.h"
#include "tests/scratch_dir.h"

namespace {

// Points this program's calls of the system's `from` at `to` in its import
// table; returns what the table held (the compiler may reread `from`).
template <typename Function>
Function Redirect(Function from, Function to) {
  Function was = from;
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
  const IMAGE_DATA_DIRECTORY& table =
      reinterpret_cast<IMAGE_NT_HEADERS*>(
          base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew)
          ->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT];
  auto* slots = reinterpret_cast<Function*>(base + table.VirtualAddress);
  for (size_t i = 0; i < table.Size / sizeof *slots; ++i) {
    DWORD protection;
    if (slots[i] != from ||
        !VirtualProtect(&slots[i], sizeof *slots, PAGE_READWRITE, &protection))
      continue;
    was = slots[i];
    slots[i] = to;
    VirtualProtect(&slots[i], sizeof *slots, protection, &protection);
  }
  return was;
}

decltype(&WriteFile) g_write;
decltype(&GetFileInformationByHandle) g_information;
// Every index is told as 7, the marked one's with its highest bit or
// another volume's serial number; with none marked, no identity is told.
DWORD g_marked = 0;
bool g_other_volume = false;

// Writes at most 100 bytes a call.
BOOL WINAPI WritePart(HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                      LPOVERLAPPED at) {
  return g_write(file, data, size < 100 ? size : 100, written, at);
}

BOOL WINAPI TellIndex(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
  if (g_marked == 0 || !g_information(file, information)) return FALSE;
  const bool marked = information->nFileIndexLow == g_marked;
  information->nFileIndexHigh = marked && !g_other_volume ? 0x80000000 : 0;
  information->dwVolumeSerialNumber ^= marked && g_other_volume ? 1 : 0;
  information->nFileIndexLow = 7;
  return TRUE;
}

// A commit that fails because another program holds the tag file open,
// and a replacement given up after a failed write, leave no temporary file.
TEST(ReplacementFileWin32Test, FailuresLeaveNoTemporaryFile) {
  ScratchDir dir;
  const std::string path = dir / "a.tag";
  ASSERT_TRUE(WriteFileBytes(path, kOldTagFile));
  HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  ReplacementFile blocked;
  ASSERT_TRUE(blocked.Resolve(path.c_str()) && blocked.Create());
  ASSERT_TRUE(blocked.Write("new", 3));
  EXPECT_FALSE(blocked.Commit());
  CloseHandle(held);
  EXPECT_EQ(dir.List(), std::vector<std::string>{"a.tag"});

  ReplacementFile abandoned;
  ASSERT_TRUE(abandoned.Resolve(path.c_str()) && abandoned.Create());
  ASSERT_TRUE(abandoned.Write("new", 3));
  abandoned.Discard();
  EXPECT_EQ(dir.List(), std::vector<std::string>{"a.tag"});
  EXPECT_EQ(ReadFileBytes(path), kOldTagFile);
}

TEST(ReplacementFileWin32Test, KeepsHiddenAndSystemAttributes) {
  ScratchDir dir;
  const std::string path = dir / "a.tag";
  ASSERT_TRUE(WriteFileBytes(path, kOldTagFile));
  constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), kKept));
  ASSERT_EQ(GetFileAttributesA(path.c_str()) & kKept, kKept);
  ReplacementFile file;
  ASSERT_TRUE(file.Resolve(path.c_str()) && file.Create());
  // Two runs in one folder at once try different names.
  const std::string pid = std::to_string(GetCurrentProcessId());
  EXPECT_NE(std::string(file.temporary()).find(".tagbatch-" + pid + ".tmp"),
            std::string::npos);
  ASSERT_TRUE(file.Write("new", 3));
  ASSERT_TRUE(file.Commit());
  EXPECT_EQ(GetFileAttributesA(path.c_str()) & kKept, kKept);
  EXPECT_EQ(ReadFileBytes(path), (std::vector<uint8_t>{'n', 'e', 'w'}));
  // A new file named bare: its temporary file beside it, dot first, plain,
  // under the next name when the first is taken.
  char folder[MAX_PATH];
  ASSERT_TRUE(GetCurrentDirectoryA(MAX_PATH, folder) &&
              SetCurrentDirectoryA(dir.path().c_str()) &&
              WriteFileBytes(".tagbatch-" + pid + ".tmp", kOldTagFile));
  EXPECT_TRUE(file.Resolve("b.tag") && file.Create());
  EXPECT_EQ(GetFileAttributesA(file.temporary()) & FILE_ATTRIBUTE_SYSTEM, 0u);
  EXPECT_EQ(std::string(file.temporary()), ".tagbatch-" + pid + "-1.tmp");
  file.Discard();
  EXPECT_TRUE(SetCurrentDirectoryA(folder));
}

// A file system may write in parts or tell no identity; files may differ in the
// index's top bit alone (reused records) or volume (links to other drives).
TEST(ReplacementFileWin32Test, FileSystemsOtherThanLocalDisks) {
  ScratchDir dir;
  ModelBuilder model;
  model.tags = NumberedTags(50);
  const auto convert = [&](Md3Model& reader, const std::string& name) {
    const bool converted =
        WriteFileBytes(dir / (name + ".md3"), model.Build()) &&
        reader.Load((dir / (name + ".md3")).c_str()) &&
        reader.WriteTagFile((dir / (name + ".tag")).c_str());
    reader.Close();
    return converted &&
           ReadFileBytes(dir / (name + ".tag")) == ExpectedTagFile(model);
  };
  Md3Model part;
  g_write = Redirect(&WriteFile, WritePart);
  EXPECT_TRUE(convert(part, "part"));
  Redirect(WritePart, g_write);

  g_information = Redirect(&GetFileInformationByHandle, TellIndex);
  for (bool existing : {true, false})
    ExpectConversionFailsHarmlessly(dir, dir / "part.md3", dir / "c.tag",
                                    existing);
  ASSERT_TRUE(WriteFileBytes(dir / "b.tag", kOldTagFile));
  for (bool other_volume : {false, true}) {
    SCOPED_TRACE(other_volume);
    HANDLE old = CreateFileA((dir / "b.tag").c_str(), FILE_READ_ATTRIBUTES, 0,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION information;
    ASSERT_TRUE(g_information(old, &information));
    CloseHandle(old);
    g_marked = information.nFileIndexLow;
    g_other_volume = other_volume;
    Md3Model reader;  // One for both, as a run has.
    EXPECT_TRUE(convert(reader, "a"));
    EXPECT_TRUE(convert(reader, "b"));
  }
  g_marked = 0;
  Redirect(TellIndex, g_information);
}

// An ended search holds its folder no longer, so others may move it in the key
// wait. A search started again ends the one before, finding nothing or not.
TEST(DirectorySearchWin32Test, AnEndedSearchHoldsItsFolderNoLonger) {
  ScratchDir dir;
  const std::string folder = dir / "models";
  char current[MAX_PATH];
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr) &&
              WriteFileBytes(folder + "/a.md3", {}) &&
              WriteFileBytes(folder + "/b.md3", {}) &&
              GetCurrentDirectoryA(MAX_PATH, current) &&
              SetCurrentDirectoryA(folder.c_str()));
  DirectorySearch search;
  EXPECT_TRUE(search.Start("*.md3"));
  EXPECT_FALSE(search.Start("*.tag") || search.Next());
  search.Close();
  ASSERT_TRUE(SetCurrentDirectoryA(current));
  EXPECT_TRUE(MoveFileA(folder.c_str(), (dir / "moved").c_str()));
}

decltype(&MultiByteToWideChar) g_to_wide;
std::wstring g_shown;

// Standard output a console that shows what is written in g_shown; UTF-8 takes
// flags as on Windows, stricter than Wine: none but MB_ERR_INVALID_CHARS.
BOOL WINAPI ConsoleMode(HANDLE, LPDWORD mode) { return *mode = 0, TRUE; }
BOOL WINAPI ShowOnConsole(HANDLE, const VOID* text, DWORD length,
                          LPDWORD written, LPVOID) {
  g_shown.append(static_cast<const wchar_t*>(text), length);
  return *written = length, TRUE;
}
int WINAPI ToWide(UINT page, DWORD flags, LPCCH text, int size, LPWSTR wide,
                  int capacity) {
  const bool utf8 = page == CP_UTF8 || (page == CP_ACP && GetACP() == CP_UTF8);
  return utf8 && (flags & ~MB_ERR_INVALID_CHARS) != 0
             ? 0
             : g_to_wide(page, flags, text, size, wide, capacity);
}

// A name shows on the console as the characters it spells in the program's code
// page (UTF-8, by the manifest the tests share); in a process of its own.
TEST(ConsoleOutputWin32Test, NamesShowAsTheCharactersTheySpell) {
  EXPECT_EXIT(
      {
        Redirect(&GetConsoleMode, ConsoleMode);
        Redirect(&WriteConsoleW, ShowOnConsole);
        g_to_wide = Redirect(&MultiByteToWideChar, ToWide);
        SetUpStandardOutput();
        WriteOutput("caf\xc3\xa9\n");
        exit(g_shown == L"caf\u00e9\n" ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
