#pragma once

// Installing test package files, and admitting unsigned ones through a test digest table.

#include <string>
#include <vector>

#include "packages/install_decision.h"

// Installs the package or bundle file at path through InstallFromStream; -1 (with a test
// failure) when it cannot be opened.
int InstallTestFile(const std::string& path, InstallMode mode, const Selection& selection = {},
                    bool* bootImage = nullptr);

// While it lives, unsigned packages are admitted when their digest is that of one of the given
// single-package files (SHA-1 of everything after the 8-byte container header); the built-in
// check comes back afterwards.
class TestDigestTable {
 public:
  explicit TestDigestTable(const std::vector<std::string>& files);
  ~TestDigestTable();
  TestDigestTable(const TestDigestTable&) = delete;
  TestDigestTable& operator=(const TestDigestTable&) = delete;
};
