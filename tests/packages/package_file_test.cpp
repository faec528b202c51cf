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
