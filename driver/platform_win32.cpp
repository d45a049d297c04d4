#include <windows.h>

#include <cstdio>
#include <cstring>

#include "driver/platform.h"
#include "io/replacement_file.h"

static_assert(sizeof(WIN32_FIND_DATAA::cFileName) <=
                  DirectorySearch::kMaxNameSize,
              "every name the search yields fits the batch's copy");

namespace {

HANDLE AsSearch(void* handle) { return static_cast<HANDLE>(handle); }

}  // namespace

bool DirectorySearch::Start(const char* pattern) {
  Close();
  // The system matches the pattern, ignoring letter case.
  WIN32_FIND_DATAA entry;
  const HANDLE handle = FindFirstFileA(pattern, &entry);
  if (handle == INVALID_HANDLE_VALUE) return false;
  handle_ = handle;
  memcpy(name_, entry.cFileName, sizeof entry.cFileName);
  return true;
}

bool DirectorySearch::Next() {
  if (handle_ == nullptr) return false;
  WIN32_FIND_DATAA entry;
  if (FindNextFileA(AsSearch(handle_), &entry) == 0) return false;
  memcpy(name_, entry.cFileName, sizeof entry.cFileName);
  return true;
}

void DirectorySearch::Close() {
  if (handle_ != nullptr) FindClose(AsSearch(handle_));
  handle_ = nullptr;
}

namespace {

// Standard output when it is a console, written in UTF-16; null otherwise.
HANDLE g_console_output = nullptr;
// The console input device, once the key wait has opened it; only the
// main thread touches it.
HANDLE g_console_input = nullptr;

// The console input that the key wait has changed, or null, and the mode
// to put back. The main thread changes them under the lock; the control
// handler takes the lock for good, then reads them.
SRWLOCK g_console_lock = SRWLOCK_INIT;
HANDLE g_changed_console = nullptr;
DWORD g_saved_mode = 0;

// Runs on a thread of its own when Ctrl+C, Ctrl+Break or closing the
// console would end the program, while the main thread goes on. It puts
// the console back and keeps the lock: the main thread then blocks at its
// next SetWaitMode, so it can never switch the console to the wait's mode
// again. That holds only because the handler returns FALSE: the system's
// own handler then always ends the process, the blocked thread with it.
BOOL WINAPI CleanUpOnConsoleEvent(DWORD /*event*/) {
  RemoveUnfinishedReplacement();
  AcquireSRWLockExclusive(&g_console_lock);
  if (g_changed_console != nullptr)
    SetConsoleMode(g_changed_console, g_saved_mode);
  // Not handled, whatever the event: handling one would leave the lock
  // taken for a process that goes on.
  return FALSE;
}

// Switches `console` to `mode`, remembering `saved` for the control
// handler, or forgets it when `saved` is null.
void SetWaitMode(HANDLE console, DWORD mode, const DWORD* saved) {
  AcquireSRWLockExclusive(&g_console_lock);
  SetConsoleMode(console, mode);
  g_changed_console = saved != nullptr ? console : nullptr;
  if (saved != nullptr) g_saved_mode = *saved;
  ReleaseSRWLockExclusive(&g_console_lock);
}

// Whether a key event ends the wait: a key press that gives a character,
// or one of a cursor, function or editing key. Modifier and lock keys give
// no character, so alone they never end it.
bool EndsWait(const KEY_EVENT_RECORD& key) {
  if (!key.bKeyDown) return false;
  const WORD code = key.wVirtualKeyCode;
  return key.uChar.UnicodeChar != 0 || (code >= VK_F1 && code <= VK_F24) ||
         (code >= VK_PRIOR && code <= VK_DOWN) || code == VK_INSERT ||
         code == VK_DELETE || code == VK_CLEAR;
}

}  // namespace

void SetUpStandardOutput() {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode;
  if (GetConsoleMode(output, &mode) != 0) {
    g_console_output = output;
    // Anything that still goes through the C library shows at once.
    (void)setvbuf(stdout, nullptr, _IONBF, 0);
  } else {
    static char buffer[4096];
    (void)setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  }
}

bool OutputIsTerminal() { return g_console_output != nullptr; }

void WriteOutput(const char* text) {
  // The names are in the program's code page (UTF-8 by its manifest from
  // Windows 10 version 1903, the system's ANSI code page before); the
  // console would read the bytes in its own.
  wchar_t wide[2 * DirectorySearch::kMaxNameSize];
  const int length = g_console_output == nullptr
                         ? 0
                         : MultiByteToWideChar(CP_ACP, 0, text, -1, wide,
                                               sizeof wide / sizeof *wide);
  if (length > 0) {
    DWORD written;
    WriteConsoleW(g_console_output, wide, static_cast<DWORD>(length - 1),
                  &written, nullptr);
  } else {
    (void)fputs(text, stdout);
  }
}

void HandleEndingSignals() {
  SetConsoleCtrlHandler(CleanUpOnConsoleEvent, TRUE);
}

void WaitForKey() {
  // Opened at the first wait and kept until the program ends.
  if (g_console_input == nullptr)
    g_console_input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  const HANDLE console = g_console_input;
  DWORD saved;
  if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &saved))
    return;
  // Mode changes leave pending input alone: a key pressed during the run
  // ends the wait at once.
  SetWaitMode(
      console,
      saved & ~(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT),
      &saved);
  // The wide call, so that a key outside the console's code page still
  // gives its character.
  INPUT_RECORD record;
  DWORD count;
  while (ReadConsoleInputW(console, &record, 1, &count) && count == 1) {
    if (record.EventType == KEY_EVENT && EndsWait(record.Event.KeyEvent)) break;
  }
  SetWaitMode(console, saved, nullptr);
}
