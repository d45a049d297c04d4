// The program end to end, run with no terminal in fresh directories.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>

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

void ExpectCleanExit(const RunResult& run) {
  EXPECT_FALSE(run.timed_out);
  EXPECT_TRUE(WIFEXITED(run.status));
  EXPECT_EQ(WEXITSTATUS(run.status), 0);
  EXPECT_EQ(run.err, "");
}

TEST(TagbatchTest, EmptyDirectory) {
  ScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(dir / "notes.txt", {'x'}));
  RunResult run = RunTagbatch(dir.path());
  ExpectCleanExit(run);
  EXPECT_EQ(run.out, "No Files Found\n");
  EXPECT_EQ(dir.List(), std::vector<std::string>{"notes.txt"});
}

TEST(TagbatchTest, ConvertsGoodModelsAndReportsBadOnes) {
  ScratchDir dir;
  ModelBuilder a;
  a.tags = 2;
  ASSERT_TRUE(WriteFileBytes(dir / "a.md3", a.Build()));
  ASSERT_TRUE(WriteFileBytes(dir / "b.md3", std::vector<uint8_t>(50, 1)));
  RunResult run = RunTagbatch(dir.path(), "--ignored-argument");
  ExpectCleanExit(run);
  EXPECT_EQ(run.out, InListingOrder(dir.path(),
                                    {{"a.md3", Loaded("a.md3", "a.tag", true)},
                                     {"b.md3", NotLoaded("b.md3")}}));
  EXPECT_EQ(ReadFileBytes(dir / "a.tag").size(), 240u);
  EXPECT_EQ(ReadFileBytes(dir / "a.tag"), ExpectedTagFile(a));
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.md3", "a.tag", "b.md3"}));
}

TEST(TagbatchTest, SampleModelsShowEveryMessage) {
  ScratchDir dir;
  for (const SampleModel& sample : SampleModels())
    ASSERT_TRUE(WriteFileBytes(dir / sample.file_name, sample.bytes));
  RunResult run = RunTagbatch(dir.path());
  ExpectCleanExit(run);
  EXPECT_EQ(
      run.out,
      InListingOrder(
          dir.path(),
          {{"lower.md3", Loaded("lower.md3", "lower.tag", true)},
           {"upper.md3", Loaded("upper.md3", "upper.tag", true)},
           {"head.md3", Loaded("head.md3", "head.tag", true)},
           {"prop.md3", Loaded("prop.md3", "prop.tag", true)},
           {"broken.md3", NotLoaded("broken.md3")},
           {"damaged.md3", Loaded("damaged.md3", "damaged.tag", false)}}));
  EXPECT_EQ(ReadFileBytes(dir / "prop.tag").size(), 16u);
  EXPECT_EQ(ReadFileBytes(dir / "lower.tag").size(), 16u + 4 * 112);
  EXPECT_EQ(dir.List().size(), 10u);
}

TEST(TagbatchTest, SecondRunRewritesTheTagFiles) {
  ScratchDir dir;
  ModelBuilder model;
  model.frames = 2;
  model.tags = 3;
  ASSERT_TRUE(WriteFileBytes(dir / "m.md3", model.Build()));
  RunResult first = RunTagbatch(dir.path());
  ExpectCleanExit(first);
  ASSERT_TRUE(WriteFileBytes(dir / "m.tag", {'s', 't', 'a', 'l', 'e'}));
  RunResult second = RunTagbatch(dir.path());
  ExpectCleanExit(second);
  EXPECT_EQ(second.out, first.out);
  EXPECT_EQ(ReadFileBytes(dir / "m.tag"), ExpectedTagFile(model));
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"m.md3", "m.tag"}));
}

