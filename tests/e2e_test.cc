// End-to-end tests: every case runs the built block2gci executable in a
// scratch directory and checks its exit status, what it prints and the files
// it leaves behind, byte for byte. The same cases run on Linux and Windows,
// each with the platform's line ends, path separator and 8-bit encoding;
// those that need what only Unix has (permissions, the umask, mounts,
// /dev/full, the man page, XDG_CONFIG_HOME) are built on Unix alone, and the
// Windows ones (drive letters, backslashes in the input) on Windows alone.

#include "log/log_lines.h"
#include "tests/support/run_tool.h"
#include "tests/support/sample_blocks.h"
#include "tests/support/scratch_files.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#endif

#ifdef Q_OS_WIN
#include <windows.h>
#endif

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

const QString kExe = QStringLiteral(BLOCK2GCI_EXE);

// Runs the tool with `args`, as a user would from `workDir`.
ToolRun run(const QStringList& args, const QString& workDir = QString(), const EnvSettings& env = {}) {
  ToolOptions options;
  options.program = kExe;
  options.args = args;
  options.workDir = workDir;
  options.env = env;
  return runTool(options);
}

#ifdef Q_OS_UNIX
// Runs another program, such as cmake or mount.
ToolRun runProgram(const QString& program, const QStringList& args) {
  ToolOptions options;
  options.program = program;
  options.args = args;
  return runTool(options);
}
#endif

// The run loaded `input` and then failed to write `output`, saying why.
void expectWriteFailed(const ToolRun& r, const QString& input, const QString& output) {
  EXPECT_TRUE(exited(r, 1));
  const Lines err = r.errLines();
  ASSERT_EQ(err.size(), 2u) << r.err;
  EXPECT_EQ(err[0], filePathLine(input));
  const std::string start = writeFailedStart(output);
  EXPECT_TRUE(startsWith(err[1], start) && err[1].back() == '"') << err[1];
}

// "é" as the tool writes it in a GCI file under runTool()'s environment:
// UTF-8 under C.UTF-8 on Linux; on Windows one byte of code page 1252, the
// ANSI code page of Western European systems and of Wine under C.UTF-8.
#ifdef Q_OS_WIN
const std::string kEAcute = "\xE9";
#else
const std::string kEAcute = "\xC3\xA9";
#endif

class e2e : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
  QString dir() const { return dir_.path(); }
  QString path(const QString& name) const { return dir_.filePath(name); }

  QTemporaryDir dir_;
};

// Table-driven cases: each row type has a `label` that names its case.
template <class Row>
class Table : public e2e, public testing::WithParamInterface<Row> {};

template <class Row>
auto operator<<(std::ostream& os, const Row& row) -> decltype(os << row.label) {
  return os << row.label;
}

struct RowLabel {
  template <class Row>
  std::string operator()(const testing::TestParamInfo<Row>& info) const {
    return info.param.label;
  }
};

// --- Command line ------------------------------------------------------------

struct OptionRow {
  const char* label;
  QStringList args;
  std::string stdoutStart;
  bool wholeStdout;  // stdout is exactly stdoutStart
};
using Options = Table<OptionRow>;

// The usage line, help and version go to stdout alone, with the platform's
// line ends, succeed and write nothing into the working directory.
TEST_P(Options, PrintOnStdoutAndWriteNothing) {
  const OptionRow& row = GetParam();
  const ToolRun r = run(row.args, dir());
  EXPECT_TRUE(exited(r, 0));
  if (row.wholeStdout) {
    EXPECT_EQ(r.out, row.stdoutStart);
  } else {
    EXPECT_TRUE(startsWith(r.out, row.stdoutStart)) << r.out;
  }
  EXPECT_TRUE(hasLineEnds(r.out));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(listDir(dir()), Lines());
}

INSTANTIATE_TEST_SUITE_P(e2e, Options,
                         testing::Values(OptionRow{"NoArgument", {}, "Parameters: szXmlPath" + kEol, true},
                                         OptionRow{"LongHelp", {"--help"}, "Usage: block2gci", false},
                                         OptionRow{"ShortHelp", {"-h"}, "Usage: block2gci", false},
                                         OptionRow{"HelpBeforeAFile", {"--help", "b.xml"}, "Usage: block2gci", false},
                                         OptionRow{
                                             "Version", {"--version"}, "block2gci " BLOCK2GCI_VERSION + kEol, true}),
                         RowLabel());

// The help names the usage, the exit statuses and the log lines (listed
// from the catalogue).
TEST_F(e2e, HelpListsUsageExitStatusAndLogLines) {
  const ToolRun r = run({"--help"}, dir());
  EXPECT_TRUE(exited(r, 0));
  for (const char* text : {"Usage: block2gci BLOCK.xml", "Exit status: 0", "1 when the input", "Log lines"}) {
    EXPECT_NE(r.out.find(text), std::string::npos) << text;
  }
  EXPECT_EQ(run({"--version"}).out, "block2gci " BLOCK2GCI_VERSION + kEol);
#ifdef Q_OS_WIN
  // Windows programs take "/?" for the help.
  const ToolRun slash = run({"/?"}, dir());
  EXPECT_TRUE(exited(slash, 0));
  EXPECT_EQ(slash.out, r.out);
#endif
}

#ifdef Q_OS_UNIX
// `cmake --install` puts the tool and its man page under the prefix; the
// man page renders without a warning.
TEST_F(e2e, InstallsTheToolAndAManPageThatRenders) {
  const QString cmake = QStandardPaths::findExecutable("cmake");
  if (cmake.isEmpty()) GTEST_SKIP() << "cmake is not on PATH";
  const QString buildDir = QFileInfo(kExe).absolutePath();
  const ToolRun installed = runProgram(cmake, {"--install", buildDir, "--prefix", path("p")});
  ASSERT_TRUE(exited(installed, 0));
  EXPECT_TRUE(QFileInfo(path("p/bin/block2gci")).isExecutable());
  // Compressed, as man reads manual pages; with the package's changelog and copyright.
  const QString man = path("p/share/man/man1/block2gci.1.gz");
  ASSERT_TRUE(QFileInfo::exists(man));
  EXPECT_TRUE(QFileInfo::exists(path("p/share/doc/block2gci/changelog.gz")));
  EXPECT_TRUE(QFileInfo::exists(path("p/share/doc/block2gci/copyright")));
  EXPECT_TRUE(exited(runProgram(path("p/bin/block2gci"), {"--version"}), 0));

  const QString gzip = QStandardPaths::findExecutable("gzip");
  const QString groff = QStandardPaths::findExecutable("groff");
  if (gzip.isEmpty() || groff.isEmpty()) GTEST_SKIP() << "gzip or groff is not installed";
  const ToolRun unpacked = runProgram(gzip, {"-dc", man});
  ASSERT_TRUE(exited(unpacked, 0));
  ASSERT_TRUE(writeFile(path("block2gci.1"), unpacked.out));
  // The installed page is the configured one: it names this version.
  EXPECT_NE(unpacked.out.find("\"block2gci " BLOCK2GCI_VERSION "\""), std::string::npos);
  const ToolRun rendered = runProgram(groff, {"-man", "-ww", "-Tutf8", "-z", path("block2gci.1")});
  EXPECT_TRUE(exited(rendered, 0));
  EXPECT_EQ(rendered.err, "");
}
#endif

#ifdef Q_OS_UNIX
// Output that cannot be written is a failure even for the usage line.
TEST_F(e2e, FullStandardOutputFails) {
  for (const QStringList& args : {QStringList{}, QStringList{"--help"}}) {
    ToolOptions options;
    options.program = kExe;
    options.args = args;
    options.stdoutFile = QStringLiteral("/dev/full");
    const ToolRun r = runTool(options);
    EXPECT_TRUE(exited(r, 1)) << args.join(' ').toStdString();
    EXPECT_TRUE(startsWith(r.err, "Write failed: \"standard output\" ")) << r.err;
  }
}
#endif

