// The key wait, on a pseudo-terminal that is the program's controlling
// terminal.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "driver/platform.h"
#include "tests/model_builder.h"
#include "tests/process_posix.h"
#include "tests/scratch_dir.h"

namespace {

void SleepMs(int ms) {
  struct timespec pause = {0, ms * 1000000L};
  nanosleep(&pause, nullptr);
}

bool SameMode(const struct termios& a, const struct termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag &&
         a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// The program running in a directory holding one model, with a fresh
// pseudo-terminal as its controlling terminal.
class TerminalRun {
 public:
  // A full pipe takes no byte until the test reads it.
  enum class Output { kTerminal, kPipe, kFullPipe };
  // Standard input from /dev/null, a pipe or the terminal, or closed.
  enum class Input { kNull, kPipe, kTerminal, kClosed };

  explicit TerminalRun(Output output = Output::kTerminal,
                       Input input = Input::kNull) {
    ModelBuilder model;
    model.tags = NumberedTags(2);
    WriteFileBytes(dir_ / "a.md3", model.Build());
    // Neither end is passed on to the program but as its standard streams.
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    grantpt(master_);
    unlockpt(master_);
    // Kept open, so the input queue can be inspected after the exit.
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY | O_CLOEXEC);
    tcgetattr(slave_, &before_);
    output_ = output;
    input_ = input;
  }

  ~TerminalRun() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status_, 0);
    }
    for (int fd : {master_, slave_, out_pipe_, in_pipe_})
      if (fd >= 0) close(fd);
  }

  // Names the model `name` instead.
  void RenameModel(const std::string& name) const {
    (void)rename((dir_ / "a.md3").c_str(), (dir_ / name).c_str());
  }

  // Starts on a model slow to convert; false unless it is soon written.
  bool ConvertALargeModel() {
    if (!WriteLargeModel(dir_ / "large.md3", 4000000)) return false;
    Start();
    return WaitForRecordsInATemporaryFile(dir_);
  }

  // Adds `count` more models, named m00.md3 onwards.
  void AddModels(int count) const {
    ModelBuilder model;
    for (int i = 0; i < count; ++i) {
      char name[16];
      (void)snprintf(name, sizeof name, "m%02d.md3", i);
      WriteFileBytes(dir_ / name, model.Build());
    }
  }

  // Starts the program with `signal_number` ignored, as nohup or a shell
  // starting a background job would.
  void IgnoreAtStart(int signal_number) { ignored_ = signal_number; }

  // Where the program's job runs: in the terminal's foreground, in the
  // background from the start, or in the foreground until the test sends
  // SIGUSR1 to pid(), when the job is stopped, put in the background and
  // continued, as a shell's Ctrl+Z and `bg` would. pid() is the program's,
  // but for the job moved to the background, whose shell it is.
  enum class Job { kForeground, kBackground, kMovedToBackground };

  // Starts the program as a job of its own, as `job` says; in the
  // foreground, `program` may take the program's place.
  void Start(
      Job job = Job::kForeground,
      const std::function<void()>& program = [] { ExecTagbatch(); }) {
    int out[2] = {-1, -1};
    int in[2] = {-1, -1};
    if (output_ != Output::kTerminal && pipe2(out, O_CLOEXEC) != 0) return;
    if (output_ == Output::kFullPipe) {
      const auto size = static_cast<size_t>(fcntl(out[1], F_GETPIPE_SZ));
      if (write(out[1], std::string(size, '.').data(), size) !=
          static_cast<ssize_t>(size))
        return;
    }
    if (input_ == Input::kPipe && pipe2(in, O_CLOEXEC) != 0) return;
    ChildSetup setup;
    setup.directory = dir_.path();
    setup.terminal = slave_;
    setup.in = input_ == Input::kPipe       ? in[0]
               : input_ == Input::kTerminal ? slave_
                                            : -1;
    setup.out = output_ != Output::kTerminal ? out[1] : slave_;
    setup.err = slave_;
    const int ignored = ignored_;
    const bool closed = input_ == Input::kClosed;
    pid_ = Spawn(setup, [ignored, job, closed, &program] {
      if (ignored != 0) (void)signal(ignored, SIG_IGN);
      if (closed) close(0);
      if (job == Job::kForeground) program();
      if (job == Job::kBackground) {
        // The foreground goes to another process group of the session, as
        // when a shell starts a job in the background; it ends with the
        // session, hung up.
        const pid_t foreground = fork();
        if (foreground == 0) {
          setpgid(0, 0);
          closefrom(0);
          (void)signal(SIGHUP, SIG_DFL);
          pause();
          _exit(0);
        }
        setpgid(foreground, foreground);
        if (tcsetpgrp(2, foreground) != 0) _exit(126);
        ExecTagbatch();
      }
      // This child plays the shell of a job moved to the background.
      sigset_t usr1;
      sigemptyset(&usr1);
      sigaddset(&usr1, SIGUSR1);
      sigprocmask(SIG_BLOCK, &usr1, nullptr);
      (void)signal(SIGTTOU, SIG_IGN);
      const pid_t child = fork();
      if (child == 0) {
        sigprocmask(SIG_UNBLOCK, &usr1, nullptr);
        setpgid(0, 0);
        // Whichever of the two comes first makes the job the foreground
        // one; SIGTTOU is still ignored here.
        tcsetpgrp(2, getpgrp());
        (void)signal(SIGTTOU, SIG_DFL);
        ExecTagbatch();
      }
      setpgid(child, child);
      tcsetpgrp(2, child);
      int received;
      sigwait(&usr1, &received);
      kill(child, SIGSTOP);
      int stopped;
      waitpid(child, &stopped, WUNTRACED);
      tcsetpgrp(2, getpgrp());
      kill(child, SIGCONT);
      int child_status;
      waitpid(child, &child_status, WUNTRACED);
      if (WIFSTOPPED(child_status)) {
        kill(child, SIGKILL);
        _exit(123);
      }
      _exit(WIFEXITED(child_status) ? WEXITSTATUS(child_status) : 124);
    });
    ASSERT_GT(pid_, 0);
    if (output_ != Output::kTerminal) {
      close(out[1]);
      out_pipe_ = out[0];
    }
    if (input_ == Input::kPipe) {
      close(in[0]);
      in_pipe_ = in[1];
    }
  }

  void Type(const char* keys) const {
    ASSERT_EQ(write(master_, keys, strlen(keys)),
              static_cast<ssize_t>(strlen(keys)));
  }

  // Types `keys` as a slow link sends them, each '|' a pause well inside a
  // key's 50 ms. As root, no load stretches a pause: the test runs first
  // (SCHED_FIFO) and puts the bytes into the terminal's input (TIOCSTI),
  // where the kernel puts them there as they are.
  void TypeApart(const std::string& keys) const {
    static const bool faithful =
        getuid() == 0 && TerminalRun().PutsKeysExactly();
    struct sched_param first = {1};
    const bool exact =
        faithful && sched_setscheduler(0, SCHED_FIFO, &first) == 0;
    for (const char key : keys) {
      if (key == '|') {
        SleepMs(15);
      } else if (!exact || ioctl(slave_, TIOCSTI, &key) != 0) {
        Type(std::string(1, key).c_str());
      }
    }
    struct sched_param normal = {0};
    if (exact) sched_setscheduler(0, SCHED_OTHER, &normal);
  }

  // What the program prints, on the terminal or into the pipe, until it
  // holds `text` (or ends); all that it prints within `time_ms`.
  [[nodiscard]] std::string ReadOutputUntil(const std::string& text) const {
    return ReadUntil(text, kPatienceMs);
  }
  [[nodiscard]] std::string ReadOutputFor(int time_ms) const {
    return ReadUntil("", time_ms);
  }

  // Waits until the program has switched line input off. False on timeout.
  [[nodiscard]] bool WaitForKeyMode() const {
    return WaitUntil([this] {
      struct termios now;
      return tcgetattr(slave_, &now) == 0 && (now.c_lflag & ICANON) == 0;
    });
  }

  // Waits for the program to end. False on timeout.
  bool WaitForExit() {
    exited_ = exited_ || WaitUntil([this] {
                return waitpid(pid_, &status_, WNOHANG) == pid_;
              });
    return exited_;
  }

  bool Running() { return waitpid(pid_, &status_, WNOHANG) == 0; }

  // Stops the program, as Ctrl+Z would; false unless it stopped.
  [[nodiscard]] bool Stop() const {
    int stop_status;
    return kill(pid_, SIGSTOP) == 0 &&
           waitpid(pid_, &stop_status, WUNTRACED) == pid_ &&
           WIFSTOPPED(stop_status);
  }

  // Whether the program, once it blocks on its last write, to a full output
  // pipe, holds the terminal open but as its standard streams.
  [[nodiscard]] bool HoldsTheTerminalInItsLastWrite() const {
    const std::string proc = "/proc/" + std::to_string(pid_);
    EXPECT_TRUE(WaitUntil([&proc] {
      const std::vector<uint8_t> waiting = ReadFileBytes(proc + "/wchan");
      return std::string(waiting.begin(), waiting.end()).find("pipe_write") !=
             std::string::npos;
    }));
    for (int fd = 3; fd < 1024; ++fd) {
      std::error_code error;
      const std::string target = std::filesystem::read_symlink(
          proc + "/fd/" + std::to_string(fd), error);
      if (target == "/dev/tty" || target == ptsname(master_)) return true;
    }
    return false;
  }

  [[nodiscard]] bool ExitedCleanly() const {
    return exited_ && WIFEXITED(status_) && WEXITSTATUS(status_) == 0;
  }

  // Waits for the program to end; whether it ended with status 0 and left
  // the terminal's mode as it found it.
  bool EndsCleanly() {
    return WaitForExit() && ExitedCleanly() && ModeRestored();
  }

  // Whether the terminal's mode is as it was before the program started.
  [[nodiscard]] bool ModeRestored() const {
    struct termios after;
    tcgetattr(slave_, &after);
    return SameMode(before_, after);
  }

  // The bytes of the complete lines typed and not read. A line typed in
  // part is not complete until Enter, unless a switch out of line mode
  // and back has turned it into one.
  [[nodiscard]] int LinesReady() const {
    int ready = -1;
    ioctl(slave_, FIONREAD, &ready);
    return ready;
  }

  // The bytes typed but not read by anyone, read here without waiting and
  // with the terminal's mode left as it is.
  [[nodiscard]] std::string PendingInput() const {
    struct termios mode;
    tcgetattr(slave_, &mode);
    struct termios raw = mode;
    raw.c_lflag &= ~ICANON;
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    tcsetattr(slave_, TCSANOW, &raw);
    SleepMs(20);  // What was typed last reaches the terminal.
    std::string pending;
    char buffer[256];
    for (ssize_t n; (n = read(slave_, buffer, sizeof buffer)) > 0;)
      pending.append(buffer, static_cast<size_t>(n));
    tcsetattr(slave_, TCSANOW, &mode);
    return pending;
  }

  // Whether TIOCSTI puts a byte into the input as it is: a kernel has been
  // seen to put a NUL in its place.
  [[nodiscard]] bool PutsKeysExactly() const {
    const char key = 'k';
    return ioctl(slave_, TIOCSTI, &key) == 0 && PendingInput() == "k";
  }

  [[nodiscard]] pid_t pid() const { return pid_; }
  [[nodiscard]] int status() const { return status_; }

 private:
  // Reads the output until it holds `text`, when that is not empty, or it
  // ends, or `time_ms` have passed. Returns all it gave.
  [[nodiscard]] std::string ReadUntil(const std::string& text,
                                      int time_ms) const {
    const int fd = output_ == Output::kTerminal ? master_ : out_pipe_;
    std::string seen;
    WaitUntil(
        [&] {
          struct pollfd ready = {fd, POLLIN, 0};
          if (poll(&ready, 1, 0) != 1) return false;
          char buffer[1024];
          const ssize_t n = read(fd, buffer, sizeof buffer);
          if (n <= 0) return true;
          seen.append(buffer, static_cast<size_t>(n));
          return !text.empty() && seen.find(text) != std::string::npos;
        },
        time_ms);
    return seen;
  }

  ScratchDir dir_;
  int master_ = -1, slave_ = -1, out_pipe_ = -1, in_pipe_ = -1;
  Output output_;
  Input input_;
  int ignored_ = 0;
  struct termios before_;
  pid_t pid_ = -1;
  int status_ = 0;
  bool exited_ = false;
};

