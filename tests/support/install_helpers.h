#pragma once

// Installing test package files in a temporary tree, and admitting unsigned ones through a test
// digest table.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "packages/install_decision.h"
#include "tests/support/package_builder.h"
#include "tests/support/package_tree.h"

// Installs the package or bundle file at path through InstallFromStream; -1 (with a test
// failure) when it cannot be opened.
int InstallTestFile(const std::string& path, InstallMode mode, const Selection& selection = {},
                    bool* bootImage = nullptr);

// "name version on|off" of every installed record, with " in:bundle" for a member, one per line.
std::string InstalledStates();

// While it lives, an unsigned package is admitted when its digest is that of the single-package
// file given (SHA-1 of everything after the 8-byte container header); the built-in check comes
// back afterwards.
class TestDigestTable {
 public:
  explicit TestDigestTable(const std::string& file);
  ~TestDigestTable();
  TestDigestTable(const TestDigestTable&) = delete;
  TestDigestTable& operator=(const TestDigestTable&) = delete;
};

// A temporary tree with the package roots on it. The console output is captured and shown only
// when the test fails.
class InstallTest : public testing::Test {
 protected:
  void SetUp() override { testing::internal::CaptureStdout(); }
  void TearDown() override;

  // A path for test files beside the tree.
  std::string File(const std::string& name) const { return tree.Base() + "/" + name; }

  // Writes the package name of that version, with the files "/<name>" holding the version and
  // "/<name>-<version>", as dir/<name><version>.vpk (dir created when missing; beside the tree
  // when empty).
  std::string Package(const std::string& name, const char* version, std::string dir = "",
                      TestPackage::Signing signing = TestPackage::kSigned);

  // Mounts a tmpfs with these options on dir, in a private mount namespace of the test process,
  // as a router's flash is a file system of its own; false when the test cannot. TearDown checks
  // that it unmounts: nothing of the run may still hold it open.
  bool MountTmpfs(const std::string& dir, const char* options);

  PackageTree tree;
  std::string output;  // the captured console output, after TearDown
  std::vector<std::string> mounted;
};
