#include "tools/vpk/package_signing.h"

#include <gtest/gtest.h>

#include <sstream>

#include "streams/part_reader.h"
#include "tests/support/package_builder.h"
#include "tests/support/stream_bytes.h"

namespace {

TestPackage SmallPackage() {
  return std::move(TestPackage("ppp", "2.9.5").Depends("system>=2.9").File("/etc/options", "x"));
}

// Whether a reader that installs the package would accept its signature.
bool SignatureAccepted(const std::string& bytes) {
  std::istringstream source(bytes);
  PartReader reader(source, Hashing::kOn);
  reader.AcceptPartType(PartSignature);
  return reader.NextPart() == PartSignature && reader.VerifySignature();
}

// The digest copy is SHA-1 from the type-1 part header through the signature part's own header;
// what cannot be signed is left as it was.
TEST(PackageSigningTest, SignatureCoversHeaderThroughItsOwnPartHeader) {
  TemporaryDirectory dir;
  ASSERT_TRUE(SmallPackage().Write(dir / "ppp.vpk"));
  std::string plain = ReadWholeTestFile(dir / "ppp.vpk");
  ASSERT_TRUE(WriteTestBundle(dir / "bundle.bpk", "base", "2.9", {dir / "ppp.vpk"}));
  ASSERT_TRUE(WriteTestFile(dir / "cut.vpk", plain.substr(0, plain.size() - 1)));
  ASSERT_TRUE(WriteTestFile(dir / "text.vpk", "not a package at all"));
  ASSERT_TRUE(SignWithTestKey(dir / "ppp.vpk"));
  std::string signed_ = ReadWholeTestFile(dir / "ppp.vpk");
  std::string hashed = plain.substr(8) + std::string("\x09\x00\x44\x00\x00\x00", 6);
  ASSERT_EQ(signed_.size(), plain.size() + 6 + 68);
  EXPECT_TRUE(
      SameBytes(ContainerBytes(hashed, kContainerMagic, signed_.size() - 8) + LibcryptoSha1(hashed),
                signed_.substr(0, plain.size() + 26)));
  EXPECT_TRUE(SignatureAccepted(signed_));
  for (std::size_t i = 8; i < signed_.size(); ++i) {
    std::string changed = signed_;
    changed[i] ^= 0x01;
    EXPECT_FALSE(SignatureAccepted(changed)) << "byte " << i << " of " << signed_.size();
  }
  std::uint8_t key[kPrivateKeySize];
  ASSERT_TRUE(ReadPrivateKey(VELA_SOURCE_DIR "/keys/private_key.hex", key));
  for (const char* name : {"ppp.vpk", "bundle.bpk", "cut.vpk", "text.vpk"}) {
    std::string before = ReadWholeTestFile(dir / name);
    EXPECT_FALSE(SignPackageFile(dir / name, key)) << name;
    EXPECT_EQ(ReadWholeTestFile(dir / name), before) << name;
  }
}

}  // namespace
