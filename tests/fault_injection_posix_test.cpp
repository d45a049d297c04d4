// Failures in mid-conversion: a disk full at every byte, a failing close or
// rename, files changing under us, an interrupted open. System calls wrapped at
// link time (--wrap) strike only the temporary tag file or the model.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "io/replacement_file.h"
#include "md3/md3_model.h"
#include "tests/conversion_check.h"
#include "tests/model_builder.h"
#include "tests/process_posix.h"
#include "tests/scratch_dir.h"

namespace {

struct Faults {
  long writes = 0;       // Writes to a temporary file so far.
  long disk_space = -1;  // Bytes the disk still takes; negative: no limit.
  bool full_takes_nothing = false;  // Full: 0 bytes, errno still EINTR.
  bool fail_close = false;
  bool fail_rename = false;
  bool fail_acl_removal = false;       // From a temporary file.
  bool empty_acl = false;              // Read as empty, errno left from before.
  bool acl_after_empty_probe = false;  // Junk read once a probe said 0.
  bool removed_before_acl = false;     // By another process, first.
  bool interrupt_open = false;         // The next open of a model, once.
  long cut_at_write = 0;  // Another process cuts `cut` to `cut_to` then.
  std::string cut;
  off_t cut_to = 0;
  // Runs the signal handler's clean-up when a temporary name is taken.
  bool clean_up_on_taken_name = false;
};
Faults g_faults;
constexpr char kAcl[] = "system.posix_acl_access";

// Whether `fd` is open on a temporary tag file.
bool IsTemporaryFile(int fd) {
  char link[64];
  char target[4096];
  if (snprintf(link, sizeof link, "/proc/self/fd/%d", fd) <= 0) return false;
  ssize_t n = readlink(link, target, sizeof target - 1);
  if (n <= 0) return false;
  target[n] = '\0';
  const char* base = strrchr(target, '/');
  return base != nullptr && strncmp(base + 1, ".tagbatch-", 10) == 0;
}

}  // namespace

// The linker's --wrap option fixes these names.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" {
ssize_t __real_write(int fd, const void* data, size_t size);
int __real_close(int fd);
int __real_rename(const char* from, const char* to);
int __real_fremovexattr(int fd, const char* name);
ssize_t __real_getxattr(const char* path, const char* name, void* value,
                        size_t size);
int __real_open(const char* path, int flags, ...);
int __real_open64(const char* path, int flags, ...);

ssize_t __wrap_write(int fd, const void* data, size_t size) {
  if (!IsTemporaryFile(fd)) return __real_write(fd, data, size);
  if (++g_faults.writes == g_faults.cut_at_write) {
    const ssize_t n = __real_write(fd, data, size);
    return truncate(g_faults.cut.c_str(), g_faults.cut_to) == 0 ? n : -1;
  }
  if (g_faults.disk_space < 0) return __real_write(fd, data, size);
  if (g_faults.disk_space == 0)
    return g_faults.full_takes_nothing ? (errno = EINTR, 0)
                                       : (errno = ENOSPC, -1);
  auto room = static_cast<size_t>(g_faults.disk_space);
  ssize_t n = __real_write(fd, data, size < room ? size : room);
  if (n > 0) g_faults.disk_space -= n;
  return n;
}

// Calls `real` as open() was called, then, should the temporary name be
// taken, runs the clean-up as a signal arriving at that moment would.
int OpenThen(int (*real)(const char*, int, ...), const char* path, int flags,
             va_list arguments) {
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): started by the caller.
  const int mode = (flags & O_CREAT) != 0 ? va_arg(arguments, int) : 0;
  if (g_faults.interrupt_open && (flags & O_CREAT) == 0) {
    g_faults.interrupt_open = false;
    errno = EINTR;
    return -1;
  }
  const int fd = real(path, flags, mode);
  if (fd < 0 && errno == EEXIST && g_faults.clean_up_on_taken_name) {
    RemoveUnfinishedReplacement();
    errno = EEXIST;
  }
  return fd;
}

