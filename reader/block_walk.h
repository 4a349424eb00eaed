#pragma once

// Which parts of a block the tool reads, and reading them. The walk over a
// parsed block and the streamed load, which hands on exactly these parts of
// a document, both ask here, so that they cannot disagree.

#include "reader/control_points.h"
#include "reader/photogroups.h"
#include "stream/section_scan.h"

#include <pugixml.hpp>

#include <optional>

// The name of the root's child whose sections are read; only the first such
// child counts.
constexpr char kBlockName[] = "Block";

// The read sections of a block: `Photogroups` and `ControlPoints`, children
// of the root's first `Block`. A photogroup comes in parts, photo by photo:
// one group may hold most of a block.
const SectionList& blockSections();

// Reads the children of the read sections one at a time, in document order,
// into photoTable and controlPoints.
class SectionReader {
 public:
  enum class Section { None, Photogroups, ControlPoints };

  // A section begins: blockSections().sections[index]. Nothing read in an
  // earlier section carries over.
  void begin(int index);
  // The section that began last.
  Section section() const { return section_; }
  // Reads `child`, a child node of the section that began last, of any
  // kind: an element, a text or a CDATA section; between enter() and
  // leave(), a child node of the child that came in parts instead.
  void read(pugi::xml_node child);
  // A child of a section whose children come in parts begins, and ends.
  void enter();
  void leave();
  // What read() does for children read apart from the stores: control
  // points of a control-point section (appended, leaving `points` empty),
  // and a photo of a photogroup between enter() and leave().
  void append(ReadPoints& points);
  void photo(const ReadPhoto& photo);

 private:
  Section section_ = Section::None;
  bool inParts_ = false;
  std::optional<PhotogroupReader> photogroups_;
};

// Hands every read section among the children of `block` (which may be
// null) to a SectionReader, in document order, so that photoTable and
// controlPoints hold what the block says.
void walkBlock(pugi::xml_node block);
