#include "reader/element_value.h"

#include <cstring>

QString elementText(pugi::xml_node node) {
  // xml_text finds the first PCDATA or CDATA child; a null node yields "".
  return QString::fromUtf8(node.text().get());
}

QString childText(pugi::xml_node node, const char* name) { return elementText(node.child(name)); }

bool isBlank(const QString& text) {
  for (const QChar c : text) {
    if (!c.isSpace()) return false;
  }
  return true;
}

namespace {

// An optional sign and one or more decimal digits, white space around them
// ignored: what toInt reads unless it is too large.
bool isDecimalInteger(const QString& text) {
  const QString trimmed = text.trimmed();
  int i = trimmed.startsWith(QLatin1Char('+')) || trimmed.startsWith(QLatin1Char('-')) ? 1 : 0;
  if (i >= trimmed.size()) return false;
  for (; i < trimmed.size(); ++i) {
    if (trimmed[i] < QLatin1Char('0') || trimmed[i] > QLatin1Char('9')) return false;
  }
  return true;
}

}  // namespace

int integerValue(const QString& text, ValueProblem* problem) {
  bool ok = false;
  const int value = text.toInt(&ok, 10);  // 0 on any failure
  if (problem) {
    *problem = ok || isBlank(text)      ? ValueProblem::None
               : isDecimalInteger(text) ? ValueProblem::OutOfRange
                                        : ValueProblem::NotANumber;
  }
  return ok ? value : 0;
}

double realValue(const QString& text, ValueProblem* problem) {
  bool ok = false;
  const double value = text.toDouble(&ok);  // locale-independent; 0 when not a number
  // An overflow is reported as a failure too, but reads as an infinity.
  if (problem) *problem = ok || value != 0.0 || isBlank(text) ? ValueProblem::None : ValueProblem::NotANumber;
  return value;
}

bool lostCharacters(const char* utf8, const QString& decoded) {
  const int replaced = decoded.count(QChar(0xFFFD));
  if (replaced == 0) return false;
  int spelled = 0;
  for (const char* at = utf8; (at = std::strstr(at, "\xEF\xBF\xBD")) != nullptr; at += 3) ++spelled;
  return replaced > spelled;
}

bool hasName(pugi::xml_node node, const char* name) {
  // The parser's names are UTF-8; an exact byte comparison with an ASCII
  // name is the same as decoding the name and comparing the texts.
  return std::strcmp(node.name(), name) == 0;
}