// A block file named like an option converts when given with a path, while
// the bare option still prints the help.
TEST_F(e2e, FileNamedLikeAnOptionConvertsAsDotSlash) {
  writeFile(path("--help"), sampleBlock());
  const ToolRun help = run({"--help"}, dir());
  EXPECT_TRUE(exited(help, 0));
  EXPECT_TRUE(startsWith(help.out, "Usage: block2gci")) << help.out;
  EXPECT_EQ(listDir(dir()), Lines{"--help"});

  const ToolRun r = run({"./--help"}, dir());
  EXPECT_TRUE(exited(r, 0));
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(logIs(r, convertedLines("./--help", beside(".", "--help.gci"))));
  EXPECT_EQ(readFile(path("--help.gci")), sampleGci());
}

// Options in fullwidth letters are file names like any other. (On Windows
// the 8-bit command line spells them in ASCII look-alikes.)
TEST_F(e2e, FullwidthOptionIsAFileName) {
  for (const QString& name :
       {QStringLiteral("\uff0d\uff0d\uff48\uff45\uff4c\uff50"), QStringLiteral("\uff0f\uff1f"),
        QStringLiteral("\uff0d\uff48"), QStringLiteral("\uff0d\uff0d\uff56\uff45\uff52\uff53\uff49\uff4f\uff4e")}) {
    SCOPED_TRACE(name.toStdString());
    writeFile(path(name), sampleBlock());
    const ToolRun r = run({name}, dir());
    EXPECT_TRUE(exited(r, 0));
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(readFile(path(name + ".gci")), sampleGci());
    QFile::remove(path(name));
    QFile::remove(path(name + ".gci"));
  }
}

TEST_F(e2e, ArgumentsAfterTheFirstAreIgnored) {
  writeFile(path("block.xml"), sampleBlock());
  writeFile(path("other.xml"), sampleBlock("OTHER"));
  const ToolRun r = run({"block.xml", "other.xml", "--version"}, dir());
  EXPECT_TRUE(exited(r, 0));
  EXPECT_EQ(r.out, "");
  Lines expected = convertedLines("block.xml", beside(".", "block.gci"));
  expected.insert(expected.begin(),
                  R"(Warning: only the first argument is converted; ignored: "other.xml", "--version")");
  EXPECT_TRUE(logIs(r, expected));
  EXPECT_EQ(readFile(path("block.gci")), sampleGci());
  EXPECT_EQ(listDir(dir()), (Lines{"block.gci", "block.xml", "other.xml"}));

  // The warning comes first, so it is there also when the first one fails.
  const ToolRun missing = run({"missing.xml", "other.xml"}, dir());
  EXPECT_TRUE(exited(missing, 1));
  EXPECT_TRUE(
      logIs(missing, Lines{R"(Warning: only the first argument is converted; ignored: "other.xml")", kOpenFailed,
                           reasonLine("missing.xml", "Cannot open the file: No such file or directory")}));
  EXPECT_EQ(listDir(dir()), (Lines{"block.gci", "block.xml", "other.xml"}));
}

// --- Inputs that cannot be loaded ----------------------------------------------

struct LoadFailureRow {
  const char* label;
  enum Kind { Missing, File, Directory } kind;
  QByteArray content;
  std::string reason;  // empty: any reason
};
using LoadFailure = Table<LoadFailureRow>;

TEST_P(LoadFailure, SaysWhyAndWritesNothing) {
  const LoadFailureRow& row = GetParam();
  const QString input = path("block.xml");
  if (row.kind == LoadFailureRow::File) writeFile(input, row.content);
  if (row.kind == LoadFailureRow::Directory) {
    ASSERT_TRUE(QDir(dir()).mkdir("block.xml"));
  }
  const Lines before = listDir(dir());

  const ToolRun r = run({input});
  EXPECT_TRUE(exited(r, 1));
  const Lines err = r.errLines();
  ASSERT_EQ(err.size(), 2u) << r.err;
  EXPECT_EQ(err[0], kOpenFailed);
  if (row.reason.empty()) {
    EXPECT_TRUE(startsWith(err[1], "Reason: " + quoted(input) + " \"") && err[1].back() == '"') << err[1];
  } else {
    EXPECT_EQ(err[1], reasonLine(input, row.reason));
  }
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(listDir(dir()), before);
}

// A mismatched end tag is reported where its name starts, counted in
// characters: the two é before it are four bytes in UTF-8 but two columns.
const QString kMismatch = QStringLiteral("<Root>\n  <Block>\n  <Name>\u00e9\u00e9</Nme>\n</Root>\n");
const std::string kNoElement = "No document element found";

// `units` as UTF-32 code units, little-endian, after a byte-order mark.
QByteArray utf32(const std::vector<char32_t>& units) {
  QByteArray bytes("\xFF\xFE\0\0", 4);
  for (const char32_t unit : units) {
    for (int shift = 0; shift < 32; shift += 8) bytes.append(static_cast<char>((unit >> shift) & 0xFF));
  }
  return bytes;
}

// A mismatched end tag on the line after an invalid code unit: a lone
// surrogate that the parser drops, a unit beyond U+10FFFF that it keeps.
const QString kMismatchAfterLoneSurrogate =
    QStringLiteral("<Root>") + QChar(0xD800) + QStringLiteral("\n  <Name>ab</Nme>\n</Root>\n");
const QByteArray kMismatchAfterOutOfRangeUnit =
    utf32({'<', 'R', '>', 0x110000, '\n', 'a', 'b', '<', '/', 'X', '>', '<', '/', 'R', '>'});

INSTANTIATE_TEST_SUITE_P(
    e2e, LoadFailure,
    testing::Values(
        LoadFailureRow{"MissingFile", LoadFailureRow::Missing, "", "Cannot open the file: No such file or directory"},
        LoadFailureRow{"EmptyFile", LoadFailureRow::File, "", kNoElement},
        LoadFailureRow{"DeclarationOnly", LoadFailureRow::File, "<?xml version=\"1.0\"?>\n", kNoElement},
        LoadFailureRow{"CommentOnly", LoadFailureRow::File, "<!-- nothing here -->\n", kNoElement},
        LoadFailureRow{"MismatchedTag", LoadFailureRow::File, "<Root>\n  <Block>\n  </Blok>\n</Root>\n",
                       "Start-end tags mismatch at line 3, column 5"},
        LoadFailureRow{"MismatchedTagAfterWideCharacters", LoadFailureRow::File, kMismatch.toUtf8(),
                       "Start-end tags mismatch at line 3, column 13"},
        LoadFailureRow{"MismatchedTagInUtf16", LoadFailureRow::File, utf16(kMismatch, false),
                       "Start-end tags mismatch at line 3, column 13"},
        LoadFailureRow{"MismatchedTagAfterLoneSurrogateInUtf16", LoadFailureRow::File,
                       utf16(kMismatchAfterLoneSurrogate, true), "Start-end tags mismatch at line 2, column 13"},
        LoadFailureRow{"MismatchedTagAfterUnitBeyondUnicodeInUtf32", LoadFailureRow::File, kMismatchAfterOutOfRangeUnit,
                       "Start-end tags mismatch at line 2, column 5"},
        LoadFailureRow{"Directory", LoadFailureRow::Directory, "", ""}),
    RowLabel());

#ifdef Q_OS_UNIX
// An input the system will not open gives the system's own reason, not the
// missing file's: a file where a folder should be, and a folder the user may
// not enter. Root enters any folder, so there the tool runs as nobody.
TEST_F(e2e, UnopenableInputGivesTheSystemsReason) {
  ASSERT_TRUE(writeFile(path("block.xml"), sampleBlock()));
  const QString throughFile = path("block.xml/x.xml");
  const ToolRun through = run({throughFile});
  EXPECT_TRUE(exited(through, 1));
  EXPECT_TRUE(logIs(through, Lines{kOpenFailed, reasonLine(throughFile, "Cannot open the file: Not a directory")}));

  ASSERT_TRUE(QDir(dir()).mkdir("locked"));
  const QString locked = path("locked/block.xml");
  ASSERT_TRUE(writeFile(locked, sampleBlock()));
  ToolOptions options;
  options.program = kExe;
  options.args = QStringList{locked};
  if (geteuid() == 0) {
    // The scratch folder open to all, the one inside it to root alone.
    ASSERT_EQ(chmod(QFile::encodeName(dir()).constData(), 0755), 0);
    ASSERT_EQ(chmod(QFile::encodeName(path("locked")).constData(), 0700), 0);
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty()) GTEST_SKIP() << "the tests run as root and setpriv is not installed";
    options.program = setpriv;
    options.args = QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", kExe};
    options.args << QStringLiteral("--version");
    if (!runTool(options).exitedWith(0)) GTEST_SKIP() << "nobody (65534) may not run " << kExe.toStdString();
    options.args.last() = locked;
  } else {
    ASSERT_EQ(chmod(QFile::encodeName(path("locked")).constData(), 0), 0);
  }
  const ToolRun denied = runTool(options);
  chmod(QFile::encodeName(path("locked")).constData(), 0700);
  EXPECT_TRUE(exited(denied, 1));
  EXPECT_TRUE(logIs(denied, Lines{kOpenFailed, reasonLine(locked, "Cannot open the file: Permission denied")}));
  EXPECT_EQ(listDir(path("locked")), Lines{"block.xml"});
}
#endif

