// The program on its controlling pseudo-terminal, as a user runs it: in the
// foreground or as a background job, writing to the terminal or a pipe.
#ifndef TAGBATCH_TESTS_TERMINAL_RUN_POSIX_H_
#define TAGBATCH_TESTS_TERMINAL_RUN_POSIX_H_

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
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
#include <functional>
#include <string>

#include "tests/model_builder.h"
#include "tests/process_posix.h"
#include "tests/scratch_dir.h"

inline void SleepMs(int ms) {
  struct timespec pause = {0, ms * 1000000L};
  nanosleep(&pause, nullptr);
}

// A pipe whose ends are closed in the programs the test starts, but where
// the test passes one on as a standard stream; false on failure.
inline bool PipeOfTheTest(int ends[2]) {
  return pipe(ends) == 0 && fcntl(ends[0], F_SETFD, FD_CLOEXEC) == 0 &&
         fcntl(ends[1], F_SETFD, FD_CLOEXEC) == 0;
}

// Fills the pipe that `fd` writes to, so that the next write blocks until
// the other end is read; false on failure.
inline bool FillPipe(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return false;
  while (write(fd, ".", 1) == 1) {
  }
  return errno == EAGAIN && fcntl(fd, F_SETFL, flags) == 0;
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
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
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

  // Where the job runs: in the foreground, in the background from the start, or
  // in the foreground until SIGUSR1 to pid() stops it, puts it in the
  // background and continues it (Ctrl+Z, bg); pid() is then its shell's.
  enum class Job { kForeground, kBackground, kMovedToBackground };

  // Starts the program as a job of its own, as `job` says; in the
  // foreground, `program` may take the program's place.
  void Start(
      Job job = Job::kForeground,
      const std::function<void()>& program = [] { ExecTagbatch(); }) {
    int out[2] = {-1, -1};
    int in[2] = {-1, -1};
    if (output_ != Output::kTerminal && !PipeOfTheTest(out)) return;
    if (output_ == Output::kFullPipe && !FillPipe(out[1])) return;
    if (input_ == Input::kPipe && !PipeOfTheTest(in)) return;
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
        // The foreground goes to another process group of the session, as with
        // a job started in the background; it ends hung up with the session.
        const pid_t foreground = fork();
        if (foreground == 0) {
          setpgid(0, 0);
          for (int fd = 0; fd < 1024; ++fd) close(fd);
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
  // (SCHED_FIFO) and puts the bytes straight into the input (TIOCSTI).
  void TypeApart(const std::string& keys) const {
    static const bool faithful =
        getuid() == 0 && TerminalRun().PutsKeysExactly();
    struct sched_param first = {};
    first.sched_priority = 1;
    const bool exact = faithful && pthread_setschedparam(
                                       pthread_self(), SCHED_FIFO, &first) == 0;
    for (const char key : keys) {
      if (key == '|') {
        SleepMs(15);
      } else if (!exact || ioctl(slave_, TIOCSTI, &key) != 0) {
        Type(std::string(1, key).c_str());
      }
    }
    struct sched_param normal = {};
    if (exact) pthread_setschedparam(pthread_self(), SCHED_OTHER, &normal);
  }

  // What the program prints, on the terminal or into the pipe, until it
  // holds `text` (unless empty) or ends, or `time_ms` have passed.
  [[nodiscard]] std::string ReadOutputUntil(const std::string& text,
                                            int time_ms = kPatienceMs) const {
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
    struct termios a;
    const struct termios& b = before_;
    return tcgetattr(slave_, &a) == 0 && a.c_iflag == b.c_iflag &&
           a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
  }

  // The bytes of the whole lines typed and not read. A line typed in part is
  // whole only after Enter, or a switch out of line mode and back.
  [[nodiscard]] int LinesReady() const {
    int ready = -1;
    ioctl(slave_, FIONREAD, &ready);
    return ready;
  }

  // The bytes typed and not read, once `count` are there (out of line mode,
  // where a part line counts), read with the terminal's mode kept.
  [[nodiscard]] std::string PendingInput(size_t count) const {
    struct termios mode;
    tcgetattr(slave_, &mode);
    struct termios raw = mode;
    raw.c_lflag &= ~ICANON;
    raw.c_cc[VMIN] = raw.c_cc[VTIME] = 0;
    tcsetattr(slave_, TCSANOW, &raw);
    WaitUntil([this, count] {
      int ready = 0;
      return ioctl(slave_, FIONREAD, &ready) == 0 &&
             static_cast<size_t>(ready) >= count;
    });
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
    return ioctl(slave_, TIOCSTI, &key) == 0 && PendingInput(1) == "k";
  }

  [[nodiscard]] pid_t pid() const { return pid_; }
  // The folder the program runs in.
  [[nodiscard]] const std::string& folder() const { return dir_.path(); }
  // The terminal's own name, under /dev.
  [[nodiscard]] const char* terminal() const { return ptsname(master_); }
  [[nodiscard]] const int& status() const { return status_; }

 private:
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

#endif  // TAGBATCH_TESTS_TERMINAL_RUN_POSIX_H_
