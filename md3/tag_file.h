// The tag file format: a 16-byte header followed by tag records.
//
//   offset  size  field
//        0     4  identifier "TAG3"
//        4     4  version, 1
//        8     4  tag count
//       12     4  end offset: 16 + 112 * tag count, the file's length
//       16   112  each tag record in turn
//
// All integers are signed 32-bit little-endian.
#ifndef TAGBATCH_MD3_TAG_FILE_H_
#define TAGBATCH_MD3_TAG_FILE_H_

#include <cstddef>
#include <cstdint>

#include "io/streams.h"
#include "md3/md3_model.h"

// The header of a tag file, filled field by field.
struct TagFileHeader {
  static constexpr size_t kSize = 16;
  static constexpr int32_t kIdentifier = 0x33474154;  // "TAG3" on disk.
  static constexpr int32_t kVersion = 1;
  // The largest tag count whose end offset fits the 32-bit field.
  static constexpr int32_t kMaxTagCount =
      (INT32_MAX - static_cast<int32_t>(kSize)) /
      static_cast<int32_t>(Md3Tag::kSize);

  // A header for `tag_count` tags, which must lie between 0 and
  // kMaxTagCount.
  explicit TagFileHeader(int32_t tag_count);

  // Hands the four fields, 16 bytes, to the stream at once. Returns false
  // once the stream has failed to pass bytes on to its file; bytes it
  // still buffers are known written only when its Flush succeeds.
  bool Write(OutputStream* stream) const;

  int32_t identifier;
  int32_t version;
  int32_t tag_count;
  int32_t end_offset;
};

#endif  // TAGBATCH_MD3_TAG_FILE_H_
