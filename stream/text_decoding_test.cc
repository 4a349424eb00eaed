#include "stream/text_decoding.h"

#include <pugixml.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

pugi::xml_encoding parserEncoding(const std::string& document) {
  pugi::xml_document parsed;
  return parsed.load_buffer(document.data(), document.size(), pugi::parse_default, pugi::encoding_auto).encoding;
}

bool surely(const std::string& document, std::size_t headSize = 4096) {
  return surelyUtf8(document.data(), std::min(headSize, document.size()), document.size());
}

struct EncodingCase {
  const char* what;
  std::string document;
  bool utf8;  // what surelyUtf8 must answer
};

TEST(SurelyUtf8Test, AnswersYesOnlyWhereTheParserReadsUtf8) {
  const std::string bom = "\xEF\xBB\xBF";
  const EncodingCase cases[] = {
      {"plain element", "<R/>", true},
      {"leading white space", "  \n<R/>", true},
      {"UTF-8 byte-order mark", bom + "<R/>", true},
      {"UTF-8 mark before a latin1 declaration", bom + "<?xml version='1.0' encoding='latin1'?><R/>", true},
      {"declaration without an encoding", "<?xml version=\"1.0\"?><R/>", true},
      {"declared utf-8", "<?xml version=\"1.0\" encoding=\"utf-8\"?><R/>", true},
      {"declared UTF8 in single quotes", "<?xml version='1.0' encoding = 'UTF8' ?><R/>", true},
      {"declared latin1", "<?xml version=\"1.0\" encoding=\"latin1\"?><R/>", false},
      {"declared ISO-8859-1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><R/>", false},
      {"declared utf-16", "<?xml version=\"1.0\" encoding=\"utf-16\"?><R/>", false},
      {"declaration without its end", "<?xml version=\"1.0\" encoding=\"latin1\"", false},
      {"declaration end beyond the head", "<?xml version=\"1.0\"" + std::string(5000, ' ') + "?><R/>", false},
      {"too short", "<R>", false},
      {"UTF-16LE mark", std::string("\xFF\xFE<\0R\0/\0>\0", 10), false},
      {"UTF-16BE mark", std::string("\xFE\xFF\0<\0R\0/\0>", 10), false},
      {"UTF-16LE without a mark", std::string("<\0R\0/\0>\0", 8), false},
      {"UTF-32BE without a mark", std::string("\0\0\0<\0\0\0R", 8), false},
      {"zero byte in the first four", std::string("<R\0>", 4), false},
  };
  for (const EncodingCase& c : cases) {
    EXPECT_EQ(surely(c.document), c.utf8) << c.what;
    if (c.utf8) {
      EXPECT_EQ(parserEncoding(c.document), pugi::encoding_utf8) << c.what;
    }
  }
  // The head must hold the end of the declaration unless it is the whole document.
  const std::string declared = "<?xml version=\"1.0\"?><R/>";
  EXPECT_FALSE(surely(declared, 10));
  EXPECT_TRUE(surely(declared, declared.size()));
}

