#include "io/written_files.h"

#include <cstdint>
#include <cstdlib>

// The memory per file that the manual page states, on 32-bit hosts too.
static_assert(sizeof(FileIdentity) == 16, "a slot is 16 bytes");

namespace {

constexpr FileIdentity kEmpty{};

// Mixes both halves, so that consecutive inode numbers spread out.
size_t Hash(const FileIdentity& file) {
  uint64_t hash = file.index * 0x9e3779b97f4a7c15u ^ file.device;
  hash ^= hash >> 29;
  return static_cast<size_t>(hash * 0xbf58476d1ce4e5b9u >> 16);
}

}  // namespace

WrittenFiles::~WrittenFiles() { free(slots_); }

size_t WrittenFiles::Find(const FileIdentity& file) const {
  size_t slot = Hash(file) & (capacity_ - 1);
  while (!(slots_[slot] == kEmpty) && !(slots_[slot] == file))
    slot = (slot + 1) & (capacity_ - 1);
  return slot;
}

bool WrittenFiles::Contains(const FileIdentity& file) const {
  if (file == kEmpty) return zero_added_;
  return count_ > 0 && slots_[Find(file)] == file;
}

bool WrittenFiles::Reserve() {
  // At most three quarters full, so that a search ends soon.
  if (4 * (count_ + 1) <= 3 * capacity_) return true;
  const size_t old_capacity = capacity_;
  FileIdentity* old_slots = slots_;
  const size_t capacity = old_capacity == 0 ? 64 : 2 * old_capacity;
  auto* slots =
      static_cast<FileIdentity*>(calloc(capacity, sizeof(FileIdentity)));
  if (slots == nullptr) return false;
  slots_ = slots;
  capacity_ = capacity;
  for (size_t i = 0; i < old_capacity; ++i) {
    if (!(old_slots[i] == kEmpty)) slots_[Find(old_slots[i])] = old_slots[i];
  }
  free(old_slots);
  return true;
}

void WrittenFiles::Add(const FileIdentity& file) {
  if (file == kEmpty) {
    zero_added_ = true;
    return;
  }
  const size_t slot = Find(file);
  if (slots_[slot] == kEmpty) ++count_;
  slots_[slot] = file;
}
