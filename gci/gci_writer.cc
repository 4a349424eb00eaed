#include "gci/gci_writer.h"

#include <QDebug>
#include <QFileInfo>
#include <QSaveFile>

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

bool isSameFile(const QString& a, const QString& b) {
  const QFileInfo first(a);
  const QFileInfo second(b);
  return first.exists() && second.exists() && first.canonicalFilePath() == second.canonicalFilePath();
}

// Writes all of `text`. A write that comes back short (the disk filled up,
// a file-size limit was reached) is repeated with the rest, so that the
// failing write is the one that learns the system's reason: false then, with
// the reason in file.errorString().
bool writeAll(QSaveFile& file, const QByteArray& text) {
  for (qint64 written = 0; written < text.size();) {
    const qint64 count = file.write(text.constData() + written, text.size() - written);
    if (count <= 0) return false;
    written += count;
  }
  return true;
}

WriteResult failed(const QString& outputPath, const QString& reason) {
  qDebug() << "Write failed:" << outputPath << reason;
  return WriteResult{WriteResult::Failed, outputPath, reason};
}

}  // namespace

QString gciOutputPath(const QString& inputPath) {
  const QFileInfo input(inputPath);
#if defined(Q_OS_WIN)
  const QString separator = QStringLiteral("\\");
#else
  const QString separator = QStringLiteral("/");
#endif
  return input.path() + separator + input.completeBaseName() + QStringLiteral(".gci");
}

QByteArray formatGci(const std::vector<ControlPoint>& points) {
  // The line formats are "%d", "%s %20.8f %12.8f %12.3f %d" per point, "%d"
  // for its count and "%s %20.8f %20.8f %d" per measurement.
  QByteArray out;
  appendInteger(out, static_cast<int>(points.size())).append(kLineEnd);
  for (const ControlPoint& point : points) {
    out.append(textField(point.name));
    appendFixed(out.append(' '), point.x, 20, 8);
    appendFixed(out.append(' '), point.y, 12, 8);
    appendFixed(out.append(' '), point.z, 12, 3);
    appendInteger(out.append(' '), point.category).append(kLineEnd);
    appendInteger(out, point.measurementCount).append(kLineEnd);
    for (const ImageMeasurement& m : point.measurements) {
      out.append(textField(m.imageName));
      appendFixed(out.append(' '), m.x, 20, 8);
      appendFixed(out.append(' '), m.y, 20, 8);
      appendInteger(out.append(' '), point.category).append(kLineEnd);
    }
  }
  return out;
}

WriteResult writeGciFile(const QString& inputPath) {
  if (controlPoints.empty()) return WriteResult{};

  const QString outputPath = gciOutputPath(inputPath);
  if (isSameFile(outputPath, inputPath)) {
    return failed(outputPath, QStringLiteral("The output would replace the input file"));
  }

  const QByteArray text = formatGci(controlPoints);
  QSaveFile file(outputPath);
  file.setDirectWriteFallback(true);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return failed(outputPath, file.errorString());
  if (!writeAll(file, text)) {
    const QString reason = file.errorString();
    file.cancelWriting();
    return failed(outputPath, reason);
  }
  if (!file.commit()) return failed(outputPath, file.errorString());

  qDebug() << "Generate file: " << outputPath;
  return WriteResult{WriteResult::Written, outputPath, QString()};
}
