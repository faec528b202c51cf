// Reading a package stream: a container with one files part of 64 MiB inflated (or the size given
// to make), read from standard input through the part reader with hashing on and inflated to its
// end. bench/stream_read.sh times it against sha1sum and gzip -dc doing the same work.
//
//   bench_stream_read make DIR [MIB]
//                                writes DIR/stream.vpk and DIR/stream.gz (same content, 64 MiB by
//                                default)
//   bench_stream_read read       reads a container from standard input; prints the package
//                                digest and the inflated size

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "streams/inflate_stream.h"
#include "streams/part_reader.h"
#include "streams/part_writer.h"

namespace {

// Random bytes whose bits are 1 with probability 1/4: deflate saves about a fifth, so the
// inflater decodes real Huffman codes instead of copying stored blocks.
std::vector<char> MakeContent(std::size_t size) {
  std::vector<char> content(size);
  std::mt19937_64 random(42);
  for (std::size_t at = 0; at < content.size(); at += 8) {
    std::uint64_t word = random() & random();
    std::memcpy(content.data() + at, &word, 8);
  }
  return content;
}

// Compresses content at level 6; windowBits 15 gives the zlib format, 31 the gzip format.
bool Compress(const std::vector<char>& content, int windowBits, std::string& out) {
  z_stream zlib = {};
  if (deflateInit2(&zlib, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    std::fprintf(stderr, "ERROR: deflateInit2 failed\n");
    return false;
  }
  out.resize(deflateBound(&zlib, content.size()));
  zlib.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
  zlib.avail_in = content.size();
  zlib.next_out = reinterpret_cast<Bytef*>(out.data());
  zlib.avail_out = out.size();
  int result = deflate(&zlib, Z_FINISH);
  out.resize(zlib.total_out);
  deflateEnd(&zlib);
  if (result != Z_STREAM_END) {
    std::fprintf(stderr, "ERROR: deflate failed\n");
    return false;
  }
  return true;
}

bool Make(const std::string& directory, std::size_t size) {
  std::vector<char> content = MakeContent(size);
  std::string compressed;
  if (!Compress(content, 15, compressed)) {
    return false;
  }
  PartWriter writer(directory + "/stream.vpk", false);
  writer.BeginPart(PartFiles);
  writer.write(compressed.data(), compressed.size());
  writer.EndPart();
  if (!writer.Close()) {
    std::fprintf(stderr, "ERROR: cannot write %s/stream.vpk\n", directory.c_str());
    return false;
  }
  if (!Compress(content, 31, compressed)) {
    return false;
  }
  std::ofstream gzip(directory + "/stream.gz", std::ios_base::binary);
  if (!gzip.write(compressed.data(), compressed.size()) || !gzip.flush()) {
    std::fprintf(stderr, "ERROR: cannot write %s/stream.gz\n", directory.c_str());
    return false;
  }
  return true;
}

bool Read() {
  std::ifstream input("/dev/stdin", std::ios_base::binary);
  PartReader reader(input, Hashing::kOn);
  reader.AcceptPartType(PartFiles);
  if (reader.NextPart() != PartFiles) {
    std::fprintf(stderr, "ERROR: no files part on standard input\n");
    return false;
  }
  std::uint64_t total = 0;
  {
    InflateStream files(reader, Framing::kZlib, Inflating::kAhead);
    static char buffer[1 << 16];
    while (files.read(buffer, sizeof buffer), files.gcount() > 0) {
      total += files.gcount();
    }
  }
  std::uint8_t digest[20];
  if (reader.NextPart() != -1 || !reader.TakeDigest(digest)) {
    std::fprintf(stderr, "ERROR: the container did not end after its files part\n");
    return false;
  }
  for (std::uint8_t byte : digest) {
    std::printf("%02x", byte);
  }
  std::printf(" %llu\n", static_cast<unsigned long long>(total));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int mebibytes = argc == 4 && std::strcmp(argv[1], "make") == 0 ? std::atoi(argv[3]) : 64;
  if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "make") == 0 && mebibytes > 0) {
    return Make(argv[2], std::size_t(mebibytes) << 20) ? 0 : 1;
  }
  if (argc == 2 && std::strcmp(argv[1], "read") == 0) {
    return Read() ? 0 : 1;
  }
  std::fprintf(stderr, "usage: bench_stream_read make DIR [MIB] | read\n");
  return 2;
}
