// Builds complete MD3 model files for the tests, the samples and the
// benchmark.
#ifndef TAGBATCH_TESTS_MODEL_BUILDER_H_
#define TAGBATCH_TESTS_MODEL_BUILDER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A tag as the first frame holds it: a name, an origin and its three axes.
// Later frames turn it about z and raise it, so every frame's record differs.
struct TagPose {
  std::string name;
  float origin[3] = {0, 0, 0};
  float axes[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
};

// A surface shaped as a box from `low` to `high`, painted with `shader`: 24
// vertices, four a side for its own normal and texture corners; 12 triangles.
struct SurfaceBox {
  std::string name = "body";
  std::string shader = "models/body.tga";
  float low[3] = {-8, -8, 0};
  float high[3] = {8, 8, 16};
};

// The layout of a model, as MD3 files usually have it: the 108-byte header,
// `frames` frame records of 56 bytes, `frames` runs of tag records, then the
// surfaces, each with its header, shader, triangles, texture coordinates and
// vertices per frame. The end offset is the file's size.
struct ModelBuilder {
  static constexpr size_t kHeaderSize = 108;
  static constexpr size_t kFrameSize = 56;
  static constexpr size_t kTagSize = 112;
  static constexpr int32_t kBoxVertices = 24;
  static constexpr int32_t kBoxTriangles = 12;

  std::string name = "model";
  int32_t frames = 1;
  std::vector<TagPose> tags;
  std::vector<SurfaceBox> surfaces = {SurfaceBox{}};

  // The number of tags in each frame.
  int32_t TagCount() const { return static_cast<int32_t>(tags.size()); }
  // The offset at which the tag block starts.
  size_t TagBlockOffset() const;
  // The model file's bytes.
  std::vector<uint8_t> Build() const;
};

// `count` tags named tag_0, tag_1, ..., at places that differ with `seed`.
std::vector<TagPose> NumberedTags(int count, uint32_t seed = 1);

// Overwrites the 32-bit little-endian field at `offset` of `bytes`.
void SetInt32(std::vector<uint8_t>* bytes, size_t offset, int32_t value);

// The tag file that the model built by `model` should give.
std::vector<uint8_t> ExpectedTagFile(const ModelBuilder& model);

// Writes a model of `tags` zero-filled tag records at its end, sparse where it
// can be, so the largest count costs little disk; false on failure.
bool WriteLargeModel(const std::string& path, int32_t tags);

// Writes `bytes` to `path`; false on failure.
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// The contents of `path`, or an empty vector when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::string& path);

// A sample model and what becomes of it: a valid one converts into `tag_file`,
// and an independent MD3 reader finds `meshes` meshes, `vertices` vertices and
// `faces` triangles in it (for a part of a character, in the whole); a damaged
// one fails as `outcome` says.
struct SampleModel {
  enum class Outcome { kConverts, kFailsToLoad, kFailsToWrite };
  std::string file_name;
  std::vector<uint8_t> bytes;
  Outcome outcome = Outcome::kConverts;
  std::vector<uint8_t> tag_file = {};
  int meshes = 0;
  int vertices = 0;
  int faces = 0;
};
std::vector<SampleModel> SampleModels();

#endif  // TAGBATCH_TESTS_MODEL_BUILDER_H_
