#include "packages/install_bundle.h"

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "packages/database_files.h"
#include "packages/database_lookup.h"
#include "packages/database_remove.h"
#include "packages/database_store.h"
#include "packages/package_database.h"
#include "packages/package_file.h"
#include "packages/reporter.h"
#include "packages/schedule_apply.h"

namespace {

// Destroys every record of that name without touching the tree.
void ForgetRecords(const std::string& name) {
  GetPackageDatabase().RemoveIf([&name](const Package& p) { return p.name == name; });
}

// The names of the installed members of the bundle of that name.
std::set<std::string> MemberNames(const std::string& bundle) {
  std::set<std::string> names;
  for (const auto& p : GetPackageDatabase().Records()) {
    if (p->bundle.name == bundle) {
      names.insert(p->name);
    }
  }
  return names;
}

// For each member that the members part names and the selection does not, appends an enabled
// nameless record that conflicts with it, so that the member is installed disabled. Moves past
// the part. The records are never written to disk.
std::vector<const Package*> AddPlaceholders(PartReader& reader, const Selection& selection) {
  std::vector<const Package*> placeholders;
  if (reader.CurrentType() != PartBundleMembers) {
    return placeholders;
  }
  std::vector<Dependency> members;
  if (!ReadDependencyPart(reader, members)) {
    return placeholders;  // the reader has failed, so no member follows
  }
  for (const Dependency& member : members) {
    if (selection.count(member.name) == 0) {
      auto placeholder = std::make_unique<Package>();
      placeholder->conflicts.push_back(Dependency{member.name, 0, 0, 0});
      placeholders.push_back(&AddPackage(std::move(placeholder)));
    }
  }
  reader.NextPart();
  return placeholders;
}

// The placeholders would keep conflicting, and count as enabled packages, for the rest of the
// process: they go as soon as the members are in.
void RemovePlaceholders(const std::vector<const Package*>& placeholders) {
  GetPackageDatabase().RemoveIf([&placeholders](const Package& p) {
    return std::find(placeholders.begin(), placeholders.end(), &p) != placeholders.end();
  });
}

// Installs the members the reader comes to; returns how many yielded a package and takes their
// names out of earlier.
int InstallMembers(PartReader& reader, InstallMode mode, const Selection& selection,
                   const Dependency& bundle, std::set<std::string>& earlier, bool* bootImage) {
  int installed = 0;
  while (reader.CurrentType() == PartHeader) {
    std::uint64_t start = reader.PartOffset();
    bool memberBoot = false;
    const Package* member = InstallPackageFromStream(reader, mode | AcceptInstalled, selection,
                                                     &bundle, InstallOutputs{nullptr, &memberBoot});
    if (member != nullptr) {
      earlier.erase(member->name);
      ++installed;
      if (memberBoot && bootImage != nullptr) {
        *bootImage = true;
      }
    }
    // A header that cannot be read leaves the reader where it was.
    if (reader.CurrentType() == PartHeader && reader.PartOffset() == start) {
      break;
    }
  }
  return installed;
}

std::string BundleText(const Dependency& bundle) {
  if (bundle.minVersion == 0) {
    return bundle.name;
  }
  return bundle.name + "-" + VersionText(bundle.minVersion);
}

}  // namespace

// Removes the first installed package of that name from the tree and the database. False when
// none is installed.
bool UninstallByName(std::string_view name) {
  Package* p = FindPackage(name);
  if (p == nullptr) {
    return false;
  }
  RemovePackage(*p);
  GetPackageDatabase().Retire(p);
  return true;
}

int InstallBundleFromStream(PartReader& reader, InstallMode mode, const Selection& selection,
                            const InstallOutputs& outputs) {
  DatabaseOperation operation;
  if (outputs.bootImage != nullptr) {
    *outputs.bootImage = false;
  }
  auto b = std::make_unique<Package>();
  if (!ReadPackageHeader(*b, reader)) {
    return kBundleUnreadable;
  }
  if (reader.CurrentType() == PartImage) {
    reader.NextPart();
  }
  if (b->hasImage && outputs.imageDirectory != nullptr) {
    *outputs.imageDirectory = PackageDirectory(*b, Placement::kTargetRoot);
  }
  if ((DecideInstall(*b, mode | AcceptInstalled) & ~(mode | AcceptInstalled)) != 0) {
    return kBundleRefused;
  }
  UninstallByName(b->name);
  if (!StorePackage(*b)) {
    return kBundleUnreadable;
  }
  Dependency bundle{b->name, b->version, b->version, 0};
  ForgetRecords(b->name);
  AddPackage(std::move(b));
  std::set<std::string> earlier = MemberNames(bundle.name);
  std::vector<const Package*> placeholders = AddPlaceholders(reader, selection);
  int installed = InstallMembers(reader, mode, selection, bundle, earlier, outputs.bootImage);
  RemovePlaceholders(placeholders);
  if (installed == 0) {
    return kBundleEmpty;
  }
  // Members that were not reached, in a stream that ended early, are still brought by this bundle.
  bool complete = reader.CurrentType() == -1 && reader.PartOffset() == reader.TotalSize();
  for (const auto& p : GetPackageDatabase().Records()) {
    if (complete && p->bundle.name == bundle.name && earlier.count(p->name) != 0) {
      p->scheduledAction = kScheduleUninstall;
    }
  }
  ApplySchedule(Verbosity::kSilent);
  ClearStatusLine();
  ReportInfo(GetPackageDatabase(), "installed %s", BundleText(bundle).c_str());
  return kBundleInstalled;
}
