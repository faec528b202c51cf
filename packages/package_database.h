#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "packages/package.h"

// Decides whether the digest of a package without signature admits it.
using DigestCheck = bool (*)(const std::uint8_t digest[20]);

// The package manager's process-wide state: the installed packages, the reporter's status line
// and message log, and the few switches that the whole package manager shares. Only this
// record's own operations change the sequence of installed packages.
class PackageDatabase {
 public:
  PackageDatabase();
  PackageDatabase(const PackageDatabase&) = delete;
  PackageDatabase& operator=(const PackageDatabase&) = delete;

  // Installed packages in insertion order, which decides every first match.
  std::span<const std::unique_ptr<Package>> Records() const { return packages; }
  // True when p is one of the installed records (not taken out nor uninstalled).
  bool Contains(const Package* p) const;
  // Takes the record p out of the sequence and hands it to the caller; null when p is none of it.
  std::unique_ptr<Package> Take(const Package* p);
  // Puts p at position (clamped to the end), the database owning it from then on; returns it.
  Package& Insert(std::unique_ptr<Package> p, std::size_t position = SIZE_MAX);
  // Takes every record for which doomed holds out of the sequence; they are destroyed at the sweep.
  void RemoveIf(const std::function<bool(const Package&)>& doomed);
  // Takes p out of the sequence because it was uninstalled. The record itself stays valid for
  // whoever still holds it until the end of the outermost DatabaseOperation (or at once when
  // none runs). Nothing happens when p is none of the records.
  void Retire(const Package* p);
  // Destroys every record and empties the sequence.
  void Clear();
  // Back to the state of a new process (tests): no records, no log, no status line, quiet clear,
  // no post-log reservation and the built-in digest check.
  void Reset();

  // The status line now on the screen; empty when none is shown.
  std::string statusLine;
  // Every message printed, with its prefix, for the post-installation log.
  std::vector<std::string> log;
  // Print and log nothing.
  bool quiet = false;
  // "postlog" was read back and its space reserved (ReadPostLog).
  bool postLogReserved = false;
  // The errno of a failed write of the copy kept of the bytes being read (the installer child's
  // image), 0 when none failed: the package reader then stops as at broken bytes, and the
  // installation reports the write failure instead.
  int copyWriteError = 0;
  // The check that installation uses for unsigned packages: IsKnownPackageDigest, the table built
  // into the program. Tests put their own check in place; Reset restores it.
  DigestCheck knownDigestCheck;

 private:
  friend class DatabaseOperation;
  void Sweep();

  std::vector<std::unique_ptr<Package>> packages;
  std::vector<std::unique_ptr<Package>> retired;  // uninstalled, destroyed at the sweep
  int operations = 0;                             // DatabaseOperation nesting
};

// The process's one database; the first call creates it empty. It lives until the process ends.
PackageDatabase& GetPackageDatabase();

// Marks an operation on the process's database while it lives. Records uninstalled meanwhile stay
// valid until the outermost one ends, so callers holding a record can ask Contains instead of
// finding it gone under them.
class DatabaseOperation {
 public:
  DatabaseOperation();
  ~DatabaseOperation();
  DatabaseOperation(const DatabaseOperation&) = delete;
  DatabaseOperation& operator=(const DatabaseOperation&) = delete;
};
