// Buffered binary streams over the file layer. They keep their buffers
// inside the object, so using them allocates nothing.
#ifndef TAGBATCH_IO_STREAMS_H_
#define TAGBATCH_IO_STREAMS_H_

#include <cstddef>
#include <cstdint>

#include "io/input_file.h"
#include "io/replacement_file.h"

// A model file read through one buffer. The first read fetches the start
// of the file, which usually holds the header and the tags together. A
// seek costs nothing: it only moves the position, and the next read asks
// the system only when that lies outside the buffered bytes.
class InputStream {
 public:
  // Opens `path` as `InputFile::Open` does, when no file is held; false if
  // it cannot.
  bool Open(const char* path);
  bool IsOpen() const { return file_.IsOpen(); }
  // Releases the file, if one is held.
  void Close();
  // The file's size in bytes when it was opened.
  int64_t size() const { return file_.size(); }
  // Moves to `offset` bytes from the start. Returns false, not moving, for
  // a negative offset or when no file is open.
  bool Seek(int64_t offset);
  // Reads up to `size` bytes. Returns how many were read: fewer than asked
  // at the end of the file or on an error.
  size_t Read(void* data, size_t size);

 private:
  static constexpr size_t kBufferSize = 4096;
  InputFile file_;
  int64_t position_ = 0;
  int64_t buffer_start_ = 0;  // File offset of buffer_[0].
  size_t buffer_length_ = 0;  // Valid bytes in buffer_.
  uint8_t buffer_[kBufferSize] = {};
};

// Buffered writes into a `ReplacementFile`, handed on in whole buffers.
class OutputStream {
 public:
  // The buffer is filled as bytes come, not cleared first.
  // cppcheck-suppress uninitMemberVar
  explicit OutputStream(ReplacementFile* file) : file_(file) {}
  // Appends `size` bytes. Returns false once anything has failed to reach
  // the file, and from then on.
  bool Write(const void* data, size_t size);
  // Hands the buffered bytes to the file. Returns false on any failure,
  // this one's or an earlier one's.
  bool Flush();

 private:
  static constexpr size_t kBufferSize = 4096;
  ReplacementFile* file_;
  bool failed_ = false;  // Some bytes never reached the file.
  size_t length_ = 0;
  uint8_t buffer_[kBufferSize];  // Its first length_ bytes hold data.
};

#endif  // TAGBATCH_IO_STREAMS_H_
