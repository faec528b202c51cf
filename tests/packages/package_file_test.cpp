#include "packages/package_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "tests/support/package_builder.h"
#include "tests/support/stream_bytes.h"

namespace {

std::string Little(std::uint32_t value, int size) {
  std::string bytes;
  for (int i = 0; i < size; ++i) {
    bytes.push_back(static_cast<char>(value >> (8 * i)));
  }
  return bytes;
}

std::string NameField(const std::string& name) {
  std::string field = name;
  field.resize(16, '\0');
  return field;
}

// The 32-byte header, with the flags word after it when withFlags is set.
std::string Header(const std::string& name, std::uint32_t version, bool withFlags = false,
                   std::uint32_t flags = 0) {
  std::string header =
      NameField(name) + Little(version, 4) + Little(1700000000, 4) + std::string(8, '\0');
  return withFlags ? header + Little(flags, 4) : header;
}

std::string Records(const std::vector<Dependency>& list) {
  std::string bytes = Little(list.size(), 2);
  for (const Dependency& d : list) {
    bytes += NameField(d.name) + Little(d.minVersion, 4) + Little(0, 4) + Little(d.maxVersion, 4) +
             Little(static_cast<std::uint32_t>(d.priority), 4);
  }
  return bytes;
}

const std::vector<int> kHeaderTimeParts = {PartHeader,      PartBundleHeader, PartArchitecture,
                                           PartDescription, PartDependencies, PartProvides,
                                           PartConflicts,   PartImage,        PartFiles};

// Reads the header of a container of parts from a string; the reader stands where it left off.
struct ReadResult {
  bool ok;
  int typeAfter;
};
ReadResult ReadHeaderOf(const std::string& parts, PackageInfo& info) {
  std::istringstream source(ContainerBytes(parts));
  PartReader reader(source, false);
  for (int type : kHeaderTimeParts) {
    reader.AcceptPartType(type);
  }
  reader.NextPart();
  bool ok = ReadPackageHeader(info, reader);
  return {ok, reader.CurrentType()};
}

// A fresh directory for package files.
class PackageFileTest : public testing::Test {
 protected:
  std::string WriteFile(const std::string& name, const std::string& bytes) {
    std::string path = directory / name;
    EXPECT_TRUE(WriteTestFile(path, bytes));
    return path;
  }

  TemporaryDirectory directory;
};

}  // namespace

