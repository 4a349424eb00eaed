#pragma once

// Streaming a document to a reader of its sections, one child at a time.

#include "stream/read_ahead.h"
#include "stream/section_scan.h"

#include <cstddef>

// What became of a streamed document.
struct StreamResult {
  // The parser accepts the whole document, and every child of its read
  // sections has been handed on. When false, only a parse of the whole
  // document can tell what it holds: the encoding is not surely known, a
  // read failed, memory ran out, the scan was not sure, or the sink gave up.
  bool certain = false;
  // When certain: whether the root has a child named as the list's container.
  bool hasContainer = false;
};

// Whether work on a document of `documentSize` bytes is worth a second
// thread: below 2 MiB, starting one and handing work over costs more than it
// saves. Documents from that size on are read ahead (see ReadAhead).
bool worthASecondThread(std::size_t documentSize);

// Reads the document of `documentSize` bytes through `read`, `pieceSize`
// bytes at a time (the pieces begin at multiples of it), decodes each piece
// as the parser would (see ParserDecoder) and scans it (see SectionScan),
// which hands every child of the sections in `list` to `sink` as soon as it
// is complete. Memory stays near three pieces plus the largest child.
StreamResult streamSections(const ReadAhead::ReadPiece& read, std::size_t documentSize, std::size_t pieceSize,
                            const SectionList& list, SectionSink& sink);
