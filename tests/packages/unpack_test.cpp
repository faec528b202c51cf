#include "packages/unpack.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "packages/package_database.h"
#include "packages/roots.h"
#include "tests/support/stream_bytes.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kTime = 1600000000;

// One archive entry as the package tools store it.
struct Entry {
  std::uint32_t mode;
  std::string name;
  std::string data;
  std::uint16_t user = 0;
  std::uint16_t group = 0;
  std::uint32_t modified = kTime;
  bool skip = false;
};

std::string Little(std::uint32_t value, int size) {
  std::string bytes;
  for (int i = 0; i < size; ++i) {
    bytes.push_back(static_cast<char>(value >> (8 * i)));
  }
  return bytes;
}

std::string EntryBytes(const Entry& e) {
  return Little(e.mode, 2) + Little(e.user, 2) + Little(e.group, 2) + Little(0, 2) +
         Little(e.modified, 4) + std::string(11, '\0') + std::string(1, e.skip ? 1 : 0) +
         Little(e.data.size(), 4) + Little(e.name.size(), 2) + e.name + e.data;
}

Entry Dir(const std::string& name, std::uint32_t permissions = 0755) {
  return {S_IFDIR | permissions, name, ""};
}
Entry File(const std::string& name, const std::string& content, std::uint32_t permissions = 0644) {
  return {S_IFREG | permissions, name, content};
}
Entry Link(const std::string& name, const std::string& target) {
  return {S_IFLNK | 0777, name, target};
}

std::string Entries(const std::vector<Entry>& entries) {
  std::string bytes;
  for (const Entry& e : entries) {
    bytes += EntryBytes(e);
  }
  return bytes;
}

std::string Archive(const std::vector<Entry>& entries) {
  return ZlibCompress(Entries(entries), 6);
}

// One zlib stream of the pieces, flushed after each so that a cut at one of ends (the compressed
// length after each piece) yields exactly the pieces before it.
std::string FlushedStream(const std::vector<std::string>& pieces, std::vector<std::size_t>& ends) {
  z_stream zlib = {};
  deflateInit(&zlib, 6);
  std::string out;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    std::string piece = pieces[i];
    zlib.next_in = reinterpret_cast<Bytef*>(piece.data());
    zlib.avail_in = piece.size();
    int flush = i + 1 == pieces.size() ? Z_FINISH : Z_FULL_FLUSH;
    do {
      char buffer[4096];
      zlib.next_out = reinterpret_cast<Bytef*>(buffer);
      zlib.avail_out = sizeof buffer;
      deflate(&zlib, flush);
      out.append(buffer, sizeof buffer - zlib.avail_out);
    } while (zlib.avail_out == 0);
    ends.push_back(out.size());
  }
  deflateEnd(&zlib);
  return out;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return in ? content.str() : "<unreadable>";
}

// Unpacks into a fresh tree <temp>/root, with an empty sibling <temp>/outside that must stay
// empty whatever an archive holds.
class UnpackTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/unpack_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    top = pattern;
    root = top + "/root";
    outside = top + "/outside";
    fs::create_directory(root);
    fs::create_directory(outside);
    savedRoots = GetPackageRoots();
    GetPackageRoots().target = root;
    p.version = MakeVersion(1, 0, 'f', 0);
  }
  void TearDown() override {
    GetPackageRoots() = savedRoots;
    GetPackageDatabase().log.clear();
    GetPackageDatabase().statusLine.clear();
    fs::remove_all(top);
  }

  // Unpacks a files part holding compressed; the messages land in log, the console in console.
  bool Unpack(const std::string& compressed, bool relative = false) {
    std::istringstream source(ContainerBytes(PartBytes(PartFiles, compressed)));
    PartReader reader(source, true);
    reader.AcceptPartType(PartFiles);
    EXPECT_EQ(reader.NextPart(), PartFiles);
    PackageDatabase& db = GetPackageDatabase();
    db.log.clear();
    testing::internal::CaptureStdout();
    bool done = UnpackFiles(p, reader, relative);
    console = testing::internal::GetCapturedStdout();
    log.clear();
    for (const std::string& line : db.log) {
      log += line + "\n";
    }
    return done;
  }

  std::string Under(const std::string& path) const { return root + path; }
  bool OutsideIsEmpty() const { return fs::is_empty(outside); }

  std::string top, root, outside, console, log;
  PackageRoots savedRoots;
  Package p{"ppp"};
};

const char* const kBroken = "ERROR: installation of ppp-1.0 failed: broken package\n";

struct stat LinkStatus(const std::string& path) {
  struct stat status = {};
  lstat(path.c_str(), &status);
  return status;
}

}  // namespace

