#include "gci/gci_writer.h"

#include <QDebug>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdarg>
#include <cstdio>
#if !defined(_WIN32)
#include <locale.h>
#endif

namespace {

// Makes printf-style formatting use the classic "C" conventions on this
// thread while it lives. The application object takes the locale from the
// environment on POSIX systems, where a German locale would otherwise print
// 512,5; the Windows runtime keeps the classic locale unless told otherwise.
class ClassicNumbers {
 public:
#if defined(_WIN32)
  ClassicNumbers() = default;
#else
  ClassicNumbers() : previous_(uselocale(classic())) {}
  ~ClassicNumbers() { uselocale(previous_); }

 private:
  static locale_t classic() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
  }
  locale_t previous_;
#endif
  ClassicNumbers(const ClassicNumbers&) = delete;
  ClassicNumbers& operator=(const ClassicNumbers&) = delete;
};

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void appendFormatted(QByteArray& out, const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (length >= 0 && static_cast<size_t>(length) < sizeof buffer) {
    out.append(buffer, length);
  } else if (length > 0) {
    // Wide values (a coordinate of 1e300 has some 300 digits) are never cut.
    const int start = out.size();
    out.resize(start + length + 1);
    std::vsnprintf(out.data() + start, static_cast<size_t>(length) + 1, format, again);
    out.resize(start + length);
  }
  va_end(again);
}

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
  const ClassicNumbers classic;
  QByteArray out;
  appendFormatted(out, "%d\r\n", static_cast<int>(points.size()));
  for (const ControlPoint& point : points) {
    appendFormatted(out, "%s %20.8lf %12.8lf %12.3lf %d\r\n", textField(point.name).constData(), point.x, point.y,
                    point.z, point.category);
    appendFormatted(out, "%d\r\n", point.measurementCount);
    for (const ImageMeasurement& m : point.measurements) {
      appendFormatted(out, "%s %20.8lf %20.8lf %d\r\n", textField(m.imageName).constData(), m.x, m.y,
                      point.category);
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
  if (file.write(text) != text.size()) {
    const QString reason = file.errorString();
    file.cancelWriting();
    return failed(outputPath, reason);
  }
  if (!file.commit()) return failed(outputPath, file.errorString());

  qDebug() << "Generate file: " << outputPath;
  return WriteResult{WriteResult::Written, outputPath, QString()};
}
