#include "tests/support/run_tool.h"

#include "tests/support/log_forms.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <algorithm>
#include <sstream>

#ifdef Q_OS_UNIX
#include <langinfo.h>
#include <locale.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#endif

namespace {

std::string eolName(const std::string& eol) { return eol == "\r\n" ? "CR LF" : eol == "\n" ? "LF" : "'" + eol + "'"; }

QProcessEnvironment toolEnvironment(const EnvSettings& settings) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
  for (const char* name : {"QT_LOGGING_RULES", "QT_LOGGING_CONF", "QT_MESSAGE_PATTERN"}) {
    env.remove(QString::fromLatin1(name));
  }
  for (const auto& setting : settings) {
    if (setting.second.isEmpty()) {
      env.remove(setting.first);
    } else {
      env.insert(setting.first, setting.second);
    }
  }
  return env;
}

}  // namespace

std::optional<EnvSettings> latin1Environment() {
#ifdef Q_OS_UNIX
  for (const char* name : {"de_DE.ISO-8859-1", "de_DE.iso88591", "en_US.ISO-8859-1", "en_US.iso88591", "de_DE"}) {
    const locale_t loc = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(0));
    if (!loc) continue;
    const bool latin1 = std::strcmp(nl_langinfo_l(CODESET, loc), "ISO-8859-1") == 0;
    freelocale(loc);
    if (latin1) return EnvSettings{{QStringLiteral("LC_ALL"), QString::fromLatin1(name)}};
  }
  return std::nullopt;
#else
  return EnvSettings{};
#endif
}

namespace {

#ifdef Q_OS_UNIX
// Applies the address-space and file-size limits in the child, between
// fork and exec.
class LimitedProcess : public QProcess {
 public:
  LimitedProcess(unsigned long long addressSpaceLimit, unsigned long long fileSizeLimit)
      : addressSpace_(addressSpaceLimit), fileSize_(fileSizeLimit) {}

 protected:
  // Runs in the forked child: only async-signal-safe calls here.
  void setupChildProcess() override {
    limit(RLIMIT_AS, addressSpace_);
    limit(RLIMIT_FSIZE, fileSize_);
  }

