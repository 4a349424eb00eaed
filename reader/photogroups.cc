#include "reader/photogroups.h"

#include "block/block.h"
#include "reader/element_value.h"

void readPhotogroups(pugi::xml_node firstGroup) {
  QString groupName;
  int width = 0;
  int height = 0;

  for (pugi::xml_node group = firstGroup; group; group = group.next_sibling()) {
    for (pugi::xml_node child = group.first_child(); child; child = child.next_sibling()) {
      if (hasName(child, "Name")) {
        groupName = elementText(child);
      } else if (hasName(child, "ImageDimensions")) {
        width = integerValue(childText(child, "Width"));
        height = integerValue(childText(child, "Height"));
      } else if (hasName(child, "Photo")) {
        PhotoInfo photo;
        photo.id = integerValue(childText(child, "Id"));
        photo.imagePath = childText(child, "ImagePath");
        photo.groupName = groupName;
        photo.height = height;
        photo.width = width;
        insertPhoto(photo);
      }
    }
  }
}
