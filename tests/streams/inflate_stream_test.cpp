#include "streams/inflate_stream.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <thread>

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

constexpr Inflating kBothWays[] = {Inflating::kInReader, Inflating::kAhead};

// Runs of one byte matter for raw data: inflate takes in the whole input while the output
// buffer is still full, and must be asked again for the rest. The sizes pass the rings of the
// helper thread several times over.
TEST(InflateStreamTest, InflatesZlibAndRawDataOfManySizes) {
  std::mt19937 random(6);
  for (std::size_t size : {0, 1, 4096, 4097, 300001, 3000017}) {
    for (std::string data :
         {RandomBytes(random, size), Compressible(random, size), std::string(size, 'r')}) {
      for (bool raw : {false, true}) {
        for (Inflating where : kBothWays) {
          std::istringstream source(ZlibCompress(data, 6, raw));
          InflateStream stream(source, raw ? Framing::kRaw : Framing::kZlib, where);
          EXPECT_TRUE(SameBytes(data, ReadAll(stream, size + 1))) << size << raw;
          EXPECT_TRUE(stream.eof());
          EXPECT_TRUE(stream.ReachedStreamEnd()) << size << raw;
        }
      }
    }
  }
}

// The source is read on the reader's thread only: a read of a socket may carry out an interrupt,
// which must not happen on the helper. Reads in small pieces keep the helper waiting for input.
TEST(InflateStreamTest, ReadsTheSourceOnlyOnTheReadersThread) {
  struct RecordingSource : std::stringbuf {
    using std::stringbuf::stringbuf;
    std::streamsize xsgetn(char* out, std::streamsize size) override {
      readers.insert(std::this_thread::get_id());
      return std::stringbuf::xsgetn(out, std::min<std::streamsize>(size, 1000));
    }
    std::set<std::thread::id> readers;
  };
  std::mt19937 random(7);
  std::string data = Compressible(random, 2000000);
  RecordingSource source(ZlibCompress(data, 6));
  std::istream sourceStream(&source);
  InflateStream stream(sourceStream, Framing::kZlib, Inflating::kAhead);
  EXPECT_TRUE(SameBytes(data, ReadAll(stream, data.size() + 1)));
  EXPECT_TRUE(stream.ReachedStreamEnd());
  EXPECT_EQ(source.readers, std::set<std::thread::id>{std::this_thread::get_id()});
  // Empty stored blocks give no output for megabytes of input: the helper must ask for more.
  std::string empty = "\x78\x01";
  for (int i = 0; i < 300000; ++i) {
    empty.append("\x00\x00\x00\xff\xff", 5);
  }
  empty.append(
      "\x01\x01\x00\xfe\xff"
      "a"
      "\x00\x62\x00\x62",
      10);
  std::istringstream blocks(empty);
  InflateStream fromBlocks(blocks, Framing::kZlib, Inflating::kAhead);
  EXPECT_EQ(ReadAll(fromBlocks, 2), "a");
  EXPECT_TRUE(fromBlocks.ReachedStreamEnd());
  // A reader that stops early (a failed write) ends the helper while it still has work.
  for (std::size_t prefix : {0, 1, 100000}) {
    std::istringstream again(ZlibCompress(data, 6));
    InflateStream early(again, Framing::kZlib, Inflating::kAhead);
    EXPECT_TRUE(SameBytes(data.substr(0, prefix), ReadAll(early, prefix)));
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
    for (Inflating where : kBothWays) {
      std::istringstream source(damaged);
      InflateStream stream(source, Framing::kZlib, where);
      std::string read = ReadAll(stream, data.size() + 1);
      EXPECT_TRUE(SameBytes(data.substr(0, read.size()), read)) << "cut " << cut;
      EXPECT_TRUE(cut < good.size() || read.size() < data.size());
      EXPECT_TRUE(stream.eof()) << "cut " << cut;
      // Even a cut that leaves all the data but part of the checksum is no complete stream.
      EXPECT_FALSE(stream.ReachedStreamEnd()) << "cut " << cut;
    }
  }
}

// One byte stays available for put-back across a refill of the get area, and only one; a read
// too large for the get area is inflated straight into the reader's memory, and its last byte
// must still be there for put-back.
TEST(InflateStreamTest, KeepsOneByteForPutBack) {
  std::mt19937 random(9);
  std::string data = RandomBytes(random, 10000) + Compressible(random, 30000);
  std::istringstream source(ZlibCompress(data, 6));
  InflateStream stream(source, Framing::kZlib);
  EXPECT_FALSE(stream.unget());
  stream.clear();
  EXPECT_EQ(stream.get(), static_cast<unsigned char>(data[0]));
  // Use up the get area, so that the next peek refills it.
  std::streamsize position = 1 + stream.rdbuf()->in_avail();
  stream.ignore(position - 1);
  ASSERT_LT(position, 10000);
  EXPECT_EQ(stream.peek(), static_cast<unsigned char>(data[position]));
  EXPECT_TRUE(stream.unget());
  EXPECT_FALSE(stream.unget());
  stream.clear();
  EXPECT_TRUE(SameBytes(data.substr(position - 1, 20000), ReadAll(stream, 20000)));
  EXPECT_TRUE(stream.unget());
  EXPECT_TRUE(SameBytes(data.substr(position + 19998), ReadAll(stream, data.size())));
}

TEST(InflateStreamTest, SeeksOnlyForward) {
  std::mt19937 random(12);
  std::string data = RandomBytes(random, 12000);
  struct Case {
    std::streamoff offset;
    std::ios_base::seekdir direction;
    std::streamoff expected;  // -1: the seek fails
  } cases[] = {
      {0, std::ios_base::cur, 10},        {5000, std::ios_base::cur, 5010},
      {11990, std::ios_base::cur, 12000}, {11991, std::ios_base::cur, -1},
      {-1, std::ios_base::cur, -1},       {5000, std::ios_base::beg, 5000},
      {4100, std::ios_base::beg, 4100},   {9, std::ios_base::beg, -1},
      {0, std::ios_base::end, -1},
  };
  for (const Case& c : cases) {
    std::istringstream source(ZlibCompress(data, 6));
    InflateStream stream(source, Framing::kZlib);
    ASSERT_EQ(ReadAll(stream, 10), data.substr(0, 10));
    stream.seekg(c.offset, c.direction);
    EXPECT_EQ(!stream.fail(), c.expected >= 0) << c.offset << " from " << c.direction;
    if (c.expected >= 0) {
      EXPECT_EQ(stream.tellg(), c.expected);
      EXPECT_TRUE(SameBytes(data.substr(c.expected), ReadAll(stream, data.size())));
    }
  }
}

}  // namespace
