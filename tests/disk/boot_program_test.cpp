#include "disk/boot_program.h"

#include <string>

#include "gtest/gtest.h"
#include "tests/support/sandbox_root.h"

namespace {

// Disk signature, partition table and boot signature, which must stay as they are.
const std::string kTable(72, 'T');

// A disk that cannot be read through the area is reported and left alone.
TEST(InstallBootProgram, WritesOnlyIntoABlankBootProgramArea) {
  const std::string blank = std::string(440, '\0') + kTable, shortDisk(100, '\0');
  std::string used = blank;
  used[439] = 1;  // the last byte of the code area alone marks a boot program
  const std::string code400(400, 'B');
  const std::string long600(600, 'L');
  const std::string warning = "WARNING: couldn't write boot program\n";
  const struct {
    const char* name;
    const std::string* disk;  // null: no disk at all
    const std::string* program;
    std::string expected;  // the disk afterwards
    std::string output;
  } cases[] = {
      {"blank disk", &blank, &code400, code400 + std::string(40, '\0') + kTable, ""},
      {"disk with a boot program", &used, &code400, used, ""},
      {"program longer than the area", &blank, &long600, long600.substr(0, 440) + kTable, ""},
      {"no program on the medium", &blank, nullptr, blank, ""},
      {"no disk", nullptr, &code400, "", warning},
      {"disk shorter than the area", &shortDisk, &code400, shortDisk, warning},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SandboxRoot root;
    if (c.disk != nullptr) {
      root.Write("/disk", *c.disk);
    }
    if (c.program != nullptr) {
      root.Write("/mbr.bin", *c.program);
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(InstallBootProgram(root.HostPath("/disk").c_str(), root.HostPath("/mbr.bin").c_str()),
              c.output.empty());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.output);
    EXPECT_EQ(c.disk != nullptr ? root.Read("/disk") : "", c.expected);
  }
}

}  // namespace
