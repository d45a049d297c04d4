// The committed sample models are exactly what the builder makes.
#include <gtest/gtest.h>

#include "tests/model_builder.h"

TEST(SamplesTest, CommittedSamplesMatchTheBuilder) {
  for (const SampleModel& sample : SampleModels()) {
    SCOPED_TRACE(sample.file_name);
    EXPECT_EQ(ReadFileBytes(std::string(TAGBATCH_EXAMPLES_DIR) + "/" +
                            sample.file_name),
              sample.bytes);
  }
}
