// The CD-ROM installation inside a throwaway root: the CD, the old system on the disk and the new
// system are fixture directories; the tools and the new system's programs record how they ran.

#include <filesystem>

#include "gtest/gtest.h"
#include "tests/sandbox/harness.h"
#include "tests/sandbox/media_fixture.h"
#include "tests/support/package_builder.h"
#include "tests/support/sandbox_layout.h"

namespace {

const std::string kCd = std::string(kMediaDirectory) + "/sr1.iso9660";
const std::string kOldRoot = std::string(kMediaDirectory) + "/sda2.ext3";
const std::string kNewRoot = kOldRoot;  // formatting replaces the old file system in place

class CdromSandbox : public testing::Test {
 protected:
  void SetUp() override {
    if (!SandboxAvailable()) {
      GTEST_SKIP() << kNeedsRoot;
    }
    root_ = std::make_unique<InstallerSandbox>();
    root_->Write("/TYPE", "cdrom\n");
    root_->Write(kDumpFile, "/dev/sda1 : start= 0\n/dev/sda2 : start= 0\n/dev/sda3 : start= 0\n");
    root_->Write(kOldRoot + "/vela/store/firewall", "old rules\n");
    root_->InstallTool(std::string(kFormatTemplateDirectory) + "/sda2/bin/varo");
    ASSERT_TRUE(WriteFixturePackages(*root_, kCd));
  }

