#include "io/replacement_file.h"

#include <cstdio>

bool ReplacementFile::NameTemporary(size_t directory_length,
                                    unsigned long process, int attempt) {
  const int directory = static_cast<int>(directory_length);
  const int length =
      attempt == 0 ? snprintf(temporary_, kMaxPath, "%.*s.tagbatch-%lu.tmp",
                              directory, target_, process)
                   : snprintf(temporary_, kMaxPath, "%.*s.tagbatch-%lu-%d.tmp",
                              directory, target_, process, attempt);
  return length > 0 && static_cast<size_t>(length) < kMaxPath;
}
