// End-to-end tests: every case runs the built block2gci executable in a
// scratch directory and checks its exit status, what it prints and the files
// it leaves behind, byte for byte.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

const QString kExe = QStringLiteral(BLOCK2GCI_EXE);
const QString kExampleBlock = QStringLiteral(BLOCK2GCI_SOURCE_DIR "/examples/block.xml");
const QString kExampleGci = QStringLiteral(BLOCK2GCI_SOURCE_DIR "/examples/block.gci");

using Lines = std::vector<std::string>;

struct Result {
  bool finished = false;
  QProcess::ExitStatus exitStatus = QProcess::CrashExit;
  int exitCode = -1;
  QByteArray out;
  QByteArray err;
};

// The caller's environment with a fixed UTF-8 locale and none of Qt's
// logging settings; tests add their own where they need them.
QProcessEnvironment toolEnvironment() {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("LC_ALL", "C.UTF-8");
  for (const char* name : {"QT_LOGGING_RULES", "QT_LOGGING_CONF", "QT_MESSAGE_PATTERN"}) env.remove(name);
  return env;
}

Result run(const QStringList& args, const QString& workDir = QString(),
           const QProcessEnvironment& env = toolEnvironment(), const QString& program = kExe) {
  QProcess process;
  process.setProcessEnvironment(env);
  if (!workDir.isEmpty()) process.setWorkingDirectory(workDir);
  process.start(program, args);
  Result r;
  if (!process.waitForStarted()) return r;
  process.closeWriteChannel();
  r.finished = process.waitForFinished(60000);
  r.exitStatus = process.exitStatus();
  r.exitCode = process.exitCode();
  r.out = process.readAllStandardOutput();
  r.err = process.readAllStandardError();
  return r;
}

// The process ended on its own, without crashing, with `code`.
testing::AssertionResult exited(const Result& r, int code) {
  if (r.finished && r.exitStatus == QProcess::NormalExit && r.exitCode == code) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "finished " << r.finished << ", crashed "
                                     << (r.exitStatus != QProcess::NormalExit) << ", exit code " << r.exitCode
                                     << " instead of " << code << "; stderr:\n" << r.err.toStdString();
}

Lines lines(const QByteArray& text) {
  Lines result;
  for (const QByteArray& line : text.split('\n')) result.push_back(line.toStdString());
  if (!result.empty() && result.back().empty()) result.pop_back();
  return result;
}

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
  ASSERT_EQ(file.write(bytes), bytes.size()) << path.toStdString();
}

std::string readFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    ADD_FAILURE() << "cannot read " << path.toStdString();
    return std::string();
  }
  return file.readAll().toStdString();
}

// Every entry of `dir`, hidden ones included, sorted by name.
Lines listDir(const QString& dir) {
  Lines names;
  const QDir::Filters all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
  for (const QString& name : QDir(dir).entryList(all, QDir::Name)) names.push_back(name.toStdString());
  return names;
}

std::string filePathLine(const QString& input) { return "filePath: \"" + input.toStdString() + "\""; }

const std::string kSampleSummary = "Written: 1 control point (0 check points), 1 measurement";

// The log of a conversion of `input` that wrote `output` without warnings;
// the summary by default is that of sampleBlock().
Lines convertedLines(const QString& input, const QString& output, const std::string& summary = kSampleSummary) {
  return Lines{filePathLine(input), "Generate file:  \"" + output.toStdString() + "\"", summary};
}

// The log of a conversion of the example block: it names one photo that the
// block does not have.
Lines exampleLines(const QString& input, const QString& output) {
  return Lines{filePathLine(input), "Warning: photo id 99 is named by 1 measurement but no photo has it",
               "Generate file:  \"" + output.toStdString() + "\"",
               "Written: 4 control points (2 check points), 7 measurements"};
}

// The run loaded `input` and then failed to write `output`, saying why.
void expectWriteFailed(const Result& r, const QString& input, const QString& output) {
  EXPECT_TRUE(exited(r, 1));
  const Lines err = lines(r.err);
  ASSERT_EQ(err.size(), 2u) << r.err.toStdString();
  EXPECT_EQ(err[0], filePathLine(input));
  const std::string prefix = "Write failed: \"" + output.toStdString() + "\" \"";
  EXPECT_TRUE(err[1].compare(0, prefix.size(), prefix) == 0 && err[1].back() == '"') << err[1];
}

