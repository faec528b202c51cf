#include "streams/inflate_stream.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/stream_bytes.h"

namespace {

// Bytes that compress somewhat: random letters of a small alphabet with repeated runs.
std::string Compressible(std::mt19937& random, std::size_t size) {
  std::string data;
  while (data.size() < size) {
    data.append(random() % 8 + 1, static_cast<char>('a' + random() % 6));
  }
  data.resize(size);
  return data;
}

std::string ReadAll(std::istream& stream, std::size_t limit) {
  std::string data(limit, '\0');
  stream.read(data.data(), data.size());
  data.resize(stream.gcount());
  return data;
}

// Runs of one byte matter for raw data: inflate takes in the whole input while the output
// buffer is still full, and must be asked again for the rest.
TEST(InflateStreamTest, InflatesZlibAndRawDataOfManySizes) {
  std::mt19937 random(6);
  for (std::size_t size : {0, 1, 4096, 4097, 300001}) {
    for (std::string data :
         {RandomBytes(random, size), Compressible(random, size), std::string(size, 'r')}) {
      for (bool raw : {false, true}) {
        std::istringstream source(ZlibCompress(data, 6, raw));
        InflateStream stream(source, raw);
        EXPECT_TRUE(SameBytes(data, ReadAll(stream, size + 1))) << size << raw;
        EXPECT_TRUE(stream.eof());
        EXPECT_TRUE(stream.ReachedStreamEnd()) << size << raw;
      }
    }
  }
}

// A stream cut anywhere (to nothing, as in an empty files part) ends in end-of-file after a prefix
// of the data, and must not hand out a stale byte from an inflate call that consumed input without
// giving output. A wrong checksum at the end keeps the last bytes back.
TEST(InflateStreamTest, DamagedDataYieldsAPrefixThenEndOfFile) {
  std::mt19937 random(10);
  std::string data = Compressible(random, 600), good = ZlibCompress(data, 6);
  for (std::size_t cut = 0; cut <= good.size(); ++cut) {
    std::string damaged =
        cut < good.size() ? good.substr(0, cut) : good.substr(0, cut - 1) + char(good.back() ^ 1);
    std::istringstream source(damaged);
    InflateStream stream(source, false);
    std::string read = ReadAll(stream, data.size() + 1);
    EXPECT_TRUE(SameBytes(data.substr(0, read.size()), read)) << "cut " << cut;
    EXPECT_TRUE(cut < good.size() || read.size() < data.size());
    EXPECT_TRUE(stream.eof()) << "cut " << cut;
    // Even a cut that leaves all the data but part of the checksum is no complete stream.
    EXPECT_FALSE(stream.ReachedStreamEnd()) << "cut " << cut;
  }
}

}  // namespace
