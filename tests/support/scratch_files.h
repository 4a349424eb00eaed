#pragma once

// Making the files a test hands to the tool and looking at the files a run
// left behind. Paths are Qt strings and may hold any character.

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

// Writes `bytes` as the whole content of the file at `path`. A file that
// cannot be written is a failure of the calling test (and false).
bool writeFile(const QString& path, const QByteArray& bytes);
bool writeFile(const QString& path, const std::string& bytes);
bool writeFile(const QString& path, const char* bytes);

// The whole content of the file at `path`. A file that cannot be read is a
// failure of the calling test, and the result is empty.
std::string readFile(const QString& path);

// Every entry of the directory `dir`, hidden ones included, sorted by name,
// in UTF-8.
std::vector<std::string> listDir(const QString& dir);

// Whether anything is at `path`: a file, a directory or a link, dangling or
// not.
bool exists(const QString& path);
