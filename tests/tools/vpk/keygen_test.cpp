#include "tools/vpk/keygen.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/package_builder.h"

namespace {

bool Keygen(std::vector<std::string> args) {
  args.insert(args.begin(), "keygen");
  std::vector<char*> argv;
  for (std::string& arg : args) {
    argv.push_back(arg.data());
  }
  return KeygenCommand(static_cast<int>(argv.size()), argv.data());
}

// The committed test key is what its seed gives (keys/README.md); no run overwrites a key.
TEST(KeygenTest, TheSeedGivesTheCommittedTestKeyAndNoKeyIsOverwritten) {
  TemporaryDirectory dir;
  ASSERT_TRUE(Keygen({dir / "keys", "--seed", "vela test key"}));
  for (const char* name :
       {privateKeyFileName, packageKeyFileName, hashWordsFileName, knownDigestsFileName}) {
    EXPECT_EQ(ReadWholeTestFile(dir / "keys/" + name),
              ReadWholeTestFile(std::string(VELA_SOURCE_DIR "/keys/") + name))
        << name;
  }
  struct stat info;
  ASSERT_EQ(stat((dir / "keys/" + privateKeyFileName).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_FALSE(Keygen({dir / "keys", "--seed", "another"}));
  EXPECT_FALSE(Keygen({dir / "keys"}));
  EXPECT_FALSE(Keygen({dir / "other", "--seed"}));
  EXPECT_EQ(ReadWholeTestFile(dir / "keys/" + privateKeyFileName),
            ReadWholeTestFile(VELA_SOURCE_DIR "/keys/private_key.hex"));
  ASSERT_TRUE(Keygen({dir / "a"}));
  ASSERT_TRUE(Keygen({dir / "b"}));
  EXPECT_NE(ReadWholeTestFile(dir / "a/" + privateKeyFileName),
            ReadWholeTestFile(dir / "b/" + privateKeyFileName));
}

}  // namespace
