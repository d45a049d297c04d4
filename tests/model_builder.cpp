#include "tests/model_builder.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "md3/little_endian.h"

namespace {

constexpr size_t kSurfaceHeaderSize = 108;
constexpr size_t kShaderSize = 68;
constexpr size_t kTriangleSize = 12;
constexpr size_t kTexCoordSize = 8;
constexpr size_t kVertexSize = 8;

// Four vertices a side give each side its own normal and texture corners; two
// triangles a side. Side `side` lies across axis side / 2, high when odd.
constexpr int kSides = 6;
constexpr int kSideCorners = 4;

// A file's bytes, appended field by field, every number little-endian.
class Writer {
 public:
  void Int32(int32_t value) {
    uint8_t field[4];
    EncodeInt32(value, field);
    bytes_.insert(bytes_.end(), field, field + 4);
  }
  void Int16(int16_t value) {
    const auto bits = static_cast<uint16_t>(value);
    bytes_.push_back(static_cast<uint8_t>(bits));
    bytes_.push_back(static_cast<uint8_t>(bits >> 8));
  }
  void Float(float value) {
    int32_t bits;
    memcpy(&bits, &value, sizeof bits);
    Int32(bits);
  }
  void Vector(const float (&value)[3]) {
    for (float component : value) Float(component);
  }
  // The four characters of a format's identifier.
  void Identifier(const char (&text)[5]) {
    bytes_.insert(bytes_.end(), text, text + 4);
  }
  // `text` in a field of `size` bytes, padded with zero bytes.
  void Name(const std::string& text, size_t size) {
    const size_t length = std::min(text.size(), size - 1);
    bytes_.insert(bytes_.end(), text.data(), text.data() + length);
    bytes_.insert(bytes_.end(), size - length, 0);
  }
  std::vector<uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
};

size_t SurfaceSize(int32_t frames) {
  return kSurfaceHeaderSize + kShaderSize +
         kTriangleSize * ModelBuilder::kBoxTriangles +
         kTexCoordSize * ModelBuilder::kBoxVertices +
         kVertexSize * ModelBuilder::kBoxVertices * static_cast<size_t>(frames);
}

// Vertex `vertex` of `box` in frame `frame`, raised half a unit a frame:
// corner vertex % 4 of side vertex / 4, going round it.
void Vertex(const SurfaceBox& box, int vertex, int32_t frame, float* out) {
  const int side = vertex / kSideCorners;
  const int corner = vertex % kSideCorners;
  const int across = side / 2;
  const int first = (across + 1) % 3;
  const int second = (across + 2) % 3;
  out[across] = side % 2 == 1 ? box.high[across] : box.low[across];
  out[first] = corner == 1 || corner == 2 ? box.high[first] : box.low[first];
  out[second] = corner >= 2 ? box.high[second] : box.low[second];
  out[2] += 0.5f * static_cast<float>(frame);
}

// The normal of side `side` as the format stores it: a latitude and a
// longitude, 256 steps a turn each.
int16_t SideNormal(int side) {
  // -x, +x, -y, +y, -z, +z.
  constexpr int kLatitude[kSides] = {64, 64, 64, 64, 128, 0};
  constexpr int kLongitude[kSides] = {128, 0, 192, 64, 0, 0};
  return static_cast<int16_t>(kLatitude[side] << 8 | kLongitude[side]);
}

// The frame record: the bounds of every surface's vertices in `frame`, the
// local origin, the radius of the sphere around it holding them, a name.
void WriteFrame(const ModelBuilder& model, int32_t frame, Writer* out) {
  float low[3] = {0, 0, 0};
  float high[3] = {0, 0, 0};
  float radius = 0;
  bool first = true;
  for (const SurfaceBox& box : model.surfaces) {
    for (int vertex = 0; vertex < ModelBuilder::kBoxVertices; ++vertex) {
      float at[3];
      Vertex(box, vertex, frame, at);
      for (int axis = 0; axis < 3; ++axis) {
        low[axis] = first ? at[axis] : std::min(low[axis], at[axis]);
        high[axis] = first ? at[axis] : std::max(high[axis], at[axis]);
      }
      first = false;
      radius = std::max(
          radius, std::sqrt(at[0] * at[0] + at[1] * at[1] + at[2] * at[2]));
    }
  }
  const float origin[3] = {0, 0, 0};
  out->Vector(low);
  out->Vector(high);
  out->Vector(origin);
  out->Float(radius);
  out->Name("frame" + std::to_string(frame), 16);
}

// The tag record of `tag` in frame `frame`: raised one unit a frame and
// turned a quarter about the z axis every other frame.
void WriteTag(const TagPose& tag, int32_t frame, Writer* out) {
  out->Name(tag.name, 64);
  float origin[3] = {tag.origin[0], tag.origin[1],
                     tag.origin[2] + static_cast<float>(frame)};
  out->Vector(origin);
  const bool turned = frame % 2 == 1;
  for (const auto& axis : tag.axes) {
    const float turned_axis[3] = {-axis[1], axis[0], axis[2]};
    out->Vector(turned ? turned_axis : axis);
  }
}

// A surface record: header, shader, triangles, texture coordinates and each
// frame's vertices, offsets counted from the surface's start.
void WriteSurface(const SurfaceBox& box, int32_t frames, Writer* out) {
  const size_t shaders = kSurfaceHeaderSize;
  const size_t triangles = shaders + kShaderSize;
  const size_t tex_coords =
      triangles + kTriangleSize * ModelBuilder::kBoxTriangles;
  const size_t vertices =
      tex_coords + kTexCoordSize * ModelBuilder::kBoxVertices;
  out->Identifier("IDP3");
  out->Name(box.name, 64);
  out->Int32(0);  // Flags.
  out->Int32(frames);
  out->Int32(1);  // Shaders.
  out->Int32(ModelBuilder::kBoxVertices);
  out->Int32(ModelBuilder::kBoxTriangles);
  out->Int32(static_cast<int32_t>(triangles));
  out->Int32(static_cast<int32_t>(shaders));
  out->Int32(static_cast<int32_t>(tex_coords));
  out->Int32(static_cast<int32_t>(vertices));
  out->Int32(static_cast<int32_t>(SurfaceSize(frames)));

  out->Name(box.shader, 64);
  out->Int32(0);  // The shader's index.
  for (int side = 0; side < kSides; ++side) {
    const int32_t first = side * kSideCorners;
    for (int32_t corner : {0, 1, 2, 0, 2, 3}) out->Int32(first + corner);
  }
  for (int vertex = 0; vertex < ModelBuilder::kBoxVertices; ++vertex) {
    const int corner = vertex % kSideCorners;
    out->Float(corner == 1 || corner == 2 ? 1.0f : 0.0f);
    out->Float(corner >= 2 ? 1.0f : 0.0f);
  }
  for (int32_t frame = 0; frame < frames; ++frame) {
    for (int vertex = 0; vertex < ModelBuilder::kBoxVertices; ++vertex) {
      float at[3];
      Vertex(box, vertex, frame, at);
      // Positions are stored in 1/64 units.
      for (float component : at)
        out->Int16(static_cast<int16_t>(component * 64));
      out->Int16(SideNormal(vertex / kSideCorners));
    }
  }
}

}  // namespace

