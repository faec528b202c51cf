#include "packages/install_package.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>

#include "packages/database_load.h"
#include "packages/package_database.h"
#include "packages/placement_record.h"
#include "packages/staging.h"
#include "tests/support/install_helpers.h"
#include "tests/support/package_builder.h"
#include "tests/support/package_scenario.h"
#include "tests/support/stream_bytes.h"

namespace {

namespace fs = std::filesystem;

// The placement step at which the test's hook ends the process or fails the step; 0 for none.
unsigned placementSteps = 0;
unsigned stopAtStep = 0;
bool killAtStop = false;

bool CountPlacementStep() {
  if (++placementSteps != stopAtStep) {
    return true;
  }
  if (killAtStop) {
    _exit(9);
  }
  errno = ENOSPC;
  return false;
}

// Every entry below dir with its type, permissions and bytes (or link target), in name order.
std::string Snapshot(const std::string& dir) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    std::string& text = entries[entry.path().lexically_relative(dir).string()];
    auto status = entry.symlink_status();
    text = std::to_string(static_cast<int>(status.type())) + " " +
           std::to_string(static_cast<unsigned>(status.permissions())) + " ";
    if (fs::is_symlink(status)) {
      text += fs::read_symlink(entry.path()).string();
    } else if (fs::is_regular_file(status)) {
      text += ReadTreeFile(entry.path().string());
    }
  }
  std::string all;
  for (const auto& [path, text] : entries) {
    all += path + ": " + text + "\n";
  }
  return all;
}

class InstallPackageTest : public InstallTest {
 protected:
  void TearDown() override {
    placementStepForTests = nullptr;
    InstallTest::TearDown();
  }

  std::string Installed(const char* file) { return ReadTreeFile(tree.Target(file)); }

  // The package of that name and version: 300 files whose bytes name the version in /d, and
  // files at paths of its own. "bare" keeps no metadata files: no version file shows it.
  std::string ManyFiles(const char* version, const std::string& name = "many") {
    TestPackage many(name, version);
    std::string own = "/only-" + std::string(version);
    if (name == "bare") {
      many.Flags(kFlagNoMetadataFiles);
    }
    many.Directory("/d").Directory(own);
    for (int i = 0; i < 300; ++i) {
      many.File("/d/f" + std::to_string(i), std::string(version) + "-" + std::to_string(i));
    }
    many.File(own + "/x", version).Link("/d/link", version);
    std::string path = File(name + "-" + version + ".vpk");
    EXPECT_TRUE(many.Write(path, TestPackage::kSigned));
    return path;
  }

  // Installs in a child whose placement stops at step (0: never), forgetting the database first
  // when told (as a boot-time installation does); returns the steps it counted or stopped at.
  unsigned InstallInChild(const std::string& path, unsigned step, bool kill,
                          const Selection& selection = {}, bool forget = false) {
    int counted[2];
    EXPECT_EQ(pipe(counted), 0);
    pid_t child = fork();
    if (child == 0) {
      placementSteps = 0;
      stopAtStep = step;
      killAtStop = kill;
      placementStepForTests = CountPlacementStep;
      if (forget) {
        GetPackageDatabase().Clear();
      }
      InstallTestFile(path, AllowUpgrade, selection);
      ssize_t written = write(counted[1], &placementSteps, sizeof placementSteps);
      _exit(written == sizeof placementSteps ? 0 : 1);
    }
    close(counted[1]);
    unsigned steps = 0;
    bool read = ::read(counted[0], &steps, sizeof steps) == sizeof steps;
    close(counted[0]);
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    return read ? steps : 0;
  }