TEST_F(UnpackTest, CreatesEveryEntryTypeWithOwnerModeAndTimes) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "owners and device nodes need root";
  }
  std::mt19937 random(4);
  std::string content = RandomBytes(random, 40000);  // more than two copy blocks
  std::vector<Entry> entries = {
      {S_IFDIR | 0750, "/etc", "", 5, 6, kTime - 100},
      {S_IFREG | 04755, "/etc/prog", content, 7, 8, kTime - 200},
      {S_IFLNK | 0777, "/etc/link", "prog", 9, 10, kTime - 300},
      {S_IFCHR | 0620, "/dev/tty5", Little(makedev(4, 5), 4), 11, 12, kTime - 400},
      {S_IFBLK | 0660, "dev/sda1", Little(makedev(8, 1), 4), 13, 14, kTime - 500},
      {S_IFIFO | 0600, "/run/control", "", 15, 16, kTime - 600},
  };
  ASSERT_TRUE(Unpack(Archive(entries))) << log;
  struct Expected {
    const char* path;
    mode_t mode;
    dev_t device;
  } expected[] = {
      {"/etc", S_IFDIR | 0750, 0},
      {"/etc/prog", S_IFREG | 04755, 0},
      {"/etc/link", S_IFLNK | 0777, 0},
      {"/dev/tty5", S_IFCHR | 0620, makedev(4, 5)},
      {"/dev/sda1", S_IFBLK | 0660, makedev(8, 1)},
      {"/run/control", S_IFIFO | 0600, 0},
  };
  for (std::size_t i = 0; i < entries.size(); ++i) {
    struct stat status = LinkStatus(Under(expected[i].path));
    EXPECT_EQ(status.st_mode, expected[i].mode) << expected[i].path;
    EXPECT_EQ(status.st_uid, entries[i].user) << expected[i].path;
    EXPECT_EQ(status.st_gid, entries[i].group) << expected[i].path;
    if (!S_ISLNK(status.st_mode)) {  // a link keeps the time of its creation
      EXPECT_EQ(status.st_mtime, entries[i].modified) << expected[i].path;
      EXPECT_EQ(status.st_atime, entries[i].modified) << expected[i].path;
    }
    EXPECT_EQ(status.st_rdev, expected[i].device) << expected[i].path;
  }
  EXPECT_TRUE(SameBytes(content, ReadFile(Under("/etc/prog"))));
  EXPECT_EQ(fs::read_symlink(Under("/etc/link")), "prog");
  // Directories are not recorded; the parents made on the way get the default mode.
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
  std::string work = top + "/work";
  fs::create_directory(work);
  struct Case {
    bool disabled, relative;
    const char* name;
    std::string place;
    const char* recorded;
  } cases[] = {
      {false, false, "/bin/x", root + "/bin/x", "/bin/x"},
      {false, false, "bin/x", root + "/bin/x", "/bin/x"},
      {true, false, "/bin/x", root + "/x/ppp/bin/x", "/x/ppp/bin/x"},
      {false, true, "/bin/x", work + "/bin/x", "./bin/x"},
      {true, true, "bin/x", work + "/x/ppp/bin/x", "./x/ppp/bin/x"},
  };
  fs::path saved = fs::current_path();
  fs::current_path(work);
  for (const Case& c : cases) {
    p.files.clear();
    p.disabled = c.disabled;
    EXPECT_TRUE(Unpack(Archive({File(c.name, c.name)}), c.relative)) << log;
    EXPECT_EQ(ReadFile(c.place), c.name) << c.place;
    EXPECT_EQ(p.files, std::set<std::string>{c.recorded});
    // A disabled package gets its own tree and database directory under the target root.
    EXPECT_EQ(fs::is_directory(root + "/x/ppp/var/pdb/ppp"), c.disabled) << c.place;
    fs::remove_all(root + "/x");
    fs::remove_all(root + "/bin");
    fs::remove_all(work + "/x");
    fs::remove_all(work + "/bin");
  }
  fs::current_path(saved);
}

TEST_F(UnpackTest, KeepsExistingDirectoriesAndReplacesEverythingElse) {
  fs::create_directories(Under("/etc/ppp"));
  std::ofstream(Under("/etc/ppp/options")) << "keep";
  fs::create_directory(Under("/srv"));
  fs::permissions(Under("/srv"), fs::perms(0700));
  timespec old[2] = {{kTime - 5, 0}, {kTime - 5, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, Under("/srv").c_str(), old, 0), 0);
  std::ofstream(outside + "/shared") << "outside";
  fs::create_hard_link(outside + "/shared", Under("/etc/hosts"));
  fs::create_symlink(outside + "/victim", Under("/etc/dangling"));
  fs::create_symlink(outside + "/shared", Under("/etc/linked"));
  ASSERT_TRUE(Unpack(Archive({Dir("/srv", 0755), Dir("/etc"), File("/etc/hosts", "new hosts"),
                              File("/etc/dangling", "file"), Dir("/etc/linked")})))
      << log;
  struct stat kept = LinkStatus(Under("/srv"));
  EXPECT_EQ(kept.st_mode, S_IFDIR | 0700);
  EXPECT_EQ(kept.st_mtime, kTime - 5);
  EXPECT_EQ(ReadFile(Under("/etc/ppp/options")), "keep");
  EXPECT_EQ(ReadFile(Under("/etc/hosts")), "new hosts");
  EXPECT_EQ(ReadFile(Under("/etc/dangling")), "file");
  EXPECT_TRUE(fs::is_directory(fs::symlink_status(Under("/etc/linked"))));
  EXPECT_EQ(ReadFile(outside + "/shared"), "outside");  // nothing written through the old names
  EXPECT_FALSE(fs::exists(outside + "/victim"));
}

