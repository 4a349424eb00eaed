#include "reader/block_walk.h"

#include "reader/control_points.h"
#include "reader/photogroups.h"

#include <cstring>

namespace {

struct Section {
  const char* name;
  void (*read)(pugi::xml_node section);
};

void readPhotogroupsOf(pugi::xml_node section) { readPhotogroups(section.first_child()); }

const Section kReadSections[] = {
    {"Photogroups", readPhotogroupsOf},
    {"ControlPoints", readControlPointsOf},
};

const Section* readSection(const char* name, std::size_t length) {
  for (const Section& section : kReadSections) {
    if (std::strlen(section.name) == length && std::memcmp(section.name, name, length) == 0) return &section;
  }
  return nullptr;
}

}  // namespace

bool isReadSection(const char* name, std::size_t length) { return readSection(name, length) != nullptr; }

void walkBlock(pugi::xml_node block) {
  for (pugi::xml_node child = block.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) continue;
    const char* const name = child.name();
    if (const Section* section = readSection(name, std::strlen(name))) section->read(child);
  }
}
