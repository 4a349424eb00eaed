#include "reader/block_file.h"

#include "block/file_path.h"

#include "reader/block_walk.h"
#include "reader/parser_arena.h"
#include "reader/read_ahead.h"
#include "reader/section_scan.h"
#include "reader/text_decoding.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// Loading runs in stages, each a function below:
//
//   openForStreaming  the file, if it is a regular file that can be read twice
//   streamSections    its bytes piece by piece: detectedEncoding, then
//                     ReadAhead, which reads and decodes (ParserDecoder) on a
//                     second thread, then the SectionScan, which checks
//                     everything and keeps the read sections
//   walkSections      a tree of the read sections alone, in a ParserArena,
//                     walked by walkBlock
//   loadWholeFile     when a stage above is not sure: the parser's own load
//                     of the whole file, and its failure reason
//
// The stores are written by walkBlock alone, after the document is known to
// be good, so a stage that gives up leaves nothing behind.

namespace {

bool isParseError(pugi::xml_parse_status status) {
  switch (status) {
    case pugi::status_ok:
    case pugi::status_file_not_found:
    case pugi::status_io_error:
    case pugi::status_out_of_memory:
    case pugi::status_internal_error:
    case pugi::status_no_document_element:
      return false;
    default:
      return true;
  }
}

QString systemReason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// One line that says why the parser gave up. `systemReason` is the
// system's reason for a file that could not be opened or read, empty when
// there is none; `parsedBytes` gives the document's bytes again, to place a
// parse error.
QString failureReason(const pugi::xml_parse_result& result, const QString& systemReason,
                      const std::function<std::optional<QByteArray>()>& parsedBytes) {
  switch (result.status) {
    case pugi::status_file_not_found:
      return QStringLiteral("Cannot open the file: ") + systemReason;
    case pugi::status_io_error:
      return QStringLiteral("Cannot read the file: ") + systemReason;
    default:
      break;
  }
  QString reason = QString::fromLatin1(result.description());
  if (isParseError(result.status)) {
    if (const std::optional<QByteArray> raw = parsedBytes()) {
      const TextPosition at = textPosition(parserText(*raw, result.encoding), result.offset);
      reason += QStringLiteral(" at line %1, column %2").arg(at.line).arg(at.column);
    }
  }
  return reason;
}

// Logs the failure to load `inputPath` (null for a document in memory).
LoadResult failed(const QString& inputPath, const QString& reason) {
  qDebug() << "Open failed";
  if (inputPath.isNull()) {
    qDebug() << "Reason:" << reason;
  } else {
    qDebug() << "Reason:" << inputPath << reason;
  }
  return LoadResult{LoadResult::Failed, reason};
}

}  // namespace

TextPosition textPosition(const QByteArray& text, std::ptrdiff_t offset) {
  TextPosition at;
  const std::ptrdiff_t end = offset < text.size() ? offset : text.size();
  for (std::ptrdiff_t i = 0; i < end; ++i) {
    const char c = text[static_cast<int>(i)];
    if (c == '\n' || (c == '\r' && (i + 1 >= text.size() || text[static_cast<int>(i + 1)] != '\n'))) {
      ++at.line;
      at.column = 1;
    } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80 && c != '\r') {
      ++at.column;  // a UTF-8 continuation byte belongs to the character before it
    }
  }
  return at;
}

