// Ctrl-C wherever the installer waits gives the abort sequence at once; once the flow has ended it
// changes nothing.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "tests/sandbox/harness.h"
#include "tests/support/net_namespace.h"

namespace {

// Where the interrupt comes; each is set up in a fresh root.
enum class Wait { kPackageMenu, kToolRun, kPackageInstallation, kNetwork, kEnter };

// The calls without their results ("umount /flash = -1" → "umount /flash").
std::vector<std::string> LastCalls(const InstallerSandbox& root, size_t count) {
  std::vector<std::string> calls = root.Calls();
  calls.erase(calls.begin(), calls.end() - std::min(calls.size(), count));
  for (std::string& call : calls) {
    call = call.substr(0, call.find(" = "));
  }
  return calls;
}

using InterruptSandbox = SandboxTest;

TEST_F(InterruptSandbox, CtrlCWhereverTheInstallerWaitsAbortsAtOnce) {
  const struct {
    Wait wait;
    const char* type;
    const char* shown;  // on screen once the installer is about to wait
  } cases[] = {
      {Wait::kPackageMenu, "cdrom\n", "system (depends on nothing):"},
      {Wait::kToolRun, "cdrom\n", "Looking for harddrives..."},
      {Wait::kPackageInstallation, "cdrom\n", "system (depends on nothing):"},
      {Wait::kNetwork, "net\n", "Waiting for drivers..."},
      {Wait::kEnter, "net\n", "Press ENTER to reboot"},  // no card: the flow has ended
  };
  for (const auto& run : cases) {
    SCOPED_TRACE(run.shown + std::string(" ") + run.type);
    SetUp();
    InstallerSandbox& root = *root_;
    root.Write("/TYPE", run.type);
    root.Write(kDumpFile, kOldTable);
    ASSERT_TRUE(WriteFixturePackages(root, kCd));
    std::unique_ptr<VethLink> link;  // nobody answers on its other end
    if (run.wait == Wait::kNetwork) {
      link = std::make_unique<VethLink>("interrupt");
      ASSERT_TRUE(link->Ready());
    }
    if (run.wait == Wait::kToolRun) {
      root.Write(kHoldFile, "");
    }
    auto terminal = root.Start({"/bin/setup"}, ConsoleKind::kVirtual, link ? link->Left() : "");
    ASSERT_TRUE(terminal->Expect(run.shown)) << terminal->Screen();
    int fifo = -1;
    if (run.wait == Wait::kToolRun) {
      // Typed once the tool runs: the interrupt of the terminal's process group ends it too.
      Eventually([&] { return !root.Calls("exec /sbin/sfdisk -g").empty(); });
    } else if (run.wait == Wait::kPackageInstallation) {
      // The package file becomes a FIFO that gives half the package, then nothing.
      std::string package = root.Read(kCd + "/system.vpk");
      unlink(root.HostPath(kCd + "/system.vpk").c_str());
      ASSERT_EQ(mkfifo(root.HostPath(kCd + "/system.vpk").c_str(), 0644), 0);
      ASSERT_NO_FATAL_FAILURE(
          Answer(*terminal, {{"", "i"}, {"keep old configuration?", "n"}, {"Continue?", "y"}}));
      // Opened once the installer reads it.
      Eventually([&] {
        fifo = open(root.HostPath(kCd + "/system.vpk").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        return fifo >= 0 || errno != ENXIO;
      });
      ASSERT_GE(fifo, 0) << terminal->Screen();
      ASSERT_EQ(write(fifo, package.data(), package.size() / 2), ssize_t(package.size() / 2));
    }
    terminal->Type("\003");
    bool aborts = run.wait != Wait::kEnter;
    std::vector<std::string> ending = {"umount /flash/boot", "umount /floppy", "umount /flash"};
    if (aborts) {
      ASSERT_TRUE(
          terminal->Expect("\r\n\r\nInstallation aborted\r\nPress ENTER to reboot\r\n", 5000))
          << terminal->Screen();
      EXPECT_TRUE(root.Calls("reboot").empty());
      std::swap(ending[1], ending[2]);
    }
    // Any other key rings the bell; the reading after it carries out an interrupt still noted.
    terminal->Type("x\r");
    EXPECT_TRUE(EndedByReboot(terminal->Wait())) << terminal->Screen();
    const std::string& screen = terminal->Screen();
    EXPECT_NE(screen.find("\a\033[?25h"), std::string::npos) << screen;
    // The abort shows no error; the flow that ended (no card) showed its own and is not aborted.
    EXPECT_EQ(screen.find(aborts ? "ERROR" : "Installation aborted"), std::string::npos) << screen;
    ending.insert(ending.end(), {"sync", "reboot 0x1234567"});
    EXPECT_EQ(LastCalls(root, ending.size()), ending);
    if (fifo >= 0) {
      close(fifo);
    }
  }
}

}  // namespace
