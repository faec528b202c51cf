#include "packages/unpack.h"

#include <fcntl.h>
#include <gtest/gtest.h>
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
#include "packages/package_file.h"
#include "packages/roots.h"
#include "tests/support/package_builder.h"
#include "tests/support/stream_bytes.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kTime = 1600000000;

FileRecord Record(std::uint32_t mode, const std::string& name, std::size_t dataSize,
                  std::uint32_t owner = 0, std::uint32_t group = 0, std::int64_t time = kTime) {
  FileRecord record;
  record.mode = mode;
  record.name = name;
  record.dataSize = dataSize;
  record.owner = owner;
  record.group = group;
  record.modificationTime = time;
  return record;
}

std::string Little(std::uint32_t value, int size) {
  std::string bytes;
  for (int i = 0; i < size; ++i) {
    bytes.push_back(static_cast<char>(value >> (8 * i)));
  }
  return bytes;
}

// A regular-file entry as stored in a decompressed archive, for streams damaged on purpose.
std::string FileEntryBytes(const std::string& name, const std::string& content) {
  return Little(S_IFREG | 0644, 2) + std::string(6, '\0') + Little(kTime, 4) +
         std::string(12, '\0') + Little(content.size(), 4) + Little(name.size(), 2) + name +
         content;
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

// Unpacks into a fresh tree <temp>/root, with an empty sibling <temp>/outside that must stay
// empty whatever an archive holds.
class UnpackTest : public testing::Test {
 protected:
  void SetUp() override {
    root = top / "root";
    outside = top / "outside";
    fs::create_directory(root);
    fs::create_directory(outside);
    savedRoots = GetPackageRoots();
    GetPackageRoots().target = root;
  }
  void TearDown() override {
    GetPackageRoots() = savedRoots;
    GetPackageDatabase().log.clear();
    GetPackageDatabase().statusLine.clear();
  }

  // Installs the files of a package file as the installer does: the header is read into p, then
  // the archive is unpacked. Messages land in log, the console in console.
  bool Unpack(const TestPackage& package, bool relative = false) {
    return Unpack(package.Bytes(), relative);
  }
  bool Unpack(const std::string& packageBytes, bool relative = false) {
    std::istringstream source(packageBytes);
    PartReader reader(source, true);
    for (int type : {PartHeader, PartArchitecture, PartDescription, PartDependencies, PartProvides,
                     PartConflicts, PartFiles}) {
      reader.AcceptPartType(type);
    }
    reader.NextPart();
    EXPECT_TRUE(ReadPackageHeader(p, reader));
    EXPECT_EQ(reader.CurrentType(), PartFiles);
    return Capture([&] { return UnpackFiles(p, reader, relative); });
  }

  // Unpacks a files part holding compressed, which need not be a whole zlib stream.
  bool UnpackStream(const std::string& compressed) {
    std::istringstream source(ContainerBytes(PartBytes(PartFiles, compressed)));
    PartReader reader(source, true);
    reader.AcceptPartType(PartFiles);
    EXPECT_EQ(reader.NextPart(), PartFiles);
    p.name = "ppp";
    p.version = MakeVersion(1, 0, 'f', 0);
    return Capture([&] { return UnpackFiles(p, reader, false); });
  }

  template <typename Step>
  bool Capture(Step step) {
    PackageDatabase& db = GetPackageDatabase();
    db.log.clear();
    testing::internal::CaptureStdout();
    bool done = step();
    console = testing::internal::GetCapturedStdout();
    log.clear();
    for (const std::string& line : db.log) {
      log += line + "\n";
    }
    return done;
  }

  std::string Under(const std::string& path) const { return root + path; }
  bool OutsideIsEmpty() const { return fs::is_empty(outside); }

  TemporaryDirectory top;
  std::string root, outside, console, log;
  PackageRoots savedRoots;
  Package p;
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
  struct Case {
    FileRecord record;
    std::string data;
    const char* path;  // under the root
    mode_t mode;
    dev_t device;
  } cases[] = {
      {Record(S_IFDIR | 0750, "/etc", 0, 5, 6, kTime - 100), "", "/etc", S_IFDIR | 0750, 0},
      {Record(S_IFREG | 04755, "/etc/prog", content.size(), 7, 8, kTime - 200), content,
       "/etc/prog", S_IFREG | 04755, 0},
      {Record(S_IFLNK | 0777, "/etc/link", 4, 9, 10), "prog", "/etc/link", S_IFLNK | 0777, 0},
      {Record(S_IFCHR | 0620, "/dev/tty5", 4, 11, 12, kTime - 400), Little(makedev(4, 5), 4),
       "/dev/tty5", S_IFCHR | 0620, makedev(4, 5)},
      {Record(S_IFBLK | 0660, "dev/sda1", 4, 13, 14, kTime - 500), Little(makedev(8, 1), 4),
       "/dev/sda1", S_IFBLK | 0660, makedev(8, 1)},
      {Record(S_IFIFO | 0600, "/run/control", 0, 15, 16, kTime - 600), "", "/run/control",
       S_IFIFO | 0600, 0},
  };
  TestPackage package("ppp", "1.0");
  for (const Case& c : cases) {
    package.Entry(c.record, c.data);
  }
  ASSERT_TRUE(Unpack(package)) << log;
  for (const Case& c : cases) {
    struct stat status = LinkStatus(Under(c.path));
    EXPECT_EQ(status.st_mode, c.mode) << c.path;
    EXPECT_EQ(status.st_uid, c.record.owner) << c.path;
    EXPECT_EQ(status.st_gid, c.record.group) << c.path;
    if (!S_ISLNK(status.st_mode)) {  // a link keeps the time of its creation
      EXPECT_EQ(status.st_mtime, c.record.modificationTime) << c.path;
      EXPECT_EQ(status.st_atime, c.record.modificationTime) << c.path;
    }
    EXPECT_EQ(status.st_rdev, c.device) << c.path;
  }
  EXPECT_TRUE(SameBytes(content, ReadWholeTestFile(Under("/etc/prog"))));
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
  std::string work = top / "work";
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
    EXPECT_TRUE(Unpack(TestPackage("ppp", "1.0").File(c.name, c.name), c.relative)) << log;
    EXPECT_EQ(ReadWholeTestFile(c.place), c.name) << c.place;
    EXPECT_EQ(p.files, std::set<std::string>{c.recorded});
    // A disabled package gets its own tree and database directory under the target root.
    EXPECT_EQ(fs::is_directory(root + "/x/ppp/var/pdb/ppp"), c.disabled) << c.place;
    for (const std::string& made : {root + "/x", root + "/bin", work + "/x", work + "/bin"}) {
      fs::remove_all(made);
    }
  }
  fs::current_path(saved);
}

