// The vpk program as its users run it: build, sign and verify.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>

#include "tests/support/package_builder.h"

namespace {

struct Outcome {
  int status;
  std::string out, err;
};

// Runs vpk with the arguments (each single-quoted) and collects its exit status and output.
Outcome Vpk(const TemporaryDirectory& dir, const std::vector<std::string>& arguments) {
  std::string command = VELA_BINARY_DIR "/bin/vpk";
  for (const std::string& argument : arguments) {
    command += " '" + argument + "'";
  }
  command += " >" + (dir / "stdout") + " 2>" + (dir / "stderr");
  int status = std::system(command.c_str());
  return Outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadWholeTestFile(dir / "stdout"),
                 ReadWholeTestFile(dir / "stderr")};
}

// An unsigned package is refused until it is signed; one refusal among the files makes the exit
// status 1. A mistake fails with one message and leaves no output.
TEST(VpkProgramTest, BuildSignAndVerifyAPackage) {
  TemporaryDirectory dir;
  ASSERT_EQ(mkdir((dir / "tree").c_str(), 0755), 0);
  ASSERT_TRUE(WriteTestFile(dir / "tree/options", "lock\n"));
  Outcome build =
      Vpk(dir, {"build", "--name=ppp", "--version", "2.9.5", "-o", dir / "ppp.vpk", dir / "tree"});
  ASSERT_EQ(build.status, 0) << build.err;
  EXPECT_EQ(build.out, dir / "ppp.vpk" + ": built ppp-2.9.5\n");
  Outcome refused = Vpk(dir, {"verify", dir / "ppp.vpk"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.out.find(": refused ('ppp' is unsigned; digest "), std::string::npos);
  std::string key = VELA_SOURCE_DIR "/keys/private_key.hex";
  ASSERT_EQ(Vpk(dir, {"sign", key, dir / "ppp.vpk", "-o", dir / "signed.vpk"}).status, 0);
  Outcome verify = Vpk(dir, {"verify", dir / "signed.vpk", dir / "ppp.vpk"});
  EXPECT_EQ(verify.status, 1);
  EXPECT_EQ(verify.out,
            dir / "signed.vpk" + ": accepted ('ppp' signature verifies)\n" + refused.out);
  Outcome mistake =
      Vpk(dir, {"build", "--name=x", "--version=1.0", "-o", dir / "x.vpk", dir / "none"});
  EXPECT_EQ(mistake.status, 1);
  EXPECT_EQ(mistake.err.find("vpk: cannot open directory "), 0u) << mistake.err;
  EXPECT_EQ(ReadWholeTestFile(dir / "x.vpk"), "<unreadable>");
}

}  // namespace
