#pragma once

#include <vector>

#include "packages/package.h"

// Deletes the records of a flow's package list when the flow returns, on every path.
class PackageListOwner {
 public:
  explicit PackageListOwner(std::vector<SelectablePackage*>& list) : list_(list) {}
  ~PackageListOwner() {
    for (SelectablePackage* p : list_) {
      delete p;
    }
    list_.clear();
  }
  PackageListOwner(const PackageListOwner&) = delete;
  PackageListOwner& operator=(const PackageListOwner&) = delete;

 private:
  std::vector<SelectablePackage*>& list_;
};
