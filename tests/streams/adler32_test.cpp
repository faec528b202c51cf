#include "streams/adler32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

namespace {

// Lengths around the 32-byte steps and the blocks after which the sums are reduced, at every
// alignment, continued from a running checksum; all bytes 0xff give the largest sums.
TEST(Adler32Test, MatchesZlibAtEveryStepAndBlockBoundary) {
  std::mt19937 random(3);
  std::vector<std::uint8_t> data(3 * 5552 + 200);
  for (auto& b : data) {
    b = static_cast<std::uint8_t>(random());
  }
  std::vector<std::uint8_t> full(data.size(), 0xff);
  for (const auto* bytes : {&data, &full}) {
    for (std::size_t size :
         {0, 1, 31, 32, 33, 63, 64, 5535, 5536, 5537, 5552, 5553, 16656, 16756}) {
      for (std::size_t offset : {0, 1, 7, 15}) {
        const std::uint8_t* at = bytes->data() + offset;
        std::uint32_t start = adler32_z(1, bytes->data(), offset);
        EXPECT_EQ(Adler32(start, at, size), adler32_z(start, at, size)) << size << "+" << offset;
      }
    }
  }
}

}  // namespace
