#include "tools/vpk/package_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "streams/part_reader.h"
#include "tests/support/package_builder.h"
#include "tests/support/stream_bytes.h"
#include "tools/vpk/package_writer_internal.h"

namespace {

struct TestPart {
  int type;
  std::string content;
};

// Every part of the package file at path, in order.
std::vector<TestPart> ReadTestParts(const std::string& path) {
  std::ifstream file(path, std::ios_base::binary);
  PartReader reader(file, Hashing::kOff);
  for (int type : {1, 2, 3, 4, 7, 8, 9, 16, 17, 18, 19, 20, 21}) {
    reader.AcceptPartType(type);
  }
  std::vector<TestPart> parts;
  for (int type = reader.NextPart(); type != -1; type = reader.NextPart()) {
    std::string content(reader.PartLength(), '\0');
    reader.read(content.data(), static_cast<std::streamsize>(content.size()));
    parts.push_back(TestPart{type, content});
  }
  return parts;
}

TEST(PackageWriterTest, SmallPackageHasExactBytes) {
  TemporaryDirectory dir;
  PackageInfo info("tiny");
  info.version = MakeVersion(2, 9, 'f', 5);
  info.buildTime = 0x01020304;
  info.flags = 0xa0b0c0d0;
  info.description = "d";
  info.dependencies.push_back(Dependency{"system", MakeVersion(2, 9, 'f', 0), 0, 0});
  std::string header = std::string("tiny", 4) + std::string(12, '\0') + "\x05\x66\x09\x02" +
                       "\x04\x03\x02\x01" + std::string(8, '\0');
  std::string dependencies = std::string("\x01\x00system", 8) + std::string(10, '\0') +
                             std::string("\x00\x66\x09\x02", 4) + std::string(12, '\0');
  std::string rest = PartBytes(2, "d") + PartBytes(3, dependencies);
  for (bool flagsWord : {false, true}) {  // a header of 36 bytes carries the flags
    PackageContents contents;
    contents.flagsWord = flagsWord;
    ASSERT_TRUE(WritePackageFile(dir / "tiny.vpk", info, contents));
    std::string flags = flagsWord ? "\xd0\xc0\xb0\xa0" : "";
    EXPECT_TRUE(SameBytes(ContainerBytes(PartBytes(1, header + flags) + rest),
                          ReadWholeTestFile(dir / "tiny.vpk")));
  }
  // Both version bounds, and a signed priority.
  EXPECT_TRUE(
      SameBytes(std::string("sixteen-bytes-xx\x01\0\0\0\0\0\0\0\x02\0\0\0\xff\xff\xff\xff", 32),
                DependencyRecord({"sixteen-bytes-xx", 1, 2, -1})));
}

// The parts come in their fixed order; the files part is the archive of the tree, without the
// package being written into it.
TEST(PackageWriterTest, EveryPartComesInOrder) {
  TemporaryDirectory dir;
  ASSERT_TRUE(WriteTestFile(dir / "install.sh", "echo on\n"));
  ASSERT_TRUE(WriteTestFile(dir / "uninstall.sh", "echo off\n"));
  ASSERT_TRUE(WriteTestFile(dir / "image", std::string("\0IMG", 4)));
  std::ostringstream archive;
  ASSERT_TRUE(WriteTreeArchive(archive, dir.Path(), {}));
  PackageInfo info("ppp");
  info.architecture = "mips";
  info.description = "Point to point";
  info.dependencies = {{"system", 0x02096600, 0, 0}};
  info.provides = {{"net", 0, 0, 5}};
  info.conflicts = {{"pppoe", 0x02096301, 0x02096301, 0}};
  PackageContents contents = {
      dir.Path(), {}, dir / "install.sh", dir / "uninstall.sh", dir / "image"};
  ASSERT_TRUE(WritePackageFile(dir / "ppp.vpk", info, contents));
  auto one = [](const Dependency& entry) {
    return std::string("\1\0", 2) + DependencyRecord(entry);
  };
  std::vector<TestPart> expected = {{16, "mips"},
                                    {2, "Point to point"},
                                    {3, one(info.dependencies[0])},
                                    {19, one(info.provides[0])},
                                    {17, one(info.conflicts[0])},
                                    {21, std::string("\0IMG", 4)},
                                    {7, "echo on\n"},
                                    {8, "echo off\n"},
                                    {4, archive.str()}};
  std::vector<TestPart> parts = ReadTestParts(dir / "ppp.vpk");
  ASSERT_EQ(parts.size(), 1 + expected.size());
  parts.back().content = ZlibUncompress(parts.back().content);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(parts[i + 1].type, expected[i].type);
    EXPECT_EQ(parts[i + 1].content, expected[i].content) << expected[i].type;
  }
}

TEST(PackageWriterTest, FailuresLeaveNoFileBehind) {
  TemporaryDirectory dir;
  ASSERT_EQ(mkdir((dir / "tree").c_str(), 0755), 0);
  ASSERT_TRUE(WriteTestFile(dir / "old.vpk", "old content"));
  struct Case {
    const char* what;
    void (*change)(PackageInfo&, PackageContents&);
  } cases[] = {
      {"name of 17 bytes", [](PackageInfo& i, PackageContents&) { i.name = "seventeen-bytes-x"; }},
      {"dependency name of 17 bytes",
       [](PackageInfo& i, PackageContents&) { i.conflicts = {{std::string(17, 'c')}}; }},
      {"65536 provides",
       [](PackageInfo& i, PackageContents&) { i.provides.resize(65536, Dependency{"p"}); }},
      {"missing tree", [](PackageInfo&, PackageContents& c) { c.tree += "/missing"; }},
      {"missing script", [](PackageInfo&, PackageContents& c) { c.installScript = "/no/such"; }},
  };
  for (const Case& c : cases) {
    PackageInfo info("pkg");
    PackageContents contents;
    contents.tree = dir / "tree";
    c.change(info, contents);
    for (const char* name : {"new.vpk", "old.vpk"}) {
      EXPECT_FALSE(WritePackageFile(dir / name, info, contents)) << c.what;
    }
    auto entries = std::filesystem::directory_iterator(dir.Path());
    EXPECT_EQ(std::distance(begin(entries), end(entries)), 2) << c.what;  // tree and old.vpk
    EXPECT_EQ(ReadWholeTestFile(dir / "old.vpk"), "old content") << c.what;
  }
}

}  // namespace