 private:
  static void limit(decltype(RLIMIT_AS) resource, unsigned long long bytes) {
    if (bytes == 0) return;
    const rlimit limit{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
    if (setrlimit(resource, &limit) != 0) _exit(126);
  }

  unsigned long long addressSpace_;
  unsigned long long fileSize_;
};

std::unique_ptr<QProcess> newProcess(const ToolOptions& options) {
  return std::make_unique<LimitedProcess>(options.addressSpaceLimit, options.fileSizeLimit);
}
#else
std::unique_ptr<QProcess> newProcess(const ToolOptions&) { return std::make_unique<QProcess>(); }
#endif

// A process set up as `options` say, not yet started.
std::unique_ptr<QProcess> prepare(const ToolOptions& options) {
  std::unique_ptr<QProcess> process = newProcess(options);
  process->setProcessEnvironment(toolEnvironment(options.env));
  if (!options.workDir.isEmpty()) process->setWorkingDirectory(options.workDir);
  process->setStandardInputFile(QProcess::nullDevice());
  if (!options.stdoutFile.isEmpty()) process->setStandardOutputFile(options.stdoutFile);
  process->setProgram(options.program);
  process->setArguments(options.args);
  return process;
}

}  // namespace

Lines lines(const std::string& text, const std::string& eol) {
  Lines result;
  size_t from = 0;
  for (size_t at; (at = text.find(eol, from)) != std::string::npos; from = at + eol.size()) {
    result.push_back(text.substr(from, at - from));
  }
  if (from < text.size()) result.push_back(text.substr(from) + " [no line end]");
  return result;
}

testing::AssertionResult hasLineEnds(const std::string& text, const std::string& eol) {
  if (text.empty()) return testing::AssertionFailure() << "no text at all";
  if (text.size() < eol.size() || text.compare(text.size() - eol.size(), eol.size(), eol) != 0) {
    return testing::AssertionFailure() << "the last line does not end with " << eolName(eol);
  }
  const Lines split = lines(text, eol);
  for (size_t i = 0; i < split.size(); ++i) {
    if (split[i].find_first_of("\r\n") != std::string::npos) {
      return testing::AssertionFailure() << "line " << (i + 1) << " does not end with " << eolName(eol)
                                         << " alone: " << testing::PrintToString(split[i]);
    }
  }
  return testing::AssertionSuccess();
}

std::string ToolRun::describe() const {
  std::ostringstream text;
  if (!started) {
    text << "not started: " << startError.toStdString();
  } else if (timedOut) {
    text << "timed out";
  } else if (crashed) {
    text << "crashed (code or signal " << exitCode << ")";
  } else {
    text << "exit code " << exitCode;
  }
  const std::string shown = err.size() > 4000 ? err.substr(0, 4000) + "..." : err;
  text << "; stderr:\n" << shown;
  return text.str();
}

namespace {

// Waits up to `timeoutMs` for `process` to end (then kills it) and fills
// in how it ended and what it printed.
void finish(QProcess& process, int timeoutMs, ToolRun& run) {
  if (!process.waitForFinished(timeoutMs) && process.state() != QProcess::NotRunning) {
    run.timedOut = true;
    process.kill();
    process.waitForFinished(-1);
  }
  run.crashed = process.exitStatus() == QProcess::CrashExit;
  run.exitCode = process.exitCode();
  run.out = process.readAllStandardOutput().toStdString();
  run.err = process.readAllStandardError().toStdString();
}

}  // namespace

ToolRun runTool(const ToolOptions& options) {
  ToolRun run;
  std::unique_ptr<QProcess> process = prepare(options);
  process->start(QIODevice::ReadOnly);
#if defined(Q_OS_WIN)
  // Under Wine, now and then, setting up a child's pipes fails ("Internal
  // error") while other tests start processes; the program never ran, so a
  // second attempt tests the same thing.
  for (int attempt = 1; attempt < 3 && !process->waitForStarted(-1) && process->error() == QProcess::FailedToStart;
       ++attempt) {
    process = prepare(options);
    process->start(QIODevice::ReadOnly);
  }
#endif
  if (!process->waitForStarted(-1)) {
    run.startError = process->errorString();
    return run;
  }
  run.started = true;
  finish(*process, options.timeoutMs, run);
  return run;
}

testing::AssertionResult exited(const ToolRun& run, int code) {
  if (run.exitedWith(code)) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "expected exit code " << code << ", got " << run.describe();
}

std::string shownLine(const std::string& line, std::size_t max) {
  if (line.size() <= max) return testing::PrintToString(line);
  return testing::PrintToString(line.substr(0, max)) + "... (" + std::to_string(line.size()) + " bytes)";
}

testing::AssertionResult sameText(const std::string& actual, const std::string& expected) {
  if (actual == expected) return testing::AssertionSuccess();
  const auto differ = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  const std::size_t at = static_cast<std::size_t>(differ.first - actual.begin());
  const std::size_t from = at < 40 ? 0 : at - 40;
  auto around = [from](const std::string& text) {
    return shownLine(text.substr(std::min(from, text.size()), 120), 120);
  };
  return testing::AssertionFailure() << "the texts differ at byte " << at << " (" << actual.size() << " against "
                                     << expected.size() << " bytes); from byte " << from << ":\n  got      "
                                     << around(actual) << "\n  expected " << around(expected);
}

namespace {

// How many lines of a log a failure message shows.
constexpr std::size_t kShownLines = 40;

// Whether `actual` is the line `expected` stands for: itself, or, where
// `expected` is a catalogue form, any line of that form. Long lines are
// never matched against a form (the pattern matcher recurses per byte).
bool standsFor(const std::string& expected, const std::string& actual) {
  if (expected == actual) return true;
  if (actual.size() > 10000) return false;
  return hasCatalogueForm(actual, expected);
}

void showLog(testing::AssertionResult& result, const char* title, const Lines& log) {
  result << "\n" << title << " (" << log.size() << " lines):";
  for (std::size_t i = 0; i < log.size() && i < kShownLines; ++i)
    result << "\n  " << (i + 1) << ": " << shownLine(log[i]);
  if (log.size() > kShownLines) result << "\n  ... and " << (log.size() - kShownLines) << " more";
}

}  // namespace

testing::AssertionResult logIs(const ToolRun& run, const Lines& expected) {
  const Lines actual = run.errLines();
  std::size_t i = 0;
  while (i < actual.size() && i < expected.size() && standsFor(expected[i], actual[i])) ++i;
  if (i == actual.size() && i == expected.size()) return testing::AssertionSuccess();
  testing::AssertionResult result = testing::AssertionFailure()
                                    << "the log differs at line " << (i + 1) << ": expected "
                                    << (i < expected.size() ? shownLine(expected[i]) : "no more lines") << ", got "
                                    << (i < actual.size() ? shownLine(actual[i]) : "no more lines");
  showLog(result, "expected", expected);
  showLog(result, "got", actual);
  return result;
}

#ifdef Q_OS_UNIX
RunningTool::RunningTool(const ToolOptions& options) : process_(prepare(options)), timeoutMs_(options.timeoutMs) {
  process_->start(QIODevice::ReadOnly);
  process_->waitForStarted(-1);
}

ToolRun RunningTool::finish() {
  ToolRun run;
  run.started = process_->processId() > 0;
  ::finish(*process_, timeoutMs_, run);
  return run;
}

RunningTool::~RunningTool() {
  if (process_->state() == QProcess::NotRunning) return;
  process_->kill();
  process_->waitForFinished(-1);
}

qint64 RunningTool::pid() const { return process_->processId(); }

unsigned long long virtualMemorySize(qint64 pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.compare(0, 7, "VmSize:") == 0) return std::strtoull(line.c_str() + 7, nullptr, 10) * 1024ULL;
  }
  return 0;
}
#endif
