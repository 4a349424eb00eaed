#include "convert/diagnostics.h"

#include "block/block.h"
#include "block/read_notes.h"
#include "convert/convert.h"
#include "tests/support/builders.h"
#include "tests/support/log_capture.h"
#include "tests/support/log_catalogue.h"
#include "tests/support/qt_print.h"
#include "tests/support/stores.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <string>
#include <vector>

namespace {

const QString kCodePageHint = QStringLiteral(
    "Warning: the block file is probably saved in a Windows code page, not in UTF-8: save it as UTF-8 (or declare "
    "its encoding if it is ISO-8859-1) and convert it again");

class DiagnosticsTest : public StoresTest {
 protected:
  static QStringList warnings() {
    LogCapture log;
    warnAboutBlock();
    return log.lines();
  }
  // The warnings of `kinds` alone (see linesOfKinds), for a test about
  // them on a block that may show others too.
  static QStringList warningsOf(const std::vector<LogLineKind>& kinds) { return linesOfKinds(warnings(), kinds); }
};

TEST_F(DiagnosticsTest, SoundBlockHasNoWarnings) {
  insertPhoto(photo(1, "a/IMG_1.JPG", 400, 300));
  appendControlPoint(point("GCP_01", {measurement(1, 0, 0), measurement(1, 400, 300), measurement(1, 200.5, 0.25)}));
  appendControlPoint(point("GCP_02", {measurement(1, 17, 42)}));
  EXPECT_EQ(warnings(), QStringList());
}

TEST_F(DiagnosticsTest, SharedIdIsReportedOnceWithEveryDroppedPath) {
  insertPhoto(photo(5, "a/IMG_1.JPG", 10, 10));
  insertPhoto(photo(2, "x.jpg", 10, 10));
  insertPhoto(photo(5, "b/IMG_9.JPG", 10, 10));
  insertPhoto(photo(2, "y \"q\".jpg", 10, 10));
  insertPhoto(photo(5, "c\\IMG_3.JPG", 10, 10));
  EXPECT_EQ(warnings(),
            (QStringList{
                R"(Warning: photo id 2 is shared: kept "x.jpg", dropped "y \"q\".jpg")",
                R"(Warning: photo id 5 is shared: kept "a/IMG_1.JPG", dropped "b/IMG_9.JPG", "c\\IMG_3.JPG")",
            }));
}

TEST_F(DiagnosticsTest, UnknownIdsAreCountedOncePerIdInOrderOfAppearance) {
  insertPhoto(photo(1, "a.jpg", 10, 10));
  appendControlPoint(point("A", {measurement(7), measurement(1), measurement(3), measurement(7)}));
  appendControlPoint(point("B", {measurement(7), measurement(-2)}));
  EXPECT_EQ(warnings(),
            (QStringList{
                R"(Warning: photo id 7 is named by 3 measurements but no photo has it: control points "A", "B")",
                R"(Warning: photo id 3 is named by 1 measurement but no photo has it: control point "A")",
                R"(Warning: photo id -2 is named by 1 measurement but no photo has it: control point "B")",
            }));
  // Looking does not create entries; the conversion still does.
  EXPECT_EQ(photoTable.size(), 1u);
}

struct NameCase {
  const char* name;
  const char* warning;  // null: none
};

TEST_F(DiagnosticsTest, EmptyNamesAndNamesWithBlanks) {
  const NameCase cases[] = {
      {"GCP_01", nullptr},
      {"GCP 1", R"(Warning: control point "GCP 1" has blanks in its name)"},
      {"", "Warning: control point 3 has an empty name"},
      {"tab\there", R"(Warning: control point "tab\there" has blanks in its name)"},
      {" lead", R"(Warning: control point " lead" has blanks in its name)"},
      {"line\nbreak", R"(Warning: control point "line\nbreak" has blanks in its name)"},
      {"\xC3\xA9t\xC3\xA9", nullptr},
      {"", "Warning: control point 8 has an empty name"},
  };
  QStringList expected;
  for (const NameCase& c : cases) {
    appendControlPoint(point(c.name));
    if (c.warning) expected << QString::fromUtf8(c.warning);
  }
  EXPECT_EQ(warningsOf({LogLineKind::EmptyPointName, LogLineKind::BlanksInPointName}), expected);
}

