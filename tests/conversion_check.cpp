#include "tests/conversion_check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "md3/md3_model.h"
#include "tests/model_builder.h"

const std::vector<uint8_t> kOldTagFile = {'o', 'l', 'd', ' ', 't', 'a', 'g'};

std::string SourcePath(const std::string& name) {
  const char* moved = getenv("TAGBATCH_SOURCE_DIR");
  return (moved != nullptr ? moved : TAGBATCH_SOURCE_DIR) + ("/" + name);
}

std::map<std::string, std::string> ReportByModel(const std::string& report) {
  std::map<std::string, std::string> lines;
  std::string model;  // None before the first.
  std::istringstream in(report);
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, 12, "File Found: ") == 0) model = line.substr(12);
    lines[model] += line + "\n";
  }
  return lines;
}

void ExpectConversionFailsHarmlessly(const ScratchDir& dir,
                                     const std::string& model_path,
                                     const std::string& tag_path,
                                     bool existing) {
  (void)std::remove(tag_path.c_str());
  if (existing) {
    ASSERT_TRUE(WriteFileBytes(tag_path, kOldTagFile));
  }
  const std::vector<std::string> before = dir.List();
  Md3Model model;
  ASSERT_TRUE(model.Load(model_path.c_str()));
  EXPECT_FALSE(model.WriteTagFile(tag_path.c_str()));
  // cppcheck-suppress knownConditionTrueFalse ; the folder is read again.
  EXPECT_EQ(dir.List(), before);
  if (existing) {
    EXPECT_EQ(ReadFileBytes(tag_path), kOldTagFile);
  }
}
