// What a signal or console event does to a replacement in progress.
#include "io/replacement_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/model_builder.h"
#include "tests/scratch_dir.h"

namespace {

// The clean-up as the signal handler or console control handler runs it,
// in the middle of a replacement: true when the temporary file goes, the
// old file stays, and no replacement begins afterwards, since the program
// is ending.
bool CleanUpWhileReplacing() {
  ScratchDir dir;
  const std::vector<uint8_t> old = {'o', 'l', 'd'};
  const std::string path = dir / "a.tag";
  ReplacementFile file;
  if (!WriteFileBytes(path, old) || !file.Begin(path.c_str()) ||
      !file.Write("new", 3) || dir.List().size() != 2)
    return false;
  RemoveUnfinishedReplacement();
  ReplacementFile next;
  return !file.Commit() && !next.Begin(path.c_str()) &&
         dir.List() == std::vector<std::string>{"a.tag"} &&
         ReadFileBytes(path) == old;
}

// In a child process of its own, since the clean-up ends every replacement
// of the process.
TEST(ReplacementFileTest, CleanUpRemovesTheTemporaryFileAndEndsReplacing) {
  EXPECT_EXIT(exit(CleanUpWhileReplacing() ? 0 : 1),
              ::testing::ExitedWithCode(0), "");
}

}  // namespace
