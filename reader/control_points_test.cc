#include "reader/control_points.h"

#include "block/block.h"
#include "block/read_notes.h"

#include "tests/support/builders.h"
#include "tests/support/qt_print.h"
#include "tests/support/stores.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

class ControlPointsTest : public StoresTest {
 protected:
  // Reads every child of the root of `xml` as the content of one ControlPoints element.
  void read(const char* xml) { readControlPoints(xml_.contentOf(xml)); }

 private:
  XmlFragment xml_;
};

TEST_F(ControlPointsTest, ReadsNamePositionCategoryAndMeasurements) {
  read(R"(<ControlPoints><ControlPoint>
            <Name>GCP_01</Name>
            <Position><z>87.5</z><x>512.6789</x><y>431.25</y></Position>
            <CheckPoint>true</CheckPoint>
            <Measurement><PhotoId>4</PhotoId><x>10.5</x><y>20.25</y></Measurement>
            <Measurement><x>1</x><y>2</y><PhotoId>5</PhotoId></Measurement>
          </ControlPoint></ControlPoints>)");
  ASSERT_EQ(controlPoints.size(), 1u);
  const ControlPoint& point = controlPoints[0];
  EXPECT_EQ(point.name, "GCP_01");
  EXPECT_EQ(point.x, 512.6789);
  EXPECT_EQ(point.y, 431.25);
  EXPECT_EQ(point.z, 87.5);
  EXPECT_EQ(point.category, 2);
  EXPECT_EQ(point.measurementCount, 0);  // counted by the conversion, not here
  ASSERT_EQ(point.measurements.size(), 2u);
  EXPECT_EQ(point.measurements[0].photoId, 4);
  EXPECT_EQ(point.measurements[0].x, 10.5);
  EXPECT_EQ(point.measurements[0].y, 20.25);
  EXPECT_TRUE(point.measurements[0].imageName.isEmpty());
  EXPECT_EQ(point.measurements[1].photoId, 5);
  EXPECT_EQ(point.measurements[1].x, 1.0);
}

// A measurement's fields are its first children of those names, whatever
// stands around them; a missing one reads as 0.
TEST_F(ControlPointsTest, MeasurementFieldsAreTheFirstChildrenOfTheirNames) {
  read(R"(<ControlPoints><ControlPoint>
            <Measurement>text<!-- c --><xx>9</xx><x>1.5</x><PhotoIds>8</PhotoIds><x>7</x><PhotoId>3</PhotoId>
              <y>2.5</y><PhotoId>4</PhotoId><y>6</y></Measurement>
            <Measurement><X>1</X><Y>2</Y><photoid>3</photoid><y>-4</y></Measurement>
            <Measurement><PhotoId><x>5</x>6</PhotoId></Measurement>
          </ControlPoint></ControlPoints>)");
  ASSERT_EQ(controlPoints.size(), 1u);
  const std::vector<ImageMeasurement>& m = controlPoints[0].measurements;
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].photoId, 3);
  EXPECT_EQ(m[0].x, 1.5);
  EXPECT_EQ(m[0].y, 2.5);
  EXPECT_EQ(m[1].photoId, 0);
  EXPECT_EQ(m[1].x, 0.0);
  EXPECT_EQ(m[1].y, -4.0);
  EXPECT_EQ(m[2].photoId, 6);  // a grandchild x is not the measurement's
  EXPECT_EQ(m[2].x, 0.0);
}

struct CategoryCase {
  const char* checkPoint;  // the CheckPoint element, or "" for none
  int expected;
};

void PrintTo(const CategoryCase& c, std::ostream* os) { *os << c.checkPoint; }

class CategoryTest : public ControlPointsTest, public ::testing::WithParamInterface<CategoryCase> {};

TEST_P(CategoryTest, OnlyTheExactTextTrueMakesACheckPoint) {
  const std::string xml = std::string("<ControlPoints><P>") + GetParam().checkPoint + "</P></ControlPoints>";
  read(xml.c_str());
  ASSERT_EQ(controlPoints.size(), 1u);
  EXPECT_EQ(controlPoints[0].category, GetParam().expected) << GetParam().checkPoint;
}

