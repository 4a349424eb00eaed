#include "gci/gci_writer.h"

#include "tests/support/builders.h"
#include "tests/support/log_capture.h"
#include "tests/support/sample_blocks.h"
#include "tests/support/stores.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

TEST(FormatGciTest, WritesTheFourLineFormatsWithCrLf) {
  const QByteArray text =
      formatGci({point("GCP_01", 512.6789, 431.25, 87.5, 1, {measurement("IMG_0001", -199.5, 149.5)})});
  EXPECT_EQ(text.toStdString(),
            "1\r\n"
            "GCP_01         512.67890000 431.25000000       87.500 1\r\n"
            "1\r\n"
            "IMG_0001        -199.50000000         149.50000000 1\r\n");
}

TEST(FormatGciTest, PointsFollowEachOtherWithTheirCountsAndCategories) {
  const QByteArray text = formatGci({
      point("A", 1, 2, 3, 2, {measurement("i1", 0.5, -0.5), measurement("i2", 1e-9, -0.000000005)}),
      point("B", -1.25, 0, -0.0005, 1),
      point("", 0, 0, 0, 1, {measurement("", 10.5, -10.5)}),
  });
  EXPECT_EQ(text.toStdString(),
            "3\r\n"
            "A           1.00000000   2.00000000        3.000 2\r\n"
            "2\r\n"
            "i1           0.50000000          -0.50000000 2\r\n"
            "i2           0.00000000          -0.00000001 2\r\n"
            "B          -1.25000000   0.00000000       -0.001 1\r\n"
            "0\r\n"
            "           0.00000000   0.00000000        0.000 1\r\n"
            "1\r\n"
            "          10.50000000         -10.50000000 1\r\n");
}

TEST(FormatGciTest, FifteenLinesForThreePointsWithEightMeasurements) {
  const ImageMeasurement m = measurement("m", 0, 0);
  const QByteArray text =
      formatGci({point("a", 0, 0, 0, 1, {m, m, m, m}), point("b", 0, 0, 0, 1), point("c", 0, 0, 0, 2, {m, m, m, m})});
  EXPECT_EQ(text.count("\r\n"), 15);
  EXPECT_EQ(text.count('\n'), 15);
  EXPECT_TRUE(text.endsWith("2\r\n"));
}

TEST(FormatGciTest, EmptyStoreStillHasItsHeader) { EXPECT_EQ(formatGci({}).toStdString(), "0\r\n"); }

TEST(FormatGciTest, WideValuesAreNeverCut) {
  const QByteArray text = formatGci({point("big", 1e308, -1e308, 1e300, 1, {measurement("m", 1e308, -1e200)})});
  const QList<QByteArray> lines = text.split('\n');
  ASSERT_GE(lines.size(), 4);
  // 1e308 has 309 integer digits, then '.', then the eight decimals.
  const std::string first = lines[1].toStdString();
  EXPECT_EQ(first.rfind("big 100000000000000001097906362944045541740492309677311846336810682903157585", 0), 0u)
      << first;
  EXPECT_NE(first.find(".00000000 -100000000000000001097906362944"), std::string::npos);
  EXPECT_EQ(first,
            "big " + formatted(20, 8, 1e308) + " " + formatted(12, 8, -1e308) + " " + formatted(12, 3, 1e300) + " 1\r");
  EXPECT_TRUE(lines[3].startsWith("m 100000000000000001097906"));
}

TEST(FormatGciTest, NonFiniteValuesPrintTheSameOnEveryPlatform) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const QByteArray text = formatGci({point("n", inf, -inf, nan, 1, {measurement("m", -nan, nan)})});
  // A NaN keeps its sign, as glibc's printf writes it; Windows' printf would drop it.
  EXPECT_EQ(text.toStdString(),
            "1\r\nn                  inf         -inf          nan 1\r\n1\r\n"
            "m                 -nan                  nan 1\r\n");
}

