#include "reader/block_file.h"
#include "stream/text_decoding.h"

#include "block/block.h"
#include "tests/support/log_capture.h"
#include "tests/support/stores.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextCodec>

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace {

class BlockFileTest : public StoresTest {
 protected:
  void SetUp() override {
    StoresTest::SetUp();
    ASSERT_TRUE(dir_.isValid());
  }

  QString write(const QByteArray& bytes, const char* name = "block.xml") {
    const QString path = dir_.filePath(QString::fromLatin1(name));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
  }

  QTemporaryDir dir_;
};

const char kBlock[] = R"(<?xml version="1.0"?>
<Root>
  <Block>
    <ControlPoints><ControlPoint><Name>P</Name>
      <Measurement><PhotoId>1</PhotoId><x>1</x><y>2</y></Measurement></ControlPoint></ControlPoints>
    <Photogroups><Photogroup><Name>G</Name><Photo><Id>1</Id><ImagePath>a.jpg</ImagePath></Photo></Photogroup>
    </Photogroups>
  </Block>
</Root>)";

TEST_F(BlockFileTest, ReadsBothStoresAndLogsThePath) {
  const QString path = write(kBlock);
  LogCapture log;
  const LoadResult result = loadBlockFile(path);
  EXPECT_TRUE(result);
  EXPECT_EQ(result.status, LoadResult::Loaded);
  EXPECT_EQ(log.lines(), QStringList{QStringLiteral("filePath: \"%1\"").arg(path)});
  ASSERT_EQ(controlPoints.size(), 1u);
  EXPECT_EQ(controlPoints[0].name, "P");
  ASSERT_EQ(photoTable.count(1), 1u);
  EXPECT_EQ(photoTable.at(1).imagePath, "a.jpg");
}

TEST_F(BlockFileTest, LogQuotesBackslashesAndQuotesInThePath) {
#if defined(Q_OS_WIN)
  // No file name can hold a quote there; backslashes come in as separators.
  const QString path = QDir::toNativeSeparators(write(kBlock, "weird.xml"));
#else
  const QString path = write(kBlock, "we\"ird\\name.xml");
#endif
  LogCapture log;
  EXPECT_TRUE(loadBlockFile(path));
  QString quoted = path;
  quoted.replace(QStringLiteral("\\"), QStringLiteral("\\\\")).replace(QStringLiteral("\""), QStringLiteral("\\\""));
  EXPECT_EQ(log.lines(), QStringList{QStringLiteral("filePath: \"%1\"").arg(quoted)});
}

TEST_F(BlockFileTest, WalksOnlyTheFirstBlockOfTheRoot) {
  write(R"(<AnyName>
             <Other><Block><ControlPoints><P><Name>nested</Name></P></ControlPoints></Block></Other>
             <Block>text<ControlPoints><P><Name>1</Name></P></ControlPoints><Ignored/>
               <ControlPoints/><ControlPoints><P><Name>2</Name></P></ControlPoints>
               <Photogroups><G><Photo><Id>1</Id></Photo></G></Photogroups>
               <Photogroups><G><Photo><Id>2</Id></Photo></G></Photogroups>
               <controlpoints><P/></controlpoints></Block>
             <Block><ControlPoints><P><Name>second block</Name></P></ControlPoints></Block>
           </AnyName>)");
  LogCapture log;
  EXPECT_TRUE(loadBlockFile(dir_.filePath("block.xml")));
  ASSERT_EQ(controlPoints.size(), 2u);
  EXPECT_EQ(controlPoints[0].name, "1");
  EXPECT_EQ(controlPoints[1].name, "2");
  EXPECT_EQ(photoTable.size(), 2u);
}

