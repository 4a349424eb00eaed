#include "reader/document_text.h"

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

// Every start of four or five bytes from the bytes that steer the parser's
// detection, followed by a declaration-like tail: a yes must always be the
// parser's UTF-8.
TEST(SurelyUtf8Test, NeverContradictsTheParserOnShortStarts) {
  const char alphabet[] = {'\0', '<', '?', 'x', 'm', 'l', ' ', '\xEF', '\xBB', '\xBF', '\xFE', '\xFF'};
  const std::vector<std::string> tails = {"", "<R/>", " encoding='latin1'?><R/>", " version='1.0' encoding='utf-8'?>",
                                          "encoding=\"ISO-8859-1\"><R/>"};
  std::vector<std::string> starts = {""};
  int yes = 0;
  for (int length = 1; length <= 5; ++length) {
    std::vector<std::string> longer;
    for (const std::string& start : starts) {
      for (char c : alphabet) longer.push_back(start + c);
    }
    starts.swap(longer);
    if (length < 4) continue;
    for (const std::string& start : starts) {
      for (const std::string& tail : tails) {
        const std::string document = start + tail;
        if (!surely(document)) continue;
        ++yes;
        ASSERT_EQ(parserEncoding(document), pugi::encoding_utf8) << testing::PrintToString(document);
      }
    }
  }
  EXPECT_GT(yes, 1000);  // the sweep must exercise the yes answers
}

struct BlankCase {
  const char* what;
  std::string document;
  std::string blanked;  // the document afterwards, '#' for an overwritten byte
};

std::string blank(std::string document) {
  std::string text = document;
  const std::size_t count = blankUnreadContent(&text[0], text.size());
  std::size_t changed = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != document[i]) {
      EXPECT_EQ(text[i], 'x');
      document[i] = '#';
      ++changed;
    }
  }
  EXPECT_GE(count, changed);
  return document;
}

std::string hashes(std::size_t n) { return std::string(n, '#'); }

TEST(BlankUnreadContentTest, OverwritesOnlySimpleContentAtTheThirdLevel) {
  const BlankCase cases[] = {
      {"a tie-point section", "<R><B><TiePoints><T><a>1</a><b/></T>\n<T/></TiePoints></B></R>",
       "<R><B><TiePoints>" + hashes(24) + "</TiePoints></B></R>"},
      {"the sections the walk reads",
       "<R><B><Photogroups><G>1</G></Photogroups><ControlPoints><P/></ControlPoints></B></R>",
       "<R><B><Photogroups><G>1</G></Photogroups><ControlPoints><P/></ControlPoints></B></R>"},
      {"a read name cut short by a control byte", "<R><B><Photogroups\v><G>1</G></Photogroups\v></B></R>",
       "<R><B><Photogroups\v><G>1</G></Photogroups\v></B></R>"},
      {"the second and fourth levels", "<R><S>two</S><B><T><U><V>four</V></U></T></B></R>",
       "<R><S>two</S><B><T>" + hashes(18) + "</T></B></R>"},
      {"a text only", "<R><B><Name>Block one</Name></B></R>", "<R><B><Name>" + hashes(9) + "</Name></B></R>"},
      {"up to a child with a comment", "<R><B><T><a>1</a><b><!--c--></b><c/></T></B></R>",
       "<R><B><T>" + hashes(8) + "<b><!--c--></b><c/></T></B></R>"},
      {"up to an attribute", "<R><B><T><a>1</a>\n<b id='1'/></T></B></R>",
       "<R><B><T>" + hashes(9) + "<b id='1'/></T></B></R>"},
      {"up to white space in a tag", "<R><B><T><a>1</a><b >2</b></T></B></R>",
       "<R><B><T>" + hashes(8) + "<b >2</b></T></B></R>"},
      {"up to a mismatched end tag", "<R><B><T><a>1</a><b>2</c></T></B></R>",
       "<R><B><T>" + hashes(8) + "<b>2</c></T></B></R>"},
      {"up to a zero byte", std::string("<R><B><T><a>1</a><b>\0</b></T></B></R>", 37),
       "<R><B><T>" + hashes(8) + std::string("<b>\0</b></T></B></R>", 20)},
      {"up to the end of an unclosed section", "<R><B><T><a>1</a><b>2", "<R><B><T>" + hashes(8) + "<b>2"},
      {"a closing tag of another name", "<R><B><T><a>1</a></U></B></R>", "<R><B><T>" + hashes(8) + "</U></B></R>"},
      {"after a prologue, attributes and other constructs",
       "<?xml version='1.0'?><!--<x>--><R a='>' b=\"'/>\"><?p <y>?><![CDATA[<z>]]><B c='1'/><B><T><a/></T></B></R>",
       "<?xml version='1.0'?><!--<x>--><R a='>' b=\"'/>\"><?p <y>?><![CDATA[<z>]]><B c='1'/><B><T>" + hashes(4) +
           "</T></B></R>"},
      {"every section after the first", "<R><B><T><a/></T><ControlPoints/><U>u</U></B></R>",
       "<R><B><T>" + hashes(4) + "</T><ControlPoints/><U>#</U></B></R>"},
      {"nothing after a DOCTYPE", "<!DOCTYPE R><R><B><T><a/></T></B></R>", "<!DOCTYPE R><R><B><T><a/></T></B></R>"},
      {"nothing after a stray end tag", "</R><R><B><T><a/></T></B></R>", "</R><R><B><T><a/></T></B></R>"},
      {"nothing after an unclosed comment", "<R><B><!--<T><a/></T></B></R>", "<R><B><!--<T><a/></T></B></R>"},
  };
  for (const BlankCase& c : cases) EXPECT_EQ(blank(c.document), c.blanked) << c.what;
}

// Content of some megabytes goes through the two-thread scan; whatever
// stops it, in either half, it must end where a single scan ends.
TEST(BlankUnreadContentTest, LargeContentEndsWhereOneScanEnds) {
  const std::string point = "<P><x>1.5</x><y>2</y><m><i>7</i><e/></m></P>\n";
  const std::string head = "<R><B><T>";
  const int points = 400000;  // about 18 MB
  const auto build = [&](int at, const std::string& odd) {
    std::string out = head;
    out.reserve(head.size() + points * point.size() + odd.size() + 16);
    for (int i = 0; i < points; ++i) {
      if (i == at) out += odd;
      out += point;
    }
    return out + "</T></B></R>";
  };
  const std::size_t all = points * point.size();
  const struct {
    const char* what;
    std::string document;
    std::size_t blanked;
  } cases[] = {
      {"simple throughout", build(-1, ""), all},
      {"a comment early", build(points / 5, "<!---->"), point.size() * (points / 5)},
      {"a comment late", build(points * 4 / 5, "<!---->"), point.size() * (points * 4 / 5)},
      {"an open element late", build(points * 9 / 10, "<P>"), point.size() * (points * 9 / 10)},
      {"the first child's tag a level down past the middle",
       build(points / 3, "<W>").insert(head.size() + all + 3, "</W>"), all + 7},
  };
  for (const auto& c : cases) {
    std::string text = c.document;
    EXPECT_EQ(blankUnreadContent(&text[0], text.size()), c.blanked) << c.what;
    EXPECT_EQ(text.compare(head.size(), c.blanked, std::string(c.blanked, 'x')), 0) << c.what;
    EXPECT_EQ(text[head.size() + c.blanked], '<') << c.what;
  }
}

}  // namespace
