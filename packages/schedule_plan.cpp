#include "packages/schedule_plan.h"

#include <algorithm>
#include <cstddef>
#include <deque>
#include <string_view>
#include <unordered_map>

#include "packages/database_files.h"
#include "packages/database_lookup.h"
#include "packages/package_database.h"
#include "packages/package_order.h"
#include "packages/relations.h"
#include "packages/reporter.h"
#include "packages/schedule_plan_internal.h"

namespace {

std::span<const std::unique_ptr<Package>> Packages() {
  return GetPackageDatabase().Records();
}

// The candidate lists of every dependency of every package, and for each package the packages
// that list it as a candidate. Which packages can meet a dependency does not depend on the
// actions, so one plan finds them once.
struct NeedGraph {
  std::unordered_map<const Package*, std::size_t> position;
  std::vector<std::vector<std::vector<Package*>>> candidates;  // [package][dependency]
  std::vector<std::vector<std::size_t>> dependents;            // [package] -> packages
};

// For every name, the positions of the packages that bear it or provide it, in database order:
// only they can meet a dependency of that name.
using NameIndex = std::unordered_map<std::string_view, std::vector<std::size_t>>;

NameIndex IndexNames() {
  auto packages = Packages();
  NameIndex bearers;
  for (std::size_t i = 0; i < packages.size(); ++i) {
    bearers[packages[i]->name].push_back(i);
    for (const Dependency& e : packages[i]->provides) {
      std::vector<std::size_t>& list = bearers[e.name];
      if (list.empty() || list.back() != i) {
        list.push_back(i);
      }
    }
  }
  return bearers;
}

// FindCandidates with disabled packages, through the index.
void IndexedCandidates(const NameIndex& bearers, const Dependency& d, std::vector<Package*>& out) {
  auto found = bearers.find(d.name);
  if (found == bearers.end()) {
    return;
  }
  for (std::size_t j : found->second) {
    Package& p = *Packages()[j];
    if (Satisfies(p, d) || ProvidesMatch(p, d)) {
      out.push_back(&p);
    }
  }
}

NeedGraph BuildNeedGraph() {
  auto packages = Packages();
  NeedGraph graph;
  for (std::size_t i = 0; i < packages.size(); ++i) {
    graph.position.emplace(packages[i].get(), i);
  }
  graph.candidates.resize(packages.size());
  graph.dependents.resize(packages.size());
  NameIndex bearers = IndexNames();
  for (std::size_t i = 0; i < packages.size(); ++i) {
    for (const Dependency& d : packages[i]->dependencies) {
      std::vector<Package*>& list = graph.candidates[i].emplace_back();
      IndexedCandidates(bearers, d, list);
      for (const Package* candidate : list) {
        std::vector<std::size_t>& users = graph.dependents[graph.position[candidate]];
        if (users.empty() || users.back() != i) {
          users.push_back(i);
        }
      }
    }
  }
  return graph;
}

// The packages whose dependencies are being ensured, innermost last. A provider found among them
// is not ensured again: its dependencies are already in hand further out, and ensuring it anew
// would go round a cycle (a bundle naming itself, two bundles naming each other) for ever.
using EnsureStack = std::vector<const Package*>;

// The plan's candidate lists, or null when a single step runs on its own and looks them up.
struct EnsureContext {
  Verbosity verbosity;
  const NeedGraph* graph;
  EnsureStack active;
};

void Ensure(Package& p, EnsureContext& context);

void Provide(Package& provider, const Package& dependent, EnsureContext& context) {
  if (provider.scheduledAction == kScheduleUninstall ||
      provider.scheduledAction == kScheduleDisable) {
    if (context.verbosity != Verbosity::kSilent) {
      ReportWarning(GetPackageDatabase(), "can not %s %s: %s depends on it",
                    scheduledActionWords[provider.scheduledAction], DisplayName(provider).c_str(),
                    dependent.name.c_str());
    }
    // Cancelling alone would leave a disabled provider disabled, and the dependent would then be
    // disabled for want of it although the warning promised to keep the provider for it.
    provider.scheduledAction = provider.disabled ? kScheduleEnable : kScheduleNone;
  } else if (provider.disabled) {
    provider.scheduledAction = kScheduleEnable;
  } else {
    return;
  }
  EnsureStack& active = context.active;
  if (std::find(active.begin(), active.end(), &provider) == active.end()) {
    Ensure(provider, context);
  }
}

std::vector<Package*> CandidatesOf(const Package& p, std::size_t k, const EnsureContext& context) {
  if (context.graph != nullptr) {
    return context.graph->candidates[context.graph->position.at(&p)][k];
  }
  std::vector<Package*> candidates;
  FindCandidates(p.dependencies[k], candidates, DisabledPackages::kInclude);
  return candidates;
}

void Ensure(Package& p, EnsureContext& context) {
  context.active.push_back(&p);
  if (!p.bundle.name.empty()) {
    if (Package* bundle = FindPackage(p.bundle.name)) {
      Provide(*bundle, p, context);
    }
  }
  for (std::size_t k = 0; k < p.dependencies.size(); ++k) {
    std::vector<Package*> candidates = CandidatesOf(p, k, context);
    if (ClassifyCandidates(candidates) == kCandidateEnabled) {
      continue;
    }
    // Left for DropUnsatisfied, which uninstalls p.
    if (candidates.empty()) {
      break;
    }
    OrderPackages(candidates, {.downgrade = false, .announce = false});
    if (!candidates.empty()) {
      Provide(*candidates.back(), p, context);
    }
  }
  context.active.pop_back();
}

// One examination of a package by DropUnsatisfied; true when its action changed.
bool DropIfUnsatisfied(Package& p, const std::vector<std::vector<Package*>>& needs) {
  bool changed = false;
  for (const std::vector<Package*>& candidates : needs) {
    CandidateState state = ClassifyCandidates(candidates);
    if (state == kCandidateMissing && p.scheduledAction != kScheduleUninstall) {
      p.scheduledAction = kScheduleUninstall;
      return true;
    }
    bool settled = p.scheduledAction == kScheduleUninstall ||
                   p.scheduledAction == kScheduleDisable ||
                   (p.disabled && p.scheduledAction == kScheduleNone);
    if (state == kCandidateDormant && !settled) {
      p.scheduledAction = kScheduleDisable;
      changed = true;
    }
  }
  return changed;
}

// DropUnsatisfied over the plan's candidate lists. Actions only move towards uninstall and
// disable, and what a package's dependencies are met by only gets worse as they do; so the order
// of the examinations does not change where they end, and only the dependents of a changed
// package need to be looked at again.
void DropWith(const NeedGraph& graph) {
  auto packages = Packages();
  std::deque<std::size_t> pending;
  std::vector<bool> queued(packages.size(), true);
  for (std::size_t i = 0; i < packages.size(); ++i) {
    pending.push_back(i);
  }
  while (!pending.empty()) {
    std::size_t i = pending.front();
    pending.pop_front();
    queued[i] = false;
    if (!DropIfUnsatisfied(*packages[i], graph.candidates[i])) {
      continue;
    }
    for (std::size_t user : graph.dependents[i]) {
      if (!queued[user]) {
        queued[user] = true;
        pending.push_back(user);
      }
    }
  }
}

// The names a package may conflict through. ConflictsWith(a, b) can hold only when a name that a
// refers to (its own, its conflicts' and provides' names, those of its members, deeply) is one
// that b bears (its own, a provided one, a member's).
void AddReferredNames(const PackageInfo& a, std::vector<std::string_view>& names) {
  names.push_back(a.name);
  for (const auto* list : {&a.conflicts, &a.provides}) {
    for (const Dependency& d : *list) {
      names.push_back(d.name);
    }
  }
  for (const auto& m : a.members) {
    AddReferredNames(*m, names);
  }
}

void AddBorneNames(const PackageInfo& b, std::vector<std::string_view>& names) {
  names.push_back(b.name);
  for (const Dependency& d : b.provides) {
    names.push_back(d.name);
  }
  for (const auto& m : b.members) {
    names.push_back(m->name);
  }
}

// For every name, the positions of the packages that refer to it and of those that bear it.
struct ConflictIndex {
  std::unordered_map<std::string_view, std::vector<std::size_t>> referring;
  std::unordered_map<std::string_view, std::vector<std::size_t>> bearing;
};

void AddPositions(std::unordered_map<std::string_view, std::vector<std::size_t>>& index,
                  std::vector<std::string_view>& names, std::size_t position) {
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  for (std::string_view name : names) {
    index[name].push_back(position);
  }
  names.clear();
}

ConflictIndex IndexConflictNames() {
  auto packages = Packages();
  ConflictIndex index;
  std::vector<std::string_view> names;
  for (std::size_t i = 0; i < packages.size(); ++i) {
    AddReferredNames(*packages[i], names);
    AddPositions(index.referring, names, i);
    AddBorneNames(*packages[i], names);
    AddPositions(index.bearing, names, i);
  }
  return index;
}

// The positions, in database order, of the packages that p may conflict with either way: all
// others pass through ResolvePair without effect.
std::vector<std::size_t> ConflictCandidates(const ConflictIndex& index, const PackageInfo& p) {
  std::vector<std::size_t> candidates;
  std::vector<std::string_view> names;
  auto gather = [&](const auto& from) {
    for (std::string_view name : names) {
      if (auto found = from.find(name); found != from.end()) {
        candidates.insert(candidates.end(), found->second.begin(), found->second.end());
      }
    }
    names.clear();
  };
  AddReferredNames(p, names);
  gather(index.bearing);
  AddBorneNames(p, names);
  gather(index.referring);
  std::sort(candidates.begin(), candidates.end());
  candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
  return candidates;
}

// ResolveConflicts for p and one other package q; false when p's enable was cancelled.
bool ResolvePair(Package& p, Package& q, Verbosity verbosity) {
  if (&q == &p || !WillBeEnabled(q)) {
    return true;
  }
  if (ConflictsWith(p, q)) {
    // Two packages being enabled are settled from the side that declared the conflict.
    if (q.scheduledAction == kScheduleNone) {
      q.scheduledAction = kScheduleDisable;
    }
  } else if (p.scheduledAction == kScheduleEnable && ConflictsWith(q, p)) {
    if (q.scheduledAction == kScheduleNone) {
      q.scheduledAction = kScheduleDisable;
    } else {
      if (verbosity != Verbosity::kSilent) {
        ReportWarning(GetPackageDatabase(), "can not enable %s: %s conflicts with it",
                      p.name.c_str(), DisplayName(q).c_str());
      }
      p.scheduledAction = kScheduleNone;
      return false;
    }
  }
  return true;
}

// Walks the members of bundle b and tells what becomes of the bundle record.
void SettleBundle(Package& b) {
  bool everyMemberGoes = true;
  for (const auto& m : Packages()) {
    if (!NameEquals(m->bundle.name, b.name)) {
      continue;
    }
    if (WillBeEnabled(*m)) {
      return;
    }
    if (m->scheduledAction != kScheduleUninstall) {
      everyMemberGoes = false;
    }
  }
  if (everyMemberGoes) {
    b.scheduledAction = kScheduleUninstall;
  } else if (!b.disabled) {
    b.scheduledAction = kScheduleDisable;
  } else if (b.scheduledAction == kScheduleEnable) {
    b.scheduledAction = kScheduleNone;
  }
}

// Puts the elements of ordered one by one in front of out, which then holds them reversed.
void HandOver(std::vector<Package*>& ordered, std::vector<Package*>& out) {
  OrderPackages(ordered, {.downgrade = false, .announce = false});
  out.insert(out.begin(), ordered.rbegin(), ordered.rend());
}

}  // namespace

