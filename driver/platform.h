// What a batch run needs from the operating system: finding the models,
// standard output, ending signals and waiting for a key.
#ifndef TAGBATCH_DRIVER_PLATFORM_H_
#define TAGBATCH_DRIVER_PLATFORM_H_

#include <cstddef>

// A search of the current directory for the entries whose names match a
// pattern "*SUFFIX", letter case ignored. Entries of every kind match, in
// the order the system lists them. On Windows the system does the
// matching, and it also matches a file's short (8.3) name where the volume
// keeps them: x.md3old, whose short name is X~1.MD3, is found too.
class DirectorySearch {
 public:
  // The longest name, with its terminating zero, that a search yields.
  static constexpr size_t kMaxNameSize = 260;

  DirectorySearch() = default;
  DirectorySearch(const DirectorySearch&) = delete;
  DirectorySearch& operator=(const DirectorySearch&) = delete;
  ~DirectorySearch() { Close(); }

  // Starts the search, ending any before, and moves to the first match;
  // `pattern` must stay valid until the search is closed. Returns false
  // when the directory cannot be read or nothing matches.
  bool Start(const char* pattern);
  // Moves to the next match. Returns false when there are no more or the
  // search fails.
  bool Next();
  // The current match's bare name, valid until the next call.
  const char* name() const { return name_; }
  // Ends the search; safe to call more than once.
  void Close();

 private:
  void* handle_ = nullptr;        // A DIR* or a search HANDLE, or null.
  const char* suffix_ = nullptr;  // Where the system does not match: the
                                  // pattern less its leading '*'.
  char name_[kMaxNameSize] = {};  // The current match.
};

// Makes standard output show each line at once on a console, and collect
// it in a 4096-byte buffer otherwise, written whenever it fills and at
// exit. A reader that goes away (a closed pipe) no longer ends the
// program: on POSIX SIGPIPE is ignored, and the writes fail unreported.
// Call it before anything is printed.
void SetUpStandardOutput();

// Whether standard output is a terminal or console, where the control
// characters of a name would drive the screen.
bool OutputIsTerminal();

// Writes `text` to standard output. On a console it shows as the
// characters it spells, whatever the console's code page; into a file or
// pipe its bytes go unchanged.
void WriteOutput(const char* text);

// Makes the signals that would end the program (on Windows: Ctrl+C,
// Ctrl+Break and closing the console) first remove an unfinished tag file
// and put the terminal back as it was; the program then ends as the signal
// has it. A signal that was ignored at start stays ignored. One is not an
// ending: SIGXFSZ is ignored, so that a tag file that outgrows the file
// size limit fails to be written, one model's failure, instead of ending
// the program.
void HandleEndingSignals();

// Waits for one key press on the console, never on standard input, with
// echo, line editing and control keys off, and puts the console back as
// it was. Returns at once when there is no console to wait on.
void WaitForKey();

#endif  // TAGBATCH_DRIVER_PLATFORM_H_
