// The vpk program as its users run it: build, inspect, verify, sign and build-bundle.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "tests/support/package_builder.h"

namespace {

struct Outcome {
  int status;
  std::string out, err;
};

class VpkProgramTest : public testing::Test {
 protected:
  // Runs vpk with the arguments (each single-quoted) and collects its exit status and output.
  Outcome Vpk(const std::vector<std::string>& arguments) {
    std::string command = VELA_BINARY_DIR "/bin/vpk";
    for (const std::string& argument : arguments) {
      command += " '" + argument + "'";
    }
    command += " >" + (dir / "stdout") + " 2>" + (dir / "stderr");
    int status = std::system(command.c_str());
    return Outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadWholeTestFile(dir / "stdout"),
                   ReadWholeTestFile(dir / "stderr")};
  }

  bool Exists(const std::string& name) {
    struct stat status;
    return lstat((dir / name).c_str(), &status) == 0;
  }

  // A tree with one entry of every type; devices only as root.
  void MakeTree() {
    for (const char* name : {"tree", "tree/etc", "tree/bin", "tree/dev"}) {
      ASSERT_EQ(mkdir((dir / name).c_str(), 0755), 0);
    }
    ASSERT_TRUE(WriteTestFile(dir / "tree/etc/options", "lock\n"));
    ASSERT_EQ(symlink("ppp", (dir / "tree/bin/pppd").c_str()), 0);
    ASSERT_EQ(mkfifo((dir / "tree/dev/pipe").c_str(), 0644), 0);
    if (geteuid() == 0) {
      ASSERT_EQ(mknod((dir / "tree/dev/ttyS0").c_str(), S_IFCHR | 0600, makedev(4, 64)), 0);
      ASSERT_EQ(mknod((dir / "tree/dev/sda").c_str(), S_IFBLK | 0600, makedev(8, 0)), 0);
    } else {
      std::printf("not root: the tree holds no device nodes\n");
    }
    ASSERT_TRUE(WriteTestFile(dir / "install.sh", "echo on\n"));
    ASSERT_TRUE(WriteTestFile(dir / "image", "IMG"));
  }

  std::vector<std::string> BuildArguments(const std::string& output) {
    std::vector<std::string> arguments;
    std::istringstream words(
        "build --name=ppp --version 2.9.5 --build-time 1700000000 --depends system>=2.9 "
        "--depends dhcp<3.0 --provides net:5 --conflicts pppoe=2.9rc1 --arch i386 --flags 1 "
        "--owner 0:0");
    for (std::string word; words >> word;) {
      arguments.push_back(word);
    }
    arguments.insert(arguments.end(), {"--description", "Point to point", "--install-script",
                                       dir / "install.sh", "--uninstall-script", dir / "install.sh",
                                       "--image", dir / "image", "-o", dir / output, dir / "tree"});
    return arguments;
  }

  TemporaryDirectory dir;
};

TEST_F(VpkProgramTest, BuildInspectVerifyAPackageWithEveryEntryType) {
  MakeTree();
  std::vector<std::string> arguments = BuildArguments("ppp.vpk");
  arguments.insert(arguments.end() - 1, {"--sign", VELA_SOURCE_DIR "/keys/private_key.hex"});
  Outcome build = Vpk(arguments);
  ASSERT_EQ(build.status, 0) << build.err;
  EXPECT_EQ(build.out, dir / "ppp.vpk" + ": built ppp-2.9.5, signed\n");
  Outcome inspect = Vpk({"inspect", dir / "ppp.vpk"});
  EXPECT_EQ(inspect.status, 0) << inspect.err;
  std::vector<std::string> lines = {"  depends           dhcp < 3.0\n",
                                    "  provides          net (priority 5)\n",
                                    "  uninstall script  8 bytes\n",
                                    " /bin/pppd -> ppp\n",
                                    "    prw-r--r--     0/0 ",
                                    "     5 ",
                                    "  signature         present, verifies\n"};
  if (geteuid() == 0) {
    lines.push_back("    crw-------     0/0           4,64 ");
    lines.push_back("    brw-------     0/0            8,0 ");
  }
  for (const std::string& line : lines) {
    EXPECT_NE(inspect.out.find(line), std::string::npos) << line << "\n" << inspect.out;
  }
  Outcome verify = Vpk({"verify", dir / "ppp.vpk"});
  EXPECT_EQ(verify.status, 0);
  EXPECT_EQ(verify.out, dir / "ppp.vpk" + ": accepted ('ppp' signature verifies)\n");
}

