#include "io/replacement_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

namespace {

// As many links as the system itself follows before giving up.
constexpr int kMaxLinks = 40;
// Temporary names tried before giving up, should stale ones lie around.
constexpr int kMaxAttempts = 100;

// The umask, read once: open() applies it to a new file, and an existing
// file's bits that it would remove have to be put back by hand.
mode_t Umask() {
  static const mode_t mask = [] {
    mode_t old = umask(0);
    umask(old);
    return old;
  }();
  return mask;
}

// Appends the name of the `attempt`th temporary file to `path`. It starts
// with a dot so that listings hide it and ends in ".tmp" so that no model
// search ever matches it.
void AppendTemporaryName(int attempt, std::string* path) {
  static const std::string base = ".tagbatch-" + std::to_string(getpid());
  *path += base;
  if (attempt > 0) *path += "-" + std::to_string(attempt);
  *path += ".tmp";
}

// Our own identity, which does not change while we run.
uid_t EffectiveUser() {
  static const uid_t user = geteuid();
  return user;
}
gid_t EffectiveGroup() {
  static const gid_t group = getegid();
  return group;
}

// Whether we may write the existing file `path`, whose status is `status`.
// For its owner the answer is in the mode bits, ACLs included, and root
// may write anything; only the remaining cases need to ask the system.
bool MayWrite(const std::string& path, const struct stat& status) {
  if (EffectiveUser() == 0) return true;
  if (status.st_uid == EffectiveUser()) return (status.st_mode & S_IWUSR) != 0;
  return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

// Follows symbolic links from `path` to the name that a plain overwrite
// would write, leaving it in `path`. Sets `exists` and, when it does,
// `status`. Returns false when a link cannot be followed.
bool ResolveLinks(std::string* path, struct stat* status, bool* exists) {
  for (int links = 0;; ++links) {
    if (lstat(path->c_str(), status) != 0) {
      *exists = false;
      return errno == ENOENT;
    }
    if (!S_ISLNK(status->st_mode)) {
      *exists = true;
      return true;
    }
    char link[PATH_MAX];
    ssize_t length = readlink(path->c_str(), link, sizeof link);
    if (links == kMaxLinks || length <= 0 ||
        static_cast<size_t>(length) == sizeof link)
      return false;
    std::string next(link, static_cast<size_t>(length));
    size_t slash = path->rfind('/');
    if (next[0] != '/' && slash != std::string::npos)
      next.insert(0, *path, 0, slash + 1);
    *path = next;
  }
}

}  // namespace

bool ReplacementFile::Begin(const char* path) {
  target_ = path;
  struct stat existing;
  bool exists = false;
  if (!ResolveLinks(&target_, &existing, &exists)) return false;
  mode_t mode = 0666;
  if (exists) {
    // A plain overwrite would fail on these, so the replacement does too.
    if (!S_ISREG(existing.st_mode)) return false;
    if (!MayWrite(target_, existing)) return false;
    mode = existing.st_mode & 07777;
  }

  size_t slash = target_.rfind('/');
  size_t directory_length = slash == std::string::npos ? 0 : slash + 1;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < kMaxAttempts; ++attempt) {
    temporary_.assign(target_, 0, directory_length);
    AppendTemporaryName(attempt, &temporary_);
    fd = open(temporary_.c_str(),
              O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, mode);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  handle_ = fd;

  if (exists) {
    // Only a privileged user may give a file away; otherwise the new
    // version is ours, as any file we create would be.
    if (existing.st_uid != EffectiveUser() ||
        existing.st_gid != EffectiveGroup()) {
      if (fchown(fd, existing.st_uid, existing.st_gid) != 0) {
      }
    }
    // open() took the umask's bits, and fchown() clears set-id bits.
    if (((mode & Umask()) != 0 || (mode & 07000) != 0) &&
        fchmod(fd, mode) != 0) {
      Discard();
      return false;
    }
  }
  return true;
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
  if (ok && rename(temporary_.c_str(), target_.c_str()) != 0) ok = false;
  if (!ok) unlink(temporary_.c_str());
  return ok;
}

void ReplacementFile::Discard() {
  if (handle_ == kNoHandle) return;
  close(static_cast<int>(handle_));
  handle_ = kNoHandle;
  unlink(temporary_.c_str());
}
