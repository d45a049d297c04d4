// What only Linux shows: ACLs in an extended attribute; an enforced limit on
// the address space; what a waiting process holds (/proc); vhangup.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "driver/platform.h"
#include "md3/little_endian.h"
#include "tests/conversion_check.h"
#include "tests/model_builder.h"
#include "tests/process_posix.h"
#include "tests/scratch_dir.h"
#include "tests/terminal_run_posix.h"

namespace {

// The file's access ACL as getfacl shows it; empty when it has none.
std::string AclOf(const std::string& path) {
  return RunProgram({"getfacl", "-scn", path.c_str()}, ".").out;
}

bool Setfacl(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "setfacl");
  return RunProgram(arguments, ".").status == 0;
}

// A replaced tag file keeps its mode and ACL, or lack of one, as an overwrite
// does; a new one gets what a create gives. Umask 027 trims most modes; a
// default ACL overrides it, drops the owner's write, gives a named user one.
TEST(ReplacementAclTest, TagFilesKeepTheirModeAndAclAsAnOverwriteWould) {
  ScratchDir probe;
  if (!Setfacl({"-m", "u:nobody:r", probe.path().c_str()}))
    GTEST_SKIP() << "no setfacl (Debian's acl package), or no ACLs in "
                 << probe.path();
  struct Case {
    const char* name;
    std::optional<mode_t> old_mode;  // No old tag file without one.
    const char* old_acl;             // setfacl's entries for it, or null.
    bool default_acl;                // Whether the folder has one.
  };
  // clang-format off
  const Case cases[] = {
      {"0600", 0600, nullptr, false}, {"0640", 0640, nullptr, false},
      {"0704", 0704, nullptr, false}, {"a new one", std::nullopt, nullptr, false},
      {"a named user's entry", 0644, "u:nobody:rw", false},
      {"0640 under a default ACL", 0640, nullptr, true},
      {"a named user's entry under a default ACL", 0604, "u:nobody:r", true},
      {"a new one under a default ACL", std::nullopt, nullptr, true}};
  // clang-format on
  ModelBuilder model;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const std::string tag = dir / "m.tag";
    ASSERT_TRUE(WriteFileBytes(dir / "m.md3", model.Build()));
    ASSERT_TRUE(!c.default_acl ||
                Setfacl({"-d", "-m", "u::r,u:nobody:rw,g::r,m::rw,o::-",
                         dir.path().c_str()}));
    // A plain create, which a new tag file must match; an old one is made
    // before the folder had its default ACL, then given its own.
    const mode_t umask_before = umask(027);
    close(open(tag.c_str(), O_WRONLY | O_CREAT, 0666));
    umask(umask_before);
    if (c.old_mode) {
      ASSERT_TRUE(Setfacl({"-b", tag.c_str()}));
      ASSERT_EQ(chmod(tag.c_str(), *c.old_mode), 0);
      ASSERT_TRUE(c.old_acl == nullptr ||
                  Setfacl({"-m", c.old_acl, tag.c_str()}));
      ASSERT_EQ(AclOf(tag).empty(), c.old_acl == nullptr);
    }
    const auto mode = std::filesystem::status(tag).permissions();
    const std::string acl = AclOf(tag);
    ASSERT_TRUE(c.old_mode || unlink(tag.c_str()) == 0);
    const RunResult run = RunTagbatch(dir.path(), nullptr, [] { umask(027); });
    ExpectCleanExit(run);
    EXPECT_EQ(ReadFileBytes(tag), ExpectedTagFile(model));
    EXPECT_EQ(std::filesystem::status(tag).permissions(), mode);
    EXPECT_EQ(AclOf(tag), acl);
  }
}

// The records stream through fixed buffers, so a count whose records
// would not fit in memory at once still converts.
TEST(TagbatchTest, TagCountLargerThanMemoryConverts) {
  if (!CanLimitAddressSpace())
    GTEST_SKIP() << "the sanitizers and the emulator need the address space";
  constexpr int32_t kTags = 1000000;  // 112 MB of records.
  constexpr rlim_t kAddressSpace = rlim_t{48} << 20;
  ScratchDir dir;
  ASSERT_TRUE(WriteLargeModel(dir / "large.md3", kTags));
  RunResult run =
      RunTagbatch(dir.path(), nullptr, Limit(RLIMIT_AS, kAddressSpace));
  ExpectCleanExit(run);
  EXPECT_EQ(run.out,
            "File Found: large.md3\nWriting Tag File: large.tag\n"
            "Tag file created successfully\n");
  const std::vector<uint8_t> tag_file = ReadFileBytes(dir / "large.tag");
  ASSERT_EQ(tag_file.size(), 16 + size_t{112} * kTags);
  EXPECT_EQ(DecodeInt32(tag_file.data() + 8), kTags);
}

// Whether the program holds one of `names` open but as its standard
// streams; when `in_last_write`, once blocked writing into a full pipe.
bool Holds(const TerminalRun& run, const std::vector<std::string>& names,
           bool in_last_write = false) {
  const std::string proc = "/proc/" + std::to_string(run.pid());
  EXPECT_TRUE(!in_last_write || WaitUntil([&proc] {
    const std::vector<uint8_t> waiting = ReadFileBytes(proc + "/wchan");
    return std::string(waiting.begin(), waiting.end()).find("pipe_write") !=
           std::string::npos;
  }));
  for (int fd = 3; fd < 1024; ++fd) {
    std::error_code error;
    const std::string target = std::filesystem::read_symlink(
        proc + "/fd/" + std::to_string(fd), error);
    if (std::count(names.begin(), names.end(), target) > 0) return true;
  }
  return false;
}

// The folder searched is let go before the key wait, the terminal before a
// report into a pipe that may wait for a reader for ever, foreground or not.
TEST(KeyWaitTest, NothingHeldLongerThanNeeded) {
  for (bool background : {false, true}) {
    SCOPED_TRACE(background ? "in the background" : "in the foreground");
    TerminalRun run(TerminalRun::Output::kFullPipe);
    if (background) {
      run.Start(TerminalRun::Job::kBackground);
    } else {
      run.Start();
      ASSERT_TRUE(run.WaitForKeyMode());
      EXPECT_FALSE(Holds(run, {std::filesystem::canonical(run.folder())}));
      run.Type("x");
    }
    EXPECT_FALSE(Holds(run, {"/dev/tty", run.terminal()}, true));
    EXPECT_NE(run.ReadOutputUntil("successfully\n").find("successfully"),
              std::string::npos);
    EXPECT_TRUE(run.EndsCleanly());
  }
}

// With errno left at EINTR by an earlier call, Escape alone still ends a wait
// after its pause; under nohup a terminal hung up (vhangup) reads as ended.
TEST(KeyWaitTest, WaitsEndWhateverErrnoSays) {
  if (getuid() != 0) GTEST_SKIP() << "only root may hang up a terminal";
  TerminalRun run;
  run.IgnoreAtStart(SIGHUP);
  run.Type("\x1b");
  run.Start(TerminalRun::Job::kForeground, [&run] {
    errno = EINTR;
    WaitForKey();
    // Hangs up the second wait, from the same session.
    if (fork() == 0) _exit(run.WaitForKeyMode() ? vhangup() : 1);
    errno = EINTR;
    WaitForKey();
    _exit(0);
  });
  ASSERT_TRUE(run.WaitForExit());
  EXPECT_TRUE(run.ExitedCleanly());
}

}  // namespace