// --- File names of devices ------------------------------------------------------

#ifdef Q_OS_WIN
class DeviceName : public e2e, public testing::WithParamInterface<const char*> {};

// Windows opens a device, in any folder, for a file named like one: such an
// input (and nul.xml, whose output would be nul.gci) is refused before
// anything is opened, so no device is read and nothing is written.
TEST_P(DeviceName, IsRefused) {
  const QString input = QString::fromLatin1(GetParam());
  const ToolRun r = run({input}, dir());
  EXPECT_TRUE(exited(r, 1));
  EXPECT_TRUE(logIs(r, Lines{kOpenFailed, reasonLine(input, input.left(3).toUpper().toStdString() +
                                                                " is a device name reserved on Windows")}));
  EXPECT_EQ(listDir(dir()), Lines{});
}

INSTANTIATE_TEST_SUITE_P(e2e, DeviceName, testing::Values("con.xml", "nul.xml"),
                         [](const testing::TestParamInfo<const char*>& row) { return std::string(row.param, 3); });
#endif

// --- Well-formed inputs without control points ---------------------------------

struct NoOutputRow {
  const char* label;
  QByteArray content;
  std::string why;  // after "Warning: no GCI file written: "
};
using NoOutput = Table<NoOutputRow>;

TEST_P(NoOutput, LogsTheInputOnlyAndSucceeds) {
  const QString input = path("block.xml");
  writeFile(input, GetParam().content);
  const ToolRun r = run({input});
  EXPECT_TRUE(exited(r, 0));
  EXPECT_TRUE(logIs(r, Lines{filePathLine(input), "Warning: no GCI file written: " + GetParam().why}));
  EXPECT_EQ(listDir(dir()), Lines{"block.xml"});
}

const std::string kNoBlock = "the root element has no Block";
const std::string kNoPoints = "the block has no control points";

const QByteArray kPoints =
    "<ControlPoints><ControlPoint><Name>P</Name><Position><x>1</x><y>2</y><z>3</z></Position></ControlPoint>"
    "</ControlPoints>";

INSTANTIATE_TEST_SUITE_P(
    e2e, NoOutput,
    testing::Values(NoOutputRow{"RootWithoutBlock", "<Root><Other/></Root>", kNoBlock},
                    NoOutputRow{"BlockNameIsCaseSensitive", "<Root><block>" + kPoints + "</block></Root>", kNoBlock},
                    NoOutputRow{"ControlPointsOutsideBlock", "<Root>" + kPoints + "<Block/></Root>", kNoPoints},
                    NoOutputRow{"BlockWithoutControlPoints",
                                "<Root><Block><Photogroups><Photogroup><Photo><Id>1</Id></Photo></Photogroup>"
                                "</Photogroups></Block></Root>",
                                kNoPoints},
                    NoOutputRow{"EmptyControlPoints", "<Root><Block><ControlPoints/></Block></Root>", kNoPoints}),
    RowLabel());

// --- Conversions -----------------------------------------------------------------

// The tests compare logs with logIs(): a line given by its catalogue form
// stands for any line of that form, a line given as text for itself alone.
TEST_F(e2e, LogComparisonTakesAFormForAnyLineOfIt) {
  writeFile(path("block.xml"), sampleBlock());
  const ToolRun r = run({path("block.xml")});
  EXPECT_TRUE(exited(r, 0));
  Lines expected = convertedLines(path("block.xml"), beside(dir(), "block.gci"));
  ASSERT_EQ(expected[2], kSampleSummary);
  expected[2] = logLine(LogLineKind::Written).form;
  EXPECT_TRUE(logIs(r, expected));
  expected[2] = "Written: 2 control points (0 check points), 1 measurement";
  const testing::AssertionResult differs = logIs(r, expected);
  EXPECT_FALSE(differs);
  EXPECT_NE(std::string(differs.message()).find("line 3: expected \"Written: 2 control points"), std::string::npos)
      << differs.message();
  expected.pop_back();
  EXPECT_FALSE(logIs(r, expected));
}

struct GoldenRow {
  const char* label;
  const char* workDir;    // below the scratch directory
  const char* argument;   // %1 is the scratch directory with '/', %2 with the native separators
  const char* outputDir;  // the directory part of the logged output; %1 is the scratch directory
};
using Golden = Table<GoldenRow>;

// The example block converts to the example GCI file however its path is
// given; the log shows the input as the user gave it and the output as the
// input's directory, the platform's separator and the output's name.
TEST_P(Golden, ExampleBlockGivesExampleGci) {
  const GoldenRow& row = GetParam();
  ASSERT_TRUE(QDir(dir()).mkdir("in"));
  ASSERT_TRUE(QFile::copy(exampleBlockPath(), path("in/block.xml")));
  // Not QString::arg(), which warns of every placeholder a row leaves out.
  auto filled = [this](const char* pattern) {
    return QString::fromLatin1(pattern).replace("%1", dir()).replace("%2", QDir::toNativeSeparators(dir()));
  };
  const QString argument = filled(row.argument);
  const ToolRun r = run({argument}, path(row.workDir));
  EXPECT_TRUE(exited(r, 0));
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(logIs(r, exampleLines(argument, beside(filled(row.outputDir), "block.gci"))));
  EXPECT_EQ(readFile(path("in/block.gci")), exampleGci());
  EXPECT_EQ(listDir(path("in")), (Lines{"block.gci", "block.xml"}));
}

std::vector<GoldenRow> goldenRows() {
  std::vector<GoldenRow> rows = {
      GoldenRow{"Absolute", ".", "%1/in/block.xml", "%1/in"}, GoldenRow{"BareName", "in", "block.xml", "."},
      GoldenRow{"DotSlash", "in", "./block.xml", "."},        GoldenRow{"Subdirectory", ".", "in/block.xml", "in"},
      GoldenRow{"Parent", "in", "../in/block.xml", "../in"},
  };
#ifdef Q_OS_WIN
  // Windows takes the backslash as a separator in the input as well.
  for (const GoldenRow& row :
       {GoldenRow{"AbsoluteBackslashes", ".", "%2\\in\\block.xml", "%1/in"},
        GoldenRow{"DotBackslash", "in", ".\\block.xml", "."},
        GoldenRow{"SubdirectoryBackslash", ".", "in\\block.xml", "in"},
        GoldenRow{"ParentBackslash", "in", "..\\in\\block.xml", "../in"},
        GoldenRow{"MixedSeparators", ".", "%1\\in/block.xml", "%1/in"},
        // Device paths keep their folder part as typed.
        GoldenRow{"DevicePath", ".", "\\\\?\\%2\\in\\block.xml", "\\\\?\\%2\\in"},
        GoldenRow{"DeviceNamespace", ".", "\\\\.\\%2\\in\\block.xml", "\\\\.\\%2\\in"},
        // Resolved as Windows resolves it, on reading and on writing.
        GoldenRow{"DeviceNamespaceWithParent", ".", "\\\\.\\%2\\in\\..\\in\\block.xml", "\\\\.\\%2\\in\\..\\in"},
        // Windows opens block.xml: the output is block.gci.
        GoldenRow{"TrailingDot", "in", "block.xml.", "."},
        GoldenRow{"TrailingDotsAndBlanks", "in", "block.xml  . ", "."}}) {
    rows.push_back(row);
  }
#endif
  return rows;
}

INSTANTIATE_TEST_SUITE_P(e2e, Golden, testing::ValuesIn(goldenRows()), RowLabel());

