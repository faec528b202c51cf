#include "tools/vpk/group_order.h"

#include <gtest/gtest.h>

#include "tests/streams/crypto_test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Reference {
  BigNumber order{"7237005577332262213973186563042994240857116359379907606001950938285454250989"};
  BN_CTX* context = BN_CTX_new();
  ~Reference() { BN_CTX_free(context); }
  Bytes Mod(const BigNumber& x) {
    BigNumber r;
    BN_nnmod(r.bn, x.bn, order.bn, context);
    return r.Bytes();
  }
  Bytes Offset(long delta) {  // L + delta
    BigNumber r;
    BN_copy(r.bn, order.bn);
    delta < 0 ? BN_sub_word(r.bn, static_cast<BN_ULONG>(-delta))
              : BN_add_word(r.bn, static_cast<BN_ULONG>(delta));
    return r.Bytes();
  }
};

// Values at the order and random values of every size up to 256 bits.
std::vector<Bytes> SampleValues(Reference& ref) {
  std::vector<Bytes> values = {Bytes(32, 0), ref.Offset(-1), ref.Offset(0), ref.Offset(1),
                               Bytes(32, 0xff)};
  values[0][0] = 1;
  std::mt19937_64 random(6);
  for (int i = 0; i < 30; ++i) {
    values.push_back(RandomBytes(random, 32));
  }
  return values;
}

TEST(GroupOrderTest, ReduceAndMultiplyMatchBigNumbers) {
  Reference ref;
  std::vector<Bytes> values = SampleValues(ref);
  std::mt19937_64 random(7);
  for (const Bytes& a : values) {
    Bytes out(32), wide = RandomBytes(random, 64);
    ModOrderReduce(a.data(), out.data());
    EXPECT_EQ(out, ref.Mod(BigNumber(a)));
    ModOrderReduceWide(wide.data(), out.data());
    EXPECT_EQ(out, ref.Mod(BigNumber(wide)));
    for (const Bytes& b : values) {
      BigNumber product;
      BN_mul(product.bn, BigNumber(a).bn, BigNumber(b).bn, ref.context);
      ModOrderMultiply(a.data(), b.data(), out.data());
      ASSERT_EQ(out, ref.Mod(product)) << ToHex(a.data(), 32) << " " << ToHex(b.data(), 32);
    }
  }
}

TEST(GroupOrderTest, SubtractNegateAndInvertMatchBigNumbers) {
  Reference ref;
  std::vector<Bytes> values;
  for (const Bytes& v : SampleValues(ref)) {
    values.push_back(ref.Mod(BigNumber(v)));  // these operations take reduced inputs
  }
  for (const Bytes& a : values) {
    Bytes out(32);
    BigNumber negated;
    BN_sub(negated.bn, ref.order.bn, BigNumber(a).bn);
    ModOrderNegate(a.data(), out.data());
    EXPECT_EQ(out, ref.Mod(negated));
    if (!ModOrderIsZero(a.data())) {
      BigNumber inverse;
      BN_mod_inverse(inverse.bn, BigNumber(a).bn, ref.order.bn, ref.context);
      ModOrderInvert(a.data(), out.data());
      EXPECT_EQ(out, inverse.Bytes()) << ToHex(a.data(), 32);
    }
    for (const Bytes& b : values) {
      BigNumber difference;
      BN_sub(difference.bn, BigNumber(a).bn, BigNumber(b).bn);
      ModOrderSubtract(a.data(), b.data(), out.data());
      ASSERT_EQ(out, ref.Mod(difference)) << ToHex(a.data(), 32) << " " << ToHex(b.data(), 32);
    }
  }
}

}  // namespace
