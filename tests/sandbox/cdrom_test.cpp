// The CD-ROM installation inside a throwaway root: the CD, the old system on the disk and the new
// system are fixture directories; the tools and the new system's programs record how they ran.

#include <sys/wait.h>

#include <filesystem>

#include "gtest/gtest.h"
#include "tests/sandbox/harness.h"
#include "tests/sandbox/media_fixture.h"
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

bool EndedByReboot(int status) {
  return WIFSIGNALED(status) && WTERMSIG(status) == kRebootSignal;
}

// Types each answer once its prompt has appeared; the installer must then end by rebooting.
void Converse(Terminal& terminal, const std::vector<std::pair<const char*, const char*>>& steps) {
  for (const auto& [prompt, answer] : steps) {
    ASSERT_TRUE(terminal.Expect(prompt)) << terminal.Screen();
    terminal.Type(answer);
  }
  EXPECT_TRUE(EndedByReboot(terminal.Wait())) << terminal.Screen();
}

TEST_F(CdromSandbox, InstallsTheChosenPackagesKeepsTheStoreAndReboots) {
  // Down to ppp, right to advanced-tools, which pulls in ppp when selected.
  Converse(*root_->Start({"/bin/setup"}),
           {{"system (depends on nothing):", "n\033[C i"},
            {"Do you want to keep old configuration?  [y/n]:", "y"},
            {"Warning: all data on the disk will be erased!\r\n\r\nContinue?", "y"},
            {"\r\nSoftware installed.\r\n", ""},
            {"Press ENTER to reboot", "\r"}});
  for (std::string name : {"system", "ppp", "advanced-tools"}) {
    EXPECT_EQ(root_->Read(kNewRoot + "/etc/" + name), name + "\n");
  }
  for (std::string name : {"dhcp", "wireless"}) {
    EXPECT_FALSE(root_->Exists(kNewRoot + "/var/pdb/" + name)) << name;
  }
  // The files go through the installer child that keeps their images.
  EXPECT_EQ(root_->Read(kNewRoot + "/var/pdb/system/image"), root_->Read(kCd + "/system.vpk"));
  EXPECT_TRUE(root_->Exists(kNewRoot + "/CDINSTALL"));
  EXPECT_EQ(root_->Read(kNewRoot + "/vela/store/firewall"), "old rules\n");
  // The CD behind the sixth drive is found in the first pass: four drives before it, none after.
  EXPECT_EQ(root_->Calls("mount /dev/hd").size(), 4u);
  EXPECT_EQ(root_->Calls("mount /dev/sr"),
            (std::vector<std::string>{"mount /dev/sr0 /floppy iso9660 0xc0ed0001 = -1",
                                      "mount /dev/sr1 /floppy iso9660 0xc0ed0001 = 0"}));
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
  Converse(*terminal, {{"keep old configuration?", "n"},
                       {"Continue?", "y"},
                       {"\r\nFATAL ERROR: corrupted CD-ROM\r\n", ""},
                       {"Press ENTER to reboot", "\r"}});
  EXPECT_FALSE(root_->Calls("exec /sbin/mke2fs").empty());
  EXPECT_FALSE(root_->Exists(kNewRoot + "/var/pdb/system"));
  EXPECT_FALSE(root_->Exists(kNewRoot + "/CDINSTALL"));
}

// Each step that can end the flow early, with its message; nothing after it runs. The keys are
// read from a file, so that the input ends after them.
TEST_F(CdromSandbox, EachStepFailsInTurnWithItsMessage) {
  const struct {
    const char* what;
    const char* keys;
    std::string file;  // written before the run, or removed when content is null
    const char* content;
    const char* message;  // null: the flow ends without one
    bool toolsRan;
  } cases[] = {
      {"no CD in 20 passes", "", kCd, nullptr, "FATAL ERROR: no CD-ROM found", false},
      {"input ends in the menu", "", kFailFile, "", "Installation canceled", false},
      {"input ends at the keep question", "i", kFailFile, "", nullptr, false},
      {"erase not confirmed", "iyn", kFailFile, "", nullptr, false},
      {"a file that is no package", "", kCd + "/bad.vpk", "not a package",
       "FATAL ERROR: Bad package -0.0\r\n", false},
      {"disk preparation fails", "iny", kFailFile, "exec /sbin/mke2fs",
       "ERROR: could not format partitions", true},
  };
  for (const auto& run : cases) {
    SCOPED_TRACE(run.what);
    SetUp();
    root_->Write(kKeysPath, run.keys);
    if (run.content != nullptr) {
      root_->Write(run.file, run.content);
    } else {
      std::filesystem::remove_all(root_->HostPath(run.file));
    }
    auto terminal = root_->Start({"/bin/setup"}, ConsoleKind::kKeysFile);
    Converse(*terminal, {{"Press ENTER to reboot", ""}});
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
    if (run.content == nullptr) {
      EXPECT_EQ(root_->Calls("mount /dev/").size(), 20u * 8);  // eight drives, twenty passes
    }
    if (!run.toolsRan) {
      EXPECT_EQ(root_->Read(kOldRoot + "/vela/store/firewall"), "old rules\n");  // disk untouched
    }
  }
}

}  // namespace
