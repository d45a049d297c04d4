// The files that one run has written, so that it never replaces its own.
#ifndef TAGBATCH_IO_WRITTEN_FILES_H_
#define TAGBATCH_IO_WRITTEN_FILES_H_

#include <cstddef>
#include <cstdint>

// A set of paths, each remembered by a 64-bit hash of its bytes in an
// open-addressing table that is at most three quarters full: 11 to 22
// bytes a path (32 while the table grows), 512 bytes at least.
// Two paths with the same hash count as one; by chance that takes some
// billions of billions of paths. Allocates with malloc, so nothing here
// throws.
class WrittenFiles {
 public:
  WrittenFiles() = default;
  WrittenFiles(const WrittenFiles&) = delete;
  WrittenFiles& operator=(const WrittenFiles&) = delete;
  ~WrittenFiles();

  // Whether `path` has been added.
  bool Contains(const char* path) const;
  // Makes room for one more path. Returns false, changing nothing, when
  // memory runs out.
  bool Reserve();
  // Remembers `path`; a Reserve that succeeded must come first.
  void Add(const char* path);

 private:
  static uint64_t Hash(const char* path);
  // The slot that holds `hash`, or the empty one where it would go.
  size_t Find(uint64_t hash) const;

  uint64_t* slots_ = nullptr;  // 0 marks an empty slot.
  size_t capacity_ = 0;        // A power of two, or 0.
  size_t count_ = 0;
};

#endif  // TAGBATCH_IO_WRITTEN_FILES_H_
