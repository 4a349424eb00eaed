#include "app/run.h"

#include "app/command_line.h"
#include "convert/convert.h"
#include "convert/diagnostics.h"
#include "gci/gci_writer.h"
#include "log/log_lines.h"
#include "platform/console_output.h"
#include "reader/block_file.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLoggingCategory>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <new>

#ifndef BLOCK2GCI_VERSION
#define BLOCK2GCI_VERSION "unknown"
#endif

namespace {

const char kHelpStart[] =
    "Usage: block2gci BLOCK.xml\n"
    "Converts the control points of a photogrammetric block XML file into a GCI\n"
    "file beside it: the same directory and name, with the suffix .gci.\n"
    "Reads photogroups (image sizes), photos (ids, image paths) and control points\n"
    "(position, check-point flag, pixel measurements); writes one line per point\n"
    "and per measurement, in image-centred coordinates, with CR LF line ends.\n"
    "\n"
    "  -h, --help   print this help and exit\n"
#if defined(Q_OS_WIN)
    "  /?           print this help and exit\n"
#endif
    "  --version    print the version and exit\n"
    "\n"
    "Give a file named like an option as ./--help.\n"
    "\n"
    "Exit status: 0 when the file was converted or holds no control points,\n"
    "1 when the input could not be loaded or the output could not be written.\n"
    "Warnings never change the exit status or the GCI file. The GCI file is written\n"
    "completely or not at all: after a failure an earlier one stays as it was.\n"
    "\n"
    "Log lines (standard error); * marks a warning that the GCI file holds\n"
    "something other than what the block seems to say:\n";

const char kHelpEnd[] =
#if defined(Q_OS_WIN)
    // The zip holds the document beside the exe.
    "LOG-LINES.txt beside block2gci.exe says what each line means.\n";
#else
    "docs/log-lines.md and man block2gci say what each line means.\n";
#endif

// The help lines are kept within this many columns.
constexpr int kHelpWidth = 79;

// `rest` after `indent`, cut at blanks into lines of kHelpWidth columns at
// most, each continued line indented by `continued`; every line ends with
// "\n". A word longer than a line stays whole.
QString wrapped(QString indent, QString rest, const QString& continued) {
  QString text;
  while (indent.size() + rest.size() > kHelpWidth) {
    const int cut = rest.lastIndexOf(QLatin1Char(' '), kHelpWidth - indent.size());
    if (cut <= 0) break;
    text += indent + rest.left(cut) + QLatin1Char('\n');
    rest = rest.mid(cut + 1);
    indent = continued;
  }
  return text + indent + rest + QLatin1Char('\n');
}

// The notation of the forms, from the catalogue: each part's symbols, then
// what they stand for.
QString notationText() {
  QStringList parts;
  for (std::size_t i = 0; i < kLogNotationCount; ++i) {
    const QStringList symbols = QString::fromUtf8(kLogNotation[i].symbols).split(QLatin1Char(' '));
    parts << symbols.join(QLatin1String(", ")) + QLatin1String(": ") + QString::fromUtf8(kLogNotation[i].brief);
  }
  return wrapped(QString(), parts.join(QLatin1String("; ")) + QLatin1Char('.'), QString());
}

// The help text: usage, options and exit status, then the form of every
// line in the catalogue, each continued line indented by six blanks, then
// the notation of the forms.
QString helpText() {
  QString text = QLatin1String(kHelpStart);
  for (std::size_t i = 0; i < kLogLineCount; ++i) {
    const QString indent = QLatin1String(kLogLines[i].mark == LogLine::Check ? "* " : "  ");
    text += wrapped(indent, QString::fromUtf8(kLogLines[i].form), QStringLiteral("      "));
  }
  return text + notationText() + QLatin1String(kHelpEnd);
}

QLoggingCategory::CategoryFilter rulesFilter = nullptr;

// Applies the logging rules, then keeps the tool's own lines on unless the
// user asked otherwise with QT_LOGGING_RULES. A QT_LOGGING_CONF file ranks
// with QT_LOGGING_RULES in Qt, above any rule set from code, so only a
// filter can keep it from silencing the lines that scripts read.
void keepLogLinesOn(QLoggingCategory* category) {
  if (rulesFilter) rulesFilter(category);
  if (std::strcmp(category->categoryName(), "default") == 0 && qEnvironmentVariableIsEmpty("QT_LOGGING_RULES")) {
    category->setEnabled(QtDebugMsg, true);
  }
}

void writeLogLine(QtMsgType, const QMessageLogContext&, const QString& message) {
  writeText(StdStream::Error, message + QLatin1Char('\n'));
}

// Prints `text` on standard output; a text that cannot be written is a
// failure like any other.
int printToStdout(const QString& text) {
  if (!writeText(StdStream::Output, text)) {
    qDebug() << "Write failed:" << QStringLiteral("standard output") << QString::fromLocal8Bit(std::strerror(errno));
    return 1;
  }
  return 0;
}

// The arguments after the program name as the user typed them. On Windows
// they come from the wide command line, so that a name outside the ANSI code
// page (a folder in Greek on a German system) arrives intact; the 8-bit argv
// there has already lost such characters. Elsewhere they are decoded from
// the local 8-bit encoding, which keeps every byte of a file name.
QStringList argumentsAfterProgram(int argc, char** argv) {
#if defined(Q_OS_WIN)
  const QStringList wide = QCoreApplication::arguments();
  if (wide.size() >= 2) return wide.mid(1);
#endif
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  return arguments;
}

// One block per run: further arguments are named, not converted.
void warnAboutIgnoredArguments(const QStringList& ignored) {
  if (ignored.isEmpty()) return;
  QDebug line = qDebug().nospace();
  line << "Warning: only the first argument is converted; ignored: ";
  for (int i = 0; i < ignored.size(); ++i) line << (i ? ", " : "") << ignored.at(i);
}

// A run that succeeds without a file says why there is none.
void warnNothingWritten(const LoadResult& loaded) {
  qDebug().noquote() << "Warning: no GCI file written:"
                     << (loaded.status == LoadResult::Loaded ? QStringLiteral("the block has no control points")
                                                             : QStringLiteral("the root element has no Block"));
}

int convert(const QString& inputPath) {
  const LoadResult loaded = loadBlockFile(inputPath);
  // Before the conversion, which gives unknown photo ids default entries.
  warnAboutBlock();
  convertMeasurements();
  const WriteResult written = writeGciFile(inputPath);
  if (written.status == WriteResult::Written) logWrittenSummary(countWritten(controlPoints));
  if (loaded && written.status == WriteResult::NothingToWrite) warnNothingWritten(loaded);
  return loaded && written ? 0 : 1;
}

}  // namespace

void installLogHandler() {
  qInstallMessageHandler(writeLogLine);
  // Overrides logging configuration files; QT_LOGGING_RULES still decides.
  QLoggingCategory::setFilterRules(QStringLiteral("default.debug=true"));
  rulesFilter = QLoggingCategory::installFilter(keepLogLinesOn);
}

int runCommandLine(int argc, char** argv) {
  try {
    if (argc < 2) return printToStdout(QStringLiteral("Parameters: szXmlPath\n"));
    const QStringList arguments = argumentsAfterProgram(argc, argv);
    switch (requestOf(arguments.value(0))) {
      case Request::Help:
        return printToStdout(helpText());
      case Request::Version:
        return printToStdout(QStringLiteral("block2gci " BLOCK2GCI_VERSION "\n"));
      case Request::Convert:
        break;
    }
    warnAboutIgnoredArguments(arguments.mid(1));
    return convert(arguments.value(0));
  } catch (const std::bad_alloc&) {
    qDebug() << "Out of memory";
    return 1;
  }
}
