#include "tests/conversion_check.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "md3/md3_model.h"
#include "tests/model_builder.h"

const std::vector<uint8_t> kOldTagFile = {'o', 'l', 'd', ' ', 't', 'a', 'g'};

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
