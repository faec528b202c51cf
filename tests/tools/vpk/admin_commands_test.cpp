// The administration commands of vpk as their users run them, on a temporary tree.
#include "tools/vpk/admin_commands.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <unistd.h>

#include <cstdlib>

#include "tests/support/package_builder.h"
#include "tests/support/package_tree.h"

namespace {

struct Outcome {
  int status;
  std::string out, err;
};

class AdminCommandsTest : public testing::Test {
 protected:
  AdminCommandsTest() {
    EXPECT_EQ(mkdir((dir / "system").c_str(), 0755), 0);
    EXPECT_EQ(mkdir(Root().c_str(), 0755), 0);
  }

  // Runs vpk with the command, the tree options and the arguments (each single-quoted).
  Outcome Vpk(const std::string& command, const std::vector<std::string>& arguments = {},
              const std::string& root = "") {
    std::string line = VELA_BINARY_DIR "/bin/vpk " + command + " --root '" +
                       (root.empty() ? Root() : root) + "' --system-root '" + (dir / "system") +
                       "'";
    for (const std::string& argument : arguments) {
      line += " '" + argument + "'";
    }
    int status = std::system((line + " >" + (dir / "out") + " 2>" + (dir / "err")).c_str());
    return Outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadWholeTestFile(dir / "out"),
                   ReadWholeTestFile(dir / "err")};
  }

  std::string Root(const std::string& path = "") { return dir / "root" + path; }

  std::string Package(const char* name, const char* depends = nullptr) {
    TestPackage p(name, "1.0");
    p.File(std::string("/usr/bin/") + name, name);
    std::string path = dir / (std::string(name) + ".vpk");
    EXPECT_TRUE((depends ? p.Depends(depends) : p).Write(path, TestPackage::kSigned));
    return path;
  }

  // The installed ones of base and ppp, each followed by "X" when disabled.
  std::string Listed() {
    std::string names;
    for (std::string name : {"base", "ppp"}) {
      if (PathExists(Root("/var/pdb/" + name))) {
        names += name + (PathExists(Root("/var/pdb/" + name + "/disabled")) ? "X " : " ");
      }
    }
    return names;
  }

  TemporaryDirectory dir;
};

TEST_F(AdminCommandsTest, InstallThenScheduleRequests) {
  Outcome installed = Vpk("install", {Package("base"), Package("ppp", "base")});
  EXPECT_EQ(installed.status, 0) << installed.err;
  EXPECT_NE(installed.out.find("installed base-1.0\n"), std::string::npos);
  EXPECT_EQ(ReadWholeTestFile(Root("/usr/bin/ppp")), "ppp");
  struct Step {
    const char* command;
    const char* name;
    int status;
    const char* message;  // on standard output or standard error
    const char* listed;
  } steps[] = {
      {"disable", "base", 1, "WARNING: can not disable base-1.0: ppp depends on it", "base ppp "},
      {"disable", "ppp", 0, "disabled ppp-1.0", "base pppX "},
      {"enable", "ppp", 0, "enabled ppp-1.0", "base ppp "},
      {"uninstall", "ppp", 0, "uninstalled ppp-1.0", "base "},
      {"enable", "ppp", 1, "vpk: enable: ppp is not installed", "base "},
      {"uninstall", "base", 1, "ERROR: can not uninstall or disable all packages", "base "},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(step.command) + " " + step.name);
    Outcome outcome = Vpk(step.command, {step.name});
    EXPECT_EQ(outcome.status, step.status);
    EXPECT_NE((outcome.out + outcome.err).find(step.message), std::string::npos) << outcome.out;
    EXPECT_EQ(Listed(), step.listed);
  }
  EXPECT_FALSE(PathExists(Root("/usr/bin/ppp")));
  std::string log = ReadWholeTestFile(Root("/postlog"));
  EXPECT_EQ(log.rfind("installed base-1.0\ninstalled ppp-1.0\n", 0), 0u) << log;
  EXPECT_NE(log.find("uninstalled ppp-1.0\n"), std::string::npos) << log;
}

TEST_F(AdminCommandsTest, InstallKeepsTheImageOfAnImagePackage) {
  TestPackage kernel("kernel", "5.4");
  ASSERT_TRUE(kernel.Flags(1).Image("IMAGE").Write(dir / "kernel.vpk", TestPackage::kSigned));
  EXPECT_EQ(Vpk("install", {dir / "kernel.vpk"}).status, 0);
  EXPECT_EQ(ReadWholeTestFile(Root("/bootimage")), ReadWholeTestFile(dir / "kernel.vpk"));
  EXPECT_EQ(ReadWholeTestFile(Root("/var/pdb/kernel/image")),
            ReadWholeTestFile(dir / "kernel.vpk"));
}

TEST_F(AdminCommandsTest, BootInstallStopsTheBootWhenNothingIsLeft) {
  ASSERT_EQ(Vpk("install", {Package("base")}).status, 0);
  ASSERT_EQ(system(("mkdir -p " + Root("/rw/pckg")).c_str()), 0);
  ASSERT_EQ(rename(Package("ppp", "base").c_str(), Root("/rw/pckg/ppp.vpk").c_str()), 0);
  EXPECT_EQ(Vpk("boot-install").status, 0);
  EXPECT_EQ(Listed(), "base ppp ");

  TemporaryDirectory empty;
  Outcome lost = Vpk("boot-install", {"--root", empty.Path()});
  EXPECT_EQ(lost.status, kSystemLostExitStatus);
  EXPECT_NE(lost.out.find("\nERROR: router installation failed!!!\nPlease, reinstall.\n"),
            std::string::npos);
}

