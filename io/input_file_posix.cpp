#include "io/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

static_assert(sizeof(off_t) >= 8, "models over 2 GiB open on 32-bit hosts too");

bool InputFile::Open(const char* path) {
  // Without O_NONBLOCK, opening a FIFO would wait for a writer.
  int fd;
  do {
    fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(fd);
    return false;
  }
  handle_ = fd;
  size_ = status.st_size;
  return true;
}

int64_t InputFile::ReadAt(void* buffer, size_t size, int64_t offset) const {
  if (handle_ == kNoHandle || offset < 0) return -1;
  ssize_t n;
  do {
    n = pread(static_cast<int>(handle_), buffer, size,
              static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  return n;
}

void InputFile::Close() {
  if (handle_ == kNoHandle) return;
  close(static_cast<int>(handle_));
  handle_ = kNoHandle;
  size_ = 0;
}
