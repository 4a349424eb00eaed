#include "reader/element_value.h"

#include "tests/support/qt_print.h"

#include <gtest/gtest.h>

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

// The first child of the root of `xml`, parsed with the options the loader uses.
struct Parsed {
  explicit Parsed(const char* xml) { EXPECT_TRUE(document.load_string(xml, pugi::parse_default)); }
  pugi::xml_node root() const { return document.first_child(); }
  pugi::xml_node first() const { return root().first_child(); }
  pugi::xml_document document;
};

struct TextCase {
  const char* xml;
  const char* expected;
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.xml; }

class ElementTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(ElementTextTest, TakesTheFirstTextOrCdataChild) {
  const Parsed doc(GetParam().xml);
  EXPECT_EQ(elementText(doc.first()), QString::fromUtf8(GetParam().expected)) << GetParam().xml;
}

INSTANTIATE_TEST_SUITE_P(
    Conventions, ElementTextTest,
    ::testing::Values(TextCase{"<r><Name>GCP_01</Name></r>", "GCP_01"},
                      TextCase{"<r><Name><![CDATA[a<b>&c]]></Name></r>", "a<b>&c"},
                      TextCase{"<r><Name>ab<x/>cd</Name></r>", "ab"},  // interrupted by a child element
                      TextCase{"<r><Name><x>inner</x>after</Name></r>",
                               "after"},                                        // a child's text is not the element's
                      TextCase{"<r><Name>ab<!-- note -->cd</Name></r>", "ab"},  // comment splits the text
                      TextCase{"<r><Name>ab<?pi data?>cd</Name></r>", "ab"},    // so does a processing instruction
                      TextCase{"<r><Name>   </Name></r>", ""},                  // white space only is dropped
                      TextCase{"<r><Name>  a b  </Name></r>", "  a b  "},       // other text is kept untrimmed
                      TextCase{"<r><Name/></r>", ""},
                      TextCase{"<r><Name>&lt;&amp;&#233;&#x20AC;</Name></r>", "<&\xC3\xA9\xE2\x82\xAC"},
                      TextCase{"<r><Name>a\r\nb</Name></r>", "a\nb"},
                      TextCase{"<r><Name><![CDATA[]]>later</Name></r>", ""}));  // an empty CDATA still comes first

TEST(ElementValueTest, NullNodesReadAsEmpty) {
  EXPECT_EQ(elementText(pugi::xml_node()), QString());
  EXPECT_EQ(childText(pugi::xml_node(), "Name"), QString());
  EXPECT_FALSE(hasName(pugi::xml_node(), "Name"));
}

TEST(ElementValueTest, ChildTextUsesTheFirstChildOfThatName) {
  const Parsed doc("<r><p>text<Id>  </Id><Id>7</Id><Other>9</Other></p></r>");
  EXPECT_EQ(childText(doc.first(), "Id"), QString());  // the first Id is empty; the second is not consulted
  EXPECT_EQ(childText(doc.first(), "Other"), "9");
  EXPECT_EQ(childText(doc.first(), "Missing"), QString());
  EXPECT_EQ(childText(doc.first(), "id"), QString());  // names are case-sensitive
}

TEST(ElementValueTest, NamesMatchExactly) {
  const Parsed doc("<r><Photo/>text</r>");
  EXPECT_TRUE(hasName(doc.first(), "Photo"));
  EXPECT_FALSE(hasName(doc.first(), "photo"));
  EXPECT_FALSE(hasName(doc.first(), "Phot"));
  EXPECT_FALSE(hasName(doc.first(), "PhotoX"));
  EXPECT_TRUE(hasName(doc.first().next_sibling(), ""));  // a text node has no name
}

struct IntegerCase {
  const char* text;
  int expected;
};

