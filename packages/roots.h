#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

// The package manager's two roots. `target` is the tree that the installed system calls "/flash"
// (the new system under the installer, "/flash" itself on an installed router); `system` is the
// running system's root, under which "/ram", "/rw" and "/proc/meminfo" are found. vpk --root and
// --system-root, and tests, change them before any package work starts.
struct PackageRoots {
  std::string target = "/flash";
  std::string system = "/";
};

// Where one installation writes: below the target root, or (a direct installation) below the
// working directory, with recorded paths that begin with "." and no boot-image handling.
enum class Placement { kTargetRoot, kWorkingDirectory };

// The process's roots; the first call creates them with the defaults above.
PackageRoots& GetPackageRoots();

// The target root followed by path, which names a place in the target tree and begins with "/":
// TargetPath("/var/pdb/") is "/flash/var/pdb/" under the default roots. An empty path gives the
// root itself, as a mount point ("/" for a root of "/").
std::string TargetPath(std::string_view path);

// The system root followed by path, which begins with "/": SystemPath("/rw/pckg/").
std::string SystemPath(std::string_view path);

// Creates the empty marker file `path` (beginning with "/") in the target tree, with `mode`: a
// hint for the installed system. False when it could not be created; callers ignore that on
// purpose, since a missing marker only loses the hint.
bool WriteMarker(std::string_view path, mode_t mode = 0600);