TEST(FormatGciTest, LineBreaksInTextsBecomeBlanks) {
  const QByteArray text = formatGci({point("GCP\n01\r\nx\ry", 0, 0, 0, 1, {measurement("IMG\n1", 0, 0)})});
  EXPECT_EQ(text.count('\n'), 4);
  EXPECT_TRUE(text.contains("\r\nGCP 01  x y    "));
  EXPECT_TRUE(text.contains("\r\nIMG 1    "));
}

TEST(FormatGciTest, EachMeasurementGetsItsOwnNameWhetherSharedOrNot) {
  // Shared names, equal names apart, and names over the same characters
  // with different lengths.
  static const QChar characters[] = {'I', 'M', 'G', '\n', '2'};
  ImageMeasurement shared = measurement("IMG\n1", 0, 0);
  ImageMeasurement whole = shared, prefix = shared;
  whole.imageName = QString::fromRawData(characters, 5);
  prefix.imageName = QString::fromRawData(characters, 3);
  const QByteArray text =
      formatGci({point("P", 0, 0, 0, 1, {shared, whole, prefix, shared, measurement("IMG\n1", 0, 0)})});
  QByteArrayList names;
  for (const QByteArray& line : text.split('\n').mid(3, 5)) names << line.left(line.indexOf("  "));
  EXPECT_EQ(names, QByteArrayList({"IMG 1", "IMG 2", "IMG", "IMG 1", "IMG 1"}));
}

TEST(FormatGciTest, TextsAreWrittenUnchangedOtherwise) {
  const QByteArray text = formatGci({point("a \"b\"\t\\c \xC3\xA9", 0, 0, 0, 1)});
  // In the local 8-bit encoding: the ANSI code page on Windows (1252 here),
  // the locale's (UTF-8 here) elsewhere.
#if defined(Q_OS_WIN)
  const char* const accent = "\xE9";
#else
  const char* const accent = "\xC3\xA9";
#endif
  EXPECT_TRUE(text.contains(QByteArray("\r\na \"b\"\t\\c ") + accent + ' ')) << text.toStdString();
}

// Switches the whole process to a German locale, whose decimal separator is
// a comma, for as long as it lives; `active()` is false where none exists.
class GermanLocale {
 public:
  GermanLocale() {
    const char* previous = std::setlocale(LC_ALL, nullptr);
    saved_ = previous ? previous : "C";
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252", "German"}) {
      if (std::setlocale(LC_ALL, name)) {
        active_ = true;
        break;
      }
    }
  }
  ~GermanLocale() { std::setlocale(LC_ALL, saved_.c_str()); }
  bool active() const { return active_; }

 private:
  std::string saved_;
  bool active_ = false;
};

TEST(FormatGciTest, NumbersKeepTheDecimalPointInAnyLocale) {
  QByteArray text;
  char probe[16];
  {
    const GermanLocale german;
    if (!german.active()) GTEST_SKIP() << "no German locale is installed";
    std::snprintf(probe, sizeof probe, "%.1f", 0.5);
    text = formatGci({point("P", 512.5, 1234567.25, -0.5, 1, {measurement("m", 0.5, -0.5)})});
  }
  EXPECT_STREQ(probe, "0,5");  // the locale really does use a comma
  EXPECT_EQ(text.toStdString(),
            "1\r\nP         512.50000000 1234567.25000000       -0.500 1\r\n1\r\n"
            "m           0.50000000          -0.50000000 1\r\n");
}

