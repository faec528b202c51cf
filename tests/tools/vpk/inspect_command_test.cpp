#include "tools/vpk/inspect_command.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/package_builder.h"
#include "tests/support/stream_bytes.h"

namespace {

// Runs InspectPackageFile on bytes and returns its output; *ok receives its result.
std::string Inspect(const std::string& bytes, bool* ok) {
  TemporaryDirectory dir;
  EXPECT_TRUE(WriteTestFile(dir / "case.vpk", bytes));
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  *ok = InspectPackageFile(dir / "case.vpk", out);
  std::fclose(out);
  std::string result(text, size);
  std::free(text);
  return result;
}

// Damage is said and makes the result false; hostile names never reach the terminal.
TEST(InspectCommandTest, ShowsFieldsEntriesAndDamageWithoutHostileText) {
  TestPackage ppp("ppp", "2.9.5");
  ppp.Depends("system>=2.9").Provides("net", 5).Conflicts("pppoe=2.9rc1").Conflicts("dhcp<3.0");
  ppp.Info().description = "Point\tto point";
  ppp.Device("/dev/ttyS0", false, 4, 64).Link("/bin/pppd", "ppp");
  ppp.File("/bin/ppp", "#!/bin/sh\n", 04755);
  std::string full = ppp.Bytes(TestPackage::kSigned);
  std::string plain = TestPackage("plain", "1.0").File("/f", "data").Bytes();
  FileRecord longData = {0100644, 0, 0, 0, false, 100, "/long"};
  FileRecord shortDevice = {0020644, 0, 0, 0, false, 3, "/dev/x"};
  struct Case {
    std::string bytes;
    bool ok;
    const char* line;
  } cases[] = {
      {full, true, "  build time        1700000000 (2023-11-14 22:13:20 UTC)\n"},
      // The note comes for a signed package too, before the later parts.
      {full, true, "  architecture      i386 (no architecture part)\n  description "},
      {full, true, "  description       Point\\x09to point\n"},
      {full, true, "  conflicts         pppoe = 2.9rc1\n  conflicts         dhcp < 3.0\n"},
      {full, true, "    crw-------     0/0           4,64 2023-11-14 22:13:20 /dev/ttyS0\n"},
      {full, true, "    -rwsr-xr-x     0/0             10 2023-11-14 22:13:20 /bin/ppp\n"},
      {full, true, " /bin/pppd -> ppp\n"},
      {full, true, "    3 entries, 17 bytes of data\n"},
      {full, true, "  signature         present, verifies\n"},
      {plain, true, "  signature         none; the digest is not in the known-digest table"},
      {plain.substr(0, plain.size() - 1), false, "the file ends inside the next part"},
      {ContainerBytes(PartBytes(1, "tiny")), false, "header part of 4 bytes is too short"},
      {ContainerBytes(PartBytes(1, std::string(32, 'n')) + PartBytes(3, std::string("\5\0", 2))),
       false, "part too short for its count of 5 records"},
      {TestPackage("p", "1.0").Entry(longData, "only a few bytes").Bytes(), false,
       "the archive ends inside this entry's data"},
      {TestPackage("p", "1.0").Entry(shortDevice, "abc").Bytes(), false,
       "a device entry needs 4 bytes"},
      {TestPackage("p", "1.0").File("/\x1b[2J", "").Bytes(), true, "/\\x1b[2J\n"},
      {"plain text, no package", false, ""},
  };
  for (const Case& c : cases) {
    bool ok = !c.ok;
    std::string output = Inspect(c.bytes, &ok);
    EXPECT_NE(output.find(c.line), std::string::npos) << c.line << "\n" << output;
    EXPECT_EQ(output.empty(), *c.line == '\0') << output;
    EXPECT_EQ(output.find('\x1b'), std::string::npos) << output;
    EXPECT_EQ(ok, c.ok) << c.line;
  }
}

}  // namespace