// The parser's own decoding of a text is the reference: any mix of ASCII
// runs, other characters, surrogate pairs, lone surrogates and (in UTF-32)
// units beyond U+10FFFF, decoded in pieces of any size, must give the
// bytes it gives.
TEST(ParserDecoderTest, DecodesPieceByPieceAsTheParserDoes) {
  std::mt19937 random(7);
  const auto pick = [&](std::uint32_t n) { return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(random); };
  const struct {
    pugi::xml_encoding encoding;
    int width;
    bool bigEndian;
  } encodings[] = {{pugi::encoding_utf16_le, 2, false},
                   {pugi::encoding_utf16_be, 2, true},
                   {pugi::encoding_utf32_le, 4, false},
                   {pugi::encoding_utf32_be, 4, true}};
  for (const auto& e : encodings) {
    for (int round = 0; round < 100; ++round) {
      std::vector<std::uint32_t> units = {0xFEFF, '<', 'r', '>'};
      for (int run = static_cast<int>(pick(12)); run > 0; --run) {
        switch (pick(5)) {
          case 0:  // ASCII, long enough for any fast path
            for (std::uint32_t n = pick(40); n > 0; --n) units.push_back('a' + pick(26));
            break;
          case 1:
            units.push_back(0xE9 + pick(0xD000));
            break;
          case 2:
            units.push_back(0xD800 + pick(0x800));  // a surrogate, paired or not
            break;
          default:
            if (e.width == 4) {
              units.push_back(0x10000 + pick(0x200000));
            } else {
              units.push_back(0xD800 + pick(0x400));
              units.push_back(0xDC00 + pick(0x400));
            }
            break;
        }
      }
      for (const char c : std::string("</r>")) units.push_back(static_cast<unsigned char>(c));
      std::string raw;
      for (const std::uint32_t unit : units) {
        for (int i = 0; i < e.width; ++i) {
          const int shift = 8 * (e.bigEndian ? e.width - 1 - i : i);
          raw += static_cast<char>((unit >> shift) & 0xFF);
        }
      }
      pugi::xml_document parsed;
      ASSERT_TRUE(parsed.load_buffer(raw.data(), raw.size(), pugi::parse_default, e.encoding));
      const std::string expected = std::string("\xEF\xBB\xBF<r>") + parsed.first_child().child_value() + "</r>";

      const std::size_t pieceSize = 1 + pick(static_cast<std::uint32_t>(raw.size()));
      ParserDecoder decoder(e.encoding);
      std::string text;
      for (std::size_t at = 0; at <= raw.size(); at += pieceSize) {
        const std::size_t size = std::min(pieceSize, raw.size() - at);
        std::string out(decoder.maxOutput(size), '\0');
        out.resize(decoder.decode(raw.data() + at, size, at + size == raw.size(), &out[0]));
        text += out;
        if (at + size == raw.size()) break;
      }
      EXPECT_EQ(text, expected) << "encoding " << e.encoding << ", round " << round << ", pieces of " << pieceSize;
    }
  }
}

// The parser's own detection is the reference: every cut of documents that
// start with each mark, a '<' in each code unit width, and declarations
// spelt every way the parser reads or refuses, with bytes appended.
TEST(WholeDocumentEncodingTest, DetectsAsTheParserDoes) {
  const std::string starts[] = {
      std::string("\0\0\xFE\xFF\0\0\0<", 8),
      std::string("\xFF\xFE\0\0<\0\0\0", 8),
      std::string("\xFE\xFF\0<", 4),
      std::string("\xFF\xFE<\0", 4),
      "\xEF\xBB\xBF<?xml encoding='latin1'?>",
      std::string("\0\0\0<\0\0\0R", 8),
      std::string("<\0\0\0R\0\0\0", 8),
      std::string("\0<\0?\0x", 6),
      std::string("<\0?\0x\0", 6),
      std::string("<R\0>", 4),
      "<?xml version='1.0' encoding='latin1'?>",
      "<?xml version=\"1.0\" encoding = \"ISO-8859-1\"?>",
      "<?xml\tencoding=\"LATIN1\"?>",
      "<?xml\nencoding=\"Iso-8859-1\" ?>",
      "<?xml encoding=latin1?>",
      "<?xml encoding='latin1\"?>",
      "<?xml encoding='latin2'?>",
      "<?xml encoding='latin1x'?>",
      "<?xml encoding='LATIN1'?>",
      "<?xml encoding='iso-8859-1 '?>",
      "<?xml enc='latin1'?>",
      "<?xml version='1.0?' encoding='latin1'?>",
      "<?xml  \r\n encoding\t=\n'latin1'",
      "<?xmlencoding='latin1'?>",
      "<?xml en encoding='latin1'?>",
      "<?xml x='\xE9' encoding='latin1'?>",
      "<?xml encoding='utf-16'?>",
  };
  for (const std::string& start : starts) {
    for (const std::string& more : {std::string(), std::string("<R/>"), std::string(1, '\0')}) {
      const std::string document = start + more;
      for (std::size_t cut = 0; cut <= document.size(); ++cut) {
        const std::string bytes = document.substr(0, cut);
        EXPECT_EQ(wholeDocumentEncoding(bytes.data(), bytes.size()), parserEncoding(bytes))
            << testing::PrintToString(bytes);
      }
    }
  }
}

}  // namespace