// The lines are exactly what printf gives for the writer's formats in the "C"
// locale: the same rounding (ties to even on the exact binary
// value), the same padding, the same signs of zero. NaNs are left out: the
// sign of a NaN is what printf writes differently from one C runtime to the
// next.
TEST(FormatGciTest, NumbersAreThoseOfPrintfFormats) {
  std::vector<double> values = {0.0,
                                -0.0,
                                0.5,
                                -0.5,
                                0.125,
                                0.375,
                                2.5e-9,
                                -5e-9,
                                1.0 / 3,
                                2.0 / 3,
                                412410.5,
                                5499999.999999995,
                                0.0004999,
                                0.0005,
                                0.0015,
                                0.0025,
                                1e15 + 0.3,
                                123456789012.345678,
                                9.999999995,
                                99999999999.9999999,
                                4.35,
                                2.675,
                                1e-320,
                                std::numeric_limits<double>::max(),
                                -std::numeric_limits<double>::denorm_min(),
                                std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity()};
  std::mt19937_64 random(20261209);
  std::uniform_real_distribution<double> digits(-7, 12);
  for (int i = 0; i < 3000; ++i) {
    const double magnitude = std::pow(10.0, digits(random));
    values.push_back((random() & 1 ? -1 : 1) * magnitude * std::generate_canonical<double, 53>(random));
  }
  for (const double v : values) {
    char line[1200];
    std::snprintf(line, sizeof line, kGciPointFormat, "p", v, -v, v, 1);
    char count[16];
    std::snprintf(count, sizeof count, kGciCountFormat, 0);
    const std::string expected = std::string("1\r\n") + line + "\r\n" + count + "\r\n";
    ASSERT_EQ(formatGci({point("p", v, -v, v, 1)}).toStdString(), expected) << v;
  }
}

// The text as one thread makes it, and as two make it in chunks, for the
// same points.
void expectSameOnBothWays(const std::vector<ControlPoint>& points, const std::string& expected) {
  EXPECT_EQ(formatGci(points, GciThreads::One).toStdString(), expected);
  EXPECT_EQ(formatGci(points, GciThreads::Two).toStdString(), expected);
}

// The points of a GCI text, read back from it: point names without blanks,
// measurement coordinates that fit their fields.
std::vector<ControlPoint> pointsOf(const std::string& gci) {
  std::vector<ControlPoint> points;
  std::istringstream in(gci);
  std::string line;
  const auto next = [&]() {
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  };
  for (int count = std::stoi(next()); count > 0; --count) {
    char name[256];
    double x, y, z;
    int category;
    EXPECT_EQ(std::sscanf(next().c_str(), "%255s %lf %lf %lf %d", name, &x, &y, &z, &category), 5) << line;
    ControlPoint read = point(name, x, y, z, category);
    for (int m = std::stoi(next()); m > 0; --m) {
      next();
      const std::size_t image = line.size() - (1 + 20 + 1 + 20 + 2);
      read.measurements.push_back(measurement(line.substr(0, image).c_str(), std::stod(line.substr(image, 21)),
                                              std::stod(line.substr(image + 21, 21))));
    }
    read.measurementCount = static_cast<int>(read.measurements.size());
    points.push_back(read);
  }
  return points;
}

TEST(FormatGciTest, TwoThreadsWriteTheExampleEmptyAndOnePointLikeOne) {
  const std::string example = exampleGci();
  ASSERT_EQ(pointsOf(example).size(), 4u);
  expectSameOnBothWays(pointsOf(example), example);
  expectSameOnBothWays({}, "0\r\n");
  expectSameOnBothWays({point("P", 1.5, -2.5, 3, 2)},
                       "1\r\nP           1.50000000  -2.50000000        3.000 2\r\n0\r\n");
}

