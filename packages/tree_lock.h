#pragma once

#include <cstdint>
#include <string>

// One writer per target tree. A writer holds an exclusive record lock on ".vpk-lock" at the top of
// the tree for its whole run. The kernel holds the lock, so a killed writer's lock is free again at
// once; the file exists only while a writer runs (or after one was killed), never in the database.
// Readers take no lock. The lock belongs to the process: it is not inherited by children, and
// nothing else in the process may open the lock file (closing any descriptor of it would drop it).
class TreeLock {
 public:
  TreeLock() = default;
  TreeLock(const TreeLock&) = delete;
  TreeLock& operator=(const TreeLock&) = delete;
  ~TreeLock() { Release(); }

  // Takes the lock of the target tree (GetPackageRoots().target), which must exist. While another
  // process holds it, tries again for up to waitSeconds (through the platform's clock and sleep).
  // False when the lock could not be had: prints "PREFIXTREE is in use by process N", or
  // "PREFIXcould not lock TREE: REASON", to standard error.
  bool Take(const char* prefix, std::uint64_t waitSeconds);

  // Removes the lock file and drops the lock; nothing when the lock is not held.
  void Release();

 private:
  int descriptor = -1;
  std::string path;
};

// The name of the lock file at the top of a tree.
constexpr const char kTreeLockName[] = ".vpk-lock";
