// What makes a file the same file, whatever name leads to it.
#ifndef TAGBATCH_IO_FILE_IDENTITY_H_
#define TAGBATCH_IO_FILE_IDENTITY_H_

#include <cstdint>

// A file's identity: on POSIX its device and inode number, on Windows its
// volume's serial number and its file index. Two names lead to the same
// file exactly when their identities are equal.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t index = 0;

  bool operator==(const FileIdentity& other) const {
    return device == other.device && index == other.index;
  }
};

#endif  // TAGBATCH_IO_FILE_IDENTITY_H_
