// The set of files a run has written, across the table's growth.
#include "io/written_files.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(WrittenFilesTest, RemembersEveryPathAsTheTableGrows) {
  WrittenFiles written;
  EXPECT_FALSE(written.Contains("x.tag"));
  constexpr int kPaths = 1000;  // Several doublings of the table.
  for (int i = 0; i < kPaths; ++i) {
    const std::string path = "dir/m" + std::to_string(i) + ".tag";
    ASSERT_TRUE(written.Reserve());
    written.Add(path.c_str());
  }
  for (int i = 0; i < kPaths; ++i) {
    const std::string path = "dir/m" + std::to_string(i) + ".tag";
    EXPECT_TRUE(written.Contains(path.c_str())) << path;
  }
  EXPECT_FALSE(written.Contains("dir/m1000.tag"));
  EXPECT_FALSE(written.Contains("dir/M1.tag"));
}

}  // namespace
