#include "packages/dependency_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

class DependencyFileTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "depfileXXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  std::string Write(const std::string& content) {
    std::string path = dir + "/list";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    return path;
  }

  std::string dir;
};

TEST_F(DependencyFileTest, ReadsRecordsInFileOrder) {
  std::vector<Dependency> out = {{"kept", 1, 1, 0}};
  ASSERT_TRUE(ReadDependencyFile(Write("system 33646080 0\n  ppp\t0\n\n4294967295\n"), out, false));
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].name, "kept");
  EXPECT_EQ(out[1].name, "system");
  EXPECT_EQ(out[1].minVersion, 33646080u);
  EXPECT_EQ(out[2].name, "ppp");
  EXPECT_EQ(out[2].maxVersion, 4294967295u);
  EXPECT_EQ(out[2].priority, 0);

  out.clear();
  ASSERT_TRUE(ReadDependencyFile(Write("mta 0 0 -1\nsmtpd 1 2 2147483647\n"), out, true));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].priority, -1);
  EXPECT_EQ(out[1].priority, 2147483647);
}

TEST_F(DependencyFileTest, MissingFileReadsAsEmpty) {
  std::vector<Dependency> out;
  EXPECT_TRUE(ReadDependencyFile(dir + "/absent", out, true));
  EXPECT_TRUE(out.empty());
}

TEST_F(DependencyFileTest, MalformedRecordFailsAndKeepsEarlierOnes) {
  struct Case {
    const char* content;
    bool withPriority;
    const char* reason;
  } cases[] = {
      {"a 1 2\nb 1\n", false, "bad maximum version"},
      {"a 1 2\nb\n", false, "bad minimum version"},
      {"a 1 2\nb -1 2\n", false, "bad minimum version"},  // no silent wrap to 4294967295
      {"a 1 2\nb 1 4294967296\n", false, "bad maximum version"},
      {"a 1 2\nb 1 2abc\n", false, "bad maximum version"},
      {"a 1 2\nb +1 2\n", false, "bad minimum version"},
      {"a 1 2 0\nb 1 2\n", true, "bad priority"},
      {"a 1 2 0\nb 1 2 2147483648\n", true, "bad priority"},
      {"a 1 2 0\nb 1 2 x\n", true, "bad priority"},
  };
  for (const Case& c : cases) {
    std::vector<Dependency> out;
    std::string error;
    EXPECT_FALSE(ReadDependencyFile(Write(c.content), out, c.withPriority, &error)) << c.content;
    ASSERT_EQ(out.size(), 1u) << c.content;
    EXPECT_EQ(out[0].name, "a");
    EXPECT_NE(error.find("record 2: " + std::string(c.reason)), std::string::npos) << error;
  }
}

// A list cut anywhere reads its complete records and fails exactly when a record was cut between
// its name and its last number.
TEST_F(DependencyFileTest, CutAtEveryLength) {
  const std::string full = "system 33646080 0 5\nppp 1 2 3\ndhcp 7 8 9\n";
  std::vector<Dependency> whole;
  ASSERT_TRUE(ReadDependencyFile(Write(full), whole, true));
  ASSERT_EQ(whole.size(), 3u);
  for (std::size_t length = 0; length < full.size(); ++length) {
    std::string cut = full.substr(0, length);
    std::istringstream words(cut);
    std::size_t wordCount = 0;
    for (std::string word; words >> word;)
      ++wordCount;
    std::vector<Dependency> out;
    EXPECT_EQ(ReadDependencyFile(Write(cut), out, true), wordCount % 4 == 0) << length;
    ASSERT_EQ(out.size(), wordCount / 4) << length;
    for (std::size_t i = 0; i < out.size(); ++i)
      EXPECT_EQ(out[i].name, whole[i].name) << length;
  }
}

TEST_F(DependencyFileTest, RefusesOversizedInput) {
  std::vector<Dependency> out;
  std::string error;
  EXPECT_FALSE(ReadDependencyFile(Write(std::string(256, 'n') + " 1 2\n"), out, false, &error));
  EXPECT_NE(error.find("name too long"), std::string::npos) << error;
  EXPECT_TRUE(ReadDependencyFile(Write(std::string(255, 'n') + " 1 2\n"), out, false));

  std::string big;
  while (big.size() <= kMaxDependencyFileSize)
    big += "name 1 2\n";
  out.clear();
  EXPECT_FALSE(ReadDependencyFile(Write(big), out, false, &error));
  EXPECT_TRUE(out.empty());
  EXPECT_NE(error.find("larger than"), std::string::npos) << error;
}

TEST_F(DependencyFileTest, RefusesNonRegularFilesWithoutBlocking) {
  std::string fifo = dir + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::vector<Dependency> out;
  std::string error;
  EXPECT_FALSE(ReadDependencyFile(fifo, out, false, &error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
  EXPECT_FALSE(ReadDependencyFile(dir, out, false));
}

}  // namespace
