#include "packages/dependency_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "tests/support/package_builder.h"

namespace {

class DependencyFileTest : public testing::Test {
 protected:
  std::string Write(const std::string& content) {
    EXPECT_TRUE(WriteTestFile(dir / "list", content));
    return dir / "list";
  }

  TemporaryDirectory dir;
};

// Records are words separated by any white space. A list cut anywhere reads its complete records
// and fails exactly when a record was cut between its name and its last number.
TEST_F(DependencyFileTest, ReadsCompleteRecordsOfAListCutAnywhere) {
  const std::string full = "system 33646080 0 5\n  ppp\t1\n\n4294967295 3\ndhcp 7 8 2147483647\n";
  const char* names[] = {"system", "ppp", "dhcp"};
  std::vector<Dependency> out = {{"kept"}};
  ASSERT_TRUE(ReadDependencyFile(Write(full), out, true));
  EXPECT_TRUE(ReadDependencyFile(dir / "absent", out, true));  // a missing list is empty
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[1].minVersion, 33646080u);
  EXPECT_EQ(out[2].maxVersion, 4294967295u);
  EXPECT_EQ(out[3].priority, 2147483647);
  for (std::size_t length = 0; length < full.size(); ++length) {
    std::istringstream words(full.substr(0, length));
    std::size_t wordCount = 0;
    for (std::string word; words >> word;)
      ++wordCount;
    out.clear();
    EXPECT_EQ(ReadDependencyFile(Write(full.substr(0, length)), out, true), wordCount % 4 == 0)
        << length;
    ASSERT_EQ(out.size(), wordCount / 4) << length;
    for (std::size_t i = 0; i < out.size(); ++i)
      EXPECT_EQ(out[i].name, names[i]) << length;
  }
}

// Numbers that do not fit, names and files over the limits, and what is no regular file (a
// planted FIFO must not block the load) fail; the records before stay.
TEST_F(DependencyFileTest, RefusesMalformedRecordsAndFiles) {
  std::string big = "a 1 2 3\n";
  while (big.size() <= kMaxDependencyFileSize)
    big += "name 1 2 3\n";
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  const std::pair<std::string, std::size_t> cases[] = {
      // content ("<fifo>": the FIFO), kept
      {"a 1 2 3\nb -1 2 3\n", 1},  // no silent wrap to 4294967295
      {"a 1 2 3\nb 1 4294967296 3\n", 1},
      {"a 1 2 3\nb 1 2 2147483648\n", 1},
      {"a 1 2 3\n" + std::string(256, 'n') + " 1 2 3\n", 1},
      {big, 0},
      {"<fifo>", 0}};
  for (const auto& [content, kept] : cases) {
    std::vector<Dependency> out;
    EXPECT_FALSE(ReadDependencyFile(content == "<fifo>" ? dir / "fifo" : Write(content), out, true))
        << content.substr(0, 40);
    EXPECT_EQ(out.size(), kept) << content.substr(0, 40);
  }
}

}  // namespace
