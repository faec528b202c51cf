// TEMPORARY: a minimal package source and menu, so that the media flows run before the real ones
// arrive. To be replaced as a whole by flows/package_sources.cpp and flows/package_menu.cpp.

#include "flows/media_sources_pending.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "packages/package_file.h"

bool ReadPackageFiles(std::vector<SelectablePackage*>& packages) {
  DIR* directory = opendir("/floppy");
  if (directory == nullptr) {
    puts("FATAL ERROR: No packages found");
    return false;
  }
  bool good = true;
  while (dirent* entry = readdir(directory)) {
    std::string name = entry->d_name;
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".vpk") != 0) {
      continue;
    }
    packages.push_back(new SelectablePackage());
    if (!OpenPackageFile(*packages.back(), "/floppy/" + name)) {
      printf("FATAL ERROR: Bad package %s\n", DisplayName(*packages.back()).c_str());
      good = false;
      break;
    }
  }
  closedir(directory);
  if (good && packages.empty()) {
    puts("FATAL ERROR: No packages found");
    return false;
  }
  std::sort(
      packages.begin(), packages.end(),
      [](const SelectablePackage* a, const SelectablePackage* b) { return a->name < b->name; });
  const char* const priorityNames[] = {"system", "ppp", "dhcp"};
  for (size_t k = 0; k < 3; ++k) {
    auto found = std::find_if(packages.begin(), packages.end(), [&](const SelectablePackage* p) {
      return p->name == priorityNames[k];
    });
    if (found != packages.end()) {
      SelectablePackage* p = *found;
      packages.erase(found);
      packages.insert(packages.begin() + std::min(k, packages.size()), p);
    }
  }
  return good;
}

void OrderSelectedPackages(const std::vector<SelectablePackage*>& packages,
                           std::vector<SelectablePackage*>& order) {
  order.clear();
  for (SelectablePackage* p : packages) {
    if (p->selected) {
      order.push_back(p);
    }
  }
}

bool RunPackageMenu(PackageMenu& menu) {
  for (SelectablePackage* p : menu.packages) {
    p->selected = true;
  }
  return true;
}
