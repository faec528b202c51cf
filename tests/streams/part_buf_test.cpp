#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "streams/part_reader.h"
#include "tests/support/stream_bytes.h"

namespace {

const std::string kContent = "0123456789abcdefghij";

// One package with a 20-byte files part between a header and a trailing part, read from a
// seekable string or a pipe-like source.
struct Fixture {
  Fixture(bool seekable, bool hashing, std::streambuf* tee = nullptr)
      : pipeBuf(container, 3),
        source(seekable ? static_cast<std::streambuf*>(&stringBuf) : &pipeBuf) {
    reader = std::make_unique<PartReader>(source, hashing ? Hashing::kOn : Hashing::kOff, tee);
    reader->AcceptPartType(PartFiles);
    reader->AcceptPartType(PartDescription);
  }
  std::string Digest() {
    std::uint8_t digest[20];
    return reader->TakeDigest(digest) ? std::string(reinterpret_cast<char*>(digest), 20) : "none";
  }

  std::string package = PartBytes(PartHeader, "h") + PartBytes(PartFiles, kContent) +
                        PartBytes(PartDescription, "after");
  std::string container = ContainerBytes(package);
  std::stringbuf stringBuf{container};
  PipeBuf pipeBuf;
  std::istream source;
  std::unique_ptr<PartReader> reader;
};

// A byte put back is read again, but hashed and teed only once, also when the next part skips it.
TEST(PartBufTest, PutBackIsRefusedAtThePartStartAndReadAgainWithoutDoubleCounting) {
  for (bool skipRest : {false, true}) {
    std::stringbuf tee;
    Fixture f(true, true, &tee);
    ASSERT_EQ(f.reader->NextPart(), PartFiles);
    EXPECT_FALSE(f.reader->unget());
    f.reader->clear();
    std::string content(kContent.size(), '\0');
    std::size_t first = skipRest ? kContent.size() : 2;
    f.reader->read(content.data(), first);
    EXPECT_TRUE(f.reader->putback(kContent[first - 1]));
    EXPECT_TRUE(f.reader->unget());
    if (!skipRest) {
      EXPECT_TRUE(f.reader->read(content.data(), content.size()));
      EXPECT_EQ(content, kContent);
    }
    EXPECT_EQ(f.reader->NextPart(), PartDescription);
    EXPECT_EQ(f.reader->get(), 'a');
    f.reader->ignore(4);
    EXPECT_EQ(f.reader->NextPart(), -1);
    EXPECT_EQ(f.Digest(), LibcryptoSha1(f.package)) << skipRest;
    EXPECT_EQ(tee.str(), f.container) << skipRest;
  }
}

TEST(PartBufTest, SeeksWithinThePartBackwardOnlyWhenNothingWatchesTheBytes) {
  struct Case {
    bool seekable;
    bool hashing;
    std::streamoff first;  // read position before the seek
    std::streamoff offset;
    std::ios_base::seekdir direction;
    std::streamoff expected;  // position after the seek, -1 when it fails
  } cases[] = {
      {true, false, 5, 3, std::ios_base::beg, 3},   {true, false, 5, -2, std::ios_base::cur, 3},
      {true, false, 5, 4, std::ios_base::end, 16},  {true, false, 5, 0, std::ios_base::end, 20},
      {true, false, 5, 21, std::ios_base::beg, -1}, {true, false, 5, -6, std::ios_base::cur, -1},
      {true, false, 5, -1, std::ios_base::end, -1}, {true, true, 5, 3, std::ios_base::beg, -1},
      {true, true, 5, -2, std::ios_base::cur, -1},  {true, true, 5, 9, std::ios_base::cur, 14},
      {true, true, 5, 1, std::ios_base::end, 19},   {false, false, 5, 3, std::ios_base::beg, -1},
      {false, false, 5, 4, std::ios_base::end, 16}, {false, false, 5, 0, std::ios_base::cur, 5},
      {false, true, 5, 15, std::ios_base::cur, 20}, {false, true, 5, 16, std::ios_base::cur, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.seekable << c.hashing << " " << c.offset << " from " << c.direction);
    Fixture f(c.seekable, c.hashing);
    ASSERT_EQ(f.reader->NextPart(), PartFiles);
    f.reader->ignore(c.first);
    bool moved = static_cast<bool>(f.reader->seekg(c.offset, c.direction));
    EXPECT_EQ(moved, c.expected >= 0);
    if (!moved) {
      continue;
    }
    EXPECT_EQ(f.reader->tellg(), c.expected);
    std::string rest(kContent.size() - c.expected, '\0');
    EXPECT_TRUE(f.reader->read(rest.data(), rest.size()));
    EXPECT_EQ(rest, kContent.substr(c.expected));
    EXPECT_EQ(f.reader->NextPart(), PartDescription);
    if (c.hashing) {
      f.reader->ignore(5);
      EXPECT_EQ(f.reader->NextPart(), -1);
      EXPECT_EQ(f.Digest(), LibcryptoSha1(f.package));
    }
  }
}

}  // namespace
