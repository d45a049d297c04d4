#include <windows.h>

#include <cstring>

#include "io/replacement_file.h"

namespace {

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
// process ends. So the handler sees either no temporary file, or one that
// is registered and still ours; once it has run, no new temporary file is
// made.
SRWLOCK g_lock = SRWLOCK_INIT;
const char* g_unfinished = nullptr;
bool g_ending = false;

// Asked of the system at first use; only the main thread creates files.
unsigned long g_process = 0;

// The identity of the file open as `file`, and its attributes when
// `attributes` is not null; false if the system does not tell them.
bool IdentityOf(HANDLE file, FileIdentity* identity,
                DWORD* attributes = nullptr) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(file, &information)) return false;
  if (attributes != nullptr) *attributes = information.dwFileAttributes;
  identity->device = information.dwVolumeSerialNumber;
  identity->index =
      uint64_t{information.nFileIndexHigh} << 32 | information.nFileIndexLow;
  return true;
}

// Writes into `path`, of ReplacementFile::kMaxPath bytes, the full name of
// the file open as `file`, reached through whatever links led to it;
// false, changing nothing, if the system does not tell it or it is too
// long.
bool FinalPath(HANDLE file, char* path) {
  char final_path[ReplacementFile::kMaxPath];
  const DWORD length =
      GetFinalPathNameByHandleA(file, final_path, sizeof final_path,
                                FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= sizeof final_path) return false;
  memcpy(path, final_path, length + 1);
  return true;
}

// The length of the directory part of `path`, up to its last separator.
size_t DirectoryLength(const char* path) {
  size_t length = 0;
  for (size_t i = 0; path[i] != '\0'; ++i) {
    if (path[i] == '\\' || path[i] == '/' || path[i] == ':') length = i + 1;
  }
  return length;
}

}  // namespace

bool ReplacementFile::Resolve(const char* path) {
  if (resolved_ || handle_ != kNoHandle) return false;
  const size_t length = strlen(path);
  if (length >= kMaxPath) return false;
  memcpy(target_, path, length + 1);
  // Opened for its attributes alone, which another program's sharing mode
  // does not forbid; a directory opens too, and is refused below.
  HANDLE file =
      CreateFileA(path, FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  // The new version is created with the attributes it passes on.
  kept_mode_ = FILE_ATTRIBUTE_NORMAL;
  target_exists_ = file != INVALID_HANDLE_VALUE;
  if (target_exists_) {
    DWORD attributes = 0;
    const bool known = IdentityOf(file, &target_identity_, &attributes);
    // A link in the target's place stays: the file it leads to is the one
    // replaced. Should the system not tell where that is, the name itself
    // is replaced.
    if (known) (void)FinalPath(file, target_);
    CloseHandle(file);
    // A plain overwrite would fail on these, so the replacement does too.
    if (!known || (attributes &
                   (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0)
      return false;
    if ((attributes & kKeptAttributes) != 0)
      kept_mode_ = attributes & kKeptAttributes;
  } else if (GetLastError() != ERROR_FILE_NOT_FOUND &&
             GetLastError() != ERROR_PATH_NOT_FOUND) {
    return false;
  }
  directory_length_ = DirectoryLength(target_);
  resolved_ = true;
  return true;
}

unsigned long ReplacementFile::ProcessId() {
  if (g_process == 0) g_process = GetCurrentProcessId();
  return g_process;
}

ReplacementFile::Creation ReplacementFile::CreateTemporary() {
  AcquireSRWLockExclusive(&g_lock);
  if (g_ending) {
    ReleaseSRWLockExclusive(&g_lock);
    return Creation::kFailed;
  }
  // CREATE_NEW fails on any existing name, a link included. Shared for
  // deletion, so that the control handler can remove the file while it is
  // still open.
  HANDLE file = CreateFileA(temporary_, GENERIC_WRITE, FILE_SHARE_DELETE,
                            nullptr, CREATE_NEW, kept_mode_, nullptr);
  const DWORD error = GetLastError();
  if (file != INVALID_HANDLE_VALUE) g_unfinished = temporary_;
  ReleaseSRWLockExclusive(&g_lock);
  if (file == INVALID_HANDLE_VALUE)
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
               ? Creation::kTaken
               : Creation::kFailed;
  handle_ = reinterpret_cast<intptr_t>(file);
  // A rename keeps the file's index, so this is the target's afterwards.
  if (!IdentityOf(file, &identity_)) {
    Discard();
    return Creation::kFailed;
  }
  return Creation::kCreated;
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
