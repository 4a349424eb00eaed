#include "reader/section_scan.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Scanned {
  SectionScan::State state;
  bool hasBlock;
  std::string sections;  // without the wrapper and the zero byte
};

// Scans `document` in pieces of `pieceSize` bytes, presenting what the scan
// leaves again in front of the next piece, as a load does.
Scanned scan(const std::string& document, std::size_t pieceSize) {
  SectionScan scan;
  std::string text;
  for (std::size_t at = 0; at < document.size() && scan.state() == SectionScan::State::Scanning; at += pieceSize) {
    text += document.substr(at, pieceSize);
    text.erase(0, scan.feed(text.data(), text.size(), false));
  }
  scan.feed(text.data(), text.size(), true);
  std::string sections(scan.sections().data(), scan.sections().size());
  if (scan.state() == SectionScan::State::Certain) {
    EXPECT_EQ(sections.substr(0, 7), "<Block>");
    EXPECT_EQ(sections.substr(sections.size() - 9), std::string("</Block>", 9));
    sections = sections.substr(7, sections.size() - 16);
  }
  return Scanned{scan.state(), scan.hasBlock(), sections};
}

constexpr auto kCertain = SectionScan::State::Certain;
constexpr auto kUncertain = SectionScan::State::Uncertain;

struct ScanCase {
  const char* what;
  std::string document;
  SectionScan::State state;
  std::string sections;  // what a certain scan keeps
};

const std::string kSections = "<Photogroups><G>1</G></Photogroups><ControlPoints><P/></ControlPoints>";

#define BLOCK(inner) "<R><Block>" inner "</Block></R>"

const ScanCase kCases[] = {
    {"a tie-point section", BLOCK("<TiePoints><T><a>1</a><b/></T>\n<T/></TiePoints>"), kCertain, ""},
    {"the read sections", "<R><Block>" + kSections + "</Block></R>", kCertain, kSections},
    {"read sections among others, several times",
     BLOCK("<TiePoints/><ControlPoints>a</ControlPoints>x<Other><ControlPoints/></Other><Photogroups/>"), kCertain,
     "<ControlPoints>a</ControlPoints><Photogroups/>"},
    {"only the first Block",
     "<R><Block><ControlPoints>1</ControlPoints></Block><Block><ControlPoints>2"
     "</ControlPoints></Block></R>",
     kCertain, "<ControlPoints>1</ControlPoints>"},
    {"only the root's Block", "<R><X><Block><ControlPoints/></Block></X></R>", kCertain, ""},
    {"only the first root", "<R/><R><Block><ControlPoints/></Block></R>", kCertain, ""},
    {"a name cut short by a control byte", BLOCK("<Photogroups\v><G>1</G></Photogroups\v>"), kUncertain, ""},
    {"attributes with quoted markup and both quotes",
     "<?xml version='1.0'?><R a='>' b=\"'/>\" c = \"<x>\"><Block d='1'><ControlPoints e='</ControlPoints>'>"
     "<P f=\"a\tb\"/></ControlPoints><TiePoints><T id=\"1\" note='a > b / c'/></TiePoints></Block></R>",
     kCertain, "<ControlPoints e='</ControlPoints>'><P f=\"a\tb\"/></ControlPoints>"},
    {"comments, instructions, CDATA and references everywhere",
     "<!--<R>--><?p <y>?>\n<R><!--c--><Block><?q?><TiePoints><![CDATA[</TiePoints>]]>&amp;&#x3C;&bogus;"
     "<!-- -- --></TiePoints><ControlPoints><![CDATA[<a>]]><!--x--></ControlPoints></Block></R><!--end-->",
     kCertain, "<ControlPoints><![CDATA[<a>]]><!--x--></ControlPoints>"},
    {"any bytes in texts", BLOCK("<TiePoints>\xC3\xA9\xFF > \x01 ]]> --></TiePoints>"), kCertain, ""},
    {"names of any bytes from 0x80", BLOCK("<T\xC3\xA9:a-b.c_1></T\xC3\xA9:a-b.c_1>"), kCertain, ""},
    {"white space before the end of an end tag", BLOCK("<T></T \n>"), kCertain, ""},
    {"a byte-order mark", "\xEF\xBB\xBF<R/>", kCertain, ""},
    {"text outside the root", "lead<R/>trail & more > x", kCertain, ""},
    {"no Block", "<R><B/></R>", kCertain, ""},
    {"deep unread content",
     BLOCK("<TiePoints><T><P><Q><ANameLongerThanSixteen>v</ANameLongerThanSixteen></Q></P><!--<c>--><P a='<'/>"
           "<![CDATA[</T>]]></T><T><P/></T></TiePoints><ControlPoints><P/></ControlPoints>"),
     kCertain, "<ControlPoints><P/></ControlPoints>"},

    {"a document type declaration", "<!DOCTYPE R><R><Block/></R>", kUncertain, ""},
    {"CDATA outside the root", "<![CDATA[x]]><R/>", kUncertain, ""},
    {"a zero byte in a text", std::string("<R><Block><T>\0</T></Block></R>", 30), kUncertain, ""},
    {"a zero byte in a text deep down", std::string(BLOCK("<TiePoints><T>\0</T></TiePoints>"), 53), kUncertain, ""},
    {"a zero byte after the root", std::string("<R/>\0", 5), kUncertain, ""},
    {"a zero byte in a comment", std::string("<R><!--\0--></R>", 15), kUncertain, ""},
    {"a zero byte in an attribute", std::string("<R a='\0'/>", 10), kUncertain, ""},
    {"a stray end tag", "</R><R/>", kUncertain, ""},
    {"a mismatched end tag", BLOCK("<T><a>1</b></T>"), kUncertain, ""},
    {"an end tag with a longer name", BLOCK("<T></TT>"), kUncertain, ""},
    {"a mismatch deep down", BLOCK("<TiePoints><T><P><Q>v</P></Q></T><T/></TiePoints>"), kUncertain, ""},
    {"a mismatch inside a read section", BLOCK("<ControlPoints><P></Q></ControlPoints>"), kUncertain, ""},
    {"an unclosed comment", "<R><Block><!--<T><a/></T></Block></R>", kUncertain, ""},
    {"an unclosed CDATA section", "<R><![CDATA[x</R>", kUncertain, ""},
    {"an unclosed instruction", "<R><?p </R>", kUncertain, ""},
    {"an instruction without a target", "<R><? p?></R>", kUncertain, ""},
    {"an unknown declaration", "<R><!x></R>", kUncertain, ""},
    {"a half comment opener", "<R><!-x--></R>", kUncertain, ""},
    {"a tag starting with a digit", "<R><1/></R>", kUncertain, ""},
    {"white space after '<'", "<R>< a/></R>", kUncertain, ""},
    {"an attribute without a value", "<R><a b></a></R>", kUncertain, ""},
    {"an unquoted attribute value", "<R><a b=1></a></R>", kUncertain, ""},
    {"attributes without white space between", "<R><a b='1'c='2'></a></R>", kUncertain, ""},
    {"a broken empty tag", "<R><a/ ></R>", kUncertain, ""},
    {"a quote in a tag", "<R><a\"/></R>", kUncertain, ""},
    {"an unclosed root", "<R><Block>", kUncertain, ""},
    {"a '<' at the end", "<R/><", kUncertain, ""},
    {"a document cut in a tag", "<R><T", kUncertain, ""},
    {"no element", "<!-- only -->", kUncertain, ""},
    {"an empty document", "", kUncertain, ""},
};

