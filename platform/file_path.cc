#include "platform/file_path.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#if defined(Q_OS_WIN)
#include <windows.h>

namespace {

bool startsWith(const std::wstring& text, const wchar_t* start) { return text.rfind(start, 0) == 0; }

// `path` as GetFullPathNameW makes it absolute and resolved; `path` itself
// when it cannot.
std::wstring resolved(const std::wstring& path) {
  const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return path;
  std::wstring full(size, L'\0');
  const DWORD length = GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
  if (length == 0 || length >= size) return path;
  full.resize(length);
  return full;
}

}  // namespace

// A \\?\ path reaches the system as it stands; every other path is
// resolved first, \\.\ ones too ("..", ".", trailing dots and blanks of a
// name, the current folder of a drive).
ResolvedPath::ResolvedPath(const QString& path) {
  const std::wstring given = QDir::toNativeSeparators(path).toStdWString();
  const std::wstring full = startsWith(given, L"\\\\?\\") ? given : resolved(given);
  if (startsWith(full, L"\\\\?\\UNC\\") || startsWith(full, L"\\\\.\\UNC\\")) {
    path_ = L"\\\\" + full.substr(8);
  } else if (!startsWith(full, L"\\\\?\\") && !startsWith(full, L"\\\\.\\")) {
    path_ = full;
  } else {
    const std::wstring rest = full.substr(4);
    belowPrefix_ = !(rest.size() >= 2 && rest[1] == L':' && (rest.size() == 2 || rest[2] == L'\\'));
    path_ = rest;
  }
}

// Qt hands a path with the \\.\ prefix to the system untouched, while it
// would take one with \\?\ for a UNC path; once a path is resolved, the two
// prefixes reach the same file.
QString ResolvedPath::forQt() const { return QString::fromStdWString(belowPrefix_ ? L"\\\\.\\" + path_ : path_); }

NativePath ResolvedPath::forSystem() const {
  if (belowPrefix_) return L"\\\\?\\" + path_;
  if (startsWith(path_, L"\\\\")) return L"\\\\?\\UNC\\" + path_.substr(2);
  return L"\\\\?\\" + path_;
}

bool nothingAt(const QString& path) {
  if (GetFileAttributesW(ResolvedPath(path).forSystem().c_str()) != INVALID_FILE_ATTRIBUTES) return false;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

#else

#include <sys/stat.h>

#include <cerrno>

ResolvedPath::ResolvedPath(const QString& path) : path_(path) {}

QString ResolvedPath::forQt() const { return path_; }

NativePath ResolvedPath::forSystem() const { return QFile::encodeName(path_).toStdString(); }

bool nothingAt(const QString& path) {
  struct stat status;
  return stat(ResolvedPath(path).forSystem().c_str(), &status) != 0 && errno == ENOENT;
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
