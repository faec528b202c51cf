#include "streams/part_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "streams/part_reader.h"
#include "tests/support/stream_bytes.h"

namespace {

using Parts = std::vector<std::pair<int, std::string>>;

class PartWriterTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/part_writer_test.XXXXXX";
    int descriptor = mkstemp(pattern);
    ASSERT_GE(descriptor, 0);
    close(descriptor);
    path = pattern;
  }
  void TearDown() override { unlink(path.c_str()); }

  std::string FileBytes() {
    std::ifstream file(path, std::ios_base::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }

  std::string path;
};

TEST_F(PartWriterTest, WritesByteExactContainersOnCloseOrDestruction) {
  struct Case {
    bool unrecorded;
    bool close;
    Parts parts;
  } cases[] = {
      {false, true, {}},
      {true, false, {{PartHeader, "header"}}},
      {false, true, {{PartHeader, "h"}, {PartFiles, ""}, {PartSignature, std::string(68, 's')}}},
      {false, false, {{PartDescription, "text"}, {PartImage, "image"}}},
  };
  for (const Case& c : cases) {
    std::string expected;
    {
      PartWriter writer(path, c.unrecorded);
      for (const auto& [type, content] : c.parts) {
        writer.BeginPart(type);
        writer << content;
        writer.EndPart();
        expected += PartBytes(type, content);
      }
      EXPECT_TRUE(!c.close || writer.Close());
    }
    EXPECT_EQ(FileBytes(),
              ContainerBytes(expected, c.unrecorded ? kUnrecordedMagic : kContainerMagic));
  }
}

TEST_F(PartWriterTest, RewoundPartIsWrittenAgainWithoutStaleBytes) {
  PartWriter writer(path, false);
  writer.BeginPart(PartHeader);
  writer << "head";
  writer.EndPart();
  writer.BeginPart(PartFiles);
  writer << "a long first attempt";
  writer.EndPart();
  writer.RewindPart();
  writer.BeginPart(PartFiles);
  writer << "short";
  writer.EndPart();
  EXPECT_TRUE(writer.Close());
  EXPECT_EQ(FileBytes(),
            ContainerBytes(PartBytes(PartHeader, "head") + PartBytes(PartFiles, "short")));
}

TEST_F(PartWriterTest, RefusesAPartTooLongForItsLengthField) {
  PartWriter writer(path, false);
  writer.BeginPart(PartImage);
  writer.seekp(std::streamoff{1} << 32, std::ios_base::cur);
  writer.EndPart();
  EXPECT_TRUE(writer.fail());
  EXPECT_FALSE(writer.Close());
}

TEST_F(PartWriterTest, RandomPartSequencesReadBackThroughThePartReader) {
  std::mt19937 random(5);
  const int types[] = {PartHeader, PartDescription, PartFiles, PartSignature, PartImage};
  for (int round = 0; round < 20; ++round) {
    Parts parts;
    for (int count = random() % 6; count > 0; --count) {
      std::size_t size = random() % 4 == 0 ? random() % 20000 : random() % 50;
      parts.emplace_back(types[random() % 5], RandomBytes(random, size));
    }
    {
      PartWriter writer(path, round % 2 == 1);
      for (const auto& [type, content] : parts) {
        writer.BeginPart(type);
        writer.write(content.data(), content.size());
        writer.EndPart();
      }
      ASSERT_TRUE(writer.Close());
    }
    std::ifstream file(path, std::ios_base::binary);
    PartReader reader(file, true);
    for (int type : types) {
      reader.AcceptPartType(type);
    }
    EXPECT_EQ(reader.IsUnrecorded(), round % 2 == 1);
    EXPECT_EQ(reader.TotalSize(), FileBytes().size());
    Parts read;
    while (reader.NextPart() >= 0) {
      std::string content(reader.PartLength(), '\0');
      reader.read(content.data(), content.size());
      read.emplace_back(reader.CurrentType(), content);
    }
    EXPECT_EQ(read, parts) << "round " << round;
  }
}

}  // namespace
