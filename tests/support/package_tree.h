#pragma once

// Temporary package roots for tests of the package manager, and small file helpers for them.

#include <functional>
#include <string>
#include <vector>

#include "packages/package_database.h"
#include "packages/roots.h"

// A fresh directory holding a target tree ("flash"), a running system's root ("system") and a
// directory beside both ("outside", for checking that nothing leaves the roots). While it lives,
// the package roots point at the first two and the database starts empty; the destructor restores
// the roots, empties the database again and deletes everything.
class PackageTree {
 public:
  PackageTree();
  ~PackageTree();
  PackageTree(const PackageTree&) = delete;
  PackageTree& operator=(const PackageTree&) = delete;

  const std::string& Base() const { return base; }
  std::string Target(const std::string& path = "") const { return base + "/flash" + path; }
  std::string System(const std::string& path = "") const { return base + "/system" + path; }
  std::string Outside(const std::string& path = "") const { return base + "/outside" + path; }

 private:
  std::string base;
  PackageRoots savedRoots;
};

// Creates path and the missing directories above it.
void MakeTestDirectories(const std::string& path);
// Writes content to path, creating the missing directories above it; fails the test on error.
void WriteTreeFile(const std::string& path, const std::string& content);
// The content of path; "<missing>" when it cannot be read.
std::string ReadTreeFile(const std::string& path);
// True when something (also a dangling symbolic link) is at path.
bool PathExists(const std::string& path);
// Every path below dir, relative to it, sorted; symbolic links are listed, not followed.
std::vector<std::string> ListTree(const std::string& dir);
// What step wrote to standard output.
std::string CapturedStdout(const std::function<void()>& step);
