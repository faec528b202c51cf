#include "tools/vpk/package_signing.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "streams/byte_order.h"
#include "streams/hash_function.h"
#include "streams/key_material.h"
#include "streams/package_format.h"
#include "tools/vpk/part_list.h"

namespace {

constexpr std::size_t kHashBlock = 65536;

std::string SignaturePartHeader() {
  std::string header;
  AppendLittleEndian(header, PartSignature, 2);
  AppendLittleEndian(header, kSignatureSize, 4);
  return header;
}

// Hashes the bytes of fd from offset to end.
bool HashRange(int fd, std::uint64_t offset, std::uint64_t end, HashFunction& hash) {
  std::vector<char> block(kHashBlock);
  while (offset < end) {
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(end - offset, kHashBlock));
    ssize_t n = pread(fd, block.data(), want, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    hash.Update(block.data(), static_cast<std::size_t>(n));
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool WriteAt(int fd, std::uint64_t offset, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n =
        pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool CheckUnsigned(const std::string& path, std::uint64_t* packageStart, std::uint64_t* end) {
  ContainerLayout layout;
  if (!ListParts(path, &layout) || !CheckSinglePackage(path, layout)) {
    return false;
  }
  if (FindPart(layout, PartSignature) >= 0) {
    std::fprintf(stderr, "vpk: %s: the package is signed already\n", path.c_str());
    return false;
  }
  if (layout.fileSize + kPartHeaderSize + kSignatureSize - kContainerHeaderSize > UINT32_MAX) {
    std::fprintf(stderr, "vpk: %s: a signed package would be larger than 4 GiB\n", path.c_str());
    return false;
  }
  *packageStart = layout.parts[0].headerOffset;
  *end = layout.fileSize;
  return true;
}

}  // namespace

bool SigningDigest(const std::string& path, std::uint8_t digest[kDigestSize]) {
  std::uint64_t start = 0, end = 0;
  if (!CheckUnsigned(path, &start, &end)) {
    return false;
  }
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "vpk: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  Sha1Hash hash;
  bool ok = HashRange(fd, start, end, hash);
  close(fd);
  if (!ok) {
    std::fprintf(stderr, "vpk: cannot read %s\n", path.c_str());
    return false;
  }
  std::string header = SignaturePartHeader();
  hash.Update(header.data(), header.size());
  hash.Digest(digest);
  return true;
}

bool SignPackageFile(const std::string& path, const std::uint8_t privateKey[kPrivateKeySize]) {
  std::uint8_t digest[kDigestSize], signature[kSignatureSize];
  std::uint64_t start = 0, end = 0;
  if (!SigningDigest(path, digest) || !CheckUnsigned(path, &start, &end) ||
      !SignDigest(privateKey, digest, signature)) {
    return false;
  }
  std::string part = SignaturePartHeader();
  part.append(reinterpret_cast<const char*>(signature), kSignatureSize);
  std::string length;
  AppendLittleEndian(length, end + part.size() - kContainerHeaderSize, 4);
  int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "vpk: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  bool ok = WriteAt(fd, end, part) && WriteAt(fd, 4, length);
  if (!ok) {
    std::fprintf(stderr, "vpk: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    // The length field is written last, so cutting the part off restores the unsigned package.
    if (ftruncate(fd, static_cast<off_t>(end)) != 0) {
      std::fprintf(stderr, "vpk: cannot restore %s: %s\n", path.c_str(), std::strerror(errno));
    }
  }
  if (close(fd) != 0 && ok) {
    std::fprintf(stderr, "vpk: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    ok = false;
  }
  return ok;
}

bool MatchesBuiltInKey(const std::uint8_t privateKey[kPrivateKeySize], const char* keyPath) {
  std::uint8_t scalar[kPrivateKeySize], publicKey[kPrivateKeySize];
  EvenPrivateKey(privateKey, scalar, publicKey);
  if (std::memcmp(publicKey, packageKey, kPrivateKeySize) == 0) {
    return true;
  }
  std::fprintf(stderr,
               "vpk: warning: %s is not the key built into this vpk; the packages it signs are "
               "refused by programs built with this key directory\n",
               keyPath);
  return false;
}
