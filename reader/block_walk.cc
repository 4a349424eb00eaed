#include "reader/block_walk.h"

#include "reader/control_points.h"

#include <cstring>

namespace {

// Each read section with what reads it; blockSections() lists them in this
// order, and an index into that list finds its reader here.
const struct {
  SectionReader::Section section;
  const char* name;
  bool inParts;
} kReadSections[] = {
    {SectionReader::Section::Photogroups, "Photogroups", true},
    {SectionReader::Section::ControlPoints, "ControlPoints", false},
};

}  // namespace

const SectionList& blockSections() {
  static const SectionList list = [] {
    SectionList sections{kBlockName, {}};
    for (const auto& read : kReadSections) sections.sections.push_back({read.name, read.inParts});
    return sections;
  }();
  return list;
}

void SectionReader::begin(int index) {
  section_ = kReadSections[index].section;
  photogroups_.reset();
  if (section_ == Section::Photogroups) photogroups_.emplace();
}

void SectionReader::read(pugi::xml_node child) {
  if (section_ == Section::Photogroups) {
    if (inParts_) {
      photogroups_->part(child);
    } else {
      photogroups_->read(child);
    }
  } else if (section_ == Section::ControlPoints) {
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

void SectionReader::append(ReadPoints& points) {
  if (section_ == Section::ControlPoints) appendReadPoints(points);
}

void SectionReader::photo(const ReadPhoto& photo) {
  if (section_ == Section::Photogroups && inParts_) photogroups_->photo(photo);
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
