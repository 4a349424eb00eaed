#include "reader/photogroups.h"

#include "block/block.h"
#include "block/read_notes.h"
#include "reader/element_value.h"

namespace {

// Reads the integer `field` of `parent`; a value that is not one is noted
// as `about` says, with its field and text, in `notes`; returns whether
// there was a problem.
int readInteger(pugi::xml_node parent, const char* field, const ValueNote& about, ReadNotes& notes = readNotes,
                bool* noted = nullptr) {
  const char* text = parent.child(field).text().get();
  ValueProblem problem = ValueProblem::None;
  const int value = integerValue(text, &problem);
  if (noted) *noted = problem != ValueProblem::None;
  if (problem != ValueProblem::None && keepsValueNote(notes)) {
    ValueNote note = about;
    note.field = QString::fromLatin1(field);
    note.text = QString::fromUtf8(text);
    note.outOfRange = problem == ValueProblem::OutOfRange;
    notes.values.push_back(std::move(note));
  }
  return value;
}

}  // namespace

ReadPhoto readPhoto(pugi::xml_node photo, ReadNotes& notes) {
  ReadPhoto read;
  ValueNote note;
  note.owner = ValueNote::Photo;
  note.label = childText(photo, "ImagePath");
  read.id = readInteger(photo, "Id", note, notes, &read.noted);
  read.imagePath = note.label;
  read.lostCharacters = lostCharacters(photo.child("ImagePath").text().get(), read.imagePath);
  return read;
}

void readPhotogroups(pugi::xml_node firstGroup) {
  PhotogroupReader reader;
  for (pugi::xml_node group = firstGroup; group; group = group.next_sibling()) reader.read(group);
}

void PhotogroupReader::read(pugi::xml_node group) {
  begin();
  for (pugi::xml_node child = group.first_child(); child; child = child.next_sibling()) part(child);
  end();
}

void PhotogroupReader::begin() {
  number_ = ++readNotes.photogroupsRead;
  named_ = false;
  name_ = QString();
  hasDimensions_ = false;
  firstValueNote_ = readNotes.values.size();
  firstSizeNote_ = readNotes.photoSizes.size();
}

void PhotogroupReader::part(pugi::xml_node child) {
  if (hasName(child, "Name")) {
    groupName_ = elementText(child);
    if (!named_) name_ = groupName_;
    named_ = true;
  } else if (hasName(child, "ImageDimensions")) {
    hasDimensions_ = true;
    ValueNote note;
    note.owner = ValueNote::Photogroup;
    note.number = number_;
    width_ = readInteger(child, "Width", note);
    height_ = readInteger(child, "Height", note);
    sizeGroupNumber_ = number_;
  } else if (hasName(child, "Photo")) {
    photo(readPhoto(child, readNotes));
  }
}

void PhotogroupReader::photo(const ReadPhoto& read) {
  PhotoInfo photo;
  photo.id = read.id;
  photo.imagePath = read.imagePath;
  photo.groupName = groupName_;
  photo.height = height_;
  photo.width = width_;
  if (!insertPhoto(photo)) return;
  if (read.lostCharacters) readNotes.lostImagePaths.push_back(photo.id);
  if (sizeGroupNumber_ != number_) {
    PhotoSizeNote size;
    size.photoId = photo.id;
    size.groupNumber = number_;
    size.sizeGroup = sizeGroup_;
    size.sizeGroupNumber = sizeGroupNumber_;
    size.width = width_;
    size.height = height_;
    size.cause = sizeGroupNumber_ == 0 ? PhotoSizeNote::NoneBefore : PhotoSizeNote::OwnMissing;
    readNotes.photoSizes.push_back(std::move(size));
  }
}

void PhotogroupReader::end() {
  // The group's own name is its first Name, wherever that stands, and its
  // own size may come after its photos: only now is either known.
  for (std::size_t i = firstValueNote_; i < readNotes.values.size(); ++i) {
    ValueNote& note = readNotes.values[i];
    if (note.owner == ValueNote::Photogroup && note.number == number_) note.label = name_;
  }
  for (std::size_t i = firstSizeNote_; i < readNotes.photoSizes.size(); ++i) {
    PhotoSizeNote& size = readNotes.photoSizes[i];
    size.group = name_;
    if (size.cause != PhotoSizeNote::NoneBefore && hasDimensions_) size.cause = PhotoSizeNote::OwnComesAfter;
  }
  if (sizeGroupNumber_ == number_) sizeGroup_ = name_;
}
