#include "platform/local_encoding.h"

#include "tests/support/qt_print.h"

#include <gtest/gtest.h>

#include <QChar>

namespace {

QString escaped(ushort byte) { return QString(QChar(static_cast<ushort>(0xDC00 + byte))); }

// Every byte string survives decoding and encoding again; valid UTF-8 reads
// as its characters, and each byte outside a valid sequence as one escape.
TEST(KeepingBytesTest, DecodesValidUtf8AndKeepsEveryOtherByte) {
  struct Case {
    const char* what;
    QByteArray bytes;
    QString text;
  } cases[] = {
      {"ASCII", "block.xml", "block.xml"},
      {"valid UTF-8",
       "S\xC3\xBC"
       "d \xF0\x9F\x97\xBA.xml",
       QString::fromUtf8("S\xC3\xBC"
                         "d \xF0\x9F\x97\xBA.xml")},
      {"a Latin-1 byte",
       "S\xFC"
       "d.xml",
       "S" + escaped(0xFC) + "d.xml"},
      {"a stray continuation byte", "a\x80", "a" + escaped(0x80)},
      {"a sequence cut short",
       "\xE2\x82"
       "x",
       escaped(0xE2) + escaped(0x82) + "x"},
      {"cut at the end", "x\xF0\x9F\x97", "x" + escaped(0xF0) + escaped(0x9F) + escaped(0x97)},
      {"an overlong slash", "\xC0\xAF", escaped(0xC0) + escaped(0xAF)},
      {"an overlong three-byte form", "\xE0\x80\xAF", escaped(0xE0) + escaped(0x80) + escaped(0xAF)},
      {"an encoded surrogate", "\xED\xB3\xBC", escaped(0xED) + escaped(0xB3) + escaped(0xBC)},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", escaped(0xF4) + escaped(0x90) + escaped(0x80) + escaped(0x80)},
      {"never UTF-8", "\xFF\xFE", escaped(0xFF) + escaped(0xFE)},
      {"an escape after a character outside the basic plane", "\xF0\x9F\x97\xBA\x80",
       QString::fromUtf8("\xF0\x9F\x97\xBA") + escaped(0x80)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(decodeKeepingBytes(c.bytes), c.text) << c.what;
    EXPECT_EQ(encodeKeepingBytes(c.text), c.bytes) << c.what;
  }
}

TEST(KeepingBytesTest, EveryByteRoundTrips) {
  for (int first = 0; first < 256; ++first) {
    for (int second = 0; second < 256; second += 15) {
      const QByteArray bytes = QByteArray(1, static_cast<char>(first)) + static_cast<char>(second) + "\xE2\x82";
      EXPECT_EQ(encodeKeepingBytes(decodeKeepingBytes(bytes)), bytes) << first << " " << second;
    }
  }
}

// A lone surrogate that is no escape is written as Qt writes it in UTF-8.
TEST(KeepingBytesTest, OtherLoneSurrogatesAreWrittenAsQuestionMarks) {
  EXPECT_EQ(encodeKeepingBytes(QString(QChar(0xD800)) + "a" + QChar(0xDC10)), QByteArray("?a?"));
}

}  // namespace