TEST_F(UnpackTest, ReportsTheEntryThatCannotBeCreated) {
  fs::create_directories(Under("/etc/ppp"));
  EXPECT_FALSE(Unpack(Archive({File("etc", "x"), File("/after", "y")})));
  EXPECT_EQ(log, "ERROR: installation of ppp-1.0 failed: could not create etc: File exists\n");
  EXPECT_FALSE(fs::exists(Under("/after")));
  EXPECT_TRUE(fs::is_directory(Under("/etc/ppp")));
}

TEST_F(UnpackTest, PassesOverSkippedEntries) {
  Entry skipped = File("/skipped", "data of the skipped entry");
  skipped.skip = true;
  Entry skippedDevice = {S_IFCHR | 0600, "/dev/skipped", "12345"};
  skippedDevice.skip = true;
  ASSERT_TRUE(Unpack(Archive({skipped, skippedDevice, File("/kept", "kept")}))) << log;
  EXPECT_FALSE(fs::exists(Under("/skipped")));
  EXPECT_FALSE(fs::exists(Under("/dev/skipped")));
  EXPECT_EQ(ReadFile(Under("/kept")), "kept");
  EXPECT_EQ(p.files, std::set<std::string>{"/kept"});
}

// Whatever an archive holds, nothing lands outside the tree and the package is broken.
TEST_F(UnpackTest, RefusesBrokenAndHostileArchives) {
  std::string good = Entries({File("/first", "1")});
  std::string badChecksum = Archive({File("/first", "1")});
  badChecksum.back() ^= 1;
  struct Case {
    const char* what;
    std::string compressed;
    bool writesFirst;  // the entry before the damage was created
  } cases[] = {
      {"device number of 5 bytes", Archive({{S_IFCHR | 0600, "/dev/x", "12345"}}), false},
      {"socket", Archive({{S_IFSOCK | 0600, "/socket", ""}}), false},
      {"name cut", ZlibCompress(good + EntryBytes(File("/second", "")).substr(0, 33), 6), true},
      {"data cut", ZlibCompress(good + EntryBytes(File("/second", "22")).substr(0, 38), 6), true},
      {"dot dot", Archive({File("/first", "1"), File("/../outside/x", "x")}), true},
      {"leading dot dot", Archive({File("../outside/x", "x")}), false},
      {"dot dot inside", Archive({File("/a/../../outside/x", "x")}), false},
      {"through a climbing link",
       Archive({File("/first", "1"), Link("/up", "../outside"), File("/up/x", "x")}), true},
      {"through a deeper climbing link", Archive({Link("/a/b", "../../outside"), Dir("/a/b/d")}),
       false},
      {"NUL in a name", Archive({File(std::string("/x\0/../../outside/y", 19), "x")}), false},
      {"bad checksum", badChecksum, false},
      {"no stream", "", false},
  };
  for (const Case& c : cases) {
    p.files.clear();
    EXPECT_FALSE(Unpack(c.compressed)) << c.what;
    EXPECT_EQ(log, kBroken) << c.what;
    EXPECT_EQ(fs::exists(Under("/first")), c.writesFirst) << c.what;
    EXPECT_TRUE(OutsideIsEmpty()) << c.what;
    fs::remove_all(root);
    fs::create_directory(root);
  }
}

// A damaged stream can end right where a record would begin; it must not pass for the end.
TEST_F(UnpackTest, RefusesAStreamCutOnAnEntryBoundary) {
  std::vector<std::size_t> ends;
  std::string stream =
      FlushedStream({EntryBytes(File("/first", "1")), EntryBytes(File("/second", "2"))}, ends);
  ASSERT_TRUE(Unpack(stream.substr(0, ends[1]))) << log;
  fs::remove_all(Under("/first"));
  fs::remove_all(Under("/second"));
  EXPECT_FALSE(Unpack(stream.substr(0, ends[0])));
  EXPECT_EQ(log, kBroken);
  EXPECT_EQ(ReadFile(Under("/first")), "1");
  EXPECT_FALSE(fs::exists(Under("/second")));
}

