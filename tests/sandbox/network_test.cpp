// The network installation inside a throwaway root, against install-server in a second network
// namespace joined to the installer's by a veth link.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <memory>

#include "tests/sandbox/harness.h"
#include "tests/support/net_namespace.h"

namespace {

const std::string kServed = "/.sandbox/served";

class NetworkSandbox : public SandboxTest {
 protected:
  void Lay() override {
    link_ = std::make_unique<VethLink>("net");
    ASSERT_TRUE(link_->Ready());
    root_->Write("/TYPE", "net\n");
    root_->Write(kDumpFile, kOldTable);
    root_->Write(kNewRoot + "/vela/store/firewall", "old rules\n");
    root_->Write(std::string(kMediaDirectory) + "/fd0.vfat/label.txt", "  lab 1\nsecond\n");
    root_->InstallTool(std::string(kFormatTemplateDirectory) + "/sda2/bin/varo");
    ASSERT_TRUE(WriteFixturePackages(*root_, kServed + "/packages"));
    root_->Write(kServed + "/drivers/default.vpk", root_->Read(kServed + "/packages/wireless.vpk"));
    root_->Write(kServed + "/packages/site.scr", "set hostname r1\n");
    root_->Write(kServed + "/packages/empty.scr", "");
    root_->Write(kServed + "/profiles",
                 "profile default keep system.vpk site.scr ppp.vpk empty.scr dhcp.vpk\n");
  }

  void TearDown() override {
    if (server_ > 0) {
      kill(server_, SIGTERM);
      waitpid(server_, nullptr, 0);
    }
  }

  // Starts install-server in the other namespace, its output going to a log in the root.
  void StartServer() {
    int log = open(root_->HostPath("/.sandbox/server.log").c_str(), O_WRONLY | O_CREAT, 0644);
    server_ = fork();
    if (server_ == 0) {
      dup2(log, 1);
      dup2(log, 2);
      std::string served = root_->HostPath(kServed);
      execlp("ip", "ip", "netns", "exec", link_->Right().c_str(), INSTALL_SERVER_PATH,
             "--directory", served.c_str(), "--interface", VethLink::kRightInterface, "--profiles",
             (served + "/profiles").c_str(), nullptr);
      _exit(127);
    }
    close(log);
  }

  // Whether the server's log holds the text within 20 s.
  bool ServerLogged(const std::string& text) const {
    return Eventually([&] { return root_->Read("/.sandbox/server.log").find(text) != text.npos; },
                      20000);
  }

  std::unique_ptr<VethLink> link_;
  pid_t server_ = -1;
};

// Nobody answers the farewell: the server takes the WTRM, but its TERM never leaves its namespace.
// The key typed once the server has finished ends the repeated WTRM, and the run counts as
// installed.
TEST_F(NetworkSandbox, InstallsWhatTheServerSendsKeepsTheStoreAndAKeyEndsTheFarewell) {
  ASSERT_EQ(link_->RunIn(link_->Right(),
                         "nft add table inet farewell && nft \"add chain inet farewell out { type "
                         "filter hook output priority 0 ; }\" && nft add rule inet farewell out "
                         "udp sport 5000 @th,224,32 0x5445524d drop"),
            0);
  StartServer();
  auto terminal = root_->Start({"/bin/setup"}, ConsoleKind::kVirtual, link_->Left());
  ASSERT_TRUE(terminal->Expect("\r\nSoftware installed.\r\nPress ENTER to reboot", 30000))
      << terminal->Screen();
  ASSERT_TRUE(ServerLogged("finished: profile default, 5 files"))
      << root_->Read("/.sandbox/server.log");
  terminal->Type("\r");
  EXPECT_TRUE(EndedByReboot(terminal->Wait())) << terminal->Screen();
  std::string screen = terminal->Screen();
  for (const char* step :
       {"Waiting for drivers...", "Retrieving drivers...", "Loading drivers", "disk label: lab1",
        "Waiting for installation server...", "Found server at ", "Writing configuration..."}) {
    EXPECT_NE(screen.find(step), std::string::npos) << step << "\n" << screen;
  }
  for (const char* name : {"system", "ppp", "dhcp"}) {
    EXPECT_EQ(root_->Read(kNewRoot + "/etc/" + name), std::string(name) + "\n") << name;
  }
  EXPECT_FALSE(root_->Exists(kNewRoot + "/etc/wireless"));  // the driver package stays outside
  EXPECT_EQ(root_->Read(kNewRoot + "/site.scr"), "set hostname r1\n");
  EXPECT_FALSE(root_->Exists(kNewRoot + "/empty.scr"));
  EXPECT_TRUE(root_->Exists("/empty"));
  EXPECT_EQ(root_->Read(kNewRoot + "/vela/store/firewall"), "old rules\n");
  EXPECT_EQ(root_->Read(kNewRoot + "/bootimage"), root_->Read(kServed + "/packages/system.vpk"));
  EXPECT_TRUE(root_->Exists(kNewRoot + "/CDINSTALL"));
}

// ppp.vpk gone from the server since it started (true), or refused by its child (false).
class NetworkSandboxFailure : public NetworkSandbox, public testing::WithParamInterface<bool> {};

// A file gone from the server is announced, so that the installer stops at once with what came
// before installed and the server's summary names it; a refused package is named at the end,
// after the rest of the list came. Neither run says farewell.
TEST_P(NetworkSandboxFailure, AFileGoneOrAPackageRefusedEndsTheRunAsAFailure) {
  bool gone = GetParam();
  if (!gone) {
    ASSERT_TRUE(TestPackage("ppp", "1.0")
                    .File("/etc/ppp", "ppp\n")
                    .Write(root_->HostPath(kServed + "/packages/ppp.vpk")));
  }
  StartServer();
  if (gone) {
    // Gone once the server checked its files.
    ASSERT_TRUE(ServerLogged("install-server: serving")) << root_->Read("/.sandbox/server.log");
    unlink(root_->HostPath(kServed + "/packages/ppp.vpk").c_str());
  }
  auto terminal = root_->Start({"/bin/setup"}, ConsoleKind::kVirtual, link_->Left());
  ASSERT_TRUE(
      terminal->Expect(gone ? "\r\nFATAL ERROR: bad network connection\r\n"
                            : "\r\nFATAL ERROR: 1 of 3 packages were not installed: ppp.vpk\r\n",
                       30000))
      << terminal->Screen();
  if (gone) {
    ASSERT_TRUE(ServerLogged("failed: 2 of 5 files")) << root_->Read("/.sandbox/server.log");
    EXPECT_NE(root_->Read("/.sandbox/server.log").find("cannot send ppp.vpk: No such file"),
              std::string::npos);
  }
  EXPECT_TRUE(EndedByReboot(FinishRun(*terminal))) << terminal->Screen();
  EXPECT_EQ(root_->Read(kNewRoot + "/etc/system"), "system\n");
  EXPECT_EQ(root_->Read(kNewRoot + "/site.scr"), "set hostname r1\n");
  EXPECT_EQ(root_->Exists(kNewRoot + "/etc/dhcp"), !gone);
  EXPECT_FALSE(root_->Exists(kNewRoot + "/etc/ppp"));
  EXPECT_FALSE(root_->Exists(kNewRoot + "/CDINSTALL"));
  EXPECT_EQ(terminal->Screen().find("Software installed."), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(GoneOrRefused, NetworkSandboxFailure, testing::Bool());

}  // namespace
