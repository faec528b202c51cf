#include "packages/package_script.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "tests/support/package_tree.h"
#include "tests/support/stream_bytes.h"

namespace {

// Stores body as the install script part of a package file, read through a part reader as
// installing does, under that name in the package's directory; length is the part's own unless
// given.
bool StoreScript(const Package& p, const std::string& name, const std::string& body,
                 std::int64_t length = -1) {
  std::istringstream file(ContainerBytes(PartBytes(PartInstallScript, body)));
  PartReader reader(file, false);
  reader.AcceptPartType(PartInstallScript);
  reader.NextPart();
  return WritePackageScript(p, reader, length < 0 ? reader.PartLength() : std::uint32_t(length),
                            name, false);
}

}  // namespace

// A stored script is the preamble and the part's content, executable; a short part, a missing
// directory or a refused name leave no file and nothing beside the package directory.
TEST(PackageScriptTest, StoresPreambleAndContentExecutable) {
  const std::string failed = "ERROR: installation of ppp-0.0 failed: ";
  struct Case {
    const char* package;
    bool makeDirectory;
    std::int64_t length;
    std::string error;
  } cases[] = {
      {"ppp", true, -1, ""},
      {"ppp", true, 100, failed + "broken package"},
      {"ppp", false, -1, failed + "could not create onuninstall: No such file or directory"},
      {"..", true, -1, "ERROR: installation of ..-0.0 failed: broken package"}};
  for (const Case& c : cases) {
    PackageTree tree;
    if (c.makeDirectory)
      MakeTestDirectories(tree.Target("/var/pdb/ppp"));
    bool stored = false;
    CapturedStdout(
        [&] { stored = StoreScript(Package(c.package), "onuninstall", "exit 3\n", c.length); });
    EXPECT_EQ(stored, c.error.empty());
    EXPECT_EQ(GetPackageDatabase().log,
              c.error.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.error});
    std::string path = tree.Target("/var/pdb/ppp/onuninstall");
    EXPECT_EQ(ReadTreeFile(path), c.error.empty()
                                      ? "#!/bin/bash\n\n. /vela/lib/install/profile.sh\n\nexit 3\n"
                                      : "<missing>");
    struct stat status = {};
    EXPECT_EQ(stat(path.c_str(), &status) == 0 && (status.st_mode & 07777) == 0755,
              c.error.empty());
    EXPECT_EQ(ListTree(tree.Outside()).size() + ListTree(tree.Target()).size(),
              c.makeDirectory ? 3u + c.error.empty() : 0u);
    EXPECT_TRUE(RunPackageScript(Package("ppp"), "oninstall"));  // none stored: nothing to run
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
  // RunPackageScript returned, with the console output of the run in console.
  bool Run(const std::string& name, const std::string& body) {
    unlink(tree.Target("/ran").c_str());
    MakeTestDirectories(tree.Target("/var/pdb/") + name);
    EXPECT_TRUE(StoreScript(Package(name), "oninstall", body));
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
