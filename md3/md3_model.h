// Reading MD3 models: the file header, the tag record and the model
// reader that holds one model file open at a time.
#ifndef TAGBATCH_MD3_MD3_MODEL_H_
#define TAGBATCH_MD3_MD3_MODEL_H_

#include <cstddef>
#include <cstdint>

#include "io/streams.h"
#include "io/written_files.h"

// The 108-byte header at the start of every MD3 file, kept whole. Only the
// tag count and the tag block offset are ever looked at; the identifier
// and version are deliberately not checked.
struct Md3Header {
  static constexpr size_t kSize = 108;
  static constexpr size_t kTagCountOffset = 80;
  static constexpr size_t kTagBlockOffsetOffset = 96;

  // Asks the stream for all 108 bytes at once (the stream may ask the
  // system more than once). Returns false if fewer than 108 bytes could be
  // read (the bytes that were read stay in `bytes`).
  bool Read(InputStream* stream);

  // The number of tags in each frame, as stored (it may be negative).
  int32_t TagCount() const;
  // Where the tags of the first frame start, in bytes from the start of
  // the file, as stored (it may be negative).
  int32_t TagBlockOffset() const;

  uint8_t bytes[kSize] = {};
};

// One 112-byte tag record, moved as an opaque block.
struct Md3Tag {
  static constexpr size_t kSize = 112;

  // Asks the stream for all 112 bytes at once. Returns false unless all
  // of them were read.
  bool Read(InputStream* stream);
  // Hands all 112 bytes to the stream at once. Returns false once the
  // stream has failed to pass bytes on to its file; bytes it still buffers
  // are known written only when its Flush succeeds.
  bool Write(OutputStream* stream) const;

  uint8_t bytes[kSize] = {};
};

// One model file held open for reading, with a copy of its header. A
// single model object serves a whole batch: Load, WriteTagFile, Close.
class Md3Model {
 public:
  // An empty model: no file held, the header all zero.
  Md3Model() = default;
  Md3Model(const Md3Model&) = delete;
  Md3Model& operator=(const Md3Model&) = delete;

  // Opens `path` and reads its header. Returns false if a model is already
  // open (it stays open, untouched), if the file cannot be opened or is
  // not a regular file (nothing is then held), or if the file is shorter
  // than a header (the file then stays held until `Close`).
  bool Load(const char* path);

  // Releases the model file, if one is held. The header is kept.
  void Close();

  // Writes the tag file `path` from the tags of the first frame of the
  // model last loaded. Returns true only when the complete tag file is in
  // place; on false, an existing file of that name is exactly as it was
  // and no new file is left behind. Refuses, creating nothing, to replace
  // a file that this object has written before, whatever name leads to it
  // (x.md3 and x.MD3 both give x.tag; a link may lead to another model's
  // tag file): the first result stays. Memory grows by a few dozen bytes a
  // tag file, whatever the count.
  bool WriteTagFile(const char* path);

  // Whether a model file is held.
  bool IsOpen() const { return stream_.IsOpen(); }

  // The header of the model last loaded; all zero before the first.
  const Md3Header& header() const { return header_; }

 private:
  InputStream stream_;
  Md3Header header_;
  WrittenFiles written_;  // The tag files written so far.
};

#endif  // TAGBATCH_MD3_MD3_MODEL_H_
