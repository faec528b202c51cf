#pragma once

#include <string>

// Moving an entry between file systems, where rename cannot: the new system's /boot is often a
// file system of its own, beside the tree where a package's entries wait to be placed.

// The temporary name beside `to` that MoveAcrossFileSystems builds the entry under.
extern const char crossDeviceTemporary[];

// Makes the entry `from` of fromDirectory again as `to` in toDirectory, with its content (or link
// target, or device number), mode, owner and times: first under a temporary name beside `to`, then
// renamed over it, so that `to` is either the old entry or the whole new one; then removes `from`.
// False with errno when a step fails; the temporary name is removed again then.
bool MoveAcrossFileSystems(int fromDirectory, const std::string& from, int toDirectory,
                           const std::string& to);
