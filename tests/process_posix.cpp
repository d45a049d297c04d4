#include "tests/process_posix.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

namespace {

long NowMs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000L + now.tv_nsec / 1000000L;
}

// The command that runs the program: its path, behind the emulator's
// command line when there is one.
const char* const kCommand[] = {TAGBATCH_COMMAND};
constexpr size_t kCommandLength = sizeof kCommand / sizeof *kCommand;

// Makes `fd` the child's descriptor `target`, or /dev/null when negative.
bool Attach(int fd, int target, int null_flags) {
  if (fd < 0) fd = open("/dev/null", null_flags);
  return fd >= 0 && dup2(fd, target) == target;
}

// Runs in `directory`, as RunTagbatch describes, whatever `exec` puts in
// place of the child process.
RunResult RunInDirectory(const std::string& directory,
                         const std::function<void()>& exec) {
  RunResult result;
  int out[2];
  int err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return result;
  ChildSetup setup;
  setup.directory = directory;
  setup.out = out[1];
  setup.err = err[1];
  const pid_t pid = Spawn(setup, [&] {
    close(out[0]);
    close(err[0]);
    exec();
  });
  close(out[1]);
  close(err[1]);
  if (pid < 0) {
    close(out[0]);
    close(err[0]);
    return result;
  }
  struct pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_pipes = 2;
  const long deadline = NowMs() + kPatienceMs;
  while (open_pipes > 0) {
    long left = deadline - NowMs();
    if (left <= 0) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    int n = poll(fds, 2, static_cast<int>(left));
    if (n < 0 && errno == EINTR) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(got));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_pipes;
      }
    }
  }
  for (const struct pollfd& fd : fds)
    if (fd.fd >= 0) close(fd.fd);
  waitpid(pid, &result.status, 0);
  return result;
}

}  // namespace

pid_t Spawn(const ChildSetup& setup, const std::function<void()>& body) {
  const pid_t pid = fork();
  if (pid < 0) {
    ADD_FAILURE() << "fork: " << strerror(errno);
    return -1;
  }
  if (pid == 0) {
    if (setsid() < 0) _exit(127);
    if (setup.terminal >= 0 && ioctl(setup.terminal, TIOCSCTTY, 0) != 0)
      _exit(127);
    if (!Attach(setup.in, 0, O_RDONLY) || !Attach(setup.out, 1, O_WRONLY) ||
        !Attach(setup.err, 2, O_WRONLY))
      _exit(127);
    if (chdir(setup.directory.c_str()) != 0) _exit(127);
    body();
    _exit(127);
  }
  return pid;
}

void ExecTagbatch(const char* argument) {
  const char* argv[kCommandLength + 2] = {};
  for (size_t i = 0; i < kCommandLength; ++i) argv[i] = kCommand[i];
  argv[kCommandLength] = argument;
  execv(argv[0], const_cast<char* const*>(argv));
  _exit(127);
}

bool CanLimitAddressSpace() {
  // cppcheck-suppress knownConditionTrueFalse ; it is fixed for each build.
  return kCommandLength == 1 && TAGBATCH_SANITIZED == 0;
}

RunResult RunTagbatch(const std::string& directory, const char* argument,
                      const std::function<void()>& prepare) {
  return RunInDirectory(directory, [&] {
    if (prepare) prepare();
    ExecTagbatch(argument);
  });
}

RunResult RunProgram(const std::vector<const char*>& argv,
                     const std::string& directory) {
  return RunInDirectory(directory, [&argv] {
    std::vector<const char*> terminated = argv;
    terminated.push_back(nullptr);
    execvp(terminated[0], const_cast<char* const*>(terminated.data()));
    _exit(127);
  });
}

void ExpectCleanExit(const RunResult& run) {
  EXPECT_FALSE(run.timed_out);
  EXPECT_TRUE(WIFEXITED(run.status));
  EXPECT_EQ(WEXITSTATUS(run.status), 0);
  EXPECT_EQ(run.err, "");
}

int RunInChild(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid < 0) {
    ADD_FAILURE() << "fork: " << strerror(errno);
    return -1;
  }
  if (pid == 0) _exit(body());
  int status;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

int RunAsNobody(const std::function<int()>& body) {
  return RunInChild([&body] {
    // Without root the tests already run unprivileged.
    if (getuid() != 0) return body();
    if (setgroups(0, nullptr) != 0) return 126;
    if (setgid(kNobody) != 0 || setuid(kNobody) != 0) return 126;
    return body();
  });
}

bool WaitUntil(const std::function<bool()>& done, int patience_ms) {
  for (const long deadline = NowMs() + patience_ms; !done();) {
    if (NowMs() >= deadline) return false;
    const struct timespec pause = {0, 1000000};
    nanosleep(&pause, nullptr);
  }
  return true;
}

bool WaitForRecordsInATemporaryFile(const ScratchDir& dir) {
  return WaitUntil([&dir] {
    for (const std::string& name : dir.List()) {
      struct stat status;
      if (name.compare(0, 10, ".tagbatch-") == 0 &&
          stat((dir / name).c_str(), &status) == 0 && status.st_size > 0)
        return true;
    }
    return false;
  });
}
