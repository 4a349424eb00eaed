#pragma once

// The catalogue of the lines the tool writes to standard error
// (log/log_lines.def). Only the code that writes or lists log lines includes
// it, so that editing an entry rebuilds only that code.

#include <cstddef>

// Every kind of log line, in catalogue order.
enum class LogLineKind {
#define LOG_LINE(kind, mark, form, meaning) kind,
#define LOG_LINE_ON_WINDOWS(kind, meaning)
#define LOG_NOTATION(kind, symbols, brief, clause)
#include "log/log_lines.def"
#undef LOG_LINE
#undef LOG_LINE_ON_WINDOWS
#undef LOG_NOTATION
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

// One part of the notation of the forms: symbols that stand for something
// other than themselves.
struct LogNotation {
  const char* name;     // such as "Integer"
  const char* symbols;  // separated by blanks
  const char* brief;    // what they stand for, as --help says it
  const char* clause;   // their part of the documents' sentence, with what joins it to the next
};

// The notation, in the catalogue's order, and how many parts it has.
extern const LogNotation kLogNotation[];
extern const std::size_t kLogNotationCount;