TEST_F(DiagnosticsTest, MeasurementsOutsideTheirImageAreCountedPerPoint) {
  insertPhoto(photo(1, "a.jpg", 400, 300));
  insertPhoto(photo(2, "nosize.jpg", 0, 0));
  insertPhoto(photo(3, "noheight.jpg", 400, 0));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  appendControlPoint(
      point("Edges", {measurement(1, 0, 0), measurement(1, 400, 300), measurement(1, 400, 0), measurement(1, 0, 300)}));
  appendControlPoint(point("Out", {measurement(1, -0.5, 1), measurement(1, 1, 300.25), measurement(1, 400.001, 1),
                                   measurement(1, 1, -1), measurement(1, 5, 5)}));
  appendControlPoint(point("NaN", {measurement(1, nan, 1), measurement(1, 1, nan)}));
  appendControlPoint(point("Unknown size", {measurement(2, -5, -5), measurement(3, -5, -5)}));
  appendControlPoint(point("", {measurement(1, 1000, 1000)}));
  EXPECT_EQ(warnings(), (QStringList{
                            R"(Warning: control point "Out" has 4 of 5 measurements outside their image: photo 1)",
                            R"(Warning: control point "NaN" has 2 of 2 measurements outside their image: photo 1)",
                            R"(Warning: control point "Unknown size" has blanks in its name)",
                            "Warning: control point 5 has an empty name",
                            "Warning: control point 5 has 1 of 1 measurements outside their image: photo 1",
                        }));
}

// A block large enough for the warnings' passes to run on two threads:
// each line names the point where its problem stands, far into the block,
// and the kinds come in their order.
TEST_F(DiagnosticsTest, ALargeBlockNamesEachPointWhereItStands) {
  insertPhoto(photo(1, "a.jpg", 400, 300));
  for (int i = 0; i < 20000; ++i) {
    const std::string name = "P" + std::to_string(i);
    switch (i) {
      case 15000:
        appendControlPoint(point("", {measurement(1)}));
        break;
      case 15001:
        appendControlPoint(point("P x", {measurement(1)}));
        break;
      case 15002:
        appendControlPoint(point(name.c_str(), {measurement(1, 500, 1)}));
        break;
      case 15003:
        appendControlPoint(point(name.c_str(), {measurement(9)}));
        break;
      case 15004:
        appendControlPoint(point("P3", {measurement(1)}));
        break;
      default:
        appendControlPoint(point(name.c_str(), {measurement(1)}));
    }
  }
  EXPECT_EQ(warnings(),
            (QStringList{
                R"(Warning: photo id 9 is named by 1 measurement but no photo has it: control point "P15003")",
                "Warning: control point 15001 has an empty name",
                R"(Warning: control point "P x" has blanks in its name)",
                R"(Warning: control point "P15002" has 1 of 1 measurements outside their image: photo 1)",
                R"(Warning: control points 4 and 15005 have the same name "P3")",
            }));
}

TEST_F(DiagnosticsTest, KindsComeInAFixedOrder) {
  insertPhoto(photo(1, "a.jpg", 10, 10));
  insertPhoto(photo(1, "b.jpg", 10, 10));
  appendControlPoint(point("P 1", {measurement(1, 11, 1), measurement(9)}));
  EXPECT_EQ(warnings(), (QStringList{
                            R"(Warning: photo id 1 is shared: kept "a.jpg", dropped "b.jpg")",
                            R"(Warning: photo id 9 is named by 1 measurement but no photo has it: control point "P 1")",
                            R"(Warning: control point "P 1" has blanks in its name)",
                            R"(Warning: control point "P 1" has 1 of 2 measurements outside their image: photo 1)",
                        }));
}

// The warnings read the stores only: the conversion gives the same result
// after them as without them.
TEST_F(DiagnosticsTest, LeavesTheStoresAsTheyWere) {
  auto fill = [] {
    resetStores();
    insertPhoto(photo(1, "a.jpg", 10, 10));
    insertPhoto(photo(1, "b.jpg", 20, 20));
    appendControlPoint(point("P 1", {measurement(1, 11, 1), measurement(9, 3, 4)}, 2));
  };
  fill();
  convertMeasurements();
  const std::vector<ControlPoint> plain = controlPoints;
  fill();
  warnings();
  convertMeasurements();
  ASSERT_EQ(controlPoints.size(), plain.size());
  for (size_t i = 0; i < plain[0].measurements.size(); ++i) {
    EXPECT_EQ(controlPoints[0].measurements[i].x, plain[0].measurements[i].x);
    EXPECT_EQ(controlPoints[0].measurements[i].y, plain[0].measurements[i].y);
    EXPECT_EQ(controlPoints[0].measurements[i].imageName, plain[0].measurements[i].imageName);
  }
  EXPECT_EQ(photoTable.size(), 2u);
}

