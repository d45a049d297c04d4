#include <windows.h>

#include "io/input_file.h"

namespace {

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

bool InputFile::Open(const char* path) {
  HANDLE file =
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // Devices (NUL, CON, COM1, ...) and pipes open too; only disk files are
  // models.
  LARGE_INTEGER file_size;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &file_size)) {
    CloseHandle(file);
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(file);
  size_ = file_size.QuadPart;
  return true;
}

int64_t InputFile::ReadAt(void* buffer, size_t size, int64_t offset) const {
  if (handle_ == kNoHandle || offset < 0) return -1;
  // One request reads at most what a DWORD can count.
  DWORD wanted = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  DWORD read = 0;
  if (!ReadFile(AsHandle(handle_), buffer, wanted, &read, &at))
    return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  return read;
}

void InputFile::Close() {
  if (handle_ == kNoHandle) return;
  CloseHandle(AsHandle(handle_));
  handle_ = kNoHandle;
  size_ = 0;
}
