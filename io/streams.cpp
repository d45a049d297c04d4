#include "io/streams.h"

#include <algorithm>
#include <cstring>

bool InputStream::Open(const char* path) { return file_.Open(path); }

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
  auto* out = static_cast<uint8_t*>(data);
  size_t done = 0;
  while (done < size) {
    const int64_t buffer_end =
        buffer_start_ + static_cast<int64_t>(buffer_length_);
    if (position_ < buffer_start_ || position_ >= buffer_end) {
      const int64_t n = file_.ReadAt(buffer_, kBufferSize, position_);
      if (n <= 0) break;
      buffer_start_ = position_;
      buffer_length_ = static_cast<size_t>(n);
    }
    const auto offset = static_cast<size_t>(position_ - buffer_start_);
    const size_t n = std::min(buffer_length_ - offset, size - done);
    memcpy(out + done, buffer_ + offset, n);
    done += n;
    position_ += static_cast<int64_t>(n);
  }
  return done;
}

bool OutputStream::Write(const void* data, size_t size) {
  if (failed_) return false;
  const auto* bytes = static_cast<const uint8_t*>(data);
  while (size > 0) {
    if (length_ == kBufferSize && !Flush()) return false;
    const size_t n = std::min(kBufferSize - length_, size);
    memcpy(buffer_ + length_, bytes, n);
    length_ += n;
    bytes += n;
    size -= n;
  }
  return true;
}

bool OutputStream::Flush() {
  const size_t length = length_;
  length_ = 0;
  if (!failed_ && !file_->Write(buffer_, length)) failed_ = true;
  return !failed_;
}
