#include "reader/text_decoding.h"

#include <pugixml.hpp>

#include <gtest/gtest.h>

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

}  // namespace
