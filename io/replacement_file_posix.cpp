#include "io/replacement_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "io/access_acl.h"

namespace {

// As many links as the system itself follows before giving up.
constexpr int kMaxLinks = 40;

// What RemoveUnfinishedReplacement, called from a signal handler, may
// touch. A replacement moves through these states:
//   1. no temporary file: g_unfinished is null;
//   2. open(O_EXCL) has created the file, not yet registered: a signal
//      here leaves it behind, as a kill would;
//   3. registered: g_unfinished names it, and the handler removes it;
//   4. unregistered just before the rename or the unlink that ends it: a
//      signal here leaves it behind, or finds it already renamed;
//   5. renamed over the target or unlinked: back to state 1.
// So the handler only ever removes a file this process created and has not
// yet renamed: a name that open() failed to create (another process's file)
// is never registered. g_ending, once set by the handler, keeps any new
// temporary file from being created. Both are lock-free atomics.
std::atomic<const char*> g_unfinished{nullptr};
std::atomic<bool> g_ending{false};
static_assert(std::atomic<const char*>::is_always_lock_free &&
                  std::atomic<bool>::is_always_lock_free,
              "a signal handler reads and writes them");

// Values that do not change while we run, asked of the system at first
// use, each a system call saved on every later model. Plain variables
// rather than function statics: nothing here needs a guard, since only the
// main thread creates files.
bool g_know_user = false;
uid_t g_user = 0;
gid_t g_group = 0;
unsigned long g_process = 0;

// Our own effective user and group.
void KnowUser() {
  if (g_know_user) return;
  g_user = geteuid();
  g_group = getegid();
  g_know_user = true;
}
uid_t EffectiveUser() {
  KnowUser();
  return g_user;
}
gid_t EffectiveGroup() {
  KnowUser();
  return g_group;
}

FileIdentity IdentityOf(const struct stat& status) {
  return {static_cast<uint64_t>(status.st_dev),
          static_cast<uint64_t>(status.st_ino)};
}

// Whether we may write the existing file `path`, whose status is `status`.
// For its owner the answer is in the mode bits, ACLs included, and root
// may write anything; only the remaining cases need to ask the system.
bool MayWrite(const char* path, const struct stat& status) {
  if (EffectiveUser() == 0) return true;
  if (status.st_uid == EffectiveUser()) return (status.st_mode & S_IWUSR) != 0;
  return faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0;
}

// The length of the directory part of `path`, up to and including its last
// '/'; 0 for a bare name.
size_t DirectoryLength(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash == nullptr ? 0 : static_cast<size_t>(slash + 1 - path);
}

// Whether a plain open would follow the link `path`, whose status is
// `link`, where the system protects links: never in a sticky directory
// that anyone may write (such as /tmp or a shared drop folder) unless we
// or the directory's owner own the link. Otherwise another user could
// plant a link there that makes us overwrite a file of ours.
bool MayFollow(const char* path, const struct stat& link) {
  if (link.st_uid == EffectiveUser()) return true;
  char directory[ReplacementFile::kMaxPath] = ".";
  const size_t length = DirectoryLength(path);
  if (length > 0) {
    memcpy(directory, path, length);
    directory[length] = '\0';
  }
  struct stat status;
  if (stat(directory, &status) != 0) return false;
  const bool protected_directory =
      (status.st_mode & S_ISVTX) != 0 && (status.st_mode & S_IWOTH) != 0;
  return !protected_directory || link.st_uid == status.st_uid;
}

// Follows symbolic links from `path`, a buffer of kMaxPath bytes, to the
// name that a plain overwrite would write, leaving that in `path`. Sets
// `exists` and, when it does, `status`. Returns false when a link cannot
// or may not be followed.
bool ResolveLinks(char* path, struct stat* status, bool* exists) {
  for (int links = 0;; ++links) {
    if (lstat(path, status) != 0) {
      *exists = false;
      return errno == ENOENT;
    }
    if (!S_ISLNK(status->st_mode)) {
      *exists = true;
      return true;
    }
    if (!MayFollow(path, *status)) return false;
    char link[ReplacementFile::kMaxPath];
    const ssize_t length = readlink(path, link, sizeof link);
    if (links == kMaxLinks || length <= 0 ||
        static_cast<size_t>(length) == sizeof link)
      return false;
    // A relative link is resolved against the directory holding it.
    const size_t kept = link[0] != '/' ? DirectoryLength(path) : 0;
    if (kept + static_cast<size_t>(length) >= ReplacementFile::kMaxPath)
      return false;
    memcpy(path + kept, link, static_cast<size_t>(length));
    path[kept + static_cast<size_t>(length)] = '\0';
  }
}

}  // namespace