  // Puts the tree back as saved.
  void RestoreTree(const std::string& saved) {
    for (const auto& entry : fs::directory_iterator(tree.Target())) {
      fs::remove_all(entry.path());
    }
    fs::copy(saved, tree.Target(), fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  }
};

TEST_F(InstallPackageTest, InstallsAgainOrReplacesOnlyAsTheModeAllows) {
  struct Step {
    const char* version;
    InstallMode mode;
    int result;
    const char* installed;  // the version in ppp.conf afterwards
    const char* message;
  } steps[] = {
      {"2.0", AllowUpgrade, 0, "2.0", "installed ppp-2.0"},
      {"2.0", AllowUpgrade, 1, "2.0", "WARNING: omitting package ppp-2.0: it is already installed"},
      {"2.0", AllowUpgrade | AcceptInstalled, 0, "2.0", "installed ppp-2.0"},
      {"3.0", AllowDowngrade, 1, "2.0",
       "WARNING: omitting package ppp-3.0: older package is already installed"},
      {"3.0", AllowUpgrade, 0, "3.0", "installed ppp-3.0"},
      {"2.0", AllowUpgrade, 1, "3.0",
       "WARNING: omitting package ppp-2.0: newer package ppp-3.0 is already installed"},
      {"2.0", AllowDowngrade, 0, "2.0", "installed ppp-2.0"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(step.version) + " " + std::to_string(step.mode));
    GetPackageDatabase().log.clear();
    EXPECT_EQ(InstallTestFile(Package("ppp", step.version), step.mode), step.result);
    EXPECT_EQ(LogText(), step.message);
    EXPECT_EQ(Installed("/ppp"), step.installed);
    EXPECT_EQ(Installed("/var/pdb/ppp/files"), "ppp\nppp-" + std::string(step.installed) + "\n");
    // The replaced package's own file went with it.
    EXPECT_EQ(PathExists(tree.Target("/ppp-2.0")), step.installed == std::string("2.0"));
    EXPECT_EQ(PathExists(tree.Target("/ppp-3.0")), step.installed == std::string("3.0"));
  }
}

// Ignoring a missing dependency once let the package in, and the rules then removed it and the
// installed package of that name with it.
TEST_F(InstallPackageTest, PackageThatTheRulesWouldRemoveLeavesTheInstalledOneAlone) {
  ASSERT_EQ(InstallTestFile(Package("base", "1.0"), AllowUpgrade), 0);
  ASSERT_EQ(InstallTestFile(Package("ppp", "1.0"), AllowUpgrade), 0);
  GetPackageDatabase().log.clear();
  TestPackage needy("ppp", "2.0");
  ASSERT_TRUE(needy.Depends("zlib").Write(File("needy.vpk"), TestPackage::kSigned));
  EXPECT_EQ(InstallTestFile(File("needy.vpk"), AllowUpgrade | IgnoreUnusable), 1);
  EXPECT_EQ(LogText(), "ERROR: can not install ppp-2.0: the installed packages do not let it stay");
  EXPECT_EQ(Installed("/var/pdb/ppp/files"), "ppp\nppp-1.0\n");
  EXPECT_EQ(InstalledStates(), "base 1.0 on\nppp 1.0 on\n");
}

// A conflict installs the newcomer disabled, an image package keeps only its uninstall script (it
// once kept neither), a 16-byte name fills its field unterminated, a boot image marks the upgrade.
TEST_F(InstallPackageTest, HeaderDecidesWhatTheInstallationKeeps) {
  TestPackage pppd("pppd", "1.0"), image("image", "1.0"), full("abcdefghijklmnop", "1.0");
  ASSERT_TRUE(pppd.Conflicts("ppp").Write(File("pppd.vpk"), TestPackage::kSigned));
  image.Image("IMAGE").InstallScript("echo in\n").UninstallScript("echo out\n").File("/f", "f");
  ASSERT_TRUE(image.Write(File("image.vpk"), TestPackage::kSigned));
  ASSERT_TRUE(full.File("/g", "g").Write(File("full.vpk"), TestPackage::kSigned));
  for (const std::string& path :
       {File("pppd.vpk"), Package("ppp", "2.9"), File("image.vpk"), File("full.vpk")}) {
    EXPECT_EQ(InstallTestFile(path, AllowUpgrade), 0) << path;
  }
  EXPECT_EQ(LogText(),
            "installed pppd-1.0\ninstalled (disabled) ppp-2.9\ninstalled image-1.0\n"
            "installed abcdefghijklmnop-1.0");
  EXPECT_EQ(InstalledStates(), "pppd 1.0 on\nppp 2.9 off\nimage 1.0 on\nabcdefghijklmnop 1.0 on\n");
  EXPECT_EQ(Installed("/var/pdb/ppp/disabled"), "auto\n");
  EXPECT_EQ(Installed("/x/ppp/ppp"), "2.9");
  EXPECT_FALSE(PathExists(tree.Target("/ppp")));
  EXPECT_FALSE(PathExists(tree.Target("/var/pdb/image/oninstall")));
  EXPECT_NE(Installed("/var/pdb/image/onuninstall").find("echo out\n"), std::string::npos);

  TestPackage kernel("kernel", "5.4");
  kernel.Flags(kFlagBootImage).File("/boot/vmlinuz", "k");
  ASSERT_TRUE(kernel.Write(File("kernel.vpk"), TestPackage::kSigned));
  bool bootImage = false;
  ASSERT_EQ(InstallTestFile(File("kernel.vpk"), AllowUpgrade, {}, &bootImage), 0);
  EXPECT_TRUE(bootImage);
  EXPECT_EQ(Installed("/UPGRADED"), "");
  EXPECT_EQ(Installed("/boot/vmlinuz"), "k");
  // A system booted with this image has its files: they are not unpacked again.
  PackageTree again;
  ASSERT_EQ(setenv("bootimage", "1", 1), 0);
  EXPECT_EQ(InstallTestFile(File("kernel.vpk"), AllowUpgrade), 0);
  ASSERT_EQ(unsetenv("bootimage"), 0);
  EXPECT_FALSE(PathExists(again.Target("/boot/vmlinuz")));
  EXPECT_TRUE(PathExists(again.Target("/var/pdb/kernel/version")));
}

// What every refused package must leave: nothing outside the tree, the installed base package
// whole, a database that loads, and no staging area.
void ExpectTreeIntact(const PackageTree& tree) {
  EXPECT_TRUE(ListTree(tree.Outside()).empty());
  EXPECT_EQ(ReadTreeFile(tree.Target("/bin/base")), "base");
  EXPECT_EQ(ReadTreeFile(tree.Target("/var/pdb/base/files")), "bin/base\n");
  EXPECT_FALSE(PathExists(tree.Target("/.vpk-staging")));
  GetPackageDatabase().Clear();
  EXPECT_TRUE(LoadDatabase({.quiet = false}));
  EXPECT_EQ(InstalledStates().substr(0, 12), "base 1.0 on\n");
}

// Signed hostile packages, each a newer "evil": refused, the earlier one kept, or harmless. (The
// ways out of the tree are the unpacker test's cases; one stands for them here.)
TEST_F(InstallPackageTest, HostilePackagesAreRefusedOrHarmless) {
  TestPackage base("base", "1.0");
  base.Directory("/etc").File("/bin/base", "base");
  ASSERT_TRUE(base.Write(File("base.vpk"), TestPackage::kSigned));
  ASSERT_EQ(InstallTestFile(File("base.vpk"), AllowUpgrade), 0);
  ASSERT_EQ(mkfifo(tree.Target("/bin/fifo").c_str(), 0644), 0);
  const std::string longName = "/" + std::string(NAME_MAX + 1, 'n');
  struct Case {
    std::function<void(TestPackage&)> build;
    std::string outcome;  // "installed", or the end of the error
    bool cut = false;     // the reporter cuts a message this long: only its start is compared
  } cases[] = {
      {[](TestPackage& p) { p.File("/../outside/x", "x"); }, "broken package"},
      // links that an earlier package left lead nowhere out of the tree either
      {[](TestPackage& p) { p.Link("/bin/up", "../../outside").Link("/bin/top", "/"); },
       "installed"},
      {[](TestPackage& p) { p.File("/bin/up/x", "x"); }, "broken package"},
      {[](TestPackage& p) { p.Link("/etc", "../outside").File("/etc/x", "x"); },
       "could not create /etc: Is a directory"},
      {[](TestPackage& p) { p.File("/bin/fifo", "now a file"); }, "installed"},
      {[](TestPackage& p) {
         p.Entry({S_IFREG | 0644, 0, 0, 0, false, 0xffffffff, "/big"}, "abc");
       },
       "broken package"},
      {[&](TestPackage& p) { p.File(longName, "x"); }, "could not create " + longName.substr(0, 40),
       true},
  };
  std::string installed = "evil 1.0 on\n";
  ASSERT_EQ(InstallTestFile(Package("evil", "1.0"), AllowUpgrade), 0);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    std::string version = "1." + std::to_string(i + 1);
    TestPackage evil("evil", version.c_str());
    cases[i].build(evil);
    ASSERT_TRUE(evil.Write(File("evil.vpk"), TestPackage::kSigned));
    GetPackageDatabase().log.clear();
    bool in = cases[i].outcome == "installed";
    EXPECT_EQ(InstallTestFile(File("evil.vpk"), AllowUpgrade), in ? 0 : 1);
    std::string expected =
        in ? "installed evil-" + version
           : "ERROR: installation of evil-" + version + " failed: " + cases[i].outcome;
    std::string log = LogText();
    EXPECT_EQ(cases[i].cut ? log.substr(0, expected.size()) : log, expected);
    installed = in ? "evil " + version + " on\n" : installed;
    ExpectTreeIntact(tree);
    EXPECT_EQ(InstalledStates(), "base 1.0 on\n" + installed);
  }
  EXPECT_EQ(ReadTreeFile(tree.Target("/bin/fifo")), "now a file");
}

