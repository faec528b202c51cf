#pragma once

#include <cstddef>
#include <cstdint>
#include <streambuf>

#include "streams/hash_function.h"

// Whether a part reader computes the package digest of what it reads.
enum class Hashing { kOff, kOn };

// The stream buffer under a PartReader: it exposes the content of one part at a time and keeps no
// data of its own; every read goes to the source buffer. Everything consumed from the source after
// the container header is hashed when hashing is on, and everything consumed is copied to the tee
// when one is given. Neither the source nor the tee is owned.
class PartBuf : public std::streambuf {
 public:
  PartBuf(std::streambuf* source, Hashing hashing, std::streambuf* tee);

  // Reads the 8-byte container header from the source (not hashed, copied to the tee). Returns
  // false when fewer than 8 bytes arrive or the copy to the tee fails.
  bool ReadContainerHeader(std::uint8_t header[8]);
  // Skips what is left of the current part and reads the next part header. Returns its type, or -1
  // when the stream ends, a skip or a part header comes up short, or the tee failed. At the end of
  // the stream and before a type-1 header the running digest is finished.
  int Advance();
  // Finishes the running hash into the digest and marks the digest ready; no-op without hashing.
  void FinishDigest();
  // Reads size content bytes of the current part without hashing them (copied to the tee).
  // Returns false when fewer than size bytes remain in the part or arrive from the source.
  bool ReadUnhashed(std::uint8_t* out, std::size_t size);
  // Copies a finished digest that was not taken yet and marks it taken. Returns false when there
  // is none, and always after the tee failed.
  bool TakeDigest(std::uint8_t out[20]);

  // The last finished digest (20 bytes), taken or not.
  const std::uint8_t* Digest() const { return digest; }
  bool IsHashing() const { return hashing; }
  // Container offset of the current part's content, and the part's content length.
  std::uint64_t Position() const { return position; }
  std::uint32_t Length() const { return length; }

 protected:
  // Bytes available without waiting, at most what is left of the part; -1 at the part's end.
  std::streamsize showmanyc() override;
  // Reads up to size bytes of the part straight from the source into out, hashed and teed.
  std::streamsize xsgetn(char* out, std::streamsize size) override;
  // The next byte of the part, not consumed; end of file at the part's end.
  int_type underflow() override;
  // Consumes the next byte of the part, hashed and teed; end of file at the part's end.
  int_type uflow() override;
  // Puts a byte back into the source, to be read again but not hashed or teed again; fails at
  // the start of the part or when the source refuses.
  int_type pbackfail(int_type c) override;
  // Offsets are unsigned: from the end, an offset counts back from the part's end.
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                   std::ios_base::openmode which) override;
  pos_type seekpos(pos_type target, std::ios_base::openmode which) override;

 private:
  // Whether consumed bytes count toward the package digest (the container header and the
  // signature itself do not).
  enum class InDigest { kNo, kYes };
  // Hashes (with kYes) and tees bytes just consumed, after dropping those that a put-back made
  // come around a second time. Returns false when the tee takes fewer bytes than given.
  bool Consume(const char* data, std::size_t size, InDigest inDigest);
  // Reads and discards size content bytes in blocks of 4096; false on a short read.
  bool Discard(std::uint64_t size);
  // Moves to content offset target of the current part; returns it, or -1 on failure.
  pos_type SeekTo(std::uint64_t target);
  // True when skipped bytes need not pass through this buffer.
  bool MaySeekSource() const { return !hashing && tee == nullptr; }

  std::streambuf* source;
  std::uint64_t position = 0;
  std::uint32_t length = 0;
  std::uint32_t remaining = 0;
  std::streambuf* tee;
  Sha1Hash hash;
  bool hashing;
  bool digestReady = false;
  // Set when the tee took fewer bytes than given: its copy is incomplete, so nothing more is read
  // and no digest is handed out.
  bool teeFailed = false;
  std::uint64_t pendingSkip = 0;
  std::uint8_t digest[20] = {};
};
