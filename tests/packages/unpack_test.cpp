#include "packages/unpack.h"
#include "packages/place_staged.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

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

// Unpacks into the target tree of a PackageTree, whose "outside" must stay empty.
class UnpackTest : public testing::Test {
 protected:
  // Reads the header into p and unpacks the archive as installing does; messages land in log.
  bool Unpack(const std::string& packageBytes, bool relative = false) {
    std::istringstream source(packageBytes);
    PartReader reader(source, Hashing::kOn);
    reader.AcceptPartType(PartHeader);
    reader.AcceptPartType(PartFiles);
    reader.NextPart();
    EXPECT_TRUE(ReadPackageHeader(p, reader) && reader.CurrentType() == PartFiles);
    GetPackageDatabase().log.clear();
    bool done = false;
    CapturedStdout([&] {
      Staging staging;
      done =
          OpenStaging(staging, relative ? Placement::kWorkingDirectory : Placement::kTargetRoot) &&
          UnpackFiles(p, reader, staging) && PlaceUnpackedFiles(p, staging);
    });
    log.clear();
    for (const std::string& line : GetPackageDatabase().log) {
      log += line + "\n";
    }
    return done;
  }

  // Unpacks a files part of these bytes after the header of ppp-1.0.
  bool UnpackFilesPart(const std::string& compressed) {
    const std::string header = TestPackage("ppp", "1.0").Bytes().substr(8);
    return Unpack(ContainerBytes(header + PartBytes(PartFiles, compressed)));
  }

  PackageTree tree;
  Package p;
  std::string log;
};

}  // namespace

TEST_F(UnpackTest, CreatesEveryEntryTypeWithOwnerModeAndTimes) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "owners and device nodes need root";
  }
  std::mt19937 random(4);
  std::string content = RandomBytes(random, 40000);                  // more than two copy blocks
  const std::string tty("\x05\x04\0\0", 4), sda("\x01\x08\0\0", 4);  // little-endian 4:5, 8:1
  const std::tuple<FileRecord, std::string, dev_t> entries[] = {
      // The directory keeps its time although its contents come after it.
      {{S_IFDIR | 0750, 5, 6, kTime - 100, false, 0, "/etc"}, "", 0},
      {{S_IFREG | 04755, 7, 8, kTime - 200, false, content.size(), "/etc/prog"}, content, 0},
      {{S_IFLNK | 0777, 9, 10, kTime, false, 4, "/etc/link"}, "prog", 0},
      {{S_IFCHR | 0620, 11, 12, kTime - 400, false, 4, "/dev/tty5"}, tty, makedev(4, 5)},
      {{S_IFBLK | 0660, 13, 14, kTime - 500, false, 4, "/dev/sda1"}, sda, makedev(8, 1)},
      {{S_IFIFO | 0600, 15, 16, kTime - 600, false, 0, "/run/control"}, "", 0},
      // Skipped entries are passed over before their type is judged: 5 bytes are no device harm.
      {{S_IFCHR | 0600, 0, 0, kTime, true, 5, "/dev/skipped"}, "12345", 0},
      {{S_IFREG | 0644, 0, 0, kTime, true, 1, "/skip/deeper/file"}, "x", 0},
  };
  TestPackage package("ppp", "1.0");
  for (const auto& [record, data, device] : entries) {
    package.Entry(record, data);
  }
  ASSERT_TRUE(Unpack(package.Bytes())) << log;
  for (const auto& [record, data, device] : entries) {
    struct stat status = {};
    lstat(tree.Target(record.name).c_str(), &status);
    EXPECT_EQ(status.st_mode, record.skip ? 0 : record.mode) << record.name;
    EXPECT_EQ(status.st_uid * 1000 + status.st_gid, record.owner * 1000 + record.group);
    EXPECT_EQ(status.st_rdev, device) << record.name;
    if (!S_ISLNK(record.mode) && !record.skip) {  // a link keeps the time of its creation
      EXPECT_EQ(status.st_mtime, record.modificationTime) << record.name;
      EXPECT_EQ(status.st_atime, record.modificationTime) << record.name;
    }
  }
  EXPECT_TRUE(SameBytes(content, ReadWholeTestFile(tree.Target("/etc/prog"))));
  EXPECT_EQ(fs::read_symlink(tree.Target("/etc/link")), "prog");
  // Directories and skipped entries are not recorded; parents made on the way get the default mode.
  EXPECT_EQ(p.files, (std::set<std::string>{"/etc/prog", "/etc/link", "/dev/tty5", "/dev/sda1",
                                            "/run/control"}));
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(fs::status(tree.Target("/dev")).permissions(), fs::perms(0770 & ~mask));
  EXPECT_FALSE(PathExists(tree.Target("/skip")));  // a skipped entry makes none of its parents
  EXPECT_EQ(GetPackageDatabase().statusLine.substr(0, 20), "installing ppp-1.0 [");
}

