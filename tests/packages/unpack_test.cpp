#include "packages/unpack.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <sstream>

#include "packages/package_file.h"
#include "tests/support/package_builder.h"
#include "tests/support/package_tree.h"
#include "tests/support/stream_bytes.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kTime = 1600000000;
const std::string kFailed = "ERROR: installation of ppp-1.0 failed: ";

struct stat LinkStatus(const std::string& path) {
  struct stat status = {};
  lstat(path.c_str(), &status);
  return status;
}

// Unpacks into the target tree of a PackageTree, whose "outside" must stay empty whatever an
// archive holds.
class UnpackTest : public testing::Test {
 protected:
  UnpackTest() { p.version = MakeVersion(1, 0, 'f', 0); }

  // Unpacks the archive of a package file as installing does, the header (when there is one) read
  // into p first. Messages land in log, the console in console.
  bool Unpack(const std::string& packageBytes, bool relative = false) {
    std::istringstream source(packageBytes);
    PartReader reader(source, true);
    reader.AcceptPartType(PartHeader);
    reader.AcceptPartType(PartFiles);
    if (reader.NextPart() == PartHeader) {
      EXPECT_TRUE(ReadPackageHeader(p, reader));
    }
    EXPECT_EQ(reader.CurrentType(), PartFiles);
    GetPackageDatabase().log.clear();
    bool done = false;
    console = CapturedStdout([&] { done = UnpackFiles(p, reader, relative); });
    log.clear();
    for (const std::string& line : GetPackageDatabase().log)
      log += line + "\n";
    return done;
  }
  bool Unpack(const TestPackage& package, bool relative = false) {
    return Unpack(package.Bytes(), relative);
  }

  std::string Under(const std::string& path = "") const { return tree.Target(path); }

  PackageTree tree;
  Package p{"ppp"};
  std::string console, log;
};

}  // namespace

TEST_F(UnpackTest, CreatesEveryEntryTypeWithOwnerModeAndTimes) {
  if (geteuid() != 0)
    GTEST_SKIP() << "owners and device nodes need root";
  std::mt19937 random(4);
  std::string content = RandomBytes(random, 40000);                  // more than two copy blocks
  const std::string tty("\x05\x04\0\0", 4), sda("\x01\x08\0\0", 4);  // little-endian 4:5, 8:1
  struct Case {
    FileRecord record;
    std::string data;
    dev_t device;
  } cases[] = {
      // The directory keeps its time although its contents come after it.
      {{S_IFDIR | 0750, 5, 6, kTime - 100, false, 0, "/etc"}, "", 0},
      {{S_IFREG | 04755, 7, 8, kTime - 200, false, content.size(), "/etc/prog"}, content, 0},
      {{S_IFLNK | 0777, 9, 10, kTime, false, 4, "/etc/link"}, "prog", 0},
      {{S_IFCHR | 0620, 11, 12, kTime - 400, false, 4, "/dev/tty5"}, tty, makedev(4, 5)},
      {{S_IFBLK | 0660, 13, 14, kTime - 500, false, 4, "/dev/sda1"}, sda, makedev(8, 1)},
      {{S_IFIFO | 0600, 15, 16, kTime - 600, false, 0, "/run/control"}, "", 0},
  };
  TestPackage package("ppp", "1.0");
  for (const Case& c : cases)
    package.Entry(c.record, c.data);
  // Skipped entries are passed over before their type is judged: a device of 5 bytes is no harm.
  package.Entry({S_IFCHR | 0600, 0, 0, kTime, true, 5, "/dev/skipped"}, "12345")
      .Entry({S_IFREG | 0644, 0, 0, kTime, true, 4, "/skipped"}, "data");
  ASSERT_TRUE(Unpack(package)) << log;
  for (const Case& c : cases) {
    struct stat status = LinkStatus(Under(c.record.name));
    EXPECT_EQ(status.st_mode, c.record.mode) << c.record.name;
    EXPECT_EQ(status.st_uid, c.record.owner) << c.record.name;
    EXPECT_EQ(status.st_gid, c.record.group) << c.record.name;
    if (!S_ISLNK(status.st_mode)) {  // a link keeps the time of its creation
      EXPECT_EQ(status.st_mtime, c.record.modificationTime) << c.record.name;
      EXPECT_EQ(status.st_atime, c.record.modificationTime) << c.record.name;
    }
    EXPECT_EQ(status.st_rdev, c.device) << c.record.name;
  }
  EXPECT_TRUE(SameBytes(content, ReadWholeTestFile(Under("/etc/prog"))));
  EXPECT_FALSE(PathExists(Under("/skipped")) || PathExists(Under("/dev/skipped")));
  EXPECT_EQ(fs::read_symlink(Under("/etc/link")), "prog");
  // Directories and skipped entries are not recorded; parents made on the way get the default mode.
  EXPECT_EQ(p.files, (std::set<std::string>{"/etc/prog", "/etc/link", "/dev/tty5", "/dev/sda1",
                                            "/run/control"}));
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(LinkStatus(Under("/dev")).st_mode & 07777, 0770 & ~mask);
  EXPECT_NE(console.find("installing ppp-1.0 ["), std::string::npos) << console;
  EXPECT_EQ(log, "");
}

