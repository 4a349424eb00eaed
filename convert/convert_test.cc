#include "convert/convert.h"

#include "block/block.h"
#include "tests/support/builders.h"
#include "tests/support/qt_print.h"
#include "tests/support/stores.h"

#include <gtest/gtest.h>

namespace {

using ConvertTest = StoresTest;

struct ShiftCase {
  double x, y;
  double expectedX, expectedY;
};

TEST_F(ConvertTest, MovesCoordinatesToTheImageCentre) {
  insertPhoto(photo(1, "img.jpg", 400, 300));
  const ShiftCase cases[] = {
      {0, 0, -199.5, 149.5}, {399, 299, 199.5, -149.5}, {200, 150, 0.5, -0.5}, {-10.25, 1e6, -209.75, -999850.5}};
  ControlPoint point;
  for (const ShiftCase& c : cases) point.measurements.push_back(measurement(1, c.x, c.y));
  appendControlPoint(point);

  convertMeasurements();

  const auto& converted = controlPoints[0].measurements;
  ASSERT_EQ(converted.size(), std::size(cases));
  for (size_t i = 0; i < converted.size(); ++i) {
    EXPECT_EQ(converted[i].x, cases[i].expectedX) << "case " << i;
    EXPECT_EQ(converted[i].y, cases[i].expectedY) << "case " << i;
    EXPECT_EQ(converted[i].imageName, "img");
  }
  EXPECT_EQ(controlPoints[0].measurementCount, 4);
}

TEST_F(ConvertTest, KeepsTheOrderOfOperations) {
  // With x = 2^53 the grouping decides the result: (x - w/2) + 0.5 rounds
  // differently from x - (w/2 - 0.5).
  insertPhoto(photo(1, "", 3, 3));
  appendControlPoint(point("", {measurement(1, 9007199254740992.0, 9007199254740992.0)}));
  convertMeasurements();
  const ImageMeasurement& m = controlPoints[0].measurements[0];
  EXPECT_EQ(m.x, 9007199254740990.0);   // x - (w/2 - 0.5) would give ...991
  EXPECT_EQ(m.y, -9007199254740990.0);  // (h/2 - 0.5) - y would give -...991
}

TEST_F(ConvertTest, UnknownPhotoGetsADefaultEntryAndNoName) {
  insertPhoto(photo(1, "known.jpg", 100, 100));
  appendControlPoint(point("", {measurement(77, 10, 20), measurement(77, 0, 0)}));
  convertMeasurements();

  const auto& m = controlPoints[0].measurements;
  EXPECT_EQ(m[0].x, 10.5);
  EXPECT_EQ(m[0].y, -20.5);
  EXPECT_TRUE(m[0].imageName.isEmpty());
  EXPECT_EQ(m[1].x, 0.5);
  EXPECT_EQ(m[1].y, -0.5);
  ASSERT_EQ(photoTable.count(77), 1u);  // one default entry for the id, however often it is named
  EXPECT_EQ(photoTable.size(), 2u);
  EXPECT_EQ(photoTable.at(77).width, 0);
}

TEST_F(ConvertTest, CountsMeasurementsOfEveryPoint) {
  insertPhoto(photo(1, "a.jpg", 10, 10));
  appendControlPoint(point("", {}));
  appendControlPoint(point("", {measurement(1, 1, 1), measurement(1, 1, 1), measurement(1, 1, 1)}));
  convertMeasurements();
  EXPECT_EQ(controlPoints[0].measurementCount, 0);
  EXPECT_EQ(controlPoints[1].measurementCount, 3);
  // Measurements on the same photo convert independently of each other.
  for (const ImageMeasurement& m : controlPoints[1].measurements) EXPECT_EQ(m.x, -3.5);
}

TEST_F(ConvertTest, MeasurementsOfOnePhotoShareOneName) {
  insertPhoto(photo(1, "a/one.jpg", 10, 10));
  insertPhoto(photo(2, "b/two.jpg", 10, 10));
  appendControlPoint(point("A", {measurement(1), measurement(2)}));
  appendControlPoint(point("B", {measurement(2), measurement(1), measurement(1)}));
  convertMeasurements();

  const auto& a = controlPoints[0].measurements;
  const auto& b = controlPoints[1].measurements;
  EXPECT_EQ(a[0].imageName, "one");
  EXPECT_EQ(a[1].imageName, "two");
  EXPECT_TRUE(a[0].imageName.isSharedWith(b[1].imageName));
  EXPECT_TRUE(a[0].imageName.isSharedWith(b[2].imageName));
  EXPECT_TRUE(a[1].imageName.isSharedWith(b[0].imageName));
}

struct BaseNameCase {
  const char* path;
  const char* expected;
};

void PrintTo(const BaseNameCase& c, std::ostream* os) { *os << c.path; }

class ImageBaseNameTest : public ::testing::TestWithParam<BaseNameCase> {};

TEST_P(ImageBaseNameTest, SplitsAtBothSeparatorsAndTheLastDot) {
  EXPECT_EQ(imageBaseName(QString::fromUtf8(GetParam().path)), QString::fromUtf8(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Paths, ImageBaseNameTest,
                         ::testing::Values(BaseNameCase{"D:\\survey\\img\\IMG_0012.JPG", "IMG_0012"},
                                           BaseNameCase{"a/b/c.tar.gz", "c.tar"}, BaseNameCase{"a/b/noext", "noext"},
                                           BaseNameCase{"", ""}, BaseNameCase{"plain.jpg", "plain"},
                                           BaseNameCase{"D:/mixed\\dir/x.y\\IMG.tif", "IMG"},
                                           BaseNameCase{"dir.d/file", "file"}, BaseNameCase{"a\\b.c\\noext", "noext"},
                                           BaseNameCase{"a/.hidden", ""}, BaseNameCase{"a/trailing/", ""},
                                           BaseNameCase{"\\\\server\\share\\M\xC3\xBChle.png", "M\xC3\xBChle"},
                                           BaseNameCase{"name.", "name"}, BaseNameCase{"with space/x y.jpg", "x y"}));

}  // namespace
