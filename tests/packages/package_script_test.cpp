#include "packages/package_script.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdlib>
#include <sstream>

#include "tests/support/package_tree.h"
#include "tests/support/stream_bytes.h"

namespace {

// Stores body as the script part of a package file, read through a part reader as installing does;
// length is the part's own unless given.
bool StoreScript(const std::string& package, const std::string& name, const std::string& body,
                 std::int64_t length = -1) {
  std::istringstream file(ContainerBytes(PartBytes(PartInstallScript, body)));
  PartReader reader(file, false);
  reader.AcceptPartType(PartInstallScript);
  reader.NextPart();
  std::uint32_t size = length < 0 ? reader.PartLength() : std::uint32_t(length);
  return WritePackageScript(Package(package), reader, size, name, false);
}

}  // namespace

TEST(PackageScriptTest, StoresPreambleAndContentExecutable) {
  PackageTree tree;
  MakeTestDirectories(tree.Target("/var/pdb/ppp"));
  ASSERT_TRUE(StoreScript("ppp", "onuninstall", "exit 3\n"));
  std::string path = tree.Target("/var/pdb/ppp/onuninstall");
  EXPECT_EQ(ReadTreeFile(path), "#!/bin/bash\n\n. /vela/lib/install/profile.sh\n\nexit 3\n");
  struct stat status;
  ASSERT_EQ(stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0755u);
  EXPECT_TRUE(RunPackageScript(Package("ppp"), "oninstall"));  // none stored: nothing to run
  EXPECT_TRUE(GetPackageDatabase().log.empty());
}

// No script file is left behind, and nothing is written beside the package directory.
TEST(PackageScriptTest, ReportsShortPartsAndFailedWrites) {
  const std::string failed = "ERROR: installation of ppp-0.0 failed: ";
  struct Case {
    const char* package;
    bool makeDirectory;
    std::int64_t length;
    std::string error;
  } cases[] = {{"ppp", true, 100, failed + "broken package"},
               {"ppp", false, -1, failed + "could not create oninstall: No such file or directory"},
               {"..", true, -1, "ERROR: installation of ..-0.0 failed: broken package"}};
  for (const Case& c : cases) {
    PackageTree tree;
    if (c.makeDirectory)
      MakeTestDirectories(tree.Target("/var/pdb/ppp"));
    CapturedStdout([&] { EXPECT_FALSE(StoreScript(c.package, "oninstall", "", c.length)); });
    EXPECT_EQ(GetPackageDatabase().log, std::vector<std::string>{c.error});
    EXPECT_EQ(ListTree(tree.Target()).size(), c.makeDirectory ? 3u : 0u) << c.package;
  }
}

namespace {

// Runs stored install scripts in a target tree that holds bash, the libraries it needs, /dev/null
// and an install profile that sets PROFILE.
class ScriptRunTest : public testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0)
      GTEST_SKIP() << "running a script needs root (chroot); CI runs as root";
    WriteTreeFile(tree.Target("/vela/lib/install/profile.sh"), "PROFILE=loaded\n");
    MakeTestDirectories(tree.Target("/dev"));
    ASSERT_EQ(mknod(tree.Target("/dev/null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    std::string copy =
        "cp --parents /bin/bash $(ldd /bin/bash | grep -o '/[^ ]*') " + tree.Target();
    ASSERT_EQ(std::system(copy.c_str()), 0);
  }

  // Stores and runs body as the install script of a package of that name; returns what
  // RunPackageScript returned, with all the run printed in console.
  bool Run(const std::string& name, const std::string& body) {
    std::remove(tree.Target("/ran").c_str());
    MakeTestDirectories(tree.Target("/var/pdb/") + name);
    EXPECT_TRUE(StoreScript(name, "oninstall", body));
    GetPackageDatabase().log.clear();
    testing::internal::CaptureStderr();
    bool ok = false;
    console = CapturedStdout([&] { ok = RunPackageScript(Package(name), "oninstall"); });
    console += testing::internal::GetCapturedStderr();
    return ok;
  }

  PackageTree tree;
  std::string console;
};

}  // namespace

// The script runs inside the tree, from its root, with the profile loaded and its output gone; a
// failing one gives a warning and leaves the package as it is.
TEST_F(ScriptRunTest, RunsInsideTheTreeSilently) {
  struct Case {
    const char *body, *ran;
    bool ok;
    std::string console;
  } cases[] = {
      {"echo \"$PROFILE\" >/ran\npwd >>/ran\necho to-stdout\necho to-stderr >&2\n", "loaded\n/\n",
       true, ""},
      {"", "<missing>", true, ""},
      {"echo noise\necho ran >/ran\nexit 3\n", "ran\n", false,
       "WARNING: package ppp-0.0 oninstall script failed\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Run("ppp", c.body), c.ok) << c.body;
    EXPECT_EQ(console, c.console) << c.body;
    EXPECT_EQ(ReadTreeFile(tree.Target("/ran")), c.ran) << c.body;
    EXPECT_TRUE(PathExists(tree.Target("/var/pdb/ppp/oninstall")));
  }
}

// A package name is part of the script's path on bash's command line; none may add shell words.
TEST_F(ScriptRunTest, NameCannotInjectShellWords) {
  for (const char* name : {"a;echo>pwned", "a'$(echo>pwned)'", "$(echo>pwned)", "`echo>pwned`",
                           "a b&&echo>pwned", "a\necho>pwned"}) {
    EXPECT_TRUE(Run(name, "echo ok >/ran\n")) << name;
    EXPECT_EQ(ReadTreeFile(tree.Target("/ran")), "ok\n") << name;
    EXPECT_FALSE(PathExists(tree.Target("/pwned"))) << name;
  }
}
