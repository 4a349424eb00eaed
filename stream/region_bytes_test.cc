#include "stream/region_bytes.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A buffer that carries one huge construct piece after piece keeps every
// byte, in order, and holds little more than them: it must not double.
TEST(RegionBytesTest, GrowsPieceByPieceWithoutDoubling) {
  const std::size_t piece = std::size_t(1) << 20;
  RegionBytes bytes;
  std::string expected;
  for (int i = 0; i < 9; ++i) {
    const std::string next(piece, static_cast<char>('a' + i));
    ASSERT_TRUE(bytes.append(next.data(), next.size()));
    expected += next;
  }
  ASSERT_EQ(std::string(bytes.data(), bytes.size()), expected);
  EXPECT_LE(bytes.capacity(), bytes.size() + bytes.size() / 4 + (std::size_t(2) << 20));

  bytes.consume(piece + 1);
  EXPECT_EQ(std::string(bytes.data(), bytes.size()), expected.substr(piece + 1));
  bytes.clear();
  EXPECT_EQ(bytes.size(), 0u);
}

}  // namespace
