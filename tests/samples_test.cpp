// The committed samples, and the tag files a run on them gives (tests/expected,
// which the package checks read too), are just what the builder makes.
#include <gtest/gtest.h>

#include "tests/conversion_check.h"
#include "tests/model_builder.h"

TEST(SamplesTest, CommittedSamplesAndTheirTagFilesMatchTheBuilder) {
  for (const SampleModel& sample : SampleModels()) {
    SCOPED_TRACE(sample.file_name);
    const std::string& name = sample.file_name;
    EXPECT_EQ(ReadFileBytes(SourcePath("examples/" + name)), sample.bytes);
    EXPECT_EQ(ReadFileBytes(SourcePath("tests/expected/" + TagNameOf(name))),
              sample.tag_file);
  }
}