namespace {

// How much of a document's start decides how the parser decodes it.
constexpr std::size_t kHeadSize = 4096;

// Documents from this size on are read ahead on a second thread: below it,
// starting the thread and handing over the pieces costs more than it saves.
constexpr std::size_t kReadAheadFrom = std::size_t(2) << 20;

using ReadPiece = ReadAhead::ReadPiece;

// Reads the document of `documentSize` bytes through `read`, `pieceSize`
// bytes at a time, decodes each piece as the parser would and has `scan`
// check it. False when the encoding is not surely known, when a read fails
// or memory runs out, or when the scan is not sure of the document.
bool streamSections(const ReadPiece& read, std::size_t documentSize, std::size_t pieceSize, SectionScan& scan) {
  // The head decides the encoding; it then goes through the stages as the
  // first pieces, cut where the later ones are.
  char head[kHeadSize];
  std::size_t headSize = 0;
  while (headSize < std::min(documentSize, kHeadSize)) {
    const std::int64_t got = read(head + headSize, std::min(pieceSize, std::min(documentSize, kHeadSize) - headSize));
    if (got < 0) return false;
    if (got == 0) break;
    headSize += static_cast<std::size_t>(got);
  }
  const pugi::xml_encoding encoding = detectedEncoding(head, headSize, documentSize);
  if (encoding == pugi::encoding_auto) return false;
  std::size_t headServed = 0;
  const auto next = [&](char* into, std::size_t max) -> std::int64_t {
    if (headServed == headSize) return read(into, max);
    const std::size_t count = std::min(max, headSize - headServed);
    std::memcpy(into, head + headServed, count);
    headServed += count;
    return static_cast<std::int64_t>(count);
  };

  // What the scan leaves of a piece goes in front of the next one: in the
  // room the piece has there, or, when it is longer, joined with it here.
  ReadAhead ahead(next, encoding, pieceSize, documentSize >= kReadAheadFrom);
  RegionBytes joined;
  const char* tail = nullptr;
  std::size_t tailSize = 0;
  while (scan.state() == SectionScan::State::Scanning) {
    const ReadAhead::Piece piece = ahead.next();
    if (piece.failed) return false;
    char* text = piece.text;
    std::size_t size = piece.size;
    if (tailSize > 0 && tailSize <= ReadAhead::kCarryRoom && tail != joined.data()) {
      text -= tailSize;
      std::memmove(text, tail, tailSize);
      size += tailSize;
    } else if (tailSize > 0) {
      if (tail != joined.data()) {
        joined.consume(joined.size());
        if (!joined.append(tail, tailSize)) return false;
      }
      if (!joined.append(piece.text, piece.size)) return false;
      text = joined.data();
      size = joined.size();
    }
    const std::size_t used = scan.feed(text, size, piece.last, text == joined.data() ? nullptr : piece.ahead);
    tail = text + used;
    tailSize = size - used;
    if (tailSize > 0 && text == joined.data()) {
      joined.consume(used);
      tail = joined.data();
    }
  }
  return scan.state() == SectionScan::State::Certain;
}

// Parses the read sections that a streamed load kept, in place and with
// leading element texts kept in their elements (which halves the nodes of
// a block), and walks them. Null when the parser rejects them.
std::optional<LoadResult> walkSections(SectionScan& scan) {
  if (!scan.hasBlock()) return LoadResult{LoadResult::NoBlock, QString()};
  RegionBytes& sections = scan.sections();
  // The parser's nodes for a block's sections take about twice their text.
  ParserArena arena(2 * sections.size());
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_buffer_inplace(
      sections.data(), sections.size(), pugi::parse_default | pugi::parse_embed_pcdata, pugi::encoding_utf8);
  if (!parsed) return std::nullopt;
  walkBlock(document.first_child());
  return LoadResult{LoadResult::Loaded, QString()};
}

// The file at `path` (as systemPath gives it), open for reading piece by
// piece, when it is a regular file: a pipe or a device could not be read a
// second time if the scan gave up.
std::unique_ptr<QFile> openForStreaming(const QString& path) {
  if (!QFileInfo(path).isFile()) return nullptr;
  auto file = std::make_unique<QFile>(path);
  // Unbuffered: the pieces go straight from the system into the scan's text.
  if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered) || file->isSequential()) return nullptr;
  return file;
}

std::optional<LoadResult> streamFile(const QString& path) {
  const std::unique_ptr<QFile> file = openForStreaming(path);
  if (!file) return std::nullopt;
  const qint64 size = file->size();
  SectionScan scan;
  if (!streamSections(
          [&](char* into, std::size_t max) -> std::int64_t { return file->read(into, static_cast<qint64>(max)); },
          static_cast<std::size_t>(size), kPieceSize, scan)) {
    return std::nullopt;
  }
  return walkSections(scan);
}

// What a parse from memory needs to know of a failed read.
struct FileRead {
  pugi::xml_parse_result result;
  QString systemReason;  // for status_file_not_found and status_io_error
};

FileRead fileFailure(pugi::xml_parse_status status, const QString& reason) {
  FileRead read;
  read.result.status = status;
  read.systemReason = reason;
  return read;
}

