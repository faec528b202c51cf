#include "streams/deflate_stream.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>

#include "streams/inflate_stream.h"
#include "tests/support/stream_bytes.h"

namespace {

// Data written in pieces of random sizes, single characters among them, comes back from zlib and
// from our inflater.
TEST(DeflateStreamTest, RoundTripsThroughZlibAndOurInflater) {
  std::mt19937 random(13);
  for (std::size_t size : {0, 1, 4095, 4096, 4097, 65536, 200000}) {
    std::string data = RandomBytes(random, size);
    std::ostringstream destination;
    DeflateStream stream(destination);
    for (std::size_t at = 0, piece = 0; at < size; at += piece) {
      piece = std::min<std::size_t>(random() % 3 == 0 ? 1 : random() % 9000, size - at);
      stream.write(data.data() + at, piece);
    }
    EXPECT_TRUE(stream.FinishDeflate());
    EXPECT_TRUE(SameBytes(data, ZlibUncompress(destination.str()))) << size;
    std::istringstream source(destination.str());
    InflateStream inflated(source, false);
    std::string read(size + 1, '\0');
    inflated.read(read.data(), read.size());
    read.resize(inflated.gcount());
    EXPECT_TRUE(SameBytes(data, read)) << size;
  }
}

TEST(DeflateStreamTest, DestructorEndsTheStream) {
  std::string data(10000, 'z');
  std::ostringstream destination;
  {
    DeflateStream stream(destination);
    stream << data;
  }
  EXPECT_TRUE(SameBytes(data, ZlibUncompress(destination.str())));
}

TEST(DeflateStreamTest, EndsOnceAndCompressesNothingAfterwards) {
  std::ostringstream destination;
  DeflateStream stream(destination);
  stream << "before";
  EXPECT_TRUE(stream.FinishDeflate());
  std::string ended = destination.str();
  EXPECT_FALSE(stream.FinishDeflate());
  EXPECT_TRUE(stream.good());
  stream << "after";
  EXPECT_FALSE(stream.flush());
  EXPECT_EQ(destination.str(), ended);
  EXPECT_EQ(ZlibUncompress(ended), "before");
}

TEST(DeflateStreamTest, ReportsADestinationThatRefusesBytes) {
  std::mt19937 random(15);
  std::string data = RandomBytes(random, 20000);
  for (std::size_t limit : {0, 100, 8000, 20010}) {
    LimitedSink destination(limit);
    std::ostream out(&destination);
    DeflateStream stream(out);
    stream.write(data.data(), data.size());
    bool finished = stream.FinishDeflate();
    EXPECT_FALSE(finished) << limit;
    EXPECT_TRUE(stream.bad() || stream.fail()) << limit;
  }
}

}  // namespace
