#include "tools/vpk/list_command.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "packages/database_store.h"
#include "packages/package_database.h"
#include "tests/support/package_tree.h"

namespace {

const char kTable[] =
    "            Name           Version                     Built\n"
    "------------------------------------------------------------\n"
    "          kernel             6.1.4      Mar/01/2024 12:00:00\n"
    "             ppp X        2.4beta3      Jan/01/1970 00:00:00\n";

// A tree whose database holds an enabled kernel and a disabled ppp, the latter with a pending
// schedule request.
void StoreSample(const PackageTree& tree) {
  Package kernel("kernel");
  kernel.version = MakeVersion(6, 1, 'f', 4);
  kernel.buildTime = 1709294400;
  Package ppp("ppp");
  ppp.version = MakeVersion(2, 4, 'b', 3);
  ppp.disabled = true;
  ASSERT_TRUE(StorePackage(kernel));
  ASSERT_TRUE(StorePackage(ppp));
  WriteTreeFile(tree.System("/ram/pdb/ppp/schedule"), "enable\n");
}

bool List(std::vector<std::string> args) {
  args.insert(args.begin(), "list");
  std::vector<char*> argv;
  for (std::string& arg : args) {
    argv.push_back(arg.data());
  }
  return ListCommand(int(argv.size()), argv.data());
}

}  // namespace

// The table of a tree, which leaves the pending request for the next real load; without a
// database or with wrong arguments the command fails.
TEST(ListCommandTest, ListsATreeAndFailsWithoutADatabase) {
  PackageTree tree;
  StoreSample(tree);
  testing::internal::CaptureStdout();
  EXPECT_TRUE(List({"--root", tree.Target(), "--system-root", tree.System()}));
  EXPECT_FALSE(List({"--root", tree.Outside()}));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            std::string(kTable) + "WARNING: could not open repo\n");
  EXPECT_EQ(ReadTreeFile(tree.System("/ram/pdb/ppp/schedule")), "enable\n");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(List({"--root"}));
  EXPECT_FALSE(List({"extra"}));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("usage: vpk list"), std::string::npos);
}
