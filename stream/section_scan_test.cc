#include "stream/section_scan.h"

#include "tests/support/recording_sink.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Scanned {
  SectionScan::State state;
  bool hasBlock;
  std::string children;  // as a RecordingSink writes them down
};

// Scans `document` in pieces of `pieceSize` bytes, presenting what the scan
// leaves again in front of the next piece, as a load does.
Scanned scan(const std::string& document, std::size_t pieceSize) {
  RecordingSink sink;
  SectionScan scan(testSections(), sink);
  std::string text;
  for (std::size_t at = 0; at < document.size() && scan.state() == SectionScan::State::Scanning; at += pieceSize) {
    text += document.substr(at, pieceSize);
    text.erase(0, scan.feed(&text[0], text.size(), false));
  }
  scan.feed(&text[0], text.size(), true);
  return Scanned{scan.state(), scan.hasContainer(), sink.events};
}

constexpr auto kCertain = SectionScan::State::Certain;
constexpr auto kUncertain = SectionScan::State::Uncertain;

struct ScanCase {
  const char* what;
  std::string document;
  SectionScan::State state;
  std::string children;  // what a certain scan hands on, as a RecordingSink writes it down
};

const std::string kSections = "<Photogroups><G>1</G></Photogroups><ControlPoints><P/></ControlPoints>";

#define BLOCK(inner) "<R><Block>" inner "</Block></R>"

const ScanCase kCases[] = {
    {"a tie-point section", BLOCK("<TiePoints><T><a>1</a><b/></T>\n<T/></TiePoints>"), kCertain, ""},
    {"the read sections", "<R><Block>" + kSections + "</Block></R>", kCertain, "[0]{1|}[1]<P/>|"},
    {"read sections among others, several times",
     BLOCK("<TiePoints/><ControlPoints>a</ControlPoints>x<Other><ControlPoints/></Other><Photogroups/>"), kCertain,
     "[1]a|[0]"},
    {"only the first Block",
     "<R><Block><ControlPoints>1</ControlPoints></Block><Block><ControlPoints>2"
     "</ControlPoints></Block></R>",
     kCertain, "[1]1|"},
    {"only the root's Block", "<R><X><Block><ControlPoints/></Block></X></R>", kCertain, ""},
    {"only the first root", "<R/><R><Block><ControlPoints/></Block></R>", kCertain, ""},
    {"a name cut short by a control byte", BLOCK("<Photogroups\v><G>1</G></Photogroups\v>"), kUncertain, ""},
    {"attributes with quoted markup and both quotes",
     "<?xml version='1.0'?><R a='>' b=\"'/>\" c = \"<x>\"><Block d='1'><ControlPoints e='</ControlPoints>'>"
     "<P f=\"a\tb\"/></ControlPoints><TiePoints><T id=\"1\" note='a > b / c'/></TiePoints></Block></R>",
     kCertain, "[1]<P f=\"a\tb\"/>|"},
    {"comments, instructions, CDATA and references everywhere",
     "<!--<R>--><?p <y>?>\n<R><!--c--><Block><?q?><TiePoints><![CDATA[</TiePoints>]]>&amp;&#x3C;&bogus;"
     "<!-- -- --></TiePoints><ControlPoints><![CDATA[<a>]]><!--x--></ControlPoints></Block></R><!--end-->",
     kCertain, "[1]<![CDATA[<a>]]>|"},
    {"any bytes in texts", BLOCK("<TiePoints>\xC3\xA9\xFF > \x01 ]]> --></TiePoints>"), kCertain, ""},
    {"names of any bytes from 0x80", BLOCK("<T\xC3\xA9:a-b.c_1></T\xC3\xA9:a-b.c_1>"), kCertain, ""},
    {"white space before the end of an end tag", BLOCK("<T></T \n>"), kCertain, ""},
    {"a byte-order mark", "\xEF\xBB\xBF<R/>", kCertain, ""},
    {"text outside the root", "lead<R/>trail & more > x", kCertain, ""},
    {"no Block", "<R><B/></R>", kCertain, ""},
    {"deep unread content",
     BLOCK("<TiePoints><T><P><Q><ANameLongerThanSixteen>v</ANameLongerThanSixteen></Q></P><!--<c>--><P a='<'/>"
           "<![CDATA[</T>]]></T><T><P/></T></TiePoints><ControlPoints><P/></ControlPoints>"),
     kCertain, "[1]<P/>|"},
    {"children of every kind, split where the parser splits them",
     BLOCK("<ControlPoints> a <P>1</P>\n\t<Q n='>'><N>2</N><M/></Q>b<!--c-->c<?p?>d<![CDATA[]]>\r\n</ControlPoints>"),
     kCertain, "[1] a |<P>1</P>|<Q n='>'><N>2</N><M/></Q>|b|c|d|<![CDATA[]]>|"},
    {"a section's own end tag with white space", BLOCK("<Photogroups><G/>x</Photogroups\n>"), kCertain, "[0]{}x|"},
    {"children in parts",
     BLOCK("<Photogroups>t<G><N>a</N> b <P><I>1</I></P><![CDATA[c]]><E/></G>\n<G/><G\n></G></Photogroups>"), kCertain,
     "[0]t|{<N>a</N>| b |<P><I>1</I></P>|<![CDATA[c]]>|<E/>|}{}{}"},

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

TEST(SectionScanTest, HandsOnTheChildrenOfTheReadSectionsOrGivesUp) {
  for (const ScanCase& c : kCases) {
    const Scanned whole = scan(c.document, c.document.size() + 1);
    EXPECT_EQ(whole.state, c.state) << c.what;
    if (c.state == kCertain) {
      EXPECT_EQ(whole.children, c.children) << c.what;
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
        EXPECT_EQ(pieces.children, whole.children) << c.what << ", pieces of " << pieceSize;
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
    std::string text = c.document;  // a recording sink leaves it as it is
    char* const begin = &text[0];
    for (std::size_t from = 0; from < c.document.size(); ++from) {
      for (std::size_t to = from + 1; to <= c.document.size(); ++to) {
        SectionScan ahead;
        ahead.scanFragment(begin + from, begin + to);
        RecordingSink sink;
        SectionScan whole(testSections(), sink);
        whole.feed(begin, c.document.size(), true, &ahead);
        const std::string where =
            std::string(c.what) + ", fragment of bytes " + std::to_string(from) + " to " + std::to_string(to);
        ASSERT_EQ(whole.state(), alone.state) << where;
        if (alone.state == kCertain) {
          ASSERT_EQ(sink.events, alone.children) << where;
        }
      }
    }
  }
}

// A sink that cannot take a child stops the scan, which then cannot be sure.
TEST(SectionScanTest, GivesUpWhenTheSinkRefusesAChild) {
  struct Refusing : SectionSink {
    void section(int) override {}
    bool child(char*, std::size_t) override { return false; }
  } sink;
  SectionScan scan(testSections(), sink);
  std::string text = BLOCK("<ControlPoints><P/></ControlPoints>");
  scan.feed(&text[0], text.size(), true);
  EXPECT_EQ(scan.state(), kUncertain);
}

}  // namespace
