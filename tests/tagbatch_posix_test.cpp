// The program end to end, run with no terminal in fresh directories.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <map>

#include "md3/little_endian.h"
#include "tests/conversion_check.h"
#include "tests/model_builder.h"
#include "tests/process_posix.h"
#include "tests/scratch_dir.h"

namespace {

// The entries of `directory` in the order the system lists them.
std::vector<std::string> SystemOrder(const std::string& directory) {
  std::vector<std::string> names;
  DIR* dir = opendir(directory.c_str());
  while (const dirent* entry = readdir(dir)) names.emplace_back(entry->d_name);
  closedir(dir);
  return names;
}

// What the program prints for `found` and, if it loads, `tag_name`.
std::string Loaded(const std::string& found, const std::string& tag_name,
                   bool written) {
  return "File Found: " + found + "\nWriting Tag File: " + tag_name + "\n" +
         (written ? "Tag file created successfully\n"
                  : "Failed to write tag file\n");
}
std::string NotLoaded(const std::string& found) {
  return "File Found: " + found + "\nFailed to load md3\n";
}

// The expected output: each entry's lines in the system's listing order.
std::string InListingOrder(
    const std::string& directory,
    const std::vector<std::pair<std::string, std::string>>& lines_by_name) {
  std::string out;
  for (const std::string& name : SystemOrder(directory)) {
    for (const auto& entry : lines_by_name) {
      if (entry.first == name) out += entry.second;
    }
  }
  return out;
}

// The samples give tests/expected's report, as the builder says, in listing
// order, and its tag files; arguments are ignored; a second run rewrites.
TEST(TagbatchTest, SamplesGiveTheExpectedReportAndTagFiles) {
  ScratchDir dir;
  std::string report;
  std::vector<std::string> names;
  for (const SampleModel& sample : SampleModels()) {
    const std::string& name = sample.file_name;
    ASSERT_TRUE(WriteFileBytes(dir / name, sample.bytes));
    const bool converts = sample.outcome == SampleModel::Outcome::kConverts;
    report += sample.outcome == SampleModel::Outcome::kFailsToLoad
                  ? NotLoaded(name)
                  : Loaded(name, TagNameOf(name), converts);
    names.push_back(name);
    if (converts) names.push_back(TagNameOf(name));
  }
  const std::vector<uint8_t> committed =
      ReadFileBytes(SourcePath("tests/expected/report.txt"));
  const auto lines =
      ReportByModel(std::string(committed.begin(), committed.end()));
  ASSERT_EQ(lines, ReportByModel(report));
  RunResult run = RunTagbatch(dir.path(), "--ignored-argument");
  ExpectCleanExit(run);
  EXPECT_EQ(run.out, InListingOrder(dir.path(), {lines.begin(), lines.end()}));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(dir.List(), names);
  for (const SampleModel& sample : SampleModels())  // As tests/expected.
    EXPECT_TRUE(sample.tag_file.empty() ||
                ReadFileBytes(dir / TagNameOf(sample.file_name)) ==
                    sample.tag_file);
  const std::vector<uint8_t> upper = ReadFileBytes(dir / "upper.tag");
  ASSERT_TRUE(WriteFileBytes(dir / "upper.tag", {'s', 't', 'a', 'l', 'e'}));
  const RunResult second = RunTagbatch(dir.path());
  ExpectCleanExit(second);
  EXPECT_EQ(second.out, run.out);
  EXPECT_EQ(ReadFileBytes(dir / "upper.tag"), upper);
  EXPECT_EQ(dir.List(), names);
}

// Entries of every kind are taken when their names end in ".md3", in any
// case, and no others: alone, those give "No Files Found".
TEST(TagbatchTest, EveryEntryNamedLikeAModelIsTakenAndNoOther) {
  ScratchDir dir;
  for (const char* name : {"a.md3x", "a.md", "md3", "a.tag", "a.md3.bak"})
    ASSERT_TRUE(WriteFileBytes(dir / name, {'z'}));
  RunResult empty = RunTagbatch(dir.path());
  ExpectCleanExit(empty);
  EXPECT_EQ(empty.out, "No Files Found\n");
  EXPECT_EQ(dir.List().size(), 5u);
  ModelBuilder model;
  model.tags = NumberedTags(1);
  // Into a pipe, control characters stay as they are.
  const std::vector<std::string> models = {
      "UPPER.MD3",      "x.Md3",           ".md3",         ".hidden.md3",
      "with space.md3", "caf\xc3\xa9.md3", "\xff\xfe.md3", "\x1b[2J\x7f.md3"};
  std::vector<std::pair<std::string, std::string>> lines;
  for (const std::string& name : models) {
    const bool written = WriteFileBytes(dir / name, model.Build());
    if (!written && errno == EILSEQ) continue;  // APFS takes UTF-8 alone.
    ASSERT_TRUE(written) << name;
    lines.emplace_back(name, Loaded(name, TagNameOf(name), true));
  }
  ASSERT_EQ(symlink("UPPER.MD3", (dir / "link.md3").c_str()), 0);
  lines.emplace_back("link.md3", Loaded("link.md3", "link.tag", true));
  ASSERT_EQ(mkdir((dir / "folder.md3").c_str(), 0755), 0);
  ASSERT_EQ(symlink("nowhere", (dir / "dangling.md3").c_str()), 0);
  ASSERT_EQ(symlink("/dev/zero", (dir / "zero.md3").c_str()), 0);
  ASSERT_EQ(symlink("/dev/null", (dir / "null.md3").c_str()), 0);
  // Opening a FIFO must not wait for a writer, nor reading a device end.
  ASSERT_EQ(mkfifo((dir / "fifo.md3").c_str(), 0644), 0);
  for (const char* name :
       {"folder.md3", "dangling.md3", "zero.md3", "null.md3", "fifo.md3"})
    lines.emplace_back(name, NotLoaded(name));

  RunResult run = RunTagbatch(dir.path());
  ExpectCleanExit(run);
  EXPECT_EQ(run.out, InListingOrder(dir.path(), lines));
  EXPECT_EQ(ReadFileBytes(dir / "UPPER.tag"), ExpectedTagFile(model));
  EXPECT_EQ(ReadFileBytes(dir / ".tag"), ExpectedTagFile(model));
}

TEST(TagbatchTest, ReportsEachOfManyModelsOnce) {
  constexpr int kModels = 10000;
  ScratchDir dir;
  ModelBuilder model;
  model.tags = NumberedTags(1);
  const std::vector<uint8_t> bytes = model.Build();
  for (int i = 0; i < kModels; ++i) {
    std::string number = std::to_string(i);
    ASSERT_TRUE(WriteFileBytes(dir / ("m" + number + ".md3"), bytes));
    if (i % 10 == 0) {
      ASSERT_TRUE(WriteFileBytes(dir / ("other" + number + ".txt"), {'x'}));
    }
  }
  RunResult run = RunTagbatch(dir.path());
  ExpectCleanExit(run);
  // Every model once, in the listing's order; nothing else.
  std::string expected;
  for (const std::string& name : SystemOrder(dir.path())) {
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".md3") == 0)
      expected += Loaded(name, TagNameOf(name), true);
  }
  EXPECT_EQ(run.out, expected);
  EXPECT_EQ(dir.List().size(), 2u * kModels + kModels / 10);
}

