// Puts key presses into the console's input, as the keyboard would, for
// the keys that a terminal cannot send:
//   console_keys KEY...   KEY: rctrl (Right Ctrl alone), altgr (AltGr alone)
// Exits with 0 once all of them are in the input, 1 otherwise.
#include <windows.h>

#include <cstring>
#include <vector>

namespace {

INPUT_RECORD Key(bool down, WORD code, WORD scan, DWORD state) {
  INPUT_RECORD record = {};
  record.EventType = KEY_EVENT;
  record.Event.KeyEvent.bKeyDown = down ? TRUE : FALSE;
  record.Event.KeyEvent.wRepeatCount = 1;
  record.Event.KeyEvent.wVirtualKeyCode = code;
  record.Event.KeyEvent.wVirtualScanCode = scan;
  record.Event.KeyEvent.dwControlKeyState = state;
  return record;
}

}  // namespace

int main(int argc, char** argv) {
  constexpr WORD kCtrlScan = 0x1d;
  constexpr WORD kAltScan = 0x38;
  std::vector<INPUT_RECORD> keys;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "rctrl") == 0) {
      // The right-hand key of a pair carries the enhanced-key flag.
      keys.push_back(
          Key(true, VK_CONTROL, kCtrlScan, RIGHT_CTRL_PRESSED | ENHANCED_KEY));
      keys.push_back(Key(false, VK_CONTROL, kCtrlScan, ENHANCED_KEY));
    } else if (strcmp(argv[i], "altgr") == 0) {
      // The system sends AltGr as Left Ctrl and Right Alt together.
      keys.push_back(Key(true, VK_CONTROL, kCtrlScan, LEFT_CTRL_PRESSED));
      keys.push_back(Key(true, VK_MENU, kAltScan,
                         LEFT_CTRL_PRESSED | RIGHT_ALT_PRESSED | ENHANCED_KEY));
      keys.push_back(
          Key(false, VK_MENU, kAltScan, LEFT_CTRL_PRESSED | ENHANCED_KEY));
      keys.push_back(Key(false, VK_CONTROL, kCtrlScan, 0));
    } else {
      return 1;
    }
  }
  HANDLE console = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  DWORD written = 0;
  return console != INVALID_HANDLE_VALUE &&
                 WriteConsoleInputW(console, keys.data(),
                                    static_cast<DWORD>(keys.size()),
                                    &written) &&
                 written == keys.size()
             ? 0
             : 1;
}