// The recorded path and the place in the tree follow the name, the disabled state and the mode.
TEST_F(UnpackTest, PlacesEntriesByNameStateAndMode) {
  std::string work = tree.System();
  struct Case {
    bool disabled, relative;
    const char* name;
    std::string place;
    const char* recorded;
  } cases[] = {
      {false, false, "bin/x", Under("/bin/x"), "/bin/x"},
      {true, false, "/bin/x", Under("/x/ppp/bin/x"), "/x/ppp/bin/x"},
      {false, true, "/bin/x", work + "/bin/x", "./bin/x"},
      {true, true, "bin/x", work + "/x/ppp/bin/x", "./x/ppp/bin/x"},
  };
  fs::path saved = fs::current_path();
  fs::current_path(work);
  for (const Case& c : cases) {
    p.files.clear();
    p.disabled = c.disabled;
    EXPECT_TRUE(Unpack(TestPackage("ppp", "1.0").File(c.name, c.name), c.relative)) << log;
    EXPECT_EQ(ReadWholeTestFile(c.place), c.name) << c.place;
    EXPECT_EQ(p.files, std::set<std::string>{c.recorded});
    // A disabled package gets its own tree and database directory under the target root.
    EXPECT_EQ(fs::is_directory(Under("/x/ppp/var/pdb/ppp")), c.disabled) << c.place;
    for (const std::string& made : {Under("/x"), Under("/bin"), work + "/x", work + "/bin"})
      fs::remove_all(made);
  }
  fs::current_path(saved);
}

// What stands in the tree is taken as its own system will: an existing directory keeps its mode
// and times, links lead inside the tree (absolute ones to its own paths), files and final links in
// the way are replaced rather than written through, and a non-empty directory in the way of a file
// is a creation error that ends the unpacking.
TEST_F(UnpackTest, UsesTheExistingTreeAsItsSystemWould) {
  ASSERT_TRUE(WriteTestFile(tree.Outside("/shared"), "outside"));
  MakeTestDirectories(Under("/etc/ppp"));
  MakeTestDirectories(Under("/usr/lib"));
  fs::create_directory_symlink("/usr/lib", Under("/lib"));  // absolute: leads to the tree's own
  fs::permissions(Under("/usr"), fs::perms(0700));
  timespec old[2] = {{kTime - 5, 0}, {kTime - 5, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, Under("/usr").c_str(), old, 0), 0);
  fs::create_hard_link(tree.Outside("/shared"), Under("/etc/hosts"));
  fs::create_symlink(tree.Outside("/victim"), Under("/etc/dangling"));
  fs::create_symlink(tree.Outside("/shared"), Under("/etc/linked"));
  EXPECT_FALSE(Unpack(TestPackage("ppp", "1.0")
                          .Directory("/usr", 0755)
                          .File("/lib/libc.so", "libc")
                          .File("/etc/hosts", "new hosts")
                          .File("/etc/dangling", "file")
                          .Directory("/etc/linked")
                          .File("/etc", "x")
                          .File("/after", "y")));
  EXPECT_EQ(log, kFailed + "could not create /etc: File exists\n");
  EXPECT_FALSE(PathExists(Under("/after")));
  EXPECT_EQ(LinkStatus(Under("/usr")).st_mode, S_IFDIR | 0700);
  EXPECT_EQ(LinkStatus(Under("/usr")).st_mtime, kTime - 5);
  EXPECT_EQ(ReadWholeTestFile(Under("/usr/lib/libc.so")), "libc");
  EXPECT_EQ(ReadWholeTestFile(Under("/etc/hosts")), "new hosts");
  EXPECT_EQ(ReadWholeTestFile(Under("/etc/dangling")), "file");
  EXPECT_TRUE(fs::is_directory(fs::symlink_status(Under("/etc/linked"))));
  EXPECT_EQ(ListTree(tree.Outside()), std::vector<std::string>{"shared"});
  EXPECT_EQ(ReadWholeTestFile(tree.Outside("/shared")), "outside");
}

