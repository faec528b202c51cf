#include "tools/vpk/package_signing.h"

#include <gtest/gtest.h>

#include <sstream>

#include "streams/part_reader.h"
#include "tests/support/package_builder.h"
#include "tests/support/stream_bytes.h"
#include "tools/vpk/bundle_writer.h"

namespace {

TestPackage SmallPackage() {
  TestPackage package("ppp", "2.9.5");
  package.Depends("system>=2.9").InstallScript("echo on\n");
  package.Directory("/etc").File("/etc/options", "lock\n").Link("/bin/pppd", "ppp");
  return package;
}

// Whether a reader that installs the package would accept its signature.
bool SignatureAccepted(const std::string& bytes) {
  std::istringstream source(bytes);
  PartReader reader(source, true);
  for (int type : {1, 3, 4, 7, 9}) {
    reader.AcceptPartType(type);
  }
  int type = reader.NextPart();
  while (type != -1 && type != PartSignature) {
    type = reader.NextPart();
  }
  return type == PartSignature && reader.VerifySignature();
}

std::uint32_t LengthField(const std::string& bytes) {
  std::uint32_t length = 0;
  for (int i = 7; i >= 4; --i) {
    length = (length << 8) | static_cast<std::uint8_t>(bytes[i]);
  }
  return length;
}

TEST(PackageSigningTest, SignatureCoversHeaderThroughItsOwnPartHeader) {
  TemporaryDirectory dir;
  ASSERT_TRUE(SmallPackage().Write(dir / "ppp.vpk"));
  std::string unsigned_ = ReadWholeTestFile(dir / "ppp.vpk");
  ASSERT_TRUE(SignWithTestKey(dir / "ppp.vpk"));
  std::string signed_ = ReadWholeTestFile(dir / "ppp.vpk");
  ASSERT_EQ(signed_.size(), unsigned_.size() + 6 + 68);
  EXPECT_EQ(LengthField(signed_), signed_.size() - 8);
  EXPECT_EQ(signed_.substr(8, unsigned_.size() - 8), unsigned_.substr(8));
  std::string signatureHeader = std::string("\x09\x00\x44\x00\x00\x00", 6);
  EXPECT_EQ(signed_.substr(unsigned_.size(), 6), signatureHeader);
  // The digest copy is SHA-1 of everything from the type-1 part header through that header.
  EXPECT_EQ(signed_.substr(unsigned_.size() + 6, 20),
            LibcryptoSha1(unsigned_.substr(8) + signatureHeader));
  EXPECT_TRUE(SignatureAccepted(signed_));
}

TEST(PackageSigningTest, AFlippedByteAnywhereAfterTheContainerHeaderRefuses) {
  std::string bytes = SmallPackage().Bytes(TestPackage::kSigned);
  ASSERT_TRUE(SignatureAccepted(bytes));
  for (std::size_t i = 8; i < bytes.size(); ++i) {
    std::string changed = bytes;
    changed[i] ^= 0x01;
    EXPECT_FALSE(SignatureAccepted(changed)) << "byte " << i << " of " << bytes.size();
  }
}

TEST(PackageSigningTest, RefusesWhatItCannotSignAndLeavesItUnchanged) {
  TemporaryDirectory dir;
  ASSERT_TRUE(SmallPackage().Write(dir / "signed.vpk", TestPackage::kSigned));
  ASSERT_TRUE(SmallPackage().Write(dir / "member.vpk"));
  PackageInfo bundle("base");
  bundle.version = 0x02096600;
  BundleContents contents;
  contents.memberFiles = {dir / "member.vpk"};
  ASSERT_TRUE(WriteBundleFile(dir / "bundle.bpk", bundle, contents));
  std::string package = ReadWholeTestFile(dir / "member.vpk");
  ASSERT_TRUE(WriteTestFile(dir / "cut.vpk", package.substr(0, package.size() - 1)));
  ASSERT_TRUE(WriteTestFile(dir / "padded.vpk", package + "x"));
  ASSERT_TRUE(WriteTestFile(dir / "text.vpk", "not a package at all"));
  ASSERT_TRUE(WriteTestFile(dir / "headerless.vpk", ContainerBytes(PartBytes(2, "d"))));
  std::uint8_t key[kPrivateKeySize];
  ASSERT_TRUE(ReadPrivateKey(VELA_SOURCE_DIR "/keys/private_key.hex", key));
  for (const char* name :
       {"signed.vpk", "bundle.bpk", "cut.vpk", "padded.vpk", "text.vpk", "headerless.vpk"}) {
    std::string before = ReadWholeTestFile(dir / name);
    EXPECT_FALSE(SignPackageFile(dir / name, key)) << name;
    EXPECT_EQ(ReadWholeTestFile(dir / name), before) << name;
  }
}

TEST(PackageSigningTest, TellsWhetherAKeyIsTheBuiltInOne) {
  std::uint8_t key[kPrivateKeySize];
  ASSERT_TRUE(ReadPrivateKey(VELA_SOURCE_DIR "/keys/private_key.hex", key));
  EXPECT_TRUE(MatchesBuiltInKey(key, "test key"));
  key[0] ^= 1;
  EXPECT_FALSE(MatchesBuiltInKey(key, "changed key"));
}

}  // namespace