  std::unique_ptr<InstallerSandbox> root_;
};

TEST_F(CdromSandbox, InstallsTheChosenPackagesKeepsTheStoreAndReboots) {
  auto terminal = root_->Start({"/bin/setup"});
  ASSERT_TRUE(terminal->Expect("system (depends on nothing):")) << terminal->Screen();
  // Down to ppp, right to advanced-tools, which pulls in ppp when selected.
  terminal->Type("n\033[C i");
  ASSERT_TRUE(terminal->Expect("Do you want to keep old configuration?  [y/n]:"))
      << terminal->Screen();
  terminal->Type("y");
  ASSERT_TRUE(terminal->Expect("Warning: all data on the disk will be erased!\r\n\r\nContinue?"))
      << terminal->Screen();
  terminal->Type("y");
  ASSERT_TRUE(terminal->Expect("\r\nSoftware installed.\r\n")) << terminal->Screen();
  ASSERT_TRUE(terminal->Expect("Press ENTER to reboot")) << terminal->Screen();
  terminal->Type("\r");
  EXPECT_TRUE(EndedByReboot(terminal->Wait())) << terminal->Screen();

  for (std::string name : {"system", "ppp", "advanced-tools"}) {
    EXPECT_TRUE(root_->Exists(kNewRoot + "/var/pdb/" + name + "/files")) << name;
    EXPECT_EQ(root_->Read(kNewRoot + "/etc/" + name), name + "\n");
  }
  for (std::string name : {"dhcp", "wireless"}) {
    EXPECT_FALSE(root_->Exists(kNewRoot + "/var/pdb/" + name)) << name;
  }
  std::string system = root_->Read(kCd + "/system.vpk");
  EXPECT_EQ(root_->Read(kNewRoot + "/var/pdb/system/image"), system);
  EXPECT_EQ(root_->Read(kNewRoot + "/bootimage"), system);
  EXPECT_EQ(root_->Read(kNewRoot + "/var/pdb/ppp/image"), root_->Read(kCd + "/ppp.vpk"));
  EXPECT_FALSE(root_->Exists(kNewRoot + "/var/pdb/advanced-tools/image"));
  EXPECT_FALSE(root_->Exists(kNewRoot + "/image"));
  EXPECT_TRUE(root_->Exists(kNewRoot + "/CDINSTALL"));
  EXPECT_EQ(root_->Read(kNewRoot + "/vela/store/firewall"), "old rules\n");
  // The CD behind the sixth drive is found in the first pass; the old system is mounted for its
  // store before the table is written.
  const std::vector<std::string> mounts = {
      "mount /dev/hda /floppy iso9660 0xc0ed0001 = -1",
      "mount /dev/hdb /floppy iso9660 0xc0ed0001 = -1",
      "mount /dev/hdc /floppy iso9660 0xc0ed0001 = -1",
      "mount /dev/hdd /floppy iso9660 0xc0ed0001 = -1",
      "mount /dev/sr0 /floppy iso9660 0xc0ed0001 = -1",
      "mount /dev/sr1 /floppy iso9660 0xc0ed0001 = 0",
      "mount /dev/sda2 /flash ext3 0x0 = 0",
      "mount /dev/sda2 /flash ext3 0x0 = 0",
      "mount /dev/sda1 /flash/boot ext2 0x0 = 0",
  };
  EXPECT_EQ(root_->Calls("mount /dev/"), mounts);
  const std::vector<std::string> tools = {
      "exec /sbin/sfdisk -g",
      "exec /sbin/sfdisk -d -uC /dev/sda",
      "exec /sbin/sfdisk -q -uC /dev/sda",
      "exec /sbin/mke2fs /dev/sda1",
      "exec /sbin/mke2fs -j /dev/sda2",
      "exec /bin/varo varo",
  };
  EXPECT_EQ(root_->Calls("exec"), tools);
  EXPECT_EQ(root_->Calls("reboot"), std::vector<std::string>{"reboot 0x1234567"});
}

// A package file that is gone by the time it is copied is a read error of the CD: the flow ends
// after the disk was prepared, with nothing of that package installed.
TEST_F(CdromSandbox, AFileThatCannotBeReadEndsTheInstallation) {
  auto terminal = root_->Start({"/bin/setup"});
  ASSERT_TRUE(terminal->Expect("system (depends on nothing):")) << terminal->Screen();
  std::filesystem::remove(root_->HostPath(kCd + "/system.vpk"));
  terminal->Type("i");
  ASSERT_TRUE(terminal->Expect("keep old configuration?")) << terminal->Screen();
  terminal->Type("n");
  ASSERT_TRUE(terminal->Expect("Continue?")) << terminal->Screen();
  terminal->Type("y");
  ASSERT_TRUE(terminal->Expect("\r\nFATAL ERROR: corrupted CD-ROM\r\n")) << terminal->Screen();
  ASSERT_TRUE(terminal->Expect("Press ENTER to reboot")) << terminal->Screen();
  terminal->Type("\r");
  EXPECT_TRUE(EndedByReboot(terminal->Wait())) << terminal->Screen();
  EXPECT_FALSE(root_->Calls("exec /sbin/mke2fs").empty());
  EXPECT_FALSE(root_->Exists(kNewRoot + "/var/pdb/system"));
  EXPECT_FALSE(root_->Exists(kNewRoot + "/CDINSTALL"));
}

// Packages that the children refuse do not stop the others, but the run ends as a failure that
// names them: neither the marker nor the finishing step nor "Software installed." follows.
TEST_F(CdromSandbox, PackagesThatWereNotInstalledEndTheRunAsAFailure) {
  ASSERT_TRUE(TestPackage("dhcp", "1.0")
                  .File("/etc/dhcp", "dhcp\n")
                  .Write(root_->HostPath(kCd + "/dhcp.vpk")));
  ASSERT_TRUE(TestPackage("vpn", "1.0")
                  .Depends("tunnel")
                  .Write(root_->HostPath(kCd + "/vpn.vpk"), TestPackage::kSigned));
  auto terminal = root_->Start({"/bin/setup"});
  ASSERT_TRUE(terminal->Expect("system (depends on nothing):")) << terminal->Screen();
  terminal->Type("ai");
  ASSERT_TRUE(terminal->Expect("keep old configuration?")) << terminal->Screen();
  terminal->Type("y");
  ASSERT_TRUE(terminal->Expect("Continue?")) << terminal->Screen();
  terminal->Type("y");
  ASSERT_TRUE(
      terminal->Expect("\r\nFATAL ERROR: 2 of 6 packages were not installed: vpn, dhcp\r\n"))
      << terminal->Screen();
  ASSERT_TRUE(terminal->Expect("Press ENTER to reboot")) << terminal->Screen();
  terminal->Type("\r");
  EXPECT_TRUE(EndedByReboot(terminal->Wait())) << terminal->Screen();
  EXPECT_EQ(terminal->Screen().find("Software installed."), std::string::npos);
  for (std::string name : {"system", "ppp", "advanced-tools", "wireless"}) {
    EXPECT_TRUE(root_->Exists(kNewRoot + "/var/pdb/" + name + "/files")) << name;
  }
  EXPECT_FALSE(root_->Exists(kNewRoot + "/etc/dhcp"));
  EXPECT_FALSE(root_->Exists(kNewRoot + "/CDINSTALL"));
  EXPECT_TRUE(root_->Calls("exec /bin/varo").empty());
}

// The medium's defaults bring what they need, as marking them by hand does; 'n' to the keep
// question leaves the old store behind with the old file system.
TEST_F(CdromSandbox, DefaultsInstallWhatTheyNeedAndTheOldStoreIsDroppedWhenNotKept) {
  root_->Write(kCd + "/defpacks", "advanced-tools\n");
  root_->Write(kKeysPath, "iny\r");
  auto terminal = root_->Start({"/bin/setup"}, ConsoleKind::kKeysFile);
  ASSERT_TRUE(terminal->Expect("\r\nSoftware installed.\r\n")) << terminal->Screen();
  EXPECT_TRUE(EndedByReboot(terminal->Wait())) << terminal->Screen();
  for (std::string name : {"system", "ppp", "advanced-tools"}) {
    EXPECT_EQ(root_->Read(kNewRoot + "/etc/" + name), name + "\n");
  }
  EXPECT_FALSE(root_->Exists(kNewRoot + "/etc/dhcp"));
  EXPECT_FALSE(root_->Exists(kNewRoot + "/vela/store/firewall"));
}

// Each step that can end the flow early, with its message; nothing after it runs. The keys are
// read from a file, so that the input ends after them.
TEST_F(CdromSandbox, EachStepFailsInTurnWithItsMessage) {
  const struct {
    const char* what;
    const char* keys;
    const char* failLines;
    const char* badFile;  // written on the CD as bad.vpk when not null
    const char* message;  // null: the flow ends without one
    bool toolsRan;
    bool noCd = false;
  } cases[] = {
      {"no CD in 20 passes", "", "", nullptr, "FATAL ERROR: no CD-ROM found", false, true},
      {"menu cancelled", "q", "", nullptr, "Installation canceled", false},
      {"input ends in the menu", "", "", nullptr, "Installation canceled", false},
      {"input ends at the keep question", "i", "", nullptr, nullptr, false},
      {"input ends at the confirmation", "iy", "", nullptr, nullptr, false},
      {"erase not confirmed", "iyn", "", nullptr, nullptr, false},
      {"a file that is no package", "iyy", "", "not a package", "FATAL ERROR: Bad package -0.0\r\n",
       false},
      {"disk preparation fails", "iny", "exec /sbin/mke2fs", nullptr,
       "ERROR: could not format partitions", true},
  };
  for (const auto& run : cases) {
    SCOPED_TRACE(run.what);
    SetUp();
    root_->Write(kKeysPath, run.keys);
    root_->Write(kFailFile, run.failLines);
    if (run.noCd) {
      std::filesystem::remove_all(root_->HostPath(kCd));
    }
    if (run.badFile != nullptr) {
      root_->Write(kCd + "/bad.vpk", run.badFile);
    }
    auto terminal = root_->Start({"/bin/setup"}, ConsoleKind::kKeysFile);
    ASSERT_TRUE(terminal->Expect("Press ENTER to reboot")) << terminal->Screen();
    EXPECT_TRUE(EndedByReboot(terminal->Wait())) << terminal->Screen();
    const std::string& screen = terminal->Screen();
    size_t end = screen.find("Press ENTER");
    size_t found = screen.find("Found harddrive as SATA 1\r\n");
    ASSERT_NE(found, std::string::npos) << screen;
    std::string flow = screen.substr(found, end - found);
    if (run.message != nullptr) {
      EXPECT_NE(flow.find(run.message), std::string::npos) << flow;
    } else {
      EXPECT_EQ(flow.find("ERROR"), std::string::npos) << flow;
    }
    EXPECT_EQ(flow.find("Software installed."), std::string::npos) << flow;
    EXPECT_EQ(root_->Calls("exec /sbin/mke2fs").empty(), !run.toolsRan);
    EXPECT_FALSE(root_->Exists(kNewRoot + "/etc/system"));
    if (run.noCd) {
      EXPECT_EQ(root_->Calls("mount /dev/").size(), 20u * 8);  // eight drives, twenty passes
    }
    if (!run.toolsRan) {
      EXPECT_EQ(root_->Read(kOldRoot + "/vela/store/firewall"), "old rules\n");  // disk untouched
    }
  }
}

}  // namespace
