#include "tools/vpk/bundle_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "streams/package_format.h"
#include "tests/support/package_builder.h"
#include "tests/support/stream_bytes.h"
#include "tools/vpk/package_writer.h"
#include "tools/vpk/package_writer_internal.h"

namespace {

class BundleWriterTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TestPackage("ppp", "2.9.5").Write(dir / "ppp.vpk", TestPackage::kSigned));
    ASSERT_TRUE(TestPackage("dhcp", "3.0rc1").File("/dhcp", "d").Write(dir / "dhcp.vpk"));
    ASSERT_TRUE(TestPackage("quiet", "1.0").Unrecorded().Write(dir / "quiet.vpk"));
    bundle.version = 0x02096600;
    bundle.buildTime = 0x11223344;
    bundle.description = "Base set";
  }

  TemporaryDirectory dir;
  PackageInfo bundle{"base"};
};

// The bundle's own parts, then each member's bytes after its container header, as they are.
TEST_F(BundleWriterTest, BundleHoldsItsHeaderPartsThenTheMemberBytesAsTheyAre) {
  ASSERT_TRUE(WriteTestFile(dir / "image", "IMAGE"));
  BundleContents contents;
  contents.memberFiles = {dir / "ppp.vpk", dir / "dhcp.vpk"};
  contents.disabledMembers = {"dhcp"};
  contents.image = dir / "image";
  ASSERT_TRUE(WriteBundleFile(dir / "base.bpk", bundle, contents));
  std::string header = std::string("base", 4) + std::string(12, '\0') +
                       std::string("\x00\x66\x09\x02", 4) + "\x44\x33\x22\x11" +
                       std::string(8, '\0');
  std::string members = std::string("\x01\x00", 2) + DependencyRecord(Dependency{"dhcp"});
  std::string expected = PartBytes(18, header) + PartBytes(2, "Base set") + PartBytes(21, "IMAGE") +
                         PartBytes(20, members) + ReadWholeTestFile(dir / "ppp.vpk").substr(8) +
                         ReadWholeTestFile(dir / "dhcp.vpk").substr(8);
  EXPECT_TRUE(SameBytes(ContainerBytes(expected), ReadWholeTestFile(dir / "base.bpk")));
}

TEST_F(BundleWriterTest, RefusesWhatIsNotABundleAndWritesNothing) {
  ASSERT_TRUE(WriteTestBundle(dir / "nested.bpk", "nested", "1.0", {dir / "ppp.vpk"}));
  std::string ppp = ReadWholeTestFile(dir / "ppp.vpk");
  ASSERT_TRUE(WriteTestFile(dir / "cut.vpk", ppp.substr(0, ppp.size() - 3)));
  struct Case {
    const char* what;
    std::vector<std::string> members, disabled;
  } cases[] = {
      {"no members", {}, {}},
      {"a bundle as a member", {"ppp.vpk", "nested.bpk"}, {}},
      {"a member cut short", {"cut.vpk"}, {}},
      {"two members of one name", {"ppp.vpk", "dhcp.vpk", "ppp.vpk"}, {}},
      {"a disabled name that is no member", {"ppp.vpk"}, {"dhcp"}},
      {"an unrecorded member", {"ppp.vpk", "quiet.vpk"}, {}},
  };
  for (const Case& c : cases) {
    BundleContents contents;
    for (const std::string& member : c.members) {
      contents.memberFiles.push_back(dir / member);
    }
    contents.disabledMembers = c.disabled;
    EXPECT_FALSE(WriteBundleFile(dir / "out.bpk", bundle, contents)) << c.what;
    EXPECT_NE(access((dir / "out.bpk").c_str(), F_OK), 0) << c.what;
  }
}

}  // namespace
