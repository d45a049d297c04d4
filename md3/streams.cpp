#include "md3/streams.h"

#include <cstring>

bool InputStream::Open(const char* path) {
  Close();
  return file_.Open(path);
}

void InputStream::Close() {
  file_.Close();
  position_ = 0;
  buffer_start_ = 0;
  buffer_length_ = 0;
}

bool InputStream::Seek(int64_t offset) {
  if (!IsOpen() || offset < 0) return false;
  position_ = offset;
  return true;
}

size_t InputStream::Read(void* data, size_t size) {
  uint8_t* out = static_cast<uint8_t*>(data);
  size_t done = 0;
  while (done < size) {
    int64_t buffer_end = buffer_start_ + static_cast<int64_t>(buffer_length_);
    if (position_ >= buffer_start_ && position_ < buffer_end) {
      size_t offset = static_cast<size_t>(position_ - buffer_start_);
      size_t n = buffer_length_ - offset;
      if (n > size - done) n = size - done;
      memcpy(out + done, buffer_ + offset, n);
      done += n;
      position_ += static_cast<int64_t>(n);
      continue;
    }
    if (size - done >= kBufferSize) {
      // Large requests bypass the buffer rather than pass through it.
      int64_t n = file_.ReadAt(out + done, size - done, position_);
      if (n > 0) {
        done += static_cast<size_t>(n);
        position_ += n;
      }
      break;
    }
    int64_t n = file_.ReadAt(buffer_, kBufferSize, position_);
    if (n <= 0) {
      buffer_length_ = 0;
      break;
    }
    buffer_start_ = position_;
    buffer_length_ = static_cast<size_t>(n);
  }
  return done;
}

bool OutputStream::Write(const void* data, size_t size) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  if (length_ + size > kBufferSize) {
    if (!Flush()) return false;
    if (size >= kBufferSize) return file_->Write(bytes, size);
  }
  memcpy(buffer_ + length_, bytes, size);
  length_ += size;
  return true;
}

bool OutputStream::Flush() {
  size_t length = length_;
  length_ = 0;
  return file_->Write(buffer_, length);
}
