#include "packages/install_package.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "packages/database_files.h"
#include "packages/database_lookup.h"
#include "packages/database_remove.h"
#include "packages/database_store.h"
#include "packages/package_database.h"
#include "packages/package_file.h"
#include "packages/package_reports.h"
#include "packages/package_script.h"
#include "packages/reporter.h"
#include "packages/roots.h"
#include "packages/schedule_apply.h"
#include "packages/schedule_plan.h"
#include "packages/unpack.h"
#include "platform/platform.h"
#include "streams/signature_check.h"

namespace {

constexpr std::uint32_t kSkipStep = 4096;

// Appending a package can make the dependency rules uninstall it at once (a dependency that only
// passed because the caller ignored unusable packages); its record is then gone.
void ReportRemovedByRules(const std::string& name) {
  ReportError(GetPackageDatabase(), "can not install %s: the installed packages do not let it stay",
              name.c_str());
}

// Passes over the rest of a refused bundle member, up to the next member or the end.
void SkipToNextMember(PartReader& reader) {
  int type = reader.CurrentType();
  while (type != PartHeader && type != -1) {
    type = reader.NextPart();
  }
}

// The state that the caller's selection and the decision give a new package.
void SetInitialState(Package& p, const Selection& selection, Verdict& verdict) {
  auto chosen = selection.find(p.name);
  if (chosen != selection.end()) {
    p.disabled = chosen->second;
    p.userForced = true;
  }
  if ((verdict & kVerdictConflicts) != 0) {
    verdict &= ~kVerdictConflicts;
    p.disabled = true;
  }
}

// The answer to a refused package: for a single package, the installed one when its same version
// is accepted; for a bundle member, the installed one of its name after passing over its parts.
Package* Refused(const Package& p, PartReader& reader, InstallMode mode, Verdict verdict,
                 bool member) {
  if (member) {
    SkipToNextMember(reader);
    return FindPackage(p.name);
  }
  if ((verdict & kVerdictInstalled) == 0 || (mode & AcceptInstalled) == 0) {
    return nullptr;
  }
  ClearStatusLine();
  ReportInfo(GetPackageDatabase(), "installed %s%s", p.disabled ? "(disabled) " : "",
             DisplayName(p).c_str());
  return FindPackage(p.name);
}

// Lets the dependency rules see p in place of the installed package of its name before anything
// of that one is deleted, and carries out what they decide. On return p is out of the database
// again. When the rules would uninstall p itself (a dependency that only passed because the
// caller ignored unusable packages), nothing is carried out, the installed package stays and the
// result is false (reported).
bool ReplaceInstalled(std::unique_ptr<Package>& p) {
  PackageDatabase& db = GetPackageDatabase();
  int index = FindPackageIndex(p->name);
  std::unique_ptr<Package> old = index < 0 ? nullptr : db.Take(db.Records()[index].get());
  const Package* fresh = &AddPackage(std::move(p));
  std::vector<Package*> removals;
  std::vector<Package*> enables;
  PlanSchedule(removals, enables, Verbosity::kChanges);
  bool stays = fresh->scheduledAction != kScheduleUninstall;
  if (!stays) {
    for (const auto& record : db.Records()) {
      record->scheduledAction = kScheduleNone;
    }
  } else {
    PerformRemovals(removals, Verbosity::kChanges);
    PerformEnables(enables, Verbosity::kChanges);
  }
  p = db.Take(fresh);
  if (!stays) {
    if (old != nullptr) {
      db.Insert(std::move(old), static_cast<std::size_t>(index));
    }
    ReportRemovedByRules(DisplayName(*p));
    return false;
  }
  if (old != nullptr) {
    RemovePackage(*old);
  }
  return true;
}

// Passes over an image part, showing the progress as it goes.
void SkipImage(Package& p, PartReader& reader) {
  PackageDatabase& db = GetPackageDatabase();
  for (std::uint32_t left = reader.PartLength(); left > 0;) {
    ShowInstallingProgress(db, p, reader);
    std::uint32_t step = std::min(left, kSkipStep);
    reader.ignore(step);
    if (reader.gcount() != static_cast<std::streamsize>(step)) {
      return;  // cut short: the next part cannot be read and the package fails
    }
    left -= step;
  }
}

// Stores the script part the reader stands on and moves on. A package with an image has no stored
// install script (its metadata writing deletes a left-over one); its uninstall script is kept.
bool StoreScript(Package& p, PartReader& reader, const char* name, Placement placement) {
  bool stored = !p.hasImage || std::strcmp(name, "onuninstall") == 0;
  if (stored && !WritePackageScript(p, reader, reader.PartLength(), name, placement)) {
    ReportWriteFailure(p, name);
    RemovePackage(p);
    return false;
  }
  reader.NextPart();
  return true;
}

// A running system that was booted with this boot image has its files already.
bool KeepsRunningBootImage(const Package& p, Placement placement) {
  return placement == Placement::kTargetRoot && std::getenv("bootimage") != nullptr &&
         (p.flags & kFlagBootImage) != 0;
}

bool Fail(Package& p) {
  RemovePackage(p);
  return false;
}

}  // namespace