// Reads the whole file at `path` (as systemPath gives it) into memory of
// the parser's own and parses it there. The file is opened as the streamed
// load opens it, so that every path that one reaches (of any length, in any
// spelling the system takes) is reached here too. A file of unknown size (a
// pipe, a device) is read to its end.
FileRead loadFile(pugi::xml_document& document, const QString& path) {
  // A missing file is named in the same words wherever the system's own
  // wording would differ.
  if (!QFileInfo::exists(path)) return fileFailure(pugi::status_file_not_found, systemReason(ENOENT));
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
    return fileFailure(pugi::status_file_not_found, file.errorString());
  }
  const auto allocate = pugi::get_memory_allocation_function();
  const auto deallocate = pugi::get_memory_deallocation_function();
  const qint64 known = file.isSequential() ? 0 : file.size();
  std::size_t capacity = static_cast<std::size_t>(std::max<qint64>(known, 64 * 1024)) + 1;
  std::size_t size = 0;
  char* buffer = static_cast<char*>(allocate(capacity));
  for (;;) {
    if (!buffer) return fileFailure(pugi::status_out_of_memory, QString());
    const qint64 count = file.read(buffer + size, static_cast<qint64>(capacity - size));
    if (count < 0) {
      deallocate(buffer);
      return fileFailure(pugi::status_io_error, file.errorString());
    }
    if (count == 0) break;
    size += static_cast<std::size_t>(count);
    if (size == capacity) {
      char* larger = capacity <= SIZE_MAX / 2 ? static_cast<char*>(allocate(capacity * 2)) : nullptr;
      if (larger) std::memcpy(larger, buffer, size);
      deallocate(buffer);
      buffer = larger;
      capacity *= 2;
    }
  }
  FileRead read;
  // The parser frees the buffer, also when the parse fails.
  read.result = document.load_buffer_inplace_own(buffer, size, pugi::parse_default, pugi::encoding_auto);
  return read;
}

// Runs `parse` on a fresh document and walks the block when it succeeds; a
// failure names `inputPath` unless it is null. The document is gone when
// this returns; only the stores keep what was read.
LoadResult parseWhole(const QString& inputPath, const std::function<FileRead(pugi::xml_document&)>& parse,
                      const std::function<std::optional<QByteArray>()>& parsedBytes) {
  pugi::xml_document document;
  const FileRead read = parse(document);
  LoadResult loaded;
  if (read.result.status != pugi::status_ok) {
    document.reset();
    loaded = failed(inputPath, failureReason(read.result, read.systemReason, parsedBytes));
  } else {
    const pugi::xml_node block = document.first_child().child(kBlockName);
    walkBlock(block);
    loaded.status = block ? LoadResult::Loaded : LoadResult::NoBlock;
  }
  loaded.wholeFile = true;
  return loaded;
}

// Loads the file at `path` (as systemPath gives it) whole; a failure names
// `inputPath`, as the user gave it.
LoadResult loadWholeFile(const QString& inputPath, const QString& path) {
  return parseWhole(
      inputPath, [&](pugi::xml_document& document) { return loadFile(document, path); },
      [&]() -> std::optional<QByteArray> {
        // Reading the file again costs nothing on the success path and gives
        // the position in terms a user can look up in an editor.
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
        return file.readAll();
      });
}

}  // namespace

LoadResult loadBlockFile(const QString& inputPath, LoadMode mode) {
  // Before anything is opened: a device is never read by mistake.
  const QString reserved = reservedNameReason(inputPath);
  if (!reserved.isEmpty()) return failed(inputPath, reserved);
  // Resolved once, so that every open below reaches the same file.
  const QString path = systemPath(inputPath);
  if (QFileInfo(path).isDir()) return failed(inputPath, systemReason(EISDIR));
  std::optional<LoadResult> result;
  if (mode == LoadMode::Streamed) result = streamFile(path);
  if (!result) result = loadWholeFile(inputPath, path);
  if (*result) qDebug() << "filePath:" << inputPath;
  return *result;
}

LoadResult loadBlockText(const char* data, std::size_t size, LoadMode mode, std::size_t pieceSize) {
  if (mode == LoadMode::Streamed) {
    std::size_t offset = 0;
    SectionScan scan;
    const bool streamed = streamSections(
        [&](char* into, std::size_t max) -> std::int64_t {
          const std::size_t count = std::min(max, size - offset);
          if (count > 0) std::memcpy(into, data + offset, count);
          offset += count;
          return static_cast<std::int64_t>(count);
        },
        size, std::max<std::size_t>(pieceSize, 1), scan);
    if (streamed) {
      if (std::optional<LoadResult> result = walkSections(scan)) return *result;
    }
  }
  return parseWhole(
      QString(),
      [&](pugi::xml_document& document) {
        FileRead read;
        read.result = document.load_buffer(data, size, pugi::parse_default, pugi::encoding_auto);
        return read;
      },
      [&]() -> std::optional<QByteArray> {
        if (size > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
        return QByteArray::fromRawData(data, static_cast<int>(size));
      });
}