void SetInt32(std::vector<uint8_t>* bytes, size_t offset, int32_t value) {
  EncodeInt32(value, bytes->data() + offset);
}

size_t ModelBuilder::TagBlockOffset() const {
  return kHeaderSize + kFrameSize * static_cast<size_t>(frames);
}

std::vector<uint8_t> ModelBuilder::Build() const {
  const size_t surface_block =
      TagBlockOffset() + kTagSize * tags.size() * static_cast<size_t>(frames);
  const size_t end = surface_block + SurfaceSize(frames) * surfaces.size();
  Writer out;
  out.Identifier("IDP3");
  out.Int32(15);  // Version.
  out.Name(name, 64);
  out.Int32(0);  // Flags.
  out.Int32(frames);
  out.Int32(TagCount());
  out.Int32(static_cast<int32_t>(surfaces.size()));
  out.Int32(0);  // Skins.
  out.Int32(static_cast<int32_t>(kHeaderSize));
  out.Int32(static_cast<int32_t>(TagBlockOffset()));
  out.Int32(static_cast<int32_t>(surface_block));
  out.Int32(static_cast<int32_t>(end));
  for (int32_t frame = 0; frame < frames; ++frame)
    WriteFrame(*this, frame, &out);
  for (int32_t frame = 0; frame < frames; ++frame) {
    for (const TagPose& tag : tags) WriteTag(tag, frame, &out);
  }
  for (const SurfaceBox& box : surfaces) WriteSurface(box, frames, &out);
  return out.Take();
}

