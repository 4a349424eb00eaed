#pragma once

#include "block/block.h"
#include "block/read_notes.h"

#include <pugixml.hpp>

#include <vector>

// Reads the control points that start at `firstPoint` (the first child of a
// `ControlPoints` element, or a null node) and each of its following
// siblings, and appends one ControlPoint per node to controlPoints. Every
// node counts, whatever its name or kind: a text or CDATA run directly inside
// `ControlPoints` becomes a point without children.
//
// A point takes its `Name`, `Position` (x, y, z), `CheckPoint` (category 2
// for the exact text "true", 1 for any other text and when absent) and one
// raw measurement per `Measurement` child, in document order. Repeated
// `Name`, `Position` or `CheckPoint` children overwrite earlier ones.
void readControlPoints(pugi::xml_node firstPoint);

// Reads the control point of one node as readControlPoints does, and
// appends it to controlPoints.
void readControlPoint(pugi::xml_node node);

// Control points read apart from the stores, to be appended to them later:
// the points in reading order and their notes, with indices into `points`
// and value notes kept up to their cap within these points alone.
struct ReadPoints {
  std::vector<ControlPoint> points;
  ReadNotes notes;
};

// Reads the control point of one node as readControlPoint does, into `into`
// instead of the stores. It touches nothing shared, so threads may read
// points side by side, each into a ReadPoints of its own.
void readControlPoint(pugi::xml_node node, ReadPoints& into);

// Appends what `read` holds to the stores, as if its points had been read
// straight into them after the points there: the points to controlPoints,
// their notes to readNotes with their indices moved along and value notes
// kept up to the cap of readNotes. Leaves `read` empty, to be used again.
void appendReadPoints(ReadPoints& read);
