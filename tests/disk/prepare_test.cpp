#include "disk/prepare.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/sandbox_layout.h"
#include "tests/support/sandbox_root.h"

namespace {

constexpr const char* kSingle = "/dev/sda: 1023 cylinders, 255 heads, 63 sectors/track";
constexpr const char* kBoot = "/dev/sda: 2088 cylinders, 255 heads, 63 sectors/track";
// The old system on /dev/sda1, and what the recording mke2fs puts in its new file system.
const std::string kOldSda1 = std::string(kMediaDirectory) + "/sda1.ext3";
const std::string kNewSda1 = std::string(kFormatTemplateDirectory) + "/sda1";

// Prepares the disk in the root, whose disk holds an old table of `oldEntries` partitions.
SandboxOutcome Prepare(const SandboxRoot& root, const char* geometry, bool keep, int oldEntries) {
  std::string dump = "# partition table of /dev/sda\nunit: cylinders\n\n";
  for (int i = 1; i <= oldEntries; ++i) {
    dump += "/dev/sda" + std::to_string(i) + " : start=        0, size=    0, Id= 0\n";
  }
  root.Write(kDumpFile, dump);
  TargetDisk disk;
  EXPECT_TRUE(ParseGeometryLine(geometry, disk)) << geometry;
  return RunInSandbox(root, [&] { return PrepareDisk(disk, keep) ? 0 : 1; });
}

TEST(PrepareDisk, EachLayoutGetsItsTableFormattingMountsFstabAndLiloConf) {
  if (!SandboxAvailable()) {
    GTEST_SKIP() << kNeedsRoot;
  }
  const struct {
    const char* geometry;
    int oldEntries;
    const char* table;  // as fed to sfdisk
    std::vector<std::string> formatting;
    std::vector<std::string> mounts;
    const char* rootMedia;  // where the new root file system lands
    const char* fstab;      // its device lines
    const char* liloBoot;
    const char* liloRoot;
    bool noCheckMarker;
    const char* warning = "";  // the one line printed before the disk is touched
    bool uefi = false;         // the machine was started through UEFI
  } cases[] = {
      // clang-format off
      {kSingle, 4, "input 0,1023,83,*\\n0,0,0\\n0,0,0\\n0,0,0\\n",
       {"exec /sbin/mke2fs -j /dev/sda1"},
       {"mount /dev/sda2 /flash ext3 0x0 = -1", "mount /dev/sda1 /flash ext3 0x0 = 0"},
       "sda1.ext3", "/dev/sda1  /     ext3 defaults 1 1\n", "/dev/sda1", "/dev/sda1", true},
      {kBoot, 4, "input 0,2,83,*\\n2,2086,83,-\\n0,0,0\\n0,0,0\\n",
       {"exec /sbin/mke2fs /dev/sda1", "exec /sbin/mke2fs -j /dev/sda2"},
       {"mount /dev/sda2 /flash ext3 0x0 = 0", "mount /dev/sda1 /flash/boot ext2 0x0 = 0"},
       "sda2.ext3", "/dev/sda2  /     ext3 defaults 1 1\n/dev/sda1  /boot ext2 defaults 1 2\n",
       "/dev/sda1", "/dev/sda2", true},
      // 32 MiB: ext2 throughout, and 320 cylinders of 32 KiB hold the 10 MiB of /boot.
      {"/dev/hda: 1024 cylinders, 1 heads, 64 sectors/track", 0,
       "input 0,320,83,*\\n320,704,83,-\\n",
       {"exec /sbin/mke2fs /dev/hda1", "exec /sbin/mke2fs /dev/hda2"},
       {"mount /dev/hda2 /flash ext3 0x0 = -1", "mount /dev/hda1 /flash ext3 0x0 = -1",
        "mount /dev/hda2 /flash ext2 0x0 = 0", "mount /dev/hda1 /flash/boot ext2 0x0 = 0"},
       "hda2.ext2", "/dev/hda2  /     ext2 defaults 1 1\n/dev/hda1  /boot ext2 defaults 1 2\n",
       "/dev/hda1", "/dev/hda2", false},
      // A disk whose name ends in a digit numbers its partitions behind a "p".
      {"/dev/nvme0n1: 2088 cylinders, 255 heads, 63 sectors/track", 4,
       "input 0,2,83,*\\n2,2086,83,-\\n0,0,0\\n0,0,0\\n",
       {"exec /sbin/mke2fs /dev/nvme0n1p1", "exec /sbin/mke2fs -j /dev/nvme0n1p2"},
       {"mount /dev/nvme0n1p2 /flash ext3 0x0 = 0", "mount /dev/nvme0n1p1 /flash/boot ext2 0x0 = 0"},
       "nvme0n1p2.ext3",
       "/dev/nvme0n1p2  /     ext3 defaults 1 1\n/dev/nvme0n1p1  /boot ext2 defaults 1 2\n",
       "/dev/nvme0n1p1", "/dev/nvme0n1p2", true},
      // 3 TB: the table ends at the last whole cylinder below 2^32 sectors.
      {"/dev/sdb: 364729 cylinders, 255 heads, 63 sectors/track", 0, "input 0,2,83,*\\n2,267347,83,-\\n",
       {"exec /sbin/mke2fs /dev/sdb1", "exec /sbin/mke2fs -j /dev/sdb2"},
       {"mount /dev/sdb2 /flash ext3 0x0 = 0", "mount /dev/sdb1 /flash/boot ext2 0x0 = 0"},
       "sdb2.ext3", "/dev/sdb2  /     ext3 defaults 1 1\n/dev/sdb1  /boot ext2 defaults 1 2\n",
       "/dev/sdb1", "/dev/sdb2", true,
       "WARNING: the partition table reaches only the first 2 TiB of this 2999 GB disk; the rest "
       "stays unused\n"},
      // Started through UEFI: an EFI system partition of 5 cylinders (32 MiB) at the end.
      {kSingle, 4, "input 0,1018,83,*\\n1018,5,ef,-\\n0,0,0\\n0,0,0\\n",
       {"exec /sbin/mke2fs -j /dev/sda1", "exec /sbin/mkfs.vfat /dev/sda2"},
       {"mount /dev/sda2 /flash ext3 0x0 = -1", "mount /dev/sda1 /flash ext3 0x0 = 0",
        "mount /dev/sda2 /flash/boot/efi vfat 0x0 = 0"},
       "sda1.ext3",
       "/dev/sda1  /     ext3 defaults 1 1\n/dev/sda2  /boot/efi vfat defaults 0 2\n",
       "/dev/sda1", "/dev/sda1", true, "", true},
      {kBoot, 4, "input 0,2,83,*\\n2,2081,83,-\\n2083,5,ef,-\\n0,0,0\\n",
       {"exec /sbin/mke2fs /dev/sda1", "exec /sbin/mke2fs -j /dev/sda2",
        "exec /sbin/mkfs.vfat /dev/sda3"},
       {"mount /dev/sda2 /flash ext3 0x0 = 0", "mount /dev/sda1 /flash/boot ext2 0x0 = 0",
        "mount /dev/sda3 /flash/boot/efi vfat 0x0 = 0"},
       "sda2.ext3",
       "/dev/sda2  /     ext3 defaults 1 1\n/dev/sda1  /boot ext2 defaults 1 2\n"
       "/dev/sda3  /boot/efi vfat defaults 0 2\n",
       "/dev/sda1", "/dev/sda2", true, "", true},
      // clang-format on
  };
  for (const auto& disk : cases) {
    SCOPED_TRACE(disk.geometry + std::string(disk.uefi ? " UEFI" : ""));
    SandboxRoot root({"/sbin/sfdisk", "/sbin/mke2fs", "/sbin/mkfs.vfat"});
    if (disk.uefi) {
      root.MakeDirectory("/sys/firmware/efi");
    }
    // A blank disk gets the medium's boot program.
    std::string device = std::string(disk.geometry, strchr(disk.geometry, ':'));
    root.Write("/boot/mbr.bin", "BOOT");
    root.Write(device, std::string(512, '\0'));
    SandboxOutcome outcome = Prepare(root, disk.geometry, false, disk.oldEntries);
    EXPECT_EQ(root.Read(device), "BOOT" + std::string(508, '\0'));
    ASSERT_EQ(outcome.exitCode, 0) << outcome.output;
    // The tools' own output goes to the log terminal, not on the console.
    EXPECT_EQ(outcome.output.find(" ran\n"), std::string::npos) << outcome.output;
    EXPECT_EQ(outcome.output.substr(0, strlen(disk.warning)), disk.warning);
    EXPECT_EQ(outcome.output.find("WARNING", strlen(disk.warning)), std::string::npos);
    const std::vector<std::string> sfdisk = {"exec /sbin/sfdisk -d -uC " + device,
                                             "exec /sbin/sfdisk -q -uC " + device};
    EXPECT_EQ(root.Calls("exec /sbin/sfdisk"), sfdisk);
    EXPECT_EQ(root.Calls("input "), std::vector<std::string>{disk.table});
    EXPECT_EQ(root.Calls("exec /sbin/mk"), disk.formatting);
    EXPECT_EQ(root.Calls("mount"), disk.mounts);
    std::string media = std::string(kMediaDirectory) + "/" + disk.rootMedia;
    EXPECT_EQ(root.Read(media + "/etc/fstab"),
              std::string(disk.fstab) +
                  "none /proc proc defaults 0 0\nnone /dev/pts devpts gid=5,mode=620 0 0\n");
    EXPECT_EQ(root.Read(media + "/etc/lilo.conf"),
              "boot=" + std::string(disk.liloBoot) +
                  "\nmap=/boot/map\ninstall=/boot/boot.b\nlba32\nimage=/boot/vmlinuz\n"
                  "  label=System\n  root=" +
                  disk.liloRoot + "\n  read-only\n");
    EXPECT_EQ(root.Exists(media + "/.nofsck"), disk.noCheckMarker);
    for (const char* directory : {"/rw", "/vela", "/vela/etc", "/var", "/var/pdb"}) {
      EXPECT_TRUE(root.Exists(media + directory)) << directory;
    }
  }
}

// Only the base directories and the kept configuration let the preparation go on.
TEST(PrepareDisk, FailingStepPrintsItsOneMessage) {
  if (!SandboxAvailable()) {
    GTEST_SKIP() << kNeedsRoot;
  }
  const struct {
    const char* geometry;
    bool keep;
    std::function<void(const SandboxRoot&)> arrange;  // what is in the step's way
    const char* message;
    bool result;
  } cases[] = {
      // Refused before anything is changed: a boot partition would fill this whole disk, and
      // this one leaves no room for a root file system.
      {"/dev/sda: 1024 cylinders, 1 heads, 1 sectors/track", false, [](auto&) {},
       "ERROR: the disk is too small: 512 KiB, the installation needs at least 12288 KiB\n", false},
      {"/dev/sda: 3 cylinders, 16 heads, 63 sectors/track", true, [](auto&) {},
       "ERROR: the disk is too small: 1512 KiB, the installation needs at least 2048 KiB\n", false},
      // No pipe to sfdisk can be made after the failed mount of the old system.
      {kSingle, true,
       [](auto& root) { root.Write(kSpareDescriptorFile, "mount /dev/sda1 /flash ext2"); },
       "ERROR: could not create partitions\n", false},
      {kSingle, false, [](auto& root) { root.Write(kFailFile, "exec /sbin/mke2fs"); },
       "...\nERROR: could not format partitions\n", false},
      {kBoot, false, [](auto& root) { root.Write(kFailFile, "exec /sbin/mke2fs -j /dev/sda2"); },
       "...\nERROR: could not format partitions\n", false},
      {kSingle, false, [](auto& root) { root.Write(kFailFile, "mount /dev/sda"); },
       "ERROR: could not mount filesystem\n", false},
      {kBoot, false, [](auto& root) { root.Write(kFailFile, "mount /dev/sda1 /flash/boot"); },
       "ERROR: could not mount filesystem\n", false},
      {kSingle, false, [](auto& root) { root.Write(kNewSda1 + "/etc", "x"); },
       "ERROR: could not create lilo.conf\n", false},
      {kSingle, false, [](auto& root) { root.MakeDirectory(kNewSda1 + "/etc/fstab"); },
       "ERROR: could not create fstab\n", false},
      {kSingle, false, [](auto& root) { root.Write(kNewSda1 + "/vela", "x"); },
       "/vela: File exists\n", true},
      {kSingle, true, [](auto&) {}, "WARNING: couldn't keep config - couldn't mount file system\n",
       true},
      {kSingle, true,
       [](auto& root) {
         root.MakeDirectory(kOldSda1 + "/vela/store");
         symlink("/nowhere", root.HostPath(kOldSda1 + "/vela/store/broken").c_str());
       },
       "ERROR: couldn't keep config - probably not enough memory\n", true},
      // The store is read before formatting and written back after it.
      {kSingle, true,
       [](auto& root) {
         root.Write(kOldSda1 + "/vela/store/a", "a");
         root.MakeDirectory(kNewSda1 + "/vela/store");
       },
       "ERROR: couldn't write old configuration - proboably not enough space on the disk\n", true},
  };
  for (const auto& failure : cases) {
    SCOPED_TRACE(failure.message);
    SandboxRoot root({"/sbin/sfdisk", "/sbin/mke2fs"});
    failure.arrange(root);
    SandboxOutcome outcome = Prepare(root, failure.geometry, failure.keep, 1);
    EXPECT_EQ(outcome.exitCode, failure.result ? 0 : 1) << outcome.output;
    EXPECT_NE(outcome.output.find(failure.message), std::string::npos) << outcome.output;
    // Exactly the one message: no second ERROR, and none where the message is not one.
    size_t error = outcome.output.find("ERROR");
    EXPECT_EQ(error, outcome.output.rfind("ERROR")) << outcome.output;
    EXPECT_EQ(error == std::string::npos, strstr(failure.message, "ERROR") == nullptr);
    if (strstr(failure.message, "too small") != nullptr) {
      EXPECT_EQ(root.Calls("exec"), std::vector<std::string>{});
      EXPECT_EQ(root.Calls("mount"), std::vector<std::string>{});
    }
  }
}

}  // namespace

// Whole dumps of four entries and of none are counted by the layout table above.
TEST(CountTableEntries, CountsWholeLinesThatNameADevice) {
  const std::string longLine = std::string(255, '#') + "/dev/sda9 : start= 0\n";
  const struct {
    std::string listing;
    int entries;
  } cases[] = {
      {"/dev/sda1 : start= 0", 1},  // the last line without its line end
      // A line longer than the reader's buffer was counted again from its middle.
      {longLine + "/dev/sda1 : start= 0\n", 1},
      {std::string("x\0/dev/sda1\n/dev/sda2\n", 22), 1},
  };
  for (const auto& example : cases) {
    FILE* dump = fmemopen(const_cast<char*>(example.listing.data()), example.listing.size(), "r");
    ASSERT_NE(dump, nullptr);
    EXPECT_EQ(CountTableEntries(dump), example.entries) << example.listing;
    fclose(dump);
  }
}
