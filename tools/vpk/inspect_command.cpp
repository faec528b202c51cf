#include "tools/vpk/inspect_command.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#include "packages/known_package_digests.h"
#include "packages/package.h"
#include "streams/byte_order.h"
#include "streams/part_reader.h"
#include "tools/vpk/archive_listing.h"
#include "tools/vpk/command_line.h"
#include "tools/vpk/package_writer.h"
#include "tools/vpk/part_list.h"

namespace {

const char inspectUsage[] =
    "usage: vpk inspect FILE\n"
    "\n"
    "Shows what the package or bundle file FILE holds: its container header, every part with\n"
    "its offset, type and length, and for each package the header fields, architecture,\n"
    "description, dependencies, provides and conflicts, image and script sizes, the file list\n"
    "with modes, owners, sizes and times, the digest, and whether a signature is present and\n"
    "verifies against the package key built into vpk. Exit status 1 when FILE cannot be read\n"
    "or a part is damaged.\n";

// Text parts longer than this are shown cut, with "...".
constexpr std::uint32_t kTextPreview = 4096;

const struct {
  int type;
  const char* name;
} partNames[] = {
    {PartHeader, "header"},
    {PartDescription, "description"},
    {PartDependencies, "dependencies"},
    {PartFiles, "files"},
    {PartInstallScript, "install script"},
    {PartUninstallScript, "uninstall script"},
    {PartSignature, "signature"},
    {PartArchitecture, "architecture"},
    {PartConflicts, "conflicts"},
    {PartBundleHeader, "bundle header"},
    {PartProvides, "provides"},
    {PartBundleMembers, "bundle members"},
    {PartImage, "image"},
};

const char* PartName(int type) {
  for (const auto& part : partNames) {
    if (part.type == type) {
      return part.name;
    }
  }
  return "unknown, skipped by readers";
}

// Where the walk through the parts stands.
struct Walk {
  PartReader& reader;
  std::FILE* out;
  enum { kNone, kBundle, kPackage } section = kNone;
  bool signedPackage = false;
  bool sawArchitecture = false;
  bool damaged = false;
};

// Reads up to size bytes of the current part, never past its end (a short read would stop the
// reader for the rest of the file).
std::string ReadContent(PartReader& reader, std::uint32_t size) {
  std::string content(std::min(size, reader.PartLength()), '\0');
  reader.read(content.data(), static_cast<std::streamsize>(content.size()));
  content.resize(static_cast<std::size_t>(reader.gcount()));
  return content;
}

// True for a version that the version text reads back as itself. The strict bounds of "dhcp<3.0"
// are stored one step of the packed order away from 3.0, which has no text of its own.
bool HasOwnText(PackageVersion version) {
  PackageVersion parsed = 0;
  return ParseVersion(VersionText(version), parsed) && parsed == version;
}

enum class Bound { kLower, kUpper };

// A bound as the command line writes it: ">= 2.9", or "> 2.9" for a strict one.
std::string BoundText(PackageVersion bound, Bound side) {
  bool lower = side == Bound::kLower;
  if (!HasOwnText(bound) && HasOwnText(lower ? bound - 1 : bound + 1)) {
    return std::string(lower ? "> " : "< ") + VersionText(lower ? bound - 1 : bound + 1);
  }
  return std::string(lower ? ">= " : "<= ") + VersionText(bound);
}

std::string RangeText(const Dependency& entry) {
  std::string text = Printable(entry.name);
  if (entry.minVersion != 0 && entry.minVersion == entry.maxVersion) {
    return text + " = " + VersionText(entry.minVersion);
  }
  if (entry.minVersion != 0) {
    text += " " + BoundText(entry.minVersion, Bound::kLower) + (entry.maxVersion != 0 ? "," : "");
  }
  if (entry.maxVersion != 0) {
    text += " " + BoundText(entry.maxVersion, Bound::kUpper);
  }
  return text;
}

void PrintLayout(const std::string& path, const ContainerLayout& layout, std::FILE* out) {
  std::fprintf(out, "file %s: %llu bytes, %s container (magic 0x%08x)\n", Printable(path).c_str(),
               static_cast<unsigned long long>(layout.fileSize),
               layout.magic == kUnrecordedMagic ? "unrecorded" : "recorded", layout.magic);
  if (layout.declaredSize != layout.fileSize) {
    std::fprintf(out, "  container header gives %llu bytes: the file is cut short or padded\n",
                 static_cast<unsigned long long>(layout.declaredSize));
  }
  std::fprintf(out, "parts:\n");
  for (const PartSpan& part : layout.parts) {
    std::fprintf(out, "  offset %10llu  type %5d %-18s %10u bytes\n",
                 static_cast<unsigned long long>(part.headerOffset), part.type, PartName(part.type),
                 part.length);
  }
  if (layout.cutShort) {
    std::fprintf(out, "  the file ends inside the next part\n");
  }
}

void ShowHeader(Walk& walk, int type) {
  std::string header = ReadContent(walk.reader, kHeaderWithFlagsSize);
  std::fprintf(walk.out, "%s\n", type == PartBundleHeader ? "bundle" : "package");
  if (header.size() < static_cast<std::size_t>(kHeaderSize)) {
    std::fprintf(walk.out, "  header part of %u bytes is too short\n", walk.reader.PartLength());
    walk.damaged = true;
    return;
  }
  std::fprintf(walk.out, "  name              %s\n",
               Printable(header.substr(0, kNameFieldSize).c_str()).c_str());
  std::fprintf(walk.out, "  version           %s\n",
               VersionText(LoadLittleEndian(&header[kHeaderVersionOffset], 4)));
  std::uint32_t buildTime = LoadLittleEndian(&header[kHeaderBuildTimeOffset], 4);
  std::fprintf(walk.out, "  build time        %u (%s UTC)\n", buildTime,
               TimeText(buildTime).c_str());
  if (header.size() < static_cast<std::size_t>(kHeaderWithFlagsSize)) {
    std::fprintf(walk.out, "  flags             none (32-byte header)\n");
    return;
  }
  std::uint32_t flags = LoadLittleEndian(&header[kHeaderFlagsOffset], 4);
  std::fprintf(walk.out, "  flags             0x%08x%s%s\n", flags,
               (flags & kFlagBootImage) != 0 ? " boot-image" : "",
               (flags & kFlagNoMetadataFiles) != 0 ? " no-metadata-files" : "");
}

void ShowText(Walk& walk, const char* label) {
  std::string text = ReadContent(walk.reader, kTextPreview);
  bool cut = walk.reader.PartLength() > text.size();
  std::fprintf(walk.out, "  %-17s %s%s\n", label, Printable(text).c_str(), cut ? "..." : "");
}

void ShowDependencies(Walk& walk, int type) {
  std::string count = ReadContent(walk.reader, kDependencyCountSize);
  std::uint32_t listed = count.size() == kDependencyCountSize
                             ? LoadLittleEndian(count.data(), kDependencyCountSize)
                             : 0;
  std::uint32_t fitting =
      walk.reader.PartLength() < kDependencyCountSize
          ? 0
          : (walk.reader.PartLength() - kDependencyCountSize) / kDependencyRecordSize;
  const char* label = type == PartDependencies ? "depends"
                      : type == PartProvides   ? "provides"
                      : type == PartConflicts  ? "conflicts"
                                               : "disabled member";
  for (std::uint32_t i = 0; i < std::min(listed, fitting); ++i) {
    std::string record = ReadContent(walk.reader, kDependencyRecordSize);
    Dependency entry{
        record.substr(0, kNameFieldSize).c_str(),
        LoadLittleEndian(&record[kDependencyMinOffset], 4),
        LoadLittleEndian(&record[kDependencyMaxOffset], 4),
        static_cast<std::int32_t>(LoadLittleEndian(&record[kDependencyPriorityOffset], 4))};
    std::string priority =
        type == PartProvides ? " (priority " + std::to_string(entry.priority) + ")" : "";
    std::fprintf(walk.out, "  %-17s %s%s\n", label, RangeText(entry).c_str(), priority.c_str());
  }
  if (count.size() < kDependencyCountSize || listed > fitting) {
    std::fprintf(walk.out, "  %-17s part too short for its count of %u records\n", label, listed);
    walk.damaged = true;
  }
}

void ShowSignature(Walk& walk) {
  bool verifies = walk.reader.VerifySignature();
  std::uint8_t digest[kDigestSize];
  if (walk.reader.TakeDigest(digest)) {
    std::fprintf(walk.out, "  digest            %s\n", HexText(digest, kDigestSize).c_str());
  }
  std::fprintf(walk.out, "  signature         present, %s\n",
               verifies ? "verifies" : "does NOT verify: the package is refused");
  walk.signedPackage = true;
}

// Readers take the architecture part only right after the header; without one they assume i386.
void NoteMissingArchitecture(Walk& walk) {
  if (walk.section != Walk::kNone && !walk.sawArchitecture) {
    std::fprintf(walk.out, "  architecture      i386 (no architecture part)\n");
  }
  walk.sawArchitecture = true;
}

// Ends the section of the previous package: an unsigned package's digest is ready now.
void EndSection(Walk& walk) {
  std::uint8_t digest[kDigestSize];
  bool ready = walk.reader.TakeDigest(digest);
  NoteMissingArchitecture(walk);
  if (walk.section != Walk::kPackage || walk.signedPackage) {
    return;
  }
  if (!ready) {
    std::fprintf(walk.out, "  digest            none: the package is cut short\n");
    return;
  }
  std::fprintf(walk.out, "  digest            %s\n", HexText(digest, kDigestSize).c_str());
  std::fprintf(walk.out, "  signature         none; the digest is %s the known-digest table\n",
               IsKnownPackageDigest(digest) ? "in" : "not in");
}

void ShowPart(Walk& walk, int type) {
  if (type != PartHeader && type != PartBundleHeader && type != PartArchitecture) {
    NoteMissingArchitecture(walk);
  }
  switch (type) {
    case PartHeader:
    case PartBundleHeader:
      EndSection(walk);
      walk.section = type == PartHeader ? Walk::kPackage : Walk::kBundle;
      walk.signedPackage = false;
      walk.sawArchitecture = false;
      ShowHeader(walk, type);
      break;
    case PartArchitecture:
      walk.sawArchitecture = true;
      ShowText(walk, "architecture");
      break;
    case PartDescription:
      ShowText(walk, "description");
      break;
    case PartDependencies:
    case PartProvides:
    case PartConflicts:
    case PartBundleMembers:
      ShowDependencies(walk, type);
      break;
    case PartFiles:
      std::fprintf(walk.out, "  files\n");
      walk.damaged = !ListArchive(walk.reader, walk.out) || walk.damaged;
      break;
    case PartSignature:
      ShowSignature(walk);
      break;
    default:
      std::fprintf(walk.out, "  %-17s %u bytes\n", PartName(type), walk.reader.PartLength());
  }
}

}  // namespace

bool InspectPackageFile(const std::string& path, std::FILE* out) {
  ContainerLayout layout;
  if (!ListParts(path, &layout)) {
    return false;
  }
  PrintLayout(path, layout, out);
  std::ifstream file(path, std::ios_base::binary);
  PartReader reader(file, Hashing::kOn);
  for (const auto& part : partNames) {
    reader.AcceptPartType(part.type);
  }
  Walk walk{reader, out};
  for (int type = reader.NextPart(); type != -1; type = reader.NextPart()) {
    ShowPart(walk, type);
  }
  EndSection(walk);
  bool damaged = walk.damaged || layout.cutShort || layout.declaredSize != layout.fileSize;
  if (damaged) {
    std::fprintf(out, "the file is damaged\n");
  }
  return !damaged;
}

bool InspectCommand(int argc, char** argv) {
  ParsedArguments arguments;
  if (!ParseArguments(argc, argv, {}, &arguments)) {
    return false;
  }
  if (arguments.help || arguments.operands.size() != 1) {
    std::fputs(inspectUsage, arguments.help ? stdout : stderr);
    return arguments.help;
  }
  return InspectPackageFile(arguments.operands[0], stdout);
}
