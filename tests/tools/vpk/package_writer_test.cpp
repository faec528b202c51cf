#include "tools/vpk/package_writer.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <set>

#include "streams/inflate_stream.h"
#include "streams/part_reader.h"
#include "tests/support/package_builder.h"
#include "tests/support/stream_bytes.h"

namespace {

std::set<std::string> DirectoryNames(const std::string& path) {
  std::set<std::string> names;
  DIR* dir = opendir(path.c_str());
  while (dirent* entry = dir == nullptr ? nullptr : readdir(dir)) {
    names.insert(entry->d_name);
  }
  if (dir != nullptr) {
    closedir(dir);
  }
  return names;
}

// The decompressed archive of the first files part, read the way the installer reads it: an
// InflateStream over a PartReader standing on the part.
std::string ArchiveThroughReader(const std::string& path) {
  std::ifstream file(path, std::ios_base::binary);
  PartReader reader(file, true);
  reader.AcceptPartType(PartFiles);
  if (reader.NextPart() != PartFiles) {
    return "<no files part>";
  }
  InflateStream archive(reader, false);
  std::string bytes;
  char block[1000];
  while (archive.read(block, sizeof block) || archive.gcount() > 0) {
    bytes.append(block, static_cast<std::size_t>(archive.gcount()));
  }
  return bytes;
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
  struct Case {
    bool flagsWord, unrecorded;
    std::string expected;
  } cases[] = {
      {false, false, ContainerBytes(PartBytes(1, header) + rest)},
      {true, false, ContainerBytes(PartBytes(1, header + "\xd0\xc0\xb0\xa0") + rest)},
      {false, true, ContainerBytes(PartBytes(1, header) + rest, 0xa1100ffb)},
  };
  for (const Case& c : cases) {
    PackageContents contents;
    contents.flagsWord = c.flagsWord;
    contents.unrecorded = c.unrecorded;
    ASSERT_TRUE(WritePackageFile(dir / "tiny.vpk", info, contents));
    EXPECT_TRUE(SameBytes(c.expected, ReadWholeTestFile(dir / "tiny.vpk")))
        << c.flagsWord << c.unrecorded;
  }
}

TEST(PackageWriterTest, DependencyRecordsPlaceBoundsAndSignedPriority) {
  struct Case {
    Dependency entry;
    std::string expected;
  } cases[] = {
      {{"dhcp", 0, 0x030065ff, 0},
       std::string("dhcp", 4) + std::string(20, '\0') + std::string("\xff\x65\x00\x03", 4) +
           std::string(4, '\0')},
      {{"sixteen-bytes-xx", 1, 2, -1},
       std::string("sixteen-bytes-xx\x01\0\0\0\0\0\0\0\x02\0\0\0\xff\xff\xff\xff", 32)},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(SameBytes(c.expected, DependencyRecord(c.entry))) << c.entry.name;
  }
}

TEST(PackageWriterTest, EveryPartReadsBackInOrder) {
  TemporaryDirectory dir;
  ASSERT_EQ(mkdir((dir / "tree").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir / "tree/etc").c_str(), 0755), 0);
  ASSERT_TRUE(WriteTestFile(dir / "tree/etc/options", "lock\n"));
  ASSERT_EQ(symlink("options", (dir / "tree/etc/link").c_str()), 0);
  ASSERT_TRUE(WriteTestFile(dir / "install.sh", "echo on\n"));
  ASSERT_TRUE(WriteTestFile(dir / "uninstall.sh", "echo off\n"));
  ASSERT_TRUE(WriteTestFile(dir / "image", std::string("\0IMG", 4)));
  PackageInfo info("ppp");
  info.architecture = "mips";
  info.description = "Point to point";
  info.dependencies = {{"system", 0x02096600, 0, 0}};
  info.provides = {{"net", 0, 0, 5}, {"mailer", 0, 0, -1}};
  info.conflicts = {{"pppoe", 0x02096301, 0x02096301, 0}};
  PackageContents contents;
  contents.tree = dir / "tree";
  contents.installScript = dir / "install.sh";
  contents.uninstallScript = dir / "uninstall.sh";
  contents.image = dir / "image";
  ASSERT_TRUE(WritePackageFile(dir / "ppp.vpk", info, contents));

