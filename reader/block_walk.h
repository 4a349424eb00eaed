#pragma once

// Which parts of a block the tool reads. The walk over a parsed block and
// the streaming check, which keeps exactly these parts of a document, both
// ask here, so that they cannot disagree.

#include <pugixml.hpp>

#include <cstddef>

// The name of the root's child whose sections are read; only the first such
// child counts.
constexpr char kBlockName[] = "Block";

// Whether a child of the block named by the `length` bytes at `name` is a
// section that the walk reads (`Photogroups` and `ControlPoints`).
bool isReadSection(const char* name, std::size_t length);

// Hands every read section among the children of `block` (which may be
// null) to its reader, in document order, so that photoTable and
// controlPoints hold what the block says.
void walkBlock(pugi::xml_node block);