TEST_F(UnpackTest, FollowsLinksInsideTheTreeAndReplacesFinalLinks) {
  fs::create_directories(Under("/usr/lib"));
  fs::create_directory_symlink("/usr/lib", Under("/lib"));
  fs::create_directory_symlink("../outside", Under("/escape"));
  fs::create_symlink(outside + "/victim", Under("/conf"));
  ASSERT_TRUE(Unpack(Archive({File("/lib/libc.so", "libc"), Link("/abs", "/"),
                              File("/abs/via-abs", "a"), File("/conf", "conf")})))
      << log;
  EXPECT_EQ(ReadFile(Under("/usr/lib/libc.so")), "libc");
  EXPECT_EQ(ReadFile(Under("/via-abs")), "a");
  EXPECT_EQ(ReadFile(Under("/conf")), "conf");
  EXPECT_EQ(fs::read_symlink(Under("/abs")), "/");  // stored as given
  // A link already in the tree that climbs out of it is no way for an entry either.
  EXPECT_FALSE(Unpack(Archive({File("/escape/passwd", "x")})));
  EXPECT_EQ(log, kBroken);
  EXPECT_TRUE(OutsideIsEmpty());
}

// An absolute link names a path of the new system, never one of the host: a link to the host's
// path of the sibling leads to that path inside the tree, where nothing is.
TEST_F(UnpackTest, TakesAbsoluteLinksAsPathsOfTheTree) {
  EXPECT_FALSE(Unpack(Archive({Link("/host", outside), File("/host/x", "x")})));
  EXPECT_EQ(log,
            "ERROR: installation of ppp-1.0 failed: could not create /host/x: No such file or "
            "directory\n");
  EXPECT_TRUE(OutsideIsEmpty());
}

TEST_F(UnpackTest, RestoresDirectoryTimesAfterTheirContents) {
  ASSERT_TRUE(Unpack(Archive({{S_IFDIR | 0755, "/a", "", 0, 0, kTime - 10},
                              {S_IFDIR | 0755, "/a/b", "", 0, 0, kTime - 20},
                              File("/a/b/c", "c"),
                              File("/a/d", "d")})))
      << log;
  EXPECT_EQ(LinkStatus(Under("/a")).st_mtime, kTime - 10);
  EXPECT_EQ(LinkStatus(Under("/a/b")).st_mtime, kTime - 20);
}

// A full disk: the tree is a 64 KiB file system, mounted in a mount namespace of a child.
TEST_F(UnpackTest, SaysTheDiskIsTooSmallWhenItFills) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "mounting a small file system needs root";
  }
  std::mt19937 random(5);
  std::string compressed = Archive({File("/big", RandomBytes(random, 256 * 1024))});
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipeEnds[0]);
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
        mount("tmpfs", root.c_str(), "tmpfs", 0, "size=64k") != 0) {
      _exit(2);
    }
    bool done = Unpack(compressed);
    std::string report = (done ? "done\n" : "failed\n") + log;
    _exit(write(pipeEnds[1], report.data(), report.size()) == ssize_t(report.size()) ? 0 : 3);
  }
  close(pipeEnds[1]);
  std::string report;
  char buffer[512];
  for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
    report.append(buffer, got);
  }
  close(pipeEnds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 2) {
    GTEST_SKIP() << "no private mount namespace here";
  }
  EXPECT_EQ(report, "failed\nERROR: installation of ppp-1.0 failed: disk is too small\n");
  EXPECT_FALSE(fs::exists(Under("/big")));  // it was written to the child's own mount only
}

TEST_F(UnpackTest, MakesMissingDirectoriesOfAPath) {
  std::ofstream(Under("/file")) << "x";
  fs::path saved = fs::current_path();
  fs::current_path(root);
  struct Case {
    std::string path;
    bool skipLast, ok;
    const char* made;     // a directory that exists afterwards
    const char* notMade;  // one that does not
  } cases[] = {
      {root + "/a/b/c//", false, true, "/a/b/c", nullptr},
      {root + "/d/e/f", true, true, "/d/e", "/d/e/f"},
      {root + "/a/b", false, true, "/a/b", nullptr},
      {"g/h", false, true, "/g/h", nullptr},
      {root + "/file/i", false, false, nullptr, "/file/i"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MakeDirectories(c.path, c.skipLast), c.ok) << c.path;
    if (c.made != nullptr) {
      EXPECT_TRUE(fs::is_directory(Under(c.made))) << c.path;
    }
    if (c.notMade != nullptr) {
      EXPECT_FALSE(fs::exists(Under(c.notMade))) << c.path;
    }
  }
  fs::current_path(saved);
}
