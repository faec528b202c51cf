#include "packages/database_load.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <memory>
#include <string_view>
#include <vector>

#include "packages/database_files.h"
#include "packages/database_lookup.h"
#include "packages/dependency_file.h"
#include "packages/package_database.h"
#include "packages/package_file.h"
#include "packages/reporter.h"
#include "packages/roots.h"
#include "packages/staging.h"
#include "streams/package_format.h"
#include "streams/part_reader.h"

namespace {

// The entries of directory that do not begin with ".", sorted by name so that a load does not
// depend on the order in which the file system lists them. False when it cannot be opened.
bool ListEntries(const std::string& directory, std::vector<std::string>& names) {
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) {
    return false;
  }
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '\0' && entry->d_name[0] != '.') {
      names.emplace_back(entry->d_name);
    }
  }
  closedir(dir);  // a directory stream only read: a failing close loses nothing
  std::sort(names.begin(), names.end());
  return true;
}

// Reads the headers of one image file into records and adds them; a broken header adds nothing,
// since a record read halfway would stand for a package that does not exist.
void AddImagePackages(std::unique_ptr<Package> record, const std::string& image) {
  // Only regular files: opening a FIFO planted in the database would stall the load.
  struct stat status;
  if (stat(image.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return;
  }
  std::ifstream file(image, std::ios::binary);
  if (!file) {
    return;
  }
  PartReader reader(file, Hashing::kOff);
  for (int type : {PartBundleHeader, PartHeader, PartDependencies, PartProvides, PartConflicts}) {
    reader.AcceptPartType(std::uint32_t(type));
  }
  reader.NextPart();
  bool bundle = reader.CurrentType() == PartBundleHeader;
  if (!ReadPackageHeader(*record, reader)) {
    return;
  }
  std::vector<std::unique_ptr<Package>> members;
  Dependency reference{record->name, record->version, record->version, 0};
  while (bundle && reader.CurrentType() == PartHeader) {
    auto member = std::make_unique<Package>();
    if (!ReadPackageHeader(*member, reader)) {
      return;
    }
    member->bundle = reference;
    members.push_back(std::move(member));
  }
  for (auto& member : members) {
    AddPackage(std::move(member));
  }
  AddPackage(std::move(record));
}

template <typename T>
bool ParseNumber(std::string_view word, T& out) {
  const char* end = word.data() + word.size();
  auto [stop, status] = std::from_chars(word.data(), end, out);
  return !word.empty() && status == std::errc() && stop == end;
}

// "version": the version and the build time, two unsigned decimal words.
bool ReadVersionFile(const std::string& path, Package& p) {
  std::string text;
  if (ReadDatabaseFile(path, kMaxSmallFileSize, text) != FileStatus::kRead) {
    return false;
  }
  std::string_view rest = text;
  PackageVersion version;
  std::uint32_t buildTime;
  if (!ParseNumber(TakeWord(rest), version) || !ParseNumber(TakeWord(rest), buildTime)) {
    return false;
  }
  p.version = version;
  p.buildTime = buildTime;
  return true;
}

// "bundle": its first word names the bundle; a missing or empty file leaves p alone.
bool ReadBundleFile(const std::string& path, Package& p) {
  std::string text;
  FileStatus status = ReadDatabaseFile(path, kMaxSmallFileSize, text);
  if (status == FileStatus::kDamaged) {
    return false;
  }
  std::string_view word = FirstWord(text);
  if (!word.empty()) {
    p.bundle = Dependency{std::string(word), 0, 0, 0};
  }
  return true;
}

// "files": one path per line, given a leading "/" where it has none. A line holding a NUL byte
// cannot name a file and is passed over.
bool ReadFilesList(const std::string& path, Package& p) {
  std::string text;
  FileStatus status = ReadDatabaseFile(path, kMaxFilesListSize, text);
  p.noFileList = status == FileStatus::kMissing;
  if (status != FileStatus::kRead) {
    return status == FileStatus::kMissing;
  }
  std::string_view rest = text;
  while (!rest.empty()) {
    std::string_view line = FirstLine(rest);
    rest.remove_prefix(std::min(rest.size(), line.size() + 1));
    if (line.empty() || line.find('\0') != std::string_view::npos) {
      continue;
    }
    p.files.insert(line.front() == '/' ? std::string(line) : "/" + std::string(line));
  }
  return true;
}

void LoadMetadata(Package& p, const std::string& dir) {
  bool ok = ReadVersionFile(dir + "version", p);
  // Each list is read even after a failure, so that the entries before a bad line stay.
  ok = ReadDependencyFile(dir + "deps", p.dependencies, PriorityColumn::kAbsent) && ok;
  ok = ReadDependencyFile(dir + "provides", p.provides, PriorityColumn::kPresent) && ok;
  ok = ReadDependencyFile(dir + "conflicts", p.conflicts, PriorityColumn::kAbsent) && ok;
  ok = ReadBundleFile(dir + "bundle", p) && ok;
  ok = ReadFilesList(dir + "files", p) && ok;
  if (!ok) {
    p.scheduledAction = kScheduleUninstall;
  }
}

// "disabled" wins over "enabled"; only its exact word "auto" means not chosen by the user.
void LoadEnabledState(Package& p, const std::string& dir) {
  std::string text;
  p.userForced = false;
  if (ReadDatabaseFile(dir + "disabled", kMaxSmallFileSize, text) != FileStatus::kMissing) {
    p.disabled = true;
    p.userForced = FirstLine(text) != "auto";
    return;
  }
  p.disabled = false;
  // Only its existence counts, so nothing of it needs to be kept.
  p.userForced = ReadDatabaseFile(dir + "enabled", 0, text) != FileStatus::kMissing;
}

void LoadSchedule(Package& p, bool consume) {
  std::string path = SystemPath("/ram/pdb/") + p.name + "/schedule";
  std::string text;
  ReadDatabaseFile(path, kMaxSmallFileSize, text);
  std::string_view word = FirstWord(text);
  for (std::uint32_t action = kScheduleUninstall; action <= kScheduleDisable; ++action) {
    if (word != scheduledActionWords[action]) {
      continue;
    }
    p.scheduledAction = action;
    if (action != kScheduleUninstall) {
      p.userForced = true;
    }
  }
  if (consume) {
    DeleteDatabaseFile(path);
  }
}

}  // namespace

