// The reader and the tag file writer, through their own interfaces.
#include "md3/md3_model.h"

#include <gtest/gtest.h>

#include <cstring>

#include "md3/tag_file.h"
#include "tests/conversion_check.h"
#include "tests/model_builder.h"
#include "tests/scratch_dir.h"

namespace {

class Md3ModelTest : public ::testing::Test {
 protected:
  // Writes `bytes` as a model named `name` and returns its path.
  std::string AddModel(const std::vector<uint8_t>& bytes,
                       const std::string& name = "model.md3") {
    std::string path = dir_ / name;
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    return path;
  }

  ScratchDir dir_;
};

// Any file of a header's length loads, whatever its identifier and
// version say; its tag count and tag block offset are read little-endian.
TEST_F(Md3ModelTest, FollowsTheLoadAndCloseStates) {
  ModelBuilder first;
  first.tags = NumberedTags(2);
  ModelBuilder second;
  second.tags = NumberedTags(5);
  std::vector<uint8_t> odd = second.Build();
  memcpy(odd.data(), "XYZW", 4);
  SetInt32(&odd, 4, -7);
  std::string first_path = AddModel(first.Build(), "first.md3");
  std::string second_path = AddModel(odd, "second.md3");
  std::string short_path =
      AddModel(std::vector<uint8_t>(107, 0x11), "short.md3");
  std::vector<uint8_t> header(108, 0);
  SetInt32(&header, 80, 0x01020304);
  SetInt32(&header, 96, -2);
  header[84] = header[100] = 0xEE;  // Neighbours that must not leak in.
  std::string header_path = AddModel(header, "header.md3");

  Md3Model model;
  EXPECT_EQ(model.header().TagCount(), 0);
  // Cannot be opened: stays empty, header untouched.
  EXPECT_FALSE(model.Load((dir_ / "missing.md3").c_str()));
  EXPECT_FALSE(model.IsOpen());

  // A short header fails but keeps the file until Close.
  EXPECT_FALSE(model.Load(short_path.c_str()));
  EXPECT_TRUE(model.IsOpen());
  model.Close();
  EXPECT_FALSE(model.IsOpen());
  ASSERT_TRUE(model.Load(header_path.c_str()));
  EXPECT_EQ(model.header().TagCount(), 0x01020304);
  EXPECT_EQ(model.header().TagBlockOffset(), -2);
  EXPECT_EQ(0, memcmp(model.header().bytes, header.data(), 108));
  model.Close();

  ASSERT_TRUE(model.Load(first_path.c_str()));
  // A second Load is refused and leaves the first model in place.
  EXPECT_FALSE(model.Load(second_path.c_str()));
  EXPECT_TRUE(model.IsOpen());
  EXPECT_EQ(model.header().TagCount(), 2);
  EXPECT_TRUE(model.WriteTagFile((dir_ / "first.tag").c_str()));
  EXPECT_EQ(ReadFileBytes(dir_ / "first.tag"), ExpectedTagFile(first));

  // The header outlives Close, and a failed open does not touch it.
  model.Close();
  EXPECT_EQ(model.header().TagCount(), 2);
  EXPECT_FALSE(model.Load((dir_ / "missing.md3").c_str()));
  EXPECT_EQ(model.header().TagCount(), 2);
  EXPECT_FALSE(model.WriteTagFile((dir_ / "none.tag").c_str()));
  EXPECT_TRUE(ReadFileBytes(dir_ / "none.tag").empty());

  ASSERT_TRUE(model.Load(second_path.c_str()));
  EXPECT_EQ(model.header().TagCount(), 5);
}

// Over a longer tag file, replaced whole; 150 tags (16,800 bytes a frame) cross
// several stream buffers. With no tags, an offset past the end reads nothing.
TEST_F(Md3ModelTest, WritesTheFirstFramesTags) {
  struct Case {
    const char* name;
    int32_t frames, tags;
    int32_t offset = 0;  // If not 0, the tag block's offset instead.
  };
  for (Case c :
       {Case{"no tags", 1, 0}, Case{"two tags", 1, 2}, Case{"three tags", 1, 3},
        Case{"the first of two frames", 2, 3},
        Case{"the first of seven frames", 7, 4}, Case{"150 tags", 3, 150},
        Case{"no tags, an offset past the end", 1, 0, 1 << 20}}) {
    SCOPED_TRACE(c.name);
    ModelBuilder builder;
    builder.frames = c.frames;
    builder.tags = NumberedTags(c.tags);
    std::vector<uint8_t> bytes = builder.Build();
    if (c.offset != 0) SetInt32(&bytes, 96, c.offset);
    ASSERT_TRUE(
        WriteFileBytes(dir_ / "model.tag", std::vector<uint8_t>(5000, 0x55)));
    Md3Model model;
    ASSERT_TRUE(model.Load(AddModel(bytes).c_str()));
    ASSERT_TRUE(model.WriteTagFile((dir_ / "model.tag").c_str()));
    EXPECT_EQ(ReadFileBytes(dir_ / "model.tag"), ExpectedTagFile(builder));
    EXPECT_EQ(dir_.List(),
              (std::vector<std::string>{"model.md3", "model.tag"}));
  }
}

TEST_F(Md3ModelTest, DamagedModelsFailLeavingTheOldTagFileAlone) {
  ModelBuilder builder;
  builder.frames = 2;
  builder.tags = NumberedTags(3);
  const std::vector<uint8_t> good = builder.Build();
  struct Case {
    const char* what;
    size_t field;
    int32_t value;
    bool no_tags = false;  // A model with none to read.
  };
  for (Case c : {
           Case{"negative tag block offset", 96, -1},
           Case{"negative offset, no tags to read", 96, -1, true},
           Case{"tag block past the end", 96, 1 << 20},
           Case{"tag block cut short", 96,
                static_cast<int32_t>(good.size()) - 100},
           Case{"negative tag count", 80, -1},
           Case{"count beyond the end offset's range", 80,
                TagFileHeader::kMaxTagCount + 1},
           Case{"count far beyond the file", 80, 2000000000},
           Case{"one tag more than the file holds", 80,
                static_cast<int32_t>(
                    (good.size() - builder.TagBlockOffset()) / 112 + 1)},
       }) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> bytes = c.no_tags ? ModelBuilder{}.Build() : good;
    SetInt32(&bytes, c.field, c.value);
    ExpectConversionFailsHarmlessly(dir_, AddModel(bytes), dir_ / "model.tag");
  }
  // One tag more than the end offset can count, with all its records in
  // the file (a sparse one).
  ASSERT_TRUE(
      WriteLargeModel(dir_ / "big.md3", TagFileHeader::kMaxTagCount + 1));
  ExpectConversionFailsHarmlessly(dir_, dir_ / "big.md3", dir_ / "big.tag");
}

}  // namespace
