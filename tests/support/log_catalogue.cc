#include "tests/support/log_catalogue.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <regex>
#include <set>

namespace {

bool isWordCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The symbols of the catalogue's notation part `name`, without their quotes.
std::set<std::string> notationSymbols(const char* name) {
  std::set<std::string> symbols;
  for (std::size_t i = 0; i < kLogNotationCount; ++i) {
    if (std::strcmp(kLogNotation[i].name, name) != 0) continue;
    std::string symbol;
    for (const char* c = kLogNotation[i].symbols;; ++c) {
      if (*c == ' ' || *c == '\0') {
        symbols.insert(symbol);
        symbol.clear();
        if (*c == '\0') break;
      } else if (*c != '"') {
        symbol += *c;
      }
    }
  }
  EXPECT_FALSE(symbols.empty()) << "the catalogue's notation has no part " << name;
  return symbols;
}

// A regular expression for the lines of `form`.
std::string formPattern(const std::string& form) {
  static const std::set<std::string> kNumbers = notationSymbols("Integer");
  static const std::set<std::string> kWords = notationSymbols("Word");
  static const std::set<std::string> kTexts = notationSymbols("Text");
  const std::string quotedText = R"("(?:[^"\\]|\\.)*")";
  std::string pattern = "^";
  for (std::size_t i = 0; i < form.size();) {
    if (form.compare(i, 3, "...") == 0) {
      pattern += ".*";
      i += 3;
      continue;
    }
    const char c = form[i];
    if (c == '[' || c == '{') {
      pattern += "(?:";
    } else if (c == ']') {
      pattern += ")?";
    } else if (c == '}') {
      pattern += ")";
    } else if (c == '|') {
      pattern += "|";
    } else if (c == '"') {
      const std::size_t end = form.find('"', i + 1);
      const std::string inside = end == std::string::npos ? "" : form.substr(i + 1, end - i - 1);
      if (kTexts.count(inside) == 0) {
        pattern += c;
      } else {
        pattern += inside == "NAME" ? "(?:" + quotedText + "|[0-9]+)" : quotedText;
        i = end + 1;
        continue;
      }
    } else if (isWordCharacter(c) && (i == 0 || !isWordCharacter(form[i - 1]))) {
      std::size_t end = i;
      while (end < form.size() && isWordCharacter(form[end])) ++end;
      const std::string word = form.substr(i, end - i);
      pattern += kNumbers.count(word) ? "-?[0-9]+" : kWords.count(word) ? ".+" : word;
      i = end;
      continue;
    } else {
      if (std::strchr(R"(\^$.|?*+()[]{}/)", c)) pattern += '\\';
      pattern += c;
    }
    ++i;
  }
  return pattern + "$";
}

}  // namespace

const LogLine* catalogueEntry(const std::string& line) {
  static const std::vector<std::regex> patterns = [] {
    std::vector<std::regex> all;
    for (std::size_t i = 0; i < kLogLineCount; ++i) all.emplace_back(formPattern(kLogLines[i].form));
    return all;
  }();
  for (std::size_t i = 0; i < kLogLineCount; ++i) {
    if (std::regex_match(line, patterns[i])) return &kLogLines[i];
  }
  return nullptr;
}

const LogLine* catalogueEntry(const QString& line) { return catalogueEntry(line.toUtf8().toStdString()); }

bool isCatalogued(const std::string& line) { return catalogueEntry(line) != nullptr; }

bool isCatalogued(const QString& line) { return catalogueEntry(line) != nullptr; }

bool hasCatalogueForm(const std::string& line, const std::string& form) {
  const LogLine* entry = catalogueEntry(line);
  return entry && form == entry->form;
}

testing::AssertionResult allCatalogued(const std::vector<std::string>& lines) {
  testing::AssertionResult result = testing::AssertionSuccess();
  bool all = true;
  for (const std::string& line : lines) {
    if (catalogueEntry(line)) continue;
    if (all) result = testing::AssertionFailure() << "lines that log/log_lines.def lacks:";
    all = false;
    result << "\n  " << line;
  }
  return result;
}

std::vector<LogLineKind> kindsBetween(LogLineKind first, LogLineKind last) {
  std::vector<LogLineKind> kinds;
  for (std::size_t i = static_cast<std::size_t>(first) + 1; i < static_cast<std::size_t>(last); ++i) {
    kinds.push_back(kLogLines[i].kind);
  }
  return kinds;
}

std::vector<LogLineKind> blockWarningKinds() { return kindsBetween(LogLineKind::FilePath, LogLineKind::GenerateFile); }

std::vector<LogLineKind> conversionEndKinds() {
  return kindsBetween(LogLineKind::Written, LogLineKind::NothingWritten);
}

QStringList linesOfKinds(const QStringList& lines, const std::vector<LogLineKind>& kinds) {
  QStringList kept;
  bool keptPrevious = false;  // the line before was kept, and it can be followed by its count
  for (const QString& line : lines) {
    const LogLine* entry = catalogueEntry(line);
    const bool counts = entry && entry->kind == LogLineKind::MoreOfAKind;
    const bool keep =
        entry && (counts ? keptPrevious : std::find(kinds.begin(), kinds.end(), entry->kind) != kinds.end());
    if (keep) kept << line;
    keptPrevious = keep && !counts;
  }
  return kept;
}
