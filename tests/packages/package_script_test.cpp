#include "packages/package_script.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <sstream>

#include "packages/package_database.h"
#include "tests/support/package_tree.h"
#include "tests/support/stream_bytes.h"

namespace {

const char kPreamble[] = "#!/bin/bash\n\n. /vela/lib/install/profile.sh\n\n";

std::unique_ptr<Package> MakePackage(const std::string& name) {
  auto p = std::make_unique<Package>(name);
  p->version = MakeVersion(1, 0, 'f', 0);
  return p;
}

// Stores body as the script part of a package file, read through a part reader as installing
// does; length is the part's own unless given.
bool StoreScript(const Package& p, const std::string& name, const std::string& body,
                 std::int64_t length = -1) {
  std::istringstream file(ContainerBytes(PartBytes(PartInstallScript, body)));
  PartReader reader(file, false);
  reader.AcceptPartType(PartInstallScript);
  reader.NextPart();
  return WritePackageScript(p, reader, length < 0 ? reader.PartLength() : std::uint32_t(length),
                            name, false);
}

std::vector<std::string>& Log() {
  return GetPackageDatabase().log;
}

}  // namespace

TEST(PackageScriptTest, StoresPreambleAndContentExecutable) {
  struct Case {
    const char* name;
    const char* body;
    bool disabled;
  } cases[] = {
      {"oninstall", "echo hi\nexit 0\n", false},
      {"onuninstall", "", false},
      {"oninstall", "rm -f /tmp/x", true},  // a disabled package's script is stored all the same
  };
  for (const Case& c : cases) {
    PackageTree tree;
    auto p = MakePackage("ppp");
    p->disabled = c.disabled;
    MakeTestDirectories(tree.Target("/var/pdb/ppp"));
    ASSERT_TRUE(StoreScript(*p, c.name, c.body)) << c.name;
    std::string path = tree.Target("/var/pdb/ppp/") + c.name;
    EXPECT_EQ(ReadTreeFile(path), std::string(kPreamble) + c.body);
    struct stat status;
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0755u);
    EXPECT_TRUE(Log().empty());
  }
}

TEST(PackageScriptTest, ReportsShortPartsAndFailedWrites) {
  struct Case {
    const char* name;
    bool makeDirectory;
    std::int64_t length;
    const char* error;
  } cases[] = {
      {"ppp", true, 100, "ERROR: installation of ppp-1.0 failed: broken package"},
      {"ppp", false, -1,
       "ERROR: installation of ppp-1.0 failed: could not create oninstall: No such file or "
       "directory"},
      {"..", true, -1, "ERROR: installation of ..-1.0 failed: broken package"},
  };
  for (const Case& c : cases) {
    PackageTree tree;
    if (c.makeDirectory)
      MakeTestDirectories(tree.Target("/var/pdb/ppp"));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(StoreScript(*MakePackage(c.name), "oninstall", "exit 0\n", c.length));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(Log(), std::vector<std::string>{c.error});
    // No script file is left behind, and nothing is written beside the package directory.
    std::vector<std::string> expected;
    if (c.makeDirectory)
      expected = {"var", "var/pdb", "var/pdb/ppp"};
    EXPECT_EQ(ListTree(tree.Target()), expected) << c.name;
  }
}

TEST(PackageScriptTest, MissingScriptRunsNothing) {
  PackageTree tree;
  EXPECT_TRUE(RunPackageScript(*MakePackage("ppp"), "oninstall"));
  EXPECT_TRUE(Log().empty());
}

namespace {

// Copies a host file to the same path below root.
bool CopyIntoTree(const std::string& root, const std::string& path) {
  std::string content = ReadTreeFile(path);
  if (content == "<missing>")
    return false;
  WriteTreeFile(root + path, content);
  return chmod((root + path).c_str(), 0755) == 0;
}

// Makes root a system that bash runs in: /bin/bash with the libraries ldd names, /dev/null and
// the install profile, which sets PROFILE.
bool InstallBash(const std::string& root) {
  FILE* ldd = popen("ldd /bin/bash", "r");
  if (ldd == nullptr)
    return false;
  std::vector<std::string> files = {"/bin/bash"};
  char line[512];
  while (std::fgets(line, sizeof line, ldd) != nullptr) {
    std::string text = line;
    std::size_t start = text.find('/');
    std::size_t end = text.find(" (");
    if (start != std::string::npos && end != std::string::npos && start < end)
      files.push_back(text.substr(start, end - start));
  }
  if (pclose(ldd) != 0)
    return false;
  for (const std::string& file : files) {
    if (!CopyIntoTree(root, file))
      return false;
  }
  MakeTestDirectories(root + "/dev");
  WriteTreeFile(root + "/vela/lib/install/profile.sh", "PROFILE=loaded\n");
  return mknod((root + "/dev/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
}

class ScriptRunTest : public testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0)
      GTEST_SKIP() << "running a script needs root (chroot); CI runs as root";
    ASSERT_TRUE(InstallBash(tree.Target()));
  }

  // Stores and runs body as p's install script; returns what RunPackageScript returned, with the
  // console output of the whole run in console.
  bool Run(const Package& p, const std::string& body, std::string& console) {
    MakeTestDirectories(tree.Target("/var/pdb/") + p.name);
    EXPECT_TRUE(StoreScript(p, "oninstall", body));
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    bool ok = RunPackageScript(p, "oninstall");
    console = testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
    return ok;
  }

  PackageTree tree;
};

}  // namespace

// The script runs inside the tree, from its root, with the profile loaded and its output gone.
TEST_F(ScriptRunTest, RunsInsideTheTreeSilently) {
  std::string console;
  EXPECT_TRUE(Run(*MakePackage("ppp"),
                  "echo \"$PROFILE\" >/ran\npwd >/cwd\necho to-stdout\necho to-stderr >&2\n",
                  console));
  EXPECT_EQ(console, "");
  EXPECT_EQ(ReadTreeFile(tree.Target("/ran")), "loaded\n");
  EXPECT_EQ(ReadTreeFile(tree.Target("/cwd")), "/\n");
  EXPECT_TRUE(Log().empty());
}

TEST_F(ScriptRunTest, EmptyScriptSucceeds) {
  std::string console;
  EXPECT_TRUE(Run(*MakePackage("ppp"), "", console));
  EXPECT_EQ(console, "");
}

TEST_F(ScriptRunTest, FailingScriptWarnsAndLeavesThePackage) {
  std::string console;
  EXPECT_FALSE(Run(*MakePackage("ppp"), "echo noise\nexit 3\n", console));
  EXPECT_EQ(Log(), std::vector<std::string>{"WARNING: package ppp-1.0 oninstall script failed"});
  EXPECT_EQ(console.find("noise"), std::string::npos) << console;
  EXPECT_TRUE(PathExists(tree.Target("/var/pdb/ppp/oninstall")));
}

// A package name is part of the script's path on bash's command line; none may add shell words.
TEST_F(ScriptRunTest, NameCannotInjectShellWords) {
  for (const char* name : {"a;echo>pwned", "a'$(echo>pwned)'", "$(echo>pwned)", "`echo>pwned`",
                           "a b&&echo>pwned", "a\necho>pwned"}) {
    std::string console;
    EXPECT_TRUE(Run(*MakePackage(name), "echo ok >/ran\n", console)) << name;
    EXPECT_EQ(ReadTreeFile(tree.Target("/ran")), "ok\n") << name;
    EXPECT_FALSE(PathExists(tree.Target("/pwned"))) << name;
    unlink(tree.Target("/ran").c_str());
  }
}
