// The set of files a run has written, across the table's growth.
#include "io/written_files.h"

#include <gtest/gtest.h>

namespace {

TEST(WrittenFilesTest, RemembersEveryFileAsTheTableGrows) {
  WrittenFiles written;
  EXPECT_FALSE(written.Contains({1, 1}));
  // The all-zero identity, which a volume may give, is a file like any.
  EXPECT_FALSE(written.Contains({0, 0}));
  ASSERT_TRUE(written.Reserve());
  written.Add({0, 0});
  constexpr uint64_t kFiles = 1000;  // Several doublings of the table.
  for (uint64_t i = 0; i < kFiles; ++i) {
    ASSERT_TRUE(written.Reserve());
    written.Add({7, i});
  }
  for (uint64_t i = 0; i < kFiles; ++i)
    EXPECT_TRUE(written.Contains({7, i})) << i;
  // The same index on another device is another file.
  EXPECT_FALSE(written.Contains({7, kFiles}));
  EXPECT_FALSE(written.Contains({8, 1}));
  EXPECT_TRUE(written.Contains({0, 0}));
}

}  // namespace
