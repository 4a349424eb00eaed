#pragma once

// How the tool reaches a block file or its output, named by a path as the
// user gave it.

#include <QString>

#include <string>

#if defined(_WIN32)
using NativeChar = wchar_t;
#else
using NativeChar = char;
#endif
using NativePath = std::basic_string<NativeChar>;

// A path resolved once, as the system resolves it, and the two spellings by
// which the tool reaches the file it names: one for the Qt file classes (the
// reader), one for the system's own calls (the writer, file identity). The
// two are made from the same resolution, so they always reach the same file.
//
// On Windows the system resolves the path first, unless it starts with
// \\?\: a drive-relative path (D:block.xml) against that drive's current
// folder, trailing blanks and dots of a name dropped, "." and ".." removed,
// in a \\.\ path too. Elsewhere the path stays as it was given.
class ResolvedPath {
 public:
  explicit ResolvedPath(const QString& path);

  // One plain absolute path that the Qt file classes open as the system
  // would open the given path itself. On Windows the prefix of a \\?\ or
  // \\.\ drive or UNC path is taken off, Qt adding one itself where a path
  // needs it; a path with no other spelling (\\?\Volume{...}\x) keeps it,
  // as \\.\. Elsewhere the path as given.
  QString forQt() const;

  // The name by which the system's own calls reach the file: on Windows the
  // resolved path with the \\?\ (or \\?\UNC\) prefix, so that no length
  // limit applies; elsewhere the path in the local 8-bit encoding.
  NativePath forSystem() const;

 private:
  // On Windows a drive or UNC path (D:\x, \\server\share\x), or, for a
  // path with no such spelling (a volume named by its GUID, a device), what
  // follows the \\?\ or \\.\ prefix; elsewhere the path as given.
#if defined(_WIN32)
  std::wstring path_;
  bool belowPrefix_ = false;  // the second kind
#else
  QString path_;
#endif
};

// Whether the system finds nothing at `path`: no file of that name, or no
// folder on its way there. Not so for a folder the user may not enter or a
// file where a folder should be, which the system names otherwise.
bool nothingAt(const QString& path);

// The device that Windows opens for a file called `fileName` (a name without
// directories) instead of a file, in capitals ("CON", "LPT1", "COM²"), or an
// empty string for an ordinary file name. A name is a device name when its
// part before the first '.', with trailing blanks dropped, is CON, PRN, AUX,
// NUL, COM1 to COM9 or LPT1 to LPT9 in any case; the superscript digits ¹, ²
// and ³ count as digits after COM and LPT. So "con.xml", "Nul .x.xml" and
// "aux" are device names; "CONSOLE.xml", "com10.xml" and "nul_x.xml" are not.
// Plain code that answers the same on every platform.
QString reservedDeviceName(const QString& fileName);

// Why `path` cannot be read or written as a file: on Windows, when its file
// name is a device name ("CON is a device name reserved on Windows"), so
// that a device is never read from or written to by mistake. Empty when it
// can, and always empty elsewhere, where such names are ordinary.
QString reservedNameReason(const QString& path);
