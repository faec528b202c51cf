#include "packages/post_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/package_tree.h"

// Reading keeps the complete lines and reserves the file as 4096 zero bytes, which saving replaces
// even without messages; a file not read is appended to, and not created for nothing.
TEST(PostLogTest, ReadReservesTheFileAndSaveReplacesIt) {
  using Log = std::vector<std::string>;
  const std::tuple<const char*, bool, Log, Log, const char*> cases[] = {
      // before, read first, the log then, the log saved, after
      {"one\n\ntwo\ncut", true, {"earlier", "one", "", "two"}, {"old", "new"}, "old\nnew\n"},
      {nullptr, true, {"earlier"}, {}, ""},
      {"kept\n", false, {"earlier"}, {"a", "b"}, "kept\na\nb\n"},
      {nullptr, false, {"earlier"}, {}, "<missing>"}};
  for (const auto& [before, read, logRead, logSaved, after] : cases) {
    PackageTree tree;
    if (before != nullptr) {
      WriteTreeFile(tree.Target("/postlog"), before);
    }
    GetPackageDatabase().log = {"earlier"};
    if (read) {
      ReadPostLog();
      EXPECT_EQ(ReadTreeFile(tree.Target("/postlog")), std::string(4096, '\0'));
    }
    EXPECT_EQ(GetPackageDatabase().log, logRead);
    GetPackageDatabase().log = logSaved;
    SavePostLog();
    EXPECT_EQ(ReadTreeFile(tree.Target("/postlog")), after) << read << logSaved.size();
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
