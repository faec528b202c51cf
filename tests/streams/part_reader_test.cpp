#include "streams/part_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
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
  } cases[] = {{kContainerMagic, static_cast<std::uint32_t>(parts.size())},
               {kUnrecordedMagic, static_cast<std::uint32_t>(parts.size())},
               {kContainerMagic, 3},
               {kUnrecordedMagic, 0xfffffff0}};
  for (const Case& c : cases) {
    std::istringstream source(ContainerBytes(parts, c.magic, c.length));
    PartReader reader(source, true);
    EXPECT_EQ(reader.IsUnrecorded(), c.magic == kUnrecordedMagic);
    EXPECT_EQ(reader.TotalSize(), std::uint64_t{c.length} + 8);
    EXPECT_EQ(ReadAll(reader, {PartHeader, PartFiles}),
              (std::vector<Part>{{PartHeader, 14, "head"}, {PartFiles, 24, "files"}}));
  }
}

// A container cut at every length gives back the parts before the cut intact, then a shortened
// part at most, and never bytes that were not there.
TEST(PartReaderTest, HandlesAContainerCutAtEveryLength) {
  std::mt19937 random(3);
  std::string parts = PartBytes(PartHeader, RandomBytes(random, 40)) +
                      PartBytes(PartDependencies, RandomBytes(random, 9)) +
                      PartBytes(PartFiles, RandomBytes(random, 300));
  std::string container = ContainerBytes(parts);
  std::istringstream whole(container);
  PartReader wholeReader(whole, true);
  std::vector<Part> full = ReadAll(wholeReader, {PartHeader, PartDependencies, PartFiles});
  ASSERT_EQ(full.size(), 3u);
  for (std::size_t cut = 8; cut < container.size(); ++cut) {
    std::istringstream source(container.substr(0, cut));
    PartReader reader(source, true);
    std::vector<Part> read = ReadAll(reader, {PartHeader, PartDependencies, PartFiles});
    ASSERT_LE(read.size(), full.size()) << cut;
    for (std::size_t i = 0; i + 1 < read.size(); ++i) {
      EXPECT_EQ(read[i], full[i]) << "cut " << cut;
    }
    if (!read.empty()) {
      const std::string& last = std::get<2>(read.back());
      EXPECT_EQ(last, std::get<2>(full[read.size() - 1]).substr(0, last.size())) << cut;
    }
    EXPECT_NE(read, full) << cut;
  }
}

// Skipping goes through the reader while it hashes (the skipped bytes enter the digest) and seeks
// the source otherwise; a pipe cannot seek, so the reader reads through there as well.
TEST(PartReaderTest, SkipsPartsNotAcceptedAndHashesTheirBytes) {
  std::string package = PartBytes(PartHeader, "h") + PartBytes(300, std::string(5000, 'u')) +
                        PartBytes(5, "five") + PartBytes(PartImage, std::string(10000, 'i')) +
                        PartBytes(PartFiles, "f");
  std::string container = ContainerBytes(package);
  for (bool hashing : {false, true}) {
    std::istringstream seekable(container);
    PipeBuf pipeBuf(container, 7);
    std::istream pipe(&pipeBuf);
    for (std::istream* source : {static_cast<std::istream*>(&seekable), &pipe}) {
      PartReader reader(*source, hashing);
      EXPECT_EQ(ReadAll(reader, {PartFiles, PartHeader}),
                (std::vector<Part>{{PartHeader, 14, "h"}, {PartFiles, 15043, "f"}}));
      EXPECT_EQ(Digest(reader), hashing ? LibcryptoSha1(package) : "none");
      EXPECT_EQ(Digest(reader), "none");
    }
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
  std::string bundle = PartBytes(PartBundleHeader, "bundle");
  std::istringstream source(ContainerBytes(bundle + first + second));
  PartReader reader(source, true);
  reader.AcceptPartType(PartHeader);
  reader.AcceptPartType(PartFiles);
  ASSERT_EQ(reader.NextPart(), PartHeader);
  EXPECT_EQ(Digest(reader), LibcryptoSha1(bundle));
  ASSERT_EQ(reader.NextPart(), PartFiles);
  ASSERT_EQ(reader.NextPart(), PartHeader);
  EXPECT_EQ(Digest(reader), LibcryptoSha1(first));
  EXPECT_EQ(Digest(reader), "none");
  ASSERT_EQ(reader.NextPart(), PartFiles);
  EXPECT_EQ(Digest(reader), "none");
  EXPECT_EQ(reader.NextPart(), -1);
  EXPECT_EQ(Digest(reader), LibcryptoSha1(second));
}

// A signed package: the digest covers the package through the signature part's header; the
// signature starts with a copy of it and may be followed by extra bytes.
struct SignedPackage {
  std::string hashed;
  std::string container;
};

SignedPackage MakeSignedPackage(bool copyMatches, std::size_t signatureSize) {
  std::mt19937 random(4);
  std::string hashed = PartBytes(PartHeader, "header") +
                       PartBytes(PartFiles, RandomBytes(random, 999)) +
                       PartBytes(PartSignature, std::string(signatureSize, '\0')).substr(0, 6);
  std::string signature = LibcryptoSha1(hashed) + RandomBytes(random, 48);
  signature[19] ^= copyMatches ? 0 : 1;
  signature.resize(signatureSize, 'x');
  return {hashed, ContainerBytes(hashed + signature)};
}

TEST(PartReaderTest, SignatureBytesAreNotHashedButCopiedToTheTee) {
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

// Each case fails before the curve check; the bytes it did not consume stay readable.
TEST(PartReaderTest, VerifySignatureFailsBeforeTheCurveCheck) {
  struct Case {
    const char* what;
    bool hashing;
    bool copyMatches;
    std::size_t size;
    int part;
    std::size_t leftUnread;
  } cases[] = {
      {"hashing off", false, true, 68, PartSignature, 68},
      {"digest copy differs", true, false, 68, PartSignature, 0},
      {"part of 67 bytes", true, true, 67, PartSignature, 67},
      {"not a signature part", true, true, 68, PartFiles, 999},
  };
  for (const Case& c : cases) {
    std::istringstream source(MakeSignedPackage(c.copyMatches, c.size).container);
    PartReader reader(source, c.hashing);
    reader.AcceptPartType(c.part);
    ASSERT_EQ(reader.NextPart(), c.part);
    EXPECT_FALSE(reader.VerifySignature()) << c.what;
    EXPECT_EQ(ReadRest(reader).size(), c.leftUnread) << c.what;
    if (!c.hashing) {
      EXPECT_EQ(Digest(reader), "none");
    }
  }
}

}  // namespace
