#include "packages/package_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <memory>

#include "streams/byte_order.h"
#include "streams/exact_io.h"

namespace {

constexpr std::size_t kFlagsSize = kHeaderWithFlagsSize - kHeaderSize;
constexpr std::size_t kTextBlock = 4096;

// A name field is padded with NUL bytes but may fill all 16 bytes without one.
std::string NameField(const unsigned char* bytes) {
  std::size_t length = 0;
  while (length < kNameFieldSize && bytes[length] != 0) {
    ++length;
  }
  return std::string(reinterpret_cast<const char*>(bytes), length);
}

// The name becomes a directory under var/pdb (and is deleted from there on removal), so a name
// that would step out of it or name it is refused. A NUL byte cannot occur: the field ends there.
bool IsSafePackageName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// Reads the whole content of the current text part into text, as its bytes arrive: the length
// field alone is no reason to hold memory. False for a part over kLargestTextPart.
bool ReadTextPart(PartReader& reader, std::string& text) {
  text.clear();
  if (reader.PartLength() > kLargestTextPart) {
    return false;
  }
  // Never past the part's end: a short read would stop the reader for the rest of the file.
  char block[kTextBlock];
  for (std::uint32_t left = reader.PartLength(); left > 0;) {
    std::uint32_t step = std::min<std::uint32_t>(left, sizeof block);
    std::size_t got = static_cast<std::size_t>(reader.read(block, step).gcount());
    text.append(block, got);
    if (got != step) {
      break;  // cut short: the next part cannot be read and the package fails
    }
    left -= step;
  }
  return true;
}

bool ReadFixedHeader(PackageInfo& info, PartReader& reader) {
  unsigned char header[kHeaderSize];
  if (!ReadExactly(reader, header, sizeof header)) {
    return false;
  }
  info.name = NameField(header);
  if (!IsSafePackageName(info.name)) {
    return false;
  }
  info.version = LoadLittleEndian(header + kHeaderVersionOffset, 4);
  info.buildTime = LoadLittleEndian(header + kHeaderBuildTimeOffset, 4);
  // Older headers end after 32 bytes. Only what is already there is taken, so that reading from
  // a pipe never waits for bytes that belong to the next part.
  unsigned char flags[kFlagsSize];
  if (reader.readsome(reinterpret_cast<char*>(flags), sizeof flags) ==
      static_cast<std::streamsize>(sizeof flags)) {
    info.flags = LoadLittleEndian(flags, kFlagsSize);
  }
  return true;
}

// Reads the current part into list and moves on when it is of type; true when it is not.
bool ReadOptionalDependencies(PartReader& reader, int type, std::vector<Dependency>& list) {
  if (reader.CurrentType() != type) {
    return true;
  }
  if (!ReadDependencyPart(reader, list)) {
    return false;
  }
  reader.NextPart();
  return true;
}

}  // namespace

bool ReadPackageHeader(PackageInfo& info, PartReader& reader) {
  int type = reader.CurrentType();
  if (type != PartHeader && type != PartBundleHeader) {
    return false;
  }
  info.noFileList = type == PartBundleHeader;
  if (!ReadFixedHeader(info, reader)) {
    return false;
  }
  reader.NextPart();
  info.architecture = "i386";
  if (reader.CurrentType() == PartArchitecture) {
    if (!ReadTextPart(reader, info.architecture)) {
      return false;
    }
    reader.NextPart();
  }
  if (reader.CurrentType() == PartDescription) {
    if (!ReadTextPart(reader, info.description)) {
      return false;
    }
    reader.NextPart();
  }
  if (!ReadOptionalDependencies(reader, PartDependencies, info.dependencies) ||
      !ReadOptionalDependencies(reader, PartProvides, info.provides) ||
      !ReadOptionalDependencies(reader, PartConflicts, info.conflicts)) {
    return false;
  }
  if (reader.CurrentType() == PartImage) {
    info.hasImage = true;
  }
  return true;
}

bool ReadDependencyPart(PartReader& reader, std::vector<Dependency>& out) {
  unsigned char count[kDependencyCountSize];
  if (!ReadExactly(reader, count, sizeof count)) {
    return false;
  }
  for (std::uint32_t left = LoadLittleEndian(count, sizeof count); left > 0; --left) {
    unsigned char record[kDependencyRecordSize];
    if (!ReadExactly(reader, record, sizeof record)) {
      return false;
    }
    Dependency dependency;
    dependency.name = NameField(record);
    dependency.minVersion = LoadLittleEndian(record + kDependencyMinOffset, 4);
    dependency.maxVersion = LoadLittleEndian(record + kDependencyMaxOffset, 4);
    dependency.priority =
        static_cast<std::int32_t>(LoadLittleEndian(record + kDependencyPriorityOffset, 4));
    out.push_back(dependency);
  }
  return true;
}

namespace {

// A bundle's members follow its header, each a header part with its metadata parts; an image
// part may stand after the bundle header and after each member.
bool ReadBundleMembers(SelectablePackage& p, PartReader& reader) {
  if (reader.CurrentType() == PartImage) {
    reader.NextPart();
  }
  while (reader.CurrentType() == PartHeader) {
    auto member = std::make_unique<PackageInfo>();
    if (!ReadPackageHeader(*member, reader)) {
      return false;
    }
    p.members.push_back(std::move(member));
    if (reader.CurrentType() == PartImage) {
      reader.NextPart();
    }
  }
  return !p.members.empty();
}

}  // namespace

bool OpenPackageFile(SelectablePackage& p, const std::string& path) {
  p.path = path;
  p.sourcePath = path;
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return false;
  }
  PartReader reader(file, Hashing::kOn);
  p.fileSize = static_cast<std::uint32_t>(reader.TotalSize());
  struct stat status;
  // The whole container size is compared: a length field near 4 GiB must not wrap into a match.
  if (stat(path.c_str(), &status) == 0 &&
      static_cast<std::uint64_t>(status.st_size) != reader.TotalSize()) {
    return false;
  }
  for (int type : {PartBundleHeader, PartHeader, PartArchitecture, PartDescription,
                   PartDependencies, PartProvides, PartConflicts, PartImage}) {
    reader.AcceptPartType(type);
  }
  reader.NextPart();
  if (!ReadPackageHeader(p, reader)) {
    return false;
  }
  return !p.noFileList || ReadBundleMembers(p, reader);
}
