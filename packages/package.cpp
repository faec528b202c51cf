#include "packages/package.h"

std::string DisplayName(const PackageInfo& p) {
  return p.name + "-" + VersionText(p.version);
}

std::string MemberDisplayName(const Package& p) {
  if (p.bundle.name.empty()) {
    return DisplayName(p);
  }
  if (p.bundle.minVersion == 0) {
    return p.bundle.name;
  }
  return p.bundle.name + "-" + VersionText(p.bundle.minVersion);
}

Dependency ExactDependency(const PackageInfo& p) {
  return Dependency{p.name, p.version, p.version, 0};
}
