#pragma once

// Loading a block file and walking its block.

#include <QByteArray>
#include <QString>

#include <pugixml.hpp>

#include <cstddef>

// What became of a load.
struct LoadResult {
  enum Status {
    Loaded,   // the document was parsed and its root element has a `Block`
    NoBlock,  // the document was parsed, but its root element has no `Block`
    Failed,   // the file could not be read or parsed; `reason` says why
  };
  Status status = Failed;
  QString reason;  // one line, for Failed

  explicit operator bool() const { return status != Failed; }
};

// How the parser builds its document tree. Both modes fill the stores with
// the same records and give the same failures.
enum class TreeMode {
  // Leading element texts are kept in their elements rather than in nodes of
  // their own, the tree lives in huge-page regions, and simple content the
  // walk never reads (the TiePoints section) is overwritten with plain text
  // before the parse, so that it costs no nodes: a fraction of the time and
  // memory on large blocks.
  Lean,
  // The parser's default options and the system allocator.
  Plain,
};

// Parses the block file at `inputPath`, then hands the children of every
// `Photogroups` and `ControlPoints` element of the root's first `Block` to
// readPhotogroups and readControlPoints, so that photoTable and
// controlPoints hold what the block says.
//
// Logs "filePath:" with the path after a successful walk (also when the
// root has no `Block`). When the file cannot be loaded it logs "Open failed"
// and a line with the path and the reason, `Reason: "a.xml" "..."`, and
// leaves the stores as they were.
LoadResult loadBlockFile(const QString& inputPath, TreeMode mode = TreeMode::Lean);

// Parses the `size` bytes at `data` as loadBlockFile parses a file's bytes
// (same encodings, same failures, same walk into the stores), without the
// "filePath:" line and with the reason alone on the "Reason:" line.
LoadResult loadBlockText(const char* data, std::size_t size, TreeMode mode = TreeMode::Lean);

// The 1-based line and column of byte `offset` in the UTF-8 text `text`.
// Lines end at LF, CR LF or a lone CR; columns count characters, not bytes.
struct TextPosition {
  int line = 1;
  int column = 1;
};
TextPosition textPosition(const QByteArray& text, std::ptrdiff_t offset);

// The bytes of a document as the parser works on them: `raw` itself when
// `encoding` is UTF-8, otherwise `raw` decoded from `encoding` and encoded
// as UTF-8 exactly as the parser does it (a byte-order mark kept as a
// character, an unpaired UTF-16 surrogate dropped, every UTF-32 unit written
// as it is, even beyond U+10FFFF), so that the parser's error offsets index
// it.
QByteArray parserText(const QByteArray& raw, pugi::xml_encoding encoding);