// Damaged, forged or unknown unsigned packages (also one that would overwrite or upgrade the
// installed one) are refused, changing nothing; only a digest of the table admits one unsigned.
TEST_F(InstallPackageTest, UnverifiedPackagesChangeNothing) {
  TestPackage base("base", "1.0");
  ASSERT_TRUE(base.File("/bin/base", "base").Write(File("base.vpk"), TestPackage::kSigned));
  ASSERT_EQ(InstallTestFile(File("base.vpk"), AllowUpgrade), 0);
  std::string known = Package("ppp", "2.0", "", TestPackage::kUnsigned);
  TestDigestTable table(known);
  TestPackage upgrade("base", "2.0"), other("other", "1.0");
  upgrade.File("/bin/base", "forged");
  other.File("/bin/base", "forged");
  std::string signedBytes = TestPackage("cut", "1.0").File("/f", "x").Bytes(TestPackage::kSigned);
  std::string forged = ReadWholeTestFile(Package("ppp", "4.0"));
  forged[8 + 6 + 20] ^= 1;  // the build time in the header: the signed digest no longer fits
  std::string header = TestPackage("huge", "1.0").Bytes().substr(8);
  // A files part whose length would wrap a 32-bit sum of offsets.
  std::string huge = ContainerBytes(header + std::string("\x04\x00\xf0\xff\xff\xff", 6) + "xy");
  const std::pair<std::string, std::string> cases[] = {
      {upgrade.Bytes(), "ERROR: installation of base-2.0 failed: broken package"},
      {other.Bytes(), "ERROR: installation of other-1.0 failed: broken package"},
      {ReadWholeTestFile(Package("ppp", "3.0", "", TestPackage::kUnsigned)),
       "ERROR: installation of ppp-3.0 failed: broken package"},
      {forged, "ERROR: installation of ppp-4.0 failed: broken package"},
      {signedBytes.substr(0, signedBytes.size() / 2),
       "ERROR: installation of cut-1.0 failed: broken package"},
      {huge, "ERROR: installation of huge-1.0 failed: broken package"},
  };
  for (const auto& [bytes, message] : cases) {
    SCOPED_TRACE(message);
    ASSERT_TRUE(WriteTestFile(File("bad.vpk"), bytes));
    GetPackageDatabase().log.clear();
    EXPECT_EQ(InstallTestFile(File("bad.vpk"), AllowUpgrade), 1);
    EXPECT_EQ(LogText(), message);
    ExpectTreeIntact(tree);
    EXPECT_EQ(InstalledStates(), "base 1.0 on\n");
    EXPECT_EQ(ListTree(tree.Target()).size(), 8u);  // bin/base, and var/pdb/base with 3 files
  }
  GetPackageDatabase().log.clear();
  EXPECT_EQ(InstallTestFile(known, AllowUpgrade), 0);
  EXPECT_EQ(LogText(), "installed ppp-2.0");
}