// The wait follows the report, also "No Files Found". On the terminal a
// name's control characters (C0, DEL, and C1 as UTF-8; not a space or
// U+00A0) show as '?' rather than retitle the window and clear the screen.
TEST(KeyWaitTest, MessagesComeFirstThenOneKeyEndsTheWait) {
  struct Case {
    const char* model;  // The model's name, without ".md3"; null for none.
    const char* shown;  // How the terminal shows it.
  };
  for (Case c :
       {Case{"a", "a"}, Case{nullptr, nullptr},
        Case{"a \x1b]0;PWNED\x07\x1b[2J\x7f\xc2\x80\xc2\x9b\xc2\x9f\xc2\xa0",
             "a ?]0;PWNED??[2J????\xc2\xa0"}}) {
    SCOPED_TRACE(c.shown != nullptr ? c.shown : "no models");
    TerminalRun run;
    run.RenameModel(c.model != nullptr ? std::string(c.model) + ".md3"
                                       : "a.txt");
    run.Start();
    const std::string shown =
        c.model == nullptr ? std::string("No Files Found\r\n")
                           : "File Found: " + std::string(c.shown) +
                                 ".md3\r\nWriting Tag File: " + c.shown +
                                 ".tag\r\nTag file created successfully\r\n";
    EXPECT_EQ(run.ReadOutputUntil(shown), shown);
    ASSERT_TRUE(run.WaitForKeyMode());
    SleepMs(100);
    EXPECT_TRUE(run.Running());
    run.Type("x");
    EXPECT_TRUE(run.EndsCleanly());
    // Nothing echoed, nothing left over.
    EXPECT_EQ(run.ReadOutputFor(200), "");
    EXPECT_EQ(run.PendingInput(), "");
  }
}

