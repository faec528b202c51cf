#pragma once

#include "packages/package.h"
#include "packages/roots.h"

// Writing one package's entry of the database: its directory, metadata files and state files.
// The placement selects the form of the package directory (see PackageDirectory).

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

// CreatePackageDirectory and WritePackageMetadata in the absolute form; when the metadata fail,
// the package is removed again (RemovePackage). False when either fails.
bool StorePackage(Package& p);

// Records p as disabled: deletes "enabled", writes "disabled" ("user" when user-forced, else
// "auto"), sets disabled and clears the scheduled action. Write errors are ignored.
void WriteDisabledState(Package& p);

// Records p as enabled: deletes "disabled", writes "enabled" ("user") when user-forced or deletes
// it, clears disabled and the scheduled action. Write errors are ignored.
void WriteEnabledState(Package& p);
