// Converts each input as a model, the way a batch run does (Load,
// WriteTagFile, Close), next to an existing tag file, and checks the
// outcome:
// - it succeeds exactly when the model has a whole header, a count from 0
//   to 19,173,960, an offset that is not negative, and (unless the count is
//   0) all the records inside the file;
// - on success the tag file is exactly the header for the model's count
//   followed by the model's bytes at its tag block offset;
// - on failure the old tag file is byte for byte as it was and nothing
//   else appeared in the directory.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "md3/little_endian.h"
#include "md3/md3_model.h"
#include "tests/model_builder.h"
#include "tests/scratch_dir.h"

namespace {

const std::vector<uint8_t> kOldTagFile = {'o', 'l', 'd', '\n'};
const std::vector<std::string> kNames = {"model.md3", "model.tag"};

void Check(bool condition, const char* what) {
  if (condition) return;
  fprintf(stderr, "invariant broken: %s\n", what);
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ScratchDir dir;
  const std::string model_path = dir / "model.md3";
  const std::string tag_path = dir / "model.tag";
  const std::vector<uint8_t> model_bytes(data, data + size);
  Check(WriteFileBytes(model_path, model_bytes), "model written");
  Check(WriteFileBytes(tag_path, kOldTagFile), "old tag file written");

  Md3Model model;
  bool written = false;
  if (model.Load(model_path.c_str()))
    written = model.WriteTagFile(tag_path.c_str());
  model.Close();

  const std::vector<uint8_t> tag_file = ReadFileBytes(tag_path);
  Check(dir.List() == kNames, "no other file appears");
  const int32_t count = size >= 108 ? DecodeInt32(data + 80) : -1;
  const int32_t offset = size >= 108 ? DecodeInt32(data + 96) : -1;
  const bool in_range = count >= 0 && count <= 19173960 && offset >= 0;
  const bool convertible =
      in_range && (count == 0 || 112 * static_cast<uint64_t>(count) +
                                         static_cast<uint64_t>(offset) <=
                                     size);
  Check(written == convertible, "converted exactly when the model allows");
  if (!written) {
    Check(tag_file == kOldTagFile, "old tag file untouched");
    return 0;
  }
  const size_t records = 112 * static_cast<size_t>(count);
  Check(tag_file.size() == 16 + records, "length is 16 + 112 * count");
  Check(memcmp(tag_file.data(), "TAG3", 4) == 0, "identifier");
  Check(DecodeInt32(tag_file.data() + 4) == 1, "version");
  Check(DecodeInt32(tag_file.data() + 8) == count, "tag count");
  Check(DecodeInt32(tag_file.data() + 12) == static_cast<int32_t>(16 + records),
        "end offset");
  Check(
      records == 0 || memcmp(tag_file.data() + 16, data + offset, records) == 0,
      "records copied unchanged");
  return 0;
}
