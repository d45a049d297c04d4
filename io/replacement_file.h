// Writing a new version of a file without ever damaging the old one.
#ifndef TAGBATCH_IO_REPLACEMENT_FILE_H_
#define TAGBATCH_IO_REPLACEMENT_FILE_H_

#include <cstddef>
#include <cstdint>

// A file written under a temporary name beside its target and moved over
// the target only once it is complete. Until `Commit` succeeds the target
// is untouched; on any failure the temporary file is removed again.
//
// The result looks like a plain overwrite: an existing target keeps its
// permission bits, a new one gets 0666 less the umask, and a target named
// through symbolic links is written where the links lead, leaving the links
// in place, as far as the system's link protection would follow them.
//
// Nothing here allocates memory, so nothing here can throw.
class ReplacementFile {
 public:
  // The longest path, with its terminating zero, that a replacement takes.
  static constexpr size_t kMaxPath = 4096;

  ReplacementFile() = default;
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;
  // Discards an uncommitted temporary file.
  ~ReplacementFile() { Discard(); }

  // Starts a new version of `path`; called once per object. Returns false,
  // creating nothing, when the target exists but is not a regular file or
  // may not be written, when a link on the way may not be followed (one
  // planted by another user in a sticky directory that anyone may write),
  // when a path grows longer than kMaxPath, when the temporary file cannot
  // be created, or once RemoveUnfinishedReplacement has run.
  bool Begin(const char* path);

  // Writes all of `size` bytes. Returns false if any of them could not be
  // written (the file is then discarded by `Commit` or the destructor).
  bool Write(const void* data, size_t size);

  // Closes the temporary file and moves it over the target. Returns false,
  // leaving the target as it was and no temporary file, if a write failed
  // earlier or the close or the move fails.
  bool Commit();

  // Closes and removes the temporary file, if one is open.
  void Discard();

  // The file that `Commit` replaces: the path given to `Begin`, or where
  // its links lead.
  const char* target() const { return target_; }

 private:
  // Writes into `temporary_` the name of the `attempt`th temporary file for
  // process `process` beside the target, whose directory part is its first
  // `directory_length` bytes. The name starts with a dot so that listings
  // hide it and ends in ".tmp" so that no model search ever matches it.
  // Returns false if it would be too long.
  bool NameTemporary(size_t directory_length, unsigned long process,
                     int attempt);

  static constexpr intptr_t kNoHandle = -1;
  intptr_t handle_ = kNoHandle;    // A descriptor or a HANDLE.
  bool failed_ = false;            // A write has failed.
  char target_[kMaxPath] = {};     // Where the links, if any, lead.
  char temporary_[kMaxPath] = {};  // The temporary file beside it.
};

// Removes the temporary file of the replacement in progress, if there is
// one, so that a program ended by a signal (on Windows, by a console event)
// leaves nothing behind, and keeps any later replacement from beginning.
// Safe to call from a signal handler, and on Windows from the console
// control handler's thread; the target is then either untouched or already
// wholly replaced.
void RemoveUnfinishedReplacement();

#endif  // TAGBATCH_IO_REPLACEMENT_FILE_H_
