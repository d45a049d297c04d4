// Puts into the console's input the events that a terminal cannot send,
// and reads the console's state for the tests:
//   console_keys EVENT...
//     rctrl    Right Ctrl pressed and released alone
//     altgr    AltGr pressed and released alone
//     release  the release of Enter, with its character, as cmd leaves it
//     wheel    a turn of the mouse wheel
//     down     the Down cursor key pressed
//     delete   the Delete key pressed
//     x        the key x pressed
//   console_keys watch FILE PROGRAM [break]   runs PROGRAM on this
//                         console, with this program's standard streams,
//                         and writes the console input's mode to FILE
//                         before, during its wait (sending it Ctrl+Break
//                         then with break) and after; exits with its status
//   console_keys screen   prints the console's lines, UTF-8, trailing
//                         spaces removed
// Exits with 0 once it has done all of it, 1 otherwise, but for watch.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

INPUT_RECORD Key(bool down, WORD code, WORD scan, DWORD state,
                 wchar_t character = 0) {
  INPUT_RECORD record = {};
  record.EventType = KEY_EVENT;
  record.Event.KeyEvent.bKeyDown = down ? TRUE : FALSE;
  record.Event.KeyEvent.wRepeatCount = 1;
  record.Event.KeyEvent.wVirtualKeyCode = code;
  record.Event.KeyEvent.wVirtualScanCode = scan;
  record.Event.KeyEvent.uChar.UnicodeChar = character;
  record.Event.KeyEvent.dwControlKeyState = state;
  return record;
}

// Adds the events that `name` stands for; false for an unknown name.
bool AddEvents(const char* name, std::vector<INPUT_RECORD>* keys) {
  constexpr WORD kCtrlScan = 0x1d;
  constexpr WORD kAltScan = 0x38;
  if (strcmp(name, "rctrl") == 0) {
    // The right-hand key of a pair carries the enhanced-key flag.
    keys->push_back(
        Key(true, VK_CONTROL, kCtrlScan, RIGHT_CTRL_PRESSED | ENHANCED_KEY));
    keys->push_back(Key(false, VK_CONTROL, kCtrlScan, ENHANCED_KEY));
  } else if (strcmp(name, "altgr") == 0) {
    // The system sends AltGr as Left Ctrl and Right Alt together.
    keys->push_back(Key(true, VK_CONTROL, kCtrlScan, LEFT_CTRL_PRESSED));
    keys->push_back(Key(true, VK_MENU, kAltScan,
                        LEFT_CTRL_PRESSED | RIGHT_ALT_PRESSED | ENHANCED_KEY));
    keys->push_back(
        Key(false, VK_MENU, kAltScan, LEFT_CTRL_PRESSED | ENHANCED_KEY));
    keys->push_back(Key(false, VK_CONTROL, kCtrlScan, 0));
  } else if (strcmp(name, "release") == 0) {
    keys->push_back(Key(false, VK_RETURN, 0x1c, 0, L'\r'));
  } else if (strcmp(name, "wheel") == 0) {
    INPUT_RECORD record = {};
    record.EventType = MOUSE_EVENT;
    record.Event.MouseEvent.dwMousePosition = COORD{10, 5};
    record.Event.MouseEvent.dwEventFlags = MOUSE_WHEELED;
    record.Event.MouseEvent.dwButtonState = 120u << 16;  // One notch up.
    keys->push_back(record);
  } else if (strcmp(name, "down") == 0) {
    keys->push_back(Key(true, VK_DOWN, 0x50, ENHANCED_KEY));
  } else if (strcmp(name, "delete") == 0) {
    keys->push_back(Key(true, VK_DELETE, 0x53, ENHANCED_KEY));
  } else if (strcmp(name, "x") == 0) {
    keys->push_back(Key(true, 'X', 0x2d, 0, L'x'));
  } else {
    return false;
  }
  return true;
}

