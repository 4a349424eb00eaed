// End-to-end tests of the warnings about what a block says: every case runs
// the built executable on a block with one problem and checks the exact log
// lines, the exit status, and that the GCI bytes are those of the same
// block without the problem, where the values agree (a value that is not a
// number against 0, "True" against "false"), or the expected bytes where
// no such block exists.

#include "tests/support/run_tool.h"
#include "tests/support/sample_blocks.h"
#include "tests/support/scratch_files.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <string>
#include <vector>

namespace {

const QString kExe = QStringLiteral(BLOCK2GCI_EXE);

ToolRun convert(const QString& input, const EnvSettings& env = {}) {
  ToolOptions options;
  options.program = kExe;
  options.args = QStringList{input};
  options.env = env;
  return runTool(options);
}

// One change to sampleBlock(): `from` becomes `problem` in the block with
// the problem and `plain` in the block without it.
struct Edit {
  QByteArray from;
  QByteArray problem;
  QByteArray plain;
};

struct WarningCase {
  const char* label;
  std::vector<Edit> edits;
  Lines warnings;     // between "filePath:" and "Generate file:"
  bool comparePlain;  // the GCI equals that of the plain block; otherwise `gci`
  std::string gci = std::string();
  std::string summary = kSampleSummary;
};

void PrintTo(const WarningCase& c, std::ostream* os) { *os << c.label; }

QByteArray edited(const std::vector<Edit>& edits, QByteArray Edit::*side) {
  QByteArray xml = sampleBlock();
  for (const Edit& edit : edits) {
    EXPECT_TRUE(xml.contains(edit.from)) << edit.from.toStdString();
    xml.replace(edit.from, edit.*side);
  }
  return xml;
}

class BlockWarnings : public testing::TestWithParam<WarningCase> {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
  QString path(const QString& name) const { return dir_.filePath(name); }