// A full disk in the middle of a package, new or an upgrade, leaves nothing of it; the version
// installed before stays whole.
TEST_F(InstallPackageTest, FullDiskKeepsWhatWasInstalled) {
  if (!MountTmpfs(tree.Target(), "size=256k")) {
    GTEST_SKIP() << "a small file system needs root and a private mount namespace";
  }
  ASSERT_EQ(InstallTestFile(Package("base", "1.0"), AllowUpgrade), 0);
  ASSERT_EQ(InstallTestFile(Package("ppp", "1.0"), AllowUpgrade), 0);
  std::vector<std::string> before = ListTree(tree.Target());
  std::mt19937 random(7);
  for (const char* name : {"big", "ppp"}) {
    SCOPED_TRACE(name);
    TestPackage big(name, "2.0");
    big.File("/small", "s").File("/large", RandomBytes(random, 512 * 1024));
    ASSERT_TRUE(big.Write(File("big.vpk"), TestPackage::kSigned));
    GetPackageDatabase().log.clear();
    EXPECT_EQ(InstallTestFile(File("big.vpk"), AllowUpgrade), 1);
    EXPECT_EQ(LogText(),
              "ERROR: installation of " + std::string(name) + "-2.0 failed: disk is too small");
    EXPECT_EQ(ListTree(tree.Target()), before);
    EXPECT_EQ(InstalledStates(), "base 1.0 on\nppp 1.0 on\n");
    EXPECT_EQ(ReadTreeFile(tree.Target("/ppp")), "1.0");
  }
}