TEST_F(UnpackTest, KeepsExistingDirectoriesAndReplacesEverythingElse) {
  fs::create_directories(Under("/etc/ppp"));
  ASSERT_TRUE(WriteTestFile(Under("/etc/ppp/options"), "keep"));
  fs::create_directory(Under("/srv"));
  fs::permissions(Under("/srv"), fs::perms(0700));
  timespec old[2] = {{kTime - 5, 0}, {kTime - 5, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, Under("/srv").c_str(), old, 0), 0);
  ASSERT_TRUE(WriteTestFile(outside + "/shared", "outside"));
  fs::create_hard_link(outside + "/shared", Under("/etc/hosts"));
  fs::create_symlink(outside + "/victim", Under("/etc/dangling"));
  fs::create_symlink(outside + "/shared", Under("/etc/linked"));
  ASSERT_TRUE(Unpack(TestPackage("ppp", "1.0")
                         .Directory("/srv", 0755)
                         .Directory("/etc")
                         .File("/etc/hosts", "new hosts")
                         .File("/etc/dangling", "file")
                         .Directory("/etc/linked")))
      << log;
  struct stat kept = LinkStatus(Under("/srv"));
  EXPECT_EQ(kept.st_mode, S_IFDIR | 0700);
  EXPECT_EQ(kept.st_mtime, kTime - 5);
  EXPECT_EQ(ReadWholeTestFile(Under("/etc/ppp/options")), "keep");
  EXPECT_EQ(ReadWholeTestFile(Under("/etc/hosts")), "new hosts");
  EXPECT_EQ(ReadWholeTestFile(Under("/etc/dangling")), "file");
  EXPECT_TRUE(fs::is_directory(fs::symlink_status(Under("/etc/linked"))));
  // Nothing was written through the old names.
  EXPECT_EQ(ReadWholeTestFile(outside + "/shared"), "outside");
  EXPECT_FALSE(fs::exists(outside + "/victim"));
}

