#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "driver/platform.h"
#include "io/replacement_file.h"

// Where the system states its longest name, every name the search yields
// is known to fit the batch's copy.
#ifdef NAME_MAX
static_assert(NAME_MAX < DirectorySearch::kMaxNameSize,
              "every name the search yields fits the batch's copy");
#endif

namespace {

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether `name` ends in `suffix`, ASCII letter case ignored.
bool EndsWith(const char* name, const char* suffix) {
  const size_t length = strlen(name);
  const size_t suffix_length = strlen(suffix);
  if (length < suffix_length) return false;
  const char* tail = name + length - suffix_length;
  for (size_t i = 0; i < suffix_length; ++i) {
    if (Lower(tail[i]) != Lower(suffix[i])) return false;
  }
  return true;
}

}  // namespace

bool DirectorySearch::Start(const char* pattern) {
  Close();
  suffix_ = pattern[0] == '*' ? pattern + 1 : pattern;
  handle_ = opendir(".");
  return handle_ != nullptr && Next();
}

bool DirectorySearch::Next() {
  if (handle_ == nullptr) return false;
  // A read error ends the search as if the entries had run out.
  while (const dirent* entry = readdir(static_cast<DIR*>(handle_))) {
    if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0)
      continue;
    if (EndsWith(entry->d_name, suffix_)) {
      (void)snprintf(name_, sizeof name_, "%s", entry->d_name);
      return true;
    }
  }
  name_[0] = '\0';
  return false;
}

void DirectorySearch::Close() {
  if (handle_ != nullptr) closedir(static_cast<DIR*>(handle_));
  handle_ = nullptr;
  name_[0] = '\0';
}

namespace {

bool g_output_is_terminal = false;

}  // namespace

void SetUpStandardOutput() {
  // A reader that goes away must not change the exit status.
  (void)signal(SIGPIPE, SIG_IGN);
  g_output_is_terminal = isatty(STDOUT_FILENO) != 0;
  // Should a mode not be taken, the default buffering still works.
  if (g_output_is_terminal) {
    (void)setvbuf(stdout, nullptr, _IOLBF, 0);
  } else {
    static char buffer[4096];
    (void)setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  }
}

bool OutputIsTerminal() { return g_output_is_terminal; }

void WriteOutput(const char* text) { (void)fputs(text, stdout); }

namespace {

// The terminal that the key wait has switched to raw mode, or -1, and the
// mode to put back; the signal handler reads both.
std::atomic<int> g_raw_terminal{-1};
struct termios g_saved_mode;
static_assert(std::atomic<int>::is_always_lock_free,
              "a signal handler reads the raw terminal");

// The signals whose default action ends the process and that someone else
// sends to end it: those of POSIX, then those that only some systems have.
// The signals of the program's own faults (SIGSEGV, SIGBUS, SIGILL,
// SIGFPE, SIGABRT, SIGTRAP, SIGSYS) keep their defaults, so that a crash is
// reported as one.
constexpr int kEndingSignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT,   SIGTERM, SIGUSR1,
    SIGUSR2,   SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU,
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

void CleanUpAndEnd(int signal_number) {
  RemoveUnfinishedReplacement();
  const int terminal = g_raw_terminal;
  if (terminal >= 0) tcsetattr(terminal, TCSANOW, &g_saved_mode);
  // SA_RESETHAND has put the default action back; it takes effect when
  // this handler returns.
  (void)raise(signal_number);
}

// Installs `action` for `signal_number` unless the signal is ignored.
void HandleUnlessIgnored(int signal_number, const struct sigaction& action) {
  struct sigaction current;
  if (sigaction(signal_number, nullptr, &current) == 0 &&
      current.sa_handler != SIG_IGN)
    (void)sigaction(signal_number, &action, nullptr);
}

}  // namespace

void HandleEndingSignals() {
  // Past the file size limit a write then fails like any short write.
  (void)signal(SIGXFSZ, SIG_IGN);
  struct sigaction action = {};
  action.sa_handler = CleanUpAndEnd;
  action.sa_flags = SA_RESETHAND;
  // One clean-up at a time.
  sigfillset(&action.sa_mask);
  for (int signal_number : kEndingSignals)
    HandleUnlessIgnored(signal_number, action);
#ifdef SIGRTMIN
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number)
    HandleUnlessIgnored(signal_number, action);
#endif
}

namespace {

// Reads one byte, waiting at most `timeout_ms` milliseconds, or for ever
// when it is negative. Returns false on a timeout, an end or an error.
bool ReadByte(int fd, int timeout_ms, unsigned char* byte) {
  for (;;) {
    if (timeout_ms >= 0) {
      struct pollfd ready = {fd, POLLIN, 0};
      int n = poll(&ready, 1, timeout_ms);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
    }
    ssize_t n = read(fd, byte, 1);
    if (n < 0 && errno == EINTR) continue;
    return n == 1;
  }
}

// Reads the bytes that the same key press sent after `first`: the rest of
// an escape sequence (cursor and function keys) or of a UTF-8 character,
// so that none of it reaches the shell afterwards.
void ReadRestOfKey(int fd, unsigned char first) {
  // The bytes of one key arrive together; a pause means the key is done.
  constexpr int kPauseMs = 50;
  constexpr int kMaxSequence = 32;
  unsigned char byte;
  if (first == 0x1b) {
    if (!ReadByte(fd, kPauseMs, &byte)) return;  // Escape alone.
    if (byte == '[') {
      // Parameters and intermediates, then a final byte in @ to ~.
      for (int i = 0; i < kMaxSequence && ReadByte(fd, kPauseMs, &byte); ++i) {
        if (byte >= 0x40 && byte <= 0x7e) break;
      }
    } else if (byte == 'O') {
      ReadByte(fd, kPauseMs, &byte);
    }
    return;
  }
  int continuation = first >= 0xf0   ? 3
                     : first >= 0xe0 ? 2
                     : first >= 0xc0 ? 1
                                     : 0;
  while (continuation-- > 0 && ReadByte(fd, kPauseMs, &byte)) {
  }
}

}  // namespace

void WaitForKey() {
  int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  // Touching the terminal from a background job would stop the process.
  struct termios saved;
  if (isatty(fd) == 0 || tcgetpgrp(fd) != getpgrp() ||
      tcgetattr(fd, &saved) != 0) {
    close(fd);
    return;
  }

  // Should the job be moved to the background meanwhile, reads and mode
  // changes fail instead of stopping the process.
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  struct sigaction previous_ttin;
  struct sigaction previous_ttou;
  sigaction(SIGTTIN, &ignore, &previous_ttin);
  sigaction(SIGTTOU, &ignore, &previous_ttou);

  struct termios raw = saved;
  raw.c_lflag &= ~(ICANON | ECHO | ISIG | IEXTEN);
  raw.c_iflag &= ~IXON;
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  // Announced before the switch, so that an ending signal always finds the
  // mode to put back.
  g_saved_mode = saved;
  g_raw_terminal = fd;
  // TCSANOW keeps pending input: a key pressed during the run counts.
  if (tcsetattr(fd, TCSANOW, &raw) == 0) {
    unsigned char first;
    if (ReadByte(fd, -1, &first)) ReadRestOfKey(fd, first);
    tcsetattr(fd, TCSANOW, &saved);
  }
  g_raw_terminal = -1;

  sigaction(SIGTTIN, &previous_ttin, nullptr);
  sigaction(SIGTTOU, &previous_ttou, nullptr);
  close(fd);
}
