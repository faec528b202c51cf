#pragma once

#include <set>
#include <string>
#include <vector>

#include "packages/database_store.h"
#include "packages/package.h"
#include "packages/staging.h"

// The record of one package's placement: before the first verified entry is renamed into place,
// the area holds a file that names the package, the directory its new database record waits in
// beside the old one, each entry's place in the tree and the installed files that go once the new
// record stands. Every entry replaced at its place is moved aside into the area ("o" + its index)
// rather than destroyed. A placement that fails, or that a killed process left behind, is undone
// from the record (the record had not been replaced) or completed (it had).

// Writes the record of p's staged entries and of the installed files gone (recorded paths), then
// makes it and the staged data durable with one sync of the tree's file system. Reports a write
// failure (or a broken package for a name the record cannot hold) and returns false.
bool WritePlacementRecord(const Package& p, const Staging& staging,
                          const std::set<std::string>& gone, const DirectoryIdentity& fresh,
                          const std::vector<std::string>& made);

// The database's directories (var, var/pdb) that do not stand in the tree of root yet: the
// record names those that the new database record made (made), for an undoing to remove them.
std::vector<std::string> MissingDatabaseDirectories(int root);

// Undoes the placement recorded in the area of staging, whatever the database shows, and puts a
// replaced database record left aside back: called when a placement step fails. Reports an entry
// that cannot be put back and returns false then.
bool UndoPlacement(const Staging& staging);

// Removes the installed files gone from the record, then the record itself: the new database
// record is in place. Deletions never report.
void CompletePlacement(const Staging& staging);

// Which way the next writer takes a placement that a killed process left.
enum class Interrupted { kNone, kCompleted, kUndone };

// Finds the record in the staging area and tells which way (with the package's name): completed
// when the recorded new database record stands in the package directory's place, undone
// otherwise; kNone when there is none, or
// it was cut short before any entry moved. The record is read as hostile input: nothing it names
// leads out of the tree. Prints nothing.
Interrupted FindInterruptedPlacement(int area, std::string& name);

// FindInterruptedPlacement for the staging area at the top of the target tree.
Interrupted FindInterruptedInstallation(std::string& name);

// Completes or undoes the placement recorded in the area of the tree root (O_PATH), as
// FindInterruptedPlacement tells, and removes the record. False (reported) when an entry cannot
// be put back: the record and the area stay for the next writer.
bool RecoverPlacement(int root, int area);

// Renames an entry of a placement (aside, into place or back), copying it where the two
// directories lie on different file systems. False with errno.
bool MovePlacementEntry(int fromDirectory, const std::string& from, int toDirectory,
                        const std::string& to);

// A test build's seam into placement: called before each rename or copy of a placement (moving an
// entry aside, into place, or back), before the swap of the database record and before its
// completion; returning false fails that step
// with the errno it set. Null in the programs, and nothing outside a test's own code sets it.
extern bool (*placementStepForTests)();
