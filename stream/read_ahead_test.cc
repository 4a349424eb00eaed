#include "stream/read_ahead.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

// A caller that takes no fragment, kMissesToPause times in a row, is
// offered one in kRetryEvery pieces only, once the thread has heard of it
// (the piece after the one reported on may be read already); one that takes
// them again is offered every one.
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
  // Takes `pieces` pieces, says of each whether its fragment was taken as
  // `taken` says of its position, and counts those offered with one.
  const auto offered = [&](int pieces, auto taken) {
    int withFragment = 0;
    for (int i = 0; i < pieces; ++i) {
      const ReadAhead::Piece piece = ahead.next();
      EXPECT_EQ(piece.size, 100u);
      if (i >= 2 && piece.ahead) ++withFragment;  // the first two may be read already
      ahead.tookFragment(taken(i));
    }
    return withFragment;
  };
  const auto always = [](int) { return true; };
  EXPECT_EQ(offered(10, always), 8);
  EXPECT_EQ(offered(20, [](int i) { return i % (ReadAhead::kMissesToPause) != 0; }), 18);
  const int whileNotTaken = offered(8 * ReadAhead::kRetryEvery + 2, [](int) { return false; });
  EXPECT_GE(whileNotTaken, 7);
  EXPECT_LE(whileNotTaken, 8 + ReadAhead::kMissesToPause);
  EXPECT_EQ(offered(10, always), 8);
}

}  // namespace
