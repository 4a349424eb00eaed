#pragma once

// The catalogue of the lines the tool writes to standard error
// (block/log_lines.def), and the cap on the warnings of one kind.

#include <cstddef>

// At most this many warning lines of one kind are logged; the others are
// counted in one line after them ("Warning: and 37 more values read as 0").
// The readers keep no more notes of a kind than this, the warnings log no
// more lines.
constexpr int kMaxLinesPerKind = 20;

// Every kind of log line, in catalogue order.
enum class LogLineKind {
#define LOG_LINE(kind, mark, form, meaning) kind,
#define LOG_LINE_ON_WINDOWS(kind, meaning)
#include "block/log_lines.def"
#undef LOG_LINE
#undef LOG_LINE_ON_WINDOWS
};

struct LogLine {
  enum Mark {
    Plain,
    Check,  // the GCI file holds something other than what the block seems to say
  };
  LogLineKind kind;
  const char* name;  // the kind's name, such as "BlanksInImageName"
  Mark mark;
  const char* form;     // the line with placeholders, as the catalogue explains them
  const char* meaning;  // what the line tells the user, one or two sentences
};

// The catalogue's entries, in its order, and how many there are.
extern const LogLine kLogLines[];
extern const std::size_t kLogLineCount;

// The entry of `kind`.
const LogLine& logLine(LogLineKind kind);
