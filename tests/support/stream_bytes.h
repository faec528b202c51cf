#pragma once

// Byte strings and stream buffers for tests of the part container and the compressed streams.

#include <cstdint>
#include <random>
#include <streambuf>
#include <string>

#include <gtest/gtest.h>

#include "streams/package_format.h"

// Lower-case hex of size bytes.
std::string HexBytes(const void* data, std::size_t size);
// Success when the byte strings are equal; otherwise their sizes and the first difference.
testing::AssertionResult SameBytes(const std::string& expected, const std::string& actual);
// size random bytes.
std::string RandomBytes(std::mt19937& random, std::size_t size);
// SHA-1 of data computed by libcrypto, as 20 raw bytes.
std::string LibcryptoSha1(const std::string& data);

// A part: its 6-byte header (type, content length) followed by the content.
std::string PartBytes(int type, const std::string& content);
// A container header with the given magic and length field, followed by parts.
std::string ContainerBytes(const std::string& parts, std::uint32_t magic = kContainerMagic);
std::string ContainerBytes(const std::string& parts, std::uint32_t magic, std::uint32_t length);

// data compressed by zlib at level (zlib format, or bare deflate data when raw).
std::string ZlibCompress(const std::string& data, int level, bool raw = false);
// data decompressed by zlib's one-shot uncompress; "<corrupt>" when that fails.
std::string ZlibUncompress(const std::string& data);

// A source like a pipe: it cannot seek and hands out at most chunk bytes per underflow.
class PipeBuf : public std::streambuf {
 public:
  PipeBuf(std::string data, std::size_t chunk) : data(std::move(data)), chunk(chunk) {}

 protected:
  int_type underflow() override;

 private:
  std::string data;
  std::size_t chunk;
  std::size_t next = 0;
};

// A sink that takes at most limit bytes and refuses the rest.
class LimitedSink : public std::streambuf {
 public:
  explicit LimitedSink(std::size_t limit) : limit(limit) {}
  std::string written;

 protected:
  int_type overflow(int_type c) override;

 private:
  std::size_t limit;
};
