// Builds MD3 model files for the tests, the samples and the benchmark.
#ifndef TAGBATCH_TESTS_MODEL_BUILDER_H_
#define TAGBATCH_TESTS_MODEL_BUILDER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The layout of a model: a 108-byte header, `frames` frame records of 56
// bytes, then `frames` runs of `tags` tag records, then `padding` bytes
// standing in for the surfaces. Every tag record has distinct contents.
struct ModelBuilder {
  static constexpr size_t kFrameSize = 56;

  std::string name = "model";
  int32_t frames = 1;
  int32_t tags = 0;
  size_t padding = 0;
  uint32_t seed = 1;  // Varies the tags' contents between models.

  // The offset at which the tag block starts.
  size_t TagBlockOffset() const;
  // The model file's bytes.
  std::vector<uint8_t> Build() const;
};

// Overwrites the 32-bit little-endian field at `offset` of `bytes`.
void SetInt32(std::vector<uint8_t>* bytes, size_t offset, int32_t value);

// The tag file that the model built by `model` should give.
std::vector<uint8_t> ExpectedTagFile(const ModelBuilder& model);

// Writes a model of `tags` tags whose records are all zero bytes, as a
// sparse file where the system has them, so that even the largest count
// costs little disk space; false on failure.
bool WriteLargeModel(const std::string& path, int32_t tags);

// Writes `bytes` to `path`; false on failure.
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// The contents of `path`, or an empty vector when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::string& path);

// The sample models: one of each kind of outcome.
struct SampleModel {
  std::string file_name;
  std::vector<uint8_t> bytes;
};
std::vector<SampleModel> SampleModels();

#endif  // TAGBATCH_TESTS_MODEL_BUILDER_H_
