// The installer's test build from start to reboot, inside a throwaway root.

#include <sys/wait.h>

#include <iostream>
#include <ostream>

#include "gtest/gtest.h"
#include "tests/sandbox/harness.h"
#include "tests/support/sandbox_layout.h"

namespace {

constexpr const char* kOneDisk = "/dev/sda: 2088 cylinders, 255 heads, 63 sectors/track\n";

class StartupSandbox : public testing::Test {
 protected:
  void SetUp() override {
    if (!SandboxAvailable()) {
      GTEST_SKIP() << kNeedsRoot;
    }
    root_ = std::make_unique<InstallerSandbox>();
    root_->SetGeometry(kOneDisk);
  }

  // Answers the closing question and returns the raw wait status of the run.
  int FinishRun(Terminal& terminal) {
    EXPECT_TRUE(terminal.Expect("Press ENTER to reboot")) << terminal.Screen();
    terminal.Type("\r");
    EXPECT_TRUE(terminal.Expect("Rebooting...")) << terminal.Screen();
    return terminal.Wait();
  }

  std::unique_ptr<InstallerSandbox> root_;
};

bool EndedByReboot(int status) {
  return WIFSIGNALED(status) && WTERMSIG(status) == kRebootSignal;
}

TEST_F(StartupSandbox, CdromRunGoesFromStartThroughTheFlowToTheReboot) {
  root_->Write("/TYPE", "cdrom\n");
  root_->AddModule("drivers/net/atl1c.ko");
  root_->AddModule("kernel/fs/ext2/ext2.ko");
  root_->AddModule("kernel/drivers/scsi/hpsa.ko");
  root_->AddModule("kernel/drivers/usb/usb-common.ko");
  auto terminal = root_->Start({"/bin/setup"});
  ASSERT_TRUE(terminal->Expect("Loading drivers")) << terminal->Screen();
  ASSERT_TRUE(terminal->Expect("Looking for harddrives...")) << terminal->Screen();
  ASSERT_TRUE(terminal->Expect("Found harddrive as SATA 1")) << terminal->Screen();
  ASSERT_TRUE(terminal->Expect("FATAL ERROR: the CD-ROM installation is not in this build yet"));
  EXPECT_TRUE(EndedByReboot(FinishRun(*terminal)));

  std::vector<std::string> calls = root_->Calls();
  std::cout << "Recorded calls of the CD-ROM run:\n" << Listing(calls);
  std::string modules = "/lib/modules/" + InstallerSandbox::Release() + "/";
  const std::vector<std::string> expected = {
      "mount proc /proc proc 0x0 = 0",
      "mount sysfs /sys sysfs 0x0 = 0",
      "init_module " + modules + "drivers/net/atl1c.ko 6 \"\" = 0",
      "init_module " + modules + "kernel/fs/ext2/ext2.ko 6 \"\" = 0",
      "init_module " + modules + "kernel/drivers/scsi/hpsa.ko 6 \"\" = 0",
      "init_module " + modules + "kernel/drivers/usb/usb-common.ko 6 \"\" = 0",
      "exec /sbin/sfdisk -g",
      "umount /floppy = -1",
      "umount /flash = -1",
      "reboot 0x1234567",
  };
  EXPECT_EQ(calls, expected);
  EXPECT_TRUE(root_->Exists("/flash/SHOW_LICENSE"));
}

struct DispatchCase {
  const char* name;
  const char* typeFile;  // null: no /TYPE at all
  std::vector<std::string> arguments;
  const char* message;
};

// Test logs name a case by its name instead of its bytes.
void PrintTo(const DispatchCase& example, std::ostream* out) {
  *out << example.name;
}

class DispatchSandbox : public StartupSandbox, public testing::WithParamInterface<DispatchCase> {};

TEST_P(DispatchSandbox, RunsTheFlowThatTypeAndCommandLineChoose) {
  const DispatchCase& run = GetParam();
  if (run.typeFile != nullptr) {
    root_->Write("/TYPE", run.typeFile);
  }
  auto terminal = root_->Start(run.arguments);
  ASSERT_TRUE(terminal->Expect(run.message)) << terminal->Screen();
  EXPECT_TRUE(EndedByReboot(FinishRun(*terminal)));
  for (const char* other : {"CD-ROM installation", "network installation", "hard-disk installation",
                            "internal error"}) {
    if (std::string(run.message).find(other) == std::string::npos) {
      EXPECT_EQ(terminal->Screen().find(other), std::string::npos) << other;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    TypesAndArguments, DispatchSandbox,
    testing::Values(
        DispatchCase{
            "cdromLine", "cdrom\n", {"/bin/setup"}, "the CD-ROM installation is not in this build"},
        DispatchCase{"cdromWithoutLineEnd",
                     "cdrom",
                     {"/bin/setup"},
                     "the CD-ROM installation is not in this build"},
        DispatchCase{
            "net", "net\n", {"/bin/setup"}, "the network installation is not in this build"},
        DispatchCase{"hardDiskOverNet",
                     "net\n",
                     {"/bin/setup", "-x", "-hdd-install"},
                     "the hard-disk installation is not in this build"},
        DispatchCase{"capitals", "CDROM\n", {"/bin/setup"}, "FATAL ERROR: internal error"},
        DispatchCase{"trailingBlank", "cdrom \n", {"/bin/setup"}, "FATAL ERROR: internal error"},
        DispatchCase{"noTypeFile", nullptr, {"/bin/setup"}, "FATAL ERROR: internal error"},
        DispatchCase{"similarArgument",
                     "net\n",
                     {"/bin/setup", "-hdd-installer"},
                     "the network installation is not in this build"}),
    [](const testing::TestParamInfo<DispatchCase>& info) { return info.param.name; });

TEST_F(StartupSandbox, AsInitTheFirstProcessExitsWithTheRawStatusOfTheInstaller) {
  root_->Write("/TYPE", "net\n");
  auto terminal = root_->Start({"/sbin/init"});
  int status = FinishRun(*terminal);
  // The installer child ended by the reboot signal; its raw status is the signal number.
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), kRebootSignal);
}

TEST_F(StartupSandbox, WithoutVirtualConsoleTheSerialPortIsTheConsoleAndToolsWriteNowhere) {
  root_->Write("/TYPE", "cdrom\n");
  auto terminal = root_->Start({"/bin/setup"}, ConsoleKind::kSerial);
  ASSERT_TRUE(terminal->Expect("Found harddrive as SATA 1"))
      << terminal->Screen() << " status " << terminal->Wait();
  EXPECT_TRUE(EndedByReboot(FinishRun(*terminal)));
  EXPECT_EQ(root_->Read("/dev/tty9"), "");
}

TEST_F(StartupSandbox, WithVirtualConsoleToolsWriteToTheLogTerminal) {
  root_->Write("/TYPE", "cdrom\n");
  auto terminal = root_->Start({"/bin/setup"});
  EXPECT_TRUE(EndedByReboot(FinishRun(*terminal)));
  EXPECT_EQ(root_->Read("/dev/tty9"), "sfdisk ran\n");
  EXPECT_EQ(terminal->Screen().find("sfdisk ran"), std::string::npos);
}

TEST_F(StartupSandbox, LcdDeviceFileCreatesTheNodeWithItsNumbers) {
  root_->Write("/TYPE", "net\n");
  root_->Write("/sys/class/misc/lcd/dev", "10:130\n");
  auto terminal = root_->Start({"/bin/setup"});
  EXPECT_TRUE(EndedByReboot(FinishRun(*terminal)));
  std::vector<std::string> calls = root_->Calls();
  EXPECT_NE(FindCall(calls, "mknod /dev/lcd 020666 10,130 = 0"), -1) << Listing(calls);
  EXPECT_TRUE(root_->Exists("/dev/lcd"));
  EXPECT_EQ(terminal->Screen().find("strange format"), std::string::npos);
}

TEST_F(StartupSandbox, MalformedLcdDeviceFileIsReportedAndNoNodeMade) {
  root_->Write("/TYPE", "net\n");
  root_->Write("/sys/class/misc/lcd/dev", "ten:onethirty\n");
  auto terminal = root_->Start({"/bin/setup"});
  EXPECT_TRUE(terminal->Expect("ERROR: strange format for lcd dev\r\n")) << terminal->Screen();
  EXPECT_TRUE(EndedByReboot(FinishRun(*terminal)));
  EXPECT_EQ(FindCall(root_->Calls(), "mknod"), -1);
}

TEST_F(StartupSandbox, EndingWritesMarkerUnmountsWaitsRestoresAndReboots) {
  root_->Write("/TYPE", "cdrom\n");
  auto terminal = root_->Start({"/bin/setup"});
  ASSERT_TRUE(terminal->Expect("Press ENTER to reboot")) << terminal->Screen();
  std::vector<std::string> calls = root_->Calls();
  // Waiting for ENTER: unmounted already, not rebooted yet.
  int floppy = FindCall(calls, "umount /floppy");
  EXPECT_NE(floppy, -1) << Listing(calls);
  EXPECT_EQ(floppy + 1, FindCall(calls, "umount /flash"));
  EXPECT_EQ(FindCall(calls, "reboot"), -1);
  EXPECT_TRUE(root_->Exists("/flash/SHOW_LICENSE"));
  terminal->Type("x\r");
  ASSERT_TRUE(terminal->Expect("\a\033[?25h\r\nRebooting...")) << terminal->Screen();
  EXPECT_TRUE(EndedByReboot(terminal->Wait()));
  EXPECT_EQ(root_->Calls().back(), "reboot 0x1234567");
}

TEST_F(StartupSandbox, InterruptWhileSearchingDisksAbortsAndReboots) {
  root_->Write("/TYPE", "cdrom\n");
  root_->SetGeometry("");
  auto terminal = root_->Start({"/bin/setup"});
  ASSERT_TRUE(terminal->Expect("Looking for harddrives...")) << terminal->Screen();
  terminal->Type("\003");
  ASSERT_TRUE(terminal->Expect("\r\n\r\nInstallation aborted\r\nPress ENTER to reboot\r\n"))
      << terminal->Screen();
  terminal->Type("\r");
  EXPECT_TRUE(EndedByReboot(terminal->Wait()));
  // A disk query started just before the interrupt may record its run in between: only the
  // installer's own calls are in a fixed order.
  std::vector<std::string> calls;
  for (const std::string& call : root_->Calls()) {
    if (call.compare(0, 5, "exec ") != 0) {
      calls.push_back(call);
    }
  }
  int boot = FindCall(calls, "umount /flash/boot");
  ASSERT_NE(boot, -1) << Listing(calls);
  ASSERT_EQ(boot + 4, static_cast<int>(calls.size())) << Listing(calls);
  EXPECT_EQ(calls[boot + 1], "umount /flash = -1");
  EXPECT_EQ(calls[boot + 2], "umount /floppy = -1");
  EXPECT_EQ(calls[boot + 3], "reboot 0x1234567");
  EXPECT_EQ(terminal->Screen().find("no harddrives found"), std::string::npos);
}

TEST_F(StartupSandbox, InterruptAfterTheFlowEndedChangesNothing) {
  root_->Write("/TYPE", "net\n");
  auto terminal = root_->Start({"/bin/setup"});
  ASSERT_TRUE(terminal->Expect("Press ENTER to reboot")) << terminal->Screen();
  terminal->Type("\003");
  usleep(300 * 1000);
  terminal->Type("\r");
  ASSERT_TRUE(terminal->Expect("Rebooting...")) << terminal->Screen();
  EXPECT_TRUE(EndedByReboot(terminal->Wait()));
  EXPECT_EQ(terminal->Screen().find("Installation aborted"), std::string::npos);
  EXPECT_EQ(FindCall(root_->Calls(), "umount /flash/boot"), -1);
}

}  // namespace
