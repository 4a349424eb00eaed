#include "tests/support/sample_blocks.h"

#include "log/log_lines.h"
#include "tests/support/log_catalogue.h"
#include "tests/support/scratch_files.h"

#include <QChar>

#include <algorithm>
#include <cstdio>

QString exampleBlockPath() { return QStringLiteral(BLOCK2GCI_SOURCE_DIR "/examples/block.xml"); }
QString exampleGciPath() { return QStringLiteral(BLOCK2GCI_SOURCE_DIR "/examples/block.gci"); }
std::string exampleBlock() { return readFile(exampleBlockPath()); }
std::string exampleGci() { return readFile(exampleGciPath()); }

QByteArray sampleBlock(const QByteArray& name, const QByteArray& imagePath) {
  return "<AnyRoot><Block>\n"
         "  <Photogroups>\n"
         "    <Photogroup><Name>Cam</Name><ImageDimensions><Width>400</Width><Height>300</Height></ImageDimensions>\n"
         "      <Photo><Id>1</Id><ImagePath>" +
         imagePath +
         "</ImagePath></Photo></Photogroup>\n"
         "  </Photogroups>\n"
         "  <ControlPoints>\n"
         "    <ControlPoint><Name>" +
         name +
         "</Name><Position><x>512.6789</x><y>431.25</y><z>87.5</z></Position>\n"
         "      <CheckPoint>false</CheckPoint>\n"
         "      <Measurement><PhotoId>1</PhotoId><x>0</x><y>0</y></Measurement></ControlPoint>\n"
         "  </ControlPoints>\n"
         "</Block></AnyRoot>\n";
}

std::string sampleGci(const std::string& name, const std::string& image) {
  return "1\r\n" + name + "         512.67890000 431.25000000       87.500 1\r\n1\r\n" + image +
         "        -199.50000000         149.50000000 1\r\n";
}

std::string oneMeasurementBlock(const std::string& width, const std::string& height, const std::string& id,
                                const std::string& imagePath, const std::string& name, const std::string& x,
                                const std::string& y, const std::string& z, const std::string& photoId,
                                const std::string& mx, const std::string& my) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<BlocksExchange><Block><Photogroups><Photogroup>"
         "<Name>G</Name><ImageDimensions><Width>" +
         width + "</Width><Height>" + height + "</Height></ImageDimensions><Photo><Id>" + id + "</Id><ImagePath>" +
         imagePath + "</ImagePath></Photo></Photogroup></Photogroups><ControlPoints><ControlPoint><Name>" + name +
         "</Name><Position><x>" + x + "</x><y>" + y + "</y><z>" + z + "</z></Position><Measurement><PhotoId>" +
         photoId + "</PhotoId><x>" + mx + "</x><y>" + my +
         "</y></Measurement></ControlPoint></ControlPoints>"
         "</Block></BlocksExchange>\n";
}

std::string formatted(int width, int precision, double value) {
  const int length = std::snprintf(nullptr, 0, "%*.*f", width, precision, value);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(&text[0], text.size(), "%*.*f", width, precision, value);
  text.resize(static_cast<size_t>(length));
  return text;
}

std::string oneMeasurementGci(const std::string& name, double x, double y, double z, const std::string& image,
                              double mx, double my) {
  return "1\r\n" + name + " " + formatted(20, 8, x) + " " + formatted(12, 8, y) + " " + formatted(12, 3, z) +
         " 1\r\n1\r\n" + image + " " + formatted(20, 8, mx) + " " + formatted(20, 8, my) + " 1\r\n";
}

QByteArray utf16(const QString& text, bool bigEndian, bool byteOrderMark) {
  QByteArray bytes;
  for (const QChar c : byteOrderMark ? QChar(0xFEFF) + text : text) {
    const char high = static_cast<char>(c.unicode() >> 8);
    const char low = static_cast<char>(c.unicode() & 0xFF);
    bytes.append(bigEndian ? high : low).append(bigEndian ? low : high);
  }
  return bytes;
}

std::string local8Bit(const QString& text) {
#ifdef Q_OS_WIN
  return text.toLocal8Bit().toStdString();
#else
  return text.toUtf8().toStdString();
#endif
}

QString beside(const QString& dir, const QString& fileName) { return dir + kSeparator + fileName; }

std::string quoted(const QString& text) {
  QString escaped = text;
  escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
  return local8Bit(QLatin1Char('"') + escaped + QLatin1Char('"'));
}

std::string filePathLine(const QString& input) { return "filePath: " + quoted(input); }
std::string generateFileLine(const QString& output) { return "Generate file:  " + quoted(output); }
const std::string kOpenFailed = logLine(LogLineKind::OpenFailed).form;
const std::string kOutOfMemory = logLine(LogLineKind::OutOfMemory).form;

std::string reasonLine(const QString& input, const std::string& reason) {
  return "Reason: " + quoted(input) + " \"" + reason + "\"";
}
std::string writeFailedStart(const QString& output) { return "Write failed: " + quoted(output) + " \""; }

const Lines kConversionEnd = [] {
  Lines forms;
  for (const LogLineKind kind : conversionEndKinds()) forms.push_back(logLine(kind).form);
  return forms;
}();

Lines convertedLines(const QString& input, const QString& output, const std::string& summary, const Lines& warnings) {
  Lines log{filePathLine(input)};
  log.insert(log.end(), warnings.begin(), warnings.end());
  log.push_back(generateFileLine(output));
  log.push_back(summary);
  log.insert(log.end(), kConversionEnd.begin(), kConversionEnd.end());
  return log;
}

Lines exampleLines(const QString& input, const QString& output) {
  Lines log = lines(readFile(QStringLiteral(BLOCK2GCI_SOURCE_DIR "/examples/block.log")), "\n");
  for (std::string& line : log) {
    if (startsWith(line, "filePath: ")) line = filePathLine(input);
    if (startsWith(line, "Generate file: ")) line = generateFileLine(output);
    const LogLine* entry = catalogueEntry(line);
    if (entry && std::count(kConversionEnd.begin(), kConversionEnd.end(), entry->form)) line = entry->form;
  }
  return log;
}
