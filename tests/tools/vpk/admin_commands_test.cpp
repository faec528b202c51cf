// The vpk program as its users run it: the administration commands on a temporary tree, and
// building, signing and verifying a package.
#include "tools/vpk/admin_commands.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <unistd.h>

#include <cstdlib>
#include <optional>

#include "packages/roots.h"
#include "packages/tree_lock.h"
#include "streams/package_format.h"
#include "tests/support/package_builder.h"
#include "tests/support/package_tree.h"
#include "tools/vpk/keygen.h"

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

  // Runs vpk, ended after 20 seconds (status 124) should it block.
  Outcome Run(const std::vector<std::string>& arguments) {
    std::string line = "timeout 20 " VELA_BINARY_DIR "/bin/vpk";
    for (const std::string& argument : arguments) {
      line += " '" + argument + "'";
    }
    int status = std::system((line + " >" + (dir / "out") + " 2>" + (dir / "err")).c_str());
    return Outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadWholeTestFile(dir / "out"),
                   ReadWholeTestFile(dir / "err")};
  }

  // Runs an administration command on the test's tree (or on `root`).
  Outcome Vpk(const std::string& command, std::vector<std::string> arguments = {},
              const std::optional<std::string>& root = std::nullopt) {
    arguments.insert(arguments.begin(),
                     {command, "--root", root.value_or(Root()), "--system-root", dir / "system"});
    return Run(arguments);
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
  for (const char* command : {"install", "uninstall", "enable", "disable", "boot-install",
                              "purge-incompatible", "list"}) {
    Outcome help = Vpk(command, {"--help"});
    EXPECT_EQ(help.out.rfind(std::string("usage: vpk ") + command, 0) + help.status, 0u) << command;
    EXPECT_EQ(Vpk(command, {"--bogus"}).status, 1) << command;
  }
  EXPECT_EQ(Vpk("install").status, 1);
  EXPECT_EQ(Vpk("purge-incompatible", {"extra"}).status, 1);
  EXPECT_EQ(Vpk("disable", {"--downgrade", "ppp"}).status, 1);  // modes are for installing
  for (const char* wrong : {"--root", "extra"}) {
    EXPECT_EQ(Vpk("list", {wrong}).err.rfind("usage: vpk list", 0), 0u) << wrong;
  }
}

// A FIFO was opened blocking and hung the install for ever; a mistyped --root must not grow a
// stray tree, and an empty one meant the running system's root.
TEST_F(AdminCommandsTest, RefusalsSayWhyAndCreateNothing) {
  ASSERT_TRUE(WriteTestFile(dir / "passwd", "root:x:0:0:root:/root:/bin/bash\n"));
  TestPackage dots("..", "1.0");
  ASSERT_TRUE(dots.File("/f", "f").Write(dir / "dots.vpk", TestPackage::kSigned));
  TestPackage escape("e\x1b[2J/", "1.0");
  ASSERT_TRUE(escape.File("/f", "f").Write(dir / "escape.vpk", TestPackage::kSigned));
  std::string bytes = TestPackage("ppp", "1.0").File("/f", "f").Bytes(TestPackage::kSigned);
  ASSERT_TRUE(WriteTestFile(dir / "magic.vpk", bytes.substr(0, kContainerHeaderSize)));
  bytes[kContainerHeaderSize] = 0x7f;  // the header part's type
  ASSERT_TRUE(WriteTestFile(dir / "type.vpk", bytes));
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  const std::pair<std::string, std::string> cases[] = {
      {dir / "passwd", "not a package file: bad magic"},
      {dir / "dots.vpk", "package name '..' is not allowed"},
      {dir / "escape.vpk", "package name 'e\\x1b[2J/' is not allowed"},
      {dir / "magic.vpk", "not a package file: no part after the container header"},
      {dir / "type.vpk", "not a package file: its first part (type 127) is no header"},
      {dir / "fifo", "not a package file: not a regular file"},
      {dir.Path(), "not a package file: not a regular file"},
  };
  for (const auto& [file, message] : cases) {
    Outcome refused = Vpk("install", {file});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "vpk: " + file + ": " + message + "\n");
    EXPECT_TRUE(ListTree(Root()).empty()) << file;
  }
  Outcome listed = Vpk("uninstall", {"ppp"});
  EXPECT_EQ(listed.status, 1);
  EXPECT_EQ(listed.out, "WARNING: could not open repo\n");
  Outcome empty = Vpk("list");
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.out, listed.out);

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
      {"", "no tree at '' (--root needs a directory)"},
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
  EXPECT_FALSE(PathExists("/var/pdb/base"));
}