// Both, as a 32-bit host's large-file build calls open64.
int __wrap_open(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const int fd = OpenThen(__real_open, path, flags, arguments);
  va_end(arguments);
  return fd;
}

int __wrap_open64(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const int fd = OpenThen(__real_open64, path, flags, arguments);
  va_end(arguments);
  return fd;
}

int __wrap_close(int fd) {
  if (g_faults.fail_close && IsTemporaryFile(fd)) {
    __real_close(fd);
    errno = EIO;  // As a network file system reports data it lost.
    return -1;
  }
  return __real_close(fd);
}

int __wrap_rename(const char* from, const char* to) {
  if (g_faults.fail_rename) {
    errno = EIO;
    return -1;
  }
  return __real_rename(from, to);
}

ssize_t __wrap_getxattr(const char* path, const char* name, void* value,
                        size_t size) {
  if (g_faults.removed_before_acl) (void)unlink(path);
  if (g_faults.acl_after_empty_probe) {
    if (size == 0) return 0;
    memset(value, 0x5a, 12);  // No file system takes this for an ACL.
    return 12;
  }
  if (!g_faults.empty_acl) return __real_getxattr(path, name, value, size);
  errno = EIO;
  return 0;
}

int __wrap_fremovexattr(int fd, const char* name) {
  if (g_faults.fail_acl_removal && IsTemporaryFile(fd)) {
    errno = EIO;
    return -1;
  }
  return __real_fremovexattr(fd, name);
}
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

namespace {

class FaultTest : public ::testing::Test {
 protected:
  void TearDown() override { g_faults = Faults(); }

  ScratchDir dir_;
  std::string model_path_ = dir_ / "model.md3";
  std::string tag_path_ = dir_ / "model.tag";
};

TEST_F(FaultTest, DiskFillsUpAtEveryByte) {
  // 100 tags span several output buffers: the header, every record and
  // every buffer boundary are among the points where the space runs out.
  ModelBuilder model;
  model.tags = NumberedTags(100);
  const long size = 16 + 112 * 100;
  ASSERT_TRUE(WriteFileBytes(model_path_, model.Build()));
  // A full disk fails a write, or, as on some network file systems, takes
  // nothing at all, with errno left as an earlier call set it.
  for (bool takes_nothing : {false, true}) {
    for (long space = 0; space < size; ++space) {
      g_faults.disk_space = space;
      g_faults.full_takes_nothing = takes_nothing;
      ExpectConversionFailsHarmlessly(dir_, model_path_, tag_path_,
                                      /*existing=*/space % 2 == 0);
      if (HasFailure()) {
        ADD_FAILURE() << "with room for " << space << " bytes, full "
                      << (takes_nothing ? "taking nothing" : "failing");
        return;
      }
    }
  }
  g_faults.disk_space = size;
  Md3Model reader;
  ASSERT_TRUE(reader.Load(model_path_.c_str()));
  EXPECT_TRUE(reader.WriteTagFile(tag_path_.c_str()));
  EXPECT_EQ(ReadFileBytes(tag_path_), ExpectedTagFile(model));
}

// Also the removal of an ACL a default ACL gave, the old file having none. A
// tag file not put in place is not the run's: the reader replaces it later.
TEST_F(FaultTest, FailingCloseRenameOrAclRemovalIsAFailure) {
  ModelBuilder model;
  model.tags = NumberedTags(2);
  ASSERT_TRUE(WriteFileBytes(model_path_, model.Build()));
  for (bool existing : {true, false}) {
    for (bool Faults::*fault : {&Faults::fail_close, &Faults::fail_rename}) {
      g_faults = Faults();
      g_faults.*fault = true;
      ExpectConversionFailsHarmlessly(dir_, model_path_, tag_path_, existing);
    }
  }
  g_faults = Faults();
  g_faults.fail_acl_removal = true;
  ExpectConversionFailsHarmlessly(dir_, model_path_, tag_path_);
  ASSERT_TRUE(WriteFileBytes(tag_path_, kOldTagFile));
  g_faults = Faults();
  g_faults.fail_rename = true;
  Md3Model reader;
  ASSERT_TRUE(reader.Load(model_path_.c_str()));
  EXPECT_FALSE(reader.WriteTagFile(tag_path_.c_str()));
  g_faults = Faults();
  EXPECT_TRUE(reader.WriteTagFile(tag_path_.c_str()));
  EXPECT_EQ(ReadFileBytes(tag_path_), ExpectedTagFile(model));
}

// ACL reads that are no failures: an empty ACL (errno as it was, as some
// network file systems give it), one the probe alone finds empty, and a tag
// file removed by another process, made anew: 0666 less the umask, 022.
TEST_F(FaultTest, OddAclReadsStillReplaceTheTagFile) {
  ModelBuilder model;
  model.tags = NumberedTags(2);
  ASSERT_TRUE(WriteFileBytes(model_path_, model.Build()));
  struct Case {
    const char* name;
    bool Faults::*fault;
    mode_t mode;
  };
  const Case cases[] = {
      {"empty", &Faults::empty_acl, 0600},
      {"empty at the probe", &Faults::acl_after_empty_probe, 0600},
      {"tag file removed", &Faults::removed_before_acl, 0644}};
  const mode_t umask_before = umask(022);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(WriteFileBytes(tag_path_, kOldTagFile));
    ASSERT_EQ(chmod(tag_path_.c_str(), 0600), 0);
    Md3Model reader;
    ASSERT_TRUE(reader.Load(model_path_.c_str()));
    g_faults = Faults();
    g_faults.*c.fault = true;
    EXPECT_TRUE(reader.WriteTagFile(tag_path_.c_str()));
    g_faults = Faults();
    EXPECT_EQ(ReadFileBytes(tag_path_), ExpectedTagFile(model));
    EXPECT_EQ(std::filesystem::status(tag_path_).permissions(),
              static_cast<std::filesystem::perms>(c.mode));
    EXPECT_LT(__real_getxattr(tag_path_.c_str(), kAcl, nullptr, 0), 0);
  }
  umask(umask_before);
}

