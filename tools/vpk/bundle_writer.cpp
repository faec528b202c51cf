#include "tools/vpk/bundle_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "streams/package_format.h"
#include "streams/part_writer.h"
#include "tools/vpk/output_file.h"
#include "tools/vpk/package_writer.h"
#include "tools/vpk/part_list.h"

namespace {

bool ReadMember(const std::string& path, ContainerLayout* layout, std::string* name) {
  std::string header;
  if (!ListParts(path, layout) || !CheckSinglePackage(path, *layout)) {
    return false;
  }
  if (layout->parts[0].length < kHeaderSize) {
    std::fprintf(stderr, "vpk: %s: the package header part is too short\n", path.c_str());
    return false;
  }
  if (!ReadFileRange(path, layout->parts[0].headerOffset + kPartHeaderSize, kNameFieldSize,
                     &header)) {
    return false;
  }
  name->assign(header.c_str());
  return true;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Checks every member file and the names; the bundle is written only when all of them pass.
bool CheckMembers(const BundleContents& contents) {
  if (contents.memberFiles.empty()) {
    std::fprintf(stderr, "vpk: a bundle needs at least one member package\n");
    return false;
  }
  std::uint32_t magic = contents.unrecorded ? kUnrecordedMagic : kContainerMagic;
  std::vector<std::string> names;
  for (const std::string& file : contents.memberFiles) {
    ContainerLayout layout;
    std::string name;
    if (!ReadMember(file, &layout, &name)) {
      return false;
    }
    if (layout.magic != magic) {
      std::fprintf(stderr, "vpk: %s: the member is %s, the bundle is not\n", file.c_str(),
                   layout.magic == kUnrecordedMagic ? "unrecorded" : "recorded");
      return false;
    }
    if (Contains(names, name)) {
      std::fprintf(stderr, "vpk: %s: a second member named '%s'\n", file.c_str(), name.c_str());
      return false;
    }
    names.push_back(name);
  }
  for (const std::string& name : contents.disabledMembers) {
    if (!Contains(names, name)) {
      std::fprintf(stderr, "vpk: '%s' is not the name of a member of the bundle\n", name.c_str());
      return false;
    }
  }
  return true;
}

bool FillBundleFile(const std::string& file, const PackageInfo& bundle,
                    const BundleContents& contents) {
  PartWriter writer(file, contents.unrecorded);
  if (!writer) {
    std::fprintf(stderr, "vpk: cannot create %s: %s\n", file.c_str(), std::strerror(errno));
    return false;
  }
  WriteHeaderParts(writer, PartBundleHeader, bundle, contents.flagsWord);
  if (!contents.image.empty() && !WriteFileContentPart(writer, PartImage, contents.image)) {
    return false;
  }
  std::vector<Dependency> disabled(contents.disabledMembers.size());
  for (std::size_t i = 0; i < disabled.size(); ++i) {
    disabled[i].name = contents.disabledMembers[i];
  }
  WriteDependencyPart(writer, PartBundleMembers, disabled);
  for (const std::string& member : contents.memberFiles) {
    if (!AppendFileBytes(writer, member, kContainerHeaderSize)) {
      return false;
    }
  }
  if (!writer.Close()) {
    std::fprintf(stderr, "vpk: cannot write %s (disk full, or the bundle is 4 GiB or larger)\n",
                 file.c_str());
    return false;
  }
  return true;
}

}  // namespace

bool WriteBundleFile(const std::string& path, const PackageInfo& bundle,
                     const BundleContents& contents) {
  if (!CheckStorable(bundle) || !CheckMembers(contents)) {
    return false;
  }
  if (contents.disabledMembers.size() > kMostDependencies) {
    std::fprintf(stderr, "vpk: too many disabled members\n");
    return false;
  }
  PendingOutput output;
  if (!BeginOutput(path, &output)) {
    return false;
  }
  if (!FillBundleFile(output.temporary, bundle, contents)) {
    AbandonOutput(output);
    return false;
  }
  return CommitOutput(output);
}
