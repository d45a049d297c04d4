// Replacing tag files the way a plain overwrite would, without its risks:
// permissions, owners, links, unusual entries and failing writes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <optional>

#include "driver/platform.h"
#include "md3/md3_model.h"
#include "tests/conversion_check.h"
#include "tests/model_builder.h"
#include "tests/process_posix.h"
#include "tests/scratch_dir.h"

namespace {

mode_t ModeOf(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0 ? status.st_mode : 0;
}

class ReplacementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    builder_.frames = 2;
    builder_.tags = NumberedTags(3);
    ASSERT_TRUE(WriteFileBytes(model_path_, builder_.Build()));
  }

  // Converts the model into `tag_path`; returns WriteTagFile's result.
  bool Convert(const std::string& tag_path) {
    Md3Model model;
    return model.Load(model_path_.c_str()) &&
           model.WriteTagFile(tag_path.c_str());
  }

  ScratchDir dir_;
  ModelBuilder builder_;
  std::string model_path_ = dir_ / "model.md3";
  std::string tag_path_ = dir_ / "model.tag";
};

// Also when only the owner, or only the group, is another's; and its
// set-id bits, which giving a file away clears.
TEST_F(ReplacementTest, KeepsTheOwnerWhenRootReplacesAFile) {
  if (getuid() != 0) GTEST_SKIP() << "only root can give files away";
  for (auto [owner, group] : {std::pair{kNobody, kNobody},
                              std::pair{kNobody, 0}, std::pair{0, kNobody}}) {
    ASSERT_TRUE(WriteFileBytes(tag_path_, kOldTagFile));
    ASSERT_EQ(chown(tag_path_.c_str(), owner, group), 0);
    ASSERT_EQ(chmod(tag_path_.c_str(), 06755), 0);
    ASSERT_TRUE(Convert(tag_path_));
    struct stat status;
    ASSERT_EQ(stat(tag_path_.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, static_cast<uid_t>(owner));
    EXPECT_EQ(status.st_gid, static_cast<gid_t>(group));
    EXPECT_EQ(status.st_mode & 07777, 06755u);
  }
}

TEST_F(ReplacementTest, WritesThroughSymbolicLinks) {
  ASSERT_EQ(mkdir((dir_ / "real").c_str(), 0755), 0);
  ASSERT_TRUE(WriteFileBytes(dir_ / "real/target.tag", kOldTagFile));
  // model.tag -> middle.tag -> real/target.tag, all relative.
  ASSERT_EQ(symlink("real/target.tag", (dir_ / "middle.tag").c_str()), 0);
  ASSERT_EQ(symlink("middle.tag", tag_path_.c_str()), 0);

  ASSERT_TRUE(Convert(tag_path_));
  EXPECT_TRUE(S_ISLNK(ModeOf(tag_path_)));
  EXPECT_TRUE(S_ISLNK(ModeOf(dir_ / "middle.tag")));
  EXPECT_EQ(ReadFileBytes(dir_ / "real/target.tag"), ExpectedTagFile(builder_));
  EXPECT_EQ(dir_.List(), (std::vector<std::string>{"middle.tag", "model.md3",
                                                   "model.tag", "real"}));

  // A dangling link gets its file created, as a plain overwrite would, at
  // the end of as many links as the system follows, but not of one more.
  ASSERT_EQ(symlink("real/new.tag", (dir_ / "dangling.tag").c_str()), 0);
  ASSERT_TRUE(Convert(dir_ / "dangling.tag"));
  EXPECT_EQ(ReadFileBytes(dir_ / "real/new.tag"), ExpectedTagFile(builder_));
  for (int links : {40, 41}) {
    const std::string chain = dir_ / ("real/" + std::to_string(links) + "-");
    for (int i = 0; i < links; ++i)
      ASSERT_EQ(symlink((chain + std::to_string(i + 1)).c_str(),
                        (chain + std::to_string(i)).c_str()),
                0);
    EXPECT_EQ(Convert(chain + "0"), links == 40);
  }
}

TEST_F(ReplacementTest, LeavesEntriesThatAreNotFilesAlone) {
  ASSERT_EQ(mkdir(tag_path_.c_str(), 0755), 0);
  EXPECT_FALSE(Convert(tag_path_));
  EXPECT_TRUE(S_ISDIR(ModeOf(tag_path_)));
  ASSERT_EQ(rmdir(tag_path_.c_str()), 0);
  ASSERT_EQ(mkfifo(tag_path_.c_str(), 0644), 0);
  EXPECT_FALSE(Convert(tag_path_));
  EXPECT_TRUE(S_ISFIFO(ModeOf(tag_path_)));

  ASSERT_EQ(symlink("loop.tag", (dir_ / "loop.tag").c_str()), 0);
  EXPECT_FALSE(Convert(dir_ / "loop.tag"));
  EXPECT_EQ(dir_.List(),
            (std::vector<std::string>{"loop.tag", "model.md3", "model.tag"}));
}

TEST_F(ReplacementTest, PermissionsAreRespectedForOrdinaryUsers) {
  ASSERT_EQ(unlink(model_path_.c_str()), 0);
  const bool root = getuid() == 0;
  if (root) {
    ASSERT_EQ(chown(dir_.path().c_str(), kNobody, kNobody), 0);
    // Someone else's files: one only they may write, one the group may.
    ASSERT_TRUE(WriteFileBytes(dir_ / "theirs.tag", kOldTagFile));
    ASSERT_TRUE(WriteFileBytes(dir_ / "shared.tag", kOldTagFile));
    ASSERT_EQ(chmod((dir_ / "theirs.tag").c_str(), 0644), 0);
    ASSERT_EQ(chown((dir_ / "shared.tag").c_str(), 0, kNobody), 0);
    ASSERT_EQ(chmod((dir_ / "shared.tag").c_str(), 0664), 0);
  }
  // Everything below is done by the unprivileged user, who says on
  // standard error which check failed.
  int result = RunAsNobody([this, root]() -> int {
    const auto failed = [](const char* check) {
      (void)fprintf(stderr, "failed: %s\n", check);
      return 1;
    };
    umask(022);
    if (!WriteFileBytes(model_path_, builder_.Build()))
      return failed("writing the model");
    // A tag file the user may not write stays as it is.
    if (!WriteFileBytes(tag_path_, kOldTagFile) ||
        chmod(tag_path_.c_str(), 0444) != 0)
      return failed("making a read-only tag file");
    if (Convert(tag_path_) || ReadFileBytes(tag_path_) != kOldTagFile)
      return failed("a read-only tag file is left alone");
    if (root) {
      if (Convert(dir_ / "theirs.tag") ||
          ReadFileBytes(dir_ / "theirs.tag") != kOldTagFile)
        return failed("another user's tag file is left alone");
      if (!Convert(dir_ / "shared.tag") ||
          ReadFileBytes(dir_ / "shared.tag") != ExpectedTagFile(builder_))
        return failed("a tag file the group may write is replaced");
      if (unlink((dir_ / "theirs.tag").c_str()) != 0 ||
          unlink((dir_ / "shared.tag").c_str()) != 0)
        return failed("removing the other users' tag files");
    }
    // A model the user may not read does not load.
    Md3Model model;
    if (chmod(model_path_.c_str(), 0) != 0 || model.Load(model_path_.c_str()) ||
        chmod(model_path_.c_str(), 0644) != 0)
      return failed("an unreadable model does not load");
    // In a directory the user may not write, nothing changes either.
    if (chmod(tag_path_.c_str(), 0644) != 0 ||
        chmod(dir_.path().c_str(), 0555) != 0 || Convert(tag_path_) ||
        ReadFileBytes(tag_path_) != kOldTagFile)
      return failed("a read-only directory is left alone");
    // Once writable, it is replaced.
    if (chmod(dir_.path().c_str(), 0755) != 0 || !Convert(tag_path_) ||
        ReadFileBytes(tag_path_) != ExpectedTagFile(builder_))
      return failed("a writable directory's tag file is replaced");
    return 0;
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(dir_.List(), (std::vector<std::string>{"model.md3", "model.tag"}));
}

// With standard input closed, descriptor 0 serves as any other: for the
// model, the temporary file, and a search, which a restart lets go.
TEST_F(ReplacementTest, DescriptorZeroServesAsAnyOther) {
  EXPECT_EQ(RunInChild([this] {
              for (bool model_on_0 : {true, false}) {
                Md3Model model;
                close(0);
                if (!model_on_0 && dup2(1, 0) != 0) return 1;
                if (!model.Load(model_path_.c_str())) return 2;
                if (!model_on_0) close(0);
                if (!model.WriteTagFile(tag_path_.c_str()) ||
                    ReadFileBytes(tag_path_) != ExpectedTagFile(builder_))
                  return 3;
              }
              DirectorySearch search;
              if (!search.Start("*") || !search.Start("*")) return 4;
              search.Close();
              return fcntl(0, F_GETFD) < 0 ? 0 : 5;  // Free again.
            }),
            0);
}

}  // namespace
