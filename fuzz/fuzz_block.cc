// libFuzzer target: any bytes go through the load, the warnings, the
// conversion and the GCI formatting, streamed (in whole and in small pieces)
// and as one whole document, which must agree on every log line (why a load
// failed, what the warnings say) and on the output. Every 64th input is also
// written to a scratch directory through the writer.

#include "block/block.h"
#include "convert/convert.h"
#include "convert/diagnostics.h"
#include "gci/gci_writer.h"
#include "reader/block_file.h"
#include "reader/block_walk.h"
#include "stream/section_scan.h"
#include "tests/support/recording_sink.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// The log lines written since it was last emptied.
QByteArray logged;

void collect(QtMsgType, const QMessageLogContext&, const QString& message) { logged += message.toUtf8() + '\n'; }

QString scratchDir;

// What became of the load, the log lines of the load and of the warnings,
// and the GCI text.
QByteArray convertOnce(const char* data, std::size_t size, LoadMode mode, std::size_t pieceSize = kPieceSize) {
  resetStores();
  logged.clear();
  const LoadResult loaded = loadBlockText(data, size, mode, pieceSize);
  warnAboutBlock();
  convertMeasurements();
  return QByteArray::number(loaded.status) + '\n' + logged + formatGci(controlPoints);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qInstallMessageHandler(collect);
  scratchDir = QDir::tempPath() + QStringLiteral("/fuzz_block-") + QString::number(QCoreApplication::applicationPid());
  QDir().mkpath(scratchDir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static unsigned long runs = 0;
  const char* bytes = reinterpret_cast<const char*>(data);
  const QByteArray whole = convertOnce(bytes, size, LoadMode::WholeFile);
  if (convertOnce(bytes, size, LoadMode::Streamed) != whole) std::abort();  // the two modes must read the same block
  // Pieces of 1 to 128 bytes cut the input everywhere the scan must wait for
  // more.
  const std::size_t pieceSize = 1 + (size > 0 ? static_cast<unsigned char>(bytes[size / 2]) % 128 : 0);
  if (convertOnce(bytes, size, LoadMode::Streamed, pieceSize) != whole) std::abort();

  // A fragment scanned ahead, of a stretch the input picks, must change
  // nothing the scan decides or hands on.
  std::string text(bytes, size);  // the recording sinks leave it as it is
  RecordingSink aloneSink;
  SectionScan alone(blockSections(), aloneSink);
  alone.feed(&text[0], size, true);
  SectionScan ahead;
  const std::size_t from = size > 0 ? static_cast<unsigned char>(bytes[0]) * size / 256 : 0;
  const std::size_t to = size > 1 ? from + (static_cast<unsigned char>(bytes[1]) * (size - from) + 255) / 256 : size;
  ahead.scanFragment(text.data() + from, text.data() + to);
  RecordingSink takingSink;
  SectionScan taking(blockSections(), takingSink);
  taking.feed(&text[0], size, true, &ahead);
  if (taking.state() != alone.state()) std::abort();
  if (alone.state() == SectionScan::State::Certain && takingSink.events != aloneSink.events) std::abort();

  if (++runs % 64 == 0 && !controlPoints.empty()) {
    const QString input = scratchDir + QStringLiteral("/block.xml");
    const WriteResult written = writeGciFile(input);
    if (!written || QFile(written.outputPath).size() != formatGci(controlPoints).size()) std::abort();
    QFile::remove(written.outputPath);
  }
  resetStores();
  return 0;
}