// The records of the largest count the file holds run past the tag block into
// the surfaces and are copied as they are. One more fails before any write,
// though a buffer's worth and more stand in the file.
TEST_F(FaultTest, CountUpToTheFileConvertsOneMoreFailsBeforeAnyWrite) {
  ModelBuilder model;
  model.tags = NumberedTags(50);
  std::vector<uint8_t> bytes = model.Build();
  const size_t records = (bytes.size() - model.TagBlockOffset()) / 112;
  bytes.resize(model.TagBlockOffset() + 112 * records);  // Filled exactly.
  for (size_t count : {records + 1, records}) {
    SCOPED_TRACE(count);
    SetInt32(&bytes, 80, static_cast<int32_t>(count));
    ASSERT_TRUE(WriteFileBytes(model_path_, bytes));
    Md3Model reader;
    ASSERT_TRUE(reader.Load(model_path_.c_str()));
    g_faults = Faults();
    const bool fits = count == records;
    EXPECT_EQ(reader.WriteTagFile(tag_path_.c_str()), fits);
    const std::vector<uint8_t> tag_file = ReadFileBytes(tag_path_);
    EXPECT_EQ(tag_file.size(), fits ? 16 + records * 112 : 0);
    EXPECT_TRUE(!fits || std::equal(tag_file.begin() + 16, tag_file.end(),
                                    bytes.begin() + model.TagBlockOffset()));
    EXPECT_EQ(g_faults.writes, fits ? 2 : 0);  // 6,288 bytes in 4096 blocks.
  }
}

