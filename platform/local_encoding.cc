#include "platform/local_encoding.h"

#include <QTextCodec>

#if defined(Q_OS_UNIX)
#include <langinfo.h>
#endif

#include <cstdint>

namespace {

// The length of the valid UTF-8 sequence at the start of the `size` bytes at
// `at`, or 0 when they do not start with one.
int validSequenceLength(const unsigned char* at, int size) {
  const unsigned char lead = at[0];
  int length = 0;
  std::uint32_t code = 0;
  std::uint32_t smallest = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F, smallest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, code = lead & 0x0F, smallest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07, smallest = 0x10000;
  } else {
    return 0;
  }
  if (size < length) return 0;
  for (int i = 1; i < length; ++i) {
    if ((at[i] & 0xC0) != 0x80) return 0;
    code = (code << 6) | (at[i] & 0x3F);
  }
  if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) return 0;
  return length;
}

bool isEscapedByte(const QString& text, int i) {
  const ushort c = text.at(i).unicode();
  return c >= 0xDC80 && c <= 0xDCFF && !(i > 0 && text.at(i - 1).isHighSurrogate());
}

// UTF-8 with decodeKeepingBytes and encodeKeepingBytes, as the local 8-bit
// encoding. It converts whole texts: a sequence cut at the end of a piece
// is kept as bytes, which only matters to stream decoding, which the tool
// does not use with this encoding.
class KeepingBytesUtf8Codec : public QTextCodec {
 public:
  // Not a registered name or MIB number, so that a lookup of UTF-8 never
  // finds this codec instead of Qt's own.
  QByteArray name() const override { return "UTF-8 keeping invalid bytes"; }
  int mibEnum() const override { return -106; }

 protected:
  QString convertToUnicode(const char* in, int length, ConverterState*) const override {
    return decodeKeepingBytes(QByteArray::fromRawData(in, length));
  }
  QByteArray convertFromUnicode(const QChar* in, int length, ConverterState*) const override {
    return encodeKeepingBytes(QString::fromRawData(in, length));
  }
};

}  // namespace

QString decodeKeepingBytes(const QByteArray& bytes) {
  QString text;
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
  int validFrom = 0;
  for (int i = 0; i < bytes.size();) {
    const int length = validSequenceLength(data + i, bytes.size() - i);
    if (length > 0) {
      i += length;
      continue;
    }
    text += QString::fromUtf8(bytes.constData() + validFrom, i - validFrom);
    text += QChar(static_cast<ushort>(0xDC00 + data[i]));
    validFrom = ++i;
  }
  return text + QString::fromUtf8(bytes.constData() + validFrom, bytes.size() - validFrom);
}

QByteArray encodeKeepingBytes(const QString& text) {
  QByteArray bytes;
  int plainFrom = 0;
  for (int i = 0; i < text.size(); ++i) {
    if (!isEscapedByte(text, i)) continue;
    bytes += text.midRef(plainFrom, i - plainFrom).toUtf8();
    bytes += static_cast<char>(text.at(i).unicode() - 0xDC00);
    plainFrom = i + 1;
  }
  return bytes + text.midRef(plainFrom).toUtf8();
}

void useLocaleEncoding() {
#if defined(Q_OS_UNIX)
  QTextCodec* codec = QTextCodec::codecForName(nl_langinfo(CODESET));
  const int usAscii = 3;
  if (codec && codec->mibEnum() != usAscii) QTextCodec::setCodecForLocale(codec);
  const int utf8 = 106;
  // Qt keeps every codec it is given until the process ends.
  if (QTextCodec::codecForLocale()->mibEnum() == utf8) QTextCodec::setCodecForLocale(new KeepingBytesUtf8Codec);
#endif
}
