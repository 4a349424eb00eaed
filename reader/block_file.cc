#include "reader/block_file.h"

#include "reader/control_points.h"
#include "reader/document_text.h"
#include "reader/element_value.h"
#include "reader/parser_arena.h"
#include "reader/photogroups.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

namespace {

// Appends `code` as the parser writes a character into its UTF-8 text: one
// to three bytes below U+10000 (surrogates included), four bytes for
// anything above, even beyond U+10FFFF, where the lead byte takes the bits
// that fit and the value is not checked.
void appendAsParserDoes(QByteArray& out, std::uint32_t code) {
  if (code < 0x80) {
    out.append(static_cast<char>(code));
  } else if (code < 0x800) {
    out.append(static_cast<char>(0xC0 | (code >> 6))).append(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.append(static_cast<char>(0xE0 | (code >> 12)))
        .append(static_cast<char>(0x80 | ((code >> 6) & 0x3F)))
        .append(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.append(static_cast<char>(0xF0 | (code >> 18)))
        .append(static_cast<char>(0x80 | ((code >> 12) & 0x3F)))
        .append(static_cast<char>(0x80 | ((code >> 6) & 0x3F)))
        .append(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// The code unit of `width` bytes at `at`, in either byte order.
std::uint32_t codeUnit(const char* at, int width, bool bigEndian) {
  std::uint32_t unit = 0;
  for (int i = 0; i < width; ++i) {
    const auto byte = static_cast<unsigned char>(at[bigEndian ? i : width - 1 - i]);
    unit = (unit << 8) | byte;
  }
  return unit;
}

// `raw` in UTF-16 as the parser decodes it: a surrogate pair is one
// character, a surrogate without its partner is dropped, and the unit after
// a lone high surrogate is read on its own. An odd last byte is ignored.
QByteArray decodeUtf16(const QByteArray& raw, bool bigEndian) {
  QByteArray out;
  const int units = raw.size() / 2;
  for (int i = 0; i < units; ++i) {
    const std::uint32_t lead = codeUnit(raw.constData() + 2 * i, 2, bigEndian);
    if (lead < 0xD800 || lead >= 0xE000) {
      appendAsParserDoes(out, lead);
    } else if (lead < 0xDC00 && i + 1 < units) {
      const std::uint32_t next = codeUnit(raw.constData() + 2 * (i + 1), 2, bigEndian);
      if (next >= 0xDC00 && next < 0xE000) {
        appendAsParserDoes(out, 0x10000 + ((lead & 0x3FF) << 10) + (next & 0x3FF));
        ++i;
      }
    }
  }
  return out;
}

// `raw` in UTF-32 as the parser decodes it: every unit is written as it is,
// surrogates and values beyond U+10FFFF included. Bytes after the last whole
// unit are ignored.
QByteArray decodeUtf32(const QByteArray& raw, bool bigEndian) {
  QByteArray out;
  for (int i = 0; i + 4 <= raw.size(); i += 4) appendAsParserDoes(out, codeUnit(raw.constData() + i, 4, bigEndian));
  return out;
}

QByteArray decodeLatin1(const QByteArray& raw) {
  QByteArray out;
  for (const char c : raw) appendAsParserDoes(out, static_cast<unsigned char>(c));
  return out;
}

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

// One line that says why the parser gave up. `error` is errno as it stood
// right after the load, for the file-level failures; `parsedBytes` gives the
// document's bytes again, to place a parse error.
QString failureReason(const pugi::xml_parse_result& result, int error,
                      const std::function<std::optional<QByteArray>()>& parsedBytes) {
  switch (result.status) {
    case pugi::status_file_not_found:
      return error != 0 ? QStringLiteral("Cannot open the file: ") + systemReason(error)
                        : QString::fromLatin1(result.description());
    case pugi::status_io_error:
      return error != 0 ? QStringLiteral("Cannot read the file: ") + systemReason(error)
                        : QString::fromLatin1(result.description());
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

QByteArray parserText(const QByteArray& raw, pugi::xml_encoding encoding) {
  // The parser converts a byte-order mark like any other character, so it
  // stays in the text for the offsets to match.
  switch (encoding) {
    case pugi::encoding_utf16_le:
      return decodeUtf16(raw, false);
    case pugi::encoding_utf16_be:
      return decodeUtf16(raw, true);
    case pugi::encoding_utf32_le:
      return decodeUtf32(raw, false);
    case pugi::encoding_utf32_be:
      return decodeUtf32(raw, true);
    case pugi::encoding_latin1:
      return decodeLatin1(raw);
    default:
      return raw;
  }
}

namespace {

// How much of a document's start decides whether the parser reads UTF-8.
constexpr std::size_t kHeadSize = 4096;

unsigned int parseOptions(TreeMode mode) {
  return mode == TreeMode::Lean ? pugi::parse_default | pugi::parse_embed_pcdata : pugi::parse_default;
}

// Reads exactly `size` bytes from the current position; false on an error
// or an early end.
bool readFully(QFile& file, char* into, std::size_t size) {
  while (size > 0) {
    const qint64 chunk = static_cast<qint64>(std::min<std::size_t>(size, std::size_t(1) << 30));
    const qint64 got = file.read(into, chunk);
    if (got <= 0) return false;
    into += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

// The whole of the regular file at `inputPath` in the parser's memory,
// followed by a zero byte, as the parser's own file loading would read it,
// when the parser surely reads it as UTF-8. Null otherwise, and on any
// failure: the parser's loading then runs instead and reports it.
char* readUtf8File(const QString& inputPath, std::size_t& size) {
  QFile file(inputPath);
  // Unbuffered: the bytes go straight from the system into the parser's
  // memory, without a copy through QFile's buffer.
  if (!QFileInfo(inputPath).isFile() || !file.open(QIODevice::ReadOnly | QIODevice::Unbuffered) ||
      file.isSequential()) {
    return nullptr;
  }
  const qint64 fileSize = file.size();
  if (fileSize <= 0 || static_cast<std::uintmax_t>(fileSize) >= SIZE_MAX) return nullptr;
  size = static_cast<std::size_t>(fileSize);
  char head[kHeadSize];
  const std::size_t headSize = std::min(size, sizeof head);
  if (!readFully(file, head, headSize) || !surelyUtf8(head, headSize, size)) return nullptr;
  char* const text = static_cast<char*>(pugi::get_memory_allocation_function()(size + 1));
  if (!text) return nullptr;
  std::memcpy(text, head, headSize);
  if (!readFully(file, text + headSize, size - headSize)) {
    pugi::get_memory_deallocation_function()(text);
    return nullptr;
  }
  text[size] = '\0';
  return text;
}

// Loads the file with the parser's own reading. The name is handed over as
// the system spells it: UTF-16 on Windows, where an 8-bit name cannot hold
// every character, the local 8-bit encoding elsewhere.
pugi::xml_parse_result loadFile(pugi::xml_document& document, const QString& inputPath, unsigned int options) {
#if defined(Q_OS_WIN)
  const std::wstring name = QDir::toNativeSeparators(inputPath).toStdWString();
  return document.load_file(name.c_str(), options, pugi::encoding_auto);
#else
  return document.load_file(QFile::encodeName(inputPath).constData(), options, pugi::encoding_auto);
#endif
}

// Blanks the unread content of the `size` bytes of UTF-8 at `text` (with a
// zero byte after them, all in the parser's memory) and parses them in
// place. The zero byte is part of the document, as in the parser's own file
// loading and in the copy it makes of a buffer it may not change.
pugi::xml_parse_result parseBlanked(pugi::xml_document& document, char* text, std::size_t size, TreeMode mode) {
  blankUnreadContent(text, size);
  return document.load_buffer_inplace_own(text, size + 1, parseOptions(mode), pugi::encoding_utf8);
}

// Hands the children of every `Photogroups` and `ControlPoints` element of
// the root's first `Block` to their readers. blankUnreadContent spares
// exactly these two sections; a section read here must be spared there too.
// Returns whether there is such a `Block`.
bool walkBlock(const pugi::xml_document& document) {
  const pugi::xml_node block = document.first_child().child("Block");
  for (pugi::xml_node child = block.first_child(); child; child = child.next_sibling()) {
    if (hasName(child, "Photogroups")) {
      readPhotogroups(child.first_child());
    } else if (hasName(child, "ControlPoints")) {
      readControlPointsOf(child);
    }
  }
  return static_cast<bool>(block);
}

// Runs `parse` on a fresh document (in an arena for the lean mode) and walks
// the block when it succeeds; a failure names `inputPath` unless it is null.
// The document and its arena are gone when this returns; only the stores
// keep what was read.
LoadResult parseAndWalk(const QString& inputPath, TreeMode mode,
                        const std::function<pugi::xml_parse_result(pugi::xml_document&)>& parse,
                        const std::function<std::optional<QByteArray>()>& parsedBytes) {
  std::optional<ParserArena> arena;
  if (mode == TreeMode::Lean) arena.emplace();
  pugi::xml_document document;
  errno = 0;
  const pugi::xml_parse_result result = parse(document);
  const int error = errno;
  if (result.status != pugi::status_ok) {
    document.reset();
    arena.reset();
    return failed(inputPath, failureReason(result, error, parsedBytes));
  }
  return LoadResult{walkBlock(document) ? LoadResult::Loaded : LoadResult::NoBlock, QString()};
}

}  // namespace

LoadResult loadBlockFile(const QString& inputPath, TreeMode mode) {
  if (QFileInfo(inputPath).isDir()) return failed(inputPath, systemReason(EISDIR));

  const LoadResult result = parseAndWalk(
      inputPath, mode,
      [&](pugi::xml_document& document) {
        std::size_t size = 0;
        if (char* const text = mode == TreeMode::Lean ? readUtf8File(inputPath, size) : nullptr) {
          return parseBlanked(document, text, size, mode);
        }
        errno = 0;  // what the attempt left says nothing about the load below
        return loadFile(document, inputPath, parseOptions(mode));
      },
      [&]() -> std::optional<QByteArray> {
        // Reading the file again costs nothing on the success path and gives
        // the position in terms a user can look up in an editor.
        QFile file(inputPath);
        if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
        return file.readAll();
      });
  if (result) qDebug() << "filePath:" << inputPath;
  return result;
}

LoadResult loadBlockText(const char* data, std::size_t size, TreeMode mode) {
  return parseAndWalk(
      QString(), mode,
      [&](pugi::xml_document& document) {
        if (mode == TreeMode::Lean && surelyUtf8(data, std::min(size, kHeadSize), size) && size < SIZE_MAX) {
          if (char* const text = static_cast<char*>(pugi::get_memory_allocation_function()(size + 1))) {
            std::memcpy(text, data, size);
            text[size] = '\0';
            return parseBlanked(document, text, size, mode);
          }
        }
        return document.load_buffer(data, size, parseOptions(mode), pugi::encoding_auto);
      },
      [&]() -> std::optional<QByteArray> {
        if (size > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
        return QByteArray::fromRawData(data, static_cast<int>(size));
      });
}