// Any key ends the wait, Escape and control keys too; one of several bytes
// is consumed whole, also arriving apart as over a slow link. Later keys
// are the shell's, as is what follows 32 bytes after "ESC [". A pipe on
// standard input gives no key; one typed before the start ends the wait.
TEST(KeyWaitTest, AnyKeyEndsTheWaitConsumedWhole) {
  using Input = TerminalRun::Input;
  struct Case {
    const char* typed;  // '|' marks a pause shorter than a key's end.
    const char* left = "";
    Input input = Input::kNull;
    bool typed_first = false;  // Before the program starts.
  };
  // clang-format off
  const Case cases[] = {
      {"\x03"}, {"\x1a"}, {"\x13"}, {"\x1c"}, {"\r"}, {"\x1b"},
      {"q", "", Input::kPipe}, {"k", "", Input::kNull, true},
      {"\x1b[A"}, {"\x1bOP"}, {"\x1b[15~"}, {"\x1b[1;5C"}, {"\xc3\xa9"},
      {"\xe2\x82\xac"}, {"\xe0\xa4\x84"}, {"\xf0\x9f\x98\x80"}, {"\x1bx"},
      {"\x1b|[|A"}, {"\xf0\x9f|\x98|\x80"}, {"xab", "ab"},
      {"\x1b[123456789012345678901234567890123A", "3A"}};
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.typed));
    TerminalRun run(TerminalRun::Output::kTerminal, c.input);
    if (c.typed_first) run.Type(c.typed);
    run.Start();
    ASSERT_TRUE(c.typed_first || run.WaitForKeyMode());
    if (!c.typed_first) run.TypeApart(c.typed);
    EXPECT_TRUE(run.EndsCleanly());
    EXPECT_EQ(run.PendingInput(), c.left);
  }
}