// One writer at a time; with --wait a writer takes the lock when the holder ends, and a killed
// holder's lock is free.
TEST_F(AdminCommandsTest, OneWriterAtATime) {
  std::string base = Package("base"), ppp = Package("ppp", "base");
  ASSERT_EQ(Vpk("install", {base}).status, 0);
  GetPackageRoots().target = Root();
  TreeLock held;
  ASSERT_TRUE(held.Take("test: ", 0));
  const std::pair<const char*, std::vector<std::string>> writers[] = {
      {"install", {ppp}},    {"uninstall", {"base"}}, {"enable", {"base"}},
      {"disable", {"base"}}, {"boot-install", {}},    {"purge-incompatible", {}},
  };
  for (const auto& [command, arguments] : writers) {
    SCOPED_TRACE(command);
    Outcome refused = Vpk(command, arguments);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out + refused.err,
              "vpk: " + Root() + " is in use by process " + std::to_string(getpid()) + "\n");
    EXPECT_EQ(Listed(), "base ");
  }
  EXPECT_EQ(Vpk("list").status, 0);

  // The waiter opens the lock file once per try: a second open means it found the lock held and
  // tried again instead of giving up.
  int opens = inotify_init1(IN_CLOEXEC);
  ASSERT_GE(inotify_add_watch(opens, Root("/.vpk-lock").c_str(), IN_OPEN), 0);
  pid_t waiter = fork();
  if (waiter == 0) {
    execl(VELA_BINARY_DIR "/bin/vpk", "vpk", "install", "--wait", "20", "--root", Root().c_str(),
          "--system-root", (dir / "system").c_str(), ppp.c_str(), nullptr);
    _exit(127);
  }
  for (int seen = 0; seen < 2;) {
    pollfd ready{opens, POLLIN, 0};
    ASSERT_EQ(poll(&ready, 1, 20000), 1) << "the waiting writer did not try the lock twice";
    char events[4096];
    ssize_t got = read(opens, events, sizeof events);
    ASSERT_GT(got, 0);
    seen += int(got / sizeof(inotify_event));  // no name follows an event on the watched file
  }
  close(opens);
  EXPECT_EQ(waitpid(waiter, nullptr, WNOHANG), 0) << "the waiting writer did not wait";
  held.Release();
  int status = 0;
  ASSERT_EQ(waitpid(waiter, &status, 0), waiter);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Listed(), "base ppp ");

  pid_t killed = fork();
  if (killed == 0) {
    TreeLock lock;
    raise(lock.Take("test: ", 0) ? SIGKILL : SIGTERM);
  }
  ASSERT_EQ(waitpid(killed, &status, 0), killed);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  EXPECT_TRUE(PathExists(Root("/.vpk-lock")));
  EXPECT_EQ(Vpk("disable", {"ppp"}).status, 0);
  EXPECT_EQ(Listed(), "base pppX ");
  EXPECT_FALSE(PathExists(Root("/.vpk-lock")));

  // A listing leaves a pending request for the next real load.
  WriteTreeFile(dir / "system/ram/pdb/ppp/schedule", "enable\n");
  EXPECT_EQ(Vpk("list").out,
            "            Name           Version                     Built\n"
            "------------------------------------------------------------\n"
            "            base               1.0      Nov/14/2023 22:13:20\n"
            "             ppp X             1.0      Nov/14/2023 22:13:20\n");
  EXPECT_EQ(ReadWholeTestFile(dir / "system/ram/pdb/ppp/schedule"), "enable\n");
}

