#include "packages/package_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "streams/byte_order.h"
#include "tests/support/package_builder.h"
#include "tests/support/stream_bytes.h"

// A header part of that type: name, version, build time, 8 unread bytes, then flags.
static std::string Header(const std::string& name, std::uint32_t version, int type = PartHeader,
                          const std::string& flags = "") {
  std::string header;
  AppendPadded(header, name, 16);
  AppendLittleEndian(header, version, 4);
  AppendLittleEndian(header, 1700000000, 4);
  header.append(8, '\0');
  return PartBytes(type, header + flags);
}

// A part header alone, claiming length bytes of content.
static std::string TextPartHeader(int type, std::uint32_t length) {
  std::string header;
  AppendLittleEndian(header, type, 2);
  AppendLittleEndian(header, length, 4);
  return header;
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
  EXPECT_EQ(p.provides[0].maxVersion, MakeVersion(3, 0, 'f', 0) - 1);
  EXPECT_EQ(p.provides[0].priority, -1);
  EXPECT_EQ(p.conflicts[0].name, "oldppp");
}

// From a pipe the header reads without waiting for a flags word yet to come; the next part follows.
TEST(OpenPackageFileTest, HeaderReadDoesNotWaitForTheFlagsWord) {
  PipeBuf pipe(ContainerBytes(Header("ppp", 1, PartHeader, std::string("\3\0\0\0", 4)) +
                              PartBytes(PartDescription, "d")),
               8 + 6 + 32);
  std::istream source(&pipe);
  PartReader reader(source, Hashing::kOff);
  reader.AcceptPartType(PartHeader);
  reader.AcceptPartType(PartDescription);
  ASSERT_EQ(reader.NextPart(), PartHeader);
  PackageInfo info;
  ASSERT_TRUE(ReadPackageHeader(info, reader));
  EXPECT_EQ(info.flags, 0u);
  EXPECT_EQ(info.description, "d");
}

// Short parts, names that cannot be a package's, and files that do not hold exactly one whole
// package or a bundle with members are refused.
TEST(OpenPackageFileTest, RefusesFilesThatDoNotHoldAWholePackage) {
  TemporaryDirectory directory;
  const std::string package = TestPackage("ppp", "1.0").File("/x", "x").Bytes();
  const std::string cases[] = {
      ContainerBytes(PartBytes(PartHeader, Header("ppp", 1).substr(6, 31))),
      ContainerBytes(PartBytes(PartDescription, "text")),
      ContainerBytes(Header("ppp", 1) +
                     PartBytes(PartDependencies, std::string("\2\0", 2) + std::string(58, 'a'))),
      ContainerBytes(Header("ppp", 1) + PartBytes(PartProvides, "\x01")),
      ContainerBytes(Header("", 1)),
      ContainerBytes(Header("..", 1)),
      ContainerBytes(Header("../../etc", 1)),
      ContainerBytes(Header("a/b", 1, PartBundleHeader)),
      package + "x",
      package.substr(0, package.size() - 1),
      ContainerBytes(Header("suite", 5, PartBundleHeader) + PartBytes(PartFiles, "a")),
      ContainerBytes(Header("suite", 5, PartBundleHeader) + Header("ppp", 1) + Header("..", 1)),
      "not a package file",
      // 52 bytes whose architecture part claims 4 GiB: it was allocated before a byte was read.
      ContainerBytes(Header("ppp", 1) + TextPartHeader(PartArchitecture, UINT32_MAX)),
      ContainerBytes(Header("ppp", 1) + TextPartHeader(PartDescription, kLargestTextPart + 1) +
                     std::string(kLargestTextPart + 1, 'd')),
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    ASSERT_TRUE(WriteTestFile(directory / "p.vpk", cases[i]));
    SelectablePackage p;
    EXPECT_FALSE(OpenPackageFile(p, directory / "p.vpk")) << i;
  }
  SelectablePackage missing;
  EXPECT_FALSE(OpenPackageFile(missing, directory / "missing.vpk"));
}
