#include "packages/post_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/package_tree.h"

// A line cut off by a crash is dropped; the file, also a missing one, is then 4096 zero bytes.
TEST(PostLogTest, ReadTakesCompleteLinesAndReservesTheFile) {
  for (const char* content :
       {"WARNING: one\n\nERROR: two\ncut", static_cast<const char*>(nullptr)}) {
    PackageTree tree;
    if (content != nullptr)
      WriteTreeFile(tree.Target("/postlog"), content);
    GetPackageDatabase().log = {"earlier"};
    ReadPostLog();
    std::vector<std::string> expected = {"earlier", "WARNING: one", "", "ERROR: two"};
    EXPECT_EQ(GetPackageDatabase().log, content ? expected : std::vector<std::string>{"earlier"});
    EXPECT_EQ(ReadTreeFile(tree.Target("/postlog")), std::string(4096, '\0'));
  }
}

// A reserved file is replaced, even without messages, so its zero bytes never read as a line; an
// unreserved one is appended to, and not created for nothing.
TEST(PostLogTest, SaveReplacesAReservedFileAndAppendsToOthers) {
  struct Case {
    const char* before;
    bool reserve;
    std::vector<std::string> log;
    const char* after;
  } cases[] = {{"old\n", true, {"old", "new"}, "old\nnew\n"},
               {"old\n", true, {}, ""},
               {"kept\n", false, {"a", "b"}, "kept\na\nb\n"},
               {nullptr, false, {}, "<missing>"}};
  for (const Case& c : cases) {
    PackageTree tree;
    if (c.before != nullptr)
      WriteTreeFile(tree.Target("/postlog"), c.before);
    if (c.reserve)
      ReadPostLog();
    GetPackageDatabase().log = c.log;
    SavePostLog();
    EXPECT_EQ(ReadTreeFile(tree.Target("/postlog")), c.after) << c.reserve << c.log.size();
  }
}

TEST(PostLogTest, NeverWritesThroughALink) {
  PackageTree tree;
  WriteTreeFile(tree.Outside("/victim"), "safe");
  ASSERT_EQ(symlink(tree.Outside("/victim").c_str(), tree.Target("/postlog").c_str()), 0);
  GetPackageDatabase().log = {"message"};
  ReadPostLog();
  SavePostLog();
  EXPECT_EQ(ReadTreeFile(tree.Outside("/victim")), "safe");
}
