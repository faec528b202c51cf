#include "packages/package_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "tests/support/package_builder.h"
#include "tests/support/stream_bytes.h"
#include "tools/vpk/little_endian.h"

namespace {

// The header part's content: name, version, build time and 8 unread bytes, then the flags word
// when withFlags.
std::string Header(const std::string& name, std::uint32_t version, bool withFlags = false,
                   std::uint32_t flags = 0) {
  std::string header;
  AppendPadded(header, name, 16);
  AppendLittleEndian(header, version, 4);
  AppendLittleEndian(header, 1700000000, 4);
  header.append(8, '\0');
  AppendLittleEndian(header, flags, withFlags ? 4 : 0);
  return header;
}

// A dependency-record part's content with records of the names (no bounds).
std::string Records(const std::vector<const char*>& names) {
  std::string bytes;
  AppendLittleEndian(bytes, names.size(), 2);
  for (const char* name : names) {
    AppendPadded(bytes, name, 16);
    bytes.append(16, '\0');
  }
  return bytes;
}

}  // namespace

// The flags word is taken only when the whole of it is already there: from a pipe whose flags
// word has not arrived yet the header reads as 32 bytes, and the reader still finds the next part.
TEST(ReadPackageHeaderTest, TakesFlagsOnlyWhenTheyAreThere) {
  struct Case {
    std::string content;
    std::size_t chunk;  // bytes a read of the source gives at most
    std::uint32_t flags;
  } cases[] = {
      {Header("ppp", 1), 4096, 0},
      {Header("ppp", 1, true, 3), 4096, 3},
      {Header("ppp", 1, true, 3).substr(0, 34), 4096, 0},
      {Header("ppp", 1, true, 3), 8 + 6 + 32, 0},
  };
  for (const Case& c : cases) {
    PipeBuf pipe(ContainerBytes(PartBytes(PartHeader, c.content) + PartBytes(PartDescription, "d")),
                 c.chunk);
    std::istream source(&pipe);
    PartReader reader(source, false);
    reader.AcceptPartType(PartHeader);
    reader.AcceptPartType(PartDescription);
    ASSERT_EQ(reader.NextPart(), PartHeader);
    PackageInfo info;
    ASSERT_TRUE(ReadPackageHeader(info, reader)) << c.content.size();
    EXPECT_EQ(info.flags, c.flags) << c.content.size() << " " << c.chunk;
    EXPECT_EQ(info.description, "d") << c.content.size() << " " << c.chunk;
  }
}

// A package file as the package tool writes it: every header part is read, and nothing else.
TEST(OpenPackageFileTest, ReadsEveryHeaderPartAndTheSize) {
  TemporaryDirectory directory;
  TestPackage ppp("ppp", "2.9.5");
  ppp.Flags(1).Depends("system>=2.9").Provides("net<3.0", -1).Conflicts("oldppp").Image("image");
  ppp.Info().architecture = "x86_64";
  ppp.Info().description = "point to point";
  ASSERT_TRUE(ppp.File("/bin/pppd", "binary").Write(directory / "ppp.vpk"));
  SelectablePackage p;
  ASSERT_TRUE(OpenPackageFile(p, directory / "ppp.vpk"));
  EXPECT_EQ(p.path + " " + p.sourcePath, directory / "ppp.vpk " + directory / "ppp.vpk");
  EXPECT_EQ(p.fileSize, std::filesystem::file_size(directory / "ppp.vpk"));
  EXPECT_EQ(DisplayName(p) + " " + p.architecture + " " + p.description + " " +
                std::to_string(p.buildTime),
            "ppp-2.9.5 x86_64 point to point 1700000000");
  EXPECT_EQ(p.flags, 1u);  // read from a file, the flags word is there at once
  EXPECT_TRUE(p.hasImage && !p.noFileList && p.members.empty());
  ASSERT_EQ(p.dependencies.size() + p.provides.size() + p.conflicts.size(), 3u);
  EXPECT_EQ(p.dependencies[0].name + " " + VersionText(p.dependencies[0].minVersion), "system 2.9");
  EXPECT_EQ(p.provides[0].maxVersion + p.provides[0].priority, MakeVersion(3, 0, 'f', 0) - 2);
  EXPECT_EQ(p.conflicts[0].name, "oldppp");
}

// Image parts may stand after the bundle header and after each member; the members list is not
// read here.
TEST(OpenPackageFileTest, ReadsTheMembersOfABundle) {
  TemporaryDirectory directory;
  std::string parts =
      PartBytes(PartBundleHeader, Header("suite", 5)) + PartBytes(PartImage, "i") +
      PartBytes(PartBundleMembers, Records({"dhcp"})) + PartBytes(PartHeader, Header("ppp", 1)) +
      PartBytes(PartDependencies, Records({"system"})) + PartBytes(PartImage, "j") +
      PartBytes(PartFiles, "a") + PartBytes(PartHeader, Header("abcdefghijklmnop", 2)) +
      PartBytes(PartFiles, "b");
  ASSERT_TRUE(WriteTestFile(directory / "suite.bpk", ContainerBytes(parts)));
  SelectablePackage p;
  ASSERT_TRUE(OpenPackageFile(p, directory / "suite.bpk"));
  EXPECT_EQ(p.name + " " + p.architecture, "suite i386");  // the default without an architecture
  EXPECT_TRUE(p.noFileList);
  ASSERT_EQ(p.members.size(), 2u);
  EXPECT_EQ(p.members[0]->name, "ppp");
  EXPECT_TRUE(p.members[0]->hasImage);
  EXPECT_EQ(p.members[0]->dependencies.size(), 1u);
  EXPECT_EQ(p.members[1]->name, "abcdefghijklmnop");  // a name may fill its field
  EXPECT_EQ(p.members[1]->version, 2u);
}

// Short parts, names that cannot be a package's, and files that do not hold exactly one whole
// package or a bundle with members are refused.
TEST(OpenPackageFileTest, RefusesFilesThatDoNotHoldAWholePackage) {
  TemporaryDirectory directory;
  const std::string package = TestPackage("ppp", "1.0").File("/x", "x").Bytes();
  const std::string header = PartBytes(PartHeader, Header("ppp", 1));
  const std::string bundle = PartBytes(PartBundleHeader, Header("suite", 5));
  const std::string cases[] = {
      ContainerBytes(PartBytes(PartHeader, Header("ppp", 1).substr(0, 31))),
      ContainerBytes(PartBytes(PartDescription, "text")),
      ContainerBytes(header + PartBytes(PartDependencies, Records({"a", "b"}).substr(0, 60))),
      ContainerBytes(header + PartBytes(PartProvides, "\x01")),
      ContainerBytes(PartBytes(PartHeader, Header("", 1))),
      ContainerBytes(PartBytes(PartHeader, Header("..", 1))),
      ContainerBytes(PartBytes(PartHeader, Header("../../etc", 1))),
      ContainerBytes(PartBytes(PartBundleHeader, Header("a/b", 1))),
      package + "x",
      package.substr(0, package.size() - 1),
      ContainerBytes(bundle + PartBytes(PartFiles, "a")),
      ContainerBytes(bundle + header + PartBytes(PartHeader, Header("..", 1))),
      "not a package file",
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    ASSERT_TRUE(WriteTestFile(directory / "p.vpk", cases[i]));
    SelectablePackage p;
    EXPECT_FALSE(OpenPackageFile(p, directory / "p.vpk")) << i;
  }
  SelectablePackage missing;
  EXPECT_FALSE(OpenPackageFile(missing, directory / "missing.vpk"));
}
