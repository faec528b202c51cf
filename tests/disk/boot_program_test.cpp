#include "disk/boot_program.h"

#include <string>

#include "gtest/gtest.h"
#include "tests/support/sandbox_root.h"

namespace {

// Disk signature, partition table and boot signature, which must stay as they are.
const std::string kTable(72, 'T');

struct Written {
  bool result;
  std::string disk;
  std::string output;
};

Written Install(const std::string* disk, const std::string* program) {
  SandboxRoot root;
  if (disk != nullptr) {
    root.Write("/disk", *disk);
  }
  if (program != nullptr) {
    root.Write("/mbr.bin", *program);
  }
  testing::internal::CaptureStdout();
  bool result =
      InstallBootProgram(root.HostPath("/disk").c_str(), root.HostPath("/mbr.bin").c_str());
  std::string output = testing::internal::GetCapturedStdout();
  return {result, disk != nullptr ? root.Read("/disk") : "", output};
}

TEST(InstallBootProgram, WritesOnlyIntoABlankBootProgramArea) {
  const std::string blank(440, '\0');
  std::string used = blank;
  used[439] = 1;  // the last byte of the code area alone marks a boot program
  const std::string code400(400, 'B');
  const std::string long600(600, 'L');
  const struct {
    const char* name;
    std::string disk;
    const std::string* program;
    std::string expected;
  } cases[] = {
      {"blank disk", blank + kTable, &code400, code400 + std::string(40, '\0') + kTable},
      {"disk with a boot program", used + kTable, &code400, used + kTable},
      {"program longer than the area", blank + kTable, &long600, long600.substr(0, 440) + kTable},
      {"no program on the medium", blank + kTable, nullptr, blank + kTable},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Written written = Install(&c.disk, c.program);
    EXPECT_TRUE(written.result);
    EXPECT_EQ(written.disk, c.expected);
    EXPECT_EQ(written.output, "");
  }
}

TEST(InstallBootProgram, DiskThatCannotBeReadIsReported) {
  const std::string code(400, 'B');
  const std::string shortDisk(100, '\0');
  for (const std::string* disk : {static_cast<const std::string*>(nullptr), &shortDisk}) {
    Written written = Install(disk, &code);
    EXPECT_FALSE(written.result);
    EXPECT_EQ(written.output, "WARNING: couldn't write boot program\n");
  }
}

}  // namespace