// Many points, with many measurements or none, and one whose measurements
// fill several chunks of the text, each on an image of another name: every line once, in order, as printf
// writes it, made by one thread or two.
TEST(FormatGciTest, TwoThreadsWriteManyPointsLikeOneAndLikePrintf) {
  std::mt19937_64 random(28);
  std::uniform_real_distribution<double> coordinate(-5e6, 5e6);
  const QString images[] = {QStringLiteral("IMG_1"), QStringLiteral("DSC\n2"), QString()};
  std::vector<ControlPoint> points;
  std::string expected = "3001\r\n";
  for (int p = 0; p < 3001; ++p) {
    const std::size_t count = p == 1000 ? 70000 : random() % 40;
    std::vector<ImageMeasurement> measurements;
    const int category = 1 + p % 2;
    const std::string name = "P" + std::to_string(p);
    const double x = coordinate(random), y = coordinate(random), z = coordinate(random);
    expected += name + " " + formatted(20, 8, x) + " " + formatted(12, 8, y) + " " + formatted(12, 3, z) + " " +
                std::to_string(category) + "\r\n" + std::to_string(count) + "\r\n";
    for (std::size_t m = 0; m < count; ++m) {
      ImageMeasurement one = measurement("", coordinate(random) / 1000, coordinate(random) / 1000);
      // The long point's images each have a name of their own: more than the writer keeps at a time.
      one.imageName = p == 1000 ? QStringLiteral("I%1").arg(m) : images[m % 3];
      expected += one.imageName.toStdString() + " " + formatted(20, 8, one.x) + " " + formatted(20, 8, one.y) + " " +
                  std::to_string(category) + "\r\n";
      measurements.push_back(one);
    }
    points.push_back(point(name.c_str(), x, y, z, category, std::move(measurements)));
  }
  for (char& c : expected) {
    if (c == '\n' && &c != expected.data() && (&c)[-1] != '\r') c = ' ';  // DSC\n2 as the file has it
  }
  expectSameOnBothWays(points, expected);
}

struct PathCase {
  const char* input;
  const char* output;  // with '|' where the tool puts the platform's separator
};

void PrintTo(const PathCase& c, std::ostream* os) { *os << c.input; }

class OutputPathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(OutputPathTest, LiesBesideTheInput) {
#if defined(Q_OS_WIN)
  const QString separator = QStringLiteral("\\");
#else
  const QString separator = QStringLiteral("/");
#endif
  const QString expected = QString::fromUtf8(GetParam().output).replace(QLatin1Char('|'), separator);
  EXPECT_EQ(gciOutputPath(QString::fromUtf8(GetParam().input)), expected);
}

const PathCase kPathCases[] = {
    {"block.xml", ".|block.gci"},
    {"dir/block.final.xml", "dir|block.final.gci"},
    {"/data/survey/block.xml", "/data/survey|block.gci"},
    {"noext", ".|noext.gci"},
    {"dir.d/file", "dir.d|file.gci"},
    {"./--help", ".|--help.gci"},
    {"../up/b.XML", "../up|b.gci"},
#if defined(Q_OS_WIN)
    // The directory part comes back with forward slashes; only the join is a backslash.
    {"D:\\survey\\block.xml", "D:/survey|block.gci"},
    {"Z:\\a.b\\block", "Z:/a.b|block.gci"},
    {"sub\\block.xml", "sub|block.gci"},
    {"\\\\server\\share\\block.xml", "//server/share|block.gci"},
    {"\\\\server\\share\\survey\\block.xml", "//server/share/survey|block.gci"},
    // Device paths keep their folder as typed; a drive-relative one stays in the drive's current folder.
    {"\\\\?\\D:\\survey\\block.xml", "\\\\?\\D:\\survey|block.gci"},
    {"\\\\?\\UNC\\nas\\share\\survey\\block.xml", "\\\\?\\UNC\\nas\\share\\survey|block.gci"},
    {"\\\\.\\D:\\survey\\b.x.xml", "\\\\.\\D:\\survey|b.x.gci"},
    {"D:block.xml", "D:block.gci"},
    {"D:sub\\block.xml", "D:sub|block.gci"},
    // Named from the file Windows opens, without trailing dots and blanks, except under \\?\.
    {"block.xml.", ".|block.gci"},
    {"D:\\survey\\block.xml  . ", "D:/survey|block.gci"},
    {"\\\\.\\D:\\survey\\block.xml.", "\\\\.\\D:\\survey|block.gci"},
    {"\\\\?\\D:\\survey\\block.xml.", "\\\\?\\D:\\survey|block.xml.gci"},
#else
    // A backslash is an ordinary character here, so the output still lies beside the input.
    {"D:\\survey\\block.xml", ".|D:\\survey\\block.gci"},
#endif
};

