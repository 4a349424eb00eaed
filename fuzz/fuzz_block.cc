// libFuzzer target: any bytes go through the load, the conversion and the
// GCI formatting, streamed (in whole and in small pieces) and as one whole
// document, which must agree on the output and on why a load failed. Every 64th input is also written to a scratch
// directory through the writer.

#include "block/block.h"
#include "convert/convert.h"
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

void silent(QtMsgType, const QMessageLogContext&, const QString&) {}

QString scratchDir;

// The GCI text, after what became of the load and the reason it failed
// when it did.
QByteArray convertOnce(const char* data, std::size_t size, LoadMode mode, std::size_t pieceSize = kPieceSize) {
  resetStores();
  const LoadResult loaded = loadBlockText(data, size, mode, pieceSize);
  convertMeasurements();
  return QByteArray::number(loaded.status) + ' ' + loaded.reason.toUtf8() + '\n' + formatGci(controlPoints);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qInstallMessageHandler(silent);
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
