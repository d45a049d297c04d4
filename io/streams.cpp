#include "io/streams.h"

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
  auto* out = static_cast<uint8_t*>(data);
  size_t done = 0;
  while (done < size) {
    const size_t wanted = size - done;
    const int64_t buffer_end =
        buffer_start_ + static_cast<int64_t>(buffer_length_);
    if (position_ >= buffer_start_ && position_ < buffer_end) {
      auto offset = static_cast<size_t>(position_ - buffer_start_);
      size_t n =
          buffer_length_ - offset < wanted ? buffer_length_ - offset : wanted;
      memcpy(out + done, buffer_ + offset, n);
      done += n;
      position_ += static_cast<int64_t>(n);
      continue;
    }
    // Large requests go straight to the file rather than through the
    // buffer; small ones fill it.
    const bool direct = wanted >= kBufferSize;
    int64_t n = direct ? file_.ReadAt(out + done, wanted, position_)
                       : file_.ReadAt(buffer_, kBufferSize, position_);
    if (n <= 0) break;
    if (direct) {
      done += static_cast<size_t>(n);
      position_ += n;
    } else {
      buffer_start_ = position_;
      buffer_length_ = static_cast<size_t>(n);
    }
  }
  return done;
}

bool OutputStream::Write(const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
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
