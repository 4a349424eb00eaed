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
  QString reason;          // one line, for Failed
  bool wholeFile = false;  // the whole document was parsed at once (see LoadMode)

  explicit operator bool() const { return status != Failed; }
};

// How a document is loaded. Both modes fill the stores with the same
// records and give the same failures, with the same reasons.
enum class LoadMode {
  // The document is read once, piece by piece, and checked as it streams
  // by; each child of a read section is parsed on its own as soon as it is
  // complete, read into the stores and dropped, so memory stays near the
  // records and the largest child however large the block. Where the check
  // is not sure of the document (see section_scan.h), or cannot tell how the
  // parser decodes it, the stores are put back as they were and the whole
  // document is parsed as WholeFile does.
  Streamed,
  // The whole document is parsed at once, with the parser's default
  // options: the reference that Streamed must agree with.
  WholeFile,
};

// How many bytes a streamed load reads at a time.
constexpr std::size_t kPieceSize = std::size_t(1) << 20;

// Loads the block file at `inputPath`, then hands the children of every
// `Photogroups` and `ControlPoints` element of the root's first `Block` to
// readPhotogroups and readControlPoints, so that photoTable and
// controlPoints hold what the block says.
//
// Logs "filePath:" with the path after a successful walk (also when the
// root has no `Block`). When the file cannot be loaded it logs "Open failed"
// and a line with the path and the reason, `Reason: "a.xml" "..."`, and
// leaves the stores as they were. On Windows a file named like a device
// (reservedNameReason) is refused so, before anything is opened.
LoadResult loadBlockFile(const QString& inputPath, LoadMode mode = LoadMode::Streamed);

// Loads the `size` bytes at `data` as loadBlockFile loads a file's bytes
// (same encodings, same failures, same walk into the stores), without the
// "filePath:" line and with the reason alone on the "Reason:" line. A
// streamed load takes them `pieceSize` bytes at a time.
LoadResult loadBlockText(const char* data, std::size_t size, LoadMode mode = LoadMode::Streamed,
                         std::size_t pieceSize = kPieceSize);

// What the parser made of a whole file.
struct FileRead {
  pugi::xml_parse_result result;
  QString systemReason;  // why the file could not be opened or read, for status_file_not_found and status_io_error
};

// Reads the whole file at `path` (as ResolvedPath::forQt gives it) into memory of the
// parser's own and parses it there into `document`, exactly as the parser's
// own load_file(path) parses the same bytes with its default options and the
// encoding detected: the same status, description, offset and encoding,
// whatever the encoding and wherever the document ends. A file that cannot
// be opened gives status_file_not_found and the system's reason, "No such
// file or directory" when nothing is there, on every platform.
FileRead loadWholeDocument(pugi::xml_document& document, const QString& path);

// The 1-based line and column of byte `offset` in the UTF-8 text `text`.
// Lines end at LF, CR LF or a lone CR; columns count characters, not bytes.
struct TextPosition {
  int line = 1;
  int column = 1;
};
TextPosition textPosition(const QByteArray& text, std::ptrdiff_t offset);
