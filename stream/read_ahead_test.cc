#include "stream/read_ahead.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

// A caller that takes no fragment is offered one in kRetryEvery pieces
// only, once the thread has heard of it (the piece after the one reported
// on may be read already); one that takes them again is offered every one.
TEST(ReadAheadTest, FragmentsAreScannedWhileTheyAreTaken) {
  const std::string document(200 * 100, 'x');
  std::size_t served = 0;
  ReadAhead ahead(
      [&](char* into, std::size_t max) -> std::int64_t {
        const std::size_t count = std::min(max, document.size() - served);
        std::memcpy(into, document.data() + served, count);
        served += count;
        return static_cast<std::int64_t>(count);
      },
      pugi::encoding_utf8, 100, true);
  const auto offered = [&](int pieces, bool taken) {
    int withFragment = 0;
    for (int i = 0; i < pieces; ++i) {
      const ReadAhead::Piece piece = ahead.next();
      EXPECT_EQ(piece.size, 100u);
      if (i >= 2 && piece.ahead) ++withFragment;  // the first two may be read already
      ahead.tookFragment(taken);
    }
    return withFragment;
  };
  EXPECT_EQ(offered(10, true), 8);
  const int whileNotTaken = offered(8 * ReadAhead::kRetryEvery + 2, false);
  EXPECT_GE(whileNotTaken, 7);
  EXPECT_LE(whileNotTaken, 9);
  EXPECT_EQ(offered(10, true), 8);
}

}  // namespace
