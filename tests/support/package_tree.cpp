#include "tests/support/package_tree.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "packages/package_database.h"

namespace fs = std::filesystem;

PackageTree::PackageTree() : savedRoots(GetPackageRoots()) {
  char pattern[] = "/tmp/vela-pdb-XXXXXX";
  const char* made = mkdtemp(pattern);
  EXPECT_NE(made, nullptr);
  base = made != nullptr ? made : "/nonexistent";
  for (const char* dir : {"/flash", "/system", "/outside"}) {
    EXPECT_TRUE(fs::create_directory(base + dir)) << dir;
  }
  GetPackageRoots() = {Target(), System()};
  GetPackageDatabase().Reset();
}

PackageTree::~PackageTree() {
  GetPackageRoots() = savedRoots;
  GetPackageDatabase().Reset();
  std::error_code ignored;  // a failed cleanup leaves a directory in /tmp, nothing worse
  fs::remove_all(base, ignored);
}

void MakeTestDirectories(const std::string& path) {
  std::error_code ignored;  // the callers' checks notice a missing directory
  fs::create_directories(path, ignored);
}

void WriteTreeFile(const std::string& path, const std::string& content) {
  MakeTestDirectories(fs::path(path).parent_path());
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << content;
  file.close();
  ASSERT_TRUE(file.good()) << path;
}

std::string ReadTreeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return file ? content.str() : "<missing>";
}

bool PathExists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(path, ignored));
}

std::vector<std::string> ListTree(const std::string& dir) {
  std::vector<std::string> paths;
  std::error_code error;
  for (fs::recursive_directory_iterator it(dir, error), end; !error && it != end;
       it.increment(error)) {
    paths.push_back(it->path().string().substr(dir.size() + 1));
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

std::string CapturedStdout(const std::function<void()>& step) {
  testing::internal::CaptureStdout();
  step();
  return testing::internal::GetCapturedStdout();
}
