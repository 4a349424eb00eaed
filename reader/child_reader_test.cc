#include "reader/child_reader.h"

#include "block/block.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

int sectionIndex(const char* name) { return blockSections().find(name, std::strlen(name)); }

// Hands `child` on as a scan does: a copy, which the reader may change.
bool handOn(ChildReader& reader, std::string child) { return reader.child(child.data(), child.size()); }

// The parser's refusal of one child (which the scan should have caught)
// fails the whole read, whichever thread parses it and wherever it stands
// in its batch; the points before it are read in order.
TEST(ChildReaderTest, AChildTheParserRejectsFailsTheRead) {
  const std::size_t pointsPerBatch = ChildReader::kBatchBytes / 20 + 1;
  for (const bool twoThreads : {false, true}) {
    for (const std::size_t at : {std::size_t(0), pointsPerBatch / 2, 5 * pointsPerBatch}) {
      resetStores();
      ChildReader reader(twoThreads ? 0 : ChildReader::kNoSecondThread);
      reader.section(sectionIndex("ControlPoints"));
      bool handedOn = true;
      for (std::size_t i = 0; i < 8 * pointsPerBatch && handedOn; ++i) {
        handedOn = handOn(reader, i == at ? "<P><Name>a</P>" : "<P><Name>a</Name></P>");
      }
      EXPECT_FALSE(reader.finish()) << "two threads: " << twoThreads << ", at " << at;
      EXPECT_LE(controlPoints.size(), at);
    }
  }
  resetStores();
}

// A group's other children between its photos are read in their turn:
// the name and size in force reach the photos that follow them only.
TEST(ChildReaderTest, PhotosTakeTheGroupAsItStandsWhereTheyStand) {
  for (const bool twoThreads : {false, true}) {
    resetStores();
    ChildReader reader(twoThreads ? 0 : ChildReader::kNoSecondThread);
    reader.section(sectionIndex("Photogroups"));
    reader.enter();
    int id = 0;
    for (const char* width : {"10", "20", "30"}) {
      handOn(reader, std::string("<ImageDimensions><Width>") + width + "</Width><Height>5</Height></ImageDimensions>");
      handOn(reader, std::string("<Name>G") + width + "</Name>");
      for (int i = 0; i < 20000; ++i) {
        handOn(reader, "<Photo><Id>" + std::to_string(++id) + "</Id><ImagePath>a/b.jpg</ImagePath></Photo>");
      }
    }
    reader.leave();
    ASSERT_TRUE(reader.finish());
    ASSERT_EQ(photoTable.size(), 60000u);
    for (const auto& [photoId, photo] : photoTable) {
      const int width = 10 * ((photoId - 1) / 20000 + 1);
      ASSERT_EQ(photo.width, width) << photoId;
      ASSERT_EQ(photo.groupName, QStringLiteral("G%1").arg(width)) << photoId;
    }
  }
  resetStores();
}

}  // namespace
