#include "tools/vpk/inspect_command.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "tests/support/package_builder.h"
#include "tests/support/stream_bytes.h"

namespace {

// Runs InspectPackageFile and returns its output; *ok receives its result.
std::string Inspect(const std::string& path, bool* ok) {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  *ok = InspectPackageFile(path, out);
  std::fclose(out);
  std::string result(text, size);
  std::free(text);
  return result;
}

testing::AssertionResult Shows(const std::string& output, const std::string& line) {
  if (output.find(line) != std::string::npos) {
    return testing::AssertionSuccess();
  }
  return testing::AssertionFailure() << "no '" << line << "' in:\n" << output;
}

TEST(InspectCommandTest, ShowsEveryFieldEntryAndTheSignature) {
  TemporaryDirectory dir;
  TestPackage ppp("ppp", "2.9.5");
  ppp.Depends("system>=2.9").Depends("dhcp<3.0").Provides("net", 5).Conflicts("pppoe=2.9rc1");
  ppp.Flags(1).Image("IMG").InstallScript("echo on\n");
  ppp.Info().description = "Point\tto point";
  ppp.Directory("/dev").Device("/dev/ttyS0", false, 4, 64).Device("/dev/sda", true, 8, 0);
  ppp.Fifo("/dev/pipe").Link("/bin/pppd", "ppp").File("/bin/ppp", "#!/bin/sh\n", 04755);
  ASSERT_TRUE(ppp.Write(dir / "ppp.vpk", TestPackage::kSigned));
  bool ok = false;
  std::string output = Inspect(dir / "ppp.vpk", &ok);
  EXPECT_TRUE(ok);
  for (const char* line : {
           "recorded container (magic 0xbad0f11e)",
           "offset          8  type     1 header                     36 bytes",
           "type     9 signature                  68 bytes",
           "  name              ppp\n",
           "  version           2.9.5\n",
           "  build time        1700000000 (2023-11-14 22:13:20 UTC)\n",
           "  flags             0x00000001 boot-image\n",
           "  description       Point\\x09to point\n",
           "  depends           system >= 2.9\n",
           "  depends           dhcp < 3.0\n",
           "  provides          net (priority 5)\n",
           "  conflicts         pppoe = 2.9rc1\n",
           "  image             3 bytes\n",
           "  install script    8 bytes\n",
           "    drwxr-xr-x     0/0              0 2023-11-14 22:13:20 /dev\n",
           "    crw-------     0/0           4,64 2023-11-14 22:13:20 /dev/ttyS0\n",
           "    brw-------     0/0            8,0 2023-11-14 22:13:20 /dev/sda\n",
           "    prw-r--r--     0/0              0 2023-11-14 22:13:20 /dev/pipe\n",
           " /bin/pppd -> ppp\n",
           "    -rwsr-xr-x     0/0             10 2023-11-14 22:13:20 /bin/ppp\n",
           "    6 entries, 21 bytes of data\n",
           "  architecture      i386 (no architecture part)\n",
           "  signature         present, verifies\n",
       }) {
    EXPECT_TRUE(Shows(output, line));
  }
}

TEST(InspectCommandTest, ReportsDamageAndKeepsHostileTextOffTheTerminal) {
  TemporaryDirectory dir;
  FileRecord longData;
  longData.mode = 0100644;
  longData.name = "/long";
  longData.dataSize = 100;
  FileRecord shortDevice;
  shortDevice.mode = 0020644;
  shortDevice.name = "/dev/x";
  shortDevice.dataSize = 3;
  std::string plain = TestPackage("plain", "1.0").File("/f", "data").Bytes();
  struct Case {
    const char* what;
    std::string bytes;
    const char* line;
  } cases[] = {
      {"a cut file", plain.substr(0, plain.size() - 1), "the file ends inside the next part"},
      {"a short header", ContainerBytes(PartBytes(1, "tiny")),
       "header part of 4 bytes is too short"},
      {"a short list",
       ContainerBytes(PartBytes(1, std::string(32, 'n')) +
                      PartBytes(3, std::string("\x05\x00", 2))),
       "part too short for its count of 5 records"},
      {"data past the archive's end",
       TestPackage("p", "1.0").Entry(longData, "only a few bytes").Bytes(),
       "the archive ends inside this entry's data"},
      {"a device of 3 bytes", TestPackage("p", "1.0").Entry(shortDevice, "abc").Bytes(),
       "a device entry needs 4 bytes"},
      {"an unsigned package", TestPackage("p", "1.0").Bytes(),
       "signature         none; the digest is not in the known-digest table"},
      {"an escape sequence in a name", TestPackage("p", "1.0").File("/\x1b[2J", "").Bytes(),
       "/\\x1b[2J\n"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(WriteTestFile(dir / "case.vpk", c.bytes));
    bool ok = true;
    std::string output = Inspect(dir / "case.vpk", &ok);
    EXPECT_TRUE(Shows(output, c.line)) << c.what;
    EXPECT_EQ(ok, std::string(c.what).find("an ") == 0) << c.what;
  }
  ASSERT_TRUE(WriteTestFile(dir / "text", "plain text, no package"));
  bool ok = true;
  EXPECT_EQ(Inspect(dir / "text", &ok), "");
  EXPECT_FALSE(ok);
}

}  // namespace