TEST_F(UnpackTest, ReportsTheEntryThatCannotBeCreated) {
  fs::create_directories(Under("/etc/ppp"));
  EXPECT_FALSE(Unpack(TestPackage("ppp", "1.0").File("etc", "x").File("/after", "y")));
  EXPECT_EQ(log, "ERROR: installation of ppp-1.0 failed: could not create etc: File exists\n");
  EXPECT_FALSE(fs::exists(Under("/after")));
  EXPECT_TRUE(fs::is_directory(Under("/etc/ppp")));
}

TEST_F(UnpackTest, PassesOverSkippedEntries) {
  FileRecord skipped = Record(S_IFREG | 0644, "/skipped", 25);
  skipped.skip = true;
  FileRecord skippedDevice = Record(S_IFCHR | 0600, "/dev/skipped", 5);
  skippedDevice.skip = true;
  ASSERT_TRUE(Unpack(TestPackage("ppp", "1.0")
                         .Entry(skipped, "data of the skipped entry")
                         .Entry(skippedDevice, "12345")
                         .File("/kept", "kept")))
      << log;
  EXPECT_FALSE(fs::exists(Under("/skipped")));
  EXPECT_FALSE(fs::exists(Under("/dev/skipped")));
  EXPECT_EQ(ReadWholeTestFile(Under("/kept")), "kept");
  EXPECT_EQ(p.files, std::set<std::string>{"/kept"});
}

// Whatever an archive holds, nothing lands outside the tree and the package is broken.
TEST_F(UnpackTest, RefusesBrokenAndHostileEntries) {
  struct Case {
    const char* what;
    std::string bytes;
    bool writesFirst;  // the entry before the damage was created
  } cases[] = {
      {"device number of 5 bytes",
       TestPackage("ppp", "1.0").Entry(Record(S_IFCHR | 0600, "/dev/x", 5), "12345").Bytes(),
       false},
      {"socket", TestPackage("ppp", "1.0").Entry(Record(S_IFSOCK | 0600, "/s", 0), "").Bytes(),
       false},
      {"data cut",
       TestPackage("ppp", "1.0")
           .File("/first", "1")
           .Entry(Record(S_IFREG | 0644, "/second", 2), "2")
           .Bytes(),
       true},
      {"dot dot", TestPackage("ppp", "1.0").File("/first", "1").File("/../outside/x", "").Bytes(),
       true},
      {"leading dot dot", TestPackage("ppp", "1.0").File("../outside/x", "x").Bytes(), false},
      {"dot dot inside", TestPackage("ppp", "1.0").File("/a/../../outside/x", "x").Bytes(), false},
      {"through a climbing link",
       TestPackage("ppp", "1.0")
           .File("/first", "1")
           .Link("/up", "../outside")
           .File("/up/x", "x")
           .Bytes(),
       true},
      {"through a deeper climbing link",
       TestPackage("ppp", "1.0").Link("/a/b", "../../outside").Directory("/a/b/d").Bytes(), false},
      {"NUL in a name",
       TestPackage("ppp", "1.0").File(std::string("/x\0/../../outside/y", 19), "x").Bytes(), false},
  };
  for (const Case& c : cases) {
    p.files.clear();
    EXPECT_FALSE(Unpack(c.bytes)) << c.what;
    EXPECT_EQ(log, kBroken) << c.what;
    EXPECT_EQ(fs::exists(Under("/first")), c.writesFirst) << c.what;
    EXPECT_TRUE(OutsideIsEmpty()) << c.what;
    fs::remove_all(root);
    fs::create_directory(root);
  }
}

