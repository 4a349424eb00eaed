#pragma once

#include <pugixml.hpp>

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