// Collected in a 4096-byte buffer, written when it fills and after the
// key: nothing before it for one model; with 85 more, 4096 of the 6,532
// bytes, where a smaller block would have sent more.
TEST(KeyWaitTest, PipedOutputIsWrittenIn4096ByteBlocksAndAfterTheKey) {
  for (int more : {0, 85}) {
    SCOPED_TRACE(more);
    TerminalRun run(TerminalRun::Output::kPipe);
    run.AddModels(more);
    run.Start();
    ASSERT_TRUE(run.WaitForKeyMode());
    const size_t before = more == 0 ? 0 : 4096;
    EXPECT_EQ(run.ReadOutputFor(500).size(), before);
    run.Type(" ");
    const std::string last =
        "File Found: a.md3\nWriting Tag File: a.tag\n"
        "Tag file created successfully\n";
    const std::string rest = run.ReadOutputUntil(last);
    EXPECT_EQ(rest.size(), more * 76u + 72 - before);
    EXPECT_TRUE(run.EndsCleanly());
  }
}

// Whichever signal ends the program, in the wait or in a conversion, the
// terminal is left in the mode it had. One ignored at start, as nohup or a
// shell's background job has it, stays ignored.
TEST(KeyWaitTest, EndingSignalsPutTheTerminalBackUnlessIgnored) {
  using Input = TerminalRun::Input;
  struct Case {
    const char* name;
    Input input;
    int signal;            // The one that ends the program.
    int then;              // If not 0, sent next, both while it is stopped.
    bool in_a_conversion;  // Rather than in the wait.
    bool ignored;          // At start: the program goes on.
  };
  // clang-format off
  const Case cases[] = {
      {"SIGTERM", Input::kNull, SIGTERM, 0, false, false},
      {"SIGHUP", Input::kNull, SIGHUP, 0, false, false},
      {"SIGINT", Input::kNull, SIGINT, 0, false, false},
      // The terminal the wait opens is then descriptor 0.
      {"SIGTERM, standard input closed", Input::kClosed, SIGTERM, 0, false, false},
      // Nothing to put back, nothing to touch.
      {"SIGINT in a conversion", Input::kTerminal, SIGINT, 0, true, false},
      // The first one's clean-up is not cut short by the second.
      {"SIGINT, then SIGTERM, while stopped", Input::kNull, SIGINT, SIGTERM, false, false},
      {"SIGINT ignored", Input::kNull, SIGINT, 0, false, true},
      {"SIGHUP ignored", Input::kNull, SIGHUP, 0, false, true},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TerminalRun run(TerminalRun::Output::kTerminal, c.input);
    if (c.ignored) run.IgnoreAtStart(c.signal);
    if (c.in_a_conversion) {
      ASSERT_TRUE(run.ConvertALargeModel());
    } else {
      run.Start();
      ASSERT_TRUE(run.WaitForKeyMode());
    }
    ASSERT_TRUE(c.then == 0 || run.Stop());
    kill(run.pid(), c.signal);
    if (c.then != 0) {
      kill(run.pid(), c.then);
      kill(run.pid(), SIGCONT);
    }
    if (c.ignored) {
      SleepMs(200);
      EXPECT_TRUE(run.Running());
      run.Type("x");
      EXPECT_TRUE(run.EndsCleanly());
      continue;
    }
    ASSERT_TRUE(run.WaitForExit());
    EXPECT_TRUE(WIFSIGNALED(run.status()));
    EXPECT_EQ(WTERMSIG(run.status()), c.signal);
    EXPECT_TRUE(run.ModeRestored());
  }
}

