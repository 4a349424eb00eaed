#include "gci/gci_writer.h"

#include "gci/replacing_file.h"

#include <QDebug>
#include <QFileInfo>
#include <QHash>
#include <QPair>

#include <charconv>
#include <limits>
#include <system_error>

namespace {

// Appends `value` right-aligned in at least `width` characters with exactly
// `precision` decimals, as printf's "%*.*f" prints it in the "C" locale. The
// conversion takes no locale at all, so neither the environment nor a
// setlocale() anywhere in the process can turn the point into a comma, and
// the bytes are the same with every C runtime. Wide values are never cut: a
// coordinate of 1e300 keeps all its digits.
void appendFixed(QByteArray& out, double value, int width, int precision) {
  // The widest result: a sign, 309 integer digits, the point, the decimals.
  char buffer[1 + std::numeric_limits<double>::max_exponent10 + 1 + 1 + 16];
  const std::to_chars_result result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
  const int length = result.ec == std::errc() ? static_cast<int>(result.ptr - buffer) : 0;
  if (length < width) out.append(width - length, ' ');
  out.append(buffer, length);
}

QByteArray& appendInteger(QByteArray& out, int value) {
  char buffer[16];
  const std::to_chars_result result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return out.append(buffer, static_cast<int>(result.ptr - buffer));
}

const char kLineEnd[] = "\r\n";

// A text field: local 8-bit bytes, with line breaks turned into blanks.
QByteArray textField(QString text) {
  text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
  return text.toLocal8Bit();
}

// The text fields of image names, each made once per distinct name. The
// conversion gives all measurements of a photo one shared QString, so the
// key is where the string's characters are and how many there are: strings
// alike in both hold the same text while the points are formatted, and no
// characters are hashed. Strings that are equal but not shared only take an
// entry each; so that those cannot grow the cache without bound, it starts
// over after kMaxEntries entries.
class ImageNameFields {
 public:
  // textField(name), made at most once per entry. The reference lasts until
  // the next call.
  const QByteArray& of(const QString& name) {
    const Key key(name.constData(), name.size());
    const auto found = fields_.constFind(key);
    if (found != fields_.constEnd()) return *found;
    if (fields_.size() >= kMaxEntries) fields_.clear();
    return *fields_.insert(key, textField(name));
  }

 private:
  using Key = QPair<const QChar*, int>;
  static constexpr int kMaxEntries = 1 << 16;
  QHash<Key, QByteArray> fields_;
};

// How much formatted text is handed on at a time.
constexpr int kPieceSize = 1 << 20;

// Formats `points` as formatGci does and hands the text to `put` in pieces
// of about kPieceSize bytes, the last one shorter; stops as soon as `put`
// returns false, and returns what the last call returned.
template <class Put>
bool formatGciPieces(const std::vector<ControlPoint>& points, Put put) {
  // The line formats are "%d", "%s %20.8f %12.8f %12.3f %d" per point, "%d"
  // for its count and "%s %20.8f %20.8f %d" per measurement.
  QByteArray out;
  out.reserve(kPieceSize + 4096);
  const auto handOn = [&]() {
    const bool taken = put(out);
    out.clear();
    return taken;
  };
  ImageNameFields imageNames;
  appendInteger(out, static_cast<int>(points.size())).append(kLineEnd);
  for (const ControlPoint& point : points) {
    out.append(textField(point.name));
    appendFixed(out.append(' '), point.x, 20, 8);
    appendFixed(out.append(' '), point.y, 12, 8);
    appendFixed(out.append(' '), point.z, 12, 3);
    appendInteger(out.append(' '), point.category).append(kLineEnd);
    appendInteger(out, point.measurementCount).append(kLineEnd);
    for (const ImageMeasurement& m : point.measurements) {
      out.append(imageNames.of(m.imageName));
      appendFixed(out.append(' '), m.x, 20, 8);
      appendFixed(out.append(' '), m.y, 20, 8);
      appendInteger(out.append(' '), point.category).append(kLineEnd);
      if (out.size() >= kPieceSize && !handOn()) return false;
    }
    if (out.size() >= kPieceSize && !handOn()) return false;
  }
  return handOn();
}

WriteResult failed(const QString& outputPath, const QString& reason) {
  qDebug() << "Write failed:" << outputPath << reason;
  return WriteResult{WriteResult::Failed, outputPath, reason};
}

}  // namespace

QString gciOutputPath(const QString& inputPath) {
  const QFileInfo input(inputPath);
  QString name = input.completeBaseName() + QStringLiteral(".gci");
#if defined(Q_OS_WIN)
  // Named from the file Windows opens, which has lost any trailing dots and
  // blanks of the name typed ("block.xml ." opens block.xml), unless the
  // path starts with \\?\.
  if (!inputPath.startsWith(QStringLiteral("\\\\?\\"))) {
    QString opened = input.fileName();
    while (opened.endsWith(QLatin1Char('.')) || opened.endsWith(QLatin1Char(' '))) opened.chop(1);
    name = QFileInfo(opened).completeBaseName() + QStringLiteral(".gci");
  }
  // The folder part of a \\?\ or \\.\ path is kept as typed, backslashes
  // and all: the system takes the first as it stands and resolves the
  // second when the output is written, as when the input was read.
  const QString backslash = QStringLiteral("\\");
  if (inputPath.startsWith(QStringLiteral("\\\\?\\")) || inputPath.startsWith(QStringLiteral("\\\\.\\"))) {
    return inputPath.left(inputPath.lastIndexOf(backslash)) + backslash + name;
  }
  // A drive-relative path (D:block.xml) names a file in that drive's current
  // folder; a separator after the bare drive would name its root instead.
  const QString folder = input.path();
  const bool driveRelative = folder.size() == 2 && folder.at(1) == QLatin1Char(':') && inputPath.size() > 2 &&
                             inputPath.at(2) != QLatin1Char('/') && inputPath.at(2) != backslash.at(0);
  return driveRelative ? folder + name : folder + backslash + name;
#else
  return input.path() + QStringLiteral("/") + name;
#endif
}

QByteArray formatGci(const std::vector<ControlPoint>& points) {
  QByteArray all;
  formatGciPieces(points, [&](const QByteArray& piece) {
    all += piece;
    return true;
  });
  return all;
}

WriteResult writeGciFile(const QString& inputPath) {
  if (controlPoints.empty()) return WriteResult{};

  const QString outputPath = gciOutputPath(inputPath);
  const QString reserved = reservedNameReason(outputPath);
  if (!reserved.isEmpty()) return failed(outputPath, reserved);
  if (isSameFile(outputPath, inputPath)) {
    return failed(outputPath, QStringLiteral("The output would replace the input file"));
  }

  // The text is written as it is formatted, so that it never stands whole
  // in memory beside the block.
  ReplacingFile file(outputPath);
  if (!file.open() ||
      !formatGciPieces(controlPoints,
                       [&](const QByteArray& piece) {
                         return file.write(piece.constData(), static_cast<std::size_t>(piece.size()));
                       }) ||
      !file.commit()) {
    return failed(outputPath, file.errorString());
  }

  qDebug() << "Generate file: " << outputPath;
  return WriteResult{WriteResult::Written, outputPath, QString()};
}
