#include "app/run.h"

#include "app/command_line.h"
#include "app/console_output.h"
#include "convert/convert.h"
#include "convert/diagnostics.h"
#include "gci/gci_writer.h"
#include "reader/block_file.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLoggingCategory>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <new>

#ifndef BLOCK2GCI_VERSION
#define BLOCK2GCI_VERSION "unknown"
#endif

namespace {

const char kHelp[] =
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
    "Warnings never change the exit status or the GCI file.\n"
    "\n"
    "Log lines (standard error):\n"
    "  filePath: \"PATH\"                 the block was read\n"
    "  Warning: photo id N is shared: kept \"PATH\", dropped \"PATH\"[, ...]\n"
    "  Warning: photo id N is named by K measurements but no photo has it\n"
    "  Warning: control point N has an empty name\n"
    "  Warning: control point \"NAME\" has blanks in its name\n"
    "  Warning: control point \"NAME\" has K of M measurements outside their image\n"
    "  Warning: control point \"NAME\": Position x \"TEXT\" is not a number, read as 0\n"
    "  Warning: photo \"PATH\": Id \"TEXT\" is out of range, read as 0\n"
    "  Warning: photogroup \"NAME\": Width \"TEXT\" is not a number, read as 0\n"
    "  Warning: control point \"NAME\" has no Position, written at 0, 0, 0\n"
    "  Warning: control point \"NAME\": Position z is missing or empty, written as 0\n"
    "  Warning: control point \"NAME\": CheckPoint \"TEXT\" is neither \"true\" nor \"false\", ...\n"
    "  Warning: control points N and M have the same name \"NAME\"\n"
    "  Warning: photo N (photogroup \"NAME\") takes the image size W x H of photogroup \"NAME\": ...\n"
    "  Warning: photo N (photogroup \"NAME\") has the image size 0 x 0: ...\n"
    "  Warning: photo N (\"PATH\") has an empty image name\n"
    "  Warning: photo N (\"PATH\") has blanks in its image name \"NAME\"\n"
    "  Warning: photos N (\"PATH\") and M (\"PATH\") have the same image name \"NAME\"\n"
    "  Warning: control point \"NAME\": its name has bytes that are not UTF-8, ...\n"
    "  Warning: photo N (\"PATH\"): its image name \"NAME\" has characters that the local\n"
    "           8-bit encoding cannot represent, written as \"TEXT\"\n"
    "  Warning: the block file is probably saved in a Windows code page, not in UTF-8:\n"
    "           save it as UTF-8 ...    once, after names with bytes that are not UTF-8\n"
    "  Warning: and K more ...           after 20 lines of one kind\n"
    "  Generate file:  \"PATH\"           the GCI file was written\n"
    "  Written: N control points (C check points), M measurements\n"
    "  Warning: no GCI file written: the block has no control points\n"
    "  Warning: no GCI file written: the root element has no Block\n"
    "  Warning: only the first argument is converted; ignored: \"PATH\"[, ...]\n"
    "  Open failed / Reason: \"PATH\" \"...\"  the input could not be loaded, and why\n"
    "  Write failed: \"PATH\" \"REASON\"  the output could not be written\n"
    "  Out of memory\n";

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
int printToStdout(const char* text) {
  if (!writeText(StdStream::Output, QString::fromLatin1(text))) {
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
    if (argc < 2) return printToStdout("Parameters: szXmlPath\n");
    switch (requestOf(argv[1])) {
      case Request::Help:
        return printToStdout(kHelp);
      case Request::Version:
        return printToStdout("block2gci " BLOCK2GCI_VERSION "\n");
      case Request::Convert:
        break;
    }
    const QStringList arguments = argumentsAfterProgram(argc, argv);
    warnAboutIgnoredArguments(arguments.mid(1));
    return convert(arguments.value(0));
  } catch (const std::bad_alloc&) {
    qDebug() << "Out of memory";
    return 1;
  }
}
