// Loading the package database from a damaged tree: var/pdb with its package directories and
// images, the stored images of the running system and its schedule files. Whatever the files
// hold, every record loaded must carry a usable name and installed paths, no descriptor may stay
// open, and nothing may be written outside the two roots.
//
// Input: a tree description (see BuildTree) over the places of the database.

#include <cstdint>
#include <string>
#include <vector>

#include "packages/database_files.h"
#include "packages/database_load.h"
#include "packages/package_database.h"
#include "packages/roots.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

const char* const kNames[] = {"system", "ppp", "web", "dhcp"};
const char* const kFiles[] = {"version", "deps",     "provides", "conflicts", "bundle",
                              "files",   "disabled", "enabled",  "image"};

// Every place of the database a description can fill, relative to the scratch root.
std::vector<std::string> DatabasePlaces() {
  std::vector<std::string> places = {"flash/var/pdb", "system/rw/pckg/.images"};
  for (const char* name : kNames) {
    places.push_back(std::string("flash/var/pdb/") + name);
    for (const char* file : kFiles) {
      places.push_back(std::string("flash/var/pdb/") + name + "/" + file);
    }
    places.push_back(std::string("system/ram/pdb/") + name + "/schedule");
    places.push_back(std::string("system/rw/pckg/.images/") + name + ".vpk");
  }
  return places;
}

void CheckRecords() {
  for (const auto& p : GetPackageDatabase().Records()) {
    Require(IsSafeDirectoryName(p->name), "a loaded record has a usable name");
    for (const std::string& file : p->files) {
      Require(!file.empty() && file.front() == '/', "an installed path begins with /");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ScratchDirectory scratch("database");
  static const std::vector<std::string> places = DatabasePlaces();
  BuildTree({data, size}, scratch.Path(), places);
  std::vector<std::string> before = ListTree(scratch.Top());
  GetPackageRoots() = {scratch.Path() + "/flash", scratch.Path() + "/system"};
  GetPackageDatabase().Reset();
  int descriptors = CountOpenDescriptors();
  LoadDatabase({.quiet = true});
  CheckRecords();
  Require(CountOpenDescriptors() == descriptors, "every descriptor opened is closed again");
  for (const std::string& path : ListTree(scratch.Top())) {
    bool known = std::binary_search(before.begin(), before.end(), path);
    Require(known, "loading creates nothing");
  }
  GetPackageDatabase().Reset();
  EmptyDirectory(scratch.Path());
  return 0;
}