// A block with one control point measured once on a 400 x 300 photo; the
// name and image path are pasted into the XML as given.
QByteArray sampleBlock(const QByteArray& name = "GCP_01", const QByteArray& imagePath = "D:\\img\\IMG_0001.JPG") {
  return "<AnyRoot><Block>\n"
         "  <Photogroups>\n"
         "    <Photogroup><Name>Cam</Name><ImageDimensions><Width>400</Width><Height>300</Height></ImageDimensions>\n"
         "      <Photo><Id>1</Id><ImagePath>" + imagePath + "</ImagePath></Photo></Photogroup>\n"
         "  </Photogroups>\n"
         "  <ControlPoints>\n"
         "    <ControlPoint><Name>" + name + "</Name><Position><x>512.6789</x><y>431.25</y><z>87.5</z></Position>\n"
         "      <CheckPoint>false</CheckPoint>\n"
         "      <Measurement><PhotoId>1</PhotoId><x>0</x><y>0</y></Measurement></ControlPoint>\n"
         "  </ControlPoints>\n"
         "</Block></AnyRoot>\n";
}

// The GCI text of sampleBlock() with the name and image name as written; by
// default exactly the bytes the tool's documentation shows for that block.
std::string sampleGci(const std::string& name = "GCP_01", const std::string& image = "IMG_0001") {
  return "1\r\n" + name + "         512.67890000 431.25000000       87.500 1\r\n1\r\n" + image +
         "        -199.50000000         149.50000000 1\r\n";
}

// UTF-16 with a byte-order mark, in either byte order.
QByteArray utf16(const QString& text, bool bigEndian) {
  QByteArray bytes;
  for (const QChar c : QChar(0xFEFF) + text) {
    const char high = static_cast<char>(c.unicode() >> 8);
    const char low = static_cast<char>(c.unicode() & 0xFF);
    bytes.append(bigEndian ? high : low).append(bigEndian ? low : high);
  }
  return bytes;
}

int chmodPath(const QString& path, mode_t mode) { return ::chmod(QFile::encodeName(path).constData(), mode); }

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

// The usage line, help and version go to stdout alone, succeed and write
// nothing into the working directory.
TEST_P(Options, PrintOnStdoutAndWriteNothing) {
  const OptionRow& row = GetParam();
  const Result r = run(row.args, dir());
  EXPECT_TRUE(exited(r, 0));
  const std::string out = r.out.toStdString();
  if (row.wholeStdout) {
    EXPECT_EQ(out, row.stdoutStart);
  } else {
    EXPECT_TRUE(out.compare(0, row.stdoutStart.size(), row.stdoutStart) == 0 && out.back() == '\n') << out;
  }
  EXPECT_EQ(r.err.toStdString(), "");
  EXPECT_EQ(listDir(dir()), Lines());
}

INSTANTIATE_TEST_SUITE_P(e2e, Options,
                         testing::Values(OptionRow{"NoArgument", {}, "Parameters: szXmlPath\n", true},
                                         OptionRow{"LongHelp", {"--help"}, "Usage: block2gci", false},
                                         OptionRow{"ShortHelp", {"-h"}, "Usage: block2gci", false},
                                         OptionRow{"HelpBeforeAFile", {"--help", "b.xml"}, "Usage: block2gci", false},
                                         OptionRow{"Version", {"--version"}, "block2gci " BLOCK2GCI_VERSION "\n",
                                                   true}),
                         RowLabel());

// The help names the usage, the exit statuses and every log line.
TEST_F(e2e, HelpListsUsageExitStatusAndLogLines) {
  const Result r = run({"--help"}, dir());
  EXPECT_TRUE(exited(r, 0));
  const std::string out = r.out.toStdString();
  for (const char* text : {"Usage: block2gci BLOCK.xml", "Exit status: 0", "1 when the input", "filePath:",
                           "Warning: photo id N is shared", "but no photo has it", "has an empty name",
                           "has blanks in its name", "outside their image", "Generate file:", "Written:",
                           "Open failed", "Reason:", "Write failed:", "Out of memory"}) {
    EXPECT_NE(out.find(text), std::string::npos) << text;
  }
  EXPECT_EQ(run({"--version"}).out.toStdString(), "block2gci 1.0.0\n");
}