TEST_F(UnpackTest, RefusesDamagedStreams) {
  std::string good = FileEntryBytes("/first", "1");
  std::string badChecksum = ZlibCompress(good, 6);
  badChecksum.back() ^= 1;
  std::vector<std::size_t> ends;
  std::string flushed = FlushedStream({good, FileEntryBytes("/second", "2")}, ends);
  struct Case {
    const char* what;
    std::string compressed;
  } cases[] = {
      {"name cut", ZlibCompress(good + FileEntryBytes("/second", "").substr(0, 33), 6)},
      {"bad checksum", badChecksum},
      {"bad header", "\x78\x5f" + ZlibCompress(good, 6).substr(2)},
      {"no stream", ""},
      // A cut stream can end right where a record would begin; it must not pass for the end.
      {"cut on an entry boundary", flushed.substr(0, ends[0])},
      {"cut inside an entry", flushed.substr(0, ends[1] - 6)},
  };
  ASSERT_TRUE(UnpackStream(flushed)) << log;
  for (const Case& c : cases) {
    EXPECT_FALSE(UnpackStream(c.compressed)) << c.what;
    EXPECT_EQ(log, kBroken) << c.what;
  }
}

TEST_F(UnpackTest, FollowsLinksInsideTheTreeAndReplacesFinalLinks) {
  fs::create_directories(Under("/usr/lib"));
  fs::create_directory_symlink("/usr/lib", Under("/lib"));
  fs::create_directory_symlink("../outside", Under("/escape"));
  fs::create_symlink(outside + "/victim", Under("/conf"));
  ASSERT_TRUE(Unpack(TestPackage("ppp", "1.0")
                         .File("/lib/libc.so", "libc")
                         .Link("/abs", "/")
                         .File("/abs/via-abs", "a")
                         .File("/conf", "conf")))
      << log;
  EXPECT_EQ(ReadWholeTestFile(Under("/usr/lib/libc.so")), "libc");
  EXPECT_EQ(ReadWholeTestFile(Under("/via-abs")), "a");
  EXPECT_EQ(ReadWholeTestFile(Under("/conf")), "conf");
  EXPECT_EQ(fs::read_symlink(Under("/abs")), "/");  // stored as given
  // A link already in the tree that climbs out of it is no way for an entry either.
  EXPECT_FALSE(Unpack(TestPackage("ppp", "1.0").File("/escape/passwd", "x")));
  EXPECT_EQ(log, kBroken);
  EXPECT_TRUE(OutsideIsEmpty());
}

// An absolute link names a path of the new system, never one of the host: a link to the host's
// path of the sibling leads to that path inside the tree, where nothing is.
TEST_F(UnpackTest, TakesAbsoluteLinksAsPathsOfTheTree) {
  EXPECT_FALSE(Unpack(TestPackage("ppp", "1.0").Link("/host", outside).File("/host/x", "x")));
  EXPECT_EQ(log,
            "ERROR: installation of ppp-1.0 failed: could not create /host/x: No such file or "
            "directory\n");
  EXPECT_TRUE(OutsideIsEmpty());
}

TEST_F(UnpackTest, RestoresDirectoryTimesAfterTheirContents) {
  ASSERT_TRUE(Unpack(TestPackage("ppp", "1.0")
                         .Entry(Record(S_IFDIR | 0755, "/a", 0, 0, 0, kTime - 10), "")
                         .Entry(Record(S_IFDIR | 0755, "/a/b", 0, 0, 0, kTime - 20), "")
                         .File("/a/b/c", "c")
                         .File("/a/d", "d")))
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
  TestPackage package("ppp", "1.0");
  package.File("/big", RandomBytes(random, 256 * 1024));
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
    bool done = Unpack(package);
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
  ASSERT_TRUE(WriteTestFile(Under("/file"), "x"));
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