// Whatever an archive holds, nothing lands outside the tree.
TEST_F(UnpackTest, RefusesBrokenAndHostileEntries) {
  auto ppp = [] {
    TestPackage package("ppp", "1.0");
    package.File("/first", "1");
    return package;
  };
  const std::string broken = kFailed + "broken package\n";
  struct Case {
    const char* what;
    std::string bytes;
    std::string log;
  } cases[] = {
      {"device number of 5 bytes",
       ppp().Entry({S_IFCHR | 0600, 0, 0, kTime, false, 5, "/dev/x"}, "12345").Bytes(), broken},
      {"socket", ppp().Entry({S_IFSOCK | 0600, 0, 0, kTime, false, 0, "/s"}, "").Bytes(), broken},
      {"data cut", ppp().Entry({S_IFREG | 0644, 0, 0, kTime, false, 2, "/x"}, "2").Bytes(), broken},
      {"dot dot", ppp().File("/../outside/x", "").Bytes(), broken},
      {"NUL in a name", ppp().File(std::string("/x\0/../../outside/y", 19), "x").Bytes(), broken},
      {"through a climbing link", ppp().Link("/up", "../outside").File("/up/x", "x").Bytes(),
       broken},
      {"through a deeper climbing link",
       ppp().Link("/a/b", "../../outside").Directory("/a/b/d").Bytes(), broken},
      {"through a climbing link of the tree", ppp().File("/escape/passwd", "x").Bytes(), broken},
      // The host's path of "outside", taken inside the tree, is not there.
      {"through a link to the host's path",
       ppp().Link("/host", tree.Outside()).File("/host/x", "").Bytes(),
       kFailed + "could not create /host/x: No such file or directory\n"},
  };
  for (const Case& c : cases) {
    fs::remove_all(Under());
    fs::create_directory(Under());
    fs::create_directory_symlink("../outside", Under("/escape"));
    EXPECT_FALSE(Unpack(c.bytes)) << c.what;
    EXPECT_EQ(log, c.log) << c.what;
    EXPECT_TRUE(PathExists(Under("/first"))) << c.what;
    EXPECT_TRUE(ListTree(tree.Outside()).empty()) << c.what;
  }
}

// A stream that does not come to its own end, wherever it was cut, is no complete archive.
TEST_F(UnpackTest, RefusesDamagedStreams) {
  std::ostringstream archive;
  for (const char* name : {"/first", "/second"}) {
    WriteFileRecord(archive, {S_IFREG | 0644, 0, 0, kTime, false, 1, name});
    archive << "x";
  }
  std::string entries = archive.str();
  std::string whole = ZlibCompress(entries, 6);
  std::vector<std::string> damaged = {
      ZlibCompress(entries.substr(0, entries.size() - 4), 6),      // cut inside a name
      "\x78\x5f" + whole.substr(2),                                // bad header
      whole.substr(0, whole.size() - 1) + char(whole.back() ^ 1),  // bad checksum
  };
  for (std::size_t length = 0; length < whole.size(); ++length)
    damaged.push_back(whole.substr(0, length));
  ASSERT_TRUE(Unpack(ContainerBytes(PartBytes(PartFiles, whole)))) << log;
  for (const std::string& compressed : damaged) {
    EXPECT_FALSE(Unpack(ContainerBytes(PartBytes(PartFiles, compressed))))
        << HexBytes(compressed.data(), compressed.size());
    EXPECT_EQ(log, kFailed + "broken package\n");
  }
}

// A full disk: the tree is a 64 KiB file system, mounted in a mount namespace of a child.
TEST_F(UnpackTest, SaysTheDiskIsTooSmallWhenItFills) {
  if (geteuid() != 0)
    GTEST_SKIP() << "mounting a small file system needs root";
  std::mt19937 random(5);
  TestPackage package("ppp", "1.0");
  package.File("/big", RandomBytes(random, 256 * 1024));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
        mount("tmpfs", Under().c_str(), "tmpfs", 0, "size=64k") != 0)
      _exit(2);
    bool done = Unpack(package);
    std::fprintf(stderr, "%s", log.c_str());
    _exit(!done && log == kFailed + "disk is too small\n" ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 2)
    GTEST_SKIP() << "no private mount namespace here";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_FALSE(PathExists(Under("/big")));  // it was written to the child's own mount only
}
