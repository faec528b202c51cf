#include "packages/package_file.h"

#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <memory>

namespace {

constexpr std::size_t kHeaderSize = 32;
constexpr std::size_t kFlagsSize = 4;
constexpr std::size_t kNameFieldSize = 16;
constexpr std::size_t kDependencyRecordSize = 32;

std::uint32_t Little32(const unsigned char* bytes) {
  return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
         std::uint32_t{bytes[3]} << 24;
}

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

bool ReadExactly(std::istream& in, unsigned char* out, std::size_t size) {
  in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(size));
  return static_cast<std::size_t>(in.gcount()) == size;
}

// The whole content of the current part.
std::string PartText(PartReader& reader) {
  std::string text(reader.PartLength(), '\0');
  reader.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(reader.gcount()));
  return text;
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
  info.version = Little32(header + 16);
  info.buildTime = Little32(header + 20);
  // Older headers end after 32 bytes. Only what is already there is taken, so that reading from
  // a pipe never waits for bytes that belong to the next part.
  unsigned char flags[kFlagsSize];
  if (reader.readsome(reinterpret_cast<char*>(flags), sizeof flags) ==
      static_cast<std::streamsize>(sizeof flags)) {
    info.flags = Little32(flags);
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
    info.architecture = PartText(reader);
    reader.NextPart();
  }
  if (reader.CurrentType() == PartDescription) {
    info.description = PartText(reader);
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
  unsigned char count[2];
  if (!ReadExactly(reader, count, sizeof count)) {
    return false;
  }
  for (unsigned left = count[0] | count[1] << 8; left > 0; --left) {
    unsigned char record[kDependencyRecordSize];
    if (!ReadExactly(reader, record, sizeof record)) {
      return false;
    }
    Dependency dependency;
    dependency.name = NameField(record);
    dependency.minVersion = Little32(record + 16);
    dependency.maxVersion = Little32(record + 24);
    dependency.priority = static_cast<std::int32_t>(Little32(record + 28));
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
  PartReader reader(file, true);
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