void ClearStatusLine() {
  PackageDatabase& db = GetPackageDatabase();
  ShowStatus(db, std::string(78, ' '));
  ShowStatus(db, "");
}

void ForgetEarlierDigest(PartReader& reader) {
  std::uint8_t stale[kDigestSize];
  if (!reader.TakeDigest(stale)) {
    return;  // none was pending
  }
}

bool PackageIsAuthentic(PartReader& reader) {
  if (reader.CurrentType() == PartSignature) {
    bool verified = reader.VerifySignature();
    reader.NextPart();
    return verified;
  }
  std::uint8_t digest[kDigestSize];
  return reader.TakeDigest(digest) && GetPackageDatabase().knownDigestCheck(digest);
}

bool InstallPackageContents(Package& p, PartReader& reader, Placement placement) {
  PackageDatabase& db = GetPackageDatabase();
  ShowInstallingProgress(db, p, reader);
  bool recorded = !reader.IsUnrecorded();
  if (recorded && !CreatePackageDirectory(p, placement)) {
    return false;
  }
  if (reader.CurrentType() == PartImage) {
    SkipImage(p, reader);
    reader.NextPart();
  }
  if (reader.CurrentType() == PartInstallScript &&
      !StoreScript(p, reader, "oninstall", placement)) {
    return false;
  }
  if (reader.CurrentType() == PartUninstallScript &&
      !StoreScript(p, reader, "onuninstall", placement)) {
    return false;
  }
  if (reader.CurrentType() == PartFiles) {
    if (!KeepsRunningBootImage(p, placement) && !UnpackFiles(p, reader, placement)) {
      return Fail(p);
    }
    reader.NextPart();
  }
  if (!PackageIsAuthentic(reader)) {
    ReportBrokenPackage(p);
    return Fail(p);
  }
  if (recorded && !WritePackageMetadata(p, placement)) {
    return Fail(p);
  }
  // A link planted at the marker's place is refused rather than followed out of the tree.
  if (placement == Placement::kTargetRoot && (p.flags & kFlagBootImage) != 0 &&
      !WriteDatabaseFile(TargetPath("/UPGRADED"), "")) {
    ReportWriteFailure(p, "UPGRADED");
    return Fail(p);
  }
  SyncFileSystems();
  if (!p.disabled) {
    RunPackageScript(p, "oninstall");  // a failing script leaves the package installed
  }
  if (!p.bundle.name.empty()) {
    return true;
  }
  ClearStatusLine();
  ReportInfo(db, "installed %s%s", p.disabled ? "(disabled) " : "", DisplayName(p).c_str());
  return true;
}

Package* InstallPackageFromStream(PartReader& reader, InstallMode mode, const Selection& selection,
                                  const Dependency* bundle, const InstallOutputs& outputs) {
  DatabaseOperation operation;
  ForgetEarlierDigest(reader);
  auto p = std::make_unique<Package>();
  if (!ReadPackageHeader(*p, reader)) {
    return nullptr;
  }
  if (p->hasImage && outputs.imageDirectory != nullptr) {
    *outputs.imageDirectory = PackageDirectory(*p, Placement::kTargetRoot);
  }
  Verdict verdict = DecideInstall(*p, bundle != nullptr ? AllInstallModes : mode | IgnoreConflicts);
  SetInitialState(*p, selection, verdict);
  if ((verdict & ~mode) != 0 || (verdict & kVerdictInstalled) != 0) {
    return Refused(*p, reader, mode, verdict, bundle != nullptr);
  }
  if (bundle != nullptr) {
    p->bundle = *bundle;
  }
  if (!reader.IsUnrecorded() && !ReplaceInstalled(p)) {
    return nullptr;
  }
  if (!InstallPackageContents(*p, reader, Placement::kTargetRoot)) {
    return nullptr;
  }
  std::string name = DisplayName(*p);
  bool bootImage = (p->flags & kFlagBootImage) != 0;
  Package* installed = &AddPackage(std::move(p));
  ApplySchedule(Verbosity::kSilent);
  if (!GetPackageDatabase().Contains(installed)) {
    ReportRemovedByRules(name);
    return nullptr;
  }
  if (outputs.bootImage != nullptr) {
    *outputs.bootImage = bootImage;
  }
  return installed;
}