TEST(SectionScanTest, KeepsTheReadSectionsOrGivesUp) {
  for (const ScanCase& c : kCases) {
    const Scanned whole = scan(c.document, c.document.size() + 1);
    EXPECT_EQ(whole.state, c.state) << c.what;
    if (c.state == kCertain) {
      EXPECT_EQ(whole.sections, c.sections) << c.what;
    }
  }
  EXPECT_FALSE(scan("<R><B><Block/></B></R><Block/>", 64).hasBlock);
  EXPECT_TRUE(scan("<R><Block/></R>", 64).hasBlock);
}

// Every piece size cuts the document at other places; none may change what
// the scan decides or keeps.
TEST(SectionScanTest, DecidesTheSameWhereverPiecesEnd) {
  for (const ScanCase& c : kCases) {
    const Scanned whole = scan(c.document, c.document.size() + 1);
    for (std::size_t pieceSize = 1; pieceSize <= c.document.size(); ++pieceSize) {
      const Scanned pieces = scan(c.document, pieceSize);
      EXPECT_EQ(pieces.state, whole.state) << c.what << ", pieces of " << pieceSize;
      if (whole.state == kCertain) {
        EXPECT_EQ(pieces.sections, whole.sections) << c.what << ", pieces of " << pieceSize;
        EXPECT_EQ(pieces.hasBlock, whole.hasBlock) << c.what << ", pieces of " << pieceSize;
      }
    }
  }
}

// A fragment scan of any stretch of the text, taken over by the whole scan,
// must change nothing the whole scan decides or keeps.
TEST(SectionScanTest, DecidesTheSameWithAFragmentScannedAhead) {
  for (const ScanCase& c : kCases) {
    const Scanned alone = scan(c.document, c.document.size() + 1);
    const char* const begin = c.document.data();
    for (std::size_t from = 0; from < c.document.size(); ++from) {
      for (std::size_t to = from + 1; to <= c.document.size(); ++to) {
        SectionScan ahead;
        ahead.scanFragment(begin + from, begin + to);
        SectionScan whole;
        whole.feed(begin, c.document.size(), true, &ahead);
        const std::string where =
            std::string(c.what) + ", fragment of bytes " + std::to_string(from) + " to " + std::to_string(to);
        ASSERT_EQ(whole.state(), alone.state) << where;
        if (alone.state == kCertain) {
          ASSERT_EQ(std::string(whole.sections().data() + 7, whole.sections().size() - 16), alone.sections) << where;
        }
      }
    }
  }
}

}  // namespace
