#pragma once

#include <string>
#include <utility>
#include <vector>

#include "packages/package.h"
#include "packages/roots.h"

// Writing one package's entry of the database: its directory, metadata files and state files.
// The placement selects the form of the package directory (see PackageDirectory).

// The text of p's "version" file: its version and build time.
std::string VersionFileText(const Package& p);

// Creates the package directory and its missing parents (mode 0770). False, without a message,
// when that fails; a name that would lead out of var/pdb is reported as a broken package.
bool CreatePackageDirectory(const Package& p, Placement placement);

// Writes "version", "deps", "provides" and "conflicts" (the last two only when not empty),
// "bundle" for a bundle member (deleting it otherwise) and "files" unless p has no file list; with
// the no-metadata flag it deletes all of them instead. Then writes the state files and, for a
// package with an image, deletes "oninstall". A failed write is reported with ReportWriteFailure
// (item "meta/<file>") and returns false; a name or list entry that a file cannot hold is
// reported as a broken package before anything is written.
bool WritePackageMetadata(const Package& p, Placement placement);

// The scripts of a package as they are to be stored: name ("oninstall", "onuninstall") and text.
using StagedScripts = std::vector<std::pair<std::string, std::string>>;

// Which directory a name stands for: the device and inode it lives at.
struct DirectoryIdentity {
  unsigned long long device = 0;
  unsigned long long inode = 0;
};

// Writes p's whole database entry afresh, the scripts (mode 0755) and the metadata and state files,
// into a new directory beside the package directory (in the form the placement selects; var/pdb
// is made when missing) and gives that directory's identity. A failure is reported
// (ReportWriteFailure, or a broken package for a name or list that a file cannot hold), leaves
// the old entry as it was and returns false.
bool WriteReplacement(const Package& p, const StagedScripts& scripts, Placement placement,
                      DirectoryIdentity& fresh);

// Puts the directory WriteReplacement wrote in the package directory's place, in one step where
// the file system can swap two names. The entry it replaces is deleted, and "bootimage" with it
// when its image was the last other link. A failure is reported (ReportWriteFailure) and returns
// false.
bool SwapReplacementIntoPlace(const Package& p, Placement placement);

// Whether the package directory of name (absolute form) is the directory of identity now.
bool PackageDirectoryIs(const std::string& name, const DirectoryIdentity& identity);

// Puts back the package directory of name (absolute form) that a killed swap without the
// one-step exchange left aside with none in its place, then deletes what the swap left beside it.
// Prints nothing.
void PutBackReplacedDirectory(const std::string& name);

// Deletes what an interrupted replacement of p left beside its package directory.
void RemoveReplacementLeftovers(const Package& p, Placement placement);

// CreatePackageDirectory and WritePackageMetadata in the absolute form; when the metadata fail,
// the package is removed again (RemovePackage). False when either fails.
bool StorePackage(Package& p);

// Records p as disabled: deletes "enabled", writes "disabled" ("user" when user-forced, else
// "auto"), sets disabled and clears the scheduled action. Write errors are ignored.
void WriteDisabledState(Package& p);

// Records p as enabled: deletes "disabled", writes "enabled" ("user") when user-forced or deletes
// it, clears disabled and the scheduled action. Write errors are ignored.
void WriteEnabledState(Package& p);
