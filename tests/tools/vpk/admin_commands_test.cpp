// The administration commands of vpk as their users run them, on a temporary tree.
#include "tools/vpk/admin_commands.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>

#include "tests/support/package_builder.h"

namespace {

struct Outcome {
  int status;
  std::string out, err;
};

class AdminCommandsTest : public testing::Test {
 protected:
  AdminCommandsTest() {
    EXPECT_EQ(mkdir((dir / "system").c_str(), 0755), 0);
    EXPECT_EQ(mkdir((dir / "files").c_str(), 0755), 0);
  }

  // Runs vpk with the command, the tree options and the arguments (each single-quoted).
  Outcome Vpk(const std::string& command, const std::vector<std::string>& arguments = {}) {
    std::string line = VELA_BINARY_DIR "/bin/vpk " + command + " --root '" + Root() +
                       "' --system-root '" + (dir / "system") + "'";
    for (const std::string& argument : arguments) {
      line += " '" + argument + "'";
    }
    line += " >" + (dir / "stdout") + " 2>" + (dir / "stderr");
    int status = std::system(line.c_str());
    return Outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadWholeTestFile(dir / "stdout"),
                   ReadWholeTestFile(dir / "stderr")};
  }

  std::string Root(const std::string& path = "") { return dir / "root" + path; }

  std::string Package(const char* name, const char* version, const char* depends = nullptr) {
    TestPackage p(name, version);
    p.File(std::string("/usr/bin/") + name, version);
    if (depends != nullptr) {
      p.Depends(depends);
    }
    std::string path = dir / (std::string("files/") + name + ".vpk");
    EXPECT_TRUE(p.Write(path, TestPackage::kSigned));
    return path;
  }

  // The lines of the package table after its header, with blanks squeezed.
  std::string Listed() {
    std::string table = Vpk("list").out;
    std::string squeezed;
    for (char c : table.substr(table.find("---\n") + 4)) {
      if (c != ' ' || (!squeezed.empty() && squeezed.back() != ' ' && squeezed.back() != '\n')) {
        squeezed += c;
      }
    }
    return squeezed;
  }

  TemporaryDirectory dir;
};

TEST_F(AdminCommandsTest, InstallThenScheduleRequests) {
  Outcome installed = Vpk("install", {Package("base", "1.0"), Package("ppp", "2.9", "base")});
  EXPECT_EQ(installed.status, 0) << installed.err;
  EXPECT_NE(installed.out.find("installed base-1.0\n"), std::string::npos);
  EXPECT_EQ(ReadWholeTestFile(Root("/usr/bin/ppp")), "2.9");
  struct Step {
    const char* command;
    const char* name;
    int status;
    const char* message;  // on standard output, or on standard error for status 1
    const char* listed;
  } steps[] = {
      {"disable", "base", 1, "WARNING: can not disable base-1.0: ppp depends on it",
       "base 1.0 Nov/14/2023 22:13:20\nppp 2.9 Nov/14/2023 22:13:20\n"},
      {"disable", "ppp", 0, "disabled ppp-2.9",
       "base 1.0 Nov/14/2023 22:13:20\nppp X 2.9 Nov/14/2023 22:13:20\n"},
      {"enable", "ppp", 0, "enabled ppp-2.9",
       "base 1.0 Nov/14/2023 22:13:20\nppp 2.9 Nov/14/2023 22:13:20\n"},
      {"uninstall", "ppp", 0, "uninstalled ppp-2.9", "base 1.0 Nov/14/2023 22:13:20\n"},
      {"enable", "ppp", 1, "vpk: enable: ppp is not installed", "base 1.0 Nov/14/2023 22:13:20\n"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(step.command) + " " + step.name);
    Outcome outcome = Vpk(step.command, {step.name});
    EXPECT_EQ(outcome.status, step.status);
    EXPECT_NE((outcome.out + outcome.err).find(step.message), std::string::npos)
        << outcome.out << outcome.err;
    EXPECT_EQ(Listed(), step.listed);
  }
  EXPECT_FALSE(std::ifstream(Root("/usr/bin/ppp")).good());
  std::string log = ReadWholeTestFile(Root("/postlog"));
  EXPECT_NE(log.find("installed ppp-2.9\n"), std::string::npos) << log;
  EXPECT_NE(log.find("uninstalled ppp-2.9\n"), std::string::npos) << log;
}

TEST_F(AdminCommandsTest, InstallStoresTheImageOfAnImagePackage) {
  TestPackage kernel("kernel", "5.4");
  kernel.Flags(1).Image("IMAGE").File("/boot/vmlinuz", "k");
  std::string path = dir / "files/kernel.vpk";
  ASSERT_TRUE(kernel.Write(path, TestPackage::kSigned));
  EXPECT_EQ(Vpk("install", {path}).status, 0);
  EXPECT_EQ(ReadWholeTestFile(Root("/var/pdb/kernel/image")), ReadWholeTestFile(path));
  EXPECT_EQ(ReadWholeTestFile(Root("/bootimage")), ReadWholeTestFile(path));
  EXPECT_EQ(Vpk("install", {path}).status, 1);
  EXPECT_EQ(Vpk("install", {"--accept-installed", path}).status, 0);
  Outcome missing = Vpk("install", {dir / "files/none.vpk"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("cannot open"), std::string::npos);
}

TEST_F(AdminCommandsTest, BootInstallStopsTheBootWhenNothingIsLeft) {
  ASSERT_EQ(Vpk("install", {Package("base", "1.0")}).status, 0);
  ASSERT_EQ(mkdir(Root("/rw").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(Root("/rw/pckg").c_str(), 0755), 0);
  Package("ppp", "2.9", "base");
  ASSERT_EQ(rename((dir / "files/ppp.vpk").c_str(), Root("/rw/pckg/ppp.vpk").c_str()), 0);
  Outcome booted = Vpk("boot-install");
  EXPECT_EQ(booted.status, 0) << booted.out;
  EXPECT_EQ(Listed(), "base 1.0 Nov/14/2023 22:13:20\nppp 2.9 Nov/14/2023 22:13:20\n");

  EXPECT_EQ(Vpk("uninstall", {"ppp"}).status, 0);
  EXPECT_EQ(Vpk("uninstall", {"base"}).status, 1);  // the last package stays
  TemporaryDirectory empty;
  Outcome lost = Vpk("boot-install", {"--root", empty.Path()});
  EXPECT_EQ(lost.status, kSystemLostExitStatus);
  EXPECT_NE(lost.out.find("\nERROR: router installation failed!!!\nPlease, reinstall.\n"),
            std::string::npos);
}

TEST_F(AdminCommandsTest, EveryCommandHelpsAndRefusesWrongArguments) {
  for (const char* command :
       {"install", "uninstall", "enable", "disable", "boot-install", "purge-incompatible"}) {
    SCOPED_TRACE(command);
    Outcome help = Vpk(command, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind(std::string("usage: vpk ") + command, 0), 0u) << help.out;
    EXPECT_NE(help.out.find("--root DIR"), std::string::npos);
    EXPECT_EQ(Vpk(command, {"--bogus"}).status, 1);
  }
  EXPECT_EQ(Vpk("install").status, 1);
  EXPECT_EQ(Vpk("purge-incompatible", {"extra"}).status, 1);
  EXPECT_EQ(Vpk("disable", {"--downgrade", "ppp"}).status, 1);  // modes are for installing
}

}  // namespace
