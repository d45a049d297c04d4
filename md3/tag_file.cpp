#include "md3/tag_file.h"

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
  // A count larger than the file can hold fails before anything is written.
  const int64_t available = stream_.size() - offset;
  if (count > 0 && int64_t{count} * int64_t{Md3Tag::kSize} > available)
    return false;

  // The records go straight from the model to the new file, one at a time,
  // so memory does not grow with the count. A record that cannot be read
  // leaves the old tag file alone all the same: the new one is only put in
  // place once it is complete.
  ReplacementFile file;
  if (!file.Resolve(path)) return false;
  // The file this run wrote first stays, whichever name leads to it again
  // (x.md3 and x.MD3 both give x.tag; a link may lead elsewhere).
  if (file.target_exists() && written_.Contains(file.target_identity()))
    return false;
  if (!file.Create()) return false;
  OutputStream out(&file);
  if (!TagFileHeader(count).Write(&out)) return false;
  Md3Tag tag;
  for (int32_t i = 0; i < count; ++i) {
    if (!tag.Read(&stream_) || !tag.Write(&out)) return false;
  }
  // Room to remember the file is made before it is put in place, so that
  // every file in place is remembered.
  if (!out.Flush() || !written_.Reserve() || !file.Commit()) return false;
  written_.Add(file.identity());
  return true;
}