// A streamed load that gives up after reading many children puts the stores
// back as they were, so the whole-file load that follows reads each record
// once, after what the stores held before.
TEST_F(BlockFileTest, StreamedLoadThatGivesUpLateReadsEachRecordOnce) {
  std::string document =
      "<R><Block><Photogroups><G><Photo><Id>1</Id><ImagePath>a.jpg</ImagePath></Photo></G>"
      "</Photogroups><ControlPoints>";
  for (int i = 0; i < 2000; ++i) document += "<P><Name>p" + std::to_string(i) + "</Name></P>";
  document += "</ControlPoints></Block></R><![CDATA[the scan gives up here; the parser takes it]]>";
  ASSERT_TRUE(insertPhoto(PhotoInfo{7, "earlier.jpg", "E", 1, 1}));
  ControlPoint earlier;
  earlier.name = "earlier";
  appendControlPoint(earlier);
  readNotes.photogroupsRead = 3;

  LogCapture log;
  const LoadResult loaded = loadBlockText(document.data(), document.size(), LoadMode::Streamed, 4096);
  EXPECT_EQ(loaded.status, LoadResult::Loaded);
  EXPECT_TRUE(loaded.wholeFile);
  ASSERT_EQ(controlPoints.size(), 2001u);
  EXPECT_EQ(controlPoints.front().name, "earlier");
  EXPECT_EQ(controlPoints.back().name, "p1999");
  EXPECT_EQ(photoTable.size(), 2u);
  EXPECT_TRUE(droppedPhotos.empty());
  EXPECT_EQ(readNotes.photogroupsRead, 4);
}

TEST_F(BlockFileTest, RootWithoutBlockLogsThePathAndReadsNothing) {
  const QString path = write("<!-- first --><?pi x?><Root><ControlPoints><P/></ControlPoints></Root>");
  LogCapture log;
  const LoadResult result = loadBlockFile(path);
  EXPECT_TRUE(result);
  EXPECT_EQ(result.status, LoadResult::NoBlock);  // a run says why it wrote nothing
  EXPECT_TRUE(controlPoints.empty());
  EXPECT_EQ(log.lines().size(), 1);
  EXPECT_TRUE(log.lines().value(0).startsWith("filePath: "));
}

struct FailureCase {
  const char* what;
  const char* bytes;  // nullptr: no file at all
  const char* reason;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.what; }

class LoadFailureTest : public BlockFileTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(LoadFailureTest, LogsOpenFailedAndWhy) {
  const FailureCase& c = GetParam();
  const QString path = c.bytes ? write(c.bytes) : dir_.filePath("missing.xml");
  ControlPoint earlier;
  earlier.name = "kept";
  appendControlPoint(earlier);

  LogCapture log;
  const LoadResult result = loadBlockFile(path);
  EXPECT_FALSE(result);
  EXPECT_EQ(result.status, LoadResult::Failed);
  EXPECT_EQ(result.reason, QString::fromUtf8(c.reason));
  EXPECT_EQ(log.lines(), (QStringList{"Open failed", QStringLiteral("Reason: \"%1\" \"%2\"").arg(path, c.reason)}));
  ASSERT_EQ(controlPoints.size(), 1u);  // the stores are left as they were
  EXPECT_EQ(controlPoints[0].name, "kept");
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, LoadFailureTest,
    ::testing::Values(FailureCase{"missing", nullptr, "Cannot open the file: No such file or directory"},
                      FailureCase{"empty", "", "No document element found"},
                      FailureCase{"declaration only", "<?xml version=\"1.0\"?>\n", "No document element found"},
                      FailureCase{"comment only", "<!-- nothing here -->", "No document element found"},
                      FailureCase{"mismatched tag", "<Root>\n  <Block>\n  </Blok>\n</Root>",
                                  "Start-end tags mismatch at line 3, column 5"},
                      FailureCase{"unclosed root", "<Root><Block/>", "Start-end tags mismatch at line 1, column 14"},
                      FailureCase{"text after a multibyte name", "<R>\xC3\xA9\xC3\xA9</X>",
                                  "Start-end tags mismatch at line 1, column 8"},
                      FailureCase{"bad attribute", "<R a=1/>", "Error parsing element attribute at line 1, column 6"}));

TEST_F(BlockFileTest, DirectoryIsNotABlockFile) {
  LogCapture log;
  const LoadResult result = loadBlockFile(dir_.path());
  EXPECT_FALSE(result);
  EXPECT_EQ(log.lines().value(0), "Open failed");
  EXPECT_EQ(log.lines().value(1), QStringLiteral("Reason: \"%1\" \"Is a directory\"").arg(dir_.path()));
}

// The same block in each encoding the parser detects must read the same.
struct EncodingCase {
  const char* what;
  const char* codec;  // nullptr: the UTF-8 text as it stands
  bool byteOrderMark;
  const char* declaration;
};

void PrintTo(const EncodingCase& c, std::ostream* os) { *os << c.what; }