// `cmake --install` puts the tool and its man page under the prefix; the
// man page renders without a warning.
TEST_F(e2e, InstallsTheToolAndAManPageThatRenders) {
  const QString cmake = QStandardPaths::findExecutable("cmake");
  if (cmake.isEmpty()) GTEST_SKIP() << "cmake is not on PATH";
  const QString buildDir = QFileInfo(kExe).absolutePath();
  const Result installed = run({"--install", buildDir, "--prefix", path("p")}, QString(), toolEnvironment(), cmake);
  ASSERT_TRUE(exited(installed, 0));
  EXPECT_TRUE(QFileInfo(path("p/bin/block2gci")).isExecutable());
  const QString man = path("p/share/man/man1/block2gci.1");
  ASSERT_TRUE(QFileInfo::exists(man));
  EXPECT_TRUE(exited(run({"--version"}, QString(), toolEnvironment(), path("p/bin/block2gci")), 0));

  const QString groff = QStandardPaths::findExecutable("groff");
  if (groff.isEmpty()) GTEST_SKIP() << "groff is not installed";
  const Result rendered = run({"-man", "-ww", "-Tutf8", "-z", man}, QString(), toolEnvironment(), groff);
  EXPECT_TRUE(exited(rendered, 0));
  EXPECT_EQ(rendered.err.toStdString(), "");
}

// --- Warnings ------------------------------------------------------------------

struct WarningRow {
  const char* label;
  QByteArray nameXml;
  QByteArray extraPhotos;   // after photo 1, in the same group
  QByteArray measurement;   // replaces the sample's one measurement
  std::string warning;
  std::string gciName;
  std::string gciMeasurement;  // the measurement line without CR LF
};
using Warnings = Table<WarningRow>;

const QByteArray kSampleMeasurement = "<Measurement><PhotoId>1</PhotoId><x>0</x><y>0</y></Measurement>";

// Each warning goes between "filePath:" and "Generate file:", and the GCI
// bytes are those the same block gives without the warning's cause, apart
// from the field that causes it.
TEST_P(Warnings, IsLoggedAndLeavesTheOutputAlone) {
  const WarningRow& row = GetParam();
  QByteArray xml = sampleBlock(row.nameXml);
  xml.replace("</Photo></Photogroup>", "</Photo>" + row.extraPhotos + "</Photogroup>");
  if (!row.measurement.isEmpty()) xml.replace(kSampleMeasurement, row.measurement);
  writeFile(path("block.xml"), xml);
  const Result r = run({path("block.xml")});
  EXPECT_TRUE(exited(r, 0));
  Lines expected = convertedLines(path("block.xml"), path("block.gci"));
  expected.insert(expected.begin() + 1, row.warning);
  EXPECT_EQ(lines(r.err), expected);
  EXPECT_EQ(readFile(path("block.gci")),
            "1\r\n" + row.gciName + "         512.67890000 431.25000000       87.500 1\r\n1\r\n" +
                row.gciMeasurement + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    e2e, Warnings,
    testing::Values(
        WarningRow{"SharedId", "GCP_01", "<Photo><Id>1</Id><ImagePath>b/IMG_9.JPG</ImagePath></Photo>", "",
                   R"(Warning: photo id 1 is shared: kept "D:\\img\\IMG_0001.JPG", dropped "b/IMG_9.JPG")", "GCP_01",
                   "IMG_0001        -199.50000000         149.50000000 1"},
        WarningRow{"UnknownId", "GCP_01", "", "<Measurement><PhotoId>7</PhotoId><x>0</x><y>0</y></Measurement>",
                   "Warning: photo id 7 is named by 1 measurement but no photo has it", "GCP_01",
                   "           0.50000000          -0.50000000 1"},
        WarningRow{"BlankInName", "GCP 01", "", "", R"(Warning: control point "GCP 01" has blanks in its name)",
                   "GCP 01", "IMG_0001        -199.50000000         149.50000000 1"},
        WarningRow{"EmptyName", "", "", "", "Warning: control point 1 has an empty name", "",
                   "IMG_0001        -199.50000000         149.50000000 1"},
        WarningRow{"OutsideImage", "GCP_01", "", "<Measurement><PhotoId>1</PhotoId><x>401</x><y>0</y></Measurement>",
                   R"(Warning: control point "GCP_01" has 1 of 1 measurements outside their image)", "GCP_01",
                   "IMG_0001         201.50000000         149.50000000 1"}),
    RowLabel());

// Output that cannot be written is a failure even for the usage line.
TEST_F(e2e, FullStandardOutputFails) {
  for (const QStringList& args : {QStringList{}, QStringList{"--help"}}) {
    QProcess process;
    process.setProcessEnvironment(toolEnvironment());
    process.setStandardOutputFile(QStringLiteral("/dev/full"));
    process.start(kExe, args);
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 1) << args.join(' ').toStdString();
    EXPECT_TRUE(process.readAllStandardError().startsWith("Write failed: \"standard output\" "));
  }
}

