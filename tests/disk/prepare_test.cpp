#include "disk/prepare.h"

#include <sys/stat.h>
#include <unistd.h>

#include <ostream>
#include <string>
#include <vector>

#include "disk/tools.h"
#include "gtest/gtest.h"
#include "tests/support/sandbox_root.h"

namespace {

TargetDisk Disk(const char* geometry) {
  TargetDisk disk;
  EXPECT_TRUE(ParseGeometryLine(geometry, disk)) << geometry;
  return disk;
}

std::string OldTable(int entries) {
  std::string dump = "# partition table of /dev/sda\nunit: cylinders\n\n";
  for (int i = 1; i <= entries; ++i) {
    dump += "/dev/sda" + std::to_string(i) + " : start=        0, size=    0, Id= 0\n";
  }
  return dump;
}

std::vector<std::string> CallsBeginning(const std::vector<std::string>& calls,
                                        const std::string& prefix) {
  std::vector<std::string> matching;
  for (const std::string& call : calls) {
    if (call.compare(0, prefix.size(), prefix) == 0) {
      matching.push_back(call);
    }
  }
  return matching;
}

class PrepareDiskTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!SandboxAvailable()) {
      GTEST_SKIP() << kNeedsRoot;
    }
    root_ = std::make_unique<SandboxRoot>();
    root_->InstallTool("/sbin/sfdisk");
    root_->InstallTool("/sbin/mke2fs");
    root_->Write("/.sandbox/sfdisk-d", OldTable(1));
  }

  SandboxOutcome Prepare(const TargetDisk& disk, bool keep) {
    return RunInSandbox(*root_, [disk, keep] { return PrepareDisk(disk, keep) ? 0 : 1; });
  }

  std::unique_ptr<SandboxRoot> root_;
};

struct GeometryCase {
  const char* name;
  const char* geometry;
  int oldEntries;
  const char* tableInput;
  std::vector<std::string> formatting;
  const char* rootMedia;
  const char* bootMedia;  // null in the single-partition layout
  const char* fstab;
  const char* lilo;
  bool noCheckMarker;
};

// Test logs name a case by its name instead of its bytes.
void PrintTo(const GeometryCase& example, std::ostream* out) {
  *out << example.name;
}

class GeometryTest : public PrepareDiskTest, public testing::WithParamInterface<GeometryCase> {};