#ifdef Q_OS_WIN
// A path that names the volume by its GUID reads and writes like any other.
TEST_F(e2e, VolumeGuidPath) {
  const QString folder = QDir::toNativeSeparators(dir());
  wchar_t volume[MAX_PATH] = {};
  if (folder.size() < 3 || folder.at(1) != QLatin1Char(':') ||
      !GetVolumeNameForVolumeMountPointW(folder.left(3).toStdWString().c_str(), volume, MAX_PATH)) {
    GTEST_SKIP() << "the scratch folder's drive has no volume GUID";
  }
  const QString inFolder = QString::fromWCharArray(volume) + folder.mid(3);
  if (GetFileAttributesW(inFolder.toStdWString().c_str()) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "the system opens no path through a volume GUID here (as under Wine)";
  }
  ASSERT_TRUE(writeFile(path("block.xml"), sampleBlock()));
  const ToolRun r = run({inFolder + QStringLiteral("\\block.xml")});
  EXPECT_TRUE(exited(r, 0));
  EXPECT_TRUE(
      logIs(r, convertedLines(inFolder + QStringLiteral("\\block.xml"), inFolder + QStringLiteral("\\block.gci"))));
  EXPECT_EQ(readFile(path("block.gci")), sampleGci());
}
#endif

#ifdef Q_OS_WIN
// Under Wine drive Z: is the Unix root, so Z: and a Unix path with
// backslashes name a file there; on Windows itself any drive letter path
// does. The output lies beside the input and keeps its drive.
TEST_F(e2e, DriveLetterPath) {
  QTemporaryDir onZ(QStringLiteral("Z:/tmp/block2gci-e2e-XXXXXX"));
  QString scratch = onZ.path();
  if (!QFileInfo(QStringLiteral("Z:/tmp")).isDir() || !onZ.isValid()) scratch = dir();
  ASSERT_EQ(scratch.mid(1, 2), ":/") << scratch.toStdString();
  ASSERT_TRUE(QFile::copy(exampleBlockPath(), scratch + "/block.xml"));
  const QString argument = QDir::toNativeSeparators(scratch + "/block.xml");
  const ToolRun r = run({argument});
  EXPECT_TRUE(exited(r, 0));
  EXPECT_TRUE(logIs(r, exampleLines(argument, beside(scratch, "block.gci"))));
  EXPECT_EQ(readFile(scratch + "/block.gci"), exampleGci());
  EXPECT_EQ(listDir(scratch), (Lines{"block.gci", "block.xml"}));

  // Relative to the drive's current folder, which is the working folder:
  // the output goes there too, not to the drive's root.
  ASSERT_TRUE(QFile::remove(scratch + "/block.gci"));
  const QString driveRelative = scratch.left(2) + "block.xml";
  const ToolRun relative = run({driveRelative}, scratch);
  EXPECT_TRUE(exited(relative, 0));
  EXPECT_TRUE(logIs(relative, exampleLines(driveRelative, scratch.left(2) + "block.gci")));
  EXPECT_EQ(readFile(scratch + "/block.gci"), exampleGci());
  EXPECT_FALSE(exists(scratch.left(3) + "block.gci"));
}
#endif

struct UnicodePathRow {
  const char* label;
  const char* folder;  // UTF-8; empty: the scratch directory itself
  const char* name;    // UTF-8, with the suffix .xml
};
using UnicodePath = Table<UnicodePathRow>;

// Folders and files named in scripts outside any 8-bit code page convert,
// given absolutely and relative to the working directory. The log shows
// the paths in the local 8-bit encoding.
TEST_P(UnicodePath, Converts) {
  const UnicodePathRow& row = GetParam();
  const QString folder = QString::fromUtf8(row.folder);
  const QString name = QString::fromUtf8(row.name);
  const QString gciName = name.left(name.size() - 4) + ".gci";
  const QString folderPath = folder.isEmpty() ? dir() : path(folder);
  ASSERT_TRUE(QDir().mkpath(folderPath));
  writeFile(folderPath + "/" + name, sampleBlock());

  struct Given {
    QString argument, workDir, outputDir;
  };
  const QString relative = folder.isEmpty() ? name : folder + "/" + name;
  for (const Given& given : {Given{folderPath + "/" + name, QString(), folderPath},
                             Given{relative, dir(), folder.isEmpty() ? QStringLiteral(".") : folder}}) {
    SCOPED_TRACE(given.argument.toStdString());
    QFile::remove(folderPath + "/" + gciName);
    const ToolRun r = run({given.argument}, given.workDir);
    EXPECT_TRUE(exited(r, 0));
    EXPECT_TRUE(logIs(r, convertedLines(given.argument, beside(given.outputDir, gciName))));
    EXPECT_EQ(readFile(folderPath + "/" + gciName), sampleGci());
    EXPECT_EQ(listDir(folderPath), (Lines{gciName.toStdString(), name.toStdString()}));
  }
}

INSTANTIATE_TEST_SUITE_P(e2e, UnicodePath,
                         testing::Values(UnicodePathRow{"GreekFolder", "\u0395\u03bb\u03bb\u03ac\u03b4\u03b1",
                                                        "block.xml"},
                                         UnicodePathRow{"GreekFileName", "", "\u03bc\u03c0\u03bb\u03bf\u03ba.xml"},
                                         UnicodePathRow{"CjkFolderAndFileName", "\u6e2c\u91cf", "\u5340\u584a.xml"},
                                         UnicodePathRow{"OutsideTheBasicPlane", "\U0001F5FA", "block.xml"}),
                         RowLabel());

// A path far beyond Windows' classic limit of 260 characters reads and
// writes, through the streamed load and through the whole-file load, which
// a document type declaration sends the block to.
TEST_F(e2e, LongPathConvertsInBothLoads) {
  QString folder = dir();
  while (folder.size() < 320) folder += "/" + QString(40, QLatin1Char('d'));
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString input = folder + "/block.xml";
  for (const QByteArray& start : {QByteArray(), QByteArray("<!DOCTYPE Root>\n")}) {
    SCOPED_TRACE(start.toStdString());
    writeFile(input, start + sampleBlock());
    const ToolRun r = run({input});
    EXPECT_TRUE(exited(r, 0));
    EXPECT_TRUE(logIs(r, convertedLines(input, beside(folder, "block.gci"))));
    EXPECT_EQ(readFile(folder + "/block.gci"), sampleGci());
    ASSERT_TRUE(QFile::remove(folder + "/block.gci"));
  }
}

TEST_F(e2e, OnlyTheLastSuffixIsReplaced) {
  writeFile(path("block.final.xml"), sampleBlock());
  const ToolRun r = run({path("block.final.xml")});
  EXPECT_TRUE(exited(r, 0));
  EXPECT_TRUE(logIs(r, convertedLines(path("block.final.xml"), beside(dir(), "block.final.gci"))));
  EXPECT_EQ(readFile(path("block.final.gci")), sampleGci());
  EXPECT_EQ(listDir(dir()), (Lines{"block.final.gci", "block.final.xml"}));
}

// A second run replaces the whole earlier output; the new text is shorter,
// so no tail of the earlier file may survive.
TEST_F(e2e, SecondRunReplacesTheEarlierOutput) {
  const QString input = path("block.xml");
  ASSERT_TRUE(QFile::copy(exampleBlockPath(), input));
  ASSERT_TRUE(exited(run({input}), 0));
  ASSERT_EQ(readFile(path("block.gci")), exampleGci());

  writeFile(input, sampleBlock("SECOND"));
  const ToolRun r = run({input});
  EXPECT_TRUE(exited(r, 0));
  EXPECT_TRUE(logIs(r, convertedLines(input, beside(dir(), "block.gci"))));
  EXPECT_EQ(readFile(path("block.gci")), sampleGci("SECOND"));
  EXPECT_EQ(listDir(dir()), (Lines{"block.gci", "block.xml"}));
}

#ifdef Q_OS_UNIX
// A new output file gets the permissions of any new file, not the private
// ones of a temporary file.
TEST_F(e2e, NewOutputHonoursTheUmask) {
  writeFile(path("block.xml"), sampleBlock());
  for (const mode_t mask : {mode_t{022}, mode_t{027}, mode_t{002}}) {
    SCOPED_TRACE(testing::Message() << "umask 0" << std::oct << mask);
    QFile::remove(path("block.gci"));
    const mode_t previous = ::umask(mask);
    const ToolRun r = run({path("block.xml")});
    ::umask(previous);
    EXPECT_TRUE(exited(r, 0));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path("block.gci")).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0666 & ~mask);
  }
}
#endif

