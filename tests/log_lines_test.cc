// The catalogue of log lines (log/log_lines.def) against the program:
// every kind of line, run through the executable, has the form of its
// entry, and the program writes no line the catalogue lacks; the man page
// and the README show what the catalogue says.

#include "log/log_lines.h"
#include "block/read_notes.h"
#include "tests/support/log_catalogue.h"
#include "tests/support/run_tool.h"
#include "tests/support/sample_blocks.h"
#include "tests/support/scratch_files.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

const QString kExe = QStringLiteral(BLOCK2GCI_EXE);

using Kinds = std::set<std::string>;

Kinds names(const std::vector<LogLineKind>& kinds) {
  Kinds out;
  for (const LogLineKind kind : kinds) out.insert(logLine(kind).name);
  return out;
}

// The warnings whose lines depend on the local 8-bit encoding: a row of
// their own shows them, under a Latin-1 locale.
const std::vector<LogLineKind> kLocalEncodingKinds = {LogLineKind::PointNameNotLocal, LogLineKind::ImageNameNotLocal};

// `kinds`, then those of a run that wrote its GCI file: the file, its
// summary and the lines that close the conversion.
std::vector<LogLineKind> thenWritten(std::vector<LogLineKind> kinds) {
  kinds.push_back(LogLineKind::GenerateFile);
  kinds.push_back(LogLineKind::Written);
  for (const LogLineKind kind : conversionEndKinds()) kinds.push_back(kind);
  return kinds;
}

// The kinds of a run of everyProblem() with a second argument: every warning
// about what a block says, but those of the local encoding.
std::vector<LogLineKind> everyProblemKinds() {
  std::vector<LogLineKind> kinds{LogLineKind::IgnoredArguments, LogLineKind::FilePath};
  for (const LogLineKind kind : blockWarningKinds()) {
    if (std::find(kLocalEncodingKinds.begin(), kLocalEncodingKinds.end(), kind) == kLocalEncodingKinds.end()) {
      kinds.push_back(kind);
    }
  }
  return thenWritten(kinds);
}

// A block that shows every warning about what a block says (but those of
// the local encoding), in a declared encoding the parser reads as UTF-8, so
// that the bytes FC are lost.
QByteArray everyProblem() {
  QByteArray points;
  for (int i = 1; i <= kMaxLinesPerKind + 1; ++i) {
    points += "<ControlPoint><Name>P " + QByteArray::number(i) +
              "</Name><Position><x>1</x><y>2</y><z>3</z></Position></ControlPoint>\n";
  }
  QByteArray measurements;
  for (const char* id : {"1", "2", "3", "4", "5", "6", "7", "99"}) {
    measurements += QByteArray("<Measurement><PhotoId>") + id + "</PhotoId><x>500</x><y>1</y></Measurement>";
  }
  return "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<R><Block><Photogroups>\n"
         "<Photogroup><Name>First</Name><Photo><Id>7</Id><ImagePath>g/IMG_7.JPG</ImagePath></Photo></Photogroup>\n"
         "<Photogroup><Name>Cam</Name><ImageDimensions><Width>400</Width><Height>300</Height></ImageDimensions>\n"
         "<Photo><Id>1</Id><ImagePath>a/IMG_1.JPG</ImagePath></Photo>"
         "<Photo><Id>1</Id><ImagePath>b/IMG_9.JPG</ImagePath></Photo>"
         "<Photo><Id>12a</Id><ImagePath>c/IMG_0.JPG</ImagePath></Photo>"
         "<Photo><Id>2</Id><ImagePath>d/</ImagePath></Photo>"
         "<Photo><Id>3</Id><ImagePath>d/IMG 3.JPG</ImagePath></Photo>"
         "<Photo><Id>4</Id><ImagePath>e/IMG_1.JPG</ImagePath></Photo>"
         "<Photo><Id>5</Id><ImagePath>e/B\xFCro.JPG</ImagePath></Photo></Photogroup>\n"
         "<Photogroup><Name>Cam2</Name><Photo><Id>6</Id><ImagePath>f/IMG_6.JPG</ImagePath></Photo>"
         "<ImageDimensions><Width>4000px</Width><Height>300</Height></ImageDimensions></Photogroup>\n"
         "</Photogroups><ControlPoints>\n"
         "<ControlPoint><Name>A</Name><Position><x>1,5</x><y>2</y><z>3</z></Position>"
         "<CheckPoint>True</CheckPoint>" +
         measurements +
         "</ControlPoint>\n"
         "<ControlPoint><Name>A</Name></ControlPoint>\n"
         "<ControlPoint><Name></Name><Position><x>1</x></Position></ControlPoint>\n"
         "<ControlPoint><Name>M\xFCller</Name><Position><x>1</x><y>2</y><z>3</z></Position></ControlPoint>\n" +
         points + "</ControlPoints></Block></R>\n";
}

