// Unpacking a file archive into a fresh target root. Whatever the archive holds, nothing may
// appear outside that root and every descriptor opened must be closed again.
//
// Input: 1 byte of settings (bit 0 a disabled package, bit 1 unpacking below the working
// directory, bits 2-4 how many bytes to cut from the end of the compressed stream), then the
// archive before compression (records, names and data); the target compresses it.

#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>

#include "packages/package_database.h"
#include "packages/place_staged.h"
#include "packages/roots.h"
#include "packages/unpack.h"
#include "streams/byte_order.h"
#include "streams/package_format.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// A container of one files part holding the archive, compressed, minus cut bytes at its end.
std::string FilesContainer(const std::uint8_t* archive, std::size_t size, std::size_t cut) {
  uLongf length = compressBound(size);
  std::string compressed(length, '\0');
  Require(compress2(reinterpret_cast<Bytef*>(compressed.data()), &length, archive, size, 1) == Z_OK,
          "zlib compresses");
  compressed.resize(length > cut ? length - cut : 0);
  std::string container;
  AppendLittleEndian(container, kContainerMagic, 4);
  AppendLittleEndian(container, kPartHeaderSize + compressed.size(), 4);
  AppendLittleEndian(container, PartFiles, 2);
  AppendLittleEndian(container, compressed.size(), 4);
  return container + compressed;
}

// True when every path below top lies on the way to root or inside it.
bool OnlyInsideRoot(const ScratchDirectory& scratch) {
  std::string root = scratch.Path().substr(scratch.Top().size() + 1);
  for (const std::string& path : ListTree(scratch.Top())) {
    bool onTheWay = root.compare(0, path.size(), path) == 0 &&
                    (root.size() == path.size() || root[path.size()] == '/');
    bool inside = path.compare(0, root.size() + 1, root + "/") == 0;
    if (!onTheWay && !inside) {
      fprintf(stderr, "outside the root: %s\n", path.c_str());
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ScratchDirectory scratch("unpack");
  static const std::string home = std::filesystem::current_path().string();
  if (size < 1) {
    return 0;
  }
  GetPackageRoots() = {scratch.Path(), scratch.Path()};
  GetPackageDatabase().Reset();
  GetPackageDatabase().quiet = true;
  int descriptors = CountOpenDescriptors();
  std::istringstream source(FilesContainer(data + 1, size - 1, data[0] >> 2 & 7));
  PartReader reader(source, Hashing::kOn);
  reader.AcceptPartType(PartFiles);
  Require(reader.NextPart() == PartFiles, "the files part is found");
  Package p("fuzz");
  p.disabled = (data[0] & 1) != 0;
  bool relative = (data[0] & 2) != 0;
  Require(chdir(scratch.Path().c_str()) == 0, "the root can be entered");
  {
    // Staged, then placed as after a passed check: both halves see the hostile names.
    Staging staging;
    Require(OpenStaging(staging, relative ? Placement::kWorkingDirectory : Placement::kTargetRoot),
            "the staging area can be made");
    if (UnpackFiles(p, reader, staging)) {
      PlaceUnpackedFiles(p, staging);
    }
  }
  Require(chdir(home.c_str()) == 0, "the working directory can be entered again");
  Require(CountOpenDescriptors() == descriptors, "every descriptor opened is closed again");
  Require(OnlyInsideRoot(scratch), "nothing appears outside the root");
  EmptyDirectory(scratch.Path());
  return 0;
}