// A job in the background does not touch the terminal at all: a line half
// typed at the shell's prompt stays half typed. Nor does it hold the
// terminal open while its report waits for a reader. Stopped in the wait
// and continued in the background, the program can no longer read the
// terminal: it puts the terminal back and ends.
TEST(KeyWaitTest, JobsInTheBackgroundLeaveTheTerminalAsItWas) {
  TerminalRun run;
  run.Type("ab");
  SleepMs(20);
  ASSERT_EQ(run.LinesReady(), 0);
  run.Start(TerminalRun::Job::kBackground);
  EXPECT_TRUE(run.EndsCleanly());
  EXPECT_EQ(run.LinesReady(), 0);

  TerminalRun reported(TerminalRun::Output::kFullPipe);
  reported.Start(TerminalRun::Job::kBackground);
  EXPECT_FALSE(reported.HoldsTheTerminalInItsLastWrite());
  EXPECT_NE(reported.ReadOutputUntil("successfully\n").find("successfully"),
            std::string::npos);
  EXPECT_TRUE(reported.EndsCleanly());

  TerminalRun moved;
  moved.Start(TerminalRun::Job::kMovedToBackground);
  ASSERT_TRUE(moved.WaitForKeyMode());
  kill(moved.pid(), SIGUSR1);
  EXPECT_TRUE(moved.EndsCleanly());
}

// An earlier call may leave errno at EINTR, as some network file systems
// do. Escape alone still ends a wait after its pause; and under nohup a
// terminal hung up (vhangup, which needs root) reads as ended.
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
