#include "streams/deflate_stream.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/stream_bytes.h"

namespace {

// Pieces of random sizes, single characters among them, come back whether FinishDeflate or the
// destructor ends the stream; a destination that refuses bytes anywhere makes FinishDeflate fail.
TEST(DeflateStreamTest, RoundTripsAndReportsADestinationThatRefusesBytes) {
  std::mt19937 random(13);
  for (std::size_t size : {0, 1, 4096, 4097, 200000}) {
    std::string data = RandomBytes(random, size);
    std::ostringstream destination;
    {
      DeflateStream stream(destination);
      for (std::size_t at = 0, piece = 0; at < size; at += piece) {
        piece = std::min<std::size_t>(random() % 3 == 0 ? 1 : random() % 9000, size - at);
        stream.write(data.data() + at, piece);
      }
      EXPECT_TRUE(size % 2 == 1 || stream.FinishDeflate());  // odd sizes: the destructor
    }
    std::size_t compressed = destination.str().size();
    EXPECT_TRUE(SameBytes(data, ZlibUncompress(destination.str()))) << size;
    for (std::size_t limit : {std::size_t{0}, compressed / 2, compressed - 1}) {
      LimitedSink sink(limit);
      std::ostream out(&sink);
      DeflateStream refused(out);
      refused.write(data.data(), data.size());
      EXPECT_TRUE(!refused.FinishDeflate() && refused.bad()) << size << " " << limit;
    }
  }
}

}  // namespace
