#include "tests/support/stream_bytes.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "streams/byte_order.h"

std::string HexBytes(const void* data, std::size_t size) {
  static const char digits[] = "0123456789abcdef";
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::string hex;
  for (std::size_t i = 0; i < size; ++i) {
    hex.push_back(digits[bytes[i] >> 4]);
    hex.push_back(digits[bytes[i] & 15]);
  }
  return hex;
}

testing::AssertionResult SameBytes(const std::string& expected, const std::string& actual) {
  if (expected == actual) {
    return testing::AssertionSuccess();
  }
  auto difference = std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
  return testing::AssertionFailure()
         << "expected " << expected.size() << " bytes, got " << actual.size()
         << ", first difference at " << (difference.first - expected.begin());
}

std::string RandomBytes(std::mt19937& random, std::size_t size) {
  std::string bytes(size, '\0');
  for (char& byte : bytes) {
    byte = static_cast<char>(random());
  }
  return bytes;
}

std::string LibcryptoSha1(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha1(), nullptr) != 1) {
    return "<libcrypto failed>";
  }
  return std::string(reinterpret_cast<char*>(digest), size);
}

std::string PartBytes(int type, const std::string& content) {
  std::string bytes;
  AppendLittleEndian(bytes, type, 2);
  AppendLittleEndian(bytes, content.size(), 4);
  return bytes + content;
}

std::string ContainerBytes(const std::string& parts, std::uint32_t magic) {
  return ContainerBytes(parts, magic, parts.size());
}

std::string ContainerBytes(const std::string& parts, std::uint32_t magic, std::uint32_t length) {
  std::string bytes;
  AppendLittleEndian(bytes, magic, 4);
  AppendLittleEndian(bytes, length, 4);
  return bytes + parts;
}

std::string ZlibCompress(const std::string& data, int level, bool raw) {
  z_stream zlib = {};
  if (deflateInit2(&zlib, level, Z_DEFLATED, raw ? -15 : 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    return "";
  }
  std::string out(deflateBound(&zlib, data.size()), '\0');
  zlib.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zlib.avail_in = data.size();
  zlib.next_out = reinterpret_cast<Bytef*>(out.data());
  zlib.avail_out = out.size();
  int result = deflate(&zlib, Z_FINISH);
  out.resize(zlib.total_out);
  deflateEnd(&zlib);
  return result == Z_STREAM_END ? out : "";
}

std::string ZlibUncompress(const std::string& data) {
  std::string out(std::max<std::size_t>(data.size() * 4, 1 << 16), '\0');
  for (;;) {
    uLongf size = out.size();
    int result = uncompress(reinterpret_cast<Bytef*>(out.data()), &size,
                            reinterpret_cast<const Bytef*>(data.data()), data.size());
    if (result == Z_OK) {
      out.resize(size);
      return out;
    }
    if (result != Z_BUF_ERROR || out.size() > (std::size_t{1} << 28)) {
      return "<corrupt>";
    }
    out.resize(out.size() * 2);
  }
}

PipeBuf::int_type PipeBuf::underflow() {
  if (next >= data.size()) {
    return traits_type::eof();
  }
  std::size_t size = std::min(chunk, data.size() - next);
  char* start = data.data() + next;
  setg(start, start, start + size);
  next += size;
  return traits_type::to_int_type(*start);
}

LimitedSink::int_type LimitedSink::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof()) || written.size() >= limit) {
    return traits_type::eof();
  }
  written.push_back(traits_type::to_char_type(c));
  return c;
}
