// A fresh directory for one test, removed with everything in it.
#ifndef TAGBATCH_TESTS_SCRATCH_DIR_H_
#define TAGBATCH_TESTS_SCRATCH_DIR_H_

#include <string>
#include <vector>

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // `name` inside the directory.
  std::string operator/(const std::string& name) const {
    return path_ + "/" + name;
  }
  // The names in the directory, sorted, without "." and "..".
  std::vector<std::string> List() const;

 private:
  std::string path_;
};

#endif  // TAGBATCH_TESTS_SCRATCH_DIR_H_
