#include "packages/install_package.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "packages/database_files.h"
#include "packages/database_lookup.h"
#include "packages/database_remove.h"
#include "packages/database_store.h"
#include "packages/package_database.h"
#include "packages/package_file.h"
#include "packages/package_reports.h"
#include "packages/package_script.h"
#include "packages/place_staged.h"
#include "packages/placement_record.h"
#include "packages/reporter.h"
#include "packages/roots.h"
#include "packages/schedule_apply.h"
#include "packages/schedule_plan.h"
#include "packages/staging.h"
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

// Lets the dependency rules see p in place of the installed package of its name and carries out
// what they decide; the installed package itself is handed back in old, out of the database, for
// its files to go once p is in place. On return p is out of the database again. When the rules
// would uninstall p itself (a dependency that only passed because the caller ignored unusable
// packages), nothing is carried out, the installed package stays and the result is false
// (reported).
bool ReplaceInstalled(std::unique_ptr<Package>& p, std::unique_ptr<Package>& old) {
  PackageDatabase& db = GetPackageDatabase();
  int index = FindPackageIndex(p->name);
  old = index < 0 ? nullptr : db.Take(db.Records()[index].get());
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

// Reads the script part the reader stands on for storing and moves on. A package with an image
// has no stored install script (its metadata writing deletes a left-over one); its uninstall
// script is kept.
bool StageScript(Package& p, PartReader& reader, const char* name, Staging& staging) {
  std::string text;
  if (!ReadPackageScript(p, reader, reader.PartLength(), text)) {
    ReportWriteFailure(p, name);
    return false;
  }
  if (!p.hasImage || std::strcmp(name, "onuninstall") == 0) {
    staging.scripts.emplace_back(name, std::move(text));
  }
  reader.NextPart();
  return true;
}

// A running system that was booted with this boot image has its files already.
bool KeepsRunningBootImage(const Package& p, Placement placement) {
  return placement == Placement::kTargetRoot && std::getenv("bootimage") != nullptr &&
         (p.flags & kFlagBootImage) != 0;
}

// Reads the parts after p's header: the image is passed over, the scripts are read and the file
// archive is unpacked into the staging area; then the package must prove authentic. Nothing of p
// is in the tree yet, so a failure (reported) leaves the tree as it was.
bool StagePackageContents(Package& p, PartReader& reader, Staging& staging, Placement placement) {
  ShowInstallingProgress(GetPackageDatabase(), p, reader);
  if (!OpenStaging(staging, placement)) {
    ReportWriteFailure(p, stagingAreaName);
    return false;
  }
  if (reader.CurrentType() == PartImage) {
    SkipImage(p, reader);
    reader.NextPart();
  }
  if (reader.CurrentType() == PartInstallScript && !StageScript(p, reader, "oninstall", staging)) {
    return false;
  }
  if (reader.CurrentType() == PartUninstallScript &&
      !StageScript(p, reader, "onuninstall", staging)) {
    return false;
  }
  if (reader.CurrentType() == PartFiles) {
    if (!KeepsRunningBootImage(p, placement) && !UnpackFiles(p, reader, staging)) {
      return false;
    }
    reader.NextPart();
  }
  if (!PackageIsAuthentic(reader)) {
    ReportBrokenPackage(p);
    return false;
  }
  return true;
}

// The files of the replaced package (old, or null) that p does not put in their place again.
std::set<std::string> GoneFiles(const Package* old, const Staging& staging) {
  std::set<std::string> gone;
  if (old != nullptr) {
    gone = old->files;
  }
  for (const StagedEntry& e : staging.entries) {
    if (!e.temporary.empty()) {
      gone.erase(e.recorded);
    }
  }
  return gone;
}

// Puts the verified p in place without a record of the placement: a package that keeps no
// database record, or one placed in the working directory. A failure (reported) removes p's
// placed files.
bool PlaceUnrecorded(Package& p, Staging& staging) {
  if (!PlaceUnpackedFiles(p, staging)) {
    RemovePackageFiles(p);
    return false;
  }
  return true;
}

// Puts the verified p in place: its files, then its database entry in the old one's place, then
// the files of the package it replaces (old, or null) that it does not bring again go. The
// placement is recorded first, so that a failure (reported) puts back what stood before, the
// installed package's files and record whole, and a killed run is completed or undone by the
// next writer of the tree.
bool PlacePackage(Package& p, Staging& staging, bool recorded, const Package* old) {
  if (!recorded || staging.placement != Placement::kTargetRoot) {
    return PlaceUnrecorded(p, staging);
  }
  // The new database record is written beside the old one first: the record names it, and its
  // swap into the old one's place is the commit point a recovery recognises.
  for (const StagedEntry& e : staging.entries) {
    if (!e.temporary.empty()) {
      p.files.insert(e.recorded);  // the new record lists them before the first one moves
    }
  }
  DirectoryIdentity fresh;
  std::vector<std::string> made = MissingDatabaseDirectories(staging.root);
  if (!WriteReplacement(p, staging.scripts, staging.placement, fresh) ||
      !WritePlacementRecord(p, staging, GoneFiles(old, staging), fresh, made)) {
    RemoveReplacementLeftovers(p, staging.placement);
    p.files.clear();
    return false;
  }
  if (!PlaceUnpackedFiles(p, staging) || !SwapReplacementIntoPlace(p, staging.placement)) {
    if (!UndoPlacement(staging)) {
      // reported: the record stays for the next writer
    }
    p.files.clear();
    return false;
  }
  CompletePlacement(staging);
  return true;
}

// The steps after p is in place: the upgrade marker, the install script and the report.
bool FinishPackage(Package& p, Placement placement) {
  // A link planted at the marker's place is refused rather than followed out of the tree.
  if (placement == Placement::kTargetRoot && (p.flags & kFlagBootImage) != 0 &&
      !WriteDatabaseFile(TargetPath("/UPGRADED"), "")) {
    ReportWriteFailure(p, "UPGRADED");
    RemovePackage(p);
    return false;
  }
  SyncFileSystems();
  if (!p.disabled) {
    RunPackageScript(p, "oninstall");  // a failing script leaves the package installed
  }
  if (!p.bundle.name.empty()) {
    return true;
  }
  ClearStatusLine();
  ReportInfo(GetPackageDatabase(), "installed %s%s", p.disabled ? "(disabled) " : "",
             DisplayName(p).c_str());
  return true;
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
  Staging staging;
  bool recorded = !reader.IsUnrecorded();
  if (!StagePackageContents(p, reader, staging, placement) ||
      !PlacePackage(p, staging, recorded, nullptr)) {
    return false;
  }
  DiscardStaging(staging);
  return FinishPackage(p, placement);
}

Package* InstallPackageFromStream(PartReader& reader, InstallMode mode, const Selection& selection,
                                  const Dependency* bundle, const InstallOutputs& outputs) {
  DatabaseOperation operation;
  ForgetEarlierDigest(reader);
  auto p = std::make_unique<Package>();
  if (!ReadPackageHeader(*p, reader)) {
    return nullptr;
  }
  // A name that cannot be a database directory is refused before anything is staged.
  if (!reader.IsUnrecorded() && !IsSafeDirectoryName(p->name)) {
    ReportBrokenPackage(*p);
    return nullptr;
  }
  // What an installation of this package killed before its end left behind.
  RemoveStaleStaging(Placement::kTargetRoot);
  RemoveReplacementLeftovers(*p, Placement::kTargetRoot);
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
  // The installed package of the name goes only once the new one is verified and in place.
  Staging staging;
  bool recorded = !reader.IsUnrecorded();
  if (!StagePackageContents(*p, reader, staging, Placement::kTargetRoot)) {
    return nullptr;
  }
  std::unique_ptr<Package> old;
  int oldIndex = FindPackageIndex(p->name);
  if (recorded && !ReplaceInstalled(p, old)) {
    return nullptr;
  }
  if (!PlacePackage(*p, staging, recorded, old.get())) {
    if (old != nullptr) {
      // Its files and record are back: the placement was undone.
      GetPackageDatabase().Insert(std::move(old), static_cast<std::size_t>(oldIndex));
    }
    return nullptr;
  }
  DiscardStaging(staging);
  if (!FinishPackage(*p, Placement::kTargetRoot)) {
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
