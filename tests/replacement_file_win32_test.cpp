// What Windows adds to replacing a file: other programs' handles and the
// attributes a plain overwrite keeps.
#include <windows.h>

#include <gtest/gtest.h>

#include "io/replacement_file.h"
#include "tests/conversion_check.h"
#include "tests/model_builder.h"
#include "tests/scratch_dir.h"

namespace {

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
  // A new file named bare gets its temporary file beside it, dot first.
  char folder[MAX_PATH];
  ASSERT_TRUE(GetCurrentDirectoryA(MAX_PATH, folder) &&
              SetCurrentDirectoryA(dir.path().c_str()));
  EXPECT_TRUE(file.Resolve("b.tag") && file.Create());
  EXPECT_EQ(std::string(file.temporary()), ".tagbatch-" + pid + ".tmp");
  file.Discard();
  EXPECT_TRUE(SetCurrentDirectoryA(folder));
}

}  // namespace