  QTemporaryDir dir_;
};

TEST_P(BlockWarnings, AreLoggedAndLeaveTheOutputAlone) {
  const WarningCase& c = GetParam();
  writeFile(path("block.xml"), edited(c.edits, &Edit::problem));
  const ToolRun r = convert(path("block.xml"));
  EXPECT_TRUE(exited(r, 0));
  EXPECT_TRUE(logIs(r, convertedLines(path("block.xml"), beside(dir_.path(), "block.gci"), c.summary, c.warnings)));

  std::string gci = c.gci;
  if (c.comparePlain) {
    writeFile(path("plain.xml"), edited(c.edits, &Edit::plain));
    EXPECT_TRUE(exited(convert(path("plain.xml")), 0));
    gci = readFile(path("plain.gci"));
  }
  EXPECT_EQ(readFile(path("block.gci")), gci);
}

const QByteArray kPhoto = "<Photo><Id>1</Id><ImagePath>D:\\img\\IMG_0001.JPG</ImagePath></Photo>";
const QByteArray kDimensions = "<ImageDimensions><Width>400</Width><Height>300</Height></ImageDimensions>";
const QByteArray kMeasurement = "<Measurement><PhotoId>1</PhotoId><x>0</x><y>0</y></Measurement>";
const QByteArray kGroupEnd = "</Photogroup>\n";
const QByteArray kPosition = "<Position><x>512.6789</x><y>431.25</y><z>87.5</z></Position>";
const QByteArray kCheckPoint = "<CheckPoint>false</CheckPoint>";

// A measurement on photo 2, after the sample's one.
const Edit kOnPhoto2{kMeasurement, kMeasurement + "<Measurement><PhotoId>2</PhotoId><x>0</x><y>0</y></Measurement>",
                     kMeasurement + "<Measurement><PhotoId>2</PhotoId><x>0</x><y>0</y></Measurement>"};
const std::string kTwoMeasurements = "Written: 1 control point (0 check points), 2 measurements";

// `text` as the GCI file holds it.
std::string asWritten(const char* utf8) { return local8Bit(QString::fromUtf8(utf8)); }

// The sample GCI with a second point "GCP_01" at (1, 2, 3), measured as the
// first is.
std::string twoPointsGci() {
  const std::string gci = sampleGci();
  const std::string measurements = gci.substr(gci.rfind("\r\n1\r\n") + 2);
  return "2" + gci.substr(1) + "GCP_01 " + formatted(20, 8, 1) + " " + formatted(12, 8, 2) + " " + formatted(12, 3, 3) +
         " 1\r\n" + measurements;
}

// The sample GCI with `line` (without its CR LF) as its measurement line.
std::string withMeasurementLine(const std::string& line) {
  const std::string gci = sampleGci();
  return gci.substr(0, gci.rfind("\r\n", gci.size() - 3) + 2) + line + "\r\n";
}

// Under runTool()'s environment the local encoding is UTF-8 on Linux, which
// writes every character, and code page 1252 on Windows, which has no Greek
// (and writes the nearest Latin letter or a question mark instead).
#ifdef Q_OS_WIN
const Lines kGreekWarnings{"Warning: control point " + quoted(QString::fromUtf8("\xCE\x91\xCE\xBB\xCF\x86\xCE\xB1")) +
                           ": its name has characters that the local 8-bit encoding cannot represent, written as \"" +
                           asWritten("\xCE\x91\xCE\xBB\xCF\x86\xCE\xB1") + "\""};
#else
const Lines kGreekWarnings{};
#endif

INSTANTIATE_TEST_SUITE_P(
    e2e, BlockWarnings,
    testing::Values(
        WarningCase{"DecimalCommaInPosition",
                    {{"<x>512.6789</x>", "<x>412410,5</x>", "<x>0</x>"}},
                    {R"(Warning: control point "GCP_01": Position x "412410,5" is not a number, read as 0)"},
                    true},
        WarningCase{
            "HexInMeasurement",
            {{kMeasurement, "<Measurement><PhotoId>1</PhotoId><x>0x10</x><y>0</y></Measurement>", kMeasurement}},
            {R"(Warning: control point "GCP_01": Measurement 1 x "0x10" is not a number, read as 0)"},
            true},
        WarningCase{"TwoNumbersInPhotoId",
                    {{"<PhotoId>1</PhotoId>", "<PhotoId>1 2</PhotoId>", "<PhotoId>0</PhotoId>"}},
                    {R"(Warning: photo id 0 is named by 1 measurement but no photo has it: control point "GCP_01")",
                     R"(Warning: control point "GCP_01": Measurement 1 PhotoId "1 2" is not a number, read as 0)"},
                    true},
        WarningCase{"TrailingLetterInPhotoIdOfAPhoto",
                    {{"<Id>1</Id>", "<Id>12a</Id>", "<Id>0</Id>"}},
                    {R"(Warning: photo id 1 is named by 1 measurement but no photo has it: control point "GCP_01")",
                     R"(Warning: photo "D:\\img\\IMG_0001.JPG": Id "12a" is not a number, read as 0)"},
                    true},
        WarningCase{"WidthOutOfRange",
                    {{"<Width>400</Width>", "<Width>4000000000</Width>", "<Width>0</Width>"}},
                    {R"(Warning: photogroup "Cam": Width "4000000000" is out of range, read as 0)"},
                    true},
        WarningCase{"NoPosition",
                    {{kPosition, "", "<Position><x>0</x><y>0</y><z>0</z></Position>"}},
                    {R"(Warning: control point "GCP_01" has no Position, written at 0, 0, 0)"},
                    true},
        WarningCase{"PositionWithoutYAndWithAnEmptyZ",
                    {{"<y>431.25</y><z>87.5</z>", "<z> </z>", "<y>0</y><z>0</z>"}},
                    {R"(Warning: control point "GCP_01": Position y and z are missing or empty, written as 0)"},
                    true},
        WarningCase{
            "CheckPointTrueCapitalised",
            {{kCheckPoint, "<CheckPoint>True</CheckPoint>", kCheckPoint}},
            {R"(Warning: control point "GCP_01": CheckPoint "True" is neither "true" nor "false", written as an ordinary control point (category 1))"},
            true},
        WarningCase{
            "CheckPointTruePrettyPrinted",
            {{kCheckPoint, "<CheckPoint>\n        true\n      </CheckPoint>", kCheckPoint}},
            {R"(Warning: control point "GCP_01": CheckPoint "\n        true\n      " is neither "true" nor "false", written as an ordinary control point (category 1))"},
            true},
        WarningCase{"SameName",
                    {{"</ControlPoint>\n",
                      "</ControlPoint><ControlPoint><Name>GCP_01</Name><Position><x>1</x><y>2</y><z>3</z></Position>" +
                          kMeasurement + "</ControlPoint>\n",
                      ""}},
                    {R"(Warning: control points 1 and 2 have the same name "GCP_01")"},
                    false,
                    twoPointsGci(),
                    "Written: 2 control points (0 check points), 2 measurements"},
        WarningCase{
            "OwnImageDimensionsAfterThePhoto",
            {{kGroupEnd,
              kGroupEnd + "<Photogroup><Name>Cam2</Name><Photo><Id>2</Id><ImagePath>IMG_0002.JPG</ImagePath>"
                          "</Photo><ImageDimensions><Width>800</Width><Height>600</Height></ImageDimensions>"
                          "</Photogroup>\n",
              kGroupEnd + "<Photogroup><Name>Cam2</Name>" + kDimensions +
                  "<Photo><Id>2</Id><ImagePath>IMG_0002.JPG</ImagePath></Photo></Photogroup>\n"},
             kOnPhoto2},
            {R"(Warning: photo 2 (photogroup "Cam2") takes the image size 400 x 300 of photogroup "Cam": its own ImageDimensions comes after it)"},
            true,
            "",
            kTwoMeasurements},
        WarningCase{
            "NoImageDimensionsInTheGroup",
            {{kGroupEnd,
              kGroupEnd + "<Photogroup><Photo><Id>2</Id><ImagePath>IMG_0002.JPG</ImagePath></Photo>"
                          "</Photogroup>\n",
              kGroupEnd + "<Photogroup>" + kDimensions +
                  "<Photo><Id>2</Id><ImagePath>IMG_0002.JPG</ImagePath></Photo></Photogroup>\n"},
             kOnPhoto2},
            {R"(Warning: photo 2 (photogroup 2) takes the image size 400 x 300 of photogroup "Cam": its photogroup has no ImageDimensions)"},
            true,
            "",
            kTwoMeasurements},
        WarningCase{
            "NoImageDimensionsBeforeAMeasuredPhoto",
            {{kDimensions + "\n      " + kPhoto, kPhoto + kDimensions,
              "<ImageDimensions><Width>0</Width><Height>0</Height></ImageDimensions>" + kPhoto}},
            {R"(Warning: photo 1 (photogroup "Cam") has the image size 0 x 0: no ImageDimensions comes before it)"},
            true},
        WarningCase{"EmptyImageName",
                    {{"IMG_0001.JPG</ImagePath>", "</ImagePath>", ""}},
                    {R"(Warning: photo 1 ("D:\\img\\") has an empty image name)"},
                    false,
                    sampleGci("GCP_01", "")},
        WarningCase{"BlanksInImageName",
                    {{"IMG_0001.JPG</ImagePath>", "IMG 0001.JPG</ImagePath>", ""}},
                    {R"(Warning: photo 1 ("D:\\img\\IMG 0001.JPG") has blanks in its image name "IMG 0001")"},
                    false,
                    sampleGci("GCP_01", "IMG 0001")},
        WarningCase{
            "SameImageNameOnTwoCameras",
            {{kPhoto, kPhoto + "<Photo><Id>2</Id><ImagePath>cam2/IMG_0001.JPG</ImagePath></Photo>",
              kPhoto + "<Photo><Id>2</Id><ImagePath>D:\\img\\IMG_0001.JPG</ImagePath></Photo>"},
             kOnPhoto2},
            {R"(Warning: photos 1 ("D:\\img\\IMG_0001.JPG") and 2 ("cam2/IMG_0001.JPG") have the same image name "IMG_0001")"},
            true,
            "",
            kTwoMeasurements},
        // A declared encoding the parser does not know reads as UTF-8: the
        // byte FC is lost, while the bytes EF BF BD are a replacement
        // character of the file's own.
        WarningCase{"CharactersLostToAnUnknownEncoding",
                    {{"<AnyRoot>", "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<AnyRoot>",
                      "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<AnyRoot>"},
                     {"<Name>GCP_01</Name>", "<Name>M\xFCller</Name>", "<Name>M\xEF\xBF\xBDller</Name>"}},
                    {"Warning: control point " + quoted(QString::fromUtf8("M\xEF\xBF\xBDller")) +
                         ": its name has bytes that are not UTF-8, written as replacement characters",
                     "Warning: the block file is probably saved in a Windows code page, not in UTF-8: save it as "
                     "UTF-8 (or declare its encoding if it is ISO-8859-1) and convert it again"},
                    true},
        WarningCase{"SharedId",
                    {{"</Photo></Photogroup>",
                      "</Photo><Photo><Id>1</Id><ImagePath>b/IMG_9.JPG</ImagePath></Photo></Photogroup>",
                      "</Photo></Photogroup>"}},
                    {R"(Warning: photo id 1 is shared: kept "D:\\img\\IMG_0001.JPG", dropped "b/IMG_9.JPG")"},
                    true},
        WarningCase{"UnknownId",
                    {{kMeasurement, "<Measurement><PhotoId>7</PhotoId><x>0</x><y>0</y></Measurement>", ""}},
                    {R"(Warning: photo id 7 is named by 1 measurement but no photo has it: control point "GCP_01")"},
                    false,
                    withMeasurementLine("           0.50000000          -0.50000000 1")},
        WarningCase{"BlankInName",
                    {{"<Name>GCP_01</Name>", "<Name>GCP 01</Name>", ""}},
                    {R"(Warning: control point "GCP 01" has blanks in its name)"},
                    false,
                    sampleGci("GCP 01")},
        WarningCase{"EmptyName",
                    {{"<Name>GCP_01</Name>", "<Name></Name>", ""}},
                    {"Warning: control point 1 has an empty name"},
                    false,
                    sampleGci("")},
        WarningCase{"OutsideImage",
                    {{kMeasurement, "<Measurement><PhotoId>1</PhotoId><x>401</x><y>0</y></Measurement>", ""}},
                    {R"(Warning: control point "GCP_01" has 1 of 1 measurements outside their image: photo 1)"},
                    false,
                    withMeasurementLine("IMG_0001         201.50000000         149.50000000 1")},
        WarningCase{"NameOutsideTheLocalEncoding",
                    {{"<Name>GCP_01</Name>", "<Name>\xCE\x91\xCE\xBB\xCF\x86\xCE\xB1</Name>", ""}},
                    kGreekWarnings,
                    false,
                    sampleGci(asWritten("\xCE\x91\xCE\xBB\xCF\x86\xCE\xB1"))}),
    [](const testing::TestParamInfo<WarningCase>& row) { return std::string(row.param.label); });

class BlockWarningsCap : public BlockWarnings {};

// On a big block a kind of warning takes at most 20 lines and one more that
// counts the rest; the GCI file is that of the block with the values as 0.
// The points are otherwise sound, measured on the sample's photo.
TEST_F(BlockWarningsCap, TwentyLinesOfAKindThenHowManyMore) {
  auto block = [](const char* x) {
    QByteArray points;
    for (int i = 1; i <= 25; ++i) {
      points += "<ControlPoint><Name>P" + QByteArray::number(i) + "</Name><Position><x>" + x +
                "</x><y>1</y><z>1</z></Position>" + kMeasurement + "</ControlPoint>\n";
    }
    QByteArray xml = sampleBlock();
    xml.replace("  </ControlPoints>", points + "  </ControlPoints>");
    return xml;
  };
  writeFile(path("block.xml"), block("1,5"));
  writeFile(path("plain.xml"), block("0"));
  const ToolRun r = convert(path("block.xml"));
  EXPECT_TRUE(exited(r, 0));
  Lines warnings;
  for (int i = 1; i <= 20; ++i) {
    warnings.push_back("Warning: control point \"P" + std::to_string(i) +
                       "\": Position x \"1,5\" is not a number, read as 0");
  }
  warnings.push_back("Warning: and 5 more values read as 0");
  EXPECT_TRUE(logIs(r, convertedLines(path("block.xml"), beside(dir_.path(), "block.gci"),
                                      "Written: 26 control points (0 check points), 26 measurements", warnings)));
  EXPECT_TRUE(exited(convert(path("plain.xml")), 0));
  EXPECT_EQ(readFile(path("block.gci")), readFile(path("plain.gci")));
}

#ifdef Q_OS_UNIX
// Under a Latin-1 locale a Greek name cannot be written as itself: the
// warning says so exactly when the GCI file holds the name as something else
// (the question marks of the Latin-1 encoding), and not when the tool writes
// UTF-8 whatever the locale.
TEST_F(BlockWarningsCap, GreekNameUnderALatin1Locale) {
  const std::optional<EnvSettings> latin1 = latin1Environment();
  if (!latin1) GTEST_SKIP() << "no Latin-1 locale installed";
  const QByteArray greek = "\xCE\x91\xCE\xBB\xCF\x86\xCE\xB1";
  writeFile(path("block.xml"), sampleBlock(greek));
  const ToolRun r = convert(path("block.xml"), *latin1);
  EXPECT_TRUE(exited(r, 0));
  const std::string gci = readFile(path("block.gci"));
  Lines warnings;
  if (gci != sampleGci(greek.toStdString())) {
    EXPECT_EQ(gci, sampleGci("????"));
    warnings.push_back(R"(Warning: control point "????": its name has characters that the local 8-bit encoding )"
                       R"(cannot represent, written as "????")");
  }
  EXPECT_TRUE(logIs(r, convertedLines(path("block.xml"), beside(dir_.path(), "block.gci"), kSampleSummary, warnings)));
}
#endif

}  // namespace
