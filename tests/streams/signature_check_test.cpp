#include "streams/signature_check.h"

#include <gtest/gtest.h>

#include <functional>

#include "streams/key_material.h"
#include "tests/streams/crypto_test_support.h"
#include "tools/vpk/group_order.h"
#include "tools/vpk/signer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const char* kOrderDecimal =
    "7237005577332262213973186563042994240857116359379907606001950938285454250989";

class SignatureCheckTest : public testing::Test {
 protected:
  void SetUp() override {
    std::uint8_t key[kPrivateKeySize], publicKey[kPrivateKeySize];
    ASSERT_TRUE(ReadPrivateKey(VELA_SOURCE_DIR "/keys/private_key.hex", key));
    EvenPrivateKey(key, scalar_, publicKey);
    ModOrderNegate(scalar_, negated_);
  }

  Bytes Sign(const std::uint8_t* scalar, const std::uint32_t* words, const Bytes& digest,
             const Bytes& nonce) {
    Bytes signature(kSignatureSize);
    SignDigestWith(scalar, nonce.data(), words, digest.data(), signature.data());
    return signature;
  }

  std::uint8_t scalar_[kPrivateKeySize];
  std::uint8_t negated_[kPrivateKeySize];
};

TEST_F(SignatureCheckTest, AcceptsWhatTheSignerMadeAndNothingElse) {
  struct Case {
    const char* name;
    bool holds;
    // Turns a fresh good signature (and the digest it was made for) into the case's input.
    std::function<void(Bytes& digest, Bytes& signature, const Bytes& nonce)> make;
  } cases[] = {
      {"made by the signer", true, [](Bytes&, Bytes&, const Bytes&) {}},
      {"v plus the group order", true,
       [](Bytes&, Bytes& s, const Bytes&) {
         Bytes order = BigNumber(kOrderDecimal).Bytes();
         unsigned carry = 0;
         for (int i = 0; i < 32; ++i) {
           carry += s[static_cast<std::size_t>(36 + i)] + order[static_cast<std::size_t>(i)];
           s[static_cast<std::size_t>(36 + i)] = static_cast<std::uint8_t>(carry);
           carry >>= 8;
         }
       }},
      {"key point with odd y (negated scalar)", false,
       [this](Bytes& d, Bytes& s, const Bytes& n) {
         s = Sign(negated_, signatureHashWords, d, n);
       }},
      {"hash with the standard SHA-256 words", false,
       [this](Bytes& d, Bytes& s, const Bytes& n) { s = Sign(scalar_, sha256Words, d, n); }},
      {"first byte of r changed", false, [](Bytes&, Bytes& s, const Bytes&) { s[20] ^= 1; }},
      {"last byte of r changed", false, [](Bytes&, Bytes& s, const Bytes&) { s[35] ^= 0x80; }},
      {"first byte of v changed", false, [](Bytes&, Bytes& s, const Bytes&) { s[36] ^= 1; }},
      {"top bit of v set", false, [](Bytes&, Bytes& s, const Bytes&) { s[67] ^= 0x80; }},
      {"another digest", false, [](Bytes& d, Bytes&, const Bytes&) { d[19] ^= 4; }},
  };
  std::mt19937_64 random(8);
  for (int round = 0; round < 4; ++round) {
    Bytes digest = RandomBytes(random, kDigestSize), wide = RandomBytes(random, 64), nonce(32);
    ModOrderReduceWide(wide.data(), nonce.data());
    for (const Case& c : cases) {
      Bytes d = digest, s = Sign(scalar_, signatureHashWords, digest, nonce);
      c.make(d, s, nonce);
      EXPECT_EQ(SignatureEquationHolds(d.data(), s.data()), c.holds) << c.name;
    }
  }
}

}  // namespace
