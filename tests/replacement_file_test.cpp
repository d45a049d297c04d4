// What a signal or console event does to a replacement in progress.
#include "io/replacement_file.h"

#include <gtest/gtest.h>

#include "tests/model_builder.h"
#include "tests/scratch_dir.h"

namespace {

TEST(ReplacementFileTest, UnfinishedReplacementIsRemovedOnRequest) {
  ScratchDir dir;
  const std::vector<uint8_t> old = {'o', 'l', 'd'};
  ASSERT_TRUE(WriteFileBytes(dir / "a.tag", old));
  // Nothing in progress: nothing happens.
  RemoveUnfinishedReplacement();
  ReplacementFile file;
  ASSERT_TRUE(file.Begin((dir / "a.tag").c_str()));
  ASSERT_TRUE(file.Write("new", 3));
  ASSERT_EQ(dir.List().size(), 2u);
  // As the handler does it, while the file is still open for writing.
  RemoveUnfinishedReplacement();
  EXPECT_FALSE(file.Commit());
  EXPECT_EQ(dir.List(), std::vector<std::string>{"a.tag"});
  EXPECT_EQ(ReadFileBytes(dir / "a.tag"), old);

  // A replacement after it is not affected.
  ReplacementFile next;
  ASSERT_TRUE(next.Begin((dir / "a.tag").c_str()));
  ASSERT_TRUE(next.Write("new", 3));
  EXPECT_TRUE(next.Commit());
  RemoveUnfinishedReplacement();
  EXPECT_EQ(ReadFileBytes(dir / "a.tag"),
            (std::vector<uint8_t>{'n', 'e', 'w'}));
}

}  // namespace
