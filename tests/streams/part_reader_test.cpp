#include "streams/part_reader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>
#include <vector>

#include "tests/support/stream_bytes.h"

namespace {

// Type, content offset and content of a part as the reader delivered it.
using Part = std::tuple<int, std::uint64_t, std::string>;

std::string ReadRest(PartReader& reader) {
  std::string content(reader.PartLength() - reader.tellg(), '\0');
  reader.read(content.data(), content.size());
  content.resize(reader.gcount());
  return content;
}

std::vector<Part> ReadAll(PartReader& reader, const std::vector<int>& accepted) {
  for (int type : accepted) {
    reader.AcceptPartType(type);
  }
  std::vector<Part> parts;
  while (reader.NextPart() >= 0) {
    parts.emplace_back(reader.CurrentType(), reader.PartOffset(), ReadRest(reader));
  }
  return parts;
}

std::string Digest(PartReader& reader) {
  std::uint8_t digest[20];
  return reader.TakeDigest(digest) ? std::string(reinterpret_cast<char*>(digest), 20) : "none";
}

// The length field is only reported, never trusted. A tee that takes only the bytes before a cut
// stops the reader and withholds the digest, so a package whose copy failed is never accepted.
TEST(PartReaderTest, ReadsAContainerOrATeeCutAtEveryLength) {
  std::mt19937 random(3);
  std::string package = PartBytes(PartHeader, RandomBytes(random, 40)) +
                        PartBytes(PartDependencies, RandomBytes(random, 9)) +
                        PartBytes(PartFiles, RandomBytes(random, 300));
  std::string container = ContainerBytes(package, kUnrecordedMagic, 3);
  const std::vector<int> types = {PartHeader, PartDependencies, PartFiles};
  std::istringstream whole(container);
  PartReader wholeReader(whole, Hashing::kOn);
  EXPECT_TRUE(wholeReader.IsUnrecorded());
  EXPECT_EQ(wholeReader.TotalSize(), 11u);
  std::vector<Part> full = ReadAll(wholeReader, types);
  ASSERT_EQ(full.size(), 3u);
  EXPECT_EQ(std::get<1>(full[2]), 8u + 46 + 15 + 6);
  EXPECT_EQ(Digest(wholeReader), LibcryptoSha1(package));
  std::istringstream empty(ContainerBytes("")), other(ContainerBytes(package, 0x1ef1d0ba));
  PartReader emptyReader(empty, Hashing::kOn), otherReader(other, Hashing::kOn);
  EXPECT_EQ(emptyReader.NextPart(), -1);
  EXPECT_EQ(Digest(emptyReader), LibcryptoSha1(""));
  EXPECT_TRUE(otherReader.bad());
  EXPECT_EQ(ReadAll(otherReader, types), std::vector<Part>{});
  for (std::size_t cut = 0; cut < container.size(); ++cut) {
    std::istringstream source(container.substr(0, cut)), teed(container);
    PartReader reader(source, Hashing::kOn);
    EXPECT_EQ(reader.bad(), cut < 8) << cut;
    std::vector<Part> read = ReadAll(reader, types);
    ASSERT_LE(read.size(), full.size()) << cut;
    for (std::size_t i = 0; i + 1 < read.size(); ++i) {
      EXPECT_EQ(read[i], full[i]) << "cut " << cut;
    }
    if (!read.empty()) {
      const std::string& last = std::get<2>(read.back());
      EXPECT_EQ(last, std::get<2>(full[read.size() - 1]).substr(0, last.size())) << cut;
    }
    EXPECT_NE(read, full) << cut;
    LimitedSink tee(cut);
    PartReader teeReader(teed, Hashing::kOn, &tee);
    ReadAll(teeReader, types);
    EXPECT_EQ(Digest(teeReader), "none") << cut;
    EXPECT_EQ(tee.written, source.str()) << cut;
  }
}

// In a bundle, each type-1 part header ends the digest of what came before it. Parts not
// accepted are skipped: read through and hashed with hashing on, sought past otherwise.
TEST(PartReaderTest, HandsOutEachPackageDigestOnceWhenPackagesFollowEachOther) {
  std::string bundle = PartBytes(PartBundleHeader, "bundle");
  std::string first = PartBytes(PartHeader, "first") + PartBytes(300, std::string(5000, 'u'));
  std::string second = PartBytes(PartHeader, "second") + PartBytes(PartFiles, "two");
  for (bool hashing : {true, false}) {
    std::istringstream source(ContainerBytes(bundle + first + second));
    PartReader reader(source, hashing ? Hashing::kOn : Hashing::kOff);
    reader.AcceptPartType(PartHeader);
    ASSERT_EQ(reader.NextPart(), PartHeader);
    EXPECT_EQ(Digest(reader), hashing ? LibcryptoSha1(bundle) : "none");
    ASSERT_EQ(reader.NextPart(), PartHeader);
    EXPECT_EQ(Digest(reader), hashing ? LibcryptoSha1(first) : "none");
    EXPECT_EQ(Digest(reader), "none");
    EXPECT_EQ(reader.NextPart(), -1);
    EXPECT_EQ(Digest(reader), hashing ? LibcryptoSha1(second) : "none");
  }
}

// The digest covers the package through the signature part's header; the signature's 68 bytes
// (a copy of the digest, then r and v, random here) are not hashed but teed, and bytes past them
// start the next digest. A short part or a wrong copy fails before the curve check.
TEST(PartReaderTest, VerifySignatureHashesUpToTheSignatureAndChecksTheCopy) {
  struct Case {
    std::size_t size;
    bool copyMatches;
    std::size_t leftUnread;
  } cases[] = {{70, true, 2}, {68, false, 0}, {67, true, 67}};
  for (const Case& c : cases) {
    std::mt19937 random(4);
    std::string hashed = PartBytes(PartHeader, "header") +
                         PartBytes(PartFiles, RandomBytes(random, 999)) +
                         PartBytes(PartSignature, std::string(c.size, '\0')).substr(0, 6);
    std::string signature = LibcryptoSha1(hashed) + RandomBytes(random, 48);
    signature[19] ^= c.copyMatches ? 0 : 1;
    signature.resize(c.size, 'x');
    std::istringstream source(ContainerBytes(hashed + signature));
    std::stringbuf tee;
    PartReader reader(source, Hashing::kOn, &tee);
    reader.AcceptPartType(PartSignature);
    ASSERT_EQ(reader.NextPart(), PartSignature);
    EXPECT_FALSE(reader.VerifySignature()) << c.size;
    EXPECT_EQ(Digest(reader), LibcryptoSha1(hashed)) << c.size;
    std::string rest = ReadRest(reader);
    EXPECT_EQ(rest, signature.substr(c.size - c.leftUnread)) << c.size;
    EXPECT_EQ(reader.NextPart(), -1);
    EXPECT_EQ(Digest(reader), LibcryptoSha1(rest)) << c.size;
    EXPECT_EQ(tee.str(), source.str()) << c.size;
  }
}

}  // namespace
