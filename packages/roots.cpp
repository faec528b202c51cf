#include "packages/roots.h"

#include <fcntl.h>
#include <unistd.h>

PackageRoots& GetPackageRoots() {
  static PackageRoots roots;
  return roots;
}

namespace {

// A root of "/" adds nothing, so that paths keep their single leading slash.
std::string UnderRoot(const std::string& root, std::string_view path) {
  std::string joined = root == "/" ? std::string() : root;
  while (!joined.empty() && joined.back() == '/') {
    joined.pop_back();
  }
  joined += path;
  return joined.empty() ? "/" : joined;
}

}  // namespace

std::string TargetPath(std::string_view path) {
  return UnderRoot(GetPackageRoots().target, path);
}

std::string SystemPath(std::string_view path) {
  return UnderRoot(GetPackageRoots().system, path);
}

bool WriteMarker(std::string_view path, mode_t mode) {
  int marker = open(TargetPath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
  return marker >= 0 && close(marker) == 0;
}
