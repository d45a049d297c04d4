#include "md3/md3_model.h"

#include "md3/little_endian.h"

bool Md3Header::Read(InputStream* stream) {
  return stream->Read(bytes, kSize) == kSize;
}

int32_t Md3Header::TagCount() const {
  return DecodeInt32(bytes + kTagCountOffset);
}

int32_t Md3Header::TagBlockOffset() const {
  return DecodeInt32(bytes + kTagBlockOffsetOffset);
}

bool Md3Tag::Read(InputStream* stream) {
  return stream->Read(bytes, kSize) == kSize;
}

bool Md3Model::Load(const char* path) {
  if (stream_.IsOpen()) return false;
  if (!stream_.Open(path)) return false;
  // A short header leaves the file held; the caller's Close releases it.
  return header_.Read(&stream_);
}

void Md3Model::Close() { stream_.Close(); }
