#include "log/log_lines.h"

const LogLine kLogLines[] = {
#define LOG_LINE(kind, mark, form, meaning) {LogLineKind::kind, #kind, LogLine::mark, form, meaning},
#define LOG_LINE_ON_WINDOWS(kind, meaning)
#define LOG_NOTATION(kind, symbols, brief, clause)
#include "log/log_lines.def"
#undef LOG_LINE
#undef LOG_LINE_ON_WINDOWS
#undef LOG_NOTATION
};

const std::size_t kLogLineCount = sizeof kLogLines / sizeof *kLogLines;

const LogLine& logLine(LogLineKind kind) { return kLogLines[static_cast<std::size_t>(kind)]; }

const LogNotation kLogNotation[] = {
#define LOG_LINE(kind, mark, form, meaning)
#define LOG_LINE_ON_WINDOWS(kind, meaning)
#define LOG_NOTATION(kind, symbols, brief, clause) {#kind, symbols, brief, clause},
#include "log/log_lines.def"
#undef LOG_LINE
#undef LOG_LINE_ON_WINDOWS
#undef LOG_NOTATION
};

const std::size_t kLogNotationCount = sizeof kLogNotation / sizeof *kLogNotation;
