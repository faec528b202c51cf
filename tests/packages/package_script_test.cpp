#include "packages/package_script.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdlib>
#include <sstream>

#include "packages/database_files.h"
#include "tests/support/package_tree.h"
#include "tests/support/stream_bytes.h"

namespace {

// Stores body as a script part read as installing does; length is the part's own unless given.
bool StoreScript(const std::string& package, const std::string& name, const std::string& body,
                 std::int64_t length = -1) {
  std::istringstream file(ContainerBytes(PartBytes(PartInstallScript, body)));
  PartReader reader(file, Hashing::kOff);
  reader.AcceptPartType(PartInstallScript);
  reader.NextPart();
  std::uint32_t size = length < 0 ? reader.PartLength() : std::uint32_t(length);
  Package p(package);
  std::string text;
  return ReadPackageScript(p, reader, size, text) &&
         WritePackageScript(p, PackageDirectory(p, Placement::kTargetRoot) + name, text);
}

// A target tree with bash and its libraries, /dev/null and an install profile that sets PROFILE.
class ScriptRunTest : public testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) {
      GTEST_SKIP() << "running a script needs root (chroot); CI runs as root";
    }
    WriteTreeFile(tree.Target("/vela/lib/install/profile.sh"), "PROFILE=loaded\n");
    MakeTestDirectories(tree.Target("/dev"));
    ASSERT_EQ(mknod(tree.Target("/dev/null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    std::string copy = "cp --parents /bin/bash $(ldd /bin/bash | grep -o '/[^ ]*') ";
    ASSERT_EQ(std::system((copy + tree.Target()).c_str()), 0);
  }

  // Stores and runs body as name's install script; what the run printed lands in console.
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

// A short part or a missing directory leave no script file and nothing beside the
// package directory. (What a stored script holds shows when it runs.)
TEST(PackageScriptTest, ReportsShortPartsAndFailedWrites) {
  const std::string failed = "ERROR: installation of ppp-0.0 failed: ";
  const std::tuple<const char*, bool, std::int64_t, std::string> cases[] = {
      // package, whether its directory exists, part length (-1: the part's own), the error
      {"ppp", true, 100, failed + "broken package"},
      {"ppp", false, -1, failed + "could not create oninstall: No such file or directory"}};
  for (const auto& [package, makeDirectory, length, error] : cases) {
    PackageTree tree;
    if (makeDirectory) {
      MakeTestDirectories(tree.Target("/var/pdb/ppp"));
    }
    CapturedStdout([&] { EXPECT_FALSE(StoreScript(package, "oninstall", "", length)); });
    EXPECT_EQ(GetPackageDatabase().log, std::vector<std::string>{error});
    EXPECT_EQ(ListTree(tree.Target()).size(), makeDirectory ? 3u : 0u) << package;
    EXPECT_TRUE(RunPackageScript(Package("ppp"), "oninstall"));  // none stored: nothing to run
  }
}

// The script runs inside the tree, from its root, with the profile loaded and its output gone; a
// failing one gives a warning and leaves the package as it is.
TEST_F(ScriptRunTest, RunsInsideTheTreeSilently) {
  const std::tuple<const char*, const char*, bool, std::string> cases[] = {
      // script, what it left in /ran, whether it succeeded, the console
      {"echo \"$PROFILE\" >/ran\npwd >>/ran\necho to-stdout\necho to-stderr >&2\n", "loaded\n/\n",
       true, ""},
      {"", "<missing>", true, ""},
      {"echo noise\necho ran >/ran\nexit 3\n", "ran\n", false,
       "WARNING: package ppp-0.0 oninstall script failed\n"}};
  for (const auto& [body, ran, ok, output] : cases) {
    EXPECT_EQ(Run("ppp", body), ok) << body;
    EXPECT_EQ(console, output) << body;
    EXPECT_EQ(ReadTreeFile(tree.Target("/ran")), ran) << body;
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
