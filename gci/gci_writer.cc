#include "gci/gci_writer.h"

#include "platform/replacing_file.h"

#include <QDebug>
#include <QFileInfo>

#include "gci/fixed_format.h"

#include <charconv>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

const char kLineEnd[] = "\r\n";

// A text field: local 8-bit bytes, with line breaks turned into blanks.
QByteArray textField(QString text) {
  text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
  return text.toLocal8Bit();
}

// The text fields of image names, each made once per distinct name. The
// conversion gives all measurements of a photo one shared QString, so the
// key is the string's shared data: strings that share it hold the same text
// while the points are formatted, and neither the characters nor the
// data's own header need be read to find a field. The fields stand in one table of open addressing,
// so that a look-up reads one or two neighbouring entries rather than
// chasing nodes. Strings that are equal but not shared only take an entry
// each; so that those cannot grow the table without bound, it starts over
// after kMaxEntries entries.
class ImageNameFields {
 public:
  ImageNameFields() : entries_(kFirstSize) {}

  // textField(name), made at most once per entry. The reference lasts until
  // the next call.
  const QByteArray& of(const QString& name) {
    const void* const data = const_cast<QString&>(name).data_ptr();
    std::size_t at = find(data);
    if (entries_[at].data == data) return entries_[at].field;
    if (2 * (used_ + 1) > entries_.size()) {
      if (used_ >= kMaxEntries) {
        entries_.assign(kFirstSize, Entry());
        used_ = 0;
      } else {
        grow();
      }
      at = find(data);
    }
    ++used_;
    entries_[at] = Entry{data, textField(name)};
    return entries_[at].field;
  }

 private:
  struct Entry {
    const void* data = nullptr;  // null for a free entry
    QByteArray field;
  };
  static constexpr std::size_t kFirstSize = 1 << 12;  // a power of two
  static constexpr std::size_t kMaxEntries = 1 << 16;

  // The entry of the key, or the free one where it would go.
  std::size_t find(const void* data) const {
    const std::size_t mask = entries_.size() - 1;
    const std::uint64_t key = static_cast<std::uint64_t>(reinterpret_cast<quintptr>(data));
    std::size_t at = static_cast<std::size_t>((key * 0x9E3779B97F4A7C15u) >> 40) & mask;
    while (entries_[at].data != nullptr && entries_[at].data != data) at = (at + 1) & mask;
    return at;
  }

  void grow() {
    std::vector<Entry> old(entries_.size() * 2);
    old.swap(entries_);
    for (Entry& entry : old) {
      if (entry.data != nullptr) entries_[find(entry.data)] = std::move(entry);
    }
  }

  std::vector<Entry> entries_;
  std::size_t used_ = 0;
};

// A place in the GCI text: the lines of point `point` from its measurement
// `measurement` on, its own two lines first when that is 0.
struct Mark {
  std::size_t point;
  std::size_t measurement;
};

// The text is made in chunks of about this many lines (some 500 KiB), each
// handed on whole.
constexpr std::size_t kChunkLines = 8192;

// Where the chunks of the text of `points` begin, after its first line, and
// where the last one ends ({points.size(), 0}); no chunk for no points. A chunk ends after a point,
// or within one whose measurements would not fit in a chunk on their own.
std::vector<Mark> chunkMarks(const std::vector<ControlPoint>& points) {
  std::vector<Mark> marks{{0, 0}};
  std::size_t lines = 0;
  Mark at{0, 0};
  while (at.point < points.size()) {
    const std::size_t count = points[at.point].measurements.size();
    const std::size_t rest = count - at.measurement + (at.measurement == 0 ? 2 : 0);
    if (lines + rest <= kChunkLines) {
      lines += rest;
      at = Mark{at.point + 1, 0};
    } else if (lines > 0) {
      marks.push_back(at);
      lines = 0;
    } else {
      at.measurement += kChunkLines - (at.measurement == 0 ? 2 : 0);
      marks.push_back(at);
    }
  }
  if (lines > 0) marks.push_back(at);
  return marks;
}

// Empties `text` for the next chunk, keeping its memory: clear() would free
// it, and the chunk would grow again from nothing.
void emptyChunk(QByteArray& text) {
  constexpr int kChunkBytes = 640 << 10;
  if (text.capacity() < kChunkBytes) text.reserve(kChunkBytes);  // reserved memory outlives resize(0)
  text.resize(0);
}

// Formats the lines between two marks; each call of `format` appends to
// `out`, which it keeps for the next call.
class ChunkFormatter {
 public:
  explicit ChunkFormatter(const std::vector<ControlPoint>& points) : points_(points) {}

