#pragma once

// The GCI file: one header line with the number of control points, then per
// point a line "name x y z category", a line with its measurement count and
// one line "imageName x y category" per measurement. Every line ends with
// CR LF, numbers always use '.' as the decimal point, texts are written in
// the local 8-bit encoding.

#include "block/block.h"

#include <QByteArray>
#include <QString>

#include <vector>

// The GCI line formats, as printf writes them in the "C" locale: the one
// table of them (the man page is configured from it; docs/format.md points
// here). The writer makes the same bytes without printf.
constexpr char kGciCountFormat[] = "%d";  // the header (points), and after each point its measurements
constexpr char kGciPointFormat[] = "%s %20.8lf %12.8lf %12.3lf %d";  // name, x, y, z, category
constexpr char kGciMeasurementFormat[] = "%s %20.8lf %20.8lf %d";    // image base name, x, y, the point's category

// What became of a write.
struct WriteResult {
  enum Status {
    Written,         // the output file was written completely
    NothingToWrite,  // there were no control points; no file was touched
    Failed,          // nothing was changed on disk; `reason` says why
  };
  Status status = NothingToWrite;
  QString outputPath;  // empty for NothingToWrite
  QString reason;      // the system's reason, for Failed

  explicit operator bool() const { return status != Failed; }
};

// The output path for `inputPath`: its directory part ("." for a bare file
// name), the directory separator, its file name without the last suffix,
// and ".gci". The separator is a backslash on Windows and '/' elsewhere, so
// the output always lies beside the input. On Windows a \\?\ or \\.\ path
// keeps its directory part as typed, a drive-relative path (D:block.xml)
// gives one in the same drive's current folder (D:block.gci), and the name
// is that of the file Windows opens: "block.xml." and "block.xml . " give
// block.gci (but not in a \\?\ path, which Windows opens as typed).
QString gciOutputPath(const QString& inputPath);

// How many threads make the GCI text: the same bytes either way.
enum class GciThreads { One, Two };

// The complete GCI text for `points`, which must be converted already.
// A CR or LF inside a name is written as a blank so that every record stays
// on its own line; nothing else in the texts is changed. Numbers are
// formatted in the classic "C" form whatever the process's locale. With
// GciThreads::Two, the text is made in chunks on two threads (one, where a
// second cannot be had) and put together in order.
QByteArray formatGci(const std::vector<ControlPoint>& points, GciThreads threads = GciThreads::One);

// Writes formatGci(controlPoints, GciThreads::Two) to gciOutputPath(inputPath) and logs
// "Generate file: " with that path. Does nothing when there are no control
// points. The text goes to the output through a ReplacingFile, chunk by
// chunk as it is formatted: a failure or an interrupt leaves an earlier
// output as it was and no partial file. A failure is logged as "Write
// failed:" with the path and the reason. The output never replaces the
// input file itself, however the two are spelled (isSameFile), nor is it
// written to a device named like a file (reservedNameReason).
WriteResult writeGciFile(const QString& inputPath);