bool ReplacementFile::Resolve(const char* path) {
  if (resolved_ || handle_ != kNoHandle) return false;
  const size_t length = strlen(path);
  if (length >= kMaxPath) return false;
  memcpy(target_, path, length + 1);
  struct stat existing;
  if (!ResolveLinks(target_, &existing, &target_exists_)) return false;
  kept_mode_ = 0666;
  if (target_exists_) {
    // A plain overwrite would fail on these, so the replacement does too.
    if (!S_ISREG(existing.st_mode)) return false;
    if (!MayWrite(target_, existing)) return false;
    kept_mode_ = existing.st_mode & 07777;
    kept_owner_ = existing.st_uid;
    kept_group_ = existing.st_gid;
    target_identity_ = IdentityOf(existing);
  }
  directory_length_ = DirectoryLength(target_);
  resolved_ = true;
  return true;
}

unsigned long ReplacementFile::ProcessId() {
  if (g_process == 0) g_process = static_cast<unsigned long>(getpid());
  return g_process;
}

ReplacementFile::Creation ReplacementFile::CreateTemporary() {
  if (g_ending) return Creation::kFailed;
  // O_EXCL fails on any existing name, a link included, without following
  // it.
  const auto mode = static_cast<mode_t>(kept_mode_);
  const int fd = open(temporary_,
                      O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, mode);
  if (fd < 0) return errno == EEXIST ? Creation::kTaken : Creation::kFailed;
  g_unfinished = temporary_;
  handle_ = fd;

  // The new file's identity stays its own through the rename.
  struct stat created;
  if (fstat(fd, &created) != 0) {
    Discard();
    return Creation::kFailed;
  }
  identity_ = IdentityOf(created);
  if (target_exists_) {
    // Only a privileged user may give a file away; otherwise the new
    // version is ours, as any file we create would be.
    if (kept_owner_ != EffectiveUser() || kept_group_ != EffectiveGroup()) {
      if (fchown(fd, kept_owner_, kept_group_) != 0) {
      }
    }
    if (!CopyAccessAcl(target_, fd)) {
      const bool gone = errno == ENOENT;
      Discard();
      if (!gone) return Creation::kFailed;
      // Another process has removed the target since Resolve. A plain
      // overwrite would create it now, so the new version is to be made
      // as a new file, with what a plain create gives.
      target_exists_ = false;
      kept_mode_ = 0666;
      return Creation::kTargetGone;
    }
    // The mode last: open() took the umask's bits, or the folder's default
    // ACL gave others, and both fchown() and an ACL may clear set-id bits.
    if (((created.st_mode & 07777) != mode || (mode & 07000) != 0) &&
        fchmod(fd, mode) != 0) {
      Discard();
      return Creation::kFailed;
    }
  }
  return Creation::kCreated;
}

bool ReplacementFile::Write(const void* data, size_t size) {
  if (handle_ == kNoHandle || failed_) return false;
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = write(static_cast<int>(handle_), bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;
      return false;
    }
    bytes += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReplacementFile::Commit() {
  if (handle_ == kNoHandle) return false;
  bool ok = !failed_;
  // A failed close may mean the data never reached the disk.
  if (close(static_cast<int>(handle_)) != 0) ok = false;
  handle_ = kNoHandle;
  g_unfinished = nullptr;
  if (ok && rename(temporary_, target_) != 0) ok = false;
  if (!ok) unlink(temporary_);
  return ok;
}

void ReplacementFile::Discard() {
  if (handle_ == kNoHandle) return;
  close(static_cast<int>(handle_));
  handle_ = kNoHandle;
  g_unfinished = nullptr;
  unlink(temporary_);
}

void RemoveUnfinishedReplacement() {
  g_ending = true;
  const char* path = g_unfinished;
  if (path != nullptr) unlink(path);
}
