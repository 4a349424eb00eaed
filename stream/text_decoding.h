#pragma once

// A document's bytes as the parser reads them: which encoding it detects,
// and the UTF-8 text it decodes them into.

#include <QByteArray>

#include <pugixml.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

// Whether the parser, left to detect the encoding itself, surely reads a
// document that starts with the `headSize` bytes at `head` as UTF-8.
// `documentSize` is the size of the whole document (at least `headSize`).
// False means "not sure": a byte-order mark or a zero byte among the first
// four, an XML declaration that names another encoding or whose end is not
// in `head`, a document of fewer than four bytes.
bool surelyUtf8(const char* head, std::size_t headSize, std::size_t documentSize);

// The encoding the parser surely detects for a document that starts with
// the `headSize` bytes at `head` (`documentSize` in all): UTF-8 (see
// surelyUtf8), or UTF-16 or UTF-32 in either byte order when the document
// starts with their byte-order mark. encoding_auto when it is not sure.
pugi::xml_encoding detectedEncoding(const char* head, std::size_t headSize, std::size_t documentSize);

// The encoding the parser detects, when left to detect it, for the whole
// document of `size` bytes at `data`: a byte-order mark or the zero bytes
// around a first '<' in its first four bytes, else latin1 when an XML
// declaration names ISO-8859-1 or latin1, else UTF-8 (also for a document
// of fewer than four bytes). Where surelyUtf8 says yes, this says UTF-8.
pugi::xml_encoding wholeDocumentEncoding(const char* data, std::size_t size);

// Decodes a document piece by piece into the UTF-8 text the parser makes of
// it in one go: a byte-order mark is kept as a character, a UTF-16
// surrogate pair is one character, an unpaired surrogate is dropped (and
// the unit after a lone high surrogate read on its own), every UTF-32 unit
// is written as it is, even beyond U+10FFFF, and bytes after the last whole
// unit of the document are ignored. A unit or pair cut by the end of one
// piece is completed by the next.
class ParserDecoder {
 public:
  // `encoding` is UTF-16, UTF-32 (either byte order), latin1, or UTF-8,
  // which is passed through as it is.
  explicit ParserDecoder(pugi::xml_encoding encoding);

  // The most bytes of text that `size` bytes of the document can give.
  std::size_t maxOutput(std::size_t size) const;

  // Decodes the next `size` bytes at `data` into `out`, which must have room
  // for maxOutput(size) bytes; returns how many it wrote. `last` says that
  // no more bytes follow.
  std::size_t decode(const char* data, std::size_t size, bool last, char* out);

 private:
  pugi::xml_encoding encoding_;
  int width_ = 1;  // bytes per code unit
  bool bigEndian_ = false;
  char partial_[4] = {};  // the bytes of a unit cut by the end of a piece
  int partialSize_ = 0;
  std::uint32_t highSurrogate_ = 0;  // a UTF-16 high surrogate waiting for its partner, or 0
};

// The bytes of a document as the parser works on them: `raw` itself when
// `encoding` is UTF-8, otherwise `raw` decoded from `encoding` as a
// ParserDecoder does, so that the parser's error offsets index it.
QByteArray parserText(const QByteArray& raw, pugi::xml_encoding encoding);
