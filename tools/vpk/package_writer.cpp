#include "tools/vpk/package_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "streams/byte_order.h"
#include "streams/package_format.h"
#include "tools/vpk/output_file.h"
#include "tools/vpk/package_signing.h"
#include "tools/vpk/package_writer_internal.h"

namespace {

constexpr std::size_t kCopyBlock = 65536;

bool CheckName(const std::string& name, const char* what) {
  if (name.size() > kNameFieldSize) {
    std::fprintf(stderr, "vpk: cannot store the %s name '%s': longer than %zu bytes\n", what,
                 name.c_str(), kNameFieldSize);
    return false;
  }
  return true;
}

bool CheckList(const std::vector<Dependency>& list, const char* what) {
  if (list.size() > kMostDependencies) {
    std::fprintf(stderr, "vpk: cannot store %zu %s entries: at most %zu fit\n", list.size(), what,
                 kMostDependencies);
    return false;
  }
  for (const Dependency& entry : list) {
    if (!CheckName(entry.name, what)) {
      return false;
    }
  }
  return true;
}

// Writes the package parts, closes the writer and signs the result when a key is given.
bool FillPackageFile(const std::string& file, const PackageInfo& info,
                     const PackageContents& contents, const std::uint8_t* signingKey) {
  PackageContents actual = contents;
  struct stat status;
  // The temporary file may lie inside the tree; it must not be stored in itself.
  if (!actual.tree.empty() && stat(file.c_str(), &status) == 0) {
    actual.treeOptions.excludeFile = true;
    actual.treeOptions.excludeDevice = status.st_dev;
    actual.treeOptions.excludeInode = status.st_ino;
  }
  PartWriter writer(file, contents.unrecorded);
  if (!writer) {
    std::fprintf(stderr, "vpk: cannot create %s: %s\n", file.c_str(), std::strerror(errno));
    return false;
  }
  if (!WritePackageParts(writer, info, actual)) {
    return false;
  }
  if (!writer.Close()) {
    std::fprintf(stderr, "vpk: cannot write %s (disk full, or the package is 4 GiB or larger)\n",
                 file.c_str());
    return false;
  }
  return signingKey == nullptr || SignPackageFile(file, signingKey);
}

}  // namespace

bool CheckStorable(const PackageInfo& info) {
  return CheckName(info.name, "package") && CheckList(info.dependencies, "dependency") &&
         CheckList(info.provides, "provides") && CheckList(info.conflicts, "conflicts");
}

void WriteContentPart(PartWriter& writer, int type, const std::string& content) {
  writer.BeginPart(type);
  writer.write(content.data(), static_cast<std::streamsize>(content.size()));
  writer.EndPart();
}

std::string DependencyRecord(const Dependency& dependency) {
  std::string record;
  AppendPadded(record, dependency.name, kDependencyRecordSize);
  StoreLittleEndian(&record[kDependencyMinOffset], dependency.minVersion, 4);
  StoreLittleEndian(&record[kDependencyMaxOffset], dependency.maxVersion, 4);
  StoreLittleEndian(&record[kDependencyPriorityOffset],
                    static_cast<std::uint32_t>(dependency.priority), 4);
  return record;
}

void WriteHeaderParts(PartWriter& writer, int type, const PackageInfo& info, bool flagsWord) {
  std::string header;
  AppendPadded(header, info.name, flagsWord ? kHeaderWithFlagsSize : kHeaderSize);
  StoreLittleEndian(&header[kHeaderVersionOffset], info.version, 4);
  StoreLittleEndian(&header[kHeaderBuildTimeOffset], info.buildTime, 4);
  if (flagsWord) {
    StoreLittleEndian(&header[kHeaderFlagsOffset], info.flags, 4);
  }
  WriteContentPart(writer, type, header);
  if (!info.architecture.empty()) {
    WriteContentPart(writer, PartArchitecture, info.architecture);
  }
  if (!info.description.empty()) {
    WriteContentPart(writer, PartDescription, info.description);
  }
  if (!info.dependencies.empty()) {
    WriteDependencyPart(writer, PartDependencies, info.dependencies);
  }
  if (!info.provides.empty()) {
    WriteDependencyPart(writer, PartProvides, info.provides);
  }
  if (!info.conflicts.empty()) {
    WriteDependencyPart(writer, PartConflicts, info.conflicts);
  }
}

void WriteDependencyPart(PartWriter& writer, int type, const std::vector<Dependency>& list) {
  std::string content;
  AppendLittleEndian(content, list.size(), 2);
  for (const Dependency& entry : list) {
    content += DependencyRecord(entry);
  }
  WriteContentPart(writer, type, content);
}

bool AppendFileBytes(PartWriter& writer, const std::string& path, std::uint64_t offset) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    std::fprintf(stderr, "vpk: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  std::vector<char> block(kCopyBlock);
  bool ok = true;
  for (;;) {
    ssize_t n = pread(fd, block.data(), block.size(), static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      std::fprintf(stderr, "vpk: cannot read %s: %s\n", path.c_str(), std::strerror(errno));
      ok = false;
    }
    if (n <= 0) {
      break;
    }
    writer.write(block.data(), n);
    if (!writer) {
      std::fprintf(stderr, "vpk: writing the bytes of %s failed\n", path.c_str());
      ok = false;
      break;
    }
    offset += static_cast<std::uint64_t>(n);
  }
  close(fd);
  return ok;
}

bool WriteFileContentPart(PartWriter& writer, int type, const std::string& path) {
  writer.BeginPart(type);
  if (!AppendFileBytes(writer, path, 0)) {
    return false;
  }
  writer.EndPart();
  if (!writer) {
    std::fprintf(stderr, "vpk: %s: a part of 4 GiB or more cannot be stored\n", path.c_str());
    return false;
  }
  return true;
}

bool WritePackageParts(PartWriter& writer, const PackageInfo& info,
                       const PackageContents& contents) {
  if (!CheckStorable(info)) {
    return false;
  }
  WriteHeaderParts(writer, PartHeader, info, contents.flagsWord);
  struct Optional {
    int type;
    const std::string& path;
  } files[] = {
      {PartImage, contents.image},
      {PartInstallScript, contents.installScript},
      {PartUninstallScript, contents.uninstallScript},
  };
  for (const Optional& file : files) {
    if (!file.path.empty() && !WriteFileContentPart(writer, file.type, file.path)) {
      return false;
    }
  }
  return contents.tree.empty() || WriteFilesPart(writer, contents.tree, contents.treeOptions);
}

bool WritePackageFile(const std::string& path, const PackageInfo& info,
                      const PackageContents& contents, const std::uint8_t* signingKey) {
  if (!CheckStorable(info)) {
    return false;
  }
  PendingOutput output;
  if (!BeginOutput(path, &output)) {
    return false;
  }
  if (!FillPackageFile(output.temporary, info, contents, signingKey)) {
    AbandonOutput(output);
    return false;
  }
  return CommitOutput(output);
}
