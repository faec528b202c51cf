// Package and bundle files as the installer first reads them: OpenPackageFile, and with it
// ReadPackageHeader and ReadDependencyPart. Whatever a file holds, an accepted header must carry a
// name that can be a database directory, texts within their limit, and a bundle its members.
//
// Input: the package file.

#include <cstdint>
#include <string>
#include <string_view>

#include "packages/database_files.h"
#include "packages/package_file.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

void CheckHeader(const PackageInfo& info) {
  Require(IsSafeDirectoryName(info.name), "an accepted name can name a database directory");
  Require(info.description.size() <= kLargestTextPart, "the description stays within its limit");
  Require(info.architecture.size() <= kLargestTextPart, "the architecture stays within its limit");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ScratchDirectory scratch("package");
  std::string path = scratch.Path() + "/input.vpk";
  WriteBytes(path, std::string_view(reinterpret_cast<const char*>(data), size));
  SelectablePackage p;
  if (!OpenPackageFile(p, path)) {
    return 0;
  }
  Require(p.fileSize == size, "an accepted file is as long as its container says");
  CheckHeader(p);
  for (const auto& member : p.members) {
    CheckHeader(*member);
  }
  return 0;
}
