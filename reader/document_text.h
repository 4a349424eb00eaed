#pragma once

// Preparing a document's bytes before the parser sees them.
//
// Most of a large block is its TiePoints section: the walk never reads it,
// yet the parser would turn it into millions of nodes, which costs most of
// the time and memory of a load. When such content is simple enough that
// the parser would surely accept it, it is overwritten with plain text of
// the same length before the parse. Offsets do not move, so a parse error
// anywhere else is reported at the same place, and the tree differs only
// inside elements the walk never visits.

#include <cstddef>

// Whether the parser, left to detect the encoding itself, surely reads a
// document that starts with the `headSize` bytes at `head` as UTF-8.
// `documentSize` is the size of the whole document (at least `headSize`).
// False means "not sure": a byte-order mark or a zero byte among the first
// four, an XML declaration that names another encoding or whose end is not
// in `head`, a document of fewer than four bytes.
bool surelyUtf8(const char* head, std::size_t headSize, std::size_t documentSize);

// Overwrites with 'x' the content of elements the block walk never reads,
// where that content is surely well formed: the elements at the third
// level of nesting (children of the children of a top-level element) other
// than `Photogroups` and `ControlPoints`. Content is overwritten from its
// start up to the end of its last child that has only element children of
// the form <Name>, <Name/> and </Name> (ASCII names, no attributes, no
// white space in the tags), texts without '<' and no zero byte; anything
// else inside is left to the parser. The walk through the rest of the
// document stops for good at the first construct it does not know (a
// DOCTYPE, a zero byte), or where the document is not well formed.
//
// `text` must hold `size` bytes of UTF-8 followed by a zero byte at
// `text[size]`. Large content is scanned by two threads when the system
// gives a second one. Returns the number of bytes overwritten.
std::size_t blankUnreadContent(char* text, std::size_t size);
