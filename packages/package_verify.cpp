#include "packages/package_verify.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "packages/install_package.h"
#include "packages/package_database.h"
#include "packages/package_file.h"
#include "packages/package_verify_internal.h"
#include "packages/reporter.h"

namespace {

constexpr std::size_t kBlockSize = 4096;

// Reads the content of the part the reader stands on, updating the bar after each block; false
// when the part ends early.
bool ReadThrough(PartReader& reader, const std::string& label) {
  PackageDatabase& db = GetPackageDatabase();
  char block[kBlockSize];
  for (std::uint32_t left = reader.PartLength(); left > 0;) {
    std::uint32_t step = std::min<std::uint32_t>(left, kBlockSize);
    reader.read(block, step);
    if (reader.gcount() != static_cast<std::streamsize>(step)) {
      return false;
    }
    left -= step;
    ShowProgress(db, reader, label);
  }
  return true;
}

// Checks the package whose header part the reader stands on and moves past it.
bool VerifyOnePackage(PartReader& reader, const std::string& label) {
  ForgetEarlierDigest(reader);
  int type = reader.NextPart();
  while (type == PartFiles || type == PartImage) {
    if (!ReadThrough(reader, label)) {
      return false;
    }
    type = reader.NextPart();
  }
  return PackageIsAuthentic(reader);
}

}  // namespace

int FirstPackagePart(PartReader& reader, bool& bundle) {
  int type = reader.NextPart();
  bundle = type == PartBundleHeader;
  if (bundle) {
    type = reader.NextPart();
    if (type == PartImage) {
      type = reader.NextPart();
    }
  }
  return type;
}

namespace {

// A single package, or every member of a bundle up to the end of the stream; a bundle without
// members is broken.
bool VerifyContainer(PartReader& reader, const std::string& label) {
  bool bundle = false;
  int type = FirstPackagePart(reader, bundle);
  do {
    if (type != PartHeader || !VerifyOnePackage(reader, label)) {
      return false;
    }
    type = reader.CurrentType();
  } while (bundle && type != -1);
  return true;
}

// Package files are opened and read whole; a FIFO or device of that name would block or never
// end, so only regular files (or links to them) count.
bool IsRegularFile(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

bool IsPackageFileName(const std::string& name) {
  auto endsWith = [&name](const char* suffix) {
    std::string_view s(suffix);
    return name.size() >= s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0;
  };
  return !name.empty() && name[0] != '.' && (endsWith(".vpk") || endsWith(".bpk"));
}

// The package file names of directory, in name order; empty when it cannot be opened.
std::vector<std::string> PackageFileNames(const std::string& directory) {
  std::vector<std::string> names;
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) {
    return names;
  }
  while (const dirent* entry = readdir(dir)) {
    if (IsPackageFileName(entry->d_name)) {
      names.push_back(entry->d_name);
    }
  }
  if (closedir(dir) != 0) {
    // nothing was written through it; the names are complete
  }
  std::sort(names.begin(), names.end());
  return names;
}

void WriteEmptyLine() {
  if (!GetPackageDatabase().quiet && std::fputs("\n", stdout) < 0) {
    return;  // a console that cannot be written to has nowhere to say so
  }
}

}  // namespace

bool VerifyPackageFile(const std::string& path, const std::string& name) {
  PackageDatabase& db = GetPackageDatabase();
  std::string label = "verifying " + name;
  bool good = false;
  std::ifstream file;
  if (IsRegularFile(path)) {
    file.open(path, std::ios::binary);
  }
  if (file) {
    PartReader reader(file, Hashing::kOn);
    for (int type : {PartHeader, PartBundleHeader, PartImage, PartFiles, PartSignature}) {
      reader.AcceptPartType(type);
    }
    ShowProgress(db, reader, label);
    good = VerifyContainer(reader, label);
  }
  ShowStatus(db, "");
  if (!good) {
    ReportError(db, "broken package %s", name.c_str());
    return false;
  }
  ReportInfo(db, "verified %s", name.c_str());
  return true;
}

void ScanPackageDirectory(const std::string& directory,
                          std::vector<std::unique_ptr<SelectablePackage>>& list) {
  std::vector<std::string> names = PackageFileNames(directory);
  std::string prefix = directory;
  if (!prefix.empty() && prefix.back() != '/') {
    prefix += '/';
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i == 0) {
      WriteEmptyLine();
    }
    const std::string& name = names[i];
    if (!VerifyPackageFile(prefix + name, name)) {
      continue;
    }
    auto p = std::make_unique<SelectablePackage>();
    if (!OpenPackageFile(*p, prefix + name)) {
      ReportError(GetPackageDatabase(), "broken package %s", name.c_str());
      continue;
    }
    list.push_back(std::move(p));
  }
  if (!names.empty()) {
    WriteEmptyLine();
  }
}
