// The files that one run has written, so that it never replaces its own.
#ifndef TAGBATCH_IO_WRITTEN_FILES_H_
#define TAGBATCH_IO_WRITTEN_FILES_H_

#include <cstddef>

#include "io/file_identity.h"

// A set of file identities in an open-addressing table that is at most
// three quarters full: 22 to 43 bytes a file (64 while the table grows),
// 1 KiB at least. Allocates with calloc, so nothing here throws.
class WrittenFiles {
 public:
  WrittenFiles() = default;
  WrittenFiles(const WrittenFiles&) = delete;
  WrittenFiles& operator=(const WrittenFiles&) = delete;
  ~WrittenFiles();

  // Whether `file` has been added.
  bool Contains(const FileIdentity& file) const;
  // Makes room for one more file. Returns false, changing nothing, when
  // memory runs out.
  bool Reserve();
  // Remembers `file`; a Reserve that succeeded must come first.
  void Add(const FileIdentity& file);

 private:
  // The slot that holds `file`, or the empty one where it would go.
  size_t Find(const FileIdentity& file) const;

  // An all-zero slot is empty; the all-zero identity, which no real file
  // is known to have, is kept in `zero_added_` instead.
  FileIdentity* slots_ = nullptr;
  size_t capacity_ = 0;  // A power of two, or 0.
  size_t count_ = 0;     // Filled slots.
  bool zero_added_ = false;
};

#endif  // TAGBATCH_IO_WRITTEN_FILES_H_