TEST_F(DiagnosticsTest, UnknownIdsAndOutsideMeasurementsNameTheFirstThree) {
  insertPhoto(photo(1, "a.jpg", 10, 10));
  insertPhoto(photo(2, "b.jpg", 10, 10));
  insertPhoto(photo(3, "c.jpg", 10, 10));
  insertPhoto(photo(4, "d.jpg", 10, 10));
  for (const char* name : {"A", "", "C", "D", "E"}) appendControlPoint(point(name, {measurement(7), measurement(7)}));
  appendControlPoint(point("F", {measurement(1, 11, 1), measurement(1, 12, 1), measurement(2, -1, 1),
                                 measurement(3, 1, 11), measurement(4, 1, 99), measurement(1, 5, 5)}));
  EXPECT_EQ(
      warnings(),
      (QStringList{
          R"(Warning: photo id 7 is named by 10 measurements but no photo has it: control points "A", 2, "C" and 2 more)",
          "Warning: control point 2 has an empty name",
          R"(Warning: control point "F" has 5 of 6 measurements outside their image: photos 1, 2, 3 and 1 more)",
      }));
}

// Each kind logs at most kMaxLinesPerKind lines, then one that counts the
// rest; other kinds are not affected.
TEST_F(DiagnosticsTest, AKindStopsAfterItsCapAndCountsTheRest) {
  const int points = kMaxLinesPerKind + 3;
  for (int i = 0; i < points; ++i) {
    appendControlPoint(point("P"));
    readNotes.checkPoints.push_back(CheckPointNote{i, QStringLiteral("1")});
  }
  readNotes.positions.push_back(PositionNote{0, true, QString()});
  const QStringList lines =
      warningsOf({LogLineKind::NoPosition, LogLineKind::UnclearCheckPoint, LogLineKind::SamePointName});
  // Every point after the first repeats the name "P"; every one has a CheckPoint note.
  const QStringList expectedTail{
      R"(Warning: control point "P" has no Position, written at 0, 0, 0)",
  };
  ASSERT_EQ(lines.size(), 1 + (kMaxLinesPerKind + 1) * 2);
  EXPECT_EQ(lines[0], expectedTail[0]);
  EXPECT_EQ(
      lines[1],
      R"(Warning: control point "P": CheckPoint "1" is neither "true" nor "false", written as an ordinary control point (category 1))");
  EXPECT_EQ(lines[kMaxLinesPerKind + 1], "Warning: and 3 more control points with an unclear CheckPoint");
  EXPECT_EQ(lines[kMaxLinesPerKind + 2], R"(Warning: control points 1 and 2 have the same name "P")");
  EXPECT_EQ(lines.last(), "Warning: and 2 more control points with a name used before");
}

// A test about some kinds sees their lines and counts alone, whatever else
// the block shows (here also empty names, counted too).
TEST_F(DiagnosticsTest, WarningsOfSomeKindsKeepTheirOwnCounts) {
  for (int i = 0; i <= kMaxLinesPerKind; ++i) {
    appendControlPoint(point(""));
    readNotes.checkPoints.push_back(CheckPointNote{i, QStringLiteral("1")});
  }
  readNotes.positions.push_back(PositionNote{0, true, QString()});
  const QStringList unclear = warningsOf({LogLineKind::UnclearCheckPoint});
  ASSERT_EQ(unclear.size(), kMaxLinesPerKind + 1);
  EXPECT_EQ(unclear.last(), "Warning: and 1 more control point with an unclear CheckPoint");
  EXPECT_EQ(warningsOf({LogLineKind::NoPosition}),
            QStringList{"Warning: control point 1 has no Position, written at 0, 0, 0"});
}

// Many names, most of them repeated, some empty: each repeat names the
// first point of its name, in the order of the points, as a map finds it.
TEST_F(DiagnosticsTest, ARepeatedNameNamesTheFirstPointWithIt) {
  std::map<QString, int> first;
  QStringList expected;
  int repeats = 0;
  for (int i = 1; i <= 5000; ++i) {
    const QString name = i % 7 == 0 ? QString() : QStringLiteral("P%1").arg((i * 37) % 1999);
    appendControlPoint(point(name.toUtf8().constData()));
    if (name.isEmpty()) continue;
    const auto [at, isNew] = first.emplace(name, i);
    if (isNew) continue;
    if (++repeats <= kMaxLinesPerKind) {
      expected << QStringLiteral("Warning: control points %1 and %2 have the same name \"%3\"")
                      .arg(at->second)
                      .arg(i)
                      .arg(name);
    }
  }
  expected
      << QStringLiteral("Warning: and %1 more control points with a name used before").arg(repeats - kMaxLinesPerKind);
  QStringList lines = warnings();
  lines = lines.filter(QStringLiteral("same name")) + lines.filter(QStringLiteral("name used before"));
  EXPECT_EQ(lines, expected);
}

