#include "block/file_path.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#if defined(Q_OS_WIN)
#include <windows.h>

namespace {

bool startsWith(const std::wstring& text, const wchar_t* start) { return text.rfind(start, 0) == 0; }

// The path as the system resolves it, without a \\?\ or \\.\ prefix.
std::wstring fullPath(const QString& path) {
  std::wstring given = QDir::toNativeSeparators(path).toStdWString();
  if (startsWith(given, L"\\\\?\\UNC\\")) return L"\\\\" + given.substr(8);
  if (startsWith(given, L"\\\\?\\") || startsWith(given, L"\\\\.\\")) return given.substr(4);
  const DWORD size = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  if (size == 0) return given;
  std::wstring full(size, L'\0');
  const DWORD length = GetFullPathNameW(given.c_str(), size, &full[0], nullptr);
  if (length == 0 || length >= size) return given;
  full.resize(length);
  return full;
}

}  // namespace

QString systemPath(const QString& path) { return QString::fromStdWString(fullPath(path)); }

NativePath nativePath(const QString& path) {
  const std::wstring full = fullPath(path);
  if (startsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

bool nothingAt(const QString& path) {
  if (GetFileAttributesW(nativePath(path).c_str()) != INVALID_FILE_ATTRIBUTES) return false;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

#else

#include <sys/stat.h>

#include <cerrno>

QString systemPath(const QString& path) { return path; }

NativePath nativePath(const QString& path) { return QFile::encodeName(path).toStdString(); }

bool nothingAt(const QString& path) {
  struct stat status;
  return stat(nativePath(path).c_str(), &status) != 0 && errno == ENOENT;
}

#endif

namespace {

// The digits of COM1..COM9 and LPT1..LPT9: '1' to '9' and the superscripts
// of Latin-1.
bool isPortDigit(QChar c) {
  return (c >= QLatin1Char('1') && c <= QLatin1Char('9')) || c == QChar(0x00B9) || c == QChar(0x00B2) ||
         c == QChar(0x00B3);
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

QString reservedNameReason(const QString& path) {
#if defined(Q_OS_WIN)
  const QString device = reservedDeviceName(QFileInfo(path).fileName());
  if (!device.isEmpty()) return device + QStringLiteral(" is a device name reserved on Windows");
#else
  Q_UNUSED(path)
#endif
  return QString();
}
