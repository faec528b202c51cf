// The CD-ROM installation inside a throwaway root: the CD, the old system on the disk and the new
// system are fixture directories; the tools and the new system's programs record how they ran.

#include <algorithm>
#include <filesystem>

#include "tests/sandbox/harness.h"

namespace {

// Formatting replaces the old file system in place.
const std::string& kOldRoot = kNewRoot;

class CdromSandbox : public SandboxTest {
 protected:
  void Lay() override {
    root_->Write("/TYPE", "cdrom\n");
    root_->Write(kDumpFile, kOldTable);
    root_->Write(kOldRoot + "/vela/store/firewall", "old rules\n");
    root_->InstallTool(std::string(kFormatTemplateDirectory) + "/sda2/bin/varo");
    ASSERT_TRUE(WriteFixturePackages(*root_, kCd));
  }

  // Runs the installer on the keys, read from a file so that the input ends after them, up to its
  // reboot; the screen.
  std::string Run(const char* keys) {
    root_->Write(kKeysPath, keys);
    auto terminal = root_->Start({"/bin/setup"}, ConsoleKind::kKeysFile);
    EXPECT_TRUE(terminal->Expect("Press ENTER to reboot")) << terminal->Screen();
    EXPECT_TRUE(EndedByReboot(terminal->Wait())) << terminal->Screen();
    return terminal->Screen();
  }
};

// The medium's defaults bring what they need, as marking them by hand does; 'n' to the keep
// question leaves the old store behind with the old file system.
TEST_F(CdromSandbox, InstallsTheDefaultsWithWhatTheyNeedAndReboots) {
  root_->Write(kCd + "/defpacks", "advanced-tools\n");
  std::string screen = Run("iny");
  for (const char* shown : {"Do you want to keep old configuration?  [y/n]:n",
                            "Warning: all data on the disk will be erased!\r\n\r\nContinue?",
                            "\r\nSoftware installed.\r\n"}) {
    EXPECT_NE(screen.find(shown), std::string::npos) << shown << "\n" << screen;
  }
  for (std::string name : kFixturePackages) {
    bool chosen = name == "system" || name == "ppp" || name == "advanced-tools";
    EXPECT_EQ(root_->Exists(kNewRoot + "/var/pdb/" + name + "/files"), chosen) << name;
    EXPECT_EQ(root_->Read(kNewRoot + "/etc/" + name), chosen ? name + "\n" : "");
  }
  // The children keep the images (which images they keep, their own tests tell).
  EXPECT_EQ(root_->Read(kNewRoot + "/bootimage"), root_->Read(kCd + "/system.vpk"));
  EXPECT_TRUE(root_->Exists(kNewRoot + "/CDINSTALL"));
  EXPECT_FALSE(root_->Exists(kNewRoot + "/vela/store/firewall"));
  // The CD behind the sixth drive is found in the first pass; the new root and boot follow.
  const std::vector<std::string> mounts = {
      "mount /dev/hda /floppy iso9660 0xc0ed0001 = -1",
      "mount /dev/hdb /floppy iso9660 0xc0ed0001 = -1",
      "mount /dev/hdc /floppy iso9660 0xc0ed0001 = -1",
      "mount /dev/hdd /floppy iso9660 0xc0ed0001 = -1",
      "mount /dev/sr0 /floppy iso9660 0xc0ed0001 = -1",
      "mount /dev/sr1 /floppy iso9660 0xc0ed0001 = 0",
      "mount /dev/sda2 /flash ext3 0x0 = 0",
      "mount /dev/sda1 /flash/boot ext2 0x0 = 0",
  };
  EXPECT_EQ(root_->Calls("mount /dev/"), mounts);
  // The steps of preparing and finishing are their own tests'; here the finishing step runs.
  EXPECT_EQ(root_->Calls("exec /bin/varo"), std::vector<std::string>{"exec /bin/varo varo"});
}

// A package file that is gone by the time it is copied is a read error of the CD: the flow ends
// after the disk was prepared, with nothing of that package installed.
TEST_F(CdromSandbox, AFileThatCannotBeReadEndsTheInstallation) {
  auto terminal = root_->Start({"/bin/setup"});
  ASSERT_TRUE(terminal->Expect("system (depends on nothing):")) << terminal->Screen();
  std::filesystem::remove(root_->HostPath(kCd + "/system.vpk"));
  ASSERT_NO_FATAL_FAILURE(Answer(*terminal, {{"", "i"},
                                             {"keep old configuration?", "n"},
                                             {"Continue?", "y"},
                                             {"\r\nFATAL ERROR: corrupted CD-ROM\r\n", ""}}));
  EXPECT_TRUE(EndedByReboot(FinishRun(*terminal))) << terminal->Screen();
  EXPECT_FALSE(root_->Calls("exec /sbin/mke2fs").empty());
  EXPECT_FALSE(root_->Exists(kNewRoot + "/var/pdb/system"));
  EXPECT_FALSE(root_->Exists(kNewRoot + "/CDINSTALL"));
}

// What each run shows, installs and leaves; only a run without a failure says "Software
// installed.", marks the new system and runs its finishing step.
TEST_F(CdromSandbox, EachRunEndsWhereItsMediumAndKeysLeadIt) {
  enum class Medium { kFixture, kNone, kRefusedPackages };
  const struct {
    const char* what;
    Medium medium;
    const char* keys;
    const char* message;  // null: the flow ends without one
    std::vector<std::string> installed;
    bool toolsRan = false;
    const char* failLines = "";
  } cases[] = {
      {"no CD in 20 passes", Medium::kNone, "", "FATAL ERROR: no CD-ROM found", {}},
      {"menu cancelled", Medium::kFixture, "q", "Installation canceled", {}},
      {"erase not confirmed", Medium::kFixture, "iyn", nullptr, {}},
      {"disk preparation fails",
       Medium::kFixture,
       "iny",
       "ERROR: could not format partitions",
       {},
       true,
       "exec /sbin/mke2fs"},
      // Refused packages do not stop the others, but the run fails and names them.
      {"packages that the children refuse",
       Medium::kRefusedPackages,
       "aiyy",
       "\r\nFATAL ERROR: 2 of 6 packages were not installed: vpn, dhcp\r\n",
       {"system", "ppp", "advanced-tools", "wireless"},
       true},
  };
  for (const auto& run : cases) {
    SCOPED_TRACE(run.what);
    SetUp();
    root_->Write(kFailFile, run.failLines);
    if (run.medium == Medium::kNone) {
      std::filesystem::remove_all(root_->HostPath(kCd));
    } else if (run.medium == Medium::kRefusedPackages) {
      ASSERT_TRUE(TestPackage("dhcp", "1.0")
                      .File("/etc/dhcp", "dhcp\n")
                      .Write(root_->HostPath(kCd + "/dhcp.vpk")));
      ASSERT_TRUE(TestPackage("vpn", "1.0")
                      .Depends("tunnel")
                      .Write(root_->HostPath(kCd + "/vpn.vpk"), TestPackage::kSigned));
    }
    std::string screen = Run(run.keys);
    size_t found = screen.find("Found harddrive as SATA 1\r\n");
    ASSERT_NE(found, std::string::npos) << screen;
    std::string flow = screen.substr(found, screen.find("Press ENTER") - found);
    if (run.message != nullptr) {
      EXPECT_NE(flow.find(run.message), std::string::npos) << flow;
    } else {
      EXPECT_EQ(flow.find("ERROR"), std::string::npos) << flow;
    }
    EXPECT_EQ(flow.find("Software installed."), std::string::npos) << flow;
    EXPECT_FALSE(root_->Exists(kNewRoot + "/CDINSTALL"));
    EXPECT_TRUE(root_->Calls("exec /bin/varo").empty());
    EXPECT_EQ(root_->Calls("exec /sbin/mke2fs").empty(), !run.toolsRan);
    for (std::string name : kFixturePackages) {
      EXPECT_EQ(root_->Exists(kNewRoot + "/var/pdb/" + name + "/files"),
                std::ranges::count(run.installed, name) == 1)
          << name;
    }
    EXPECT_FALSE(root_->Exists(kNewRoot + "/etc/dhcp"));
    // Neither a failure before the disk was formatted nor a 'y' to the keep question loses it.
    EXPECT_EQ(root_->Read(kOldRoot + "/vela/store/firewall"), "old rules\n");
    if (run.medium == Medium::kNone) {
      EXPECT_EQ(root_->Calls("mount /dev/").size(), 20u * 8);  // eight drives, twenty passes
    }
  }
}

}  // namespace
