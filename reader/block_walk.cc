#include "reader/block_walk.h"

#include "reader/control_points.h"

#include <cstring>

namespace {

enum Section { kPhotogroups, kControlPoints };

}  // namespace

const SectionList& blockSections() {
  // In the order of the enum above.
  static const SectionList list{kBlockName, {{"Photogroups", true}, {"ControlPoints", false}}};
  return list;
}

void SectionReader::begin(int index) {
  section_ = index;
  photogroups_.reset();
  if (index == kPhotogroups) photogroups_.emplace();
}

void SectionReader::read(pugi::xml_node child) {
  if (section_ == kPhotogroups) {
    if (inParts_) {
      photogroups_->part(child);
    } else {
      photogroups_->read(child);
    }
  } else if (section_ == kControlPoints) {
    readControlPoint(child);
  }
}

// Only Photogroups come in parts.
void SectionReader::enter() {
  photogroups_->begin();
  inParts_ = true;
}

void SectionReader::leave() {
  photogroups_->end();
  inParts_ = false;
}

void walkBlock(pugi::xml_node block) {
  SectionReader reader;
  for (pugi::xml_node section = block.first_child(); section; section = section.next_sibling()) {
    if (section.type() != pugi::node_element) continue;
    const char* const name = section.name();
    const int index = blockSections().find(name, std::strlen(name));
    if (index < 0) continue;
    reader.begin(index);
    for (pugi::xml_node child = section.first_child(); child; child = child.next_sibling()) reader.read(child);
  }
}
