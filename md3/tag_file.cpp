#include "md3/tag_file.h"

#include <vector>

#include "io/replacement_file.h"
#include "md3/little_endian.h"

TagFileHeader::TagFileHeader(int32_t tag_count)
    : identifier(kIdentifier),
      version(kVersion),
      tag_count(tag_count),
      end_offset(static_cast<int32_t>(kSize) +
                 static_cast<int32_t>(Md3Tag::kSize) * tag_count) {}

bool TagFileHeader::Write(OutputStream* stream) const {
  uint8_t bytes[kSize];
  EncodeInt32(identifier, bytes);
  EncodeInt32(version, bytes + 4);
  EncodeInt32(tag_count, bytes + 8);
  EncodeInt32(end_offset, bytes + 12);
  return stream->Write(bytes, kSize);
}

bool Md3Tag::Write(OutputStream* stream) const {
  return stream->Write(bytes, kSize);
}

bool Md3Model::WriteTagFile(const char* path) {
  if (!stream_.IsOpen()) return false;
  const int32_t count = header_.TagCount();
  const int32_t offset = header_.TagBlockOffset();
  if (!stream_.Seek(offset)) return false;
  // A negative count describes no file, and a larger one than this has an
  // end offset that the format cannot store.
  if (count < 0 || count > TagFileHeader::kMaxTagCount) return false;
  // Never allocate for more tags than the file holds: a damaged count
  // would otherwise ask for gigabytes before the first read fails.
  const int64_t available = stream_.size() - offset;
  if (count > 0 && int64_t{count} * int64_t{Md3Tag::kSize} > available)
    return false;

  // Every record is read before the output is touched.
  std::vector<Md3Tag> tags(static_cast<size_t>(count));
  for (Md3Tag& tag : tags) {
    if (!tag.Read(&stream_)) return false;
  }

  ReplacementFile file;
  if (!file.Begin(path)) return false;
  OutputStream out(&file);
  if (!TagFileHeader(count).Write(&out)) return false;
  for (const Md3Tag& tag : tags) {
    if (!tag.Write(&out)) return false;
  }
  return out.Flush() && file.Commit();
}
