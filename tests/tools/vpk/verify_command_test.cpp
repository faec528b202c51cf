#include "tools/vpk/verify_command.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/package_builder.h"
#include "tests/support/stream_bytes.h"

namespace {

// The digest that the lookup below admits; set by each test.
std::string knownDigest;

bool IsTheKnownDigest(const std::uint8_t digest[kDigestSize]) {
  return knownDigest.size() == kDigestSize &&
         std::memcmp(digest, knownDigest.data(), kDigestSize) == 0;
}

TestPackage Member(const char* name) {
  TestPackage package(name, "1.0");
  package.File("/" + std::string(name), name);
  return package;
}

TEST(VerifyCommandTest, AcceptsSignedOrKnownPackagesAndSaysWhy) {
  TemporaryDirectory dir;
  ASSERT_TRUE(Member("signed").Write(dir / "signed.vpk", TestPackage::kSigned));
  ASSERT_TRUE(Member("plain").Write(dir / "plain.vpk"));
  ASSERT_TRUE(Member("known").Write(dir / "known.vpk"));
  ASSERT_TRUE(Member("quiet").Unrecorded().Write(dir / "quiet.vpk", TestPackage::kSigned));
  // An unsigned package's digest covers everything after the container header.
  knownDigest = LibcryptoSha1(ReadWholeTestFile(dir / "known.vpk").substr(8));
  std::string signedBytes = ReadWholeTestFile(dir / "signed.vpk");
  std::string flipped = signedBytes;
  flipped[flipped.size() - 1] ^= 0x80;
  ASSERT_TRUE(WriteTestFile(dir / "flipped.vpk", flipped));
  ASSERT_TRUE(WriteTestFile(dir / "padded.vpk", signedBytes + "\n"));
  ASSERT_TRUE(WriteTestFile(dir / "text.vpk", "hello, world\n"));
  ASSERT_TRUE(WriteTestFile(dir / "headerless.vpk", ContainerBytes(PartBytes(4, ""))));
  ASSERT_TRUE(
      WriteTestBundle(dir / "good.bpk", "base", "1.0", {dir / "signed.vpk", dir / "known.vpk"}));
  ASSERT_TRUE(
      WriteTestBundle(dir / "bad.bpk", "base", "1.0", {dir / "signed.vpk", dir / "plain.vpk"}));
  ASSERT_TRUE(WriteTestFile(dir / "empty.bpk", ContainerBytes(PartBytes(18, std::string(32, 'b')) +
                                                              PartBytes(20, "\0\0"))));
  struct Case {
    const char* file;
    bool accepted;
    const char* because;
  } cases[] = {
      {"signed.vpk", true, "'signed' signature verifies"},
      {"quiet.vpk", true, "'quiet' signature verifies"},
      {"known.vpk", true, " is in the known-digest table"},
      {"plain.vpk", false, " is not in the known-digest table"},
      {"flipped.vpk", false, "signature does not verify"},
      {"padded.vpk", false, "file size differs"},
      {"text.vpk", false, "not a package file"},
      {"headerless.vpk", false, "no package header part"},
      {"missing.vpk", false, "cannot open"},
      {"good.bpk", true, "bundle of 2 members: 'signed' signature verifies; 'known' is unsigned"},
      {"bad.bpk", false, "'plain' is unsigned; digest "},
      {"empty.bpk", false, "no package header part"},
  };
  for (const Case& c : cases) {
    std::string verdict;
    EXPECT_EQ(CheckPackageFile(dir / c.file, &verdict, IsTheKnownDigest), c.accepted) << c.file;
    EXPECT_NE(verdict.find(c.because), std::string::npos) << c.file << ": " << verdict;
  }
  std::string verdict;
  EXPECT_FALSE(CheckPackageFile(dir / "known.vpk", &verdict));  // the built-in table is empty
  EXPECT_NE(verdict.find(HexBytes(knownDigest.data(), kDigestSize)), std::string::npos);
}

}  // namespace