struct LocaleRow {
  const char* label;
  std::vector<std::pair<const char*, const char*>> variables;  // set with LC_ALL removed
};
using GermanLocale = Table<LocaleRow>;

// Numbers are read and written with '.' whatever the locale.
TEST_P(GermanLocale, GivesTheSameBytes) {
#ifdef Q_OS_UNIX
  const locale_t german = newlocale(LC_ALL_MASK, "de_DE.UTF-8", static_cast<locale_t>(nullptr));
  if (!german) GTEST_SKIP() << "the locale de_DE.UTF-8 is not installed";
  freelocale(german);
#endif
  ASSERT_TRUE(QFile::copy(exampleBlockPath(), path("block.xml")));
  EnvSettings env = {{"LC_ALL", ""}};
  for (const auto& [name, value] : GetParam().variables) env.emplace_back(name, value);
  const ToolRun r = run({path("block.xml")}, QString(), env);
  EXPECT_TRUE(exited(r, 0));
  EXPECT_TRUE(logIs(r, exampleLines(path("block.xml"), beside(dir(), "block.gci"))));
  const std::string text = readFile(path("block.gci"));
  EXPECT_EQ(text, exampleGci());

  ASSERT_TRUE(QFile::remove(path("block.gci")));
  env.emplace_back("LC_ALL", "C");
  EXPECT_TRUE(exited(run({path("block.xml")}, QString(), env), 0));
  EXPECT_EQ(text, readFile(path("block.gci")));
}

INSTANTIATE_TEST_SUITE_P(e2e, GermanLocale,
                         testing::Values(LocaleRow{"LcAll", {{"LC_ALL", "de_DE.UTF-8"}}},
                                         LocaleRow{"LangAndLcNumeric",
                                                   {{"LANG", "de_DE.UTF-8"}, {"LC_NUMERIC", "de_DE.UTF-8"}}}),
                         RowLabel());

#ifdef Q_OS_UNIX
bool hasLocale(const char* name) {
  const locale_t locale = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(nullptr));
  if (locale) freelocale(locale);
  return locale != nullptr;
}

struct LocaleEncodingRow {
  const char* label;
  const char* locale;  // LC_ALL
  std::string eszett;  // "ß" in the locale's character set
};
using LocaleEncoding = Table<LocaleEncodingRow>;

// Names go into the GCI file and the log lines in the locale's character
// set; the C locale, plain ASCII, keeps UTF-8 so that no character is lost.
TEST_P(LocaleEncoding, WritesTextsInTheLocaleCharacterSet) {
  const LocaleEncodingRow& row = GetParam();
  if (!hasLocale(row.locale)) GTEST_SKIP() << "the locale " << row.locale << " is not installed";
  writeFile(path("block.xml"), sampleBlock("Stra\xC3\x9F"
                                           "e 1",
                                           "D:\\img\\Stra\xC3\x9F"
                                           "e.JPG"));
  const ToolRun r = run({path("block.xml")}, QString(), {{"LC_ALL", row.locale}});
  EXPECT_TRUE(exited(r, 0));
  Lines expected = convertedLines(path("block.xml"), beside(dir(), "block.gci"));
  expected.insert(expected.begin() + 1, "Warning: control point \"Stra" + row.eszett + "e 1\" has blanks in its name");
  EXPECT_TRUE(logIs(r, expected));
  EXPECT_EQ(readFile(path("block.gci")), sampleGci("Stra" + row.eszett + "e 1", "Stra" + row.eszett + "e"));
}

INSTANTIATE_TEST_SUITE_P(e2e, LocaleEncoding,
                         testing::Values(LocaleEncodingRow{"Utf8", "C.UTF-8", "\xC3\x9F"},
                                         LocaleEncodingRow{"GermanUtf8", "de_DE.UTF-8", "\xC3\x9F"},
                                         LocaleEncodingRow{"GermanLatin1", "de_DE.ISO-8859-1", "\xDF"},
                                         LocaleEncodingRow{"PlainC", "C", "\xC3\x9F"}),
                         RowLabel());

struct ByteNameRow {
  const char* label;
  const char* locale;  // LC_ALL
  std::string shown;   // how the log lines show the name S\xFCd
};
using ByteName = Table<ByteNameRow>;

