#include "reader/photogroups.h"

#include "block/block.h"
#include "block/read_notes.h"
#include "reader/element_value.h"

namespace {

// A photogroup as the notes name it: its own Name (wherever it stands in the
// group) and its position in the block. The name is looked up once per
// group, and only when there is something to say about it.
class GroupLabel {
 public:
  GroupLabel(pugi::xml_node group, int number) : group_(group), number_(number) {}

  int number() const { return number_; }
  const QString& name() {
    if (!looked_) {
      name_ = childText(group_, "Name");
      looked_ = true;
    }
    return name_;
  }
  // Whether the group has ImageDimensions anywhere.
  bool hasDimensions() {
    if (dimensions_ < 0) dimensions_ = group_.child("ImageDimensions") ? 1 : 0;
    return dimensions_ == 1;
  }

 private:
  pugi::xml_node group_;
  int number_;
  bool looked_ = false;
  QString name_;
  int dimensions_ = -1;
};

int readInteger(pugi::xml_node parent, const char* field, ValueNote note) {
  const char* text = parent.child(field).text().get();
  ValueProblem problem = ValueProblem::None;
  const int value = integerValue(text, &problem);
  if (problem != ValueProblem::None && keepsValueNote()) {
    note.field = QString::fromLatin1(field);
    note.text = QString::fromUtf8(text);
    note.outOfRange = problem == ValueProblem::OutOfRange;
    readNotes.values.push_back(std::move(note));
  }
  return value;
}

}  // namespace

void readPhotogroups(pugi::xml_node firstGroup) {
  QString groupName;
  int width = 0;
  int height = 0;
  // Where the size in force comes from: the group's position and own name;
  // 0 before any ImageDimensions.
  int sizeGroupNumber = 0;
  QString sizeGroup;

  for (pugi::xml_node group = firstGroup; group; group = group.next_sibling()) {
    GroupLabel label(group, ++readNotes.photogroupsRead);
    for (pugi::xml_node child = group.first_child(); child; child = child.next_sibling()) {
      if (hasName(child, "Name")) {
        groupName = elementText(child);
      } else if (hasName(child, "ImageDimensions")) {
        ValueNote note;
        note.owner = ValueNote::Photogroup;
        note.number = label.number();
        note.label = label.name();
        width = readInteger(child, "Width", note);
        height = readInteger(child, "Height", note);
        sizeGroupNumber = label.number();
        sizeGroup = label.name();
      } else if (hasName(child, "Photo")) {
        PhotoInfo photo;
        ValueNote note;
        note.owner = ValueNote::Photo;
        note.label = childText(child, "ImagePath");
        photo.id = readInteger(child, "Id", note);
        photo.imagePath = note.label;
        photo.groupName = groupName;
        photo.height = height;
        photo.width = width;
        if (!insertPhoto(photo)) continue;
        if (lostCharacters(child.child("ImagePath").text().get(), photo.imagePath)) {
          readNotes.lostImagePaths.push_back(photo.id);
        }
        if (sizeGroupNumber != label.number()) {
          PhotoSizeNote size;
          size.photoId = photo.id;
          size.group = label.name();
          size.groupNumber = label.number();
          size.sizeGroup = sizeGroup;
          size.sizeGroupNumber = sizeGroupNumber;
          size.width = width;
          size.height = height;
          size.cause = sizeGroupNumber == 0    ? PhotoSizeNote::NoneBefore
                       : label.hasDimensions() ? PhotoSizeNote::OwnComesAfter
                                               : PhotoSizeNote::OwnMissing;
          readNotes.photoSizes.push_back(std::move(size));
        }
      }
    }
  }
}
