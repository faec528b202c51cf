#include "streams/part_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/stream_bytes.h"

namespace {

using Parts = std::vector<std::pair<int, std::string>>;

std::string ReadRest(PartReader& reader) {
  std::string content(reader.PartLength() - reader.tellg(), '\0');
  reader.read(content.data(), content.size());
  content.resize(reader.gcount());
  return content;
}

// Accepts the given types and reads every accepted part to its end.
Parts ReadAll(PartReader& reader, const std::vector<int>& accepted) {
  for (int type : accepted) {
    reader.AcceptPartType(type);
  }
  Parts parts;
  for (int type = reader.NextPart(); type >= 0; type = reader.NextPart()) {
    parts.emplace_back(type, ReadRest(reader));
  }
  return parts;
}

std::string Digest(PartReader& reader) {
  std::uint8_t digest[20];
  return reader.TakeDigest(digest) ? std::string(reinterpret_cast<char*>(digest), 20) : "none";
}

TEST(PartReaderTest, RefusesBadMagicAndShortHeaders) {
  std::string good = ContainerBytes(PartBytes(PartHeader, "x"));
  std::vector<std::string> inputs = {ContainerBytes(PartBytes(PartHeader, "x"), 0x1ef1d0ba)};
  for (std::size_t size = 0; size < 8; ++size) {
    inputs.push_back(good.substr(0, size));
  }
  for (const std::string& input : inputs) {
    std::istringstream source(input);
    PartReader reader(source, true);
    reader.AcceptPartType(PartHeader);
    EXPECT_TRUE(reader.bad()) << HexBytes(input.data(), input.size());
    EXPECT_EQ(reader.NextPart(), -1);
    EXPECT_EQ(reader.CurrentType(), -1);
  }
}

TEST(PartReaderTest, ReadsBothMagicsAndTrustsNoLengthField) {
  std::string parts = PartBytes(PartHeader, "head") + PartBytes(PartFiles, "files");
  struct Case {
    std::uint32_t magic;
    std::uint32_t length;
    bool unrecorded;
  } cases[] = {{kContainerMagic, static_cast<std::uint32_t>(parts.size()), false},
               {kUnrecordedMagic, static_cast<std::uint32_t>(parts.size()), true},
               {kContainerMagic, 3, false},
               {kContainerMagic, 0xfffffff0, false}};
  for (const Case& c : cases) {
    std::istringstream source(ContainerBytes(parts, c.magic, c.length));
    PartReader reader(source, true);
    EXPECT_EQ(reader.IsUnrecorded(), c.unrecorded);
    EXPECT_EQ(reader.TotalSize(), std::uint64_t{c.length} + 8);
    EXPECT_EQ(ReadAll(reader, {PartHeader, PartFiles}),
              (Parts{{PartHeader, "head"}, {PartFiles, "files"}}));
  }
}

TEST(PartReaderTest, SkipsPartsNotAcceptedWhetherTheSourceSeeksOrNot) {
  std::string container =
      ContainerBytes(PartBytes(PartHeader, "h") + PartBytes(300, std::string(5000, 'u')) +
                     PartBytes(PartDescription, "d") + PartBytes(5, "five") +
                     PartBytes(PartImage, std::string(10000, 'i')) + PartBytes(PartFiles, "f"));
  for (bool hashing : {false, true}) {
    std::istringstream seekable(container);
    PipeBuf pipeBuf(container, 7);
    std::istream pipe(&pipeBuf);
    for (std::istream* source : {static_cast<std::istream*>(&seekable), &pipe}) {
      PartReader reader(*source, hashing);
      EXPECT_EQ(ReadAll(reader, {PartFiles, PartHeader}),
                (Parts{{PartHeader, "h"}, {PartFiles, "f"}}));
    }
  }
}

TEST(PartReaderTest, ReportsOffsetAndLengthOfEachPart) {
  std::istringstream source(ContainerBytes(PartBytes(PartHeader, "abc") + PartBytes(PartFiles, "") +
                                           PartBytes(PartSignature, "0123456789")));
  PartReader walker(source, false);
  std::vector<std::pair<std::uint64_t, std::uint32_t>> seen;
  for (int type : {PartHeader, PartFiles, PartSignature}) {
    walker.AcceptPartType(type);
  }
  while (walker.NextPart() >= 0) {
    seen.emplace_back(walker.PartOffset(), walker.PartLength());
  }
  EXPECT_EQ(seen,
            (std::vector<std::pair<std::uint64_t, std::uint32_t>>{{14, 3}, {23, 0}, {29, 10}}));
}

TEST(PartReaderTest, StopsEachReadAtThePartEndAndGoesOnWithTheNextPart) {
  std::istringstream source(ContainerBytes(PartBytes(PartHeader, "line one\nline two") +
                                           PartBytes(PartFiles, "42 rest")));
  PartReader reader(source, true);
  reader.AcceptPartType(PartHeader);
  reader.AcceptPartType(PartFiles);
  ASSERT_EQ(reader.NextPart(), PartHeader);
  std::string line;
  EXPECT_TRUE(std::getline(reader, line));
  EXPECT_EQ(line, "line one");
  EXPECT_TRUE(std::getline(reader, line));
  EXPECT_EQ(line, "line two");
  EXPECT_TRUE(reader.eof());
  ASSERT_EQ(reader.NextPart(), PartFiles);
  int number = 0;
  reader >> number >> line;
  EXPECT_EQ(number, 42);
  EXPECT_EQ(line, "rest");
  EXPECT_EQ(reader.NextPart(), -1);
  EXPECT_TRUE(reader.eof() && reader.fail());
}

// A container cut at every length must give back the parts before the cut intact, a shortened
// last part, and the end, never bytes that were not there.
TEST(PartReaderTest, HandlesAContainerCutAtEveryLength) {
  std::mt19937 random(3);
  Parts full = {{PartHeader, RandomBytes(random, 40)},
                {PartDependencies, RandomBytes(random, 9)},
                {PartFiles, RandomBytes(random, 300)}};
  std::string parts;
  for (const auto& [type, content] : full) {
    parts += PartBytes(type, content);
  }
  std::string container = ContainerBytes(parts);
  for (std::size_t cut = 8; cut <= container.size(); ++cut) {
    std::istringstream source(container.substr(0, cut));
    PartReader reader(source, true);
    Parts read = ReadAll(reader, {PartHeader, PartDependencies, PartFiles});
    ASSERT_LE(read.size(), full.size()) << cut;
    for (std::size_t i = 0; i < read.size(); ++i) {
      EXPECT_EQ(read[i].first, full[i].first);
      bool last = i + 1 == read.size();
      EXPECT_EQ(read[i].second,
                last ? full[i].second.substr(0, read[i].second.size()) : full[i].second)
          << "cut " << cut << " part " << i;
    }
    if (cut < container.size()) {
      EXPECT_NE(read, full) << cut;
    } else {
      EXPECT_EQ(read, full);
    }
  }
}

TEST(PartReaderTest, DigestOfAnUnsignedPackageCoversSkippedParts) {
  std::string package = PartBytes(PartHeader, "header") + PartBytes(PartImage, "image bytes") +
                        PartBytes(PartFiles, "files");
  for (const std::vector<int>& accepted : {std::vector<int>{PartHeader, PartImage, PartFiles},
                                           std::vector<int>{PartFiles}, std::vector<int>{}}) {
    std::istringstream source(ContainerBytes(package));
    PartReader reader(source, true);
    ReadAll(reader, accepted);
    EXPECT_EQ(Digest(reader), LibcryptoSha1(package)) << accepted.size() << " types accepted";
  }
}

TEST(PartReaderTest, DigestOfAnEmptyStreamIsThatOfNoBytes) {
  std::istringstream source(ContainerBytes(""));
  PartReader reader(source, true);
  EXPECT_EQ(reader.NextPart(), -1);
  EXPECT_EQ(Digest(reader), LibcryptoSha1(""));
}

TEST(PartReaderTest, HandsOutEachPackageDigestOnceWhenPackagesFollowEachOther) {
  std::string first = PartBytes(PartHeader, "first") + PartBytes(PartFiles, "one");
  std::string second = PartBytes(PartHeader, "second") + PartBytes(PartFiles, "two");
  std::istringstream source(ContainerBytes(PartBytes(PartBundleHeader, "bundle") + first + second));
  PartReader reader(source, true);
  reader.AcceptPartType(PartHeader);
  reader.AcceptPartType(PartFiles);
  ASSERT_EQ(reader.NextPart(), PartHeader);
  ASSERT_EQ(reader.NextPart(), PartFiles);
  EXPECT_EQ(Digest(reader), LibcryptoSha1(PartBytes(PartBundleHeader, "bundle")));
  ASSERT_EQ(reader.NextPart(), PartHeader);
  EXPECT_EQ(Digest(reader), LibcryptoSha1(first));
  EXPECT_EQ(Digest(reader), "none");
  ASSERT_EQ(reader.NextPart(), PartFiles);
  EXPECT_EQ(Digest(reader), "none");
  EXPECT_EQ(reader.NextPart(), -1);
  EXPECT_EQ(Digest(reader), LibcryptoSha1(second));
}

TEST(PartReaderTest, HashingOffHandsOutNoDigest) {
  std::istringstream source(
      ContainerBytes(PartBytes(PartHeader, "a") + PartBytes(PartHeader, "b")));
  PartReader reader(source, false);
  ReadAll(reader, {PartHeader});
  EXPECT_EQ(Digest(reader), "none");
}

// A signed package: digest D over the package through the signature part's header, then the 68
// signature bytes (D's copy first) and, for a longer part, extra bytes.
struct SignedPackage {
  std::string hashed;
  std::string container;
};

SignedPackage MakeSignedPackage(bool copyMatches, std::size_t signatureSize) {
  std::mt19937 random(4);
  std::string body =
      PartBytes(PartHeader, "header") + PartBytes(PartFiles, RandomBytes(random, 999));
  std::string signatureHeader =
      PartBytes(PartSignature, std::string(signatureSize, '\0')).substr(0, 6);
  std::string hashed = body + signatureHeader;
  std::string signature = LibcryptoSha1(hashed) + RandomBytes(random, 48);
  if (!copyMatches) {
    signature[19] ^= 1;
  }
  signature.resize(signatureSize, 'x');
  return {hashed, ContainerBytes(hashed + signature)};
}

TEST(PartReaderTest, SignatureBytesAreReadUnhashedAndCopiedToTheTee) {
  SignedPackage package = MakeSignedPackage(true, 68 + 2);
  std::istringstream source(package.container);
  std::stringbuf tee;
  PartReader reader(source, true, &tee);
  reader.AcceptPartType(PartSignature);
  ASSERT_EQ(reader.NextPart(), PartSignature);
  reader.VerifySignature();
  EXPECT_EQ(Digest(reader), LibcryptoSha1(package.hashed));
  EXPECT_EQ(ReadRest(reader), "xx");
  EXPECT_EQ(reader.NextPart(), -1);
  EXPECT_EQ(Digest(reader), LibcryptoSha1("xx"));
  EXPECT_EQ(tee.str(), package.container);
}

TEST(PartReaderTest, VerifySignatureFailsBeforeTheCurveCheck) {
  struct Case {
    const char* what;
    bool hashing;
    bool copyMatches;
    std::size_t size;
    std::size_t leftUnread;
  } cases[] = {
      {"hashing off", false, true, 68, 68},
      {"digest copy differs", true, false, 68, 0},
      {"part of 67 bytes", true, true, 67, 67},
  };
  for (const Case& c : cases) {
    std::istringstream source(MakeSignedPackage(c.copyMatches, c.size).container);
    PartReader reader(source, c.hashing);
    reader.AcceptPartType(PartSignature);
    ASSERT_EQ(reader.NextPart(), PartSignature);
    EXPECT_FALSE(reader.VerifySignature()) << c.what;
    EXPECT_EQ(ReadRest(reader).size(), c.leftUnread) << c.what;
  }
}

TEST(PartReaderTest, VerifySignatureRefusesAPartThatIsNoSignature) {
  SignedPackage package = MakeSignedPackage(true, 68);
  std::istringstream source(package.container);
  PartReader reader(source, true);
  reader.AcceptPartType(PartFiles);
  ASSERT_EQ(reader.NextPart(), PartFiles);
  EXPECT_FALSE(reader.VerifySignature());
  EXPECT_EQ(ReadRest(reader).size(), 999u);
}

}  // namespace