  void format(Mark from, Mark to, QByteArray& out) {
    // The lines of kGciPointFormat, kGciCountFormat and kGciMeasurementFormat,
    // each written straight into `out`.
    for (std::size_t p = from.point; p < points_.size() && (p < to.point || (p == to.point && to.measurement > 0));
         ++p) {
      const ControlPoint& point = points_[p];
      std::size_t m = p == from.point ? from.measurement : 0;
      const std::size_t end = p == to.point ? to.measurement : point.measurements.size();
      if (m == 0) {
        char* n = startLine(out, textField(point.name));
        *n++ = ' ';
        n = formatFixed(n, point.x, 20, 8);
        *n++ = ' ';
        n = formatFixed(n, point.y, 12, 8);
        *n++ = ' ';
        n = formatFixed(n, point.z, 12, 3);
        *n++ = ' ';
        n = appendInteger(n, point.category);
        endLine(out, appendInteger(n, point.measurementCount));
      }
      for (; m < end; ++m) {
        const ImageMeasurement& measurement = point.measurements[m];
        char* n = startLine(out, imageNames_.of(measurement.imageName));
        *n++ = ' ';
        n = formatFixed(n, measurement.x, 20, 8);
        *n++ = ' ';
        n = formatFixed(n, measurement.y, 20, 8);
        *n++ = ' ';
        endLine(out, appendInteger(n, point.category));
      }
    }
  }

 private:
  // The most bytes the numbers of a line take, with their blanks and line ends.
  static constexpr int kNumbersMax = static_cast<int>(3 * fixedMaxLength(8)) + 64;

  // Makes room at the end of `out` for a line that begins with `field`,
  // writes the field and returns where the rest of the line goes.
  static char* startLine(QByteArray& out, const QByteArray& field) {
    const int used = out.size();
    out.resize(used + field.size() + kNumbersMax);
    char* at = out.data() + used;
    std::memcpy(at, field.constData(), static_cast<std::size_t>(field.size()));
    return at + field.size();
  }

  // Ends `out` at `end`, where the line that startLine began ends.
  static void endLine(QByteArray& out, const char* end) { out.resize(static_cast<int>(end - out.constData())); }

  // Writes `value` and a line end at `out`; returns the end.
  static char* appendInteger(char* out, int value) {
    out = std::to_chars(out, out + 12, value).ptr;
    std::memcpy(out, kLineEnd, 2);
    return out + 2;
  }

  const std::vector<ControlPoint>& points_;
  ImageNameFields imageNames_;
};

// Formats the chunks of odd number on a thread of its own, at most two
// ahead of the one that hands them on, so that the text is made on two
// cores and memory stays at a few chunks. Should the thread fail, the
// caller formats the rest itself (take() says when).
class OddChunks {
 public:
  OddChunks(const std::vector<ControlPoint>& points, const std::vector<Mark>& marks)
      : points_(points), marks_(marks), thread_([this] { run(); }) {}
  OddChunks(const OddChunks&) = delete;
  OddChunks& operator=(const OddChunks&) = delete;
  ~OddChunks() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  // The next odd chunk into `text` (whose buffer goes to the thread for a
  // later chunk); false when the thread gave up before it.
  bool take(QByteArray& text) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return !ready_.empty() || failed_; });
    if (ready_.empty()) return false;
    spare_.push_back(std::move(text));
    text = std::move(ready_.front());
    ready_.pop_front();
    changed_.notify_all();
    return true;
  }

 private:
  void run() {
    try {
      ChunkFormatter formatter(points_);
      for (std::size_t i = 1; i + 1 < marks_.size(); i += 2) {
        QByteArray text;
        {
          std::unique_lock<std::mutex> lock(mutex_);
          changed_.wait(lock, [&] { return ready_.size() < kAhead || stop_; });
          if (stop_) return;
          if (!spare_.empty()) {
            text = std::move(spare_.back());
            spare_.pop_back();
          }
        }
        emptyChunk(text);
        formatter.format(marks_[i], marks_[i + 1], text);
        {
          const std::lock_guard<std::mutex> lock(mutex_);
          ready_.push_back(std::move(text));
        }
        changed_.notify_all();
      }
    } catch (...) {
      const std::lock_guard<std::mutex> lock(mutex_);
      failed_ = true;
    }
    changed_.notify_all();
  }

  static constexpr std::size_t kAhead = 2;
  const std::vector<ControlPoint>& points_;
  const std::vector<Mark>& marks_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<QByteArray> ready_;   // finished chunks, in order
  std::vector<QByteArray> spare_;  // buffers handed back
  bool stop_ = false;
  bool failed_ = false;
  std::thread thread_;  // last: it starts once everything above is made
};