std::vector<TagPose> NumberedTags(int count, uint32_t seed) {
  std::vector<TagPose> tags(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    TagPose& tag = tags[static_cast<size_t>(i)];
    tag.name = "tag_" + std::to_string(i);
    tag.origin[0] = static_cast<float>(seed % 1000) + 0.25f;
    tag.origin[1] = static_cast<float>(2 * i);
    tag.origin[2] = static_cast<float>(4 * i);
  }
  return tags;
}

std::vector<uint8_t> ExpectedTagFile(const ModelBuilder& model) {
  std::vector<uint8_t> model_bytes = model.Build();
  const size_t records = ModelBuilder::kTagSize * model.tags.size();
  std::vector<uint8_t> out(16 + records, 0);
  memcpy(out.data(), "TAG3", 4);
  SetInt32(&out, 4, 1);
  SetInt32(&out, 8, model.TagCount());
  SetInt32(&out, 12, static_cast<int32_t>(16 + records));
  if (records > 0)
    memcpy(out.data() + 16, model_bytes.data() + model.TagBlockOffset(),
           records);
  return out;
}

bool WriteLargeModel(const std::string& path, int32_t tags) {
  std::vector<uint8_t> bytes = ModelBuilder{}.Build();
  const uint64_t records = ModelBuilder::kTagSize * static_cast<uint64_t>(tags);
  const uint64_t end = bytes.size() + records;
  SetInt32(&bytes, 80, tags);
  SetInt32(&bytes, 96, static_cast<int32_t>(bytes.size()));
  // Past the largest count the end no longer fits the field.
  SetInt32(&bytes, 104,
           static_cast<int32_t>(std::min<uint64_t>(end, INT32_MAX)));
  if (!WriteFileBytes(path, bytes)) return false;
  // Growing the file leaves a hole, which reads as zero bytes.
  std::error_code error;
  std::filesystem::resize_file(path, end, error);
  return !error;
}

bool WriteFileBytes(const std::string& path,
                    const std::vector<uint8_t>& bytes) {
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && ok;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return bytes;
  uint8_t chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, file)) > 0)
    bytes.insert(bytes.end(), chunk, chunk + n);
  (void)fclose(file);  // Read-only: nothing to lose.
  return bytes;
}

namespace {

SampleModel Valid(const std::string& file_name, const ModelBuilder& model) {
  SampleModel sample;
  sample.file_name = file_name;
  sample.bytes = model.Build();
  sample.tag_file = ExpectedTagFile(model);
  sample.meshes = static_cast<int>(model.surfaces.size());
  sample.vertices = sample.meshes * ModelBuilder::kBoxVertices;
  sample.faces = sample.meshes * ModelBuilder::kBoxTriangles;
  return sample;
}

}  // namespace