// How a row runs the tool, in a scratch directory.
struct KindRow {
  const char* label;
  QByteArray block;                // written as block.xml
  QStringList args;                // relative to the scratch directory
  std::vector<LogLineKind> kinds;  // every kind its log shows
  bool latin1 = false;             // under latin1Environment()
  bool outputIsADirectory = false;
};

void PrintTo(const KindRow& row, std::ostream* os) { *os << row.label; }

const QByteArray kGreek = "\xCE\x91\xCE\xBB\xCF\x86\xCE\xB1";

const std::vector<KindRow> kRows = {
    {"EveryProblemOfABlock", everyProblem(), {"block.xml", "other.xml"}, everyProblemKinds()},
    {"NamesOutsideTheLocalEncoding",
     sampleBlock(kGreek, "a/" + kGreek + ".JPG"),
     {"block.xml"},
     thenWritten({LogLineKind::FilePath, LogLineKind::PointNameNotLocal, LogLineKind::ImageNameNotLocal}),
     true},
    {"NoControlPoints", "<R><Block></Block></R>", {"block.xml"}, {LogLineKind::FilePath, LogLineKind::NothingWritten}},
    {"MissingInput", "", {"missing.xml"}, {LogLineKind::OpenFailed, LogLineKind::Reason}},
    {"DirectoryAtTheOutput",
     sampleBlock(),
     {"block.xml"},
     {LogLineKind::FilePath, LogLineKind::WriteFailed},
     false,
     true},
};

// Kinds that need a run of their own, each shown by a test that expects the
// catalogue's form: Interrupted in e2e_test (interrupting a write), Out of
// memory in memory_limit_test (address-space limits).
const std::vector<LogLineKind> kShownElsewhere = {LogLineKind::Interrupted, LogLineKind::OutOfMemory};

class LogLinesThroughTheTool : public testing::TestWithParam<KindRow> {};

TEST_P(LogLinesThroughTheTool, HaveTheFormsOfTheirEntries) {
  const KindRow& row = GetParam();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ASSERT_TRUE(writeFile(dir.filePath("block.xml"), row.block));
  if (row.outputIsADirectory) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("block.gci"));
  }
  ToolOptions options;
  options.program = kExe;
  options.args = row.args;
  options.workDir = dir.path();
  if (row.latin1) {
    const std::optional<EnvSettings> latin1 = latin1Environment();
    if (!latin1) GTEST_SKIP() << "no Latin-1 locale installed";
    options.env = *latin1;
  }
  const ToolRun r = runTool(options);
  ASSERT_TRUE(r.started && !r.crashed && !r.timedOut) << r.describe();
  const Lines log = r.errLines();
  EXPECT_TRUE(allCatalogued(log));
  Kinds shown;
  for (const std::string& line : log) {
    if (const LogLine* entry = catalogueEntry(line)) shown.insert(entry->name);
  }
  EXPECT_EQ(shown, names(row.kinds)) << r.describe();
}

INSTANTIATE_TEST_SUITE_P(e2e, LogLinesThroughTheTool, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<KindRow>& row) { return std::string(row.param.label); });

