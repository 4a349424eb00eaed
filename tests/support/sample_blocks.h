#pragma once

// Blocks for the tests to convert, and what the tool writes and logs for
// them: the example block, small blocks built from XML fragments, the GCI
// texts they give and the log lines of a run.

#include "tests/support/run_tool.h"

#include <QByteArray>
#include <QString>

#include <string>

// --- Blocks and their GCI texts ----------------------------------------------------

// examples/block.xml and the GCI file it gives, examples/block.gci.
QString exampleBlockPath();
QString exampleGciPath();
std::string exampleBlock();
std::string exampleGci();

// A block with one control point measured once on a 400 x 300 photo; the
// name and image path are pasted into the XML as given.
QByteArray sampleBlock(const QByteArray& name = "GCP_01", const QByteArray& imagePath = "D:\\img\\IMG_0001.JPG");

// The GCI text of sampleBlock() with the name and image name as written (by
// default those of sampleBlock()'s defaults).
std::string sampleGci(const std::string& name = "GCP_01", const std::string& image = "IMG_0001");

// The summary line after converting sampleBlock().
inline const std::string kSampleSummary = "Written: 1 control point (0 check points), 1 measurement";

// A block with one photogroup, one photo and one control point with one
// measurement, built from raw XML fragments.
std::string oneMeasurementBlock(const std::string& width, const std::string& height, const std::string& id,
                                const std::string& imagePath, const std::string& name, const std::string& x,
                                const std::string& y, const std::string& z, const std::string& photoId,
                                const std::string& mx, const std::string& my);

// The GCI text of one ordinary point with one measurement.
std::string oneMeasurementGci(const std::string& name, double x, double y, double z, const std::string& image,
                              double mx, double my);

// `value` as printf's "%<width>.<precision>f" prints it in the "C" locale.
std::string formatted(int width, int precision, double value);

// `text` in UTF-16 in either byte order, with or without a byte-order mark.
QByteArray utf16(const QString& text, bool bigEndian, bool byteOrderMark = true);

// --- Texts in the tool's encoding ----------------------------------------------------

// `text` in the local 8-bit encoding the tool writes under the environment
// runTool() gives it: UTF-8 on Unix (C.UTF-8), the ANSI code page on
// Windows, where characters outside it come out as the code page's
// replacement.
std::string local8Bit(const QString& text);

// --- Paths and log lines --------------------------------------------------------------

// What the tool puts between the input's directory and the output's file
// name: a backslash on Windows, '/' elsewhere.
#ifdef Q_OS_WIN
inline const QString kSeparator = QStringLiteral("\\");
#else
inline const QString kSeparator = QStringLiteral("/");
#endif

// The output path the tool names for `fileName` in the input's directory
// part `dir` (as QFileInfo::path() gives it, with '/').
QString beside(const QString& dir, const QString& fileName);

// `text` as a log line shows it: in double quotes, with \ and " escaped.
std::string quoted(const QString& text);

std::string filePathLine(const QString& input);
std::string generateFileLine(const QString& output);
// The line after "Open failed": the input's path and why it was not loaded.
std::string reasonLine(const QString& input, const std::string& reason);
extern const std::string kOpenFailed;
// The line of a run that ran out of memory outside the parser.
extern const std::string kOutOfMemory;
// The start of the line that says `output` could not be written, up to the
// quote that opens the reason.
std::string writeFailedStart(const QString& output);

// The lines a conversion that wrote its GCI file logs after the summary
// (conversionEndKinds()), as the catalogue forms of their kinds: their
// figures vary from run to run, and logIs() takes any line of such a form.
extern const Lines kConversionEnd;

// The log of a conversion of `input` that wrote `output`: its `warnings`
// (none by default), its summary (by default that of sampleBlock()) and
// kConversionEnd. Compare it with logIs().
Lines convertedLines(const QString& input, const QString& output, const std::string& summary = kSampleSummary,
                     const Lines& warnings = {});

// The log of a conversion of the example block, examples/block.log, with the
// input and output paths as given and its lines of a kConversionEnd form as
// that form: it warns of one photo id that no photo has.
Lines exampleLines(const QString& input, const QString& output);