// A block file named like an option converts when given with a path, while
// the bare option still prints the help.
TEST_F(e2e, FileNamedLikeAnOptionConvertsAsDotSlash) {
  writeFile(path("--help"), sampleBlock());
  const Result help = run({"--help"}, dir());
  EXPECT_TRUE(exited(help, 0));
  EXPECT_TRUE(help.out.startsWith("Usage: block2gci"));
  EXPECT_EQ(listDir(dir()), Lines{"--help"});

  const Result r = run({"./--help"}, dir());
  EXPECT_TRUE(exited(r, 0));
  EXPECT_EQ(r.out.toStdString(), "");
  EXPECT_EQ(lines(r.err), convertedLines("./--help", "./--help.gci"));
  EXPECT_EQ(readFile(path("--help.gci")), sampleGci());
}

TEST_F(e2e, ArgumentsAfterTheFirstAreIgnored) {
  writeFile(path("block.xml"), sampleBlock());
  writeFile(path("other.xml"), sampleBlock("OTHER"));
  const Result r = run({"block.xml", "other.xml", "--version"}, dir());
  EXPECT_TRUE(exited(r, 0));
  EXPECT_EQ(r.out.toStdString(), "");
  EXPECT_EQ(lines(r.err), convertedLines("block.xml", "./block.gci"));
  EXPECT_EQ(readFile(path("block.gci")), sampleGci());
  EXPECT_EQ(listDir(dir()), (Lines{"block.gci", "block.xml", "other.xml"}));
}

// --- Inputs that cannot be loaded ----------------------------------------------

struct LoadFailureRow {
  const char* label;
  enum Kind { Missing, File, Directory } kind;
  QByteArray content;
  std::string reasonLine;  // empty: any "Reason: \"...\"" line
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

  const Result r = run({input});
  EXPECT_TRUE(exited(r, 1));
  const Lines err = lines(r.err);
  ASSERT_EQ(err.size(), 2u) << r.err.toStdString();
  EXPECT_EQ(err[0], "Open failed");
  if (row.reasonLine.empty()) {
    EXPECT_TRUE(err[1].compare(0, 9, "Reason: \"") == 0 && err[1].back() == '"') << err[1];
  } else {
    EXPECT_EQ(err[1], row.reasonLine);
  }
  EXPECT_EQ(r.out.toStdString(), "");
  EXPECT_EQ(listDir(dir()), before);
}

// A mismatched end tag is reported where its name starts, counted in
// characters: the two é before it are four bytes in UTF-8 but two columns.
const QString kMismatch = QStringLiteral("<Root>\n  <Block>\n  <Name>\u00e9\u00e9</Nme>\n</Root>\n");
const std::string kNoElement = "Reason: \"No document element found\"";

INSTANTIATE_TEST_SUITE_P(
    e2e, LoadFailure,
    testing::Values(
        LoadFailureRow{"MissingFile", LoadFailureRow::Missing, "",
                       "Reason: \"Cannot open the file: No such file or directory\""},
        LoadFailureRow{"EmptyFile", LoadFailureRow::File, "", kNoElement},
        LoadFailureRow{"DeclarationOnly", LoadFailureRow::File, "<?xml version=\"1.0\"?>\n", kNoElement},
        LoadFailureRow{"CommentOnly", LoadFailureRow::File, "<!-- nothing here -->\n", kNoElement},
        LoadFailureRow{"MismatchedTag", LoadFailureRow::File, "<Root>\n  <Block>\n  </Blok>\n</Root>\n",
                       "Reason: \"Start-end tags mismatch at line 3, column 5\""},
        LoadFailureRow{"MismatchedTagAfterWideCharacters", LoadFailureRow::File, kMismatch.toUtf8(),
                       "Reason: \"Start-end tags mismatch at line 3, column 13\""},
        LoadFailureRow{"MismatchedTagInUtf16", LoadFailureRow::File, utf16(kMismatch, false),
                       "Reason: \"Start-end tags mismatch at line 3, column 13\""},
        LoadFailureRow{"Directory", LoadFailureRow::Directory, "", ""}),
    RowLabel());

