#pragma once

// How the system's own calls reach a block file or its output, named by a
// path as the user gave it.

#include <QString>

#include <string>

// `path` as one plain absolute path that the Qt file classes open as the
// system would open `path` itself. On Windows the system resolves the path
// first: a drive-relative path (D:block.xml) against that drive's current
// folder, trailing blanks and dots of a name dropped, "." and ".." removed;
// a \\?\ or \\.\ prefix is taken off, Qt adding one itself where a path
// needs it. Elsewhere `path` unchanged.
QString systemPath(const QString& path);

#if defined(_WIN32)
using NativeChar = wchar_t;
#else
using NativeChar = char;
#endif
using NativePath = std::basic_string<NativeChar>;

// The name by which the system's own calls reach `path`: on Windows
// systemPath(path) with the \\?\ (or \\?\UNC\) prefix, so that no length
// limit applies; elsewhere the path in the local 8-bit encoding.
NativePath nativePath(const QString& path);
