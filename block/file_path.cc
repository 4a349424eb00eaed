#include "block/file_path.h"

#include <QDir>
#include <QFile>

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

#else

QString systemPath(const QString& path) { return path; }

NativePath nativePath(const QString& path) { return QFile::encodeName(path).toStdString(); }

#endif
