// The sample models read by an independent MD3 reader, Debian's assimp:
// every valid sample loads, with the meshes, vertices and triangles the
// builder wrote. (The damaged ones fail in tagbatch as the README says;
// the end-to-end tests check that.)
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/model_builder.h"

namespace {

// What `command` prints on standard output, and whether it succeeded.
bool RunCommand(const std::string& command, std::string* out) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return false;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
    out->append(buffer, n);
  return pclose(pipe) == 0;
}

// The number after `label` at the start of a line of `report`, or -1.
int Count(const std::string& report, const std::string& label) {
  const size_t at = report.find("\n" + label);
  if (at == std::string::npos) return -1;
  return atoi(report.c_str() + at + 1 + label.size());
}

TEST(SamplesReaderTest, ValidSamplesLoadWithTheirCounts) {
  std::string version;
  if (!RunCommand("assimp version 2>/dev/null", &version))
    GTEST_SKIP() << "assimp is not installed (apt-get install assimp-utils)";
  for (const SampleModel& sample : SampleModels()) {
    if (sample.outcome != SampleModel::Outcome::kConverts) continue;
    SCOPED_TRACE(sample.file_name);
    std::string report;
    EXPECT_TRUE(RunCommand("cd '" TAGBATCH_EXAMPLES_DIR "' && assimp info " +
                               sample.file_name + " 2>&1",
                           &report))
        << report;
    EXPECT_EQ(Count(report, "Meshes:"), sample.meshes) << report;
    EXPECT_EQ(Count(report, "Vertices:"), sample.vertices) << report;
    EXPECT_EQ(Count(report, "Faces:"), sample.faces) << report;
  }
}

}  // namespace