// Entries on a /boot of its own cannot be renamed out of the staging area: they are copied whole,
// with their modes and times.
TEST_F(InstallPackageTest, EntriesOnAnotherFileSystemArePlacedWhole) {
  if (!MountTmpfs(tree.Target("/boot"), "size=1m")) {
    GTEST_SKIP() << "a second file system needs root and a private mount namespace";
  }
  TestPackage kernel("kernel", "1.0");
  kernel.File("/boot/vmlinuz", "kernel image", 0640).Link("/boot/current", "vmlinuz");
  kernel.File("/etc/kernel", "k");
  ASSERT_TRUE(kernel.Write(File("kernel.vpk"), TestPackage::kSigned));
  EXPECT_EQ(InstallTestFile(File("kernel.vpk"), AllowUpgrade), 0) << LogText();
  EXPECT_EQ(ReadTreeFile(tree.Target("/boot/vmlinuz")), "kernel image");
  struct stat status {};
  ASSERT_EQ(stat(tree.Target("/boot/vmlinuz").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(status.st_mtime, 1700000000);
  EXPECT_EQ(ReadTreeFile(tree.Target("/boot/current")), "kernel image");  // through the link
  EXPECT_EQ(ListTree(tree.Target("/boot")), (std::vector<std::string>{"current", "vmlinuz"}));
  EXPECT_EQ(InstalledStates(), "kernel 1.0 on\n");
  // An upgrade whose kernel does not fit: the old one, moved aside to the tree's file system, is
  // copied back. It used to be deleted with its record.
  std::string before = Snapshot(tree.Target());
  std::mt19937 random(3);
  TestPackage large("kernel", "2.0");
  large.File("/boot/vmlinuz", RandomBytes(random, 1536 * 1024)).File("/etc/kernel", "k2");
  ASSERT_TRUE(large.Write(File("large.vpk"), TestPackage::kSigned));
  GetPackageDatabase().log.clear();
  EXPECT_EQ(InstallTestFile(File("large.vpk"), AllowUpgrade), 1);
  EXPECT_EQ(LogText(), "ERROR: installation of kernel-2.0 failed: disk is too small");
  EXPECT_EQ(Snapshot(tree.Target()), before);
  EXPECT_EQ(InstalledStates(), "kernel 1.0 on\n");
}

// After a kill at any step, recovery leaves the version before or the new one whole, as a listing
// announces. Killed upgrades once left a mix, fresh ones files without a record; a package without
// a version file was undone after its record stood, the same version completed too early.
TEST_F(InstallPackageTest, KilledPlacementIsCompletedOrUndoneWhole) {
  if (!MountTmpfs(tree.Target(), "size=64m")) {
    GTEST_SKIP() << "the sweep needs root and a private mount namespace";
  }
  struct Case {
    const char* name;
    const char* package;  // "many" or "bare"
    const char* before;   // the version installed first, or null
    const char* version;
    Selection selection;
    bool forget = false;
  } cases[] = {
      {"fresh installation", "many", nullptr, "2.0", {}},
      {"upgrade", "many", "1.0", "2.0", {}},
      {"upgrade without metadata files", "bare", "1.0", "2.0", {}},
      {"same version enabled by the user", "many", "2.0", "2.0", {{"many", false}}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GetPackageDatabase().Clear();
    if (c.before != nullptr) {
      ASSERT_EQ(InstallTestFile(ManyFiles(c.before, c.package), AllowUpgrade), 0);
    }
    std::string upgrade = ManyFiles(c.version, c.package);
    std::string saved = File(std::string("saved-") + c.name);
    fs::copy(tree.Target(), saved, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    std::string before = Snapshot(tree.Target());
    unsigned total = InstallInChild(upgrade, 0, false, c.selection, c.forget);
    ASSERT_GT(total, 2u);
    std::string after = Snapshot(tree.Target());
    ASSERT_NE(before, after);
    // Thirty steps from the first to the completion, and the swap of the record just before it.
    std::set<unsigned> points = {total - 1};
    for (unsigned i = 0; i < 30; ++i) {
      points.insert(1 + i * (total - 1) / 29);
    }
    for (unsigned point : points) {
      SCOPED_TRACE("killed at step " + std::to_string(point) + " of " + std::to_string(total));
      RestoreTree(saved);
      InstallInChild(upgrade, point, true, c.selection, c.forget);
      std::string name;
      Interrupted way = FindInterruptedInstallation(name);
      EXPECT_NE(way, Interrupted::kNone);
      EXPECT_EQ(name, c.package);
      RemoveStaleStaging(Placement::kTargetRoot);  // as every writer begins
      EXPECT_EQ(Snapshot(tree.Target()), way == Interrupted::kCompleted ? after : before);
      EXPECT_EQ(way == Interrupted::kCompleted, point == total);
    }
    for (const auto& entry : fs::directory_iterator(tree.Target())) {
      fs::remove_all(entry.path());
    }
  }
}

// A failed step of the placement (a full disk, no inodes, a failed copy) puts the version before
// back byte for byte, in the tree and the database. It used to remove the installed package.
TEST_F(InstallPackageTest, FailedPlacementPutsTheVersionBeforeBack) {
  if (!MountTmpfs(tree.Target(), "size=64m")) {
    GTEST_SKIP() << "the faults need root and a private mount namespace";
  }
  ASSERT_EQ(InstallTestFile(ManyFiles("1.0"), AllowUpgrade), 0);
  std::string upgrade = ManyFiles("2.0");
  std::string before = Snapshot(tree.Target());
  placementStepForTests = CountPlacementStep;
  killAtStop = false;
  for (unsigned step : {1u, 2u, 302u, 603u}) {
    SCOPED_TRACE("failing step " + std::to_string(step));
    placementSteps = 0;
    stopAtStep = step;
    GetPackageDatabase().log.clear();
    EXPECT_EQ(InstallTestFile(upgrade, AllowUpgrade), 1);
    EXPECT_EQ(LogText(), "ERROR: installation of many-2.0 failed: disk is too small");
    EXPECT_EQ(Snapshot(tree.Target()), before);
    EXPECT_EQ(InstalledStates(), "many 1.0 on\n");
  }
}

// The record is read back after a crash, so it is hostile input: a record cut short, a name
// that climbs out, a path through a link that leads out or a record that is a link itself is
// never carried out beyond the tree, and the area goes all the same.
TEST_F(InstallPackageTest, HostilePlacementRecordNeverReachesOutOfTheTree) {
  const std::string outside = File("beyond");
  struct Case {
    const char* name;
    std::string record;
    bool link;  // the record is a link to the file outside
  } cases[] = {
      {"cut short", "vpk placement 2\nmany\n1 2\ng ../beyond\n", false},
      {"climbing name", "vpk placement 2\nmany\n1 2\nf ../beyond\ng ../beyond\nend\n", false},
      {"unsafe package name", "vpk placement 2\n../x\n1 2\ng up/beyond\nend\n", false},
      {"through a link out", "vpk placement 2\nmany\n1 2\nf up/beyond\nend\n", false},
      {"a link itself", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteTreeFile(outside, "kept");
    fs::remove_all(tree.Target("/.vpk-staging"));
    fs::remove(tree.Target("/up"));
    fs::create_directory_symlink("../..", tree.Target("/up"));
    ASSERT_TRUE(fs::create_directory(tree.Target("/.vpk-staging")));
    if (c.link) {
      fs::create_symlink(outside, tree.Target("/.vpk-staging/placement"));
    } else {
      WriteTreeFile(tree.Target("/.vpk-staging/placement"), c.record);
      WriteTreeFile(tree.Target("/.vpk-staging/o0"), "aside");
    }
    RemoveStaleStaging(Placement::kTargetRoot);
    EXPECT_EQ(ReadTreeFile(outside), "kept");
    EXPECT_FALSE(PathExists(tree.Target("/.vpk-staging")));
  }
}

}  // namespace
