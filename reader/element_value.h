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

// `text` as a base-10 32-bit signed integer, surrounding white space
// ignored; 0 when it is empty, not a number, or out of range.
int integerValue(const QString& text);

// `text` as a double with '.' as the decimal point, surrounding white space
// ignored, by Qt's rules (so "inf" and "nan" are numbers and an overflowing
// exponent reads as an infinity); 0 when it is empty or not a number.
double realValue(const QString& text);

// Whether the name of `node` is exactly `name` (case-sensitive). Text nodes
// have an empty name and match no element name.
bool hasName(pugi::xml_node node, const char* name);