HANDLE Open(const char* name) {
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     0, nullptr);
}

// Waits up to two minutes for the console input's mode to differ from
// `mode`; false if it does not or cannot be read.
bool WaitForModeChange(HANDLE console, DWORD* mode) {
  for (int waited = 0; waited < 120000; waited += 10) {
    DWORD now;
    if (!GetConsoleMode(console, &now)) return false;
    if (now != *mode) {
      *mode = now;
      return true;
    }
    Sleep(10);
  }
  return false;
}

// Appends "WHEN MODE" to the file `path`. Returns false on failure.
bool Note(const char* path, const char* when, DWORD mode) {
  FILE* out = fopen(path, "a");
  if (out == nullptr) return false;
  fprintf(out, "%s %04lx\n", when, static_cast<unsigned long>(mode));
  return fclose(out) == 0;
}

// Runs `command` here, noting the input mode in `path` before, once it changes
// (then sending Ctrl+Break if `send_break`) and after; returns its status.
int Watch(const char* path, char* command, bool send_break) {
  HANDLE console = Open("CONIN$");
  DWORD mode;
  if (!GetConsoleMode(console, &mode) || !Note(path, "before", mode)) return 1;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process;
  if (!CreateProcessA(nullptr, command, nullptr, nullptr, TRUE, 0, nullptr,
                      nullptr, &startup, &process))
    return 1;
  // Ctrl+C is for the program watched, which does not inherit this.
  SetConsoleCtrlHandler(nullptr, TRUE);
  if (!WaitForModeChange(console, &mode) || !Note(path, "during", mode))
    return 1;
  // Ctrl+Break as the system delivers it: a thread in the program that runs
  // its console control handlers. (Wine sends none through the console.)
  const auto handlers =
      reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(
          GetProcAddress(GetModuleHandleA("kernelbase.dll"), "CtrlRoutine")));
  if (send_break && !CloseHandle(CreateRemoteThread(
                        process.hProcess, nullptr, 0, handlers,
                        reinterpret_cast<void*>(CTRL_BREAK_EVENT), 0, nullptr)))
    return 1;
  DWORD status = 1;
  return WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                 GetExitCodeProcess(process.hProcess, &status) &&
                 GetConsoleMode(console, &mode) && Note(path, "after", mode)
             ? static_cast<int>(status)
             : 1;
}

int PrintScreen() {
  HANDLE console = Open("CONOUT$");
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(console, &info)) return 1;
  const SHORT width = info.dwSize.X;
  std::vector<wchar_t> row(static_cast<size_t>(width));
  for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
    DWORD read = 0;
    if (!ReadConsoleOutputCharacterW(console, row.data(), width, COORD{0, y},
                                     &read))
      return 1;
    std::wstring line(row.data(), read);
    line.erase(line.find_last_not_of(L' ') + 1);
    char utf8[1024];
    const int length = WideCharToMultiByte(CP_UTF8, 0, line.data(),
                                           static_cast<int>(line.size()), utf8,
                                           sizeof utf8, nullptr, nullptr);
    fwrite(utf8, 1, static_cast<size_t>(length), stdout);
    fputc('\n', stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "screen") == 0) return PrintScreen();
  if ((argc == 4 || (argc == 5 && strcmp(argv[4], "break") == 0)) &&
      strcmp(argv[1], "watch") == 0)
    return Watch(argv[2], argv[3], argc == 5);
  std::vector<INPUT_RECORD> keys;
  for (int i = 1; i < argc; ++i) {
    if (!AddEvents(argv[i], &keys)) return 1;
  }
  HANDLE console = Open("CONIN$");
  DWORD written = 0;
  return console != INVALID_HANDLE_VALUE &&
                 WriteConsoleInputW(console, keys.data(),
                                    static_cast<DWORD>(keys.size()),
                                    &written) &&
                 written == keys.size()
             ? 0
             : 1;
}
