// The tree that bench/install_throughput.sh packs twice, as a package and as a tar.gz: 64 MiB (or
// the size given to make) in a few thousand files of mixed sizes (a few bytes to a few hundred
// KiB) spread over directories.
// vpk build stores its archive uncompressed; the package here is deflated at level 6 like the
// tar.gz, so that both sides inflate the same amount of real compressed data.
//
//   bench_install_throughput make DIR [MIB]
//                                       writes the tree DIR/tree (64 MiB by default); prints its
//                                       file count and size
//   bench_install_throughput pack DIR KEY
//                                       writes DIR/tree.vpk from DIR/tree, signed with KEY

#include <sys/stat.h>
#include <zlib.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "streams/package_format.h"
#include "streams/part_writer.h"
#include "tools/vpk/archive_writer.h"
#include "tools/vpk/package_signing.h"
#include "tools/vpk/signer.h"

namespace {

constexpr int kDirectories = 64;

bool MakeDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "ERROR: mkdir %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

// Sizes spread evenly on a log scale from 16 bytes to 128 KiB, up to treeSize in all.
std::vector<std::uint64_t> FileSizes(std::mt19937_64& random, std::uint64_t treeSize) {
  std::uniform_real_distribution<double> exponent(4.0, 17.0);
  std::vector<std::uint64_t> sizes;
  std::uint64_t total = 0;
  while (total < treeSize) {
    std::uint64_t size = static_cast<std::uint64_t>(std::exp2(exponent(random)));
    size = std::min(size, treeSize - total);
    sizes.push_back(size);
    total += size;
  }
  return sizes;
}

// Random bytes whose bits are 1 with probability 1/4 (deflate saves about a fifth), with a run of
// text in every file so that the small ones compress as configuration files do.
std::string Content(std::mt19937_64& random, std::uint64_t size) {
  std::string content(size, '\0');
  for (std::uint64_t at = 0; at < size; ++at) {
    content[at] = static_cast<char>(random() & random());
  }
  const char text[] = "option value # a line of configuration text\n";
  for (std::uint64_t at = 0; at < size / 2; ++at) {
    content[at] = text[at % (sizeof text - 1)];
  }
  return content;
}

bool MakeTree(const std::string& dir, std::uint64_t treeSize) {
  std::string tree = dir + "/tree";
  if (!MakeDirectory(dir) || !MakeDirectory(tree)) {
    return false;
  }
  std::mt19937_64 random(42);
  std::vector<std::uint64_t> sizes = FileSizes(random, treeSize);
  for (int d = 0; d < kDirectories; ++d) {
    if (!MakeDirectory(tree + "/d" + std::to_string(d))) {
      return false;
    }
  }
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    std::string path = tree + "/d" + std::to_string(i % kDirectories) + "/f" + std::to_string(i);
    std::ofstream out(path, std::ios::binary);
    out << Content(random, sizes[i]);
    if (!out.flush()) {
      std::fprintf(stderr, "ERROR: cannot write %s\n", path.c_str());
      return false;
    }
  }
  std::printf("%zu files, %llu bytes\n", sizes.size(), static_cast<unsigned long long>(treeSize));
  return true;
}

// Compresses data into a zlib-format stream at level 6.
bool Deflate(const std::string& data, std::string& out) {
  uLongf size = compressBound(data.size());
  out.resize(size);
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                reinterpret_cast<const Bytef*>(data.data()), data.size(), 6) != Z_OK) {
    std::fprintf(stderr, "ERROR: deflate failed\n");
    return false;
  }
  out.resize(size);
  return true;
}

// A package "bench" 1.0: a 32-byte header part, the deflated archive of the tree, a signature.
bool PackTree(const std::string& dir, const char* keyPath) {
  std::ostringstream archive;
  std::string compressed;
  std::uint8_t key[kPrivateKeySize];
  if (!WriteTreeArchive(archive, dir + "/tree", TreeOptions()) ||
      !Deflate(archive.str(), compressed) || !ReadPrivateKey(keyPath, key)) {
    return false;
  }
  std::string path = dir + "/tree.vpk";
  PartWriter writer(path, false);
  char header[32] = "bench";
  const unsigned char version[4] = {0, 'f', 0, 1};  // 1.0, little-endian
  const unsigned char built[4] = {0x00, 0xf1, 0x53, 0x65};
  std::memcpy(header + 16, version, 4);
  std::memcpy(header + 20, built, 4);
  writer.BeginPart(PartHeader);
  writer.write(header, sizeof header);
  writer.EndPart();
  writer.BeginPart(PartFiles);
  writer.write(compressed.data(), static_cast<std::streamsize>(compressed.size()));
  writer.EndPart();
  if (!writer.Close() || !SignPackageFile(path, key)) {
    std::fprintf(stderr, "ERROR: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int mebibytes = argc == 4 && std::strcmp(argv[1], "make") == 0 ? std::atoi(argv[3]) : 64;
  if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "make") == 0 && mebibytes > 0) {
    return MakeTree(argv[2], std::uint64_t(mebibytes) << 20) ? 0 : 1;
  }
  if (argc == 4 && std::strcmp(argv[1], "pack") == 0) {
    return PackTree(argv[2], argv[3]) ? 0 : 1;
  }
  std::fprintf(stderr, "usage: bench_install_throughput make DIR [MIB] | pack DIR KEYFILE\n");
  return 1;
}
