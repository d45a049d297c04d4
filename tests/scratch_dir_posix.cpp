#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/scratch_dir.h"

namespace {

// Lets us remove what a test left in a directory it made read-only.
int MakeWritable(const char* path, const struct stat* /*status*/, int type,
                 struct FTW* /*where*/) {
  if (type == FTW_D) (void)chmod(path, 0700);
  return 0;
}

int Remove(const char* path, const struct stat* /*status*/, int /*type*/,
           struct FTW* /*where*/) {
  (void)remove(path);
  return 0;
}

constexpr int kOpenDirectories = 16;

}  // namespace

ScratchDir::ScratchDir() {
  const char* base = getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
      "/tagbatch.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    perror("mkdtemp");
    abort();
  }
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  (void)nftw(path_.c_str(), MakeWritable, kOpenDirectories, FTW_PHYS);
  (void)nftw(path_.c_str(), Remove, kOpenDirectories, FTW_PHYS | FTW_DEPTH);
}

std::vector<std::string> ScratchDir::List() const {
  std::vector<std::string> names;
  if (DIR* directory = opendir(path_.c_str())) {
    while (const dirent* entry = readdir(directory)) {
      if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
        names.emplace_back(entry->d_name);
    }
    closedir(directory);
  }
  std::sort(names.begin(), names.end());
  return names;
}
