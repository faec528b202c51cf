#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "packages/roots.h"

// The staging area of one installation: a private directory at the top of the tree where a
// package's entries wait, under temporary names on the tree's own file system, until the package
// has been verified. Only then are they moved into place; a refused or failed package leaves
// nothing of itself in the tree. An area that a killed installation left behind is removed when
// the next one begins.

// One archive entry as it waits in the area.
struct StagedEntry {
  std::vector<std::string> components;  // its place in the tree
  std::string name;                     // as the archive stores it, for messages
  std::string recorded;                 // the path the package's files list gets once it is placed
  std::string temporary;                // its name in the area; empty for a directory (made later)
  std::uint32_t mode = 0;
  std::uint32_t user = 0;
  std::uint32_t group = 0;
  std::uint32_t modified = 0;
};

// What one package has staged. Destroying it removes the area with everything still in it.
struct Staging {
  Staging() = default;
  ~Staging();
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;

  Placement placement = Placement::kTargetRoot;
  int root = -1;                     // the tree the entries go into (O_PATH)
  int area = -1;                     // the staging directory
  std::vector<StagedEntry> entries;  // in archive order
  std::vector<std::pair<std::string, std::string>> scripts;  // name and stored text
};

// The name of the area at the top of the tree.
extern const char stagingAreaName[];

// Opens the tree of the placement (the target root, or the working directory), removes an area
// left there by an earlier installation and makes a fresh one, mode 0700. False with errno when the
// tree cannot be opened or the area cannot be made; prints nothing.
bool OpenStaging(Staging& staging, Placement placement);

// Removes the area and what is left in it and closes both descriptors; safe to call again.
void DiscardStaging(Staging& staging);

// Removes an area left at the top of the tree of the placement, if there is one, after completing
// or undoing the placement it records (see placement_record.h). Every writer of a tree calls it
// before it reads the database.
void RemoveStaleStaging(Placement placement);
