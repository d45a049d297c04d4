// What a signal or console event does to a replacement in progress.
#include "io/replacement_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/model_builder.h"
#include "tests/scratch_dir.h"

namespace {

// The clean-up as the signal handler or console control handler runs it:
// the temporary file goes, the old file stays, and no replacement begins
// afterwards, since the program is ending. Returns the first thing that
// went wrong, or an empty string.
std::string CleanUpWhileReplacing() {
  ScratchDir dir;
  const std::vector<uint8_t> old = {'o', 'l', 'd'};
  const std::string path = dir / "a.tag";
  if (!WriteFileBytes(path, old)) return "cannot write a.tag";
  ReplacementFile file;
  if (!file.Begin(path.c_str()) || !file.Write("new", 3))
    return "cannot begin a replacement";
  if (dir.List().size() != 2) return "no temporary file";
  // While the file is still open for writing.
  RemoveUnfinishedReplacement();
  if (file.Commit()) return "committed after the clean-up";
  if (dir.List() != std::vector<std::string>{"a.tag"})
    return "the temporary file is still there";
  if (ReadFileBytes(path) != old) return "a.tag has changed";
  ReplacementFile next;
  if (next.Begin(path.c_str())) return "a replacement began afterwards";
  if (dir.List() != std::vector<std::string>{"a.tag"})
    return "a new temporary file appeared";
  return "";
}

// In a child process of its own: the clean-up ends every replacement of
// the process.
TEST(ReplacementFileTest, CleanUpRemovesTheTemporaryFileAndEndsReplacing) {
  EXPECT_EXIT(
      {
        const std::string problem = CleanUpWhileReplacing();
        (void)fprintf(stderr, "%s", problem.c_str());
        exit(problem.empty() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "^$");
}

}  // namespace
