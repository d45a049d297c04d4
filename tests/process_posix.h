// Running the program and test code in child processes.
#ifndef TAGBATCH_TESTS_PROCESS_POSIX_H_
#define TAGBATCH_TESTS_PROCESS_POSIX_H_

#include <sys/resource.h>
#include <sys/types.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/scratch_dir.h"

// How long a test waits for what must come: long enough for a machine
// under any load, and well within the time ctest gives a test.
constexpr int kPatienceMs = 120000;

// Asks `done` until it answers true, every millisecond; false once
// `patience_ms` have passed without.
bool WaitUntil(const std::function<bool()>& done,
               int patience_ms = kPatienceMs);

struct RunResult {
  std::string out;  // Everything written to standard output.
  std::string err;  // Everything written to standard error.
  int status = -1;  // The wait status.
  bool timed_out = false;
};

// How a child starts: in a new session and `directory`, with these standard
// streams (/dev/null where negative), `terminal` if set its controlling one.
struct ChildSetup {
  std::string directory = ".";
  int in = -1;
  int out = -1;
  int err = -1;
  int terminal = -1;
};

// Forks a child set up as `setup` says to run `body`, which replaces or ends
// it; it exits 127 if not set up. Returns its pid, or -1 with a test failure.
pid_t Spawn(const ChildSetup& setup, const std::function<void()>& body);

// Runs the program in `directory` with no terminal, in a new session, input
// from /dev/null, both outputs captured, after `prepare` (a shell's limits,
// say) in the child. A run past kPatienceMs is killed.
RunResult RunTagbatch(const std::string& directory,
                      const char* argument = nullptr,
                      const std::function<void()>& prepare = nullptr);

// Sets a resource limit in the child, as a user's `ulimit` would; a child
// that cannot set it exits with 126.
inline std::function<void()> Limit(int resource, rlim_t limit) {
  return [resource, limit] {
    struct rlimit value = {limit, limit};
    if (setrlimit(resource, &value) != 0) _exit(126);
  };
}

// Checks that a run ended by itself, with status 0 and nothing on standard
// error.
void ExpectCleanExit(const RunResult& run);

// Runs the command `argv`, found on the PATH, in `directory` as RunTagbatch
// runs the program. A child that cannot start it exits with 127.
RunResult RunProgram(const std::vector<const char*>& argv,
                     const std::string& directory);

// Replaces the calling process with the program, given `argument` (if not
// null); under an emulator when the tests run under one. Never returns.
[[noreturn]] void ExecTagbatch(const char* argument = nullptr);

// Whether a limit on the program's address space leaves it working: not
// under the sanitizers or an emulator, which reserve a great deal of it.
bool CanLimitAddressSpace();

// Waits until a temporary tag file in `dir` holds records; false if none
// does in time.
bool WaitForRecordsInATemporaryFile(const ScratchDir& dir);

// Runs `body` in a forked child and returns its result, or -1 (adding a test
// failure when it cannot fork) if the child did not end normally.
int RunInChild(const std::function<int()>& body);

// Runs `body` in a forked child as the unprivileged user and group 65534.
int RunAsNobody(const std::function<int()>& body);

// The uid and gid that RunAsNobody switches to.
constexpr int kNobody = 65534;

#endif  // TAGBATCH_TESTS_PROCESS_POSIX_H_
