#pragma once

#include "tests/support/qt_print.h"

#include <QStringList>

// Collects the log lines written while it lives, one entry per line, as the
// tool's own handler would print them.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  const QStringList& lines() const { return lines_; }

 private:
  QStringList lines_;
};
