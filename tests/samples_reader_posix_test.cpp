// Samples read by an independent MD3 reader, Debian's assimp: each valid one
// loads with the builder's meshes, vertices and triangles.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/conversion_check.h"
#include "tests/model_builder.h"
#include "tests/process_posix.h"

namespace {

bool Succeeded(const RunResult& run) {
  return WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0;
}

// The number after `label` at the start of a line of `report`, or -1.
long Count(const std::string& report, const std::string& label) {
  const size_t at = report.find("\n" + label);
  if (at == std::string::npos) return -1;
  return strtol(report.c_str() + at + 1 + label.size(), nullptr, 10);
}

TEST(SamplesReaderTest, ValidSamplesLoadWithTheirCounts) {
  const RunResult version = RunProgram({"assimp", "version"}, ".");
  if (!Succeeded(version))
    GTEST_SKIP() << "assimp is not installed (apt-get install assimp-utils)";
  for (const SampleModel& sample : SampleModels()) {
    if (sample.outcome != SampleModel::Outcome::kConverts) continue;
    SCOPED_TRACE(sample.file_name);
    const RunResult run = RunProgram(
        {"assimp", "info", sample.file_name.c_str()}, SourcePath("examples"));
    EXPECT_TRUE(Succeeded(run)) << run.out << run.err;
    EXPECT_EQ(Count(run.out, "Meshes:"), sample.meshes) << run.out;
    EXPECT_EQ(Count(run.out, "Vertices:"), sample.vertices) << run.out;
    EXPECT_EQ(Count(run.out, "Faces:"), sample.faces) << run.out;
  }
}

}  // namespace
