#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "packages/version.h"
#include "streams/package_format.h"

// The header of one package as a package file describes it. Records are created on the heap and
// destroyed through this base.
class PackageInfo {
 public:
  PackageInfo() = default;
  explicit PackageInfo(std::string packageName) : name(std::move(packageName)) {}
  virtual ~PackageInfo() = default;
  PackageInfo(const PackageInfo&) = delete;
  PackageInfo& operator=(const PackageInfo&) = delete;

  std::string name;
  PackageVersion version = 0;
  std::uint32_t buildTime = 0;  // seconds since 1970-01-01 UTC
  std::uint32_t flags = 0;
  std::string architecture;
  std::string description;
  bool hasImage = false;  // an image part follows the header parts
  std::vector<Dependency> dependencies;
  std::vector<Dependency> provides;
  std::vector<Dependency> conflicts;
  bool noFileList = false;  // read from a bundle header: owns no files of its own
  // The member packages of a bundle file, in file order. The bundle record owns them, so a
  // member never outlives or leaks past its bundle.
  std::vector<std::unique_ptr<PackageInfo>> members;
};

// Scheduled action of an installed package.
enum : std::uint32_t {
  kScheduleNone = 0,
  kScheduleUninstall = 1,
  kScheduleEnable = 2,
  kScheduleDisable = 3,
};

// One installed or candidate package. A new record has only its name; numbers are 0, flags clear,
// texts and lists empty.
class Package : public PackageInfo {
 public:
  Package() = default;
  explicit Package(std::string packageName) : PackageInfo(std::move(packageName)) {}

  // Installed paths, each with a leading "/" and without the target root; ascending byte order.
  std::set<std::string> files;
  // The bundle this package belongs to: name (empty = none) and the bundle's version in
  // minVersion (0 = not given).
  Dependency bundle;
  bool disabled = false;    // installed but switched off; files live under "x/<name>"
  bool userForced = false;  // the enabled or disabled state was chosen by the user
  std::uint32_t scheduledAction = kScheduleNone;
};

// One package file found on a medium or in a directory.
class SelectablePackage : public PackageInfo {
 public:
  std::string path;            // the file to read the package from
  std::string sourcePath;      // where the file was found
  std::uint32_t fileSize = 0;  // container size from the container header
  bool selected = false;       // marked for installation
};

// "name-version", e.g. "system-2.9.5".
std::string DisplayName(const PackageInfo& p);

// For a bundle member the bundle's name, with "-" and the bundle's version when that is given;
// otherwise DisplayName.
std::string MemberDisplayName(const Package& p);

// A dependency that only p's own name and exact version satisfy.
Dependency ExactDependency(const PackageInfo& p);