// A file is made with its own permission bits and the owner it is given, and neither is set
// again when they already are what it needs; set-id bits and bits that the umask takes away
// must still come out as the archive says.
TEST_F(UnpackTest, GivesFilesTheirExactModeUnderAnyUmask) {
  const mode_t modes[] = {0644, 0755, 0600, 0444, 0777, 04755, 02750, 01777, 0};
  std::uint32_t user = geteuid(), group = getegid();
  for (mode_t mask : {mode_t{0}, mode_t{022}, mode_t{077}}) {
    mode_t saved = umask(mask);
    TestPackage package("ppp", "1.0");
    for (mode_t mode : modes) {
      std::string name = "/m" + std::to_string(mode);
      package.Entry({S_IFREG | mode, user, group, kTime, false, 1, name}, "x");
    }
    bool unpacked = Unpack(package.Bytes());
    umask(saved);
    ASSERT_TRUE(unpacked) << log;
    for (mode_t mode : modes) {
      struct stat status = {};
      lstat(tree.Target("/m" + std::to_string(mode)).c_str(), &status);
      EXPECT_EQ(status.st_mode, S_IFREG | mode) << std::oct << mode << " under umask " << mask;
      EXPECT_EQ(status.st_uid * 1000 + status.st_gid, user * 1000 + group);
    }
  }
}

// The recorded path and the place in the tree follow the name, the disabled state and the mode; a
// disabled package also gets its own database directory in its tree.
TEST_F(UnpackTest, PlacesEntriesByNameStateAndMode) {
  const std::string work = tree.System();
  const std::tuple<bool, bool, const char*, std::string, const char*> cases[] = {
      // disabled, relative, name in the archive, where it lands, what is recorded
      {false, false, "a", tree.Target("/a"), "/a"},
      {true, false, "/b", tree.Target("/x/ppp/b"), "/x/ppp/b"},
      {true, true, "d", work + "/x/ppp/d", "./x/ppp/d"}};
  fs::path saved = fs::current_path();
  fs::current_path(work);
  for (const auto& [disabled, relative, name, place, recorded] : cases) {
    p.files.clear();
    p.disabled = disabled;
    EXPECT_TRUE(Unpack(TestPackage("ppp", "1.0").File(name, name).Bytes(), relative)) << log;
    EXPECT_EQ(ReadWholeTestFile(place), name) << place;
    EXPECT_EQ(p.files, std::set<std::string>{recorded});
  }
  fs::current_path(saved);
  EXPECT_TRUE(fs::is_directory(tree.Target("/x/ppp/var/pdb/ppp")));
  EXPECT_FALSE(PathExists(work + "/x/ppp/var"));
}

// Files and links in the way are replaced, never written through (a hard link shares its file).
// A non-empty directory in the way of a file is a creation error found before anything is placed
// (it once named the later creation's "File exists").
TEST_F(UnpackTest, ReplacesWhatStandsInTheWay) {
  ASSERT_TRUE(WriteTestFile(tree.Outside("/shared"), "outside"));
  MakeTestDirectories(tree.Target("/etc/ppp"));
  fs::create_hard_link(tree.Outside("/shared"), tree.Target("/hosts"));
  fs::create_symlink(tree.Outside("/victim"), tree.Target("/dangling"));
  TestPackage blocked("ppp", "1.0");
  blocked.File("/hosts", "new").File("/etc", "x").File("/after", "y");
  EXPECT_FALSE(Unpack(blocked.Bytes()));
  EXPECT_EQ(log, kFailed + "could not create /etc: Is a directory\n");
  EXPECT_EQ(ListTree(tree.Target()),
            (std::vector<std::string>{"dangling", "etc", "etc/ppp", "hosts"}));
  TestPackage package("ppp", "1.0");
  package.Directory("/etc").File("/hosts", "new").File("/dangling", "new");
  EXPECT_TRUE(Unpack(package.Bytes())) << log;
  EXPECT_EQ(ReadWholeTestFile(tree.Target("/hosts")) + ReadWholeTestFile(tree.Target("/dangling")),
            "newnew");
  EXPECT_TRUE(PathExists(tree.Target("/etc/ppp")));
  EXPECT_EQ(ListTree(tree.Outside()), std::vector<std::string>{"shared"});
  EXPECT_EQ(ReadWholeTestFile(tree.Outside("/shared")), "outside");
}