INSTANTIATE_TEST_SUITE_P(Inputs, OutputPathTest, ::testing::ValuesIn(kPathCases));

class WriteGciFileTest : public StoresTest {
 protected:
  void SetUp() override {
    StoresTest::SetUp();
    ASSERT_TRUE(dir_.isValid());
    input_ = dir_.filePath("block.xml");
#if defined(Q_OS_WIN)
    output_ = dir_.path() + QStringLiteral("\\block.gci");  // joined with a backslash there
#else
    output_ = dir_.filePath("block.gci");
#endif
  }
  // `path` as a log line quotes it: backslashes doubled.
  static QString quoted(QString path) { return path.replace(QStringLiteral("\\"), QStringLiteral("\\\\")); }

  static QByteArray read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
  }
  static void write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
  }
  QStringList entries() const {
    return QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
  }

  QTemporaryDir dir_;
  QString input_;
  QString output_;
};

TEST_F(WriteGciFileTest, NoControlPointsWritesAndLogsNothing) {
  LogCapture log;
  const WriteResult result = writeGciFile(input_);
  EXPECT_EQ(result.status, WriteResult::NothingToWrite);
  EXPECT_TRUE(result);
  EXPECT_TRUE(log.lines().isEmpty());
  EXPECT_TRUE(entries().isEmpty());
}

TEST_F(WriteGciFileTest, WritesTheFormattedStoreAndLogsThePath) {
  appendControlPoint(point("P", 1, 2, 3, 1));
  LogCapture log;
  const WriteResult result = writeGciFile(input_);
  EXPECT_EQ(result.status, WriteResult::Written);
  EXPECT_EQ(result.outputPath, output_);
  EXPECT_EQ(read(output_), formatGci(controlPoints));
  EXPECT_EQ(log.lines(), QStringList{QStringLiteral("Generate file:  \"%1\"").arg(quoted(output_))});
  EXPECT_EQ(entries(), QStringList{"block.gci"});
}

TEST_F(WriteGciFileTest, ReplacesAnEarlierOutput) {
  write(output_, QByteArray(10000, 'x'));
  appendControlPoint(point("P", 1, 2, 3, 1));
  LogCapture log;
  EXPECT_TRUE(writeGciFile(input_));
  EXPECT_EQ(read(output_), formatGci(controlPoints));
}

TEST_F(WriteGciFileTest, DirectoryInTheWayFailsAndLeavesNothingBehind) {
  ASSERT_TRUE(QDir(dir_.path()).mkdir("block.gci"));
  appendControlPoint(point("P", 1, 2, 3, 1));
  LogCapture log;
  const WriteResult result = writeGciFile(input_);
  EXPECT_EQ(result.status, WriteResult::Failed);
  EXPECT_FALSE(result);
  EXPECT_FALSE(result.reason.isEmpty());
  ASSERT_EQ(log.lines().size(), 1);
  EXPECT_EQ(log.lines()[0], QStringLiteral("Write failed: \"%1\" \"%2\"").arg(quoted(output_), result.reason));
  EXPECT_EQ(entries(), QStringList{"block.gci"});
}

TEST_F(WriteGciFileTest, MissingDirectoryFails) {
  appendControlPoint(point("P", 1, 2, 3, 1));
  LogCapture log;
  EXPECT_EQ(writeGciFile(dir_.filePath("absent/block.xml")).status, WriteResult::Failed);
  EXPECT_TRUE(log.lines().value(0).startsWith("Write failed: "));
}

TEST_F(WriteGciFileTest, NeverReplacesTheInputItself) {
  const QString input = dir_.filePath("block.gci");
  write(input, "<Block/>");
  appendControlPoint(point("P", 1, 2, 3, 1));
  LogCapture log;
  EXPECT_EQ(writeGciFile(input).status, WriteResult::Failed);
  EXPECT_EQ(read(input), QByteArray("<Block/>"));
  EXPECT_TRUE(log.lines().value(0).startsWith("Write failed: "));
}

}  // namespace