// Where ScanImages finds the package files: directory + entry in an image directory, else the
// entry's package directory + "image".
enum class ImageSource { kPackageDirectories, kImageDirectory };

// Adds the packages of the package files in directory, for each entry not beginning with ".". A
// bundle adds its members (each referring to the bundle) and then itself. An image that cannot be
// opened or whose headers are broken adds nothing. False when directory cannot be opened.
bool ScanImages(const std::string& directory, ImageSource source) {
  std::vector<std::string> names;
  if (!ListEntries(directory, names)) {
    return false;
  }
  std::string prefix = directory;
  if (prefix.empty() || prefix.back() != '/') {
    prefix += '/';
  }
  for (const std::string& name : names) {
    auto record = std::make_unique<Package>(name);
    std::string image = source == ImageSource::kImageDirectory
                            ? prefix + name
                            : PackageDirectory(*record, Placement::kTargetRoot) + "image";
    AddImagePackages(std::move(record), image);
  }
  return true;
}

// Reads p's metadata files when p's version is 0 (a failure schedules p for uninstallation), its
// enabled/disabled state, and the one-shot schedule word under the running system's /ram/pdb/,
// whose file is deleted afterwards unless consumeSchedule is false.
void LoadPackageState(Package& p, bool consumeSchedule) {
  // A name that would lead out of the database names no files of it.
  if (!IsSafeDirectoryName(p.name)) {
    return;
  }
  std::string dir = PackageDirectory(p, Placement::kTargetRoot);
  if (p.version == 0) {
    LoadMetadata(p, dir);
  }
  LoadEnabledState(p, dir);
  LoadSchedule(p, consumeSchedule);
}

bool LoadDatabase(LoadOptions options) {
  bool consumeSchedules = options.consumeSchedules;
  PackageDatabase& db = GetPackageDatabase();
  db.quiet = options.quiet;
  // A writer first completes or undoes a placement that a killed installation left, so that the
  // files and the records it loads agree.
  if (consumeSchedules) {
    RemoveStaleStaging(Placement::kTargetRoot);
  }
  std::string repository = TargetPath("/var/pdb/");
  if (!ScanImages(repository, ImageSource::kPackageDirectories)) {
    ReportWarning(db, "could not open repo");
    return false;
  }
  ScanImages(SystemPath("/rw/pckg/.images/"), ImageSource::kImageDirectory);
  std::vector<std::string> names;
  ListEntries(repository, names);
  for (const std::string& name : names) {
    Package* existing = FindPackage(name);
    if (existing != nullptr) {
      LoadPackageState(*existing, consumeSchedules);
      continue;
    }
    auto p = std::make_unique<Package>(name);
    LoadPackageState(*p, consumeSchedules);
    AddPackage(std::move(p));
  }
  return true;
}
