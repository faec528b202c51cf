#include "packages/package_database.h"

#include <algorithm>

#include "packages/known_package_digests.h"

namespace {

// The slot of the record p in records, or their end.
auto SlotOf(std::vector<std::unique_ptr<Package>>& records, const Package* p) {
  return std::find_if(records.begin(), records.end(),
                      [p](const std::unique_ptr<Package>& record) { return record.get() == p; });
}

}  // namespace

PackageDatabase::PackageDatabase() : knownDigestCheck(IsKnownPackageDigest) {}

bool PackageDatabase::Contains(const Package* p) const {
  return std::any_of(packages.begin(), packages.end(),
                     [p](const std::unique_ptr<Package>& record) { return record.get() == p; });
}

std::unique_ptr<Package> PackageDatabase::Take(const Package* p) {
  auto slot = SlotOf(packages, p);
  if (slot == packages.end()) {
    return nullptr;
  }
  std::unique_ptr<Package> record = std::move(*slot);
  packages.erase(slot);
  return record;
}

Package& PackageDatabase::Insert(std::unique_ptr<Package> p, std::size_t position) {
  auto slot = packages.begin() + static_cast<std::ptrdiff_t>(std::min(position, packages.size()));
  return **packages.insert(slot, std::move(p));
}

void PackageDatabase::RemoveIf(const std::function<bool(const Package&)>& doomed) {
  auto kept = std::stable_partition(packages.begin(), packages.end(),
                                    [&doomed](const auto& p) { return !doomed(*p); });
  std::move(kept, packages.end(), std::back_inserter(retired));
  packages.erase(kept, packages.end());
  if (operations == 0) {
    Sweep();
  }
}

void PackageDatabase::Retire(const Package* p) {
  std::unique_ptr<Package> record = Take(p);
  if (record != nullptr) {
    retired.push_back(std::move(record));
  }
  if (operations == 0) {
    Sweep();
  }
}

void PackageDatabase::Sweep() {
  retired.clear();
}

void PackageDatabase::Clear() {
  packages.clear();
}

void PackageDatabase::Reset() {
  packages.clear();
  retired.clear();
  operations = 0;
  statusLine.clear();
  log.clear();
  quiet = false;
  postLogReserved = false;
  copyWriteError = 0;
  knownDigestCheck = IsKnownPackageDigest;
}

PackageDatabase& GetPackageDatabase() {
  // Never destroyed: records may still be reached from exit paths after static destruction began.
  static PackageDatabase* database = new PackageDatabase;
  return *database;
}

DatabaseOperation::DatabaseOperation() {
  ++GetPackageDatabase().operations;
}

DatabaseOperation::~DatabaseOperation() {
  PackageDatabase& db = GetPackageDatabase();
  if (--db.operations == 0) {
    db.Sweep();
  }
}
