#include "common/random.h"

#include <gtest/gtest.h>

namespace labeler {
namespace {

TEST(Random, DrawsOfTheSharedSequence) {
  Random random;
  for (int expected : {41, 18467, 6334, 26500, 19169}) EXPECT_EQ(random.Next(), expected);
  random.Seed(29254088);
  Random reference;
  reference.Seed(29254088);
  int first = random.Next();
  EXPECT_EQ(first, reference.Next());
  // state 29254088 x 214013 + 2531011 mod 2^32, shifted right by 16, low 15 bits
  uint32_t state = 29254088u * 214013u + 2531011u;
  EXPECT_EQ(first, static_cast<int>((state >> 16) & 32767u));
}

}  // namespace
}  // namespace labeler