TEST_F(DiagnosticsTest, ValueNotesNameTheirOwners) {
  appendControlPoint(point(""));
  ValueNote group;
  group.owner = ValueNote::Photogroup;
  group.number = 3;
  group.field = QStringLiteral("Height");
  group.text = QStringLiteral("3e2");
  ValueNote photoId = group;
  photoId.owner = ValueNote::Photo;
  photoId.label = QStringLiteral("a\\b.jpg");
  photoId.field = QStringLiteral("Id");
  photoId.text = QStringLiteral("99999999999");
  photoId.outOfRange = true;
  ValueNote unnamed = group;
  unnamed.owner = ValueNote::ControlPoint;
  unnamed.number = 0;
  unnamed.field = QStringLiteral("Measurement 3 x");
  unnamed.text = QStringLiteral("\"1\"");
  readNotes.values = {group, photoId, unnamed};
  readNotes.positions.push_back(PositionNote{0, false, QStringLiteral("xyz")});
  EXPECT_EQ(warningsOf({LogLineKind::EmptyPointName, LogLineKind::PointValueNotANumber, LogLineKind::PhotoIdNotANumber,
                        LogLineKind::PhotogroupValueNotANumber, LogLineKind::MissingCoordinates}),
            (QStringList{
                "Warning: control point 1 has an empty name",
                R"(Warning: photogroup 3: Height "3e2" is not a number, read as 0)",
                R"(Warning: photo "a\\b.jpg": Id "99999999999" is out of range, read as 0)",
                R"(Warning: control point 1: Measurement 3 x "\"1\"" is not a number, read as 0)",
                "Warning: control point 1: Position x, y and z are missing or empty, written as 0",
            }));
}

// Image names matter only for measured photos; a photo with the same path
// as an earlier one is the same image.
TEST_F(DiagnosticsTest, ImageNamesOfMeasuredPhotosOnly) {
  insertPhoto(photo(1, "cam1/IMG_1.JPG", 10, 10));
  insertPhoto(photo(2, "cam1/IMG_1.JPG", 10, 10));
  insertPhoto(photo(3, "cam2/IMG_1.JPG", 10, 10));
  insertPhoto(photo(4, "cam3/", 10, 10));
  insertPhoto(photo(5, "cam4/IMG_1.JPG", 10, 10));  // not measured
  insertPhoto(photo(6, "", 10, 10));                // not measured
  insertPhoto(photo(7, "x/\xEF\xBF\xBD.JPG", 10, 10));
  readNotes.lostImagePaths.push_back(7);
  PhotoSizeNote unmeasured;
  unmeasured.photoId = 5;
  readNotes.photoSizes.push_back(unmeasured);
  appendControlPoint(point("A", {measurement(1), measurement(2), measurement(3), measurement(4), measurement(7)}));
  EXPECT_EQ(warnings(),
            (QStringList{
                R"(Warning: photos 1 ("cam1/IMG_1.JPG") and 3 ("cam2/IMG_1.JPG") have the same image name "IMG_1")",
                R"(Warning: photo 4 ("cam3/") has an empty image name)",
                QString::fromUtf8("Warning: photo 7 (\"x/\xEF\xBF\xBD.JPG\"): its image name \"\xEF\xBF\xBD\" has "
                                  "bytes that are not UTF-8, written as replacement characters"),
                kCodePageHint,
            }));
}

// However many texts have bytes that are not UTF-8, logged or only
// counted, one line after them says what to do; without such texts none.
TEST_F(DiagnosticsTest, TextsThatAreNotUtf8GetOneHintAfterThem) {
  for (const int lost : {0, 2, kMaxLinesPerKind + 1}) {
    resetStores();
    for (int i = 0; i < kMaxLinesPerKind + 1; ++i) appendControlPoint(point("P"));
    for (int i = 0; i < lost; ++i) readNotes.lostPointNames.push_back(i);
    const QStringList lines = warnings();
    EXPECT_EQ(lines.count(kCodePageHint), lost > 0 ? 1 : 0) << lost;
    EXPECT_EQ(!lines.isEmpty() && lines.last() == kCodePageHint, lost > 0) << lost;
  }
}

TEST(WrittenSummaryTest, CountsAndWording) {
  struct Case {
    std::vector<ControlPoint> points;
    const char* line;
  };
  const Case cases[] = {
      {{point("A", {measurement(1), measurement(2)}), point("B", {}, 2), point("C", {measurement(1)}, 2)},
       "Written: 3 control points (2 check points), 3 measurements"},
      {{point("A", {measurement(1)}, 2)}, "Written: 1 control point (1 check point), 1 measurement"},
      {{point("A"), point("B")}, "Written: 2 control points (0 check points), 0 measurements"},
  };
  for (const Case& c : cases) {
    const WrittenCounts counts = countWritten(c.points);
    LogCapture log;
    logWrittenSummary(counts);
    EXPECT_EQ(log.lines(), QStringList{QString::fromUtf8(c.line)});
  }
}

}  // namespace