void PlanSchedule(std::vector<Package*>& removals, std::vector<Package*>& enables,
                  Verbosity verbosity) {
  auto packages = Packages();
  PropagateBundleActions();
  NeedGraph graph = BuildNeedGraph();
  for (std::size_t i = 0; i < packages.size(); ++i) {
    EnsureContext context{verbosity, &graph, {}};
    if (WillBeEnabled(*packages[i])) {
      Ensure(*packages[i], context);
    }
  }
  // Every other package is as ResolveConflicts would see it, in the same order; the index only
  // leaves out those that could not conflict either way.
  ConflictIndex index = IndexConflictNames();
  for (std::size_t i = 0; i < packages.size(); ++i) {
    Package& p = *packages[i];
    if (!WillBeEnabled(p)) {
      continue;
    }
    for (std::size_t q : ConflictCandidates(index, p)) {
      if (!ResolvePair(p, *packages[q], verbosity)) {
        break;
      }
    }
  }
  DropWith(graph);
  SettleBundles();
  if (!packages.empty() && !AnyEnabledAfterPlan()) {
    for (const auto& p : packages) {
      p->scheduledAction = kScheduleNone;
    }
    if (verbosity != Verbosity::kSilent) {
      ReportError(GetPackageDatabase(), "can not uninstall or disable all packages");
    }
    return;
  }
  std::vector<Package*> leaving;
  std::vector<Package*> coming;
  for (const auto& p : packages) {
    if (p->scheduledAction == kScheduleUninstall || p->scheduledAction == kScheduleDisable) {
      leaving.push_back(p.get());
    } else if (p->scheduledAction == kScheduleEnable) {
      coming.push_back(p.get());
    }
  }
  HandOver(leaving, removals);
  HandOver(coming, enables);
}

