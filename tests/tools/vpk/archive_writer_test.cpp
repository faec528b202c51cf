#include "tools/vpk/archive_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <sstream>

#include "tests/support/package_builder.h"
#include "tests/support/stream_bytes.h"

namespace {

std::string Archive(const std::string& tree, const TreeOptions& options = {}) {
  std::ostringstream out;
  EXPECT_TRUE(WriteTreeArchive(out, tree, options));
  return out.str();
}

void SetTime(const std::string& path, std::int64_t seconds) {
  timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

TEST(ArchiveWriterTest, RecordHasTheStoredLayoutWithZerosWhereNothingIsRead) {
  FileRecord entry;
  entry.mode = 0100644;
  entry.owner = 0x1234;
  entry.group = 0x5678;
  entry.modificationTime = 0x01020304;
  entry.dataSize = 0x0a0b0c0d;
  entry.name = "/etc/x";
  std::string expected = std::string("\xa4\x81\x34\x12\x78\x56\0\0\x04\x03\x02\x01", 12) +
                         std::string(12, '\0') + std::string("\x0d\x0c\x0b\x0a\x06\x00", 6) +
                         "/etc/x";
  for (bool skip : {false, true}) {
    entry.skip = skip;
    expected[23] = skip ? 1 : 0;
    std::ostringstream out;
    ASSERT_TRUE(WriteFileRecord(out, entry));
    EXPECT_TRUE(SameBytes(expected, out.str()));
  }
}

TEST(ArchiveWriterTest, RefusesFieldsThatDoNotFitAndWritesNothing) {
  struct Case {
    const char* what;
    void (*change)(FileRecord&);
  } cases[] = {
      {"owner over 65535", [](FileRecord& e) { e.owner = 65536; }},
      {"group over 65535", [](FileRecord& e) { e.group = 70000; }},
      {"time before 1970", [](FileRecord& e) { e.modificationTime = -1; }},
      {"time after 2106", [](FileRecord& e) { e.modificationTime = INT64_C(1) << 32; }},
      {"4 GiB of data", [](FileRecord& e) { e.dataSize = UINT64_C(1) << 32; }},
      {"name of 65536 bytes", [](FileRecord& e) { e.name = "/" + std::string(65535, 'n'); }},
  };
  for (const Case& c : cases) {
    FileRecord entry;
    entry.mode = 0100644;
    entry.name = "/f";
    c.change(entry);
    std::ostringstream out;
    EXPECT_FALSE(WriteFileRecord(out, entry)) << c.what;
    EXPECT_EQ(out.str(), "") << c.what;
  }
  FileRecord longest;
  longest.name = "/" + std::string(65534, 'n');
  longest.dataSize = UINT32_MAX;
  longest.modificationTime = UINT32_MAX;
  std::ostringstream out;
  EXPECT_TRUE(WriteFileRecord(out, longest));
  EXPECT_EQ(out.str().size(), 30u + 65535u);
}

TEST(ArchiveWriterTest, DirectoriesComeRightBeforeTheirContentsInByteOrder) {
  TemporaryDirectory tree;
  ASSERT_EQ(mkdir((tree / "a").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((tree / "a/b").c_str(), 0755), 0);
  for (const char* file : {"B", "a/z", "a.txt", "a/b/c"}) {
    ASSERT_TRUE(WriteTestFile(tree / file, file));
  }
  std::vector<std::string> names;
  for (const TestEntry& entry : DecodeArchive(Archive(tree.Path()))) {
    names.push_back(entry.record.name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"/B", "/a", "/a/b", "/a/b/c", "/a/z", "/a.txt"}));
  // A trailing slash on the tree changes nothing, and the same tree gives the same bytes.
  EXPECT_EQ(Archive(tree.Path() + "/"), Archive(tree.Path()));
}

TEST(ArchiveWriterTest, EntriesCarryTypeModeOwnerTimeAndData) {
  TemporaryDirectory tree;
  ASSERT_EQ(mkdir((tree / "etc").c_str(), 0750), 0);
  ASSERT_TRUE(WriteTestFile(tree / "etc/conf", "key=value\n"));
  ASSERT_EQ(symlink("../usr/lib/x", (tree / "etc/link").c_str()), 0);
  ASSERT_EQ(mkfifo((tree / "etc/pipe").c_str(), 0620), 0);
  ASSERT_EQ(chmod((tree / "etc/pipe").c_str(), 0620), 0);  // past the umask
  for (const char* name : {"etc/conf", "etc/link", "etc/pipe", "etc"}) {
    SetTime(tree / name, 1234567890);
  }
  bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(lchown((tree / "etc/conf").c_str(), 123, 456), 0);
  }
  ASSERT_EQ(chmod((tree / "etc/conf").c_str(), 04711), 0);  // after chown, which clears set-id
  std::vector<TestEntry> entries = DecodeArchive(Archive(tree.Path()));
  ASSERT_EQ(entries.size(), 4u);
  struct Expected {
    std::uint32_t mode;
    const char* name;
    std::string data;
  } expected[] = {
      {S_IFDIR | 0750, "/etc", ""},
      {S_IFREG | 04711, "/etc/conf", "key=value\n"},
      {S_IFLNK | 0777, "/etc/link", "../usr/lib/x"},
      {S_IFIFO | 0620, "/etc/pipe", ""},
  };
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].record.mode, expected[i].mode) << expected[i].name;
    EXPECT_EQ(entries[i].record.name, expected[i].name);
    EXPECT_EQ(entries[i].data, expected[i].data) << expected[i].name;
    EXPECT_EQ(entries[i].record.modificationTime, 1234567890) << expected[i].name;
    EXPECT_FALSE(entries[i].record.skip);
  }
  if (root) {
    EXPECT_EQ(entries[1].record.owner, 123u);
    EXPECT_EQ(entries[1].record.group, 456u);
  }
}

