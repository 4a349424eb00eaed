#pragma once

// How the readers take values out of XML elements. All of them accept a
// null node and then read as the empty text or 0.

#include <QString>

#include <pugixml.hpp>

// The value of the first text (PCDATA) or CDATA child of `node`, decoded
// from UTF-8; the empty text when there is none. Text after an interrupting
// child element is not part of it.
QString elementText(pugi::xml_node node);

// The element text of the first child element of `node` named `name`; the
// empty text when there is no such child.
QString childText(pugi::xml_node node, const char* name);

// Why a text that holds more than white space read as 0.
enum class ValueProblem {
  None,        // it is a number, or empty (or white space alone)
  NotANumber,  // such as "412410,5", "0x10", "1 2" or "12a"
  OutOfRange,  // an integer beyond 32 bits
};

// `text` as a base-10 32-bit signed integer, surrounding white space
// ignored; 0 when it is empty, not a number, or out of range. When
// `problem` is given it says why a text that is not blank read as 0.
int integerValue(const QString& text, ValueProblem* problem = nullptr);

// `text` as a double with '.' as the decimal point, surrounding white space
// ignored, by Qt's rules (so "inf" and "nan" are numbers and an overflowing
// exponent reads as an infinity); 0 when it is empty or not a number. When
// `problem` is given it says why a text that is not blank read as 0; an
// overflowing exponent is no problem here.
double realValue(const QString& text, ValueProblem* problem = nullptr);

// The same value and problem as integerValue(QString::fromUtf8(utf8)), for
// every text: `utf8` is the element text as the parser holds it ("" for a
// null node). Plain ASCII numbers are read straight from the bytes; any other
// text is decoded and read as above, so both readings never disagree.
int integerValue(const char* utf8, ValueProblem* problem = nullptr);

// The same value (bit for bit) and problem as
// realValue(QString::fromUtf8(utf8)), for every text; plain ASCII decimal
// numbers whose value is a normal double or a zero are read straight from the
// bytes, any other text as above.
double realValue(const char* utf8, ValueProblem* problem = nullptr);

// Whether `text` is empty or white space alone.
bool isBlank(const QString& text);
// The same for the UTF-8 text `utf8`, decoded only when it holds more than
// ASCII.
bool isBlank(const char* utf8);

// Whether `decoded`, the text of the bytes `utf8`, holds more replacement
// characters (U+FFFD) than the bytes spell as UTF-8: then some bytes were
// not UTF-8 and their characters are lost. Costs a scan of `decoded` only
// when it holds no replacement character.
bool lostCharacters(const char* utf8, const QString& decoded);

// Whether the name of `node` is exactly `name` (case-sensitive). Text nodes
// have an empty name and match no element name.
bool hasName(pugi::xml_node node, const char* name);