// A file name that is not valid in the locale's encoding (Latin-1 bytes in
// a UTF-8 locale) is opened by the bytes given, and the output is written
// beside it by the same bytes, with the same GCI bytes as any other name.
// The log lines show such a byte as \uDCxx.
TEST_P(ByteName, IsOpenedAndAnsweredByTheSameBytes) {
  const ByteNameRow& row = GetParam();
  if (!hasLocale(row.locale)) GTEST_SKIP() << "the locale " << row.locale << " is not installed";
  const std::string dirBytes = QFile::encodeName(dir()).toStdString();
  {
    std::ofstream input(dirBytes +
                            "/S\xFC"
                            "d.xml",
                        std::ios::binary);
    input << sampleBlock().toStdString();
  }
  ToolOptions options;
  options.program = QStringLiteral("/bin/sh");
  options.args = QStringList{"-c", R"sh(exec "$0" "$(printf 'S\374d.xml')")sh", kExe};
  options.workDir = dir();
  options.env = {{"LC_ALL", row.locale}};
  const ToolRun r = runTool(options);
  EXPECT_TRUE(exited(r, 0));
  // quoted() cannot give the \uDCxx that the first two lines show.
  Lines expected = convertedLines("S", "./S.gci");
  expected[0] = "filePath: \"" + row.shown + ".xml\"";
  expected[1] = "Generate file:  \"./" + row.shown + ".gci\"";
  EXPECT_TRUE(logIs(r, expected));
  std::ifstream output(dirBytes +
                           "/S\xFC"
                           "d.gci",
                       std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(output), {}), sampleGci());
  // Qt in this process cannot name these files, so the directory is read by its bytes.
  std::vector<std::string> entries;
  if (DIR* listing = ::opendir(dirBytes.c_str())) {
    while (const dirent* entry = ::readdir(listing)) entries.emplace_back(entry->d_name);
    ::closedir(listing);
  }
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (Lines{".", "..",
                            "S\xFC"
                            "d.gci",
                            "S\xFC"
                            "d.xml"}));
  // Removed by their bytes, so that QTemporaryDir, which cannot name them
  // either, removes the directory without a warning.
  for (const std::string& name : entries) {
    if (name != "." && name != "..") {
      EXPECT_EQ(::unlink((dirBytes + "/" + name).c_str()), 0) << name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(e2e, ByteName,
                         testing::Values(ByteNameRow{"Utf8Locale", "C.UTF-8", "S\\uDCFCd"},
                                         ByteNameRow{"Latin1Locale", "de_DE.ISO-8859-1",
                                                     "S\xFC"
                                                     "d"}),
                         RowLabel());
#endif

// --- Encodings and texts ---------------------------------------------------------

struct EncodingRow {
  const char* label;
  QByteArray bytes;
};
using Encoding = Table<EncodingRow>;

// Whatever the input encoding, texts are written in the local 8-bit
// encoding: UTF-8 under C.UTF-8 on Linux, the ANSI code page on Windows.
TEST_P(Encoding, GivesTheSameLocalOutput) {
  writeFile(path("block.xml"), GetParam().bytes);
  EXPECT_TRUE(exited(run({path("block.xml")}), 0));
  EXPECT_EQ(readFile(path("block.gci")), sampleGci("Point" + kEAcute + "_01", "Imag" + kEAcute + "_0001"));
}

const QString kAccented = QString::fromUtf8(sampleBlock("Point\xC3\xA9_01", "D:\\img\\Imag\xC3\xA9_0001.JPG"));
const QString kUtf16Declaration = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n");

INSTANTIATE_TEST_SUITE_P(
    e2e, Encoding,
    testing::Values(EncodingRow{"Utf8", kAccented.toUtf8()},
                    EncodingRow{"Utf8Declared", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + kAccented.toUtf8()},
                    EncodingRow{"Utf8WithBom", "\xEF\xBB\xBF" + kAccented.toUtf8()},
                    EncodingRow{"Utf16LittleEndian", utf16(kUtf16Declaration + kAccented, false)},
                    EncodingRow{"Utf16BigEndian", utf16(kUtf16Declaration + kAccented, true)},
                    EncodingRow{"Latin1Declared",
                                "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n" + kAccented.toLatin1()}),
    RowLabel());

struct LineBreakRow {
  const char* label;
  QByteArray nameXml;
  QByteArray imagePathXml;
  std::string name;
  std::string image;
};
using LineBreak = Table<LineBreakRow>;

// A line break inside a text would split its record; it is written as a
// blank instead.
TEST_P(LineBreak, IsWrittenAsABlank) {
  const LineBreakRow& row = GetParam();
  writeFile(path("block.xml"), sampleBlock(row.nameXml, row.imagePathXml));
  EXPECT_TRUE(exited(run({path("block.xml")}), 0));
  EXPECT_EQ(readFile(path("block.gci")), sampleGci(row.name, row.image));
}

const QByteArray kImage = "D:\\img\\IMG_0001.JPG";

INSTANTIATE_TEST_SUITE_P(
    e2e, LineBreak,
    testing::Values(LineBreakRow{"LineFeedReference", "GCP&#10;01", kImage, "GCP 01", "IMG_0001"},
                    LineBreakRow{"CarriageReturnLineFeedReferences", "GCP&#13;&#10;01", kImage, "GCP  01", "IMG_0001"},
                    LineBreakRow{"CdataOverTwoLines", "<![CDATA[GCP\n01]]>", kImage, "GCP 01", "IMG_0001"},
                    LineBreakRow{"CdataOverTwoCrLfLines", "<![CDATA[GCP\r\n01]]>", kImage, "GCP 01", "IMG_0001"},
                    LineBreakRow{"InImagePath", "GCP_01", "D:\\img\\IMG&#10;0001.JPG", "GCP_01", "IMG 0001"}),
    RowLabel());

// --- Write failures --------------------------------------------------------------

// A directory where the output belongs: nothing changes, and the temporary
// file is not left behind.
TEST_F(e2e, DirectoryAtTheOutputPathFails) {
  writeFile(path("block.xml"), sampleBlock());
  ASSERT_TRUE(QDir(dir()).mkdir("block.gci"));
  expectWriteFailed(run({path("block.xml")}), path("block.xml"), beside(dir(), "block.gci"));
  EXPECT_EQ(listDir(dir()), (Lines{"block.gci", "block.xml"}));
  EXPECT_TRUE(QFileInfo(path("block.gci")).isDir());
  EXPECT_EQ(listDir(path("block.gci")), Lines());
}

// An input that is its own output, however it is spelled, is left alone.
TEST_F(e2e, OutputThatWouldReplaceTheInputIsRefused) {
  writeFile(path("x.gci"), sampleBlock());
  struct Spelling {
    QString input, output;
  };
#ifdef Q_OS_WIN
  const Spelling spellings[] = {{"x.gci", "x.gci"}, {"X.GCI", "X.gci"}, {"x.gci ", "x.gci"}};
#else
  ASSERT_EQ(::link(QFile::encodeName(path("x.gci")).constData(), QFile::encodeName(path("x.xml")).constData()), 0);
  const Spelling spellings[] = {{"x.gci", "x.gci"}, {"x.xml", "x.gci"}};
#endif
  const Lines before = listDir(dir());
  for (const Spelling& s : spellings) {
    SCOPED_TRACE(s.input.toStdString());
    expectWriteFailed(run({s.input}, dir()), s.input, beside(".", s.output));
    EXPECT_EQ(readFile(path("x.gci")), sampleBlock().toStdString());
    EXPECT_EQ(listDir(dir()), before);
  }
}

#ifdef Q_OS_UNIX
// A block of `points` control points. With 400 its GCI text (some 60 kB)
// cannot fit into what a full file system has left, which is less than a
// page; with 3000 the block takes 656 kB and its GCI text 458 kB.
QByteArray bigBlock(int points = 400) {
  QByteArray xml =
      "<Root><Block><Photogroups><Photogroup><ImageDimensions><Width>4000</Width><Height>3000</Height>"
      "</ImageDimensions><Photo><Id>1</Id><ImagePath>a/b.jpg</ImagePath></Photo></Photogroup>"
      "</Photogroups><ControlPoints>\n";
  for (int i = 0; i < points; ++i) {
    xml += "<ControlPoint><Name>P" + QByteArray::number(i) +
           "</Name><Position><x>1</x><y>2</y><z>3</z></Position>"
           "<Measurement><PhotoId>1</PhotoId><x>1</x><y>2</y></Measurement>"
           "<Measurement><PhotoId>1</PhotoId><x>3</x><y>4</y></Measurement></ControlPoint>\n";
  }
  return xml + "</ControlPoints></Block></Root>\n";
}

// On a full disk the earlier output stays as it was, no temporary file is
// left, and the line gives the system's reason: also where the disk fills up
// in the middle of the text, so that the first write comes back short.
TEST_F(e2e, FullDiskKeepsTheEarlierOutput) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  const QString small = path("small");
  ASSERT_TRUE(QDir(dir()).mkdir("small"));
  const ToolRun mount = runProgram("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", small});
  if (!mount.exitedWith(0)) GTEST_SKIP() << "cannot mount a tmpfs: " << mount.describe();
  struct Unmount {
    QString at;
    ~Unmount() { runProgram("umount", {at}); }
  } unmount{small};

  struct Case {
    const char* what;
    int points;
    bool fill;  // fill the disk before the run
  };
  for (const Case& c :
       {Case{"the output does not fit into the room left", 3000, false}, Case{"the disk is full", 400, true}}) {
    SCOPED_TRACE(c.what);
    writeFile(small + "/block.xml", bigBlock(c.points));
    writeFile(small + "/block.gci", "earlier output\r\n");
    if (c.fill) {
      const int fd = ::open(QFile::encodeName(small + "/filler").constData(), O_WRONLY | O_CREAT, 0644);
      ASSERT_GE(fd, 0);
      static const char zeros[4096] = {};
      while (::write(fd, zeros, sizeof zeros) > 0) {
      }
      const int error = errno;
      ::close(fd);
      ASSERT_EQ(error, ENOSPC);
    }
    const Lines before = listDir(small);

    const ToolRun r = run({small + "/block.xml"});
    expectWriteFailed(r, small + "/block.xml", small + "/block.gci");
    EXPECT_TRUE(logIs(r, Lines{filePathLine(small + "/block.xml"),
                               writeFailedStart(small + "/block.gci") + "No space left on device\""}));
    EXPECT_EQ(readFile(small + "/block.gci"), "earlier output\r\n");
    EXPECT_EQ(listDir(small), before);
  }
}

// Beyond a file-size limit (ulimit -f) the write fails like any other, with
// the system's reason, instead of the signal killing the tool; the earlier
// output stays and nothing else is left. Under a limit the output fits in,
// the bytes are those of a run without a limit.
TEST_F(e2e, FileSizeLimitFailsLikeAnyWrite) {
  const QString input = path("block.xml");
  writeFile(input, bigBlock());
  ASSERT_TRUE(exited(run({input}), 0));
  const std::string whole = readFile(path("block.gci"));
  ASSERT_GT(whole.size(), 50000u);

  ToolOptions options;
  options.program = kExe;
  options.args = QStringList{input};
  options.fileSizeLimit = whole.size();
  ASSERT_TRUE(QFile::remove(path("block.gci")));
  EXPECT_TRUE(exited(runTool(options), 0));
  EXPECT_EQ(readFile(path("block.gci")), whole);

  writeFile(path("block.gci"), "earlier output\r\n");
  options.fileSizeLimit = 16 * 1024;
  const ToolRun r = runTool(options);
  EXPECT_TRUE(exited(r, 1));
  EXPECT_TRUE(logIs(r, Lines{filePathLine(input), writeFailedStart(path("block.gci")) + "File too large\""}));
  EXPECT_EQ(readFile(path("block.gci")), "earlier output\r\n");
  EXPECT_EQ(listDir(dir()), (Lines{"block.gci", "block.xml"}));
}