class EncodingTest : public BlockFileTest, public ::testing::WithParamInterface<EncodingCase> {};

TEST_P(EncodingTest, DecodesNamesAndPaths) {
  const EncodingCase& c = GetParam();
  const QString text =
      QString::fromUtf8(c.declaration) + QString::fromUtf8(
                                             "<R><Block><Photogroups><G><Photo><Id>1</Id><ImagePath>C:\\Bilder\\"
                                             "M\xC3\xBChle.jpg</ImagePath></Photo></G></Photogroups>"
                                             "<ControlPoints><P><Name>Stra\xC3\x9F"
                                             "e \xC3\xA9</Name></P>"
                                             "</ControlPoints></Block></R>");
  QByteArray bytes;
  if (c.codec) {
    QTextCodec* codec = QTextCodec::codecForName(c.codec);
    ASSERT_NE(codec, nullptr);
    QTextCodec::ConverterState state(c.byteOrderMark ? QTextCodec::DefaultConversion : QTextCodec::IgnoreHeader);
    bytes = codec->fromUnicode(text.constData(), text.size(), &state);
    if (c.byteOrderMark) bytes = codec->fromUnicode(QString(QChar(0xFEFF))) + bytes;
  } else {
    bytes = (c.byteOrderMark ? QByteArray("\xEF\xBB\xBF") : QByteArray()) + text.toUtf8();
  }
  LogCapture log;
  ASSERT_TRUE(loadBlockFile(write(bytes)));
  ASSERT_EQ(controlPoints.size(), 1u);
  EXPECT_EQ(controlPoints[0].name, QString::fromUtf8("Stra\xC3\x9F"
                                                     "e \xC3\xA9"));
  EXPECT_EQ(photoTable.at(1).imagePath, QString::fromUtf8("C:\\Bilder\\M\xC3\xBChle.jpg"));
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, EncodingTest,
    ::testing::Values(EncodingCase{"UTF-8", nullptr, false, "<?xml version=\"1.0\"?>"},
                      EncodingCase{"UTF-8 with BOM", nullptr, true, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"},
                      EncodingCase{"UTF-16LE with BOM", "UTF-16LE", true, ""},
                      EncodingCase{"UTF-16BE with BOM", "UTF-16BE", true, "<?xml version=\"1.0\"?>"},
                      EncodingCase{"ISO-8859-1 declared", "ISO-8859-1", false,
                                   "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"}));

TEST(TextPositionTest, CountsLinesAndCharacters) {
  const QByteArray text("ab\ncd\r\nef\rg\xC3\xA9h");
  struct {
    std::ptrdiff_t offset;
    int line;
    int column;
  } cases[] = {{0, 1, 1},  {2, 1, 3},  {3, 2, 1},  {5, 2, 3},  {7, 3, 1},
               {10, 4, 1}, {11, 4, 2}, {13, 4, 3}, {14, 4, 4}, {1000, 4, 4}};
  for (const auto& c : cases) {
    const TextPosition at = textPosition(text, c.offset);
    EXPECT_EQ(at.line, c.line) << "offset " << c.offset;
    EXPECT_EQ(at.column, c.column) << "offset " << c.offset;
  }
}

TEST(ParserTextTest, ReencodesOtherEncodingsAndKeepsTheByteOrderMark) {
  const QByteArray utf16("\xFF\xFE<\0\xE9\0", 6);
  EXPECT_EQ(parserText(utf16, pugi::encoding_utf16_le), QByteArray("\xEF\xBB\xBF<\xC3\xA9"));
  EXPECT_EQ(parserText("\xE9", pugi::encoding_latin1), QByteArray("\xC3\xA9"));
  EXPECT_EQ(parserText("\xE9", pugi::encoding_utf8), QByteArray("\xE9"));  // UTF-8 is taken as it stands
}

// `units` as code units of `width` bytes (2 or 4) in either byte order; a
// unit given as a character of `ascii` stands for itself.
QByteArray codeUnits(const std::vector<std::uint32_t>& units, int width, bool bigEndian) {
  QByteArray bytes;
  for (const std::uint32_t unit : units) {
    for (int i = 0; i < width; ++i) {
      const int shift = 8 * (bigEndian ? width - 1 - i : i);
      bytes.append(static_cast<char>((unit >> shift) & 0xFF));
    }
  }
  return bytes;
}

// `ascii` as a list of code units, for codeUnits.
std::vector<std::uint32_t> units(const char* ascii) {
  std::vector<std::uint32_t> result;
  for (const char* c = ascii; *c; ++c) result.push_back(static_cast<unsigned char>(*c));
  return result;
}

std::vector<std::uint32_t> operator+(std::vector<std::uint32_t> a, const std::vector<std::uint32_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Invalid code units are decoded as the parser decodes them, byte for byte:
// the offsets of a parse error index the parser's text, not a repaired one.
TEST(ParserTextTest, DecodesInvalidUnitsAsTheParserDoes) {
  struct Case {
    const char* what;
    QByteArray raw;
    pugi::xml_encoding encoding;
    QByteArray text;
  } cases[] = {
      {"UTF-16LE lone high surrogate", codeUnits({'a', 0xD800, 'b'}, 2, false), pugi::encoding_utf16_le, "ab"},
      {"UTF-16BE lone low surrogate", codeUnits({'a', 0xDC00, 'b'}, 2, true), pugi::encoding_utf16_be, "ab"},
      {"UTF-16LE high surrogate last", codeUnits({'a', 0xD83D}, 2, false), pugi::encoding_utf16_le, "a"},
      {"UTF-16LE two high surrogates, then a low one", codeUnits({0xD800, 0xD83D, 0xDE7A}, 2, false),
       pugi::encoding_utf16_le, "\xF0\x9F\x99\xBA"},
      {"UTF-16LE odd last byte", codeUnits({'a'}, 2, false) + "b", pugi::encoding_utf16_le, "a"},
      {"UTF-32LE outside the basic plane", codeUnits({0x1F67A}, 4, false), pugi::encoding_utf32_le, "\xF0\x9F\x99\xBA"},
      {"UTF-32BE beyond U+10FFFF", codeUnits({0x110000, 'a'}, 4, true), pugi::encoding_utf32_be,
       "\xF4\x90\x80\x80"
       "a"},
      {"UTF-32LE far beyond", codeUnits({0xFFFFFFFF, 'a'}, 4, false), pugi::encoding_utf32_le,
       "\xFF\xBF\xBF\xBF"
       "a"},
      {"UTF-32LE surrogate", codeUnits({0xD800}, 4, false), pugi::encoding_utf32_le, "\xED\xA0\x80"},
      {"UTF-32LE cut unit", codeUnits({'a'}, 4, false) + "b", pugi::encoding_utf32_le, "a"},
  };
  for (const Case& c : cases) EXPECT_EQ(parserText(c.raw, c.encoding), c.text) << c.what;
}

// A parse error after invalid code units is placed where the parser found
// it, whatever the units decode to.
TEST_F(BlockFileTest, ErrorPositionAfterInvalidCodeUnits) {
  struct Case {
    const char* what;
    std::vector<std::uint32_t> invalid;
    int width;
    bool bigEndian;
  } cases[] = {
      {"UTF-16LE lone high surrogate", {0xD800}, 2, false},
      {"UTF-16BE lone low surrogate", {0xDC00}, 2, true},
      {"UTF-16LE two lone surrogates", {0xDFFF, 0xD800}, 2, false},
      {"UTF-32LE unit beyond U+10FFFF", {0x110000}, 4, false},
      {"UTF-32BE two units beyond U+10FFFF", {0x7FFFFFFF, 0x110000}, 4, true},
  };
  LogCapture log;
  for (const Case& c : cases) {
    const std::vector<std::uint32_t> text =
        std::vector<std::uint32_t>{0xFEFF} + units("<R>") + c.invalid + units("\nab</X></R>");
    const LoadResult result = loadBlockFile(write(codeUnits(text, c.width, c.bigEndian)));
    EXPECT_EQ(result.reason, "Start-end tags mismatch at line 2, column 5") << c.what;
  }
}

TEST_F(BlockFileTest, ErrorPositionInUtf16CountsDecodedCharacters) {
  const QString text = QStringLiteral("<R>\n<\u00e9\u00e9></X></R>");
  QTextCodec* codec = QTextCodec::codecForName("UTF-16BE");
  const QByteArray bytes = QByteArray("\xFE\xFF", 2) + codec->fromUnicode(text);
  LogCapture log;
  const LoadResult result = loadBlockFile(write(bytes));
  EXPECT_EQ(result.reason, "Start-end tags mismatch at line 2, column 7");
}

// The whole-file load against the parser's own load_file, on every cut of
// a few documents in every encoding the parser detects, each cut also with
// a damaged ending: the same status, description, offset and encoding, and
// the same document where both succeed.
TEST_F(BlockFileTest, WholeFileLoadIsTheParsersLoadFile) {
  const QString documents[] = {
      QStringLiteral("<?xml version=\"1.0\"?>\r\n<R a='1'><!--c--><![CDATA[x]]><P>t&amp;\u00e9</P><?p?></R>\n"),
      QStringLiteral("<R><B/></R>"),
      QStringLiteral("<R/>") + QChar(0) + QStringLiteral("<after/>"),
  };
  struct Encoding {
    const char* what;
    const char* codec;  // nullptr: UTF-8
    QByteArray mark;
    QString declaration;
  };
  const Encoding encodings[] = {
      {"UTF-8", nullptr, "", QString()},
      {"UTF-8 with BOM", nullptr, "\xEF\xBB\xBF", QString()},
      {"UTF-16LE", "UTF-16LE", "", QString()},
      {"UTF-16LE with BOM", "UTF-16LE", "\xFF\xFE", QString()},
      {"UTF-16BE with BOM", "UTF-16BE", "\xFE\xFF", QString()},
      {"UTF-32LE", "UTF-32LE", "", QString()},
      {"UTF-32BE with BOM", "UTF-32BE", QByteArray("\0\0\xFE\xFF", 4), QString()},
      {"latin1", "ISO-8859-1", "", QStringLiteral("<?xml version='1.0' encoding='latin1'?>")},
  };
  // Each cut also followed by a stray '<', a zero byte and a CR, which the
  // parser treats apart at the very end. (Each case is a file of its own, and
  // files are slow to make under Wine: the table is kept small.)
  const QByteArray endings[] = {QByteArray(), QByteArray("<"), QByteArray("\0", 1), QByteArray("\r")};
  int compared = 0;
  for (const Encoding& encoding : encodings) {
    for (const QString& source : documents) {
      const QString text = encoding.declaration + source;
      QTextCodec* codec = encoding.codec ? QTextCodec::codecForName(encoding.codec) : nullptr;
      QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
      const QByteArray whole =
          encoding.mark + (codec ? codec->fromUnicode(text.constData(), text.size(), &state) : text.toUtf8());
      for (int cut = 0; cut <= whole.size(); ++cut) {
        for (const QByteArray& ending : endings) {
          const QByteArray bytes = whole.left(cut) + ending;
          // A new file each time: truncating one can take the file system
          // far longer than the whole comparison.
          const QString path = dir_.filePath(QStringLiteral("cut%1.xml").arg(compared));
          QFile file(path);
          ASSERT_TRUE(file.open(QIODevice::WriteOnly));
          ASSERT_EQ(file.write(bytes), bytes.size());
          file.close();

          pugi::xml_document expectedDocument;
          const pugi::xml_parse_result expected = expectedDocument.load_file(QFile::encodeName(path).constData());
          pugi::xml_document gotDocument;
          const pugi::xml_parse_result got = loadWholeDocument(gotDocument, path).result;
          const std::string what = std::string(encoding.what) + ", " + std::to_string(cut) + " of " +
                                   std::to_string(whole.size()) + " bytes and " + std::to_string(ending.size()) +
                                   " more: " + bytes.toHex().toStdString();
          ASSERT_EQ(got.status, expected.status) << what << "\n"
                                                 << got.description() << " / " << expected.description();
          ASSERT_STREQ(got.description(), expected.description()) << what;
          ASSERT_EQ(got.offset, expected.offset) << what;
          ASSERT_EQ(got.encoding, expected.encoding) << what;
          std::ostringstream gotText;
          std::ostringstream expectedText;
          gotDocument.save(gotText, "", pugi::format_raw);
          expectedDocument.save(expectedText, "", pugi::format_raw);
          ASSERT_EQ(gotText.str(), expectedText.str()) << what;
          ++compared;
        }
      }
    }
  }
  EXPECT_GT(compared, 5000);  // every cut was compared
}

}  // namespace
