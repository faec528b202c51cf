#include "packages/dependency_file.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/package_builder.h"

// Records are words separated by any white space; a missing list is empty. A list cut anywhere
// reads its complete records and fails exactly when one was cut between its name and last number.
TEST(DependencyFileTest, ReadsCompleteRecordsOfAListCutAnywhere) {
  TemporaryDirectory dir;
  const std::string full = "system 33646080 0 5\n  ppp\t1\n\n4294967295 -3\ndhcp 7 8 9\n";
  std::vector<Dependency> out = {{"kept"}};
  ASSERT_TRUE(WriteTestFile(dir / "list", full) &&
              ReadDependencyFile(dir / "list", out, PriorityColumn::kPresent));
  EXPECT_TRUE(ReadDependencyFile(dir / "absent", out, PriorityColumn::kPresent));
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[1].minVersion, 33646080u);
  EXPECT_EQ(out[2].maxVersion, 4294967295u);
  EXPECT_EQ(out[2].priority, -3);
  for (std::size_t length = 0; length < full.size(); ++length) {
    std::istringstream words(full.substr(0, length));
    std::vector<std::string> names;
    for (std::string word; words >> word && word != "-";) {  // a lone "-" is no number yet
      names.push_back(word);
    }
    out.clear();
    ASSERT_TRUE(WriteTestFile(dir / "list", full.substr(0, length)));
    EXPECT_EQ(ReadDependencyFile(dir / "list", out, PriorityColumn::kPresent),
              names.size() % 4 == 0)
        << length;
    ASSERT_EQ(out.size(), names.size() / 4) << length;
    for (std::size_t i = 0; i < out.size(); ++i) {
      EXPECT_EQ(out[i].name, names[4 * i]) << length;
    }
  }
}
