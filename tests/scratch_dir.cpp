#include "tests/scratch_dir.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  std::error_code error;
  const fs::path base = fs::temp_directory_path(error);
  std::random_device random;
  for (int attempt = 0; !error && attempt < 1000; ++attempt) {
    const fs::path folder = base / ("tagbatch." + std::to_string(random()));
    if (fs::create_directory(folder, error)) {
      fs::permissions(folder, fs::perms::owner_all, error);
      path_ = folder.string();
      return;
    }
  }
  (void)fprintf(stderr, "no scratch folder: %s\n", error.message().c_str());
  abort();
}

ScratchDir::~ScratchDir() {
  // Folders a test left read-only are made writable on the way down.
  std::error_code error;
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
  for (fs::recursive_directory_iterator it(path_, error), end;
       !error && it != end; it.increment(error)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored))
      fs::permissions(*it, fs::perms::owner_all, fs::perm_options::add,
                      ignored);
  }
  fs::remove_all(path_, error);
}

std::vector<std::string> ScratchDir::List() const {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(path_, error), end; !error && it != end;
       it.increment(error))
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}
