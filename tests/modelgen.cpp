// Writes model files made by the test model builder:
//   modelgen samples DIR      the sample models
//   modelgen batch DIR N      N models like real ones: 1 to 7 frames and
//                             0 to 4 tags, named model00000.md3 onwards
//   modelgen claim DIR COUNT  claim.md3, a small model claiming COUNT tags
//   modelgen large DIR COUNT  large.md3, a sparse model holding COUNT tags
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/model_builder.h"

namespace {

int Usage() {
  (void)fputs(
      "usage: modelgen samples DIR | modelgen batch DIR N | "
      "modelgen claim DIR COUNT | modelgen large DIR COUNT\n",
      stderr);
  return 2;
}

bool Write(const std::string& directory, const std::string& name,
           const std::vector<uint8_t>& bytes) {
  std::string path = directory + "/" + name;
  if (WriteFileBytes(path, bytes)) return true;
  (void)fprintf(stderr, "modelgen: cannot write %s\n", path.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string mode = argv[1];
  const std::string directory = argv[2];
  if (mode == "samples" && argc == 3) {
    for (const SampleModel& sample : SampleModels()) {
      if (!Write(directory, sample.file_name, sample.bytes)) return 1;
    }
    return 0;
  }
  if (mode == "batch" && argc == 4) {
    long count = strtol(argv[3], nullptr, 10);
    uint32_t state = 12345;  // A fixed sequence, so runs are comparable.
    for (long i = 0; i < count; ++i) {
      state = state * 1103515245u + 12345u;
      ModelBuilder model;
      model.frames = 1 + static_cast<int32_t>((state >> 16) % 7);
      model.tags = NumberedTags(static_cast<int>((state >> 8) % 5),
                                static_cast<uint32_t>(i));
      char name[32];
      if (snprintf(name, sizeof name, "model%05ld.md3", i) <= 0) return 1;
      model.name = name;
      if (!Write(directory, name, model.Build())) return 1;
    }
    return 0;
  }
  if (mode == "claim" && argc == 4) {
    ModelBuilder model;
    model.tags = NumberedTags(2);
    std::vector<uint8_t> bytes = model.Build();
    SetInt32(&bytes, 80, static_cast<int32_t>(strtol(argv[3], nullptr, 10)));
    return Write(directory, "claim.md3", bytes) ? 0 : 1;
  }
  if (mode == "large" && argc == 4) {
    const std::string path = directory + "/large.md3";
    if (WriteLargeModel(path,
                        static_cast<int32_t>(strtol(argv[3], nullptr, 10))))
      return 0;
    (void)fprintf(stderr, "modelgen: cannot write %s\n", path.c_str());
    return 1;
  }
  return Usage();
}
