// The committed sample models, and the tag files that a run on them must
// give (tests/expected, which the checks of the packages read too), are
// exactly what the builder makes.
#include <gtest/gtest.h>

#include "tests/conversion_check.h"
#include "tests/model_builder.h"

TEST(SamplesTest, CommittedSamplesAndTheirTagFilesMatchTheBuilder) {
  for (const SampleModel& sample : SampleModels()) {
    SCOPED_TRACE(sample.file_name);
    const std::string& name = sample.file_name;
    EXPECT_EQ(ReadFileBytes(SourcePath("examples/" + name)), sample.bytes);
    EXPECT_EQ(ReadFileBytes(SourcePath(
                  "tests/expected/" + name.substr(0, name.size() - 3) + "tag")),
              sample.tag_file);
  }
}
