#include "reader/element_value.h"

#include <cstring>

QString elementText(pugi::xml_node node) {
  // xml_text finds the first PCDATA or CDATA child; a null node yields "".
  return QString::fromUtf8(node.text().get());
}

QString childText(pugi::xml_node node, const char* name) {
  return elementText(node.child(name));
}

int integerValue(const QString& text) {
  return text.toInt(nullptr, 10);  // 0 on any failure
}

double realValue(const QString& text) {
  return text.toDouble();  // locale-independent; 0 when not a number
}

bool hasName(pugi::xml_node node, const char* name) {
  // The parser's names are UTF-8; an exact byte comparison with an ASCII
  // name is the same as decoding the name and comparing the texts.
  return std::strcmp(node.name(), name) == 0;
}
