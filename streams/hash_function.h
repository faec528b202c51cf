#pragma once

#include <cstddef>
#include <cstdint>

// A hash engine over 64-byte blocks. Update feeds bytes; the kind's Digest finishes the hash and
// writes the result, after which the next Update starts a new hash.
class HashFunction {
 public:
  // Sets the kind's initial state. Update calls it before the first byte of each hash.
  virtual void Init() = 0;
  // Mixes one 64-byte block into the state.
  virtual void Transform(const std::uint8_t* block) = 0;
  // Mixes count consecutive 64-byte blocks into the state; engines that keep the state in
  // registers across blocks replace it.
  virtual void TransformBlocks(const std::uint8_t* blocks, std::size_t count);
  virtual ~HashFunction() = default;
  // Size in bytes of the digest that Digest writes.
  virtual int DigestSize() const = 0;
  // Finishes the current hash and writes DigestSize() bytes to out.
  virtual void Digest(std::uint8_t* out) = 0;

  // Appends size bytes to the current hash.
  void Update(const void* data, std::size_t size);

 protected:
  // Pads the message with its big-endian bit count and transforms the last blocks; the count goes
  // back to 0 so that the next Update starts a new hash.
  void Final();

  std::uint64_t count = 0;
  std::uint8_t block[64] = {};
};

// SHA-1 as FIPS 180-4 defines it: a 20-byte digest.
class Sha1Hash : public HashFunction {
 public:
  void Init() override;
  void Transform(const std::uint8_t* block) override;
  void TransformBlocks(const std::uint8_t* blocks, std::size_t count) override;
  int DigestSize() const override { return 20; }
  void Digest(std::uint8_t* out) override;

 private:
  std::uint32_t state[5] = {};
};

// How Sha1Hash computes its blocks: the portable code, or the processor's SHA instructions. The
// processor's are chosen once, at start, where the processor has them; both give the same digest.
enum class Sha1Engine { kPortable, kProcessor };

// Makes every Sha1Hash use engine from now on. False, changing nothing, when this processor
// lacks it. Meant for the tests, which compare the engines.
bool SelectSha1Engine(Sha1Engine engine);
