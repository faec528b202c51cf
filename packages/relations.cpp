#include "packages/relations.h"

namespace {

// The first entry of list that bears name, or null.
const Dependency* FindEntry(const std::vector<Dependency>& list, std::string_view name) {
  for (const Dependency& entry : list) {
    if (NameEquals(entry.name, name)) {
      return &entry;
    }
  }
  return nullptr;
}

// The first member of p named name, or null.
const PackageInfo* FindMember(const PackageInfo& p, std::string_view name) {
  for (const auto& member : p.members) {
    if (NameEquals(member->name, name)) {
      return member.get();
    }
  }
  return nullptr;
}

int CompareSameName(const PackageInfo& a, const PackageInfo& b) {
  if (a.version != b.version) {
    return a.version > b.version ? 1 : -1;
  }
  if (a.buildTime != b.buildTime) {
    return a.buildTime > b.buildTime ? 1 : -1;
  }
  return 0;
}

// The part of ConflictsWith decided by the priorities of provides entries: b's entry for a's name
// first, then a's entries for b's name or for a name b also provides. Returns -1 when they do not
// decide, otherwise 0 or 1.
int ProvidesVerdict(const PackageInfo& a, const PackageInfo& b) {
  if (const Dependency* e = FindEntry(b.provides, a.name)) {
    return e->priority < 0;
  }
  for (const Dependency& e : a.provides) {
    if (NameEquals(e.name, b.name)) {
      return e.priority >= 0;
    }
    if (const Dependency* f = FindEntry(b.provides, e.name)) {
      return e.priority > f->priority;
    }
  }
  return -1;
}

}  // namespace

bool NameEquals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && a == b;
}

bool Satisfies(const PackageInfo& p, const Dependency& d) {
  if (!NameEquals(p.name, d.name)) {
    return false;
  }
  if (p.version < d.minVersion) {
    return false;
  }
  return d.maxVersion == 0 || p.version <= d.maxVersion;
}

// True when a and b name the same package and their version ranges have a version in common.
bool RangesOverlap(const Dependency& a, const Dependency& b) {
  if (!NameEquals(a.name, b.name)) {
    return false;
  }
  if (a.minVersion != 0 && b.maxVersion != 0 && a.minVersion > b.maxVersion) {
    return false;
  }
  if (a.maxVersion != 0 && b.minVersion != 0 && a.maxVersion < b.minVersion) {
    return false;
  }
  return true;
}

bool ProvidesMatch(const PackageInfo& p, const Dependency& d) {
  for (const Dependency& e : p.provides) {
    if (RangesOverlap(e, d)) {
      return true;
    }
  }
  return false;
}

bool DependsOn(const PackageInfo& a, const PackageInfo& b) {
  for (const Dependency& d : a.dependencies) {
    if (Satisfies(b, d) || ProvidesMatch(b, d)) {
      return true;
    }
  }
  for (const auto& m : b.members) {
    if (DependsOn(a, *m)) {
      return true;
    }
  }
  for (const auto& m : a.members) {
    if (DependsOn(*m, b)) {
      return true;
    }
  }
  return false;
}

bool ConflictsWith(const PackageInfo& a, const PackageInfo& b) {
  for (const Dependency& c : a.conflicts) {
    if (Satisfies(b, c)) {
      return true;
    }
  }
  if (int verdict = ProvidesVerdict(a, b); verdict >= 0) {
    return verdict == 1;
  }
  for (const Dependency& c : a.conflicts) {
    if (ProvidesMatch(b, c)) {
      return true;
    }
  }
  if (FindMember(b, a.name)) {
    return true;
  }
  for (const auto& m : a.members) {
    if (ConflictsWith(*m, b)) {
      return true;
    }
  }
  return false;
}

bool BearsName(const PackageInfo& p, std::string_view name) {
  return NameEquals(p.name, name) || FindMember(p, name) != nullptr;
}

int CompareVersions(const PackageInfo& a, const PackageInfo& b) {
  if (NameEquals(a.name, b.name)) {
    return CompareSameName(a, b);
  }
  if (const PackageInfo* m = FindMember(a, b.name)) {
    return CompareSameName(*m, b);
  }
  // The member of b stands in for b, but the answer still says how a compares to b.
  if (const PackageInfo* m = FindMember(b, a.name)) {
    return -CompareSameName(*m, a);
  }
  return 0;
}

int CompareVersionsDirected(const PackageInfo& a, const PackageInfo& b, bool reverse) {
  int result = CompareVersions(a, b);
  return reverse ? -result : result;
}
