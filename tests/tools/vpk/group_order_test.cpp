#include "tools/vpk/group_order.h"

#include <gtest/gtest.h>

#include <memory>

#include "tests/streams/crypto_test_support.h"

namespace {

// Against libcrypto modulo the order; subtract, negate and invert take reduced values.
TEST(GroupOrderTest, ArithmeticMatchesBigNumbers) {
  BigNumber order(kOrderDecimal), zero("0");
  std::unique_ptr<BN_CTX, void (*)(BN_CTX*)> context(BN_CTX_new(), BN_CTX_free);
  auto mod = [&](const BigNumber& x) {
    BigNumber r;
    BN_nnmod(r.bn, x.bn, order.bn, context.get());
    return r.Bytes();
  };
  std::vector<Bytes> values = {PlusBytes(zero, 1), PlusBytes(order, -1), PlusBytes(order, 0),
                               PlusBytes(order, 1), Bytes(32, 0xff)};
  std::mt19937_64 random(6);
  for (int i = 0; i < 24; ++i) {
    values.push_back(RandomBytes(random, 32));
  }
  for (const Bytes& a : values) {
    SCOPED_TRACE(Hex(a));
    Bytes out(32), reduced = mod(BigNumber(a)), wide = RandomBytes(random, 64);
    BigNumber negated, inverse;
    ModOrderReduce(a.data(), out.data());
    EXPECT_EQ(out, reduced);
    ModOrderReduceWide(wide.data(), out.data());
    EXPECT_EQ(out, mod(BigNumber(wide)));
    BN_sub(negated.bn, order.bn, BigNumber(reduced).bn);
    ModOrderNegate(reduced.data(), out.data());
    EXPECT_EQ(out, mod(negated));
    if (!ModOrderIsZero(reduced.data())) {
      BN_mod_inverse(inverse.bn, BigNumber(reduced).bn, order.bn, context.get());
      ModOrderInvert(reduced.data(), out.data());
      EXPECT_EQ(out, inverse.Bytes());
    }
    for (const Bytes& b : values) {
      BigNumber product, difference;
      BN_mul(product.bn, BigNumber(a).bn, BigNumber(b).bn, context.get());
      ModOrderMultiply(a.data(), b.data(), out.data());
      ASSERT_EQ(out, mod(product)) << Hex(b);
      Bytes reducedB = mod(BigNumber(b));
      BN_sub(difference.bn, BigNumber(reduced).bn, BigNumber(reducedB).bn);
      ModOrderSubtract(reduced.data(), reducedB.data(), out.data());
      ASSERT_EQ(out, mod(difference)) << Hex(b);
    }
  }
}

}  // namespace