// Waits up to ten seconds for the running tool `pid` to hold a file open in
// `dir` other than `input`: its temporary output, named or not. True once
// it does.
bool awaitTemporaryOutput(qint64 pid, const QString& dir, const QString& input) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  const std::string inDir = QFile::encodeName(dir).toStdString() + "/";
  const std::string inputName = QFile::encodeName(input).toStdString();
  for (int tries = 0; tries < 100000; ++tries) {
    if (DIR* open = ::opendir(fds.c_str())) {
      bool found = false;
      while (const dirent* entry = ::readdir(open)) {
        char target[4096];
        const ssize_t size = ::readlink((fds + "/" + entry->d_name).c_str(), target, sizeof target);
        const std::string name(target, size > 0 ? static_cast<std::size_t>(size) : 0);
        found = found || (startsWith(name, inDir) && name != inputName);
      }
      ::closedir(open);
      if (found) return true;
    }
    ::usleep(100);
  }
  return false;
}

// An interrupt in the middle of the write removes the temporary file, keeps
// the earlier output as it was, says so, and ends the tool by the same
// signal, so that a shell or script sees it was interrupted. The tool is
// stopped as soon as it holds its temporary file, so that the signal surely
// comes in the middle.
TEST_F(e2e, InterruptMidWriteLeavesTheEarlierOutput) {
  const QString input = path("block.xml");
  writeFile(input, bigBlock(100000));
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    writeFile(path("block.gci"), "earlier output\r\n");
    ToolOptions options;
    options.program = kExe;
    options.args = QStringList{input};
    RunningTool tool(options);
    ASSERT_TRUE(awaitTemporaryOutput(tool.pid(), dir(), input));
    ::kill(static_cast<pid_t>(tool.pid()), SIGSTOP);
    ::kill(static_cast<pid_t>(tool.pid()), signal);
    ::kill(static_cast<pid_t>(tool.pid()), SIGCONT);
    const ToolRun r = tool.finish();
    EXPECT_TRUE(r.crashed && r.exitCode == signal) << r.describe();
    EXPECT_TRUE(logIs(r, Lines{filePathLine(input), logLine(LogLineKind::Interrupted).form}));
    EXPECT_EQ(readFile(path("block.gci")), "earlier output\r\n");
    EXPECT_EQ(listDir(dir()), (Lines{"block.gci", "block.xml"}));
  }
}

// A killed run (kill -9, a crash) cannot clean up after itself, so it must
// have nothing to clean up: killed at any moment, it leaves the earlier
// output or the complete new one, and nothing else beside them. The moments
// spread over a whole run; the first kill comes while the tool surely holds
// its temporary file.
TEST_F(e2e, KilledRunLeavesNothingBehind) {
  const QString input = path("block.xml");
  writeFile(input, bigBlock(100000));
  ASSERT_TRUE(exited(run({input}), 0));
  const std::string complete = readFile(path("block.gci"));
  for (int moment = 0; moment < 24; ++moment) {
    SCOPED_TRACE(testing::Message() << "moment " << moment);
    writeFile(path("block.gci"), "earlier output\r\n");
    ToolOptions options;
    options.program = kExe;
    options.args = QStringList{input};
    RunningTool tool(options);
    if (moment == 0) {
      ASSERT_TRUE(awaitTemporaryOutput(tool.pid(), dir(), input));
    } else {
      ::usleep(static_cast<useconds_t>(moment * 15000));
    }
    ::kill(static_cast<pid_t>(tool.pid()), SIGKILL);
    tool.finish();
    const std::string after = readFile(path("block.gci"));
    EXPECT_TRUE(after == "earlier output\r\n" || after == complete) << after.size() << " bytes";
    EXPECT_EQ(listDir(dir()), (Lines{"block.gci", "block.xml"}));
  }
}

int chmodPath(const QString& path, mode_t mode) { return ::chmod(QFile::encodeName(path).constData(), mode); }

