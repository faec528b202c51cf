#include "packages/package_order.h"

#include <map>
#include <memory>

#include "packages/package_database.h"
#include "packages/relations.h"
#include "packages/reporter.h"

namespace {

// True when Y, another element of the list, makes X superfluous. c says how Y compares to X in
// the wanted direction.
bool Supersedes(const Package& y, const Package& x, bool downgrade, bool announce) {
  if (!BearsName(x, y.name) && !BearsName(y, x.name)) {
    return false;
  }
  int c = CompareVersionsDirected(y, x, downgrade);
  if (c > 0) {
    if (announce) {
      ReportWarning(GetPackageDatabase(), "omitting package %s: %s package is already provided",
                    DisplayName(x).c_str(), downgrade ? "older" : "newer");
    }
    return true;
  }
  // Of two equal ones a bundle is kept rather than the plain package it also brings.
  return c == 0 && !(x.noFileList && !y.noFileList);
}

// Drops the superseded packages. A dropped package no longer counts against the ones after it,
// so of two equal packages the later one stays instead of both going.
void DropSuperseded(std::vector<Package*>& list, bool downgrade, bool announce) {
  for (std::size_t i = 0; i < list.size();) {
    bool dropped = false;
    for (std::size_t j = 0; j < list.size() && !dropped; ++j) {
      dropped = j != i && Supersedes(*list[j], *list[i], downgrade, announce);
    }
    if (dropped) {
      list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
}

}  // namespace

bool WillBeEnabled(const Package& p) {
  return p.scheduledAction == kScheduleEnable ||
         (p.scheduledAction == kScheduleNone && !p.disabled);
}

void FindCandidates(const Dependency& d, std::vector<Package*>& out, DisabledPackages disabled) {
  for (const auto& p : GetPackageDatabase().Records()) {
    if (p->disabled && disabled == DisabledPackages::kSkip) {
      continue;
    }
    if (Satisfies(*p, d) || ProvidesMatch(*p, d)) {
      out.push_back(p.get());
    }
  }
}

CandidateState ClassifyCandidates(const std::vector<Package*>& list) {
  CandidateState state = kCandidateMissing;
  for (const Package* p : list) {
    // A package being uninstalled counts for nothing, whether it is enabled or disabled now. An
    // enabled package asked to be enabled again stays enabled like one with nothing scheduled.
    if (p->scheduledAction == kScheduleUninstall) {
      continue;
    }
    if (WillBeEnabled(*p)) {
      return kCandidateEnabled;
    }
    state = kCandidateDormant;
  }
  return state;
}

void OrderPackages(std::vector<Package*>& list, OrderOptions options) {
  DropSuperseded(list, options.downgrade, options.announce);
  std::vector<Package*> ordered;
  ordered.reserve(list.size());
  for (Package* taken : list) {
    std::size_t at = ordered.size();
    while (at > 0 && !DependsOn(*taken, *ordered[at - 1]) &&
           !ConflictsWith(*ordered[at - 1], *taken)) {
      --at;
    }
    ordered.insert(ordered.begin() + static_cast<std::ptrdiff_t>(at), taken);
  }
  list = std::move(ordered);
}

// The ordering works on database records, so each file is ordered through a record that stands
// in for it with the fields the ordering looks at; a bundle's members are lent for the time.
std::vector<SelectablePackage*> OrderPackageFiles(const std::vector<SelectablePackage*>& files,
                                                  OrderOptions options) {
  std::vector<std::unique_ptr<Package>> standIns;
  std::map<const Package*, SelectablePackage*> fileOf;
  std::vector<Package*> list;
  for (SelectablePackage* file : files) {
    auto standIn = std::make_unique<Package>(file->name);
    standIn->version = file->version;
    standIn->buildTime = file->buildTime;
    standIn->flags = file->flags;
    standIn->noFileList = file->noFileList;
    standIn->dependencies = file->dependencies;
    standIn->provides = file->provides;
    standIn->conflicts = file->conflicts;
    standIn->members = std::move(file->members);
    fileOf[standIn.get()] = file;
    list.push_back(standIn.get());
    standIns.push_back(std::move(standIn));
  }
  OrderPackages(list, options);
  std::vector<SelectablePackage*> ordered;
  for (const Package* standIn : list) {
    ordered.push_back(fileOf[standIn]);
  }
  for (auto& standIn : standIns) {
    fileOf[standIn.get()]->members = std::move(standIn->members);
  }
  return ordered;
}
