#include "io/written_files.h"

#include <cstdlib>

WrittenFiles::~WrittenFiles() { free(slots_); }

uint64_t WrittenFiles::Hash(const char* path) {
  // FNV-1a; 0 is kept for empty slots.
  uint64_t hash = 14695981039346656037u;
  for (const char* c = path; *c != '\0'; ++c) {
    hash ^= static_cast<unsigned char>(*c);
    hash *= 1099511628211u;
  }
  return hash != 0 ? hash : 1;
}

size_t WrittenFiles::Find(uint64_t hash) const {
  size_t slot = static_cast<size_t>(hash) & (capacity_ - 1);
  while (slots_[slot] != 0 && slots_[slot] != hash)
    slot = (slot + 1) & (capacity_ - 1);
  return slot;
}

bool WrittenFiles::Contains(const char* path) const {
  if (count_ == 0) return false;
  const uint64_t hash = Hash(path);
  return slots_[Find(hash)] == hash;
}

bool WrittenFiles::Reserve() {
  // At most three quarters full, so that a search ends soon.
  if (4 * (count_ + 1) <= 3 * capacity_) return true;
  const size_t old_capacity = capacity_;
  uint64_t* old_slots = slots_;
  const size_t capacity = old_capacity == 0 ? 64 : 2 * old_capacity;
  auto* slots = static_cast<uint64_t*>(calloc(capacity, sizeof(uint64_t)));
  if (slots == nullptr) return false;
  slots_ = slots;
  capacity_ = capacity;
  for (size_t i = 0; i < old_capacity; ++i) {
    if (old_slots[i] != 0) slots_[Find(old_slots[i])] = old_slots[i];
  }
  free(old_slots);
  return true;
}

void WrittenFiles::Add(const char* path) {
  const uint64_t hash = Hash(path);
  const size_t slot = Find(hash);
  if (slots_[slot] == 0) ++count_;
  slots_[slot] = hash;
}
