#pragma once

#include <QString>

#include <pugixml.hpp>

// Reads the photogroups of one `Photogroups` element, one group at a time in
// document order, as readPhotogroups describes; what carries over from group
// to group lives here.
class PhotogroupReader {
 public:
  // Reads `group` (an element of any name, or another node, which then
  // holds no photos but still counts as a group) and inserts its photos.
  void read(pugi::xml_node group);

 private:
  QString groupName_;
  int width_ = 0;
  int height_ = 0;
  // Where the size in force comes from: the group's position and own name;
  // 0 before any ImageDimensions.
  int sizeGroupNumber_ = 0;
  QString sizeGroup_;
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