TEST(LogLines, EveryKindIsRunThroughTheTool) {
  std::vector<LogLineKind> covered = kShownElsewhere;
  for (const KindRow& row : kRows) covered.insert(covered.end(), row.kinds.begin(), row.kinds.end());
  Kinds all;
  for (std::size_t i = 0; i < kLogLineCount; ++i) all.insert(kLogLines[i].name);
  EXPECT_EQ(names(covered), all);
}

#ifdef Q_OS_UNIX
// The man page configured into the build tree: the bold tag of each item of
// its LOG LINES section, with the escapes it uses turned back into text.
TEST(LogLines, ManPageListsEveryFormInOrder) {
  std::vector<std::string> entries;
  bool inside = false;
  bool tag = false;
  for (std::string line : lines(readFile(QStringLiteral(BLOCK2GCI_MAN_PAGE)), "\n")) {
    if (startsWith(line, ".SH ")) inside = line == ".SH LOG LINES";
    if (inside && tag && startsWith(line, ".B \"")) {
      line = line.substr(4, line.size() - 5);
      for (const auto& [from, to] : {std::pair<std::string, std::string>{"\\(dq", "\""}, {"\\-", "-"}}) {
        for (auto at = line.find(from); at != std::string::npos; at = line.find(from, at + to.size())) {
          line.replace(at, from.size(), to);
        }
      }
      entries.push_back(line);
    }
    tag = line == ".TP";
  }
  std::vector<std::string> forms;
  for (std::size_t i = 0; i < kLogLineCount; ++i) forms.push_back(kLogLines[i].form);
  EXPECT_EQ(entries, forms);
}
#endif

// The README shows a few lines as examples: each has the form of an entry.
TEST(LogLines, ReadmeShowsOnlyCataloguedLines) {
  Lines examples;
  bool inside = false;
  for (const std::string& line : lines(readFile(QStringLiteral(BLOCK2GCI_SOURCE_DIR "/README.md")), "\n")) {
    if (startsWith(line, "## ")) inside = line == "## Log lines";
    if (inside && startsWith(line, "- `")) examples.push_back(line.substr(3, line.find('`', 3) - 3));
  }
  EXPECT_GE(examples.size(), 4u);
  EXPECT_TRUE(allCatalogued(examples));
}

}  // namespace

// The sample log the READMEs show is that of the example (examples/block.log),
// so that a change to the log shows there too: README.md shows its lines as
// they stand, README.txt the same lines for a Windows path.
TEST(LogLines, ReadmesShowTheExampleLog) {
  const std::regex quoted(R"("(?:[^"\\]|\\.)*")");
  const auto withoutTexts = [&](const std::string& line) { return std::regex_replace(line, quoted, "\"\""); };
  const Lines example = lines(readFile(QStringLiteral(BLOCK2GCI_SOURCE_DIR "/examples/block.log")), "\n");
  std::set<std::string> exampleShapes;
  for (const std::string& line : example) exampleShapes.insert(withoutTexts(line));
  const auto isRunLine = [](const std::string& line) {
    return startsWith(line, "filePath: ") || startsWith(line, "Generate file: ") || startsWith(line, "Written: ");
  };
  int shown = 0;
  for (const std::string& line : lines(readFile(QStringLiteral(BLOCK2GCI_SOURCE_DIR "/README.md")), "\n")) {
    if (!startsWith(line, "- `")) continue;
    const std::string example_line = line.substr(3, line.find('`', 3) - 3);
    if (!isRunLine(example_line)) continue;
    ++shown;
    EXPECT_NE(std::find(example.begin(), example.end(), example_line), example.end())
        << "README.md shows a line examples/block.log lacks: " << example_line;
  }
  for (const std::string& line :
       lines(readFile(QStringLiteral(BLOCK2GCI_SOURCE_DIR "/docs/windows/README.txt.in")), "\n")) {
    if (!startsWith(line, "    ") || !isRunLine(line.substr(4))) continue;
    ++shown;
    EXPECT_EQ(exampleShapes.count(withoutTexts(line.substr(4))), 1u)
        << "README.txt shows a line unlike those of examples/block.log: " << line;
  }
  EXPECT_EQ(shown, 6);
}
