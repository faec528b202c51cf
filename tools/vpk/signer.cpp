#include "tools/vpk/signer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "streams/curve25519.h"
#include "streams/hex_digit.h"
#include "streams/key_material.h"
#include "tools/vpk/group_order.h"

namespace {

// A key file is one short line; anything much longer is not one.
constexpr std::size_t kMaxKeyFileSize = 4096;

// Reads the whole of a small file into text; prints an error on failure.
bool ReadSmallFile(const char* path, std::string* text) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "ERROR: cannot open %s: %s\n", path, std::strerror(errno));
    return false;
  }
  char buffer[kMaxKeyFileSize + 1];
  std::size_t size = 0;
  for (;;) {
    ssize_t n = read(fd, buffer + size, sizeof buffer - size);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      std::fprintf(stderr, "ERROR: cannot read %s: %s\n", path, std::strerror(errno));
      close(fd);
      return false;
    }
    size += static_cast<std::size_t>(n);
    if (n == 0 || size == sizeof buffer) {
      break;
    }
  }
  close(fd);
  if (size > kMaxKeyFileSize) {
    std::fprintf(stderr, "ERROR: %s is too large for a key file\n", path);
    return false;
  }
  text->assign(buffer, size);
  return true;
}

// Finds the one line of the text that is neither blank nor a # comment; false when there is
// not exactly one.
bool SingleDataLine(const std::string& text, std::string* line) {
  int found = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end;
    std::string candidate = text.substr(start, end - start);
    std::size_t first = candidate.find_first_not_of(" \t\r");
    std::size_t last = candidate.find_last_not_of(" \t\r");
    if (first != std::string::npos && candidate[first] != '#') {
      *line = candidate.substr(first, last - first + 1);
      ++found;
    }
    start = end + 1;
  }
  return found == 1;
}

bool ParseHexBytes(const std::string& hex, std::uint8_t* out, std::size_t size) {
  if (hex.size() != 2 * size) {
    return false;
  }
  for (std::size_t i = 0; i < size; ++i) {
    int high = HexDigitValue(hex[2 * i]);
    int low = HexDigitValue(hex[2 * i + 1]);
    if (high < 0 || low < 0) {
      return false;
    }
    out[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return true;
}

}  // namespace

bool ReadRandomBytes(std::uint8_t* out, std::size_t size) {
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "ERROR: cannot open /dev/urandom: %s\n", std::strerror(errno));
    return false;
  }
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = read(fd, out + done, size - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      std::fprintf(stderr, "ERROR: cannot read /dev/urandom: %s\n",
                   n < 0 ? std::strerror(errno) : "end of file");
      close(fd);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  close(fd);
  return true;
}

bool ReadPrivateKey(const char* path, std::uint8_t key[kPrivateKeySize]) {
  std::string text, line;
  if (!ReadSmallFile(path, &text)) {
    return false;
  }
  if (!SingleDataLine(text, &line) || !ParseHexBytes(line, key, kPrivateKeySize)) {
    std::fprintf(stderr, "ERROR: %s: not a private key (one line of 64 hex digits expected)\n",
                 path);
    return false;
  }
  if (ModOrderIsZero(key) || !ModOrderIsReduced(key)) {
    std::fprintf(stderr, "ERROR: %s: the private scalar is not in [1, group order)\n", path);
    return false;
  }
  return true;
}

void EvenPrivateKey(const std::uint8_t key[kPrivateKeySize], std::uint8_t scalar[kPrivateKeySize],
                    std::uint8_t publicKey[kPrivateKeySize]) {
  CurvePoint point = ScalarMultiply(key, BasePoint());
  std::uint8_t negated[kPrivateKeySize];
  ModOrderNegate(key, negated);
  // -k*G has the same u and the other y; choose without branching on the private scalar.
  std::uint8_t mask = static_cast<std::uint8_t>(0 - static_cast<unsigned>(PointYIsOdd(point)));
  for (int i = 0; i < kPrivateKeySize; ++i) {
    scalar[i] = static_cast<std::uint8_t>((negated[i] & mask) | (key[i] & ~mask));
  }
  PointU(point, publicKey);
}

void SignDigestWith(const std::uint8_t scalar[kPrivateKeySize],
                    const std::uint8_t nonce[kPrivateKeySize],
                    const std::uint32_t words[kHashWordCount],
                    const std::uint8_t digest[kDigestSize],
                    std::uint8_t signature[kSignatureSize]) {
  std::uint8_t commitment[kFieldBytes];
  PointU(ScalarMultiply(nonce, BasePoint()), commitment);
  std::uint8_t hash[kSignatureHashSize];
  HashWithWords(words, commitment, sizeof commitment, hash);
  std::uint8_t* r = signature + kDigestSize;
  std::memcpy(signature, digest, kDigestSize);
  std::memcpy(r, hash, kSignatureRSize);
  // v*P + h*G = R for P = k*G when v = (n - h) / k; h counts modulo the order of G.
  std::uint8_t h[kSignatureHashSize], hReduced[kOrderBytes], inverse[kOrderBytes];
  std::uint8_t difference[kOrderBytes];
  SignatureChallengeWithWords(words, digest, r, h);
  ModOrderReduce(h, hReduced);
  ModOrderSubtract(nonce, hReduced, difference);
  ModOrderInvert(scalar, inverse);
  ModOrderMultiply(difference, inverse, signature + kDigestSize + kSignatureRSize);
}

bool SignDigest(const std::uint8_t privateKey[kPrivateKeySize],
                const std::uint8_t digest[kDigestSize], std::uint8_t signature[kSignatureSize]) {
  std::uint8_t scalar[kPrivateKeySize], publicKey[kPrivateKeySize];
  EvenPrivateKey(privateKey, scalar, publicKey);
  // 64 random bytes reduced modulo the order give a nonce without a noticeable bias.
  std::uint8_t wide[2 * kOrderBytes], nonce[kOrderBytes];
  do {
    if (!ReadRandomBytes(wide, sizeof wide)) {
      return false;
    }
    ModOrderReduceWide(wide, nonce);
  } while (ModOrderIsZero(nonce));
  SignDigestWith(scalar, nonce, signatureHashWords, digest, signature);
  return true;
}
