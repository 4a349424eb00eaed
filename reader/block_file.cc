#include "reader/block_file.h"

#include "reader/control_points.h"
#include "reader/element_value.h"
#include "reader/photogroups.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QTextCodec>

#include <cerrno>
#include <cstring>

namespace {

const char* codecName(pugi::xml_encoding encoding) {
  switch (encoding) {
    case pugi::encoding_utf16_le: return "UTF-16LE";
    case pugi::encoding_utf16_be: return "UTF-16BE";
    case pugi::encoding_utf32_le: return "UTF-32LE";
    case pugi::encoding_utf32_be: return "UTF-32BE";
    case pugi::encoding_latin1: return "ISO-8859-1";
    default: return nullptr;
  }
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

QString systemReason(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

// One line that says why the parser gave up on `path`. `error` is errno as
// it stood right after the load, for the file-level failures.
QString failureReason(const QString& path, const pugi::xml_parse_result& result, int error) {
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
    // Reading the file again costs nothing on the success path and gives
    // the position in terms a user can look up in an editor.
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
      const TextPosition at = textPosition(parserText(file.readAll(), result.encoding), result.offset);
      reason += QStringLiteral(" at line %1, column %2").arg(at.line).arg(at.column);
    }
  }
  return reason;
}

LoadResult failed(const QString& reason) {
  qDebug() << "Open failed";
  qDebug() << "Reason:" << reason;
  return LoadResult{false, reason};
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
  const char* name = codecName(encoding);
  QTextCodec* codec = name ? QTextCodec::codecForName(name) : nullptr;
  if (!codec) return raw;
  // The parser converts a byte-order mark like any other character, so it
  // must stay in the text for the offsets to match.
  QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
  return codec->toUnicode(raw.constData(), raw.size(), &state).toUtf8();
}

LoadResult loadBlockFile(const QString& inputPath) {
  if (QFileInfo(inputPath).isDir()) return failed(systemReason(EISDIR));

  pugi::xml_document document;
  errno = 0;
  const pugi::xml_parse_result result =
      document.load_file(QFile::encodeName(inputPath).constData(), pugi::parse_default, pugi::encoding_auto);
  const int error = errno;
  if (result.status != pugi::status_ok) return failed(failureReason(inputPath, result, error));

  const pugi::xml_node block = document.first_child().child("Block");
  for (pugi::xml_node child = block.first_child(); child; child = child.next_sibling()) {
    if (hasName(child, "Photogroups")) {
      readPhotogroups(child.first_child());
    } else if (hasName(child, "ControlPoints")) {
      readControlPoints(child.first_child());
    }
  }
  qDebug() << "filePath:" << inputPath;
  return LoadResult{true, QString()};
}