// --- Well-formed inputs without control points ---------------------------------

struct NoOutputRow {
  const char* label;
  QByteArray content;
};
using NoOutput = Table<NoOutputRow>;

TEST_P(NoOutput, LogsTheInputOnlyAndSucceeds) {
  const QString input = path("block.xml");
  writeFile(input, GetParam().content);
  const Result r = run({input});
  EXPECT_TRUE(exited(r, 0));
  EXPECT_EQ(lines(r.err), Lines{filePathLine(input)});
  EXPECT_EQ(listDir(dir()), Lines{"block.xml"});
}

const QByteArray kPoints =
    "<ControlPoints><ControlPoint><Name>P</Name><Position><x>1</x><y>2</y><z>3</z></Position></ControlPoint>"
    "</ControlPoints>";

INSTANTIATE_TEST_SUITE_P(
    e2e, NoOutput,
    testing::Values(NoOutputRow{"RootWithoutBlock", "<Root><Other/></Root>"},
                    NoOutputRow{"BlockNameIsCaseSensitive", "<Root><block>" + kPoints + "</block></Root>"},
                    NoOutputRow{"ControlPointsOutsideBlock", "<Root>" + kPoints + "<Block/></Root>"},
                    NoOutputRow{"BlockWithoutControlPoints",
                                "<Root><Block><Photogroups><Photogroup><Photo><Id>1</Id></Photo></Photogroup>"
                                "</Photogroups></Block></Root>"},
                    NoOutputRow{"EmptyControlPoints", "<Root><Block><ControlPoints/></Block></Root>"}),
    RowLabel());

// --- Conversions -----------------------------------------------------------------

struct GoldenRow {
  const char* label;
  const char* workDir;   // below the scratch directory
  const char* argument;  // %1 is the scratch directory
  const char* loggedOutput;
};
using Golden = Table<GoldenRow>;

// The example block converts to the example GCI file however its path is
// given, and the log shows the paths in the form the user gave.
TEST_P(Golden, ExampleBlockGivesExampleGci) {
  const GoldenRow& row = GetParam();
  ASSERT_TRUE(QDir(dir()).mkdir("in"));
  ASSERT_TRUE(QFile::copy(kExampleBlock, path("in/block.xml")));
  const QString argument = QString::fromLatin1(row.argument).arg(dir());
  const Result r = run({argument}, path(row.workDir));
  EXPECT_TRUE(exited(r, 0));
  EXPECT_EQ(r.out.toStdString(), "");
  EXPECT_EQ(lines(r.err), exampleLines(argument, QString::fromLatin1(row.loggedOutput).arg(dir())));
  EXPECT_EQ(readFile(path("in/block.gci")), readFile(kExampleGci));
  EXPECT_EQ(listDir(path("in")), (Lines{"block.gci", "block.xml"}));
}

INSTANTIATE_TEST_SUITE_P(e2e, Golden,
                         testing::Values(GoldenRow{"Absolute", ".", "%1/in/block.xml", "%1/in/block.gci"},
                                         GoldenRow{"BareName", "in", "block.xml", "./block.gci"},
                                         GoldenRow{"DotSlash", "in", "./block.xml", "./block.gci"},
                                         GoldenRow{"Subdirectory", ".", "in/block.xml", "in/block.gci"}),
                         RowLabel());

TEST_F(e2e, OnlyTheLastSuffixIsReplaced) {
  writeFile(path("block.final.xml"), sampleBlock());
  const Result r = run({path("block.final.xml")});
  EXPECT_TRUE(exited(r, 0));
  EXPECT_EQ(lines(r.err), convertedLines(path("block.final.xml"), path("block.final.gci")));
  EXPECT_EQ(readFile(path("block.final.gci")), sampleGci());
  EXPECT_EQ(listDir(dir()), (Lines{"block.final.gci", "block.final.xml"}));
}