TEST(ArchiveWriterTest, DevicesStoreTheirNumberInFourBytes) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "creating device nodes needs root";
  }
  TemporaryDirectory tree;
  ASSERT_EQ(mknod((tree / "block").c_str(), S_IFBLK | 0640, makedev(8, 17)), 0);
  ASSERT_EQ(mknod((tree / "char").c_str(), S_IFCHR | 0600, makedev(4095, 0xfffff)), 0);
  std::vector<TestEntry> entries = DecodeArchive(Archive(tree.Path()));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].record.mode, S_IFBLK | 0640u);
  EXPECT_EQ(entries[0].data, std::string("\x11\x08\x00\x00", 4));
  EXPECT_EQ(entries[1].record.mode, S_IFCHR | 0600u);
  // Zero-extended, the 4 bytes give back the node's number.
  dev_t number = static_cast<std::uint8_t>(entries[1].data[0]) |
                 static_cast<std::uint8_t>(entries[1].data[1]) << 8 |
                 static_cast<std::uint8_t>(entries[1].data[2]) << 16 |
                 static_cast<dev_t>(static_cast<std::uint8_t>(entries[1].data[3])) << 24;
  EXPECT_EQ(major(number), 4095u);
  EXPECT_EQ(minor(number), 0xfffffu);
}

TEST(ArchiveWriterTest, OwnerOverrideAndExcludedFile) {
  TemporaryDirectory tree;
  ASSERT_TRUE(WriteTestFile(tree / "kept", "k"));
  ASSERT_TRUE(WriteTestFile(tree / "output.vpk", "o"));
  struct stat excluded;
  ASSERT_EQ(stat((tree / "output.vpk").c_str(), &excluded), 0);
  TreeOptions options;
  options.overrideOwner = true;
  options.owner = 7;
  options.group = 9;
  options.excludeFile = true;
  options.excludeDevice = excluded.st_dev;
  options.excludeInode = excluded.st_ino;
  std::vector<TestEntry> entries = DecodeArchive(Archive(tree.Path(), options));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].record.name, "/kept");
  EXPECT_EQ(entries[0].record.owner, 7u);
  EXPECT_EQ(entries[0].record.group, 9u);
}

TEST(ArchiveWriterTest, RefusesWhatCannotBeStored) {
  TemporaryDirectory tree;
  ASSERT_EQ(mkdir((tree / "run").c_str(), 0755), 0);
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::string socketPath = tree / "run/socket";
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(fd);
  std::ostringstream out;
  EXPECT_FALSE(WriteTreeArchive(out, tree.Path(), {}));
  EXPECT_FALSE(WriteTreeArchive(out, tree / "missing", {}));
  if (geteuid() == 0) {
    ASSERT_EQ(unlink(socketPath.c_str()), 0);
    ASSERT_TRUE(WriteTestFile(tree / "run/owned", ""));
    ASSERT_EQ(chown((tree / "run/owned").c_str(), 70000, 0), 0);
    EXPECT_FALSE(WriteTreeArchive(out, tree.Path(), {}));
    TreeOptions options;
    options.overrideOwner = true;
    EXPECT_TRUE(WriteTreeArchive(out, tree.Path(), options));
  }
}

}  // namespace
