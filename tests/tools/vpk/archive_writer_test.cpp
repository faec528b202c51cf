#include "tools/vpk/archive_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "streams/package_format.h"
#include "streams/part_reader.h"
#include "tests/support/package_builder.h"
#include "tests/support/stream_bytes.h"
#include "tools/vpk/archive_listing.h"

namespace {

// The archive as vpk inspect lists it.
std::string Listing(const std::string& archive) {
  std::istringstream source(ContainerBytes(PartBytes(PartFiles, ZlibCompress(archive, 6))));
  PartReader reader(source, Hashing::kOff);
  reader.AcceptPartType(PartFiles);
  EXPECT_EQ(reader.NextPart(), PartFiles);
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  EXPECT_TRUE(ListArchive(reader, out));
  std::fclose(out);
  std::string listing(text, size);
  std::free(text);
  return listing;
}

// Bytes that readers do not read are zeros; a field wider than its stored size writes nothing.
TEST(ArchiveWriterTest, RecordHasTheStoredLayoutAndRefusesFieldsThatDoNotFit) {
  // mode, owner, group, time, skip, data size, name
  FileRecord entry = {0100644, 0x1234, 0x5678, 0x01020304, true, 0x0a0b0c0d, "/etc/x"};
  FileRecord longest = {
      0100644, 65535, 65535, UINT32_MAX, false, UINT32_MAX, "/" + std::string(65534, 'n')};
  std::ostringstream out, longOut;
  ASSERT_TRUE(WriteFileRecord(out, entry));
  EXPECT_TRUE(SameBytes(std::string("\xa4\x81\x34\x12\x78\x56\0\0\x04\x03\x02\x01", 12) +
                            std::string(11, '\0') + "\x01\x0d\x0c\x0b\x0a\x06" + '\0' + "/etc/x",
                        out.str()));
  EXPECT_TRUE(WriteFileRecord(longOut, longest));
  EXPECT_EQ(longOut.str().size(), 30u + 65535u);
  FileRecord refused[] = {{0100644, 65536, 0, 0, false, 0, "/f"},
                          {0100644, 0, 65536, 0, false, 0, "/f"},
                          {0100644, 0, 0, -1, false, 0, "/f"},
                          {0100644, 0, 0, INT64_C(1) << 32, false, 0, "/f"},
                          {0100644, 0, 0, 0, false, UINT64_C(1) << 32, "/f"},
                          {0100644, 0, 0, 0, false, 0, longest.name + "n"}};
  for (const FileRecord& record : refused) {
    std::ostringstream none;
    EXPECT_FALSE(WriteFileRecord(none, record)) << &record - refused;
    EXPECT_EQ(none.str(), "") << &record - refused;
  }
}

// Byte order of names, each directory right before its contents.
TEST(ArchiveWriterTest, WalksTheTreeInByteOrderWithTypeModeOwnerTimeAndData) {
  struct Expected {
    std::uint32_t mode;
    const char* name;
    std::string data;
  } expected[] = {{S_IFREG | 0644, "/B", ""},
                  {S_IFDIR | 0750, "/a", ""},
                  {S_IFREG | 04711, "/a/conf", "key=value\n"},
                  {S_IFLNK | 0777, "/a/link", "../usr/lib/x"},
                  {S_IFIFO | 0620, "/a/pipe", ""},
                  {S_IFREG | 0600, "/a.txt", "text"}};
  TemporaryDirectory tree;
  for (const Expected& e : expected) {
    std::string path = tree.Path() + e.name;
    bool made = S_ISDIR(e.mode)    ? mkdir(path.c_str(), 0700) == 0
                : S_ISLNK(e.mode)  ? symlink(e.data.c_str(), path.c_str()) == 0
                : S_ISFIFO(e.mode) ? mkfifo(path.c_str(), 0600) == 0
                                   : WriteTestFile(path, e.data);
    ASSERT_TRUE(made) << path;
  }
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root to give a file away";
  }
  // chown comes before chmod, which it would undo for set-id bits.
  ASSERT_EQ(lchown((tree / "a/conf").c_str(), 123, 456), 0);
  for (const Expected& e : expected) {
    std::string path = tree.Path() + e.name;
    timespec times[2] = {{1234567890, 0}, {1234567890, 0}};
    ASSERT_TRUE(S_ISLNK(e.mode) || chmod(path.c_str(), e.mode & 07777) == 0) << path;
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
  }
  std::ostringstream archive;
  ASSERT_TRUE(WriteTreeArchive(archive, tree.Path() + "/", {}));
  EXPECT_EQ(Listing(archive.str()),
            "    -rw-r--r--     0/0              0 2009-02-13 23:31:30 /B\n"
            "    drwxr-x---     0/0              0 2009-02-13 23:31:30 /a\n"
            "    -rws--x--x   123/456           10 2009-02-13 23:31:30 /a/conf\n"
            "    lrwxrwxrwx     0/0             12 2009-02-13 23:31:30 /a/link -> ../usr/lib/x\n"
            "    prw--w----     0/0              0 2009-02-13 23:31:30 /a/pipe\n"
            "    -rw-------     0/0              4 2009-02-13 23:31:30 /a.txt\n"
            "    6 entries, 26 bytes of data\n");
  for (const Expected& e : expected) {
    // A record's name is followed by the entry's data.
    EXPECT_NE(archive.str().find(e.name + e.data), std::string::npos) << e.name;
  }
}

}  // namespace
