// Writing a new version of a file so that no failure, signal or limit
// damages the old one. Nothing is flushed to the disk: after a system
// crash, some file systems may hold the target empty or as it was.
//
// The calling sequence, one step a function, each checked before the next:
//
//   ReplacementFile file;
//   file.Resolve(path);   // Find the target: follow links, check its kind
//                         // and permission, note its mode and identity.
//   ...                   // The caller may refuse the target now, having
//                         // created nothing (see target_identity()).
//   file.Create();        // Create the temporary file beside the target.
//   file.Write(...);      // As often as needed.
//   file.Commit();        // Move it over the target; or Discard().
//
// Every step reports failure by returning false. Until `Commit` succeeds
// the target is untouched, and a failed step leaves no temporary file.
//
//           Resolve            Create              Commit, Discard or
//   empty ---------> resolved ---------> created ------------------> done
//     |                 |                (temporary file open, and
//     +--- false -------+--- false       registered for the clean-up)
//          (done)            (done)
//
// Once done with no write failed, Resolve may begin a new replacement.
//
// The result looks like a plain overwrite: an existing target keeps its
// permission bits, owner, access ACL (on Linux) and attributes where the
// system lets us keep them, and a new one gets what a plain create gives:
// 0666 less the umask, or what the folder's default ACL says. A target
// named through
// symbolic links is written where the links lead, leaving the links in
// place: on POSIX as far as the system's link protection would follow
// them, a dangling link getting its file created; on Windows where the
// links lead to an existing file, while a dangling link is replaced.
//
// Nothing here allocates memory, so nothing here can throw.
#ifndef TAGBATCH_IO_REPLACEMENT_FILE_H_
#define TAGBATCH_IO_REPLACEMENT_FILE_H_

#include <cstddef>
#include <cstdint>

#include "io/file_identity.h"

class ReplacementFile {
 public:
  // The longest path, with its terminating zero, that a replacement takes.
  static constexpr size_t kMaxPath = 4096;
  // Temporary names tried before giving up, should others be taken.
  static constexpr int kMaxAttempts = 100;

  // The paths are filled as the steps need them, not cleared: a model
  // would otherwise pay for 8 KiB of zeros.
  ReplacementFile() { target_[0] = temporary_[0] = '\0'; }
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;
  // Discards an uncommitted temporary file.
  ~ReplacementFile() { Discard(); }

  // Finds the file that `path` names, following its links; called first, and
  // again only to begin anew (see above). Returns false when the target exists
  // but is not a regular file or may not be written, when a link on the way may
  // not be followed (one planted by another user in a sticky directory that
  // anyone may write), or when a path grows longer than kMaxPath. Creates
  // nothing.
  bool Resolve(const char* path);

  // Creates the temporary file beside the target, under the first of
  // kMaxAttempts names that is free; a name that is taken, by a file or a
  // link, is never opened or followed. Returns false, creating nothing,
  // when Resolve has not succeeded, when no name is free or the file
  // cannot be created, or once RemoveUnfinishedReplacement has run.
  bool Create();

  // Writes all of `size` bytes. Returns false if any of them could not be
  // written (the file is then discarded by `Commit` or the destructor).
  bool Write(const void* data, size_t size);

  // Closes the temporary file and moves it over the target. Returns false,
  // leaving the target as it was and no temporary file, if a write failed
  // earlier or the close or the move fails.
  bool Commit();

  // Closes and removes the temporary file, if one is open.
  void Discard();

  // The file that `Commit` replaces: the path given to `Resolve`, or where
  // its links lead.
  const char* target() const { return target_; }
  // Whether the target existed when it was resolved, and then its
  // identity. Should another process remove it before Create has taken
  // over its access ACL, Create makes the new version a new file, as a
  // plain overwrite would in that moment, and target_exists() turns false.
  bool target_exists() const { return target_exists_; }
  const FileIdentity& target_identity() const { return target_identity_; }
  // The identity of the new version, once `Create` has succeeded; it is
  // the target's after `Commit`.
  const FileIdentity& identity() const { return identity_; }
  // The temporary file's name: the last one tried by `Create`.
  const char* temporary() const { return temporary_; }

 private:
  // What one try at creating the temporary file came to. kTargetGone: the
  // target has been removed since Resolve, and is now to be made as a new
  // file, under the same name; nothing is left.
  enum class Creation { kCreated, kTaken, kTargetGone, kFailed };

  // Writes into `temporary_` the `attempt`th temporary name beside the
  // target. The name starts with a dot so that listings hide it, holds the
  // process id so that two runs rarely meet, and ends in ".tmp" so that no
  // model search ever matches it. Returns false if it would be too long.
  bool NameTemporary(int attempt);

  // Creates `temporary_` if nothing has that name, registers it for the
  // clean-up, notes its identity and gives it the target's mode, owner and
  // access ACL, or attributes. On kTargetGone and kFailed nothing is left.
  Creation CreateTemporary();

  // This process's id, asked of the system once.
  static unsigned long ProcessId();

  static constexpr intptr_t kNoHandle = -1;
  bool resolved_ = false;
  intptr_t handle_ = kNoHandle;  // A descriptor or a HANDLE.
  bool failed_ = false;          // A write has failed.
  // Where the links, if any, lead, and the length of its directory part.
  char target_[kMaxPath];
  size_t directory_length_ = 0;
  bool target_exists_ = false;
  FileIdentity target_identity_;
  // What the new version takes over from the target: on POSIX its mode,
  // owner and group (its ACL is read as the new version is created), on
  // Windows its attributes.
  uint32_t kept_mode_ = 0;
  uint32_t kept_owner_ = 0;
  uint32_t kept_group_ = 0;
  FileIdentity identity_;
  char temporary_[kMaxPath];  // The temporary file beside it.
};

// Removes the temporary file of the replacement in progress, if there is
// one, so that a program ended by a signal (on Windows, by a console event)
// leaves nothing behind, and keeps any later replacement from creating a
// file. Safe to call from a signal handler, and on Windows from the console
// control handler's thread; the target is then either untouched or already
// wholly replaced.
void RemoveUnfinishedReplacement();

#endif  // TAGBATCH_IO_REPLACEMENT_FILE_H_
