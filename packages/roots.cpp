#include "packages/roots.h"

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
  return joined;
}

}  // namespace

std::string TargetPath(std::string_view path) {
  return UnderRoot(GetPackageRoots().target, path);
}

std::string SystemPath(std::string_view path) {
  return UnderRoot(GetPackageRoots().system, path);
}