bool IsLink(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

// Models sharing a tag file: x.md3 and x.MD3 both give x.tag; a link, spelled
// any way, may lead there too. The first listed writes it; others fail.
TEST(TagbatchTest, ModelsSharingATagFileDoNotReplaceEachOthers) {
  struct Case {
    std::vector<std::pair<std::string, int>> models;  // Name, tags.
    // Name, target; an empty target is the shared file's absolute path.
    std::vector<std::pair<std::string, std::string>> links;
    std::string shared;  // The one file they all lead to.
    std::vector<std::string> listing;
  };
  const std::vector<Case> cases = {
      {{{"x.md3", 1}, {"x.MD3", 2}}, {}, "x.tag", {"x.MD3", "x.md3", "x.tag"}},
      {{{"b.md3", 2}, {"a.md3", 1}, {"c.md3", 3}},
       {{"a.tag", "./b.tag"}, {"c.tag", ""}},
       "b.tag",
       {"a.md3", "a.tag", "b.md3", "b.tag", "c.md3", "c.tag"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shared);
    ScratchDir scratch;
    const std::string& dir = scratch.path();
    std::map<std::string, ModelBuilder> models;
    for (const auto& [name, tags] : c.models) {
      models[name].tags = NumberedTags(tags, tags);
      ASSERT_TRUE(WriteFileBytes(scratch / name, models[name].Build()));
    }
    // One file where letter case is ignored (APFS, as macOS has it).
    if (scratch.List().size() < c.models.size()) continue;
    for (const auto& [name, target] : c.links) {
      const std::string to = target.empty() ? scratch / c.shared : target;
      ASSERT_EQ(symlink(to.c_str(), (scratch / name).c_str()), 0);
    }
    std::string first;
    std::vector<std::pair<std::string, std::string>> lines;
    for (const std::string& name : SystemOrder(dir)) {
      if (models.count(name) == 0) continue;
      if (first.empty()) first = name;
      lines.emplace_back(name, Loaded(name, TagNameOf(name), name == first));
    }
    RunResult run = RunTagbatch(dir);
    ExpectCleanExit(run);
    EXPECT_EQ(run.out, InListingOrder(dir, lines));
    EXPECT_EQ(ReadFileBytes(scratch / c.shared),
              ExpectedTagFile(models[first]));
    EXPECT_EQ(scratch.List(), c.listing);
  }
}

// Links in folders others write are followed as the system would: in a sticky
// world-writable one, only ours or its owner's, each judged in its own folder.
TEST(TagbatchTest, LinksInFoldersOthersWriteAreFollowedAsTheSystemWould) {
  if (getuid() != 0) GTEST_SKIP() << "only root can give links away";
  struct Case {
    mode_t drop_mode;
    int drop_owner;
    int link_owner;
    bool chained;  // x.tag is our link, elsewhere, to the link in the drop.
    bool followed;
  };
  // clang-format off
  const Case cases[] = {
      {/*drop_mode=*/01777, /*drop_owner=*/0, /*link_owner=*/kNobody, /*chained=*/false, /*followed=*/false},
      {/*drop_mode=*/01777, /*drop_owner=*/0, /*link_owner=*/0, /*chained=*/false, /*followed=*/true},
      {/*drop_mode=*/01777, /*drop_owner=*/kNobody, /*link_owner=*/kNobody, /*chained=*/false, /*followed=*/true},
      {/*drop_mode=*/0777, /*drop_owner=*/0, /*link_owner=*/kNobody, /*chained=*/false, /*followed=*/true},
      {/*drop_mode=*/01777, /*drop_owner=*/0, /*link_owner=*/kNobody, /*chained=*/true, /*followed=*/false},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    ScratchDir dir;
    const std::string drop = dir / "drop";
    const std::string run_dir = c.chained ? dir / "run" : drop;
    const std::string planted = drop + (c.chained ? "/y.tag" : "/x.tag");
    ASSERT_EQ(mkdir(drop.c_str(), 0755), 0);
    ASSERT_EQ(chown(drop.c_str(), c.drop_owner, c.drop_owner), 0);
    ASSERT_EQ(chmod(drop.c_str(), c.drop_mode), 0);
    if (c.chained) {
      ASSERT_EQ(mkdir(run_dir.c_str(), 0755), 0);
      ASSERT_EQ(symlink(planted.c_str(), (run_dir + "/x.tag").c_str()), 0);
    }
    ASSERT_TRUE(WriteFileBytes(dir / "victim", kOldTagFile));
    ASSERT_TRUE(WriteFileBytes(run_dir + "/x.md3", ModelBuilder{}.Build()));
    ASSERT_EQ(symlink((dir / "victim").c_str(), planted.c_str()), 0);
    ASSERT_EQ(lchown(planted.c_str(), c.link_owner, c.link_owner), 0);
    RunResult run = RunTagbatch(run_dir);
    ExpectCleanExit(run);
    EXPECT_EQ(run.out, Loaded("x.md3", "x.tag", c.followed));
    EXPECT_EQ(ReadFileBytes(dir / "victim").size(),
              c.followed ? 16u : kOldTagFile.size());
    EXPECT_TRUE(IsLink(planted));
  }
}

// Temporary names taken beforehand by someone else's links, in a folder
// anyone may write, are passed over: neither followed nor replaced.
TEST(TagbatchTest, TakenTemporaryNamesArePassedOver) {
  ScratchDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
  ASSERT_TRUE(WriteFileBytes(dir / "victim", kOldTagFile));
  ASSERT_TRUE(WriteFileBytes(dir / "x.md3", ModelBuilder{}.Build()));
  // The program keeps the child's process id, so these are its first names.
  RunResult run = RunTagbatch(dir.path(), nullptr, [] {
    const std::string stem = ".tagbatch-" + std::to_string(getpid());
    for (const char* end : {".tmp", "-1.tmp", "-2.tmp"}) {
      if (symlink("victim", (stem + end).c_str()) != 0) _exit(126);
    }
  });
  ExpectCleanExit(run);
  EXPECT_EQ(ReadFileBytes(dir / "x.tag").size(), 16u);
  EXPECT_EQ(ReadFileBytes(dir / "victim"), kOldTagFile);
  const std::vector<std::string> names = dir.List();
  EXPECT_EQ(names.size(), 6u);
  for (const std::string& name : names)
    EXPECT_TRUE(name[0] != '.' || IsLink(dir / name)) << name;
}

TEST(TagbatchTest, ExitsCleanlyWhenNobodyReadsTheOutput) {
  ScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(dir / "a.md3", ModelBuilder{}.Build()));
  RunResult run = RunTagbatch(dir.path(), nullptr, [] {
    int out[2];
    if (pipe(out) != 0 || dup2(out[1], 1) != 1) _exit(126);
    close(out[0]);
  });
  ExpectCleanExit(run);
  EXPECT_EQ(ReadFileBytes(dir / "a.tag").size(), 16u);
}

// Past the file size limit (at the header's, the records' and the output
// buffer's edges) a tag file fails like any short write; the batch goes on.
TEST(TagbatchTest, FileSizeLimitFailsOneModelOnly) {
  ScratchDir dir;
  ModelBuilder large;
  large.tags = NumberedTags(100);  // A tag file of 11,216 bytes.
  ModelBuilder small;
  small.tags = NumberedTags(1);  // 128 bytes.
  ASSERT_TRUE(WriteFileBytes(dir / "large.md3", large.Build()));
  ASSERT_TRUE(WriteFileBytes(dir / "small.md3", small.Build()));
  for (rlim_t limit : {0, 1, 15, 16, 17, 127, 128, 4095, 4096, 4097, 11215}) {
    SCOPED_TRACE(limit);
    ASSERT_TRUE(WriteFileBytes(dir / "large.tag", kOldTagFile));
    unlink((dir / "small.tag").c_str());
    RunResult run =
        RunTagbatch(dir.path(), nullptr, Limit(RLIMIT_FSIZE, limit));
    ExpectCleanExit(run);
    const bool small_fits = limit >= 128;
    EXPECT_EQ(
        run.out,
        InListingOrder(
            dir.path(),
            {{"large.md3", Loaded("large.md3", "large.tag", false)},
             {"small.md3", Loaded("small.md3", "small.tag", small_fits)}}));
    EXPECT_EQ(ReadFileBytes(dir / "large.tag"), kOldTagFile);
    std::vector<std::string> names = {"large.md3", "large.tag", "small.md3"};
    if (small_fits) names.emplace_back("small.tag");
    EXPECT_EQ(dir.List(), names);
  }
}

// One signal that ends a program by default and that the test must find
// among them: the first real-time one, where the system has those.
#ifdef SIGRTMIN
const int kOneEndingSignal = SIGRTMIN;
#else
const int kOneEndingSignal = SIGUSR2;
#endif

// Every signal whose default ends a program (raising each in a child shows
// which) ends it mid tag file, leaving the old tag file and no temporary one.
// Left out: SIGKILL, uncatchable; the signals of its own faults, so a crash
// shows; the two it ignores, SIGPIPE and SIGXFSZ (tested above).
TEST(TagbatchTest, EndingSignalsDuringAWriteLeaveNoDebris) {
  std::vector<int> left_out = {SIGKILL, SIGSEGV, SIGBUS, SIGILL,  SIGFPE,
                               SIGABRT, SIGTRAP, SIGSYS, SIGPIPE, SIGXFSZ};
#ifdef SIGEMT
  left_out.push_back(SIGEMT);  // A fault too, where there is one.
#endif
  std::vector<int> signals;
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    if (std::count(left_out.begin(), left_out.end(), signal_number) > 0)
      continue;
    const pid_t pid = Spawn(ChildSetup(), [signal_number] {
      Limit(RLIMIT_CORE, 0)();
      // The C library keeps a few numbers for itself.
      if (signal(signal_number, SIG_DFL) == SIG_ERR) _exit(0);
      sigset_t set;
      sigemptyset(&set);
      sigaddset(&set, signal_number);
      sigprocmask(SIG_UNBLOCK, &set, nullptr);
      (void)raise(signal_number);
      _exit(0);
    });
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, WUNTRACED), pid);
    if (WIFSTOPPED(status)) kill(pid, SIGKILL);  // Its default stops it.
    if (WIFSIGNALED(status) && WTERMSIG(status) == signal_number)
      signals.push_back(signal_number);
    if (WIFSTOPPED(status)) waitpid(pid, &status, 0);
  }
  ASSERT_NE(std::find(signals.begin(), signals.end(), kOneEndingSignal),
            signals.end());
  for (int signal_number : signals) {
    SCOPED_TRACE(signal_number);
    ScratchDir dir;
    // Far more than can be written before the signal arrives.
    ASSERT_TRUE(WriteLargeModel(dir / "large.md3", 4000000));
    ASSERT_TRUE(WriteFileBytes(dir / "large.tag", kOldTagFile));
    ChildSetup setup;
    setup.directory = dir.path();
    // No core files in the folder from the signals that would dump one.
    const pid_t pid = Spawn(setup, [] {
      Limit(RLIMIT_CORE, 0)();
      ExecTagbatch();
    });
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(WaitForRecordsInATemporaryFile(dir));
    kill(pid, signal_number);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), signal_number);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"large.md3", "large.tag"}));
    EXPECT_EQ(ReadFileBytes(dir / "large.tag"), kOldTagFile);
  }
}

}  // namespace
