#include "streams/part_reader.h"

#include <algorithm>
#include <cstring>

#include "streams/byte_order.h"
#include "streams/signature_check.h"

PartReader::PartReader(std::istream& source, Hashing hashing, std::streambuf* tee)
    : std::istream(nullptr), buf(source.rdbuf(), hashing, tee) {
  rdbuf(&buf);
  std::uint8_t header[kContainerHeaderSize];
  if (!buf.ReadContainerHeader(header)) {
    setstate(std::ios_base::badbit);
    return;
  }
  magic = LoadLittleEndian(header, 4);
  if (magic != kContainerMagic && magic != kUnrecordedMagic) {
    setstate(std::ios_base::badbit);
    return;
  }
  std::uint32_t length = LoadLittleEndian(header + 4, 4);
  totalSize = std::uint64_t{length} + kContainerHeaderSize;
}

void PartReader::AcceptPartType(std::uint32_t type) {
  acceptedTypes.push_back(type);
}

bool PartReader::IsAccepted(int type) const {
  return std::find(acceptedTypes.begin(), acceptedTypes.end(), static_cast<std::uint32_t>(type)) !=
         acceptedTypes.end();
}

int PartReader::NextPart() {
  if (fail()) {
    currentType = -1;
    return -1;
  }
  // A read that reached the end of the previous part does not stop the next one.
  clear();
  do {
    currentType = buf.Advance();
    if (currentType < 0) {
      setstate(std::ios_base::eofbit | std::ios_base::failbit);
      return -1;
    }
  } while (!IsAccepted(currentType));
  return currentType;
}

bool PartReader::VerifySignature() {
  if (!buf.IsHashing() || currentType != PartSignature) {
    return false;
  }
  buf.FinishDigest();
  std::uint8_t signature[kSignatureSize];
  if (!buf.ReadUnhashed(signature, sizeof signature)) {
    return false;
  }
  if (std::memcmp(signature, buf.Digest(), kDigestSize) != 0) {
    return false;
  }
  return SignatureEquationHolds(buf.Digest(), signature);
}