TEST_F(VpkProgramTest, UnsignedPackagesAreRefusedUntilSigned) {
  MakeTree();
  ASSERT_EQ(Vpk(BuildArguments("ppp.vpk")).status, 0);
  Outcome verify = Vpk({"verify", dir / "ppp.vpk"});
  EXPECT_EQ(verify.status, 1);
  EXPECT_NE(verify.out.find(": refused ('ppp' is unsigned; digest "), std::string::npos);
  Outcome sign = Vpk(
      {"sign", VELA_SOURCE_DIR "/keys/private_key.hex", dir / "ppp.vpk", "-o", dir / "signed.vpk"});
  EXPECT_EQ(sign.status, 0) << sign.err;
  EXPECT_EQ(Vpk({"verify", dir / "signed.vpk"}).status, 0);
  // Both files are checked; one refusal makes the exit status 1.
  Outcome both = Vpk({"verify", dir / "signed.vpk", dir / "ppp.vpk"});
  EXPECT_EQ(both.status, 1);
  EXPECT_EQ(std::count(both.out.begin(), both.out.end(), '\n'), 2);
  Outcome again = Vpk({"sign", VELA_SOURCE_DIR "/keys/private_key.hex", dir / "signed.vpk"});
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.err, "vpk: " + dir / "signed.vpk" + ": the package is signed already\n");
}

TEST_F(VpkProgramTest, ABundleOfSignedMembers) {
  std::string key = VELA_SOURCE_DIR "/keys/private_key.hex";
  ASSERT_EQ(
      Vpk({"build", "--name", "ppp", "--version", "2.9.5", "--sign", key, "-o", dir / "ppp.vpk"})
          .status,
      0);
  ASSERT_EQ(Vpk({"build", "--name", "dhcp", "--version", "3.0beta2", "--sign", key, "-o",
                 dir / "dhcp.vpk"})
                .status,
            0);
  Outcome bundle = Vpk({"build-bundle", "--name", "base", "--version", "2.9", "--disabled-member",
                        "dhcp", "-o", dir / "base.bpk", dir / "ppp.vpk", dir / "dhcp.vpk"});
  ASSERT_EQ(bundle.status, 0) << bundle.err;
  EXPECT_EQ(bundle.out, dir / "base.bpk" + ": built bundle base-2.9 of 2 members\n");
  Outcome inspect = Vpk({"inspect", dir / "base.bpk"});
  EXPECT_EQ(inspect.status, 0);
  for (const char* line : {"bundle\n  name              base\n", "  disabled member   dhcp\n",
                           "  name              ppp\n", "  name              dhcp\n"}) {
    EXPECT_NE(inspect.out.find(line), std::string::npos) << line << "\n" << inspect.out;
  }
  Outcome verify = Vpk({"verify", dir / "base.bpk"});
  EXPECT_EQ(verify.status, 0);
  EXPECT_NE(verify.out.find("accepted (bundle of 2 members"), std::string::npos) << verify.out;
}

TEST_F(VpkProgramTest, MistakesFailWithOneMessageAndNoOutput) {
  struct Case {
    std::vector<std::string> arguments;
    const char* message;
  } cases[] = {
      {{"build", "--name", "a-name-of-17-byte", "--version", "1.0", "-o", dir / "x.vpk"},
       "vpk: --name 'a-name-of-17-byte': a package name has 1 to 16"},
      {{"build", "--name", "x", "--version", "1.0x", "-o", dir / "x.vpk"},
       "vpk: --version '1.0x': expected a version"},
      {{"build", "--name", "x", "--version", "1.0", "--depends", "y>>1", "-o", dir / "x.vpk"},
       "vpk: dependency 'y>>1': expected NAME"},
      {{"build", "--name", "x", "--version", "1.0", "-o", dir / "x.vpk", dir / "none"},
       "vpk: cannot open directory "},
      {{"build", "--name", "x", "--version", "1.0"}, "vpk: --name, --version and --output"},
      {{"build", "--colour", "blue"}, "vpk: build: unknown option '--colour'"},
      {{"build-bundle", "--name", "b", "--version", "1.0", "-o", dir / "x.vpk"},
       "vpk: a bundle needs at least one member"},
      {{"inspect", dir / "none.vpk"}, "vpk: cannot open "},
      {{"frobnicate"}, "vpk: unknown command 'frobnicate'"},
  };
  for (const Case& c : cases) {
    Outcome run = Vpk(c.arguments);
    EXPECT_EQ(run.status, 1) << c.message;
    EXPECT_EQ(run.err.find(c.message), 0u) << run.err;
    EXPECT_FALSE(Exists("x.vpk")) << c.message;
  }
}

TEST_F(VpkProgramTest, EveryCommandDescribesItself) {
  for (const char* command : {"build", "build-bundle", "inspect", "verify", "sign", "keygen"}) {
    Outcome help = Vpk({command, "--help"});
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_EQ(help.out.find(std::string("usage: vpk ") + command), 0u) << help.out;
  }
}

}  // namespace
