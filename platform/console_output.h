#pragma once

// How a text reaches standard output or standard error. A Windows console
// is given the text in UTF-16, so that every character shows as it is,
// whatever the code pages say; a stream redirected to a file or a pipe, and
// every stream elsewhere, is given the bytes of the local 8-bit encoding,
// which scripts read.

#include <QByteArray>
#include <QString>

#include <functional>

enum class StdStream { Output, Error };

// The calls that writeText makes; tests put their own in place.
struct StreamWriter {
  // Whether `stream` is a console that takes UTF-16 text.
  std::function<bool(StdStream stream)> isConsole;
  // Writes up to `size` UTF-16 units from `text` to the console of `stream`
  // and returns how many it wrote; 0 (or less) when it wrote none.
  std::function<int(StdStream stream, const char16_t* text, int size)> writeConsole;
  // Writes all of `bytes` to `stream` and flushes them; false when that
  // failed, with errno saying why.
  std::function<bool(StdStream stream, const QByteArray& bytes)> writeBytes;
};

// The process's own streams. On Windows a stream is a console when
// GetConsoleMode succeeds on its standard handle; elsewhere none is. Bytes go
// through the C library's streams, which end a line with CR LF on Windows
// (text mode) and with LF elsewhere.
const StreamWriter& systemStreamWriter();

// Writes `text`, whose lines end with "\n", to `stream` and returns whether
// all of it was written (errno then tells why not).
// - On a console: the text in UTF-16 with CR LF line ends, in pieces that
//   never split a surrogate pair. A lone surrogate (a file name's unit that
//   is no character) shows as U+FFFD. A console that refuses a piece gets
//   the rest of the text as bytes, so nothing is lost or written twice.
// - Otherwise: exactly text.toLocal8Bit(), the bytes written before consoles
//   were told apart.
bool writeText(StdStream stream, const QString& text, const StreamWriter& writer = systemStreamWriter());
