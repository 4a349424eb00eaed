#include "reader/photogroups.h"

#include "block/block.h"
#include "block/read_notes.h"

#include "tests/support/builders.h"
#include "tests/support/qt_print.h"
#include "tests/support/stores.h"

#include <gtest/gtest.h>

namespace {

class PhotogroupsTest : public StoresTest {
 protected:
  // Reads every child of the root of `xml` as the content of one Photogroups element.
  void read(const char* xml) { readPhotogroups(xml_.contentOf(xml)); }

  static void expectPhoto(int id, const char* path, const char* group, int width, int height) {
    ASSERT_EQ(photoTable.count(id), 1u) << "photo " << id;
    const PhotoInfo& photo = photoTable.at(id);
    EXPECT_EQ(photo.id, id);
    EXPECT_EQ(photo.imagePath, QString::fromUtf8(path)) << "photo " << id;
    EXPECT_EQ(photo.groupName, QString::fromUtf8(group)) << "photo " << id;
    EXPECT_EQ(photo.width, width) << "photo " << id;
    EXPECT_EQ(photo.height, height) << "photo " << id;
  }

 private:
  XmlFragment xml_;
};

TEST_F(PhotogroupsTest, PhotoTakesItsGroupsNameAndSize) {
  read(R"(<Photogroups><G><Name>Cam</Name>
             <ImageDimensions><Width>600</Width><Height>400</Height></ImageDimensions>
             <Photo><Id>3</Id><ImagePath>D:\img\a.jpg</ImagePath></Photo></G></Photogroups>)");
  EXPECT_EQ(photoTable.size(), 1u);
  expectPhoto(3, "D:\\img\\a.jpg", "Cam", 600, 400);
}

TEST_F(PhotogroupsTest, ValuesCarryOverFromAnEarlierGroup) {
  read(R"(<Photogroups>
            <G><Name>A</Name><ImageDimensions><Width>10</Width><Height>20</Height></ImageDimensions>
               <Photo><Id>1</Id></Photo></G>
            <G><Photo><Id>2</Id></Photo>
               <ImageDimensions><Width>30</Width><Height>40</Height></ImageDimensions>
               <Photo><Id>3</Id></Photo>
               <Name>B</Name>
               <Photo><Id>4</Id></Photo></G>
          </Photogroups>)");
  expectPhoto(1, "", "A", 10, 20);
  expectPhoto(2, "", "A", 10, 20);  // dimensions and name from the group before
  expectPhoto(3, "", "A", 30, 40);
  expectPhoto(4, "", "B", 30, 40);
}

TEST_F(PhotogroupsTest, BeforeAnyValueAPhotoHasNoNameAndNoSize) {
  read("<Photogroups><G><Photo><Id>5</Id><ImagePath>p.tif</ImagePath></Photo></G></Photogroups>");
  expectPhoto(5, "p.tif", "", 0, 0);
}

TEST_F(PhotogroupsTest, MissingWidthOrHeightResetsThatValue) {
  read(R"(<Photogroups><G>
            <ImageDimensions><Width>10</Width><Height>20</Height></ImageDimensions>
            <ImageDimensions><Height>25</Height></ImageDimensions><Photo><Id>1</Id></Photo>
            <ImageDimensions><Width>abc</Width><Height>-7</Height></ImageDimensions><Photo><Id>2</Id></Photo>
          </G></Photogroups>)");
  expectPhoto(1, "", "", 0, 25);
  expectPhoto(2, "", "", 0, -7);
}

TEST_F(PhotogroupsTest, FirstPhotoWithAnIdWinsAcrossGroups) {
  read(R"(<Photogroups>
            <G><Name>A</Name><ImageDimensions><Width>1</Width><Height>2</Height></ImageDimensions>
               <Photo><Id>7</Id><ImagePath>first.jpg</ImagePath></Photo></G>
            <G><Name>B</Name><ImageDimensions><Width>3</Width><Height>4</Height></ImageDimensions>
               <Photo><Id>7</Id><ImagePath>second.jpg</ImagePath></Photo></G>
          </Photogroups>)");
  EXPECT_EQ(photoTable.size(), 1u);
  expectPhoto(7, "first.jpg", "A", 1, 2);
}

TEST_F(PhotogroupsTest, NonNumericIdsAllShareIdZero) {
  read(R"(<Photogroups><G><Photo><Id>x</Id><ImagePath>a</ImagePath></Photo>
            <Photo><ImagePath>b</ImagePath></Photo></G></Photogroups>)");
  EXPECT_EQ(photoTable.size(), 1u);
  expectPhoto(0, "a", "", 0, 0);
}

TEST_F(PhotogroupsTest, TextBesideGroupsAndUnknownChildrenAddNothing) {
  read(R"(<Photogroups>stray text<G><name>lower</name><photo><Id>1</Id></photo>
            <Photo><Id>2</Id><Name>not the group</Name></Photo></G><![CDATA[more]]></Photogroups>)");
  EXPECT_EQ(photoTable.size(), 1u);
  expectPhoto(2, "", "", 0, 0);
}

TEST_F(PhotogroupsTest, EachCallStartsAfresh) {
  read(R"(<Photogroups><G><Name>A</Name><ImageDimensions><Width>10</Width><Height>20</Height></ImageDimensions>
          <Photo><Id>1</Id></Photo></G></Photogroups>)");
  read("<Photogroups><G><Photo><Id>2</Id></Photo></G></Photogroups>");
  expectPhoto(1, "", "A", 10, 20);
  expectPhoto(2, "", "", 0, 0);
}

TEST_F(PhotogroupsTest, NullNodeReadsNothing) {
  readPhotogroups(pugi::xml_node());
  EXPECT_TRUE(photoTable.empty());
}

// Photos that do not take their own group's size are noted with the group
// whose size they take, and bad sizes and ids with their groups and paths.
TEST_F(PhotogroupsTest, NotesBorrowedSizesAndBadValues) {
  read(
      "<Photogroups>"
      "<G><Name>A</Name><Photo><Id>1</Id><ImagePath>a1.jpg</ImagePath></Photo>"
      "<ImageDimensions><Width>400</Width><Height>300</Height></ImageDimensions>"
      "<Photo><Id>2</Id><ImagePath>a2.jpg</ImagePath></Photo></G>"
      "<G><Photo><Id>3</Id><ImagePath>b/\xFC.jpg</ImagePath></Photo><Name>B</Name>"
      "<ImageDimensions><Width>8k</Width><Height>600</Height></ImageDimensions></G>"
      "<G><Photo><Id>4x</Id><ImagePath>c.jpg</ImagePath></Photo></G>"
      "</Photogroups>");
  expectPhoto(3, "b/\xEF\xBF\xBD.jpg", "A", 400, 300);  // the records are as before

  ASSERT_EQ(readNotes.photoSizes.size(), 3u);
  const PhotoSizeNote& first = readNotes.photoSizes[0];
  EXPECT_EQ(first.photoId, 1);
  EXPECT_EQ(first.cause, PhotoSizeNote::NoneBefore);
  const PhotoSizeNote& borrowed = readNotes.photoSizes[1];
  EXPECT_EQ(borrowed.photoId, 3);
  EXPECT_EQ(borrowed.group, "B");  // its own name, though it comes after the photo
  EXPECT_EQ(borrowed.groupNumber, 2);
  EXPECT_EQ(borrowed.sizeGroup, "A");
  EXPECT_EQ(borrowed.width, 400);
  EXPECT_EQ(borrowed.cause, PhotoSizeNote::OwnComesAfter);
  const PhotoSizeNote& none = readNotes.photoSizes[2];
  EXPECT_EQ(none.photoId, 0);
  EXPECT_EQ(none.group, "");
  EXPECT_EQ(none.groupNumber, 3);
  EXPECT_EQ(none.sizeGroup, "B");
  EXPECT_EQ(none.width, 0);
  EXPECT_EQ(none.height, 600);
  EXPECT_EQ(none.cause, PhotoSizeNote::OwnMissing);

  ASSERT_EQ(readNotes.values.size(), 2u);
  EXPECT_EQ(readNotes.values[0].owner, ValueNote::Photogroup);
  EXPECT_EQ(readNotes.values[0].label, "B");
  EXPECT_EQ(readNotes.values[0].number, 2);
  EXPECT_EQ(readNotes.values[0].field, "Width");
  EXPECT_EQ(readNotes.values[0].text, "8k");
  EXPECT_EQ(readNotes.values[1].owner, ValueNote::Photo);
  EXPECT_EQ(readNotes.values[1].label, "c.jpg");
  EXPECT_EQ(readNotes.values[1].field, "Id");

  EXPECT_EQ(readNotes.lostImagePaths, std::vector<int>{3});
}

}  // namespace