TEST(ReadPackageHeaderTest, ReadsEveryMetadataPartInItsOrder) {
  Dependency system{"system", 0x02090000, 0, 0};
  Dependency net{"net", 0, 0x03000000, -1};
  Dependency old{"oldppp", 0, 0x02000000, 0};
  PackageInfo info;
  ReadResult result = ReadHeaderOf(
      PartBytes(PartHeader, Header("ppp", 0x0209'6605)) + PartBytes(PartArchitecture, "x86_64") +
          PartBytes(PartDescription, "point to point") +
          PartBytes(PartDependencies, Records({system})) + PartBytes(PartProvides, Records({net})) +
          PartBytes(PartConflicts, Records({old})) + PartBytes(PartImage, "img"),
      info);
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.typeAfter, PartImage);  // the image part is left for the caller
  EXPECT_EQ(info.name, "ppp");
  EXPECT_EQ(info.version, 0x0209'6605u);
  EXPECT_EQ(info.buildTime, 1700000000u);
  EXPECT_EQ(info.architecture, "x86_64");
  EXPECT_EQ(info.description, "point to point");
  EXPECT_TRUE(info.hasImage);
  EXPECT_FALSE(info.noFileList);
  ASSERT_EQ(info.dependencies.size(), 1u);
  EXPECT_EQ(info.dependencies[0].name, "system");
  EXPECT_EQ(info.dependencies[0].minVersion, 0x02090000u);
  ASSERT_EQ(info.provides.size(), 1u);
  EXPECT_EQ(info.provides[0].maxVersion, 0x03000000u);
  EXPECT_EQ(info.provides[0].priority, -1);
  ASSERT_EQ(info.conflicts.size(), 1u);
  EXPECT_EQ(info.conflicts[0].name, "oldppp");
}

// Each metadata part is optional; one out of order is not read and the reader stops on it.
TEST(ReadPackageHeaderTest, ReadsOptionalPartsOnlyInOrder) {
  std::string header = PartBytes(PartHeader, Header("ppp", 1));
  std::string deps = PartBytes(PartDependencies, Records({{"a", 0, 0, 0}}));
  std::string conflicts = PartBytes(PartConflicts, Records({{"c", 0, 0, 0}}));
  struct Case {
    const char* what;
    std::string parts;
    int typeAfter;
    std::size_t dependencies, conflicts;
    const char* description;
  } cases[] = {
      {"conflicts without provides", header + conflicts + PartBytes(PartFiles, ""), PartFiles, 0, 1,
       ""},
      {"description after dependencies", header + deps + PartBytes(PartDescription, "late"),
       PartDescription, 1, 0, ""},
      {"conflicts before dependencies", header + conflicts + deps, PartDependencies, 0, 1, ""},
      {"header alone", header, -1, 0, 0, ""},
  };
  for (const Case& c : cases) {
    PackageInfo info;
    ReadResult result = ReadHeaderOf(c.parts, info);
    EXPECT_TRUE(result.ok) << c.what;
    EXPECT_EQ(result.typeAfter, c.typeAfter) << c.what;
    EXPECT_EQ(info.dependencies.size(), c.dependencies) << c.what;
    EXPECT_EQ(info.conflicts.size(), c.conflicts) << c.what;
    EXPECT_EQ(info.description, c.description) << c.what;
    EXPECT_EQ(info.architecture, "i386") << c.what;
    EXPECT_FALSE(info.hasImage) << c.what;
  }
}

TEST(ReadPackageHeaderTest, RefusesShortPartsAndUnsafeNames) {
  std::string header = PartBytes(PartHeader, Header("ppp", 1));
  struct Case {
    const char* what;
    std::string parts;
  } cases[] = {
      {"header of 31 bytes", PartBytes(PartHeader, Header("ppp", 1).substr(0, 31))},
      {"no header part", PartBytes(PartDescription, "text")},
      {"dependency count beyond the records",
       header +
           PartBytes(PartDependencies, Records({{"a", 0, 0, 0}, {"b", 0, 0, 0}}).substr(0, 60))},
      {"dependency count cut", header + PartBytes(PartDependencies, "\x01")},
      {"conflict record cut",
       header + PartBytes(PartConflicts, Records({{"c", 0, 0, 0}}).substr(0, 33))},
      {"empty name", PartBytes(PartHeader, Header("", 1))},
      {"dot", PartBytes(PartHeader, Header(".", 1))},
      {"dot dot", PartBytes(PartHeader, Header("..", 1))},
      {"slash", PartBytes(PartHeader, Header("../../etc", 1))},
      {"slash in bundle", PartBytes(PartBundleHeader, Header("a/b", 1))},
  };
  for (const Case& c : cases) {
    PackageInfo info;
    EXPECT_FALSE(ReadHeaderOf(c.parts, info).ok) << c.what;
  }
  PackageInfo full;
  ASSERT_TRUE(ReadHeaderOf(PartBytes(PartHeader, Header("abcdefghijklmnop", 1)), full).ok);
  EXPECT_EQ(full.name, "abcdefghijklmnop");  // a name may fill its field without a NUL
}

// The flags word is taken only when the whole of it is already there.
TEST(ReadPackageHeaderTest, TakesFlagsFromA36ByteHeader) {
  struct Case {
    std::string content;
    std::uint32_t flags;
  } cases[] = {
      {Header("ppp", 1), 0},
      {Header("ppp", 1, true, 3), 3},
      {Header("ppp", 1, true, 3).substr(0, 34), 0},
  };
  for (const Case& c : cases) {
    PackageInfo info;
    ReadResult result =
        ReadHeaderOf(PartBytes(PartHeader, c.content) + PartBytes(PartFiles, "z"), info);
    ASSERT_TRUE(result.ok) << c.content.size();
    EXPECT_EQ(info.flags, c.flags) << c.content.size();
    EXPECT_EQ(result.typeAfter, PartFiles) << c.content.size();
  }
}

// From a pipe whose flags word has not arrived yet the header reads as 32 bytes, and the reader
// still finds the next part.
TEST(ReadPackageHeaderTest, DoesNotWaitForTheFlagsWord) {
  std::string bytes = ContainerBytes(PartBytes(PartHeader, Header("ppp", 1, true, 3)) +
                                     PartBytes(PartDescription, "d"));
  PipeBuf pipe(bytes, 8 + 6 + 32);
  std::istream source(&pipe);
  PartReader reader(source, false);
  reader.AcceptPartType(PartHeader);
  reader.AcceptPartType(PartDescription);
  ASSERT_EQ(reader.NextPart(), PartHeader);
  PackageInfo info;
  ASSERT_TRUE(ReadPackageHeader(info, reader));
  EXPECT_EQ(info.flags, 0u);
  EXPECT_EQ(info.description, "d");
}

TEST_F(PackageFileTest, OpensAPackageFileAndItsSize) {
  TestPackage ppp("ppp", "2.9.5");
  ppp.Flags(1).Depends("system>=2.9").File("/bin/pppd", "binary");
  ppp.Info().description = "point to point";
  std::string path = directory / "ppp.vpk";
  ASSERT_TRUE(ppp.Write(path));
  SelectablePackage p;
  ASSERT_TRUE(OpenPackageFile(p, path));
  EXPECT_EQ(p.path, path);
  EXPECT_EQ(p.sourcePath, path);
  EXPECT_EQ(p.fileSize, std::filesystem::file_size(path));
  EXPECT_EQ(p.name, "ppp");
  EXPECT_EQ(p.version, MakeVersion(2, 9, 'f', 5));
  EXPECT_EQ(p.flags, 1u);  // read from a file, the flags word is there at once
  EXPECT_EQ(p.description, "point to point");
  ASSERT_EQ(p.dependencies.size(), 1u);
  EXPECT_EQ(p.dependencies[0].name, "system");
  EXPECT_TRUE(p.members.empty());
}

TEST_F(PackageFileTest, OpensABundleWithItsMembers) {
  std::string ppp = directory / "ppp.vpk";
  std::string dhcp = directory / "dhcp.vpk";
  ASSERT_TRUE(TestPackage("ppp", "2.9").Depends("system").Image("image").Write(ppp));
  ASSERT_TRUE(TestPackage("dhcp", "3.0").File("/sbin/dhcpd", "d").Write(dhcp));
  std::string bundle = directory / "suite.bpk";
  ASSERT_TRUE(WriteTestBundle(bundle, "suite", "1.0", {ppp, dhcp}, {"dhcp"}));
  SelectablePackage p;
  ASSERT_TRUE(OpenPackageFile(p, bundle));
  EXPECT_TRUE(p.noFileList);
  EXPECT_EQ(p.name, "suite");
  ASSERT_EQ(p.members.size(), 2u);
  EXPECT_EQ(p.members[0]->name, "ppp");
  EXPECT_TRUE(p.members[0]->hasImage);
  ASSERT_EQ(p.members[0]->dependencies.size(), 1u);
  EXPECT_EQ(p.members[1]->name, "dhcp");
  EXPECT_EQ(p.members[1]->version, MakeVersion(3, 0, 'f', 0));
}

// Image parts may stand after the bundle header and after each member.
TEST_F(PackageFileTest, PassesOverImagePartsBetweenMembers) {
  std::string parts = PartBytes(PartBundleHeader, Header("suite", 5)) + PartBytes(PartImage, "i") +
                      PartBytes(PartHeader, Header("ppp", 1)) + PartBytes(PartImage, "j") +
                      PartBytes(PartFiles, "a") + PartBytes(PartHeader, Header("dhcp", 2)) +
                      PartBytes(PartFiles, "b");
  SelectablePackage p;
  ASSERT_TRUE(OpenPackageFile(p, WriteFile("suite.bpk", ContainerBytes(parts))));
  ASSERT_EQ(p.members.size(), 2u);
  EXPECT_EQ(p.members[0]->name, "ppp");
  EXPECT_TRUE(p.members[0]->hasImage);
  EXPECT_EQ(p.members[1]->name, "dhcp");
}

TEST_F(PackageFileTest, RefusesFilesThatDoNotHoldAWholePackage) {
  std::string package = TestPackage("ppp", "1.0").File("/x", "x").Bytes();
  std::string bundle = PartBytes(PartBundleHeader, Header("suite", 5));
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"padded", package + "x"},
      {"truncated", package.substr(0, package.size() - 1)},
      {"bundle without members", ContainerBytes(bundle + PartBytes(PartFiles, "a"))},
      {"bundle with a broken member",
       ContainerBytes(bundle + PartBytes(PartHeader, Header("ppp", 1)) +
                      PartBytes(PartHeader, Header("..", 1)))},
      {"no container", "not a package file"},
  };
  for (const Case& c : cases) {
    SelectablePackage p;
    EXPECT_FALSE(OpenPackageFile(p, WriteFile("p.vpk", c.bytes))) << c.what;
  }
  SelectablePackage missing;
  EXPECT_FALSE(OpenPackageFile(missing, directory / "missing.vpk"));
}
