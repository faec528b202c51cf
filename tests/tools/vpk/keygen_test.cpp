#include "tools/vpk/keygen.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "streams/key_material.h"
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

// The committed test key is what its seed gives (keys/README.md), and it is compiled in; the
// private key is readable by its owner only, and a second run never overwrites it. Without a
// seed, every run makes another key.
TEST(KeygenTest, TheSeedGivesTheCommittedTestKeyAndNoKeyIsOverwritten) {
  TemporaryDirectory dir;
  const char* seed = "vela test key";
  ASSERT_TRUE(Keygen({dir / "keys", "--seed", seed}));
  for (const char* name :
       {privateKeyFileName, packageKeyFileName, hashWordsFileName, knownDigestsFileName}) {
    EXPECT_EQ(ReadWholeTestFile(dir / "keys/" + name),
              ReadWholeTestFile(std::string(VELA_SOURCE_DIR "/keys/") + name))
        << name;
  }
  KeyMaterial material;
  GenerateKeyMaterial(reinterpret_cast<const std::uint8_t*>(seed), std::strlen(seed), &material);
  EXPECT_EQ(std::memcmp(material.packageKey, packageKey, sizeof packageKey), 0);
  EXPECT_EQ(std::memcmp(material.hashWords, signatureHashWords, sizeof signatureHashWords), 0);
  struct stat info;
  ASSERT_EQ(stat((dir / "keys/" + privateKeyFileName).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_FALSE(Keygen({dir / "keys", "--seed", "another"}));
  EXPECT_FALSE(Keygen({dir / "keys"}));
  EXPECT_EQ(ReadWholeTestFile(dir / "keys/" + privateKeyFileName),
            ReadWholeTestFile(VELA_SOURCE_DIR "/keys/private_key.hex"));
  ASSERT_TRUE(Keygen({dir / "a"}));
  ASSERT_TRUE(Keygen({dir / "b"}));
  EXPECT_NE(ReadWholeTestFile(dir / "a/" + privateKeyFileName),
            ReadWholeTestFile(dir / "b/" + privateKeyFileName));
}

TEST(KeygenTest, RejectsBadCommandLines) {
  TemporaryDirectory dir;
  EXPECT_TRUE(Keygen({"--help"}));
  EXPECT_FALSE(Keygen({}));
  EXPECT_FALSE(Keygen({dir.Path(), "--seed"}));
  EXPECT_FALSE(Keygen({dir.Path(), dir.Path()}));
  EXPECT_FALSE(Keygen({dir.Path(), "--colour"}));
}

}  // namespace
