#include <windows.h>

#include <cstdio>

#include "driver/platform.h"

struct DirectorySearch::State {
  HANDLE handle = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAA entry = {};
};

DirectorySearch::DirectorySearch() : state_(new State) {}

DirectorySearch::~DirectorySearch() { Close(); }

bool DirectorySearch::Start(const char* pattern) {
  Close();
  // The system matches the pattern, ignoring letter case.
  state_->handle = FindFirstFileA(pattern, &state_->entry);
  return state_->handle != INVALID_HANDLE_VALUE;
}

bool DirectorySearch::Next() {
  if (state_->handle == INVALID_HANDLE_VALUE) return false;
  return FindNextFileA(state_->handle, &state_->entry) != 0;
}

const char* DirectorySearch::name() const { return state_->entry.cFileName; }

void DirectorySearch::Close() {
  if (state_->handle != INVALID_HANDLE_VALUE) FindClose(state_->handle);
  state_->handle = INVALID_HANDLE_VALUE;
}

void SetUpStandardOutput() {
  DWORD mode;
  if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0) {
    // The C library does not line-buffer; unbuffered shows each line.
    (void)setvbuf(stdout, nullptr, _IONBF, 0);
  } else {
    static char buffer[4096];
    (void)setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  }
}

namespace {

// Keys that send no character but an extended code: cursor and function
// keys and their neighbours.
bool IsExtendedKey(const KEY_EVENT_RECORD& key) {
  if ((key.dwControlKeyState & ENHANCED_KEY) != 0) return true;
  WORD code = key.wVirtualKeyCode;
  return (code >= VK_F1 && code <= VK_F24) ||
         (code >= VK_PRIOR && code <= VK_DOWN) || code == VK_INSERT ||
         code == VK_DELETE || code == VK_CLEAR;
}

}  // namespace

void WaitForKey() {
  // Opened at the first wait and kept until the program ends.
  static HANDLE console = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD saved;
  if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &saved))
    return;
  // Mode changes leave pending input alone: a key pressed during the run
  // ends the wait at once.
  SetConsoleMode(console, saved & ~(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT |
                                    ENABLE_PROCESSED_INPUT));
  INPUT_RECORD record;
  DWORD count;
  while (ReadConsoleInputA(console, &record, 1, &count) && count == 1) {
    if (record.EventType != KEY_EVENT) continue;
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    if (key.bKeyDown && (key.uChar.AsciiChar != 0 || IsExtendedKey(key))) break;
  }
  SetConsoleMode(console, saved);
}
