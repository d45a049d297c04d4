#include "tests/model_builder.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "md3/little_endian.h"

namespace {

constexpr size_t kHeaderSize = 108;
constexpr size_t kTagSize = 112;

void PutName(std::vector<uint8_t>* bytes, size_t offset, size_t size,
             const std::string& name) {
  memcpy(bytes->data() + offset, name.data(),
         name.size() < size ? name.size() : size - 1);
}

// Stores `value` as a little-endian 32-bit float.
void PutFloat(std::vector<uint8_t>* bytes, size_t offset, float value) {
  int32_t bits;
  memcpy(&bits, &value, sizeof bits);
  EncodeInt32(bits, bytes->data() + offset);
}

}  // namespace

void SetInt32(std::vector<uint8_t>* bytes, size_t offset, int32_t value) {
  EncodeInt32(value, bytes->data() + offset);
}

size_t ModelBuilder::TagBlockOffset() const {
  return kHeaderSize + kFrameSize * static_cast<size_t>(frames);
}

std::vector<uint8_t> ModelBuilder::Build() const {
  const size_t tag_records =
      static_cast<size_t>(frames) * static_cast<size_t>(tags);
  const size_t end = TagBlockOffset() + kTagSize * tag_records + padding;
  std::vector<uint8_t> bytes(end, 0);

  memcpy(bytes.data(), "IDP3", 4);
  SetInt32(&bytes, 4, 15);
  PutName(&bytes, 8, 64, name);
  SetInt32(&bytes, 76, frames);
  SetInt32(&bytes, 80, tags);
  SetInt32(&bytes, 84, 0);  // Surfaces.
  SetInt32(&bytes, 92, static_cast<int32_t>(kHeaderSize));
  SetInt32(&bytes, 96, static_cast<int32_t>(TagBlockOffset()));
  SetInt32(&bytes, 100, static_cast<int32_t>(end));
  SetInt32(&bytes, 104, static_cast<int32_t>(end));

  for (int32_t f = 0; f < frames; ++f) {
    size_t frame = kHeaderSize + kFrameSize * static_cast<size_t>(f);
    PutFloat(&bytes, frame + 36, 1.0f + static_cast<float>(f));  // Radius.
    PutName(&bytes, frame + 40, 16, "frame" + std::to_string(f));
  }
  // Every byte of a tag varies with its frame, its index and the seed, so
  // a record copied from the wrong place cannot go unnoticed.
  for (size_t r = 0; r < tag_records; ++r) {
    size_t tag = TagBlockOffset() + kTagSize * r;
    for (size_t i = 0; i < kTagSize; ++i)
      bytes[tag + i] =
          static_cast<uint8_t>(r * 31 + i * 7 + static_cast<size_t>(seed) * 13);
    PutName(&bytes, tag, 64,
            "tag_" + std::to_string(r % static_cast<size_t>(tags)));
    bytes[tag + 63] = 0;
    for (int axis = 0; axis < 12; ++axis)
      PutFloat(&bytes, tag + 64 + 4 * static_cast<size_t>(axis),
               static_cast<float>(r) + 0.25f * static_cast<float>(axis));
  }
  for (size_t i = end - padding; i < end; ++i)
    bytes[i] = static_cast<uint8_t>(0xA5 ^ i);
  return bytes;
}

std::vector<uint8_t> ExpectedTagFile(const ModelBuilder& model) {
  std::vector<uint8_t> model_bytes = model.Build();
  const size_t records = kTagSize * static_cast<size_t>(model.tags);
  std::vector<uint8_t> out(16 + records, 0);
  memcpy(out.data(), "TAG3", 4);
  SetInt32(&out, 4, 1);
  SetInt32(&out, 8, model.tags);
  SetInt32(&out, 12, static_cast<int32_t>(16 + records));
  if (records > 0)
    memcpy(out.data() + 16, model_bytes.data() + model.TagBlockOffset(),
           records);
  return out;
}

bool WriteLargeModel(const std::string& path, int32_t tags) {
  ModelBuilder model;
  std::vector<uint8_t> bytes = model.Build();
  const uint64_t records = kTagSize * static_cast<uint64_t>(tags);
  const uint64_t end = model.TagBlockOffset() + records;
  SetInt32(&bytes, 80, tags);
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

std::vector<SampleModel> SampleModels() {
  std::vector<SampleModel> samples;
  auto add = [&samples](const std::string& file, const ModelBuilder& model) {
    samples.push_back({file, model.Build()});
  };
  ModelBuilder lower;
  lower.name = "models/lower";
  lower.frames = 5;
  lower.tags = 4;
  lower.padding = 64;
  lower.seed = 2;
  add("lower.md3", lower);

  ModelBuilder upper;
  upper.name = "models/upper";
  upper.frames = 3;
  upper.tags = 3;
  upper.seed = 3;
  add("upper.md3", upper);

  ModelBuilder head;
  head.name = "models/head";
  head.tags = 1;
  head.seed = 4;
  add("head.md3", head);

  ModelBuilder prop;
  prop.name = "models/prop";
  prop.padding = 32;
  add("prop.md3", prop);

  // Cut off in the middle of its header: it does not load.
  std::vector<uint8_t> cut = head.Build();
  cut.resize(60);
  samples.push_back({"broken.md3", cut});

  // Claims more tags than it holds: it loads, but no tag file is written.
  ModelBuilder damaged = upper;
  damaged.name = "models/damaged";
  std::vector<uint8_t> bytes = damaged.Build();
  SetInt32(&bytes, 80, 1000);
  samples.push_back({"damaged.md3", bytes});
  return samples;
}