// A listing of a killed installation's tree lists nothing (its files may be a mix of two
// versions); the next writer completes it (when the new record stands) or undoes it.
TEST_F(AdminCommandsTest, ListingNamesAnInterruptedInstallationThatTheNextCommandSettles) {
  ASSERT_EQ(Vpk("install", {Package("ppp")}).status, 0);
  struct stat record {};
  ASSERT_EQ(stat(Root("/var/pdb/ppp").c_str(), &record), 0);
  std::string standing = std::to_string(record.st_dev) + " " + std::to_string(record.st_ino);
  struct Case {
    std::string fresh;  // the new database record's directory, as the record names it
    const char* way;
    bool replacedStays;
  } cases[] = {{"1 2", "undone", true}, {standing, "completed", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.way);
    ASSERT_EQ(mkdir(Root("/.vpk-staging").c_str(), 0700), 0);
    WriteTreeFile(Root("/.vpk-staging/placement"),
                  "vpk placement 2\nppp\n" + c.fresh + "\ng replaced\nend\n");
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

using VpkProgramTest = AdminCommandsTest;

// One refusal among the files makes the exit status 1; a mistake leaves no output.
TEST_F(VpkProgramTest, BuildSignAndVerifyAPackage) {
  ASSERT_EQ(mkdir((dir / "tree").c_str(), 0755), 0);
  ASSERT_TRUE(WriteTestFile(dir / "tree/options", "lock\n"));
  Outcome build =
      Run({"build", "--name=ppp", "--version", "2.9.5", "-o", dir / "ppp.vpk", dir / "tree"});
  ASSERT_EQ(build.status, 0) << build.err;
  EXPECT_EQ(build.out, dir / "ppp.vpk" + ": built ppp-2.9.5\n");
  Outcome refused = Run({"verify", dir / "ppp.vpk"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.out.find(": refused ('ppp' is unsigned; digest "), std::string::npos);
  std::string key = VELA_SOURCE_DIR "/keys/private_key.hex";
  ASSERT_EQ(Run({"sign", key, dir / "ppp.vpk", "-o", dir / "signed.vpk"}).status, 0);
  Outcome verify = Run({"verify", dir / "signed.vpk", dir / "ppp.vpk"});
  EXPECT_EQ(verify.status, 1);
  EXPECT_EQ(verify.out,
            dir / "signed.vpk" + ": accepted ('ppp' signature verifies)\n" + refused.out);
  Outcome mistake = Run({"build", "--name=x", "--version=1.0", "-o", dir / "x.vpk", dir / "none"});
  EXPECT_EQ(mistake.status, 1);
  EXPECT_EQ(mistake.err.find("vpk: cannot open directory "), 0u) << mistake.err;
  EXPECT_EQ(ReadWholeTestFile(dir / "x.vpk"), "<unreadable>");
}

// The committed test key is what its seed gives (keys/README.md); no run overwrites a key.
TEST_F(VpkProgramTest, KeygenSeedGivesTheCommittedTestKey) {
  ASSERT_EQ(Run({"keygen", dir / "keys", "--seed", "vela test key"}).status, 0);
  for (std::string name :
       {privateKeyFileName, packageKeyFileName, hashWordsFileName, knownDigestsFileName}) {
    EXPECT_EQ(ReadWholeTestFile(dir / "keys/" + name),
              ReadWholeTestFile(VELA_SOURCE_DIR "/keys/" + name))
        << name;
  }
  struct stat info;
  ASSERT_EQ(stat((dir / "keys/" + privateKeyFileName).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(Run({"keygen", dir / "keys", "--seed", "another"}).status, 1);
  EXPECT_EQ(Run({"keygen", dir / "keys"}).status, 1);
  EXPECT_EQ(Run({"keygen", dir / "other", "--seed"}).status, 1);
  EXPECT_EQ(ReadWholeTestFile(dir / "keys/" + privateKeyFileName),
            ReadWholeTestFile(VELA_SOURCE_DIR "/keys/private_key.hex"));
  ASSERT_EQ(Run({"keygen", dir / "a"}).status, 0);
  ASSERT_EQ(Run({"keygen", dir / "b"}).status, 0);
  EXPECT_NE(ReadWholeTestFile(dir / "a/" + privateKeyFileName),
            ReadWholeTestFile(dir / "b/" + privateKeyFileName));
}

}  // namespace
