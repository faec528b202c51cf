#include "packages/database_lookup.h"

#include <cstdio>
#include <ctime>
#include <string>

#include "packages/package_database.h"
#include "packages/relations.h"

int FindPackageIndex(std::string_view name) {
  auto packages = GetPackageDatabase().Records();
  for (std::size_t i = 0; i < packages.size(); ++i) {
    if (NameEquals(packages[i]->name, name)) {
      return int(i);
    }
  }
  return -1;
}

Package* FindPackage(std::string_view name) {
  int index = FindPackageIndex(name);
  return index < 0 ? nullptr : GetPackageDatabase().Records()[std::size_t(index)].get();
}

Package* FindProvider(std::string_view name) {
  Dependency anyVersion{std::string(name), 0, 0, 0};
  Package* lastDisabled = nullptr;
  for (const auto& p : GetPackageDatabase().Records()) {
    if (!NameEquals(p->name, name) && !ProvidesMatch(*p, anyVersion)) {
      continue;
    }
    if (!p->disabled) {
      return p.get();
    }
    lastDisabled = p.get();
  }
  return lastDisabled;
}

Package& AddPackage(std::unique_ptr<Package> p) {
  return GetPackageDatabase().Insert(std::move(p));
}

void DeleteAllPackages() {
  GetPackageDatabase().Clear();
}

namespace {

// The build time as UTC, e.g. "Mar/01/2024 12:00:00"; empty when it cannot be converted.
std::string BuildTimeText(std::uint32_t seconds) {
  std::time_t time = seconds;
  std::tm parts;
  char text[128];
  if (gmtime_r(&time, &parts) == nullptr) {
    return "";
  }
  if (std::strftime(text, sizeof text, "%b/%d/%Y %H:%M:%S", &parts) == 0) {
    return "";
  }
  return text;
}

}  // namespace

void PrintPackageTable() {
  std::printf("%16s   %15s %25s\n", "Name", "Version", "Built");
  std::printf("%s\n", std::string(60, '-').c_str());
  for (const auto& p : GetPackageDatabase().Records()) {
    std::string built = BuildTimeText(p->buildTime);
    std::printf("%16s %s%15s %25s\n", p->name.c_str(), p->disabled ? "X " : "  ",
                VersionText(p->version), built.c_str());
  }
}
