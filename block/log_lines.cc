#include "block/log_lines.h"

const LogLine kLogLines[] = {
#define LOG_LINE(kind, mark, form, meaning) {LogLineKind::kind, #kind, LogLine::mark, form, meaning},
#include "block/log_lines.def"
#undef LOG_LINE
};

const std::size_t kLogLineCount = sizeof kLogLines / sizeof *kLogLines;

const LogLine& logLine(LogLineKind kind) { return kLogLines[static_cast<std::size_t>(kind)]; }
