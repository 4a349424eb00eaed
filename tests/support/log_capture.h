#pragma once

#include "tests/support/qt_print.h"

#include <QStringList>

// Collects the log lines written while it lives, one entry per line, as the
// tool's own handler would print them. Unless told otherwise, a line that
// has no entry in the catalogue (log/log_lines.def) fails the test.
class LogCapture {
 public:
  enum class Check {
    Catalogue,
    None,  // for the Reason line of a document loaded from memory, which names no path
  };
  explicit LogCapture(Check check = Check::Catalogue);
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  const QStringList& lines() const { return lines_; }

 private:
  QStringList lines_;
  Check check_;
};