INSTANTIATE_TEST_SUITE_P(
    CheckPointTexts, CategoryTest,
    ::testing::Values(CategoryCase{"<CheckPoint>true</CheckPoint>", 2},
                      CategoryCase{"<CheckPoint><![CDATA[true]]></CheckPoint>", 2},
                      CategoryCase{"<CheckPoint>True</CheckPoint>", 1}, CategoryCase{"<CheckPoint>1</CheckPoint>", 1},
                      CategoryCase{"<CheckPoint>yes</CheckPoint>", 1},
                      CategoryCase{"<CheckPoint> true</CheckPoint>", 1},  // no trimming
                      CategoryCase{"<CheckPoint/>", 1}, CategoryCase{"", 1},
                      CategoryCase{"<CheckPoint>true</CheckPoint><CheckPoint>false</CheckPoint>", 1},
                      CategoryCase{"<CheckPoint>false</CheckPoint><CheckPoint>true</CheckPoint>", 2},
                      // Decoded as elementText decodes it: a leading byte-order mark is dropped.
                      CategoryCase{"<CheckPoint>\xEF\xBB\xBFtrue</CheckPoint>", 2},
                      CategoryCase{"<CheckPoint>tru\xC3\xA9</CheckPoint>", 1},
                      CategoryCase{"<CheckPoint>true\xEF\xBB\xBF</CheckPoint>", 1}));

TEST_F(ControlPointsTest, MissingValuesReadAsZeroAndEmpty) {
  read(R"(<ControlPoints><P>
            <Position><x>1.5</x></Position>
            <Measurement><y>3</y></Measurement>
            <Measurement/>
          </P><P/></ControlPoints>)");
  ASSERT_EQ(controlPoints.size(), 2u);
  const ControlPoint& first = controlPoints[0];
  EXPECT_TRUE(first.name.isEmpty());
  EXPECT_EQ(first.x, 1.5);
  EXPECT_EQ(first.y, 0.0);
  EXPECT_EQ(first.z, 0.0);
  ASSERT_EQ(first.measurements.size(), 2u);
  EXPECT_EQ(first.measurements[0].photoId, 0);
  EXPECT_EQ(first.measurements[0].x, 0.0);
  EXPECT_EQ(first.measurements[0].y, 3.0);
  // Nothing of the earlier measurement carries over into the next one.
  EXPECT_EQ(first.measurements[1].y, 0.0);

  const ControlPoint& second = controlPoints[1];
  EXPECT_EQ(second.x, 0.0);
  EXPECT_TRUE(second.measurements.empty());
  EXPECT_EQ(second.category, 1);
}

TEST_F(ControlPointsTest, RepeatedChildrenOverwriteAndDuplicateMeasurementsStay) {
  read(R"(<ControlPoints><P>
            <Name>old</Name><Name>new</Name>
            <Position><x>1</x><y>2</y><z>3</z></Position><Position><x>4</x></Position>
            <Measurement><PhotoId>1</PhotoId><x>5</x><y>6</y></Measurement>
            <Measurement><PhotoId>1</PhotoId><x>5</x><y>6</y></Measurement>
          </P></ControlPoints>)");
  ASSERT_EQ(controlPoints.size(), 1u);
  EXPECT_EQ(controlPoints[0].name, "new");
  EXPECT_EQ(controlPoints[0].x, 4.0);
  EXPECT_EQ(controlPoints[0].y, 0.0);  // the second Position replaces all three values
  EXPECT_EQ(controlPoints[0].measurements.size(), 2u);
}

