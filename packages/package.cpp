#include "packages/package.h"

#include <cstdio>

std::string DisplayName(const PackageInfo& p) {
  return p.name + "-" + VersionText(p.version);
}

std::string MemberDisplayName(const Package& p) {
  if (p.bundle.name.empty())
    return DisplayName(p);
  if (p.bundle.minVersion == 0)
    return p.bundle.name;
  return p.bundle.name + "-" + VersionText(p.bundle.minVersion);
}

Dependency ExactDependency(const PackageInfo& p) {
  return Dependency{p.name, p.version, p.version, 0};
}

void DumpPackage(const Package& p) {
  std::printf("package <%s>\n", p.name.c_str());
  std::printf(" version=%s\n", VersionText(p.version));
  if (p.disabled)
    std::printf("   disabled\n");
  if (p.userForced)
    std::printf("   user-forced\n");
  std::printf("  deps=\n");
  for (const Dependency& d : p.dependencies) {
    // VersionText reuses one buffer, so each bound is printed right after its text is made.
    std::printf("    <%s> min=%s", d.name.c_str(), VersionText(d.minVersion));
    std::printf(" max=%s\n", VersionText(d.maxVersion));
  }
  std::printf("  files=\n");
  for (const std::string& path : p.files)
    std::printf("    %s\n", path.c_str());
}
