#include "tests/support/package_tree.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "packages/database_lookup.h"
#include "packages/package_database.h"
#include "packages/post_log.h"

namespace {

void ResetDatabase() {
  DeleteAllPackages();
  PackageDatabase& db = GetPackageDatabase();
  db.log.clear();
  db.statusLine.clear();
  db.quiet = false;
  postLogReserved = false;
}

int RemoveEntry(const char* path, const struct stat*, int, FTW*) {
  return remove(path);
}

void MakeParents(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    mkdir(path.substr(0, slash).c_str(), 0755);  // existing directories are expected
  }
}

}  // namespace

PackageTree::PackageTree() : savedRoots(GetPackageRoots()) {
  char pattern[] = "/tmp/vela-pdb-XXXXXX";
  const char* made = mkdtemp(pattern);
  EXPECT_NE(made, nullptr);
  base = made != nullptr ? made : "/nonexistent";
  for (const char* dir : {"/flash", "/system", "/outside"})
    EXPECT_EQ(mkdir((base + dir).c_str(), 0755), 0) << dir;
  GetPackageRoots().target = Target();
  GetPackageRoots().system = System();
  ResetDatabase();
}

PackageTree::~PackageTree() {
  GetPackageRoots() = savedRoots;
  ResetDatabase();
  nftw(base.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void MakeTestDirectories(const std::string& path) {
  MakeParents(path + "/");
}

void WriteTreeFile(const std::string& path, const std::string& content) {
  MakeParents(path);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << content;
  file.close();
  ASSERT_TRUE(file.good()) << path;
}

std::string ReadTreeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file)
    return "<missing>";
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

bool PathExists(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
}

namespace {
std::vector<std::string>* listing = nullptr;
std::size_t listingPrefix = 0;

int AddEntry(const char* path, const struct stat*, int, FTW*) {
  std::string name = path;
  if (name.size() > listingPrefix)
    listing->push_back(name.substr(listingPrefix));
  return 0;
}
}  // namespace

std::vector<std::string> ListTree(const std::string& dir) {
  std::vector<std::string> paths;
  listing = &paths;
  listingPrefix = dir.size() + 1;
  nftw(dir.c_str(), AddEntry, 16, FTW_PHYS);
  listing = nullptr;
  std::sort(paths.begin(), paths.end());
  return paths;
}