// A second run replaces the whole earlier output; the new text is shorter,
// so no tail of the earlier file may survive.
TEST_F(e2e, SecondRunReplacesTheEarlierOutput) {
  const QString input = path("block.xml");
  ASSERT_TRUE(QFile::copy(kExampleBlock, input));
  ASSERT_TRUE(exited(run({input}), 0));
  ASSERT_EQ(readFile(path("block.gci")), readFile(kExampleGci));

  writeFile(input, sampleBlock("SECOND"));
  const Result r = run({input});
  EXPECT_TRUE(exited(r, 0));
  EXPECT_EQ(lines(r.err), convertedLines(input, path("block.gci")));
  EXPECT_EQ(readFile(path("block.gci")), sampleGci("SECOND"));
  EXPECT_EQ(listDir(dir()), (Lines{"block.gci", "block.xml"}));
}

// A new output file gets the permissions of any new file, not the private
// ones of a temporary file.
TEST_F(e2e, NewOutputHonoursTheUmask) {
  writeFile(path("block.xml"), sampleBlock());
  for (const mode_t mask : {mode_t{022}, mode_t{027}, mode_t{002}}) {
    SCOPED_TRACE(testing::Message() << "umask 0" << std::oct << mask);
    QFile::remove(path("block.gci"));
    const mode_t previous = ::umask(mask);
    const Result r = run({path("block.xml")});
    ::umask(previous);
    EXPECT_TRUE(exited(r, 0));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path("block.gci")).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0666 & ~mask);
  }
}

struct LocaleRow {
  const char* label;
  std::vector<std::pair<const char*, const char*>> variables;  // set with LC_ALL removed
};
using GermanLocale = Table<LocaleRow>;

// Numbers are read and written with '.' whatever the locale.
TEST_P(GermanLocale, GivesTheSameBytes) {
  const locale_t german = newlocale(LC_ALL_MASK, "de_DE.UTF-8", static_cast<locale_t>(nullptr));
  if (!german) GTEST_SKIP() << "the locale de_DE.UTF-8 is not installed";
  freelocale(german);
  ASSERT_TRUE(QFile::copy(kExampleBlock, path("block.xml")));
  QProcessEnvironment env = toolEnvironment();
  env.remove("LC_ALL");
  for (const auto& [name, value] : GetParam().variables) env.insert(name, value);
  const Result r = run({path("block.xml")}, QString(), env);
  EXPECT_TRUE(exited(r, 0));
  EXPECT_EQ(lines(r.err), exampleLines(path("block.xml"), path("block.gci")));
  const std::string text = readFile(path("block.gci"));
  EXPECT_EQ(text, readFile(kExampleGci));

  ASSERT_TRUE(QFile::remove(path("block.gci")));
  env.insert("LC_ALL", "C");
  EXPECT_TRUE(exited(run({path("block.xml")}, QString(), env), 0));
  EXPECT_EQ(text, readFile(path("block.gci")));
}

INSTANTIATE_TEST_SUITE_P(e2e, GermanLocale,
                         testing::Values(LocaleRow{"LcAll", {{"LC_ALL", "de_DE.UTF-8"}}},
                                         LocaleRow{"LangAndLcNumeric",
                                                   {{"LANG", "de_DE.UTF-8"}, {"LC_NUMERIC", "de_DE.UTF-8"}}}),
                         RowLabel());

// --- Encodings and texts ---------------------------------------------------------

struct EncodingRow {
  const char* label;
  QByteArray bytes;
};
using Encoding = Table<EncodingRow>;

// Whatever the input encoding, texts are written in the local 8-bit
// encoding, UTF-8 under C.UTF-8.
TEST_P(Encoding, GivesTheSameUtf8Output) {
  writeFile(path("block.xml"), GetParam().bytes);
  EXPECT_TRUE(exited(run({path("block.xml")}), 0));
  EXPECT_EQ(readFile(path("block.gci")), sampleGci("Point\xC3\xA9_01", "Imag\xC3\xA9_0001"));
}

const QString kAccented = QString::fromUtf8(sampleBlock("Point\xC3\xA9_01", "D:\\img\\Imag\xC3\xA9_0001.JPG"));
const QString kUtf16Declaration = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n");

