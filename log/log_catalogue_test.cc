#include "log/log_lines.h"

#include "block/read_notes.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The catalogue says how many lines of a kind come before the one that
// counts the rest.
TEST(LogLinesTest, TheCountingLineNamesTheCap) {
  const std::string meaning = logLine(LogLineKind::MoreOfAKind).meaning;
  EXPECT_NE(meaning.find("after " + std::to_string(kMaxLinesPerKind) + " lines"), std::string::npos) << meaning;
}

}  // namespace