TEST_P(GeometryTest, GivesTheTableFormattingFstabAndLiloConfOfItsLayout) {
  const GeometryCase& disk = GetParam();
  root_->Write("/.sandbox/sfdisk-d", OldTable(disk.oldEntries));
  SandboxOutcome outcome = Prepare(Disk(disk.geometry), false);
  ASSERT_EQ(outcome.exitCode, 0) << outcome.output;
  std::vector<std::string> calls = root_->Calls();
  EXPECT_EQ(CallsBeginning(calls, "input "), std::vector<std::string>{disk.tableInput});
  EXPECT_EQ(CallsBeginning(calls, "exec /sbin/mke2fs"), disk.formatting);
  std::string media = std::string("/.sandbox/media/") + disk.rootMedia;
  EXPECT_EQ(root_->Read(media + "/etc/fstab"), disk.fstab);
  EXPECT_EQ(root_->Read(media + "/etc/lilo.conf"), disk.lilo);
  EXPECT_EQ(root_->Exists(media + "/.nofsck"), disk.noCheckMarker);
  for (const char* directory : {"/rw", "/vela", "/vela/etc", "/var", "/var/pdb"}) {
    EXPECT_TRUE(root_->Exists(media + directory)) << directory;
  }
  struct stat status;
  ASSERT_EQ(stat(root_->HostPath(media + "/etc/lilo.conf").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0644u);
  std::vector<std::string> mounts = CallsBeginning(calls, "mount");
  if (disk.bootMedia != nullptr) {
    EXPECT_EQ(mounts.back(), std::string("mount ") + disk.bootMedia + " /flash/boot ext2 0x0 = 0");
  }
  EXPECT_NE(outcome.output.find("Creating partition..."), std::string::npos);
  EXPECT_NE(outcome.output.find("Formatting disk..."), std::string::npos);
  EXPECT_EQ(outcome.output.find("ERROR"), std::string::npos) << outcome.output;
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, GeometryTest,
    testing::Values(
        GeometryCase{"singleExt3",
                     "/dev/sda: 1023 cylinders, 255 heads, 63 sectors/track",
                     4,
                     "input 0,1023,83,*\\n0,0,0\\n0,0,0\\n0,0,0\\n",
                     {"exec /sbin/mke2fs -j /dev/sda1"},
                     "sda1.ext3",
                     nullptr,
                     "/dev/sda1  /     ext3 defaults 1 1\n"
                     "none /proc proc defaults 0 0\n"
                     "none /dev/pts devpts gid=5,mode=620 0 0\n",
                     "boot=/dev/sda1\nmap=/boot/map\ninstall=/boot/boot.b\nlba32\n"
                     "image=/boot/vmlinuz\n  label=System\n  root=/dev/sda1\n  read-only\n",
                     true},
        GeometryCase{"bootExt3",
                     "/dev/sda: 2088 cylinders, 255 heads, 63 sectors/track",
                     4,
                     "input 0,2,83,*\\n2,2086,83,-\\n0,0,0\\n0,0,0\\n",
                     {"exec /sbin/mke2fs /dev/sda1", "exec /sbin/mke2fs -j /dev/sda2"},
                     "sda2.ext3",
                     "/dev/sda1",
                     "/dev/sda2  /     ext3 defaults 1 1\n"
                     "/dev/sda1  /boot ext2 defaults 1 2\n"
                     "none /proc proc defaults 0 0\n"
                     "none /dev/pts devpts gid=5,mode=620 0 0\n",
                     "boot=/dev/sda1\nmap=/boot/map\ninstall=/boot/boot.b\nlba32\n"
                     "image=/boot/vmlinuz\n  label=System\n  root=/dev/sda2\n  read-only\n",
                     true},
        GeometryCase{"bootExt2",
                     "/dev/hda: 1024 cylinders, 1 heads, 64 sectors/track",
                     0,
                     "input 0,320,83,*\\n320,704,83,-\\n",
                     {"exec /sbin/mke2fs /dev/hda1", "exec /sbin/mke2fs /dev/hda2"},
                     "hda2.ext2",
                     "/dev/hda1",
                     "/dev/hda2  /     ext2 defaults 1 1\n"
                     "/dev/hda1  /boot ext2 defaults 1 2\n"
                     "none /proc proc defaults 0 0\n"
                     "none /dev/pts devpts gid=5,mode=620 0 0\n",
                     "boot=/dev/hda1\nmap=/boot/map\ninstall=/boot/boot.b\nlba32\n"
                     "image=/boot/vmlinuz\n  label=System\n  root=/dev/hda2\n  read-only\n",
                     false}),
    [](const testing::TestParamInfo<GeometryCase>& info) { return info.param.name; });

constexpr const char* kSingle = "/dev/sda: 1023 cylinders, 255 heads, 63 sectors/track";
constexpr const char* kBoot = "/dev/sda: 2088 cylinders, 255 heads, 63 sectors/track";

struct FailureCase {
  const char* name;
  const char* geometry;
  const char* failLines;  // record prefixes of calls that fail
  const char* formatted;  // a path left in the new file system of /dev/sda1, "/" ending a directory
  const char* message;
  bool result;
};

// Test logs name a case by its name instead of its bytes.
void PrintTo(const FailureCase& example, std::ostream* out) {
  *out << example.name;
}

class FailureTest : public PrepareDiskTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(FailureTest, FailingStepPrintsItsOneMessage) {
  const FailureCase& failure = GetParam();
  root_->Write("/.sandbox/fail", failure.failLines);
  if (failure.formatted != nullptr) {
    std::string path = std::string("/.sandbox/format/sda1") + failure.formatted;
    path.back() == '/' ? root_->MakeDirectory(path) : root_->Write(path, "in the way");
  }
  SandboxOutcome outcome = Prepare(Disk(failure.geometry), false);
  EXPECT_EQ(outcome.exitCode, failure.result ? 0 : 1) << outcome.output;
  EXPECT_NE(outcome.output.find(failure.message), std::string::npos) << outcome.output;
  EXPECT_EQ(outcome.output.find("ERROR"), outcome.output.rfind("ERROR")) << outcome.output;
}

INSTANTIATE_TEST_SUITE_P(
    Steps, FailureTest,
    testing::Values(
        FailureCase{"format", kSingle, "exec /sbin/mke2fs", nullptr,
                    "Formatting disk...\nERROR: could not format partitions\n", false},
        FailureCase{"formatRoot", kBoot, "exec /sbin/mke2fs -j /dev/sda2", nullptr,
                    "ERROR: could not format partitions\n", false},
        FailureCase{"mount", kSingle, "mount /dev/sda", nullptr,
                    "ERROR: could not mount filesystem\n", false},
        FailureCase{"bootMount", kBoot, "mount /dev/sda1 /flash/boot", nullptr,
                    "ERROR: could not mount filesystem\n", false},
        FailureCase{"lilo", kSingle, "", "/etc", "ERROR: could not create lilo.conf\n", false},
        FailureCase{"fstab", kSingle, "", "/etc/fstab/", "ERROR: could not create fstab\n", false},
        FailureCase{"baseDirectory", kSingle, "", "/vela", "/vela: File exists\n", true},
        FailureCase{"tinyDisk", "/dev/sda: 1024 cylinders, 1 heads, 1 sectors/track", "", nullptr,
                    "ERROR: could not create partitions\n", false}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST_F(PrepareDiskTest, BusyPipeMeansNoPartitionsAndNoToolRuns) {
  SandboxOutcome outcome = RunInSandbox(*root_, [] {
    childPid = getpid();  // another piped child is open
    return PrepareDisk(Disk(kSingle), false) ? 0 : 1;
  });
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_EQ(outcome.output, "Creating partition...\nERROR: could not create partitions\n");
  EXPECT_TRUE(root_->Calls().empty());
}

TEST_F(PrepareDiskTest, BootMountFailureLeavesNothingMountedAtFlash) {
  root_->Write("/.sandbox/fail", "mount /dev/sda1 /flash/boot");
  Prepare(Disk(kBoot), false);
  std::vector<std::string> calls = root_->Calls();
  EXPECT_EQ(calls.back(), "umount /flash = 0");
}

TEST_F(PrepareDiskTest, KeepingOnADiskWithoutSystemWarnsAndGoesOn) {
  SandboxOutcome outcome = Prepare(Disk(kSingle), true);
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.output.find("WARNING: couldn't keep config - couldn't mount file system\n"), 0u)
      << outcome.output;
  EXPECT_TRUE(root_->Exists("/.sandbox/media/sda1.ext3/etc/fstab"));
}

TEST_F(PrepareDiskTest, KeptConfigurationComesBackIntoTheNewSystem) {
  std::string old = root_->Media("sda1", "ext3") + "/vela/store";
  root_->Write(old + "/network.conf", "address 10.0.0.1\n");
  root_->Write(old + "/firewall/rules/input", std::string(40000, 'r'));
  root_->MakeDirectory(old + "/empty");
  root_->Write(old + "/secret", "key");
  ASSERT_EQ(chmod(root_->HostPath(old + "/secret").c_str(), 0600), 0);
  ASSERT_EQ(chown(root_->HostPath(old + "/secret").c_str(), 1234, 99), 0);
  ASSERT_EQ(symlink("network.conf", root_->HostPath(old + "/current").c_str()), 0);
  ASSERT_EQ(mkfifo(root_->HostPath(old + "/pipe").c_str(), 0600), 0);
  SandboxOutcome outcome = Prepare(Disk(kSingle), true);
  ASSERT_EQ(outcome.exitCode, 0) << outcome.output;
  EXPECT_EQ(outcome.output.find("ERROR"), std::string::npos) << outcome.output;
  EXPECT_EQ(outcome.output.find("Reading old configuration..."), 0u) << outcome.output;

  std::string store = "/.sandbox/media/sda1.ext3/vela/store";
  EXPECT_TRUE(root_->Exists("/.sandbox/media/sda1.ext3/etc/fstab"));  // the disk is new
  EXPECT_EQ(root_->Read(store + "/network.conf"), "address 10.0.0.1\n");
  EXPECT_EQ(root_->Read(store + "/firewall/rules/input"), std::string(40000, 'r'));
  EXPECT_EQ(root_->Read(store + "/current"), "address 10.0.0.1\n");
  struct stat status;
  ASSERT_EQ(lstat(root_->HostPath(store + "/current").c_str(), &status), 0);
  EXPECT_TRUE(S_ISREG(status.st_mode));
  ASSERT_EQ(stat(root_->HostPath(store + "/secret").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u);
  EXPECT_EQ(status.st_uid, 1234u);
  EXPECT_EQ(status.st_gid, 99u);
  ASSERT_EQ(stat(root_->HostPath(store + "/empty").c_str(), &status), 0);
  EXPECT_TRUE(S_ISDIR(status.st_mode));
  EXPECT_FALSE(root_->Exists(store + "/pipe"));
}

TEST_F(PrepareDiskTest, MountTargetOfASinglePartitionSystemLeavesBootAlone) {
  root_->Media("sda1", "ext3");
  for (bool withBoot : {false, true}) {
    SandboxOutcome outcome =
        RunInSandbox(*root_, [withBoot] { return MountTarget(Disk(kSingle), withBoot) ? 0 : 1; });
    EXPECT_EQ(outcome.exitCode, 0);
  }
  const std::vector<std::string> attempts = {
      "mount /dev/sda2 /flash ext3 0x0 = -1", "mount /dev/sda1 /flash ext3 0x0 = 0",
      "mount /dev/sda2 /flash ext3 0x0 = -1", "mount /dev/sda1 /flash ext3 0x0 = 0"};
  EXPECT_EQ(root_->Calls(), attempts);
  EXPECT_FALSE(root_->Exists("/.sandbox/media/sda1.ext3/boot"));
}

TEST_F(PrepareDiskTest, MountTargetFindsAnExt2BootLayoutLast) {
  root_->Media("sda2", "ext2");
  root_->Media("sda1", "ext2");
  SandboxOutcome outcome =
      RunInSandbox(*root_, [] { return MountTarget(Disk(kBoot), true) ? 0 : 1; });
  EXPECT_EQ(outcome.exitCode, 0);
  const std::vector<std::string> attempts = {
      "mount /dev/sda2 /flash ext3 0x0 = -1", "mount /dev/sda1 /flash ext3 0x0 = -1",
      "mount /dev/sda2 /flash ext2 0x0 = 0", "mount /dev/sda1 /flash/boot ext2 0x0 = 0"};
  EXPECT_EQ(root_->Calls(), attempts);
}

}  // namespace