INSTANTIATE_TEST_SUITE_P(
    e2e, Encoding,
    testing::Values(
        EncodingRow{"Utf8", kAccented.toUtf8()},
        EncodingRow{"Utf8Declared", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + kAccented.toUtf8()},
        EncodingRow{"Utf8WithBom", "\xEF\xBB\xBF" + kAccented.toUtf8()},
        EncodingRow{"Utf16LittleEndian", utf16(kUtf16Declaration + kAccented, false)},
        EncodingRow{"Utf16BigEndian", utf16(kUtf16Declaration + kAccented, true)},
        EncodingRow{"Latin1Declared", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n" + kAccented.toLatin1()}),
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
  expectWriteFailed(run({path("block.xml")}), path("block.xml"), path("block.gci"));
  EXPECT_EQ(listDir(dir()), (Lines{"block.gci", "block.xml"}));
  EXPECT_TRUE(QFileInfo(path("block.gci")).isDir());
}

// An input named x.gci would be its own output; it is left alone.
TEST_F(e2e, OutputThatWouldReplaceTheInputIsRefused) {
  writeFile(path("x.gci"), sampleBlock());
  expectWriteFailed(run({"x.gci"}, dir()), "x.gci", "./x.gci");
  EXPECT_EQ(readFile(path("x.gci")), sampleBlock().toStdString());
  EXPECT_EQ(listDir(dir()), Lines{"x.gci"});
}

// A block whose GCI text (some 60 kB) cannot fit into what a full file
// system has left, which is less than a page.
QByteArray bigBlock() {
  QByteArray xml = "<Root><Block><Photogroups><Photogroup><ImageDimensions><Width>4000</Width><Height>3000</Height>"
                   "</ImageDimensions><Photo><Id>1</Id><ImagePath>a/b.jpg</ImagePath></Photo></Photogroup>"
                   "</Photogroups><ControlPoints>\n";
  for (int i = 0; i < 400; ++i) {
    xml += "<ControlPoint><Name>P" + QByteArray::number(i) + "</Name><Position><x>1</x><y>2</y><z>3</z></Position>"
           "<Measurement><PhotoId>1</PhotoId><x>1</x><y>2</y></Measurement>"
           "<Measurement><PhotoId>1</PhotoId><x>3</x><y>4</y></Measurement></ControlPoint>\n";
  }
  return xml + "</ControlPoints></Block></Root>\n";
}

// On a full disk the earlier output stays as it was and no temporary file is
// left.
TEST_F(e2e, FullDiskKeepsTheEarlierOutput) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  const QString small = path("small");
  ASSERT_TRUE(QDir(dir()).mkdir("small"));
  QProcess mount;
  mount.start("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", small});
  if (!mount.waitForFinished() || mount.exitStatus() != QProcess::NormalExit || mount.exitCode() != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs: " << mount.readAllStandardError().toStdString();
  }
  struct Unmount {
    QString at;
    ~Unmount() { QProcess::execute("umount", {at}); }
  } unmount{small};

  writeFile(small + "/block.xml", bigBlock());
  writeFile(small + "/block.gci", "earlier output\r\n");
  const int fd = ::open(QFile::encodeName(small + "/filler").constData(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  static const char zeros[4096] = {};
  while (::write(fd, zeros, sizeof zeros) > 0) {
  }
  const int error = errno;
  ::close(fd);
  ASSERT_EQ(error, ENOSPC);
  const Lines before = listDir(small);

  expectWriteFailed(run({small + "/block.xml"}), small + "/block.xml", small + "/block.gci");
  EXPECT_EQ(readFile(small + "/block.gci"), "earlier output\r\n");
  EXPECT_EQ(listDir(small), before);
}

// Runs the tool on `dir`/ro/block.xml (sampleBlock()) while the directory ro
// is read-only, beside block.gci holding `earlier` unless that is null. Root
// writes anywhere, so as root the tool runs as nobody. Skips the test when
// that is not possible.
void runInReadOnlyDirectory(const QString& dir, const QByteArray* earlier, Result* result) {
  QString program = kExe;
  QStringList args;
  if (::geteuid() == 0) {
    program = QStandardPaths::findExecutable("setpriv");
    if (program.isEmpty()) GTEST_SKIP() << "running as root and setpriv is not available";
    // The build tree may lie where nobody cannot reach it (under /root, say).
    const QString exe = dir + "/block2gci";
    ASSERT_TRUE(QFile::copy(kExe, exe));
    ASSERT_EQ(chmodPath(exe, 0755), 0);
    args = QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", exe};
    ASSERT_EQ(chmodPath(dir, 0755), 0);
  }
  const QString ro = dir + "/ro";
  ASSERT_TRUE(QDir(dir).mkdir("ro"));
  writeFile(ro + "/block.xml", sampleBlock());
  ASSERT_EQ(chmodPath(ro + "/block.xml", 0644), 0);
  if (earlier) {
    writeFile(ro + "/block.gci", *earlier);
    ASSERT_EQ(chmodPath(ro + "/block.gci", 0666), 0);
  }
  ASSERT_EQ(chmodPath(ro, 0555), 0);
  *result = run(args + QStringList{ro + "/block.xml"}, QString(), toolEnvironment(), program);
  ASSERT_EQ(chmodPath(ro, 0755), 0);
}

// With no room for a temporary file an existing writable output is written
// in place, and completely: nothing of the longer earlier text remains.
TEST_F(e2e, ReadOnlyDirectoryWritesAnExistingOutputInPlace) {
  const QByteArray earlier(2000, 'x');
  Result r;
  runInReadOnlyDirectory(dir(), &earlier, &r);
  if (IsSkipped() || HasFatalFailure()) return;
  EXPECT_TRUE(exited(r, 0));
  EXPECT_EQ(lines(r.err), convertedLines(path("ro/block.xml"), path("ro/block.gci")));
  EXPECT_EQ(readFile(path("ro/block.gci")), sampleGci());
  EXPECT_EQ(listDir(path("ro")), (Lines{"block.gci", "block.xml"}));
}

// Without an existing output there is nothing to fall back on.
TEST_F(e2e, ReadOnlyDirectoryWithoutOutputFails) {
  Result r;
  runInReadOnlyDirectory(dir(), nullptr, &r);
  if (IsSkipped() || HasFatalFailure()) return;
  expectWriteFailed(r, path("ro/block.xml"), path("ro/block.gci"));
  EXPECT_EQ(listDir(path("ro")), Lines{"block.xml"});
}

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
  QProcessEnvironment env = toolEnvironment();
  switch (GetParam().kind) {
    case LoggingRow::ConfigHome:
      ASSERT_TRUE(QDir(dir()).mkpath("config/QtProject"));
      writeFile(path("config/QtProject/qtlogging.ini"), rules);
      env.insert("XDG_CONFIG_HOME", path("config"));
      break;
    case LoggingRow::ConfFile:
      writeFile(path("rules.ini"), rules);
      env.insert("QT_LOGGING_CONF", path("rules.ini"));
      break;
    case LoggingRow::MessagePattern:
      env.insert("QT_MESSAGE_PATTERN", "[%{type}] %{file}:%{line} %{message}");
      break;
  }
  writeFile(path("block.xml"), sampleBlock());
  const Result converted = run({path("block.xml")}, QString(), env);
  EXPECT_TRUE(exited(converted, 0));
  EXPECT_EQ(lines(converted.err), convertedLines(path("block.xml"), path("block.gci")));
  EXPECT_EQ(readFile(path("block.gci")), sampleGci());

  const Result failed = run({path("missing.xml")}, QString(), env);
  EXPECT_TRUE(exited(failed, 1));
  EXPECT_EQ(lines(failed.err), (Lines{"Open failed", "Reason: \"Cannot open the file: No such file or directory\""}));
}

INSTANTIATE_TEST_SUITE_P(e2e, Logging,
                         testing::Values(LoggingRow{"ConfigHome", LoggingRow::ConfigHome},
                                         LoggingRow{"ConfFile", LoggingRow::ConfFile},
                                         LoggingRow{"MessagePattern", LoggingRow::MessagePattern}),
                         RowLabel());

// Rules the user sets explicitly may silence the log, never the conversion.
TEST_F(e2e, ExplicitLoggingRulesDoNotStopTheConversion) {
  QProcessEnvironment env = toolEnvironment();
  env.insert("QT_LOGGING_RULES", "*.debug=false");
  writeFile(path("block.xml"), sampleBlock());
  EXPECT_TRUE(exited(run({path("block.xml")}, QString(), env), 0));
  EXPECT_EQ(readFile(path("block.gci")), sampleGci());
}

}  // namespace
