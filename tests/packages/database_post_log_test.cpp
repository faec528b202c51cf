#include "packages/post_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "packages/package_database.h"
#include "tests/support/package_tree.h"

namespace {

const std::string kReserved(4096, '\0');

}  // namespace

// A line cut off by a crash is dropped; the file is then held as 4096 zero bytes.
TEST(PostLogTest, ReadTakesCompleteLinesAndReservesTheFile) {
  struct Case {
    const char* content;  // nullptr: no file
    std::vector<std::string> lines;
  } cases[] = {
      {"WARNING: one\nERROR: two\ncut", {"WARNING: one", "ERROR: two"}},
      {"one\n\ntwo\n", {"one", "", "two"}},
      {"", {}},
      {nullptr, {}},
  };
  for (const Case& c : cases) {
    PackageTree tree;
    if (c.content != nullptr)
      WriteTreeFile(tree.Target("/postlog"), c.content);
    GetPackageDatabase().log = {"earlier"};
    ReadPostLog();
    std::vector<std::string> expected = {"earlier"};
    expected.insert(expected.end(), c.lines.begin(), c.lines.end());
    EXPECT_EQ(GetPackageDatabase().log, expected) << (c.content ? c.content : "(none)");
    EXPECT_EQ(ReadTreeFile(tree.Target("/postlog")), kReserved);
    EXPECT_TRUE(postLogReserved);
  }
}

TEST(PostLogTest, SaveRewritesAReservedFile) {
  PackageTree tree;
  WriteTreeFile(tree.Target("/postlog"), "old\n");
  ReadPostLog();
  GetPackageDatabase().log.push_back("WARNING: new");
  SavePostLog();
  EXPECT_EQ(ReadTreeFile(tree.Target("/postlog")), "old\nWARNING: new\n");
  // A reserved file is replaced even without messages, so its zero bytes never read as a line.
  ReadPostLog();
  GetPackageDatabase().log.clear();
  SavePostLog();
  EXPECT_EQ(ReadTreeFile(tree.Target("/postlog")), "");
}

TEST(PostLogTest, SaveAppendsWhenNotReserved) {
  PackageTree tree;
  WriteTreeFile(tree.Target("/postlog"), "kept\n");
  GetPackageDatabase().log = {"a", "b"};
  SavePostLog();
  EXPECT_EQ(ReadTreeFile(tree.Target("/postlog")), "kept\na\nb\n");
}

TEST(PostLogTest, SaveWritesNothingForAnEmptyUnreservedLog) {
  PackageTree tree;
  SavePostLog();
  EXPECT_FALSE(PathExists(tree.Target("/postlog")));
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