mode_t modeOf(const QString& path) {
  struct stat info {};
  return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Runs the tool on `input` as a user whom permissions bind, with an
// optional file-size limit. Root writes anywhere, so as root the tool runs
// as nobody, from a copy beside the input, whose folder `dir` becomes
// reachable for it. Skips the test when that is not possible.
void runAsOrdinaryUser(const QString& dir, const QString& input, ToolRun* result,
                       unsigned long long fileSizeLimit = 0) {
  ToolOptions options;
  options.program = kExe;
  options.fileSizeLimit = fileSizeLimit;
  if (::geteuid() == 0) {
    options.program = QStandardPaths::findExecutable("setpriv");
    if (options.program.isEmpty()) GTEST_SKIP() << "running as root and setpriv is not available";
    // The build tree may lie where nobody cannot reach it (under /root, say).
    const QString exe = dir + "/block2gci";
    QFile::remove(exe);
    ASSERT_TRUE(QFile::copy(kExe, exe));
    ASSERT_EQ(chmodPath(exe, 0755), 0);
    options.args = QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", exe};
    ASSERT_EQ(chmodPath(dir, 0755), 0);
  }
  options.args << input;
  *result = runTool(options);
}

// A folder that allows no new file: the write fails and says so, and an
// earlier output stays exactly as it was, even a writable one (nothing is
// written in place), under a file-size limit too.
TEST_F(e2e, ReadOnlyDirectoryKeepsTheEarlierOutput) {
  const QString ro = path("ro");
  ASSERT_TRUE(QDir(dir()).mkdir("ro"));
  writeFile(ro + "/block.xml", sampleBlock());
  ASSERT_EQ(chmodPath(ro + "/block.xml", 0644), 0);
  struct Case {
    const char* what;
    bool earlier;
    unsigned long long fileSizeLimit;
  };
  for (const Case& c : {Case{"no earlier output", false, 0}, Case{"a writable earlier output", true, 0},
                        Case{"under a file-size limit", true, 8192}}) {
    SCOPED_TRACE(c.what);
    const std::string earlier(62495, 'x');
    QFile::remove(ro + "/block.gci");
    if (c.earlier) {
      writeFile(ro + "/block.gci", earlier);
      ASSERT_EQ(chmodPath(ro + "/block.gci", 0666), 0);
    }
    const Lines before = listDir(ro);
    ASSERT_EQ(chmodPath(ro, 0555), 0);
    ToolRun r;
    runAsOrdinaryUser(dir(), ro + "/block.xml", &r, c.fileSizeLimit);
    ASSERT_EQ(chmodPath(ro, 0755), 0);
    if (IsSkipped() || HasFatalFailure()) return;
    EXPECT_TRUE(exited(r, 1));
    EXPECT_TRUE(logIs(r, Lines{filePathLine(ro + "/block.xml"),
                               writeFailedStart(ro + "/block.gci") +
                                   "Cannot create a file in the output's folder: Permission denied\""}));
    if (c.earlier) {
      EXPECT_EQ(readFile(ro + "/block.gci"), earlier);
    }
    EXPECT_EQ(listDir(ro), before);
  }
}

// An output the user may not write is refused, and left as it was: its
// text and its mode.
TEST_F(e2e, ReadOnlyOutputIsRefused) {
  writeFile(path("block.xml"), sampleBlock());
  ASSERT_EQ(chmodPath(path("block.xml"), 0644), 0);
  writeFile(path("block.gci"), "earlier output\r\n");
  ASSERT_EQ(chmodPath(path("block.gci"), 0444), 0);
  ToolRun r;
  runAsOrdinaryUser(dir(), path("block.xml"), &r);
  if (IsSkipped() || HasFatalFailure()) return;
  EXPECT_TRUE(exited(r, 1));
  EXPECT_TRUE(logIs(r, Lines{filePathLine(path("block.xml")),
                             writeFailedStart(path("block.gci")) + "The output file is read-only\""}));
  EXPECT_EQ(readFile(path("block.gci")), "earlier output\r\n");
  EXPECT_EQ(modeOf(path("block.gci")), 0444u);
}

// The data must be on the disk before the output is replaced: a sync that
// fails (injected by a preloaded library that makes fsync fail with a given
// error) fails the write and keeps the earlier output; a file system that
// cannot sync at all does not.
TEST_F(e2e, FailedSyncFailsTheWrite) {
  writeFile(path("block.xml"), sampleBlock());
  struct Case {
    const char* error;
    bool fails;
    const char* reason;
  };
  for (const Case& c : {Case{"EIO", true, "Input/output error"}, Case{"ENOSPC", true, "No space left on device"},
                        Case{"EINVAL", false, ""}, Case{"EROFS", false, ""}}) {
    SCOPED_TRACE(c.error);
    writeFile(path("block.gci"), "earlier output\r\n");
    const ToolRun r = run({path("block.xml")}, QString(),
                          {{"LD_PRELOAD", QStringLiteral(BLOCK2GCI_FAILING_FSYNC)},
                           {"BLOCK2GCI_TEST_FSYNC_ERROR", c.error},
                           {"ASAN_OPTIONS", "verify_asan_link_order=0"}});
    if (c.fails) {
      EXPECT_TRUE(exited(r, 1));
      EXPECT_TRUE(
          logIs(r, Lines{filePathLine(path("block.xml")), writeFailedStart(path("block.gci")) + c.reason + "\""}));
      EXPECT_EQ(readFile(path("block.gci")), "earlier output\r\n");
    } else {
      EXPECT_TRUE(exited(r, 0));
      EXPECT_EQ(readFile(path("block.gci")), sampleGci());
    }
    EXPECT_EQ(listDir(dir()), (Lines{"block.gci", "block.xml"}));
  }
}
#endif

#ifdef Q_OS_WIN
// Another program holds the output open without sharing its deletion, as a
// spreadsheet or a virus scanner does: for a moment the tool waits it out;
// for longer it fails, says the file is in use, and leaves the earlier
// output and nothing else.
TEST_F(e2e, OutputHeldByAnotherProgram) {
  writeFile(path("block.xml"), sampleBlock());
  struct Case {
    const char* what;
    const char* holdMs;
    bool succeeds;
  };
  for (const Case& c : {Case{"for half a second", "500", true}, Case{"for six seconds", "6000", false}}) {
    SCOPED_TRACE(c.what);
    writeFile(path("block.gci"), "earlier output\r\n");
    QProcess holder;
    holder.start(QStringLiteral(BLOCK2GCI_HOLD_FILE), {QDir::toNativeSeparators(path("block.gci")), c.holdMs});
    ASSERT_TRUE(holder.waitForReadyRead(60000)) << "the holder did not start";
    ASSERT_EQ(holder.readAll().trimmed(), "held");
    const ToolRun r = run({path("block.xml")});
    holder.waitForFinished(60000);
    if (c.succeeds) {
      EXPECT_TRUE(exited(r, 0));
      EXPECT_EQ(readFile(path("block.gci")), sampleGci());
    } else {
      EXPECT_TRUE(exited(r, 1));
      const Lines err = r.errLines();
      ASSERT_EQ(err.size(), 2u) << r.err;
      EXPECT_TRUE(startsWith(err[1], writeFailedStart(beside(dir(), "block.gci")))) << err[1];
      EXPECT_NE(err[1].find("another"), std::string::npos) << err[1];
      EXPECT_EQ(readFile(path("block.gci")), "earlier output\r\n");
    }
    EXPECT_EQ(listDir(dir()), (Lines{"block.gci", "block.xml"}));
  }
}

// An output with the read-only attribute is refused, and keeps its text and
// its attribute, as Windows itself would refuse to replace it.
TEST_F(e2e, ReadOnlyOutputIsRefused) {
  writeFile(path("block.xml"), sampleBlock());
  writeFile(path("block.gci"), "earlier output\r\n");
  const std::wstring output = QDir::toNativeSeparators(path("block.gci")).toStdWString();
  ASSERT_TRUE(SetFileAttributesW(output.c_str(), FILE_ATTRIBUTE_READONLY));
  const ToolRun r = run({path("block.xml")});
  EXPECT_TRUE(exited(r, 1));
  EXPECT_TRUE(logIs(r, Lines{filePathLine(path("block.xml")),
                             writeFailedStart(beside(dir(), "block.gci")) + "The output file is read-only\""}));
  EXPECT_EQ(readFile(path("block.gci")), "earlier output\r\n");
  EXPECT_TRUE(GetFileAttributesW(output.c_str()) & FILE_ATTRIBUTE_READONLY);
  SetFileAttributesW(output.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A killed run (TerminateProcess, as Task Manager ends a program) leaves no
// temporary file: the system deletes it with the process's last handle. The
// kill comes once the tool is writing its temporary file; the moment
// between the file's creation and its marking for deletion, two system
// calls apart, is not shown.
TEST_F(e2e, KilledRunLeavesNothingBehind) {
  QByteArray xml = "<R><Block><ControlPoints>";
  for (int i = 0; i < 200000; ++i) xml += "<P><Name>P" + QByteArray::number(i) + "</Name></P>";
  writeFile(path("block.xml"), xml + "</ControlPoints></Block></R>");
  writeFile(path("block.gci"), "earlier output\r\n");
  QProcess tool;
  tool.start(kExe, {path("block.xml")});
  ASSERT_TRUE(tool.waitForStarted(60000));
  bool writing = false;
  for (int tries = 0; tries < 200000 && !writing && tool.state() == QProcess::Running; ++tries) {
    for (const std::string& name : listDir(dir())) {
      writing = writing || (startsWith(name, "block2gci-") && QFileInfo(path(QString::fromStdString(name))).size() > 0);
    }
  }
  tool.kill();
  tool.waitForFinished(60000);
  if (!writing) GTEST_SKIP() << "the run ended before its temporary file was seen";
  const std::string after = readFile(path("block.gci"));
  EXPECT_TRUE(after == "earlier output\r\n" || startsWith(after, "200000\r\n")) << after.substr(0, 40);
  EXPECT_EQ(listDir(dir()), (Lines{"block.gci", "block.xml"}));
}
#endif

// --- Logging configuration -------------------------------------------------------

struct LoggingRow {
  const char* label;
  enum Kind { ConfigHome, ConfFile, MessagePattern } kind;
};
using Logging = Table<LoggingRow>;

// A logging configuration of the user's neither silences nor decorates the
// lines, on success and on failure alike.
TEST_P(Logging, LinesStayPlainAndPresent) {
  const QByteArray rules = "[Rules]\n*.debug=false\n";
  EnvSettings env;
  switch (GetParam().kind) {
    case LoggingRow::ConfigHome:
      ASSERT_TRUE(QDir(dir()).mkpath("config/QtProject"));
      writeFile(path("config/QtProject/qtlogging.ini"), rules);
      env.emplace_back("XDG_CONFIG_HOME", path("config"));
      break;
    case LoggingRow::ConfFile:
      writeFile(path("rules.ini"), rules);
      env.emplace_back("QT_LOGGING_CONF", path("rules.ini"));
      break;
    case LoggingRow::MessagePattern:
      env.emplace_back("QT_MESSAGE_PATTERN", "[%{type}] %{file}:%{line} %{message}");
      break;
  }
  writeFile(path("block.xml"), sampleBlock());
  const ToolRun converted = run({path("block.xml")}, QString(), env);
  EXPECT_TRUE(exited(converted, 0));
  EXPECT_TRUE(logIs(converted, convertedLines(path("block.xml"), beside(dir(), "block.gci"))));
  EXPECT_EQ(readFile(path("block.gci")), sampleGci());

  const ToolRun failed = run({path("missing.xml")}, QString(), env);
  EXPECT_TRUE(exited(failed, 1));
  EXPECT_TRUE(logIs(
      failed, Lines{kOpenFailed, reasonLine(path("missing.xml"), "Cannot open the file: No such file or directory")}));
}

std::vector<LoggingRow> loggingRows() {
  return {
#ifdef Q_OS_UNIX
      // Where Qt looks for the user's qtlogging.ini on Unix.
      LoggingRow{"ConfigHome", LoggingRow::ConfigHome},
#endif
      LoggingRow{"ConfFile", LoggingRow::ConfFile},
      LoggingRow{"MessagePattern", LoggingRow::MessagePattern},
  };
}

INSTANTIATE_TEST_SUITE_P(e2e, Logging, testing::ValuesIn(loggingRows()), RowLabel());

// Rules the user sets explicitly may silence the log, never the conversion.
TEST_F(e2e, ExplicitLoggingRulesDoNotStopTheConversion) {
  writeFile(path("block.xml"), sampleBlock());
  EXPECT_TRUE(exited(run({path("block.xml")}, QString(), {{"QT_LOGGING_RULES", "*.debug=false"}}), 0));
  EXPECT_EQ(readFile(path("block.gci")), sampleGci());
}

}  // namespace
