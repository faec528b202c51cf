#pragma once

#include <cstdint>
#include <istream>
#include <vector>

#include "streams/package_format.h"
#include "streams/part_buf.h"

// An input stream over a part container that exposes one accepted part at a time. Reads and
// seekg stay within the current part; parts of other types are skipped. With hashing on, it
// computes the SHA-1 digest of each package as it reads (see TakeDigest). Reports nothing itself:
// failures show as stream states and return values.
class PartReader : public std::istream {
 public:
  // Reads the container header from source at once. A short header or an unknown magic sets the
  // bad state, and NextPart then returns -1. tee, when not null, receives a copy of every byte read
  // from source; neither source nor tee is owned.
  PartReader(std::istream& source, Hashing hashing, std::streambuf* tee = nullptr);
  PartReader(const PartReader&) = delete;
  PartReader& operator=(const PartReader&) = delete;

  // Adds type to the accepted set; callers add every type they want before the first NextPart.
  void AcceptPartType(std::uint32_t type);
  // Moves to the next part of an accepted type and returns its type, or -1 with the end-of-file
  // and fail states at the end of the stream, after a part that ended early, or in a bad state.
  int NextPart();
  // Type returned by the last NextPart (-1 at the end or before the first).
  int CurrentType() const { return currentType; }
  // Content length of the current part, and the container offset of its content.
  std::uint32_t PartLength() const { return buf.Length(); }
  std::uint64_t PartOffset() const { return buf.Position(); }
  // Container length field + 8; the caller compares it with the file size.
  std::uint64_t TotalSize() const { return totalSize; }
  // True when the container's package is installed without being recorded in the database.
  bool IsUnrecorded() const { return magic == kUnrecordedMagic; }

  // Finishes the package digest and checks the signature in the current part, which must be a
  // PartSignature of at least 68 bytes; the 68 bytes are not hashed. False without hashing, on a
  // short part, when the digest copy differs, or when the signature equation fails.
  bool VerifySignature();
  // Copies the last finished digest (20 bytes) when it has not been taken yet; false otherwise.
  // A digest is finished before each type-1 part header, at the end of the stream and in
  // VerifySignature.
  bool TakeDigest(std::uint8_t out[20]) { return buf.TakeDigest(out); }

 private:
  bool IsAccepted(int type) const;

  PartBuf buf;
  std::vector<std::uint32_t> acceptedTypes;
  int currentType = -1;
  std::uint32_t magic = 0;
  std::uint64_t totalSize = 0;
};
