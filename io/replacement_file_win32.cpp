#include <windows.h>

#include <string>

#include "io/replacement_file.h"

namespace {

// Temporary names tried before giving up, should stale ones lie around.
constexpr int kMaxAttempts = 100;

// The attributes that an existing tag file passes on to its new version,
// as a plain overwrite would keep them.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// Appends the name of the `attempt`th temporary file to `path`; its ".tmp"
// ending keeps it out of every model search.
void AppendTemporaryName(int attempt, std::string* path) {
  static const std::string base =
      ".tagbatch-" + std::to_string(GetCurrentProcessId());
  *path += base;
  if (attempt > 0) *path += "-" + std::to_string(attempt);
  *path += ".tmp";
}

}  // namespace

bool ReplacementFile::Begin(const char* path) {
  target_ = path;
  const DWORD attributes = GetFileAttributesA(path);
  // The new version is created with the attributes it passes on.
  DWORD new_attributes = FILE_ATTRIBUTE_NORMAL;
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    // A plain overwrite would fail on these, so the replacement does too.
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) !=
        0)
      return false;
    if ((attributes & kKeptAttributes) != 0)
      new_attributes = attributes & kKeptAttributes;
  } else if (GetLastError() != ERROR_FILE_NOT_FOUND &&
             GetLastError() != ERROR_PATH_NOT_FOUND) {
    return false;
  }

  size_t slash = target_.find_last_of("\\/:");
  size_t directory_length = slash == std::string::npos ? 0 : slash + 1;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; file == INVALID_HANDLE_VALUE && attempt < kMaxAttempts;
       ++attempt) {
    temporary_.assign(target_, 0, directory_length);
    AppendTemporaryName(attempt, &temporary_);
    file = CreateFileA(temporary_.c_str(), GENERIC_WRITE, 0, nullptr,
                       CREATE_NEW, new_attributes, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
      return false;
  }
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<intptr_t>(file);
  return true;
}

bool ReplacementFile::Write(const void* data, size_t size) {
  if (handle_ == kNoHandle || failed_) return false;
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(AsHandle(handle_), bytes, chunk, &written, nullptr) ||
        written == 0) {
      failed_ = true;
      return false;
    }
    bytes += written;
    size -= written;
  }
  return true;
}

bool ReplacementFile::Commit() {
  if (handle_ == kNoHandle) return false;
  bool ok = !failed_;
  if (!CloseHandle(AsHandle(handle_))) ok = false;
  handle_ = kNoHandle;
  if (ok)
    ok = MoveFileExA(temporary_.c_str(), target_.c_str(),
                     MOVEFILE_REPLACE_EXISTING) != 0;
  if (!ok) DeleteFileA(temporary_.c_str());
  return ok;
}

void ReplacementFile::Discard() {
  if (handle_ == kNoHandle) return;
  CloseHandle(AsHandle(handle_));
  handle_ = kNoHandle;
  DeleteFileA(temporary_.c_str());
}
