#include <windows.h>

#include <cstring>

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

// The temporary file that RemoveUnfinishedReplacement removes, whether it
// has run, and the lock that makes creating or renaming the file and
// registering the change one step for the console control handler, which
// runs on a thread of its own while the main thread goes on until the
// process ends. Once the handler has run, no new temporary file is made.
SRWLOCK g_lock = SRWLOCK_INIT;
const char* g_unfinished = nullptr;
bool g_ending = false;

// The length of the directory part of `path`, up to its last separator.
size_t DirectoryLength(const char* path) {
  size_t length = 0;
  for (size_t i = 0; path[i] != '\0'; ++i) {
    if (path[i] == '\\' || path[i] == '/' || path[i] == ':') length = i + 1;
  }
  return length;
}

}  // namespace

bool ReplacementFile::Begin(const char* path) {
  const size_t length = strlen(path);
  if (length >= kMaxPath) return false;
  memcpy(target_, path, length + 1);
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

  const size_t directory_length = DirectoryLength(target_);
  static const unsigned long process = GetCurrentProcessId();
  HANDLE file = INVALID_HANDLE_VALUE;
  DWORD error = ERROR_FILE_EXISTS;
  for (int attempt = 0; file == INVALID_HANDLE_VALUE &&
                        error == ERROR_FILE_EXISTS && attempt < kMaxAttempts;
       ++attempt) {
    if (!NameTemporary(directory_length, process, attempt)) return false;
    // Shared for deletion, so that the control handler can remove it while
    // it is still open.
    AcquireSRWLockExclusive(&g_lock);
    if (g_ending) {
      ReleaseSRWLockExclusive(&g_lock);
      return false;
    }
    file = CreateFileA(temporary_, GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                       CREATE_NEW, new_attributes, nullptr);
    error = GetLastError();
    if (file != INVALID_HANDLE_VALUE) g_unfinished = temporary_;
    ReleaseSRWLockExclusive(&g_lock);
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
  AcquireSRWLockExclusive(&g_lock);
  if (!CloseHandle(AsHandle(handle_))) ok = false;
  handle_ = kNoHandle;
  if (ok) ok = MoveFileExA(temporary_, target_, MOVEFILE_REPLACE_EXISTING) != 0;
  if (!ok) DeleteFileA(temporary_);
  g_unfinished = nullptr;
  ReleaseSRWLockExclusive(&g_lock);
  return ok;
}

void ReplacementFile::Discard() {
  if (handle_ == kNoHandle) return;
  AcquireSRWLockExclusive(&g_lock);
  CloseHandle(AsHandle(handle_));
  handle_ = kNoHandle;
  DeleteFileA(temporary_);
  g_unfinished = nullptr;
  ReleaseSRWLockExclusive(&g_lock);
}

void RemoveUnfinishedReplacement() {
  AcquireSRWLockExclusive(&g_lock);
  g_ending = true;
  // Still open for writing: it goes once the last handle is closed, which
  // is when the process ends at the latest.
  if (g_unfinished != nullptr) DeleteFileA(g_unfinished);
  ReleaseSRWLockExclusive(&g_lock);
}
