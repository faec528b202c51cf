// The installer's test build from start to reboot, inside a throwaway root.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/sandbox/harness.h"

namespace {

using StartupSandbox = SandboxTest;

// Installation media without packages, so that each media flow ends at once after finding them.
void GiveEmptyMedia(const InstallerSandbox& root) {
  root.MakeDirectory(std::string(kMediaDirectory) + "/hda.iso9660");
  root.Write(std::string(kMediaDirectory) + "/hda.vfat/mbr", std::string(512, 'm'));
  root.Write(std::string(kMediaDirectory) + "/hda.vfat/autorun.scr", "");
}

TEST_F(StartupSandbox, CdromRunPreparesTheMachineFindsTheDiskAndEndsInOrder) {
  std::string modules = InstallerSandbox::ModuleDirectory();
  for (const char* module : {"drivers/net/atl1c.ko", "kernel/fs/ext3/ext3.ko",
                             "kernel/drivers/scsi/hpsa.ko", "kernel/drivers/usb/usb-common.ko"}) {
    root_->Write(modules + module, "module");
  }
  root_->Write(modules + "kernel/fs/ext2/ext2.ko", "");  // cannot be mapped: reported
  root_->Write(kFailFile, "init_module " + modules + "kernel/fs/ext3/");  // refused: silent
  root_->Write("/sys/class/misc/lcd/dev", "10:130\n");
  root_->Write("/TYPE", "cdrom\n");
  GiveEmptyMedia(*root_);
  std::vector<std::string> expected = {
      "mount proc /proc proc 0x0 = 0",
      "mount sysfs /sys sysfs 0x0 = 0",
      "init_module " + modules + "drivers/net/atl1c.ko 6 \"\" = 0",
      "mknod /dev/lcd 020666 10,130 = 0",
      "init_module " + modules + "kernel/fs/ext3/ext3.ko 6 \"\" = -1",
      "init_module " + modules + "kernel/drivers/scsi/hpsa.ko 6 \"\" = 0",
      "init_module " + modules + "kernel/drivers/usb/usb-common.ko 6 \"\" = 0",
      "exec /sbin/sfdisk -g",
      "mount /dev/hda /floppy iso9660 0xc0ed0001 = 0",
      "umount /flash/boot = -1",
      "umount /floppy = 0",
      "umount /flash = -1",
  };
  auto terminal = root_->Start({"/bin/setup"});
  // Only the module that cannot be mapped is reported: missing and refused ones are not.
  for (const char* step :
       {"Loading drivers\r\nERROR: could not load module kernel/fs/ext2/ext2.ko\r\n\r\n"
        "Looking for harddrives...",
        "Found harddrive as SATA 1", "FATAL ERROR: No packages found", "Press ENTER to reboot"}) {
    ASSERT_TRUE(terminal->Expect(step)) << terminal->Screen();
  }
  // Waiting for ENTER: the marker is written and all is unmounted, but nothing rebooted yet.
  EXPECT_TRUE(root_->Exists("/flash/SHOW_LICENSE"));
  EXPECT_EQ(root_->Calls(), expected);
  terminal->Type("x\r");
  ASSERT_TRUE(terminal->Expect("\a\033[?25h\r\nRebooting...")) << terminal->Screen();
  EXPECT_TRUE(EndedByReboot(terminal->Wait()));
  expected.insert(expected.end(), {"sync", "reboot 0x1234567"});
  EXPECT_EQ(root_->Calls(), expected);
  // The tools write to the log terminal, not on the screen.
  EXPECT_EQ(root_->Read("/dev/tty9"), "sfdisk ran\n");
}

// The flow is chosen by the whole first line of /TYPE and by an argument that is exactly
// "-hdd-install"; without a virtual console the serial port is the console and the tools write
// nowhere. An unreadable LCD number only costs its message.
TEST_F(StartupSandbox, RunsTheFlowThatTypeAndCommandLineChooseOnTheConsoleThereIs) {
  const struct {
    const char* type;  // null: no /TYPE at all
    std::vector<std::string> arguments;
    const char* message;
    ConsoleKind console = ConsoleKind::kVirtual;
  } cases[] = {
      {"cdrom", {"/bin/setup"}, "Found harddrive as SATA 1", ConsoleKind::kSerial},
      {"net\n", {"/sbin/init", "-x", "-hdd-install"}, "hard disk installation"},
      {"net\n", {"/bin/setup", "-hdd-installer"}, "FATAL ERROR: no network card found"},
      {"CDROM\n", {"/bin/setup"}, "FATAL ERROR: internal error"},
      {"cdrom \n", {"/bin/setup"}, "FATAL ERROR: internal error"},
      {nullptr, {"/bin/setup"}, "FATAL ERROR: internal error"},
  };
  for (const auto& run : cases) {
    SCOPED_TRACE(run.message);
    SetUp();
    GiveEmptyMedia(*root_);
    root_->Write("/sys/class/misc/lcd/dev", "ten:onethirty\n");
    if (run.type != nullptr) {
      root_->Write("/TYPE", run.type);
    }
    auto terminal = root_->Start(run.arguments, run.console);
    ASSERT_TRUE(terminal->Expect("ERROR: strange format for lcd dev\r\n")) << terminal->Screen();
    ASSERT_TRUE(terminal->Expect(run.message)) << terminal->Screen();
    int status = FinishRun(*terminal);
    // As init, the first process waits for the installer and exits with its raw status.
    bool init = run.arguments[0] == "/sbin/init";
    EXPECT_TRUE(init ? WIFEXITED(status) && WEXITSTATUS(status) == kRebootSignal
                     : EndedByReboot(status))
        << status;
    EXPECT_TRUE(root_->Calls("mknod").empty());
    if (run.console == ConsoleKind::kSerial) {
      EXPECT_EQ(root_->Read("/dev/tty9"), "");
    }
  }
}

// Started by hand rather than as the first process of a medium, the installer refuses at once and
// asks nothing of the machine.
TEST_F(StartupSandbox, OutsideTheFirstProcessItRefusesAndTouchesNothing) {
  root_->Write("/TYPE", "cdrom\n");
  int program = open(INSTALLER_TEST_PATH, O_RDONLY | O_CLOEXEC);
  SandboxOutcome outcome = RunInSandbox(*root_, [program] {
    char* const arguments[] = {const_cast<char*>("/bin/setup"), nullptr};
    fexecve(program, arguments, environ);
    return 124;
  });
  close(program);
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_NE(outcome.output.find("installer: not the first process of an installation medium"),
            std::string::npos)
      << outcome.output;
  EXPECT_TRUE(root_->Calls().empty());
}

}  // namespace