TEST_F(AdminCommandsTest, EveryCommandHelpsAndRefusesWrongArguments) {
  for (const char* command :
       {"install", "uninstall", "enable", "disable", "boot-install", "purge-incompatible"}) {
    Outcome help = Vpk(command, {"--help"});
    EXPECT_EQ(help.out.rfind(std::string("usage: vpk ") + command, 0) + help.status, 0u) << command;
    EXPECT_EQ(Vpk(command, {"--bogus"}).status, 1) << command;
  }
  EXPECT_EQ(Vpk("install").status, 1);
  EXPECT_EQ(Vpk("purge-incompatible", {"extra"}).status, 1);
  EXPECT_EQ(Vpk("disable", {"--downgrade", "ppp"}).status, 1);  // modes are for installing
}

// A file that is no package, or a package whose name cannot be recorded, is refused with its
// reason and leaves the tree as it was; so does a read-only command on a tree without a database.
// A --root that names no directory is refused by every command that takes one, with the same
// hint, and nothing is made there (a mistyped --root must not grow a stray tree).
TEST_F(AdminCommandsTest, RefusalsSayWhyAndCreateNothing) {
  ASSERT_TRUE(WriteTestFile(dir / "passwd", "root:x:0:0:root:/root:/bin/bash\n"));
  TestPackage dots("..", "1.0");
  ASSERT_TRUE(dots.File("/f", "f").Write(dir / "dots.vpk", TestPackage::kSigned));
  const std::pair<std::string, std::string> cases[] = {
      {dir / "passwd", "vpk: " + (dir / "passwd") + ": not a package file: bad magic\n"},
      {dir / "dots.vpk", "vpk: " + (dir / "dots.vpk") + ": package name '..' is not allowed\n"},
  };
  for (const auto& [file, message] : cases) {
    Outcome refused = Vpk("install", {file});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, message);
    EXPECT_TRUE(ListTree(Root()).empty()) << file;
  }
  Outcome listed = Vpk("uninstall", {"ppp"});
  EXPECT_EQ(listed.status, 1);
  EXPECT_EQ(listed.out, "WARNING: could not open repo\n");

  const std::pair<const char*, std::vector<std::string>> commands[] = {
      {"install", {Package("base")}},
      {"uninstall", {"base"}},
      {"enable", {"base"}},
      {"disable", {"base"}},
      {"boot-install", {}},
      {"purge-incompatible", {}},
      {"list", {}},
  };
  const std::pair<std::string, std::string> roots[] = {
      {dir / "none", "no tree at " + (dir / "none") + " (create the directory first)"},
      {dir / "passwd/sub", "no tree at " + (dir / "passwd/sub") + " (create the directory first)"},
      {dir / "passwd", (dir / "passwd") + " is not a directory"},
  };
  for (const auto& [command, arguments] : commands) {
    for (const auto& [root, message] : roots) {
      SCOPED_TRACE(std::string(command) + " " + root);
      Outcome refused = Vpk(command, arguments, root);
      EXPECT_EQ(refused.status, 1);
      EXPECT_EQ(refused.out + refused.err, "vpk: " + std::string(command) + ": " + message + "\n");
    }
  }
  EXPECT_FALSE(PathExists(dir / "none"));
  EXPECT_EQ(ReadWholeTestFile(dir / "passwd"), "root:x:0:0:root:/root:/bin/bash\n");
}

// A killed installation's record in the tree: a listing says which way the next command will
// take it and lists nothing, since the files may be a mix of two versions; the next writer then
// completes it (the new record stands: the replaced version's files go) or undoes it.
TEST_F(AdminCommandsTest, ListingNamesAnInterruptedInstallationThatTheNextCommandSettles) {
  ASSERT_EQ(Vpk("install", {Package("ppp")}).status, 0);
  std::string version = ReadWholeTestFile(Root("/var/pdb/ppp/version"));
  struct Case {
    std::string version;  // the one the record expects
    const char* way;
    bool replacedStays;
  } cases[] = {{"1 2\n", "undone", true}, {version, "completed", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.way);
    ASSERT_EQ(mkdir(Root("/.vpk-staging").c_str(), 0700), 0);
    WriteTreeFile(Root("/.vpk-staging/placement"),
                  "vpk placement 1\nppp\n" + c.version + "g replaced\nend\n");
    WriteTreeFile(Root("/replaced"), "old");
    Outcome listed = Vpk("list");
    EXPECT_EQ(listed.status, 1);
    EXPECT_EQ(listed.out, "");
    EXPECT_EQ(listed.err, Root() + ": an interrupted installation of ppp will be " + c.way +
                              " by the next command\n");
    EXPECT_EQ(Vpk("enable", {"ppp"}).status, 0);
    EXPECT_EQ(PathExists(Root("/replaced")), c.replacedStays);
    EXPECT_FALSE(PathExists(Root("/.vpk-staging")));
    EXPECT_EQ(Vpk("list").status, 0);
  }
}

}  // namespace