void PropagateBundleActions() {
  for (const auto& m : Packages()) {
    if (m->bundle.name.empty()) {
      continue;
    }
    const Package* b = FindPackage(m->bundle.name);
    if (b == nullptr) {
      continue;
    }
    if (b->scheduledAction == kScheduleDisable && m->scheduledAction != kScheduleUninstall) {
      m->scheduledAction = kScheduleDisable;
    } else if (b->scheduledAction == kScheduleUninstall) {
      m->scheduledAction = kScheduleUninstall;
    } else if (b->scheduledAction == kScheduleEnable && m->disabled) {
      m->scheduledAction = kScheduleEnable;
    }
  }
}

void EnsureDependencies(Package& p, Verbosity verbosity) {
  EnsureContext context{verbosity, nullptr, {}};
  Ensure(p, context);
}

void ResolveConflicts(Package& p, Verbosity verbosity) {
  for (const auto& q : Packages()) {
    if (!ResolvePair(p, *q, verbosity)) {
      return;
    }
  }
}

void SettleBundles() {
  for (const auto& b : Packages()) {
    if (b->noFileList && b->scheduledAction != kScheduleUninstall) {
      SettleBundle(*b);
    }
  }
}

bool AnyEnabledAfterPlan() {
  const auto& packages = Packages();
  return std::any_of(packages.begin(), packages.end(),
                     [](const auto& p) { return WillBeEnabled(*p); });
}
