// What a signal or console event does to a replacement in progress, and to
// one that has ended.
#include "io/replacement_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "tests/conversion_check.h"
#include "tests/model_builder.h"
#include "tests/scratch_dir.h"

namespace {

// The clean-up as a signal or console handler runs it mid-replacement: true if
// the temporary file goes, the old stays and later ones fail at once.
bool CleanUpWhileReplacing() {
  ScratchDir dir;
  const std::string path = dir / "a.tag";
  ReplacementFile file;
  if (!WriteFileBytes(path, kOldTagFile) || !file.Resolve(path.c_str()) ||
      !file.Create() || !file.Write("new", 3) || dir.List().size() != 2)
    return false;
  RemoveUnfinishedReplacement();
  ReplacementFile next;
  ReplacementFile after_next;
  return !file.Commit() && next.Resolve(path.c_str()) && !next.Create() &&
         after_next.Resolve(path.c_str()) && !after_next.Create() &&
         dir.List() == std::vector<std::string>{"a.tag"} &&
         ReadFileBytes(path) == kOldTagFile;
}

// In a child process of its own, since the clean-up ends every replacement
// of the process.
TEST(ReplacementFileTest, CleanUpRemovesTheTemporaryFileAndEndsReplacing) {
  EXPECT_EXIT(exit(CleanUpWhileReplacing() ? 0 : 1),
              ::testing::ExitedWithCode(0), "");
}

// How a replacement ended before the clean-up runs.
enum class Ending { kCommitted, kDiscarded, kNoFreeName };

// The clean-up after a replacement has ended: true when the files that now
// have its temporary names, someone else's, all survive it.
bool OthersFilesSurviveCleanUp(Ending ending) {
  ScratchDir dir;
  const std::string path = dir / "a.tag";
  ReplacementFile file;
  if (!file.Resolve(path.c_str()) || !file.Create()) return false;
  const std::string first = file.temporary();
  if (ending == Ending::kCommitted ? !file.Commit() : (file.Discard(), false))
    return false;
  std::vector<std::string> others = {first};
  // For a Create that finds no free name: every name it tries, 100 as the
  // manual page says.
  for (int i = 1; ending == Ending::kNoFreeName && i < 100; ++i)
    others.push_back(first.substr(0, first.size() - 4) + "-" +
                     std::to_string(i) + ".tmp");
  for (const std::string& name : others) {
    if (!WriteFileBytes(name, kOldTagFile)) return false;
  }
  if (ending == Ending::kNoFreeName &&
      (!file.Resolve(path.c_str()) || file.Create()))
    return false;
  RemoveUnfinishedReplacement();
  file.Discard();  // As its destructor does.
  return std::all_of(others.begin(), others.end(), [](const std::string& name) {
    return ReadFileBytes(name) == kOldTagFile;
  });
}

TEST(ReplacementFileTest, CleanUpAfterAReplacementEndedRemovesNothing) {
  for (Ending ending :
       {Ending::kCommitted, Ending::kDiscarded, Ending::kNoFreeName}) {
    SCOPED_TRACE(static_cast<int>(ending));
    EXPECT_EXIT(exit(OthersFilesSurviveCleanUp(ending) ? 0 : 1),
                ::testing::ExitedWithCode(0), "");
  }
}

}  // namespace
