#pragma once

#include <string>

#include "packages/package.h"

// Removing a package's files and database entry from the target tree. Deletions never report
// errors. Paths are resolved inside the target tree as the installed system will see them, so a
// symbolic link never leads a deletion out of the tree.

// Deletes every path of p.files from the target tree, then empties the list. A listed symbolic link
// is deleted itself, never what it leads to; a path that would lead out of the tree deletes
// nothing.
void RemovePackageFiles(Package& p);

// RemovePackageFiles, RemovePackageDirectory, and clears the scheduled action. The record stays in
// the database.
void RemovePackage(Package& p);

// Deletes the entries of the database directory at path whose names do not begin with ".", then
// the directory; a link at path is not followed.
void RemoveDatabaseDirectory(const std::string& path);

// Deletes "bootimage" at the target root when its image has no other link left (the image went
// with the package it belonged to).
void RemoveLoneBootImage();
