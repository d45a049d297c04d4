#include "io/replacement_file.h"

#include <cstdio>

bool ReplacementFile::NameTemporary(int attempt) {
  const int directory = static_cast<int>(directory_length_);
  const unsigned long process = ProcessId();
  const int length =
      attempt == 0 ? snprintf(temporary_, kMaxPath, "%.*s.tagbatch-%lu.tmp",
                              directory, target_, process)
                   : snprintf(temporary_, kMaxPath, "%.*s.tagbatch-%lu-%d.tmp",
                              directory, target_, process, attempt);
  return length > 0 && static_cast<size_t>(length) < kMaxPath;
}

bool ReplacementFile::Create() {
  if (!resolved_ || handle_ != kNoHandle) return false;
  // Used once: a second Create would replace the file a first one made.
  resolved_ = false;
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    if (!NameTemporary(attempt)) return false;
    Creation result = CreateTemporary();
    if (result == Creation::kTargetGone) result = CreateTemporary();
    if (result != Creation::kTaken) return result == Creation::kCreated;
  }
  return false;
}