// Whatever an archive holds, nothing lands outside the tree, and a refused archive leaves
// nothing of itself in it.
TEST_F(UnpackTest, RefusesBrokenAndHostileEntries) {
  auto ppp = [] {
    TestPackage package("ppp", "1.0");
    package.File("/first", "1");
    return package;
  };
  const std::string cases[] = {
      ppp().Entry({S_IFCHR | 0600, 0, 0, kTime, false, 5, "/dev/x"}, "12345").Bytes(),
      ppp().Entry({S_IFSOCK | 0600, 0, 0, kTime, false, 0, "/socket"}, "").Bytes(),
      ppp().Entry({S_IFREG | 0644, 0, 0, kTime, false, 2, "/cut"}, "2").Bytes(),
      ppp().File("/../outside/x", "").Bytes(),
      ppp().File("/a/../x", "").Bytes(),  // refused even where it would stay in the tree
      ppp().File(std::string("/x\0/../../outside/y", 19), "x").Bytes(),
      ppp().Link("/up", "../outside").File("/up/x", "x").Bytes(),
      ppp().Link("/a/b", "../../outside").Directory("/a/b/d").Bytes(),
      ppp().Link("/in", "/etc").File("/in/x", "x").Bytes(),  // even a link that stays inside
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    fs::remove_all(tree.Target());
    fs::create_directory(tree.Target());
    EXPECT_FALSE(Unpack(cases[i])) << i;
    EXPECT_EQ(log, kFailed + "broken package\n") << i;
    EXPECT_TRUE(ListTree(tree.Target()).empty()) << i;
    EXPECT_TRUE(ListTree(tree.Outside()).empty()) << i;
  }
}

// A stream that does not come to its own end, wherever it was cut, is no complete archive; a
// stream of repeated records (a few bytes of the file, far more in memory while they wait for the
// signature check) is refused before it fills memory.
TEST_F(UnpackTest, RefusesDamagedStreams) {
  std::ostringstream archive;
  for (const char* name : {"/first", "/second"}) {
    WriteFileRecord(archive, {S_IFREG | 0644, 0, 0, kTime, false, 1, name});
    archive << "x";
  }
  std::string entries = archive.str(), whole = ZlibCompress(entries, 6);
  std::vector<std::string> damaged = {
      ZlibCompress(entries.substr(0, entries.size() - 4), 6),      // cut inside a name
      "\x78\x5f" + whole.substr(2),                                // bad header
      whole.substr(0, whole.size() - 1) + char(whole.back() ^ 1),  // bad checksum
  };
  for (std::size_t length = 0; length <= whole.size(); ++length) {
    damaged.push_back(whole.substr(0, length));
  }
  std::ostringstream repeated;
  for (int i = 0; i < 400000; ++i) {
    WriteFileRecord(repeated, {S_IFDIR | 0755, 0, 0, kTime, false, 0, "/d"});
  }
  damaged.push_back(ZlibCompress(repeated.str(), 9));
  for (const std::string& compressed : damaged) {
    EXPECT_EQ(UnpackFilesPart(compressed), compressed == whole)
        << HexBytes(compressed.data(), compressed.size());
    EXPECT_EQ(log, compressed == whole ? "" : kFailed + "broken package\n");
  }
  // A name deeper than any path the tree can hold is refused as a creation error.
  std::string deep;
  for (int i = 0; i < PATH_MAX / 2; ++i) {
    deep += "/a";
  }
  std::ostringstream deepRecord;
  WriteFileRecord(deepRecord, {S_IFREG | 0644, 0, 0, kTime, false, 0, deep});
  EXPECT_FALSE(UnpackFilesPart(ZlibCompress(deepRecord.str(), 9)));
  EXPECT_EQ(log.rfind(kFailed + "could not create /a/a/", 0), 0u) << log.substr(0, 200);
  EXPECT_EQ(ListTree(tree.Target()), (std::vector<std::string>{"first", "second"}));
}