std::vector<SampleModel> SampleModels() {
  // A character in three parts, z up, facing x: the lower body's tag_torso is
  // where the upper's own goes, and the upper's tag_head where the head's goes.
  ModelBuilder lower;
  lower.name = "models/character/lower.md3";
  lower.frames = 3;
  lower.tags = {TagPose{"tag_torso", {0, 0, 24}}};
  lower.surfaces = {
      SurfaceBox{"legs", "models/character/legs.tga", {-6, -8, 0}, {6, 8, 24}}};

  ModelBuilder upper;
  upper.name = "models/character/upper.md3";
  upper.frames = 3;
  // The hand holds a weapon pointing ahead, turned a quarter about z.
  upper.tags = {
      TagPose{"tag_torso", {0, 0, 0}}, TagPose{"tag_head", {0, 0, 20}},
      TagPose{"tag_weapon", {4, -12, 12}, {{0, 1, 0}, {-1, 0, 0}, {0, 0, 1}}}};
  upper.surfaces = {
      SurfaceBox{
          "torso", "models/character/torso.tga", {-5, -10, 0}, {5, 10, 20}},
      SurfaceBox{
          "arms", "models/character/arms.tga", {-3, -14, 8}, {3, 14, 18}}};

  ModelBuilder head;
  head.name = "models/character/head.md3";
  head.tags = {TagPose{"tag_head", {0, 0, 0}}};
  head.surfaces = {
      SurfaceBox{"head", "models/character/head.tga", {-5, -5, 0}, {5, 5, 10}}};

  // A prop with one tag, where a light goes.
  ModelBuilder lantern;
  lantern.name = "models/props/lantern.md3";
  lantern.tags = {TagPose{"tag_light", {0, 0, 10}}};
  lantern.surfaces = {
      SurfaceBox{
          "base", "models/props/lantern_base.tga", {-4, -4, 0}, {4, 4, 2}},
      SurfaceBox{
          "glass", "models/props/lantern_glass.tga", {-3, -3, 2}, {3, 3, 12}}};

  // Four frames in which the top of the pole moves: the tag file holds the
  // first frame's tag alone.
  ModelBuilder banner;
  banner.name = "models/props/banner.md3";
  banner.frames = 4;
  banner.tags = {TagPose{"tag_top", {0, 0, 48}}};
  banner.surfaces = {
      SurfaceBox{
          "pole", "models/props/banner_pole.tga", {-1, -1, 0}, {1, 1, 48}},
      SurfaceBox{"cloth",
                 "models/props/banner_cloth.tga",
                 {1, -0.5f, 24},
                 {17, 0.5f, 46}}};

  // No tags: the tag file is the 16-byte header alone.
  ModelBuilder crate;
  crate.name = "models/props/crate.md3";
  crate.surfaces = {
      SurfaceBox{"crate", "models/props/crate.tga", {-8, -8, 0}, {8, 8, 16}}};

  // Cut off in the middle of its header.
  std::vector<uint8_t> cut = head.Build();
  cut.resize(60);
  // Claims 1000 tags a frame, far more than it holds.
  std::vector<uint8_t> count = upper.Build();
  SetInt32(&count, 80, 1000);

  // A reader that knows three-part characters loads the parts together,
  // joined at their tags, whichever part it is given.
  std::vector<SampleModel> character = {Valid("lower.md3", lower),
                                        Valid("upper.md3", upper),
                                        Valid("head.md3", head)};
  const int meshes = static_cast<int>(
      lower.surfaces.size() + upper.surfaces.size() + head.surfaces.size());
  for (SampleModel& part : character) {
    part.meshes = meshes;
    part.vertices = meshes * ModelBuilder::kBoxVertices;
    part.faces = meshes * ModelBuilder::kBoxTriangles;
  }

  using Outcome = SampleModel::Outcome;
  std::vector<SampleModel> samples = character;
  samples.push_back(Valid("lantern.md3", lantern));
  samples.push_back(Valid("banner.md3", banner));
  samples.push_back(Valid("crate.md3", crate));
  samples.push_back({"broken-header.md3", cut, Outcome::kFailsToLoad});
  samples.push_back({"broken-tag-count.md3", count, Outcome::kFailsToWrite});
  return samples;
}
