#pragma once

#include <pugixml.hpp>

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