TEST_F(ControlPointsTest, EveryNodeCountsAsAPointWhateverItsNameOrKind) {
  read(R"(<ControlPoints>leading text<ControlPoint><Name>A</Name></ControlPoint>
            <Anything><Name>B</Name><name>ignored</name><measurement/></Anything><![CDATA[cdata]]>
          </ControlPoints>)");
  ASSERT_EQ(controlPoints.size(), 4u);
  EXPECT_TRUE(controlPoints[0].name.isEmpty());  // the text run
  EXPECT_EQ(controlPoints[1].name, "A");
  EXPECT_EQ(controlPoints[2].name, "B");
  EXPECT_TRUE(controlPoints[2].measurements.empty());
  EXPECT_TRUE(controlPoints[3].name.isEmpty());  // the CDATA section
  EXPECT_EQ(controlPoints[3].x, 0.0);
}

TEST_F(ControlPointsTest, CallsAccumulateInOrder) {
  read("<ControlPoints><P><Name>1</Name></P></ControlPoints>");
  read("<ControlPoints><P><Name>2</Name></P><P><Name>3</Name></P></ControlPoints>");
  ASSERT_EQ(controlPoints.size(), 3u);
  EXPECT_EQ(controlPoints[0].name, "1");
  EXPECT_EQ(controlPoints[2].name, "3");
}

TEST_F(ControlPointsTest, NullNodeAppendsNothing) {
  readControlPoints(pugi::xml_node());
  EXPECT_TRUE(controlPoints.empty());
}

// The reader notes what it substituted, without changing the records.
TEST_F(ControlPointsTest, NotesValuesPositionsCheckPointsAndLostNames) {
  read(
      "<ControlPoints>"
      "<P><Name>A</Name><Position><x>412410,5</x><y>1</y><z>2</z></Position><CheckPoint>True</CheckPoint>"
      "<Measurement><PhotoId>99999999999</PhotoId><x>1</x><y>1 2</y></Measurement></P>"
      "<P><Name>M\xFCller</Name><Position><x>1</x><z/></Position><CheckPoint>false</CheckPoint></P>"
      "<P><CheckPoint>true</CheckPoint><Name>\xEF\xBF\xBD</Name></P>"
      "</ControlPoints>");
  ASSERT_EQ(controlPoints.size(), 3u);
  EXPECT_EQ(controlPoints[0].x, 0.0);
  EXPECT_EQ(controlPoints[0].category, 1);
  EXPECT_EQ(controlPoints[0].measurements[0].photoId, 0);

  ASSERT_EQ(readNotes.values.size(), 3u);
  const ValueNote& x = readNotes.values[0];
  EXPECT_EQ(x.owner, ValueNote::ControlPoint);
  EXPECT_EQ(x.number, 0);
  EXPECT_EQ(x.field, "Position x");
  EXPECT_EQ(x.text, "412410,5");
  EXPECT_FALSE(x.outOfRange);
  EXPECT_EQ(readNotes.values[1].field, "Measurement 1 PhotoId");
  EXPECT_TRUE(readNotes.values[1].outOfRange);
  EXPECT_EQ(readNotes.values[2].field, "Measurement 1 y");
  EXPECT_EQ(readNotes.values[2].text, "1 2");

  ASSERT_EQ(readNotes.positions.size(), 2u);
  EXPECT_EQ(readNotes.positions[0].point, 1);
  EXPECT_FALSE(readNotes.positions[0].noPosition);
  EXPECT_EQ(readNotes.positions[0].coordinates, "yz");
  EXPECT_EQ(readNotes.positions[1].point, 2);
  EXPECT_TRUE(readNotes.positions[1].noPosition);

  ASSERT_EQ(readNotes.checkPoints.size(), 1u);
  EXPECT_EQ(readNotes.checkPoints[0].point, 0);
  EXPECT_EQ(readNotes.checkPoints[0].text, "True");

  EXPECT_EQ(readNotes.lostPointNames, std::vector<int>{1});

  resetStores();
  EXPECT_TRUE(readNotes.values.empty() && readNotes.positions.empty() && readNotes.checkPoints.empty());
}

