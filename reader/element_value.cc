#include "reader/element_value.h"

#include <charconv>
#include <cmath>
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

bool isAsciiSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The bytes of a text between ASCII white space on either side.
struct Trimmed {
  explicit Trimmed(const char* text) : begin(text) {
    while (isAsciiSpace(*begin)) ++begin;
    end = begin + std::strlen(begin);
    while (end != begin && isAsciiSpace(end[-1])) --end;
  }
  bool empty() const { return begin == end; }
  const char* begin;
  const char* end;
};

// Reads `utf8` when it is ASCII white space alone or an optional sign and at
// most nine significant decimal digits between ASCII white space: forms that
// toInt reads the same way and that cannot overflow. False for any other
// text, which the caller leaves to toInt.
bool plainInteger(const char* utf8, int* value) {
  const Trimmed text(utf8);
  *value = 0;
  if (text.empty()) return true;
  const char* at = text.begin;
  const bool negative = *at == '-';
  if (*at == '+' || *at == '-') ++at;
  if (at == text.end) return false;
  while (at != text.end && *at == '0') ++at;
  if (text.end - at > 9) return false;
  int magnitude = 0;
  for (; at != text.end; ++at) {
    if (!isDigit(*at)) return false;
    magnitude = magnitude * 10 + (*at - '0');
  }
  *value = negative ? -magnitude : magnitude;
  return true;
}

// Reads `utf8` when it is ASCII white space alone, or, between ASCII white
// space, an optional sign, 1 to 40 decimal digits with an optional '.' among
// or after them, and an optional exponent of 1 to 5 digits, and the value is
// a normal double or a zero spelled with zeros alone. Both readers round
// correctly, so they agree there; the rest (Qt's inf and nan, underflow to
// zero or a denormal, overflow, anything not ASCII) is left to toDouble.
bool plainReal(const char* utf8, double* value) {
  const Trimmed text(utf8);
  *value = 0.0;
  if (text.empty()) return true;
  // from_chars takes no '+'.
  const char* number = *text.begin == '+' ? text.begin + 1 : text.begin;
  const char* at = number == text.begin && *number == '-' ? number + 1 : number;
  int digits = 0;
  bool nonZero = false;
  auto digitRun = [&] {
    for (; at != text.end && isDigit(*at); ++at, ++digits) nonZero = nonZero || *at != '0';
  };
  digitRun();
  if (at != text.end && *at == '.') {
    ++at;
    digitRun();
  }
  if (digits == 0 || digits > 40) return false;
  if (at != text.end && (*at == 'e' || *at == 'E')) {
    ++at;
    if (at != text.end && (*at == '+' || *at == '-')) ++at;
    const char* exponent = at;
    while (at != text.end && isDigit(*at)) ++at;
    if (at == exponent || at - exponent > 5) return false;
  }
  if (at != text.end) return false;
  double read = 0.0;
  const auto result = std::from_chars(number, text.end, read);
  if (result.ec != std::errc() || result.ptr != text.end) return false;
  if (nonZero ? std::fpclassify(read) != FP_NORMAL : read != 0.0) return false;
  *value = read;
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

bool isBlank(const char* utf8) {
  for (const char* at = utf8; *at; ++at) {
    // Beyond ASCII a blank may be any of Unicode's spaces: the text decides.
    if (static_cast<unsigned char>(*at) >= 0x80) return isBlank(QString::fromUtf8(utf8));
    if (!isAsciiSpace(*at)) return false;
  }
  return true;
}

int integerValue(const char* utf8, ValueProblem* problem) {
  int value = 0;
  if (!plainInteger(utf8, &value)) return integerValue(QString::fromUtf8(utf8), problem);
  if (problem) *problem = ValueProblem::None;
  return value;
}

double realValue(const char* utf8, ValueProblem* problem) {
  double value = 0.0;
  if (!plainReal(utf8, &value)) return realValue(QString::fromUtf8(utf8), problem);
  if (problem) *problem = ValueProblem::None;
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
