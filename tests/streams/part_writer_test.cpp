#include "streams/part_writer.h"

#include <gtest/gtest.h>

#include <utility>

#include "tests/support/package_builder.h"
#include "tests/support/stream_bytes.h"

namespace {

// Each case ends with Close or the destructor. A part rewound and written again shorter leaves
// none of its first attempt behind.
TEST(PartWriterTest, WritesByteExactContainers) {
  TemporaryDirectory dir;
  struct Case {
    bool unrecorded, close;
    std::vector<std::pair<int, std::string>> parts;
    std::string rewound;  // a part written first, then rewound
  } cases[] = {
      {false, true, {}, ""},
      {true, false, {{PartHeader, "header"}}, ""},
      {false, true, {{PartHeader, "h"}, {PartFiles, ""}, {PartSignature, "signature"}}, ""},
      {false, true, {{PartHeader, "short"}}, "a long first attempt"},
  };
  for (const Case& c : cases) {
    std::string expected;
    {
      PartWriter writer(dir / "out", c.unrecorded);
      if (!c.rewound.empty()) {
        writer.BeginPart(PartFiles);
        writer << c.rewound;
        writer.EndPart();
        writer.RewindPart();
      }
      for (const auto& [type, content] : c.parts) {
        writer.BeginPart(type);
        writer << content;
        writer.EndPart();
        expected += PartBytes(type, content);
      }
      EXPECT_TRUE(!c.close || writer.Close());
    }
    EXPECT_TRUE(
        SameBytes(ContainerBytes(expected, c.unrecorded ? kUnrecordedMagic : kContainerMagic),
                  ReadWholeTestFile(dir / "out")));
  }
}

TEST(PartWriterTest, RefusesAPartTooLongForItsLengthField) {
  TemporaryDirectory dir;
  PartWriter writer(dir / "out", false);
  writer.BeginPart(PartImage);
  writer.seekp(std::streamoff{1} << 32, std::ios_base::cur);
  writer.EndPart();
  EXPECT_TRUE(writer.fail());
  EXPECT_FALSE(writer.Close());
}

}  // namespace
