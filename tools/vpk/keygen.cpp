#include "tools/vpk/keygen.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/vpk/group_order.h"

const char* const privateKeyFileName = "private_key.hex";
const char* const packageKeyFileName = "package_key.hex";
const char* const hashWordsFileName = "signature_hash_words.hex";
const char* const knownDigestsFileName = "known_digests.hex";

namespace {

constexpr int kSeedSize = 32;

// size bytes of SHA-256(label, 0, seed, counter) for counter = 0, 1, ...: a plain, portable
// expansion of the seed, different for each label.
void ExpandSeed(const char* label, const std::uint8_t* seed, std::size_t seedSize,
                std::uint8_t* out, std::size_t size) {
  std::vector<std::uint8_t> input(label, label + std::strlen(label) + 1);
  input.insert(input.end(), seed, seed + seedSize);
  input.resize(input.size() + 4);
  std::uint8_t block[kSignatureHashSize];
  for (std::uint32_t counter = 0; size > 0; ++counter) {
    for (int i = 0; i < 4; ++i) {
      input[input.size() - 4 + i] = static_cast<std::uint8_t>(counter >> (24 - 8 * i));
    }
    HashWithWords(sha256Words, input.data(), input.size(), block);
    std::size_t take = size < sizeof block ? size : sizeof block;
    std::memcpy(out, block, take);
    out += take;
    size -= take;
  }
}

std::string Hex(const std::uint8_t* bytes, std::size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

std::string PathIn(const char* dir, const char* name) {
  return std::string(dir) + "/" + name;
}

bool WriteNewFile(const std::string& path, const std::string& text, mode_t mode) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    std::fprintf(stderr, "ERROR: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      std::fprintf(stderr, "ERROR: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
      close(fd);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  if (close(fd) != 0) {
    std::fprintf(stderr, "ERROR: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

bool PrepareDirectory(const char* dir) {
  if (mkdir(dir, 0755) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "ERROR: cannot create %s: %s\n", dir, std::strerror(errno));
    return false;
  }
  for (const char* name :
       {privateKeyFileName, packageKeyFileName, hashWordsFileName, knownDigestsFileName}) {
    struct stat info;
    std::string path = PathIn(dir, name);
    if (lstat(path.c_str(), &info) == 0 || errno != ENOENT) {
      std::fprintf(stderr, "ERROR: %s exists already; key files are never overwritten\n",
                   path.c_str());
      return false;
    }
  }
  return true;
}

std::string WordsText(const std::uint32_t words[kHashWordCount]) {
  std::string text = "# Signature hash words: 64 round constants, then 8 initial values.\n";
  for (int i = 0; i < kHashWordCount; ++i) {
    char line[16];
    std::snprintf(line, sizeof line, "%08x\n", static_cast<unsigned>(words[i]));
    text += line;
  }
  return text;
}

void PrintKeygenUsage(FILE* out) {
  std::fprintf(out,
               "usage: vpk keygen DIR [--seed TEXT]\n"
               "Writes a new signing key into DIR:\n"
               "  %-26s the private scalar (keep it secret)\n"
               "  %-26s the package key, u-coordinate of the public point\n"
               "  %-26s the 72 words of the signature hash\n"
               "  %-26s the digests trusted without a signature (empty)\n"
               "The same --seed TEXT always gives the same files; without --seed the seed is\n"
               "random. Existing key files are never overwritten.\n",
               privateKeyFileName, packageKeyFileName, hashWordsFileName, knownDigestsFileName);
}

}  // namespace

// Derives the key material from the seed bytes (SHA-256 in counter mode, one label per item).
void GenerateKeyMaterial(const std::uint8_t* seed, std::size_t seedSize, KeyMaterial* material) {
  std::uint8_t wide[2 * kOrderBytes], scalar[kOrderBytes];
  ExpandSeed("private scalar", seed, seedSize, wide, sizeof wide);
  ModOrderReduceWide(wide, scalar);
  // A zero scalar (probability 2^-252) would be no key at all; 1 stands in for it.
  scalar[0] |= static_cast<std::uint8_t>(ModOrderIsZero(scalar));
  EvenPrivateKey(scalar, material->privateKey, material->packageKey);
  std::uint8_t words[4 * kHashWordCount];
  ExpandSeed("signature hash words", seed, seedSize, words, sizeof words);
  for (int i = 0; i < kHashWordCount; ++i) {
    const std::uint8_t* w = words + 4 * i;
    material->hashWords[i] = (std::uint32_t{w[0]} << 24) | (std::uint32_t{w[1]} << 16) |
                             (std::uint32_t{w[2]} << 8) | w[3];
  }
}

// Writes the four files of a key directory (the private key readable by its owner only) into
// dir, creating dir when missing; the known-digest list is written empty. Refuses, with an
// error and before writing anything, when one of the files exists already.
bool WriteKeyMaterial(const char* dir, const KeyMaterial& material) {
  if (!PrepareDirectory(dir)) {
    return false;
  }
  std::string privateText =
      "# Private scalar k, 32 bytes little-endian: k*G has even y and the u of " +
      std::string(packageKeyFileName) + ". Keep it secret.\n" +
      Hex(material.privateKey, kPrivateKeySize) + "\n";
  std::string publicText =
      "# Package key: u-coordinate of the signing point, 32 bytes little-endian.\n" +
      Hex(material.packageKey, kPrivateKeySize) + "\n";
  std::string digestsText =
      "# Digests of package files trusted without a signature: 40 hex digits per line.\n";
  return WriteNewFile(PathIn(dir, privateKeyFileName), privateText, 0600) &&
         WriteNewFile(PathIn(dir, packageKeyFileName), publicText, 0644) &&
         WriteNewFile(PathIn(dir, hashWordsFileName), WordsText(material.hashWords), 0644) &&
         WriteNewFile(PathIn(dir, knownDigestsFileName), digestsText, 0644);
}

bool KeygenCommand(int argc, char** argv) {
  const char* dir = nullptr;
  const char* seedText = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      PrintKeygenUsage(stdout);
      return true;
    }
    if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc && seedText == nullptr) {
      seedText = argv[++i];
    } else if (argv[i][0] != '-' && dir == nullptr) {
      dir = argv[i];
    } else {
      PrintKeygenUsage(stderr);
      return false;
    }
  }
  if (dir == nullptr) {
    PrintKeygenUsage(stderr);
    return false;
  }
  std::vector<std::uint8_t> seed(kSeedSize);
  if (seedText != nullptr) {
    seed.assign(seedText, seedText + std::strlen(seedText));
  } else if (!ReadRandomBytes(seed.data(), seed.size())) {
    return false;
  }
  KeyMaterial material;
  GenerateKeyMaterial(seed.data(), seed.size(), &material);
  if (!WriteKeyMaterial(dir, material)) {
    return false;
  }
  std::printf("Key written to %s; package key %s\n", dir,
              Hex(material.packageKey, kPrivateKeySize).c_str());
  return true;
}
