#pragma once

// Runs a program the way a user would from a shell and collects what it
// printed and how it ended. Arguments and paths are Qt strings, so that
// paths in any script reach the program unchanged on every platform (on
// Windows the command line is passed on in UTF-16).

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using Lines = std::vector<std::string>;

// How the tool ends a line on standard output and standard error: CR LF on
// Windows, where the C library writes text mode, LF elsewhere. (GCI files
// end their lines with CR LF everywhere.)
#ifdef Q_OS_WIN
inline const std::string kEol = "\r\n";
#else
inline const std::string kEol = "\n";
#endif

// `text` cut into lines at every `eol`, the line ends dropped. Nothing else
// splits a line, so a stray CR or LF stays visible inside it; a last line
// without its line end is returned with " [no line end]" appended. A text
// with the wrong line ends therefore never compares equal to the expected
// lines.
Lines lines(const std::string& text, const std::string& eol = kEol);

inline bool startsWith(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

// Whether `text` is one or more lines that each end with exactly `eol`, with
// no other CR or LF anywhere.
testing::AssertionResult hasLineEnds(const std::string& text, const std::string& eol = kEol);

// Environment settings, applied in order: a name and its value, or an empty
// value to remove the variable.
using EnvSettings = std::vector<std::pair<QString, QString>>;

// Settings under which the tool's local 8-bit encoding has no Greek letters:
// none on Windows, where runTool()'s environment gives code page 1252, and a
// Latin-1 locale elsewhere; no value when the system has no such locale.
std::optional<EnvSettings> latin1Environment();

struct ToolOptions {
  QString program;   // path of the executable
  QStringList args;  // arguments after the program name
  QString workDir;   // empty: the caller's directory
  // On top of the caller's environment, with LC_ALL=C.UTF-8 and without
  // QT_LOGGING_RULES, QT_LOGGING_CONF and QT_MESSAGE_PATTERN.
  EnvSettings env;
  QString stdoutFile;     // empty: standard output is collected in ToolRun::out
  int timeoutMs = 60000;  // then the process is killed
#ifdef Q_OS_UNIX
  unsigned long long addressSpaceLimit = 0;  // bytes for RLIMIT_AS; 0: none
  unsigned long long fileSizeLimit = 0;      // bytes for RLIMIT_FSIZE (ulimit -f); 0: none
#endif
};

struct ToolRun {
  bool started = false;
  QString startError;     // why it did not start
  bool timedOut = false;  // killed after ToolOptions::timeoutMs
  bool crashed = false;   // ended abnormally: a signal, an unhandled exception or the kill
  int exitCode = -1;      // the exit status; after a crash on Unix, the signal
  std::string out;        // standard output, byte for byte
  std::string err;        // standard error, byte for byte

  // The process ended by itself, without crashing, with `code`.
  bool exitedWith(int code) const { return started && !timedOut && !crashed && exitCode == code; }
  // The log: standard error split at the platform's line ends, as lines()
  // splits it. Compare it with logIs().
  Lines errLines() const { return lines(err); }
  // For failure messages: how it ended and what it printed on standard error.
  std::string describe() const;
};

ToolRun runTool(const ToolOptions& options);

// As ToolRun::exitedWith, with describe() as the failure message.
testing::AssertionResult exited(const ToolRun& run, int code);

// Whether the run's log (errLines()) is `expected`, line for line. An
// expected line that is the form of a catalogue entry (log/log_lines.def)
// stands for any line of that form, so that a line holding a figure that
// varies from run to run (a time, a count) is expected by its form. A
// failure names the first line that differs and shows both logs, each cut
// short, so that a huge log cannot flood the output.
testing::AssertionResult logIs(const ToolRun& run, const Lines& expected);

// `line` for a failure message: quoted and escaped, cut after `max` bytes.
std::string shownLine(const std::string& line, std::size_t max = 200);

// Whether `actual` is `expected`, byte for byte. A failure names the first
// byte that differs and shows a little of each text around it, never the
// whole of a huge text.
testing::AssertionResult sameText(const std::string& actual, const std::string& expected);

#ifdef Q_OS_UNIX
class QProcess;

// A program started for tests that look at a running process. It is killed
// and reaped when this object goes away, unless finish() has waited for it.
class RunningTool {
 public:
  explicit RunningTool(const ToolOptions& options);
  ~RunningTool();
  RunningTool(const RunningTool&) = delete;
  RunningTool& operator=(const RunningTool&) = delete;

  // The process id, 0 when the program did not start.
  qint64 pid() const;
  // Waits for the program to end, as runTool() does, and says how it ended
  // and what it printed.
  ToolRun finish();

 private:
  std::unique_ptr<QProcess> process_;
  int timeoutMs_;
};

// The virtual memory size (VmSize) of a running process in bytes, 0 when it
// cannot be read.
unsigned long long virtualMemorySize(qint64 pid);
#endif
