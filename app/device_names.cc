#include "app/device_names.h"

#include <QDebug>
#include <QFileInfo>

namespace {

// The digits of COM1..COM9 and LPT1..LPT9: '1' to '9' and the superscripts
// of Latin-1.
bool isPortDigit(QChar c) {
  return (c >= QLatin1Char('1') && c <= QLatin1Char('9')) || c == QChar(0x00B9) || c == QChar(0x00B2) ||
         c == QChar(0x00B3);
}

QString reservedReason(const QString& device) {
  return device + QStringLiteral(" is a device name reserved on Windows");
}

}  // namespace

QString reservedDeviceName(const QString& fileName) {
  QString stem = fileName.left(fileName.indexOf(QLatin1Char('.')));
  while (stem.endsWith(QLatin1Char(' '))) stem.chop(1);
  stem = stem.toUpper();
  if (stem == QLatin1String("CON") || stem == QLatin1String("PRN") || stem == QLatin1String("AUX") ||
      stem == QLatin1String("NUL")) {
    return stem;
  }
  const bool port =
      stem.size() == 4 && (stem.startsWith(QLatin1String("COM")) || stem.startsWith(QLatin1String("LPT")));
  return port && isPortDigit(stem.at(3)) ? stem : QString();
}

bool checkDeviceNames(const QString& inputPath, const QString& outputPath) {
  const QString input = reservedDeviceName(QFileInfo(inputPath).fileName());
  if (!input.isEmpty()) {
    qDebug() << "Open failed";
    qDebug() << "Reason:" << inputPath << reservedReason(input);
    return false;
  }
  const QString output = reservedDeviceName(QFileInfo(outputPath).fileName());
  if (!output.isEmpty()) {
    qDebug() << "Write failed:" << outputPath << reservedReason(output);
    return false;
  }
  return true;
}
