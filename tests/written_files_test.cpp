// The set of files a run has written, across the table's growth.
#include "io/written_files.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// In many tables of scattered identities, where a probe that skipped slots
// would, in some table, find none free.
TEST(WrittenFilesTest, RemembersEveryFileAsTheTableGrows) {
  uint64_t state = 1;
  for (int table = 0; table < 1000; ++table) {
    WrittenFiles written;
    // The all-zero identity, which a volume may give, is a file like any.
    EXPECT_FALSE(written.Contains({0, 0}));
    ASSERT_TRUE(written.Reserve());
    written.Add({0, 0});
    std::vector<FileIdentity> files(200);  // Several doublings of the table.
    for (FileIdentity& file : files) {
      state = state * 6364136223846793005u + 1442695040888963407u;
      file = {7, state};
      ASSERT_TRUE(written.Reserve());
      written.Add(file);
    }
    for (const FileIdentity& file : files) ASSERT_TRUE(written.Contains(file));
    EXPECT_FALSE(written.Contains({8, files[0].index}));  // Another device.
    EXPECT_FALSE(written.Contains({7, state + 1}));
    EXPECT_TRUE(written.Contains({0, 0}));
  }
}

}  // namespace
