#pragma once

#include "block/read_notes.h"

#include <QString>

#include <pugixml.hpp>

#include <cstddef>

// A photo as its element says, before the group it stands in is known.
struct ReadPhoto {
  int id = 0;
  QString imagePath;
  bool lostCharacters = false;  // its image path lost characters that were not UTF-8
  bool noted = false;           // its id is not a number (noted as readPhoto says)
};

// Reads `photo`, a `Photo` element, as a photogroup reads its photos; a
// value that is not a number is noted in `notes`, up to their cap. It
// touches nothing shared, so threads may read photos side by side.
ReadPhoto readPhoto(pugi::xml_node photo, ReadNotes& notes);

// Reads the photogroups of one `Photogroups` element, one group at a time in
// document order, as readPhotogroups describes; what carries over from group
// to group lives here. A group may come whole (read) or a child at a time
// (begin, part for each child, end), which reads the same.
class PhotogroupReader {
 public:
  // Reads `group` (an element of any name, or another node, which then
  // holds no photos but still counts as a group) and inserts its photos.
  void read(pugi::xml_node group);

  // A group begins.
  void begin();
  // Reads `child`, a child node of the group that began last.
  void part(pugi::xml_node child);
  // The same for a `Photo` child read by readPhoto, whose note, if any, is
  // in readNotes already.
  void photo(const ReadPhoto& read);
  // The group ends: the notes about it get its own name, and whether it has
  // a size of its own after all.
  void end();

 private:
  QString groupName_;
  int width_ = 0;
  int height_ = 0;
  // Where the size in force comes from: the group's position and own name;
  // 0 before any ImageDimensions.
  int sizeGroupNumber_ = 0;
  QString sizeGroup_;

  // The group that began last: its position, own name (its first Name),
  // whether it has ImageDimensions, and where its notes begin.
  int number_ = 0;
  bool named_ = false;
  QString name_;
  bool hasDimensions_ = false;
  std::size_t firstValueNote_ = 0;
  std::size_t firstSizeNote_ = 0;
};

// Reads the photogroups that start at `firstGroup` (the first child of a
// `Photogroups` element, or a null node) and each of its following siblings,
// whatever their names, and inserts one PhotoInfo per photo into photoTable.
//
// A photo takes the group name and image size read before it in this call:
// in its own group or, when its group has none before it, in an earlier one.
// Before the first `Name` the group name is empty; before the first
// `ImageDimensions` width and height are 0. Nothing carries over between
// calls. A photo whose id is already in the table is dropped.
void readPhotogroups(pugi::xml_node firstGroup);