TEST(TagbatchTest, MatchesEveryKindOfEntryIgnoringCase) {
  ScratchDir dir;
  ModelBuilder model;
  model.tags = 1;
  for (const char* name : {"UPPER.MD3", "x.Md3", ".md3", ".hidden.md3",
                           "with space.md3", "caf\xc3\xa9.md3", "\xff\xfe.md3"})
    ASSERT_TRUE(WriteFileBytes(dir / name, model.Build()));
  ASSERT_EQ(mkdir((dir / "x.md3").c_str(), 0755), 0);
  ASSERT_EQ(symlink("UPPER.MD3", (dir / "link.md3").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (dir / "dangling.md3").c_str()), 0);
  ASSERT_EQ(mkfifo((dir / "fifo.md3").c_str(), 0644), 0);
  for (const char* name : {"a.md3x", "a.md", "md3", "a.tag", "a.md3.bak"})
    ASSERT_TRUE(WriteFileBytes(dir / name, {'z'}));

  RunResult run = RunTagbatch(dir.path(), nullptr, -1, 10000);
  ExpectCleanExit(run);
  EXPECT_EQ(
      run.out,
      InListingOrder(
          dir.path(),
          {{"UPPER.MD3", Loaded("UPPER.MD3", "UPPER.tag", true)},
           {"x.Md3", Loaded("x.Md3", "x.tag", true)},
           {".md3", Loaded(".md3", ".tag", true)},
           {".hidden.md3", Loaded(".hidden.md3", ".hidden.tag", true)},
           {"with space.md3", Loaded("with space.md3", "with space.tag", true)},
           {"caf\xc3\xa9.md3",
            Loaded("caf\xc3\xa9.md3", "caf\xc3\xa9.tag", true)},
           {"\xff\xfe.md3", Loaded("\xff\xfe.md3", "\xff\xfe.tag", true)},
           {"link.md3", Loaded("link.md3", "link.tag", true)},
           {"x.md3", NotLoaded("x.md3")},
           {"dangling.md3", NotLoaded("dangling.md3")},
           {"fifo.md3", NotLoaded("fifo.md3")}}));
  EXPECT_EQ(ReadFileBytes(dir / "UPPER.tag"), ExpectedTagFile(model));
  EXPECT_EQ(ReadFileBytes(dir / ".tag"), ExpectedTagFile(model));
}

TEST(TagbatchTest, ReportsEachOfManyModelsOnce) {
  constexpr int kModels = 10000;
  ScratchDir dir;
  ModelBuilder model;
  model.tags = 1;
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
      expected += Loaded(name, name.substr(0, name.size() - 3) + "tag", true);
  }
  EXPECT_EQ(run.out, expected);
  EXPECT_EQ(dir.List().size(), 2u * kModels + kModels / 10);
}

TEST(TagbatchTest, TagFileNameTakenByADirectory) {
  ScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(dir / "a.md3", ModelBuilder{}.Build()));
  ASSERT_EQ(mkdir((dir / "a.tag").c_str(), 0755), 0);
  RunResult run = RunTagbatch(dir.path());
  ExpectCleanExit(run);
  EXPECT_EQ(run.out, Loaded("a.md3", "a.tag", false));
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.md3", "a.tag"}));
}

TEST(TagbatchTest, ExitsCleanlyWhenNobodyReadsTheOutput) {
  ScratchDir dir;
  ASSERT_TRUE(WriteFileBytes(dir / "a.md3", ModelBuilder{}.Build()));
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  close(out[0]);
  int result = RunInChild([&dir, &out] {
    pid_t pid = fork();
    if (pid == 0) {
      setsid();
      dup2(out[1], 1);
      int null = open("/dev/null", O_RDWR);
      dup2(null, 0);
      dup2(null, 2);
      if (chdir(dir.path().c_str()) != 0) _exit(127);
      execl(TAGBATCH_PATH, "tagbatch", static_cast<char*>(nullptr));
      _exit(127);
    }
    int status;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
  });
  close(out[1]);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ReadFileBytes(dir / "a.tag").size(), 16u);
}

}  // namespace