void PrintTo(const IntegerCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class IntegerValueTest : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(IntegerValueTest, ParsesBase10Int32) {
  EXPECT_EQ(integerValue(QString::fromUtf8(GetParam().text)), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(EdgeTexts, IntegerValueTest,
                         ::testing::Values(IntegerCase{"42", 42}, IntegerCase{" \t 42\n ", 42}, IntegerCase{"-17", -17},
                                           IntegerCase{"+5", 5}, IntegerCase{"010", 10},
                                           IntegerCase{"2147483647", INT_MAX}, IntegerCase{"-2147483648", INT_MIN},
                                           IntegerCase{"2147483648", 0}, IntegerCase{"-2147483649", 0},
                                           IntegerCase{"", 0}, IntegerCase{"abc", 0}, IntegerCase{"12abc", 0},
                                           IntegerCase{"1.0", 0}, IntegerCase{"0x10", 0}, IntegerCase{"1 2", 0}));

struct RealCase {
  const char* text;
  double expected;
};

void PrintTo(const RealCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class RealValueTest : public ::testing::TestWithParam<RealCase> {};

TEST_P(RealValueTest, ParsesWithADecimalPoint) {
  EXPECT_EQ(realValue(QString::fromUtf8(GetParam().text)), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(EdgeTexts, RealValueTest,
                         ::testing::Values(RealCase{"512.6789", 512.6789}, RealCase{"  -0.5\n", -0.5},
                                           RealCase{"1e3", 1000.0}, RealCase{"+2.5E-1", 0.25}, RealCase{".5", 0.5},
                                           RealCase{"7", 7.0},
                                           RealCase{"1,5", 0.0},  // a comma is never a decimal point
                                           RealCase{"", 0.0}, RealCase{"x1", 0.0}, RealCase{"1.5m", 0.0},
                                           RealCase{"1e308", 1e308}, RealCase{"1e400", HUGE_VAL},
                                           RealCase{"-1e400", -HUGE_VAL}, RealCase{"inf", HUGE_VAL}));

TEST(RealValueTest, NanIsANumber) { EXPECT_TRUE(std::isnan(realValue(QStringLiteral("nan")))); }

struct ProblemCase {
  const char* text;
  ValueProblem integer;
  ValueProblem real;
};

void PrintTo(const ProblemCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class ValueProblemTest : public ::testing::TestWithParam<ProblemCase> {};

// Asking why gives the same values as not asking, and says why a text that
// is not blank read as 0.
TEST_P(ValueProblemTest, NamesWhatReadAsZero) {
  const QString text = QString::fromUtf8(GetParam().text);
  ValueProblem problem = ValueProblem::None;
  EXPECT_EQ(integerValue(text, &problem), integerValue(text));
  EXPECT_EQ(problem, GetParam().integer);
  const double real = realValue(text, &problem);
  EXPECT_TRUE(real == realValue(text) || (std::isnan(real) && std::isnan(realValue(text))));
  EXPECT_EQ(problem, GetParam().real);
}

constexpr ValueProblem kNone = ValueProblem::None;
constexpr ValueProblem kNotANumber = ValueProblem::NotANumber;
constexpr ValueProblem kOutOfRange = ValueProblem::OutOfRange;

INSTANTIATE_TEST_SUITE_P(
    Conventions, ValueProblemTest,
    ::testing::Values(ProblemCase{"12", kNone, kNone}, ProblemCase{" -7 ", kNone, kNone}, ProblemCase{"", kNone, kNone},
                      ProblemCase{" \n\t", kNone, kNone}, ProblemCase{"412410,5", kNotANumber, kNotANumber},
                      ProblemCase{"0x10", kNotANumber, kNotANumber}, ProblemCase{"1 2", kNotANumber, kNotANumber},
                      ProblemCase{"12a", kNotANumber, kNotANumber}, ProblemCase{"1.5", kNotANumber, kNone},
                      ProblemCase{"+", kNotANumber, kNotANumber}, ProblemCase{"2147483648", kOutOfRange, kNone},
                      ProblemCase{"-99999999999", kOutOfRange, kNone}, ProblemCase{"1e400", kNotANumber, kNone},
                      ProblemCase{"nan", kNotANumber, kNone}));

// Only replacement characters that the bytes do not spell count as lost.
TEST(LostCharactersTest, CountsReplacementsTheBytesDoNotSpell) {
  const struct {
    const char* bytes;
    bool lost;
  } cases[] = {
      {"M\xC3\xBCller", false},         // valid UTF-8
      {"M\xEF\xBF\xBDller", false},     // a replacement character of the file's own
      {"M\xFCller", true},              // Latin-1 read as UTF-8
      {"\xEF\xBF\xBD and \xFC", true},  // one of each
      {"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(lostCharacters(c.bytes, QString::fromUtf8(c.bytes)), c.lost) << c.bytes;
  }
}

// What reading `text` gives: the integer and its problem, the real's bits
// (every NaN alike) and its problem, and whether it is blank.
template <typename Text>
std::tuple<int, int, std::uint64_t, int, bool> reading(const Text& text) {
  ValueProblem problems[2];
  const int integer = integerValue(text, &problems[0]);
  double real = realValue(text, &problems[1]);
  if (std::isnan(real)) real = NAN;
  std::uint64_t bits = 0;
  std::memcpy(&bits, &real, sizeof bits);
  return {integer, int(problems[0]), bits, int(problems[1]), isBlank(text)};
}

// Reading the bytes of a text gives what reading its decoded text gives.
class BytesReadingTest : public ::testing::Test {
 protected:
  void check(const std::string& bytes) {
    const auto byBytes = reading(bytes.c_str()), byText = reading(QString::fromUtf8(bytes.c_str()));
    if (byBytes == byText || ++failures_ > 10) return;
    EXPECT_EQ(byBytes, byText) << '"' << bytes << '"';
  }
  int failures_ = 0;
};

// The texts between the '|' of `list`.
std::vector<std::string> split(const std::string& list) {
  std::vector<std::string> parts(1);
  for (const char c : list) c == '|' ? parts.emplace_back().clear() : parts.back().push_back(c);
  return parts;
}

TEST_F(BytesReadingTest, AgreesOverEverySpellingFromParts) {
  const auto blanks = split("| |\t|\n|\r\n|\v|\f|\xC2\xA0|\xE2\x80\x83|\xE3\x80\x80");
  const auto signs = split("|+|-|++|+-|\xE2\x88\x92");
  const auto mantissas = split(
      "|0|00|1|007|123456789|0123456789|1234567890|2147483647|2147483648|4294967296|99999999999999999999|"
      "0000000000000000000000000000000000000000001|1.|.5|.|1.5|0.000|12a|0x10|1,5|1 2|\xEF\xBC\x97|inf|INF|iNf|"
      "Infinity|nan|NaN|in|infx|e5|1e|1.2.3|0.1|512.6789|2.2250738585072014|4.9406564584124654|1.7976931348623157|"
      "3.14159265358979323846264338327950288");
  const auto exponents = split("|e0|E+5|e-5|e308|e309|e-308|e-320|e-400|e+|e99999999999|e-99999");
  for (const auto& lead : blanks)
    for (const auto& trail : blanks)
      if (lead.empty() || trail.empty() || lead == trail)
        for (const auto& sign : signs)
          for (const auto& mantissa : mantissas)
            for (const auto& exponent : exponents) check(lead + sign + mantissa + exponent + trail);
}

TEST_F(BytesReadingTest, AgreesOverRandomSpellings) {
  // Weighted toward digits, so that many of them are numbers.
  const auto pieces = split("0|1|2|5|7|9|0|3|+|-|.|e|E| |\t|i|n|f|a|t|y|I|N|F|,|\xC2\xA0|\xEF\xBC\x97|\xE2\x88\x92");
  std::mt19937 random(20240501);
  for (int i = 0; i < 100000; ++i) {
    std::string text;
    for (unsigned n = 1 + random() % 8; n > 0; --n) text += pieces[random() % pieces.size()];
    check(text);
  }
  // Doubles of every magnitude, and measurement-like ones, as to_chars spells them.
  const auto spelled = [](auto... how) {
    char buffer[64];
    return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, how...).ptr);
  };
  for (int i = 0; i < 10000; ++i) {
    const std::uint64_t bits = std::uint64_t(random()) << 32 | random();
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof value);
    const double measurement = (int(random() % 2000000001) - 1000000000) / std::pow(10.0, random() % 10);
    for (const std::string& text :
         {spelled(value, std::chars_format::general, 17), spelled(value, std::chars_format::scientific),
          spelled(measurement, std::chars_format::fixed, int(random() % 10)), spelled(measurement)})
      check(text);
  }
}

}  // namespace