  std::vector<TestPart> parts = ReadTestParts(dir / "ppp.vpk");
  std::vector<int> types;
  for (const TestPart& part : parts) {
    types.push_back(part.type);
  }
  ASSERT_EQ(types, (std::vector<int>{1, 16, 2, 3, 19, 17, 21, 7, 8, 4}));
  EXPECT_EQ(parts[1].content, "mips");
  EXPECT_EQ(parts[2].content, "Point to point");
  EXPECT_EQ(parts[3].content, std::string("\x01\x00", 2) + DependencyRecord(info.dependencies[0]));
  EXPECT_EQ(parts[4].content, std::string("\x02\x00", 2) + DependencyRecord(info.provides[0]) +
                                  DependencyRecord(info.provides[1]));
  EXPECT_EQ(parts[5].content, std::string("\x01\x00", 2) + DependencyRecord(info.conflicts[0]));
  EXPECT_EQ(parts[6].content, std::string("\0IMG", 4));
  EXPECT_EQ(parts[7].content, "echo on\n");
  EXPECT_EQ(parts[8].content, "echo off\n");
  std::string archive = ArchiveThroughReader(dir / "ppp.vpk");
  EXPECT_EQ(archive, ZlibUncompress(parts[9].content));
  std::vector<TestEntry> entries = DecodeArchive(archive);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].record.name, "/etc");
  EXPECT_EQ(entries[1].record.name, "/etc/link");
  EXPECT_EQ(entries[1].data, "options");
  EXPECT_EQ(entries[2].record.name, "/etc/options");
  EXPECT_EQ(entries[2].data, "lock\n");
}

TEST(PackageWriterTest, AnEmptyTreeGivesAnEmptyArchive) {
  TemporaryDirectory dir;
  ASSERT_EQ(mkdir((dir / "tree").c_str(), 0755), 0);
  PackageContents contents;
  contents.tree = dir / "tree";
  ASSERT_TRUE(WritePackageFile(dir / "empty.vpk", PackageInfo("empty"), contents));
  std::vector<TestPart> parts = ReadTestParts(dir / "empty.vpk");
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[1].type, PartFiles);
  EXPECT_EQ(ZlibUncompress(parts[1].content), "");
}

TEST(PackageWriterTest, ThePackageBeingWrittenIntoItsTreeIsNotStored) {
  TemporaryDirectory tree;
  ASSERT_TRUE(WriteTestFile(tree / "data", "x"));
  PackageContents contents;
  contents.tree = tree.Path();
  ASSERT_TRUE(WritePackageFile(tree / "self.vpk", PackageInfo("self"), contents));
  std::vector<TestPart> parts = ReadTestParts(tree / "self.vpk");
  ASSERT_EQ(parts.size(), 2u);
  std::vector<TestEntry> entries = DecodeArchive(ZlibUncompress(parts[1].content));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].record.name, "/data");
}

TEST(PackageWriterTest, FailuresLeaveNoFileBehind) {
  TemporaryDirectory dir;
  ASSERT_EQ(mkdir((dir / "tree").c_str(), 0755), 0);
  ASSERT_TRUE(WriteTestFile(dir / "tree/file", "x"));
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
      {"missing image", [](PackageInfo&, PackageContents& c) { c.image = "/no/such/image"; }},
  };
  for (const Case& c : cases) {
    PackageInfo info("pkg");
    PackageContents contents;
    contents.tree = dir / "tree";
    c.change(info, contents);
    for (const char* name : {"new.vpk", "old.vpk"}) {
      EXPECT_FALSE(WritePackageFile(dir / name, info, contents)) << c.what;
    }
    EXPECT_EQ(DirectoryNames(dir.Path()), (std::set<std::string>{".", "..", "tree", "old.vpk"}))
        << c.what;
    EXPECT_EQ(ReadWholeTestFile(dir / "old.vpk"), "old content") << c.what;
  }
}

}  // namespace