// Formats `points` as formatGci does and hands the text to `put` in chunks,
// in order; stops as soon as `put` returns false, and returns what the last
// call returned. With GciThreads::Two, the odd chunks are made on a second
// thread while the first makes the even ones and hands all of them on; where
// no thread can be had, the one thread makes them all.
template <class Put>
bool formatGciPieces(const std::vector<ControlPoint>& points, GciThreads threads, Put put) {
  const std::vector<Mark> marks = chunkMarks(points);
  QByteArray text;
  char count[16];
  char* end = std::to_chars(count, count + sizeof count, static_cast<int>(points.size())).ptr;
  text.append(count, static_cast<int>(end - count)).append(kLineEnd);
  if (!put(text)) return false;
  std::unique_ptr<OddChunks> odd;
  if (threads == GciThreads::Two && marks.size() > 2) {
    try {
      odd = std::make_unique<OddChunks>(points, marks);
    } catch (const std::system_error&) {
      // No second thread: this one makes every chunk.
    }
  }
  ChunkFormatter formatter(points);
  for (std::size_t i = 0; i + 1 < marks.size(); ++i) {
    if (i % 2 == 1 && odd && odd->take(text)) {
      if (!put(text)) return false;
      continue;
    }
    emptyChunk(text);
    formatter.format(marks[i], marks[i + 1], text);
    if (!put(text)) return false;
  }
  return true;
}

WriteResult failed(const QString& outputPath, const QString& reason) {
  qDebug() << "Write failed:" << outputPath << reason;
  return WriteResult{WriteResult::Failed, outputPath, reason};
}

}  // namespace

QString gciOutputPath(const QString& inputPath) {
  const QFileInfo input(inputPath);
  QString name = input.completeBaseName() + QStringLiteral(".gci");
#if defined(Q_OS_WIN)
  // Named from the file Windows opens, which has lost any trailing dots and
  // blanks of the name typed ("block.xml ." opens block.xml), unless the
  // path starts with \\?\.
  if (!inputPath.startsWith(QStringLiteral("\\\\?\\"))) {
    QString opened = input.fileName();
    while (opened.endsWith(QLatin1Char('.')) || opened.endsWith(QLatin1Char(' '))) opened.chop(1);
    name = QFileInfo(opened).completeBaseName() + QStringLiteral(".gci");
  }
  // The folder part of a \\?\ or \\.\ path is kept as typed, backslashes
  // and all: the system takes the first as it stands and resolves the
  // second when the output is written, as when the input was read.
  const QString backslash = QStringLiteral("\\");
  if (inputPath.startsWith(QStringLiteral("\\\\?\\")) || inputPath.startsWith(QStringLiteral("\\\\.\\"))) {
    return inputPath.left(inputPath.lastIndexOf(backslash)) + backslash + name;
  }
  // A drive-relative path (D:block.xml) names a file in that drive's current
  // folder; a separator after the bare drive would name its root instead.
  const QString folder = input.path();
  const bool driveRelative = folder.size() == 2 && folder.at(1) == QLatin1Char(':') && inputPath.size() > 2 &&
                             inputPath.at(2) != QLatin1Char('/') && inputPath.at(2) != backslash.at(0);
  return driveRelative ? folder + name : folder + backslash + name;
#else
  return input.path() + QStringLiteral("/") + name;
#endif
}

QByteArray formatGci(const std::vector<ControlPoint>& points, GciThreads threads) {
  QByteArray all;
  formatGciPieces(points, threads, [&](const QByteArray& piece) {
    all += piece;
    return true;
  });
  return all;
}

WriteResult writeGciFile(const QString& inputPath) {
  if (controlPoints.empty()) return WriteResult{};

  const QString outputPath = gciOutputPath(inputPath);
  const QString reserved = reservedNameReason(outputPath);
  if (!reserved.isEmpty()) return failed(outputPath, reserved);
  if (isSameFile(outputPath, inputPath)) {
    return failed(outputPath, QStringLiteral("The output would replace the input file"));
  }

  // The text is written as it is formatted, so that it never stands whole
  // in memory beside the block.
  ReplacingFile file(outputPath);
  if (!file.open() ||
      !formatGciPieces(controlPoints, GciThreads::Two,
                       [&](const QByteArray& piece) {
                         return file.write(piece.constData(), static_cast<std::size_t>(piece.size()));
                       }) ||
      !file.commit()) {
    return failed(outputPath, file.errorString());
  }

  qDebug() << "Generate file: " << outputPath;
  return WriteResult{WriteResult::Written, outputPath, QString()};
}
