#include "tools/vpk/verify_command.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/package_builder.h"
#include "tests/support/stream_bytes.h"

namespace {

// The digest that the lookup below admits.
std::string knownDigest;

bool IsTheKnownDigest(const std::uint8_t digest[kDigestSize]) {
  return knownDigest.size() == kDigestSize &&
         std::memcmp(digest, knownDigest.data(), kDigestSize) == 0;
}

TEST(VerifyCommandTest, AcceptsSignedOrKnownPackagesAndSaysWhy) {
  TemporaryDirectory dir;
  ASSERT_TRUE(TestPackage("signed", "1.0").Write(dir / "signed.vpk", TestPackage::kSigned));
  ASSERT_TRUE(TestPackage("plain", "1.0").Write(dir / "plain.vpk"));
  ASSERT_TRUE(TestPackage("known", "1.0").Write(dir / "known.vpk"));
  // An unsigned package's digest covers everything after the container header.
  knownDigest = LibcryptoSha1(ReadWholeTestFile(dir / "known.vpk").substr(8));
  std::string signedBytes = ReadWholeTestFile(dir / "signed.vpk");
  std::string flipped = signedBytes;
  flipped.back() ^= 0x80;
  ASSERT_TRUE(WriteTestFile(dir / "flipped.vpk", flipped));
  ASSERT_TRUE(WriteTestFile(dir / "padded.vpk", signedBytes + "\n"));
  ASSERT_TRUE(
      WriteTestBundle(dir / "good.bpk", "base", "1.0", {dir / "signed.vpk", dir / "known.vpk"}));
  ASSERT_TRUE(
      WriteTestBundle(dir / "bad.bpk", "base", "1.0", {dir / "signed.vpk", dir / "plain.vpk"}));
  struct Case {
    const char* file;
    bool accepted;
    const char* because;
  } cases[] = {
      {"signed.vpk", true, "'signed' signature verifies"},
      {"known.vpk", true, " is in the known-digest table"},
      {"plain.vpk", false, " is not in the known-digest table"},
      {"flipped.vpk", false, "signature does not verify"},
      {"padded.vpk", false, "file size differs"},
      {"missing.vpk", false, "cannot open"},
      {"good.bpk", true, "bundle of 2 members: 'signed' signature verifies; 'known' is unsigned"},
      {"bad.bpk", false, "'plain' is unsigned; digest "},
  };
  for (const Case& c : cases) {
    std::string verdict;
    EXPECT_EQ(CheckPackageFile(dir / c.file, &verdict, IsTheKnownDigest), c.accepted) << c.file;
    EXPECT_NE(verdict.find(c.because), std::string::npos) << c.file << ": " << verdict;
  }
  std::string verdict;
  EXPECT_FALSE(CheckPackageFile(dir / "known.vpk",
                                &verdict));  // the built-in table is empty
  EXPECT_NE(verdict.find(HexBytes(knownDigest.data(), kDigestSize)), std::string::npos);
}

}  // namespace
