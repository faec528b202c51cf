#include "packages/install_stream.h"

#include "packages/install_bundle.h"
#include "packages/package_database.h"
#include "streams/part_reader.h"

namespace {

// The part types that an installation reads; everything else in a package stream is passed over.
constexpr int installedPartTypes[] = {
    PartHeader,       PartBundleHeader,  PartBundleMembers,   PartArchitecture,
    PartDependencies, PartProvides,      PartConflicts,       PartImage,
    PartFiles,        PartInstallScript, PartUninstallScript, PartSignature,
};

}  // namespace

int InstallFromStream(std::istream& input, InstallMode mode, const Selection& selection,
                      std::streambuf* copy, const InstallOutputs& outputs) {
  DatabaseOperation operation;
  PartReader reader(input, Hashing::kOn, copy);
  for (int type : installedPartTypes) {
    reader.AcceptPartType(type);
  }
  if (reader.NextPart() == PartBundleHeader) {
    return InstallBundleFromStream(reader, mode, selection, outputs);
  }
  return InstallPackageFromStream(reader, mode, selection, nullptr, outputs) != nullptr ? 0 : 1;
}