// Only the first notes of values are kept; the others are counted, so that a
// block full of decimal commas costs no memory for them.
TEST_F(ControlPointsTest, KeepsTheFirstValueNotesAndCountsTheRest) {
  std::string xml = "<ControlPoints>";
  for (int i = 0; i < kMaxLinesPerKind + 5; ++i) xml += "<P><Position><x>1,5</x><y>1</y><z>1</z></Position></P>";
  read((xml + "</ControlPoints>").c_str());
  ASSERT_EQ(readNotes.values.size(), static_cast<size_t>(kMaxLinesPerKind));
  EXPECT_EQ(readNotes.values.back().number, kMaxLinesPerKind - 1);
  EXPECT_EQ(readNotes.valuesNotKept, 5);
}

// The last Position and CheckPoint decide, as they decide the record.
TEST_F(ControlPointsTest, NotesFollowTheChildThatDecides) {
  read(
      "<ControlPoints><P><Position/><Position><x>1</x><y>2</y><z>3</z></Position>"
      "<CheckPoint>yes</CheckPoint><CheckPoint>true</CheckPoint></P></ControlPoints>");
  EXPECT_TRUE(readNotes.positions.empty());
  EXPECT_TRUE(readNotes.checkPoints.empty());
}

// What the stores hold, as one text, to compare two ways of filling them.
std::string storesText() {
  std::string text;
  for (const ControlPoint& point : controlPoints) {
    text += point.name.toStdString() + " " + std::to_string(point.x) + " " + std::to_string(point.category) + " " +
            std::to_string(point.measurements.size()) + "\n";
  }
  for (const ValueNote& note : readNotes.values) {
    text += "value " + std::to_string(note.number) + " " + note.field.toStdString() + " " + note.text.toStdString() +
            (note.outOfRange ? " out" : "") + "\n";
  }
  text += "not kept " + std::to_string(readNotes.valuesNotKept) + "\n";
  for (const PositionNote& note : readNotes.positions) {
    text += "position " + std::to_string(note.point) + " " + note.coordinates.toStdString() + "\n";
  }
  for (const CheckPointNote& note : readNotes.checkPoints) text += "check " + std::to_string(note.point) + "\n";
  for (const int index : readNotes.lostPointNames) text += "lost " + std::to_string(index) + "\n";
  return text;
}

// Points read apart, in runs appended one after the other behind points
// read in place, leave the stores as reading every point in place does:
// indices moved along, value notes kept up to the cap in reading order.
TEST_F(ControlPointsTest, PointsReadApartAppendAsIfReadInPlace) {
  std::vector<std::string> points;
  for (int i = 0; i < 3 * kMaxLinesPerKind; ++i) {
    points.push_back(
        "<P><Name>" + std::string(i % 4 == 1 ? "M\xFC" : "P") + std::to_string(i) + "</Name>" +
        (i % 5 == 2 ? "" : "<Position><x>" + std::string(i % 3 ? "1" : "1,5") + "</x><y>2</y></Position>") +
        "<CheckPoint>" + (i % 7 == 3 ? "yes" : "true") + "</CheckPoint><Measurement><PhotoId>" + (i % 2 ? "x" : "1") +
        "</PhotoId></Measurement></P>");
  }
  const auto block = [&](std::size_t from, std::size_t to) {
    std::string xml = "<ControlPoints>";
    for (std::size_t i = from; i < to; ++i) xml += points[i];
    return xml + "</ControlPoints>";
  };
  read(block(0, points.size()).c_str());
  const std::string inPlace = storesText();
  for (const std::size_t first : {std::size_t(0), std::size_t(7), std::size_t(30)}) {
    for (const std::size_t second : {first, first + 3, first + 25}) {
      resetStores();
      read(block(0, first).c_str());
      for (const auto& [from, to] : {std::make_pair(first, second), std::make_pair(second, points.size())}) {
        XmlFragment xml;
        ReadPoints apart;
        for (pugi::xml_node node = xml.contentOf(block(from, to).c_str()); node; node = node.next_sibling()) {
          readControlPoint(node, apart);
        }
        appendReadPoints(apart);
        EXPECT_TRUE(apart.points.empty() && apart.notes.values.empty());
      }
      EXPECT_EQ(storesText(), inPlace) << "in place up to " << first << ", apart from there to " << second;
    }
  }
}

}  // namespace