// A temporary name found taken is never the clean-up's to remove, even with a
// signal right after; once the clean-up has run, no next name is tried.
TEST_F(FaultTest, CleanUpLeavesATakenTemporaryNameAlone) {
  EXPECT_EQ(RunInChild([this] {
              // The name of this process, and of the one the test started
              // in should its name already be set.
              std::vector<std::string> taken;
              for (pid_t process : {getpid(), getppid()}) {
                taken.push_back(
                    dir_ / (".tagbatch-" + std::to_string(process) + ".tmp"));
                if (!WriteFileBytes(taken.back(), kOldTagFile)) return 1;
              }
              g_faults.clean_up_on_taken_name = true;
              ReplacementFile file;
              if (!file.Resolve(tag_path_.c_str())) return 2;
              if (file.Create()) return 4;
              for (const std::string& name : taken) {
                if (ReadFileBytes(name) != kOldTagFile) return 3;
              }
              return 0;
            }),
            0);
}

// Tags read with the header (near its end, or at 0 over it) convert as loaded;
// later ones are gone when read: past the first read, or after a write.
TEST_F(FaultTest, ModelTruncatedBetweenLoadAndWrite) {
  ModelBuilder small;
  small.tags = NumberedTags(3);
  std::vector<uint8_t> at_zero = small.Build();
  SetInt32(&at_zero, 96, 0);
  std::vector<uint8_t> from_zero = ExpectedTagFile(small);
  std::copy_n(at_zero.begin(), 3 * 112, from_zero.begin() + 16);
  ModelBuilder large;
  large.frames = 100;  // The tag block starts at 5,708.
  large.tags = NumberedTags(2);
  // 36 tags from offset 65 end at byte 4,097.
  std::vector<uint8_t> one_past(4097, 0x5a);
  SetInt32(&one_past, 80, 36);
  SetInt32(&one_past, 96, 65);
  // 804 tags from 4096: record 769 is read at 90,112, after block 21.
  std::vector<uint8_t> late(4096 + 804 * 112, 0x3c);
  SetInt32(&late, 80, 804);
  SetInt32(&late, 96, 4096);
  struct Case {
    const char* name;
    std::vector<uint8_t> model;
    long cut;
    long at_write;  // The tag file's write it is cut at; 0: at once.
    std::vector<uint8_t> tag_file;  // When it converts.
    bool converts;
  };
  // clang-format off
  const Case cases[] = {
      {"with the header", small.Build(), 108, 0, ExpectedTagFile(small), true},
      {"at offset 0", at_zero, 108, 0, from_zero, true},
      {"past the first read", large.Build(), 5000, 0, {}, false},
      {"one byte past the first read", one_past, 4096, 0, {}, false},
      {"read after a block is written", late, 90112, 21, {}, false},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(WriteFileBytes(model_path_, c.model));
    ASSERT_TRUE(WriteFileBytes(tag_path_, kOldTagFile));
    Md3Model reader;
    ASSERT_TRUE(reader.Load(model_path_.c_str()));
    g_faults = Faults{};
    g_faults.cut_at_write = c.at_write;
    g_faults.cut = model_path_;
    g_faults.cut_to = c.cut;
    ASSERT_TRUE(c.at_write > 0 || truncate(model_path_.c_str(), c.cut) == 0);
    EXPECT_EQ(reader.WriteTagFile(tag_path_.c_str()), c.converts);
    EXPECT_EQ(ReadFileBytes(tag_path_), c.converts ? c.tag_file : kOldTagFile);
    EXPECT_EQ(dir_.List(),
              (std::vector<std::string>{"model.md3", "model.tag"}));
  }
}

// A retried open leaves errno at EINTR, as some network file systems do
// after other calls: a model shorter than its header still fails to load.
TEST_F(FaultTest, StaleInterruptionIsNoReasonToReadAgain) {
  std::vector<uint8_t> model = ModelBuilder{}.Build();
  model.resize(60);
  ASSERT_TRUE(WriteFileBytes(model_path_, model));
  EXPECT_EQ(RunInChild([this] {
              alarm(120);
              g_faults.interrupt_open = true;
              Md3Model reader;
              return reader.Load(model_path_.c_str()) ||
                     g_faults.interrupt_open || errno != EINTR;
            }),
            0);
}

}  // namespace
