#include "platform/console_output.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#if defined(Q_OS_WIN)
// Without the min and max macros, which would take std::min apart.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace {

// Older Windows consoles fail a single write of more than about 64 KiB;
// pieces well below that work everywhere.
const int kConsolePiece = 8192;

std::FILE* fileOf(StdStream stream) { return stream == StdStream::Output ? stdout : stderr; }

bool writeToFile(StdStream stream, const QByteArray& bytes) {
  std::FILE* file = fileOf(stream);
  const auto size = static_cast<size_t>(bytes.size());
  return std::fwrite(bytes.constData(), 1, size, file) == size && std::fflush(file) == 0;
}

#if defined(Q_OS_WIN)
HANDLE handleOf(StdStream stream) {
  return GetStdHandle(stream == StdStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool isConsoleHandle(StdStream stream) {
  DWORD mode = 0;
  return GetConsoleMode(handleOf(stream), &mode) != 0;
}

int writeToConsole(StdStream stream, const char16_t* text, int size) {
  // Whatever the C library still holds goes out first, to keep the order.
  std::fflush(fileOf(stream));
  DWORD written = 0;
  if (!WriteConsoleW(handleOf(stream), text, static_cast<DWORD>(size), &written, nullptr)) return 0;
  return static_cast<int>(written);
}
#else
bool isConsoleHandle(StdStream) { return false; }
int writeToConsole(StdStream, const char16_t*, int) { return 0; }
#endif

// `text` as the console shows it, and for each of its units the index in
// `text` of the character it comes from.
struct ConsoleText {
  std::u16string units;
  std::vector<int> origin;
};

ConsoleText consoleText(const QString& text) {
  ConsoleText console;
  console.units.reserve(static_cast<size_t>(text.size()) + 16);
  console.origin.reserve(console.units.capacity());
  auto add = [&console](char16_t unit, int from) {
    console.units.push_back(unit);
    console.origin.push_back(from);
  };
  for (int i = 0; i < text.size(); ++i) {
    const QChar c = text.at(i);
    if (c == QLatin1Char('\n')) {
      add(u'\r', i);
      add(u'\n', i);
    } else if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
      add(c.unicode(), i);
      add(text.at(i + 1).unicode(), i + 1);
      ++i;
    } else {
      add(c.isSurrogate() ? u'\uFFFD' : c.unicode(), i);
    }
  }
  return console;
}

bool writeToConsoleText(StdStream stream, const QString& text, const StreamWriter& writer) {
  const ConsoleText console = consoleText(text);
  const int total = static_cast<int>(console.units.size());
  for (int done = 0; done < total;) {
    int size = std::min(kConsolePiece, total - done);
    if (size > 1 && QChar::isHighSurrogate(console.units[static_cast<size_t>(done + size - 1)])) --size;
    const int written = writer.writeConsole(stream, console.units.data() + done, size);
    if (written <= 0) {
      // The rest starts with the character of the first unit not shown (a
      // line end cut after its CR gives a second CR, which shows nothing).
      return writer.writeBytes(stream, text.mid(console.origin[static_cast<size_t>(done)]).toLocal8Bit());
    }
    done += std::min(written, size);
  }
  return true;
}

}  // namespace

const StreamWriter& systemStreamWriter() {
  static const StreamWriter writer{isConsoleHandle, writeToConsole, writeToFile};
  return writer;
}

bool writeText(StdStream stream, const QString& text, const StreamWriter& writer) {
  if (writer.isConsole(stream)) return writeToConsoleText(stream, text, writer);
  return writer.writeBytes(stream, text.toLocal8Bit());
}
