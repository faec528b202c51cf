#include "tools/vpk/keygen.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "streams/key_material.h"
#include "tests/streams/crypto_test_support.h"

namespace {

// The seed of the committed test key (keys/README.md).
const char* kTestSeed = "vela test key";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class KeygenTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vpk_keygen_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  bool Keygen(std::vector<std::string> args) {
    args.insert(args.begin(), "keygen");
    std::vector<char*> argv;
    for (std::string& arg : args) {
      argv.push_back(arg.data());
    }
    return KeygenCommand(static_cast<int>(argv.size()), argv.data());
  }

  std::string dir_;
};

TEST_F(KeygenTest, CommittedTestKeyIsWhatTheSeedGivesAndIsCompiledIn) {
  ASSERT_TRUE(Keygen({dir_ + "/keys", "--seed", kTestSeed}));
  for (const char* name :
       {privateKeyFileName, packageKeyFileName, hashWordsFileName, knownDigestsFileName}) {
    EXPECT_EQ(ReadFile(dir_ + "/keys/" + name),
              ReadFile(std::string(VELA_SOURCE_DIR "/keys/") + name))
        << name;
  }
  KeyMaterial material;
  GenerateKeyMaterial(reinterpret_cast<const std::uint8_t*>(kTestSeed), std::strlen(kTestSeed),
                      &material);
  EXPECT_EQ(std::memcmp(material.packageKey, packageKey, sizeof packageKey), 0);
  EXPECT_EQ(std::memcmp(material.hashWords, signatureHashWords, sizeof signatureHashWords), 0);
  EXPECT_EQ(knownPackageDigestCount, 0);
}

TEST_F(KeygenTest, SameSeedSameFilesOtherSeedOtherKey) {
  ASSERT_TRUE(Keygen({dir_ + "/a", "--seed", "one"}));
  ASSERT_TRUE(Keygen({dir_ + "/b", "--seed", "one"}));
  ASSERT_TRUE(Keygen({dir_ + "/c", "--seed", "two"}));
  ASSERT_TRUE(Keygen({dir_ + "/d"}));  // random seed
  for (const char* name : {privateKeyFileName, packageKeyFileName, hashWordsFileName}) {
    std::string a = ReadFile(dir_ + "/a/" + name);
    EXPECT_EQ(a, ReadFile(dir_ + "/b/" + name)) << name;
    EXPECT_NE(a, ReadFile(dir_ + "/c/" + name)) << name;
    EXPECT_NE(a, ReadFile(dir_ + "/d/" + name)) << name;
  }
}

TEST_F(KeygenTest, GeneratedPrivateKeyReadsBackAndGivesThePackageKey) {
  ASSERT_TRUE(Keygen({dir_, "--seed", "pair"}));
  std::uint8_t key[kPrivateKeySize], scalar[kPrivateKeySize], publicKey[kPrivateKeySize];
  ASSERT_TRUE(ReadPrivateKey((dir_ + "/" + privateKeyFileName).c_str(), key));
  EvenPrivateKey(key, scalar, publicKey);
  EXPECT_EQ(std::memcmp(scalar, key, sizeof key), 0) << "stored scalar already has even y";
  std::string publicText = ReadFile(dir_ + "/" + packageKeyFileName);
  EXPECT_NE(publicText.find(ToHex(publicKey, sizeof publicKey) + "\n"), std::string::npos);
  struct stat info;
  ASSERT_EQ(stat((dir_ + "/" + privateKeyFileName).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(KeygenTest, NeverOverwritesAKey) {
  ASSERT_TRUE(Keygen({dir_, "--seed", "first"}));
  std::string before = ReadFile(dir_ + "/" + privateKeyFileName);
  EXPECT_FALSE(Keygen({dir_, "--seed", "second"}));
  EXPECT_EQ(ReadFile(dir_ + "/" + privateKeyFileName), before);
}

TEST_F(KeygenTest, RejectsBadCommandLines) {
  EXPECT_TRUE(Keygen({"--help"}));
  EXPECT_FALSE(Keygen({}));
  EXPECT_FALSE(Keygen({dir_, "--seed"}));
  EXPECT_FALSE(Keygen({dir_, dir_}));
  EXPECT_FALSE(Keygen({dir_, "--colour"}));
}

}  // namespace
