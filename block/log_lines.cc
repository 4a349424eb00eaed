#include "block/log_lines.h"

const LogLine kLogLines[] = {
#define LOG_LINE(kind, mark, form, meaning) {LogLineKind::kind, #kind, LogLine::mark, form, meaning},
#define LOG_LINE_ON_WINDOWS(kind, meaning)
#include "block/log_lines.def"
#undef LOG_LINE
#undef LOG_LINE_ON_WINDOWS
};

const std::size_t kLogLineCount = sizeof kLogLines / sizeof *kLogLines;

const LogLine& logLine(LogLineKind kind) { return kLogLines[static_cast<std::size_t>(kind)]; }
