#include "block/block.h"

#include "tests/support/builders.h"
#include "tests/support/qt_print.h"
#include "tests/support/stores.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

TEST_F(StoresTest, FirstPhotoWithAnIdWins) {
  EXPECT_TRUE(insertPhoto(photo(7, "a/first.jpg", 600, 400, "A")));
  EXPECT_FALSE(insertPhoto(photo(7, "b/second.jpg", 100, 50, "B")));

  ASSERT_EQ(photoTable.size(), 1u);
  const PhotoInfo& kept = photoTable.at(7);
  EXPECT_EQ(kept.imagePath, "a/first.jpg");
  EXPECT_EQ(kept.groupName, "A");
  EXPECT_EQ(kept.width, 600);
  EXPECT_EQ(kept.height, 400);

  // The dropped photo is remembered whole, so that it can be reported.
  ASSERT_EQ(droppedPhotos.size(), 1u);
  EXPECT_EQ(droppedPhotos[0].imagePath, "b/second.jpg");
  EXPECT_EQ(droppedPhotos[0].width, 100);
}

TEST_F(StoresTest, ResetEmptiesEveryStore) {
  insertPhoto(photo(1, "a.jpg", 1, 1, "G"));
  insertPhoto(photo(1, "b.jpg", 1, 1, "G"));
  appendControlPoint(ControlPoint());
  resetStores();
  EXPECT_TRUE(photoTable.empty());
  EXPECT_TRUE(controlPoints.empty());
  EXPECT_TRUE(droppedPhotos.empty());
}

TEST_F(StoresTest, FindOrCreateLeavesADefaultEntryForAnUnknownId) {
  insertPhoto(photo(1, "x.jpg", 10, 20, "G"));

  PhotoInfo& created = findOrCreatePhoto(42);
  EXPECT_EQ(created.id, 0);
  EXPECT_TRUE(created.imagePath.isEmpty());
  EXPECT_TRUE(created.groupName.isEmpty());
  EXPECT_EQ(created.width, 0);
  EXPECT_EQ(created.height, 0);
  EXPECT_EQ(photoTable.size(), 2u);
  EXPECT_EQ(photoTable.count(42), 1u);

  // A known id is returned as it is, without growing the table.
  EXPECT_EQ(findOrCreatePhoto(1).imagePath, "x.jpg");
  EXPECT_EQ(photoTable.size(), 2u);
}

TEST_F(StoresTest, AppendedPointsAreCopiesInOrder) {
  ControlPoint point;
  point.name = "P1";
  point.measurements.push_back(measurement(3, 1.0, 2.0));
  appendControlPoint(point);
  point.name = "P2";
  point.measurements.clear();
  appendControlPoint(point);

  ASSERT_EQ(controlPoints.size(), 2u);
  EXPECT_EQ(controlPoints[0].name, "P1");
  EXPECT_EQ(controlPoints[0].measurements.size(), 1u);
  EXPECT_EQ(controlPoints[1].name, "P2");
  EXPECT_TRUE(controlPoints[1].measurements.empty());
}

TEST_F(StoresTest, AMovedPointKeepsItsMeasurementsWithoutACopy) {
  ControlPoint point;
  point.name = "P1";
  point.measurements.assign(3, measurement(3, 1.0, 2.0));
  const ImageMeasurement* const held = point.measurements.data();
  appendControlPoint(std::move(point));

  ASSERT_EQ(controlPoints.size(), 1u);
  EXPECT_EQ(controlPoints[0].name, "P1");
  EXPECT_EQ(controlPoints[0].measurements.data(), held);
}

}  // namespace
