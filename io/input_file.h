// Read-only access to a model file through the operating system.
#ifndef TAGBATCH_IO_INPUT_FILE_H_
#define TAGBATCH_IO_INPUT_FILE_H_

#include <cstddef>
#include <cstdint>

// A regular file opened for reading at explicit offsets. The file's size
// is taken once, when it is opened.
class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile() { Close(); }

  // Opens `path` (symbolic links followed) if it is a regular file; called
  // only when no file is held. Returns false, holding nothing, if it cannot
  // be opened or is a directory, FIFO, socket or device; opening never
  // blocks on those.
  bool Open(const char* path);

  // Whether a file is held.
  bool IsOpen() const { return handle_ != kNoHandle; }

  // The file's size in bytes when it was opened.
  int64_t size() const { return size_; }

  // Reads up to `size` bytes at `offset` into `buffer` in one request.
  // Returns the number of bytes read, which may be fewer than asked (0 at
  // the end of the file), or -1 on an error.
  int64_t ReadAt(void* buffer, size_t size, int64_t offset) const;

  // Releases the file, if one is held.
  void Close();

 private:
  static constexpr intptr_t kNoHandle = -1;
  intptr_t handle_ = kNoHandle;  // A descriptor or a HANDLE.
  int64_t size_ = 0;
};

#endif  // TAGBATCH_IO_INPUT_FILE_H_
