#include "reader/block_file.h"

#include "block/block.h"
#include "platform/file_path.h"
#include "reader/block_walk.h"
#include "reader/child_reader.h"
#include "stream/section_stream.h"
#include "stream/text_decoding.h"

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
#include <utility>

// Loading runs in stages, each a function below:
//
//   openForStreaming  the file, if it is a regular file that can be read twice
//   streamBlock       its bytes piece by piece through streamSections, which
//                     checks everything and hands each child of a read
//                     section to a ChildReader: parsed alone, read into the
//                     stores by a SectionReader, then dropped
//   loadWholeFile     when a stage above is not sure: the parser's own load
//                     of the whole file, walked by walkBlock, and its
//                     failure reason
//
// A streamed load that gives up puts the stores back as they were before
// it, so that the whole-file load starts from there and nothing read from a
// document it rejects is left behind.

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

// Streams the document that `read` gives into the stores; null, with the
// stores as they were, when only the whole-file load can tell.
std::optional<LoadResult> streamBlock(const ReadAhead::ReadPiece& read, std::size_t documentSize,
                                      std::size_t pieceSize) {
  SavedStores before = saveStores();
  ChildReader reader(ChildReader::secondThreadFrom(documentSize));
  const StreamResult streamed = streamSections(read, documentSize, pieceSize, blockSections(), reader);
  if (!streamed.certain || !reader.finish()) {
    restoreStores(std::move(before));
    return std::nullopt;
  }
  return LoadResult{streamed.hasContainer ? LoadResult::Loaded : LoadResult::NoBlock, QString()};
}

// The file at `path` (as ResolvedPath::forQt gives it), open for reading piece by
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
  return streamBlock(
      [&](char* into, std::size_t max) -> std::int64_t { return file->read(into, static_cast<qint64>(max)); },
      static_cast<std::size_t>(file->size()), kPieceSize);
}

FileRead fileFailure(pugi::xml_parse_status status, const QString& reason) {
  FileRead read;
  read.result.status = status;
  read.systemReason = reason;
  return read;
}

// Parses the `size` bytes at `buffer`, memory from the parser's allocation
// function with room for one byte more, into `document` as the parser's
// load_file parses a file of these bytes: the encoding is detected on the
// bytes alone, and a UTF-8 document gets a terminating zero that counts as
// part of it (the parser treats the last byte it is given apart, so a
// document cut at its end gives other reasons without it). The parser frees
// the buffer, also when the parse fails.
pugi::xml_parse_result parseAsLoadFileDoes(pugi::xml_document& document, char* buffer, std::size_t size) {
  const pugi::xml_encoding encoding = wholeDocumentEncoding(buffer, size);
  if (encoding == pugi::encoding_utf8) buffer[size++] = 0;
  return document.load_buffer_inplace_own(buffer, size, pugi::parse_default, encoding);
}

}  // namespace

// The file is opened as the streamed load opens it, so that every path that
// one reaches (of any length, in any spelling the system takes) is reached
// here too. A file of unknown size (a pipe, a device) is read to its end.
FileRead loadWholeDocument(pugi::xml_document& document, const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
    // The open's own reason, but a missing file is named in the same words
    // on every platform and in every locale.
    return fileFailure(pugi::status_file_not_found, nothingAt(path) ? systemReason(ENOENT) : file.errorString());
  }
  const auto allocate = pugi::get_memory_allocation_function();
  const auto deallocate = pugi::get_memory_deallocation_function();
  const qint64 known = file.isSequential() ? 0 : file.size();
  // The buffer always keeps a byte free after the text: room for the zero
  // that parseAsLoadFileDoes may end it with.
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
  read.result = parseAsLoadFileDoes(document, buffer, size);
  return read;
}

namespace {

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

// Loads the file at `path` (as ResolvedPath::forQt gives it) whole; a failure names
// `inputPath`, as the user gave it.
LoadResult loadWholeFile(const QString& inputPath, const QString& path) {
  return parseWhole(
      inputPath, [&](pugi::xml_document& document) { return loadWholeDocument(document, path); },
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
  const QString path = ResolvedPath(inputPath).forQt();
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
    const std::optional<LoadResult> streamed = streamBlock(
        [&](char* into, std::size_t max) -> std::int64_t {
          const std::size_t count = std::min(max, size - offset);
          if (count > 0) std::memcpy(into, data + offset, count);
          offset += count;
          return static_cast<std::int64_t>(count);
        },
        size, std::max<std::size_t>(pieceSize, 1));
    if (streamed) return *streamed;
  }
  return parseWhole(
      QString(),
      [&](pugi::xml_document& document) {
        FileRead read;
        char* const buffer =
            size < SIZE_MAX ? static_cast<char*>(pugi::get_memory_allocation_function()(size + 1)) : nullptr;
        if (!buffer) {
          read.result.status = pugi::status_out_of_memory;
          return read;
        }
        if (size > 0) std::memcpy(buffer, data, size);
        read.result = parseAsLoadFileDoes(document, buffer, size);
        return read;
      },
      [&]() -> std::optional<QByteArray> {
        if (size > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
        return QByteArray::fromRawData(data, static_cast<int>(size));
      });
}
