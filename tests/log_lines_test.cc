// The log lines are listed in three places: the README, the --help text and
// the man page. Each must name every kind of line the tool writes, and
// nothing else.

#include "tests/support/run_tool.h"
#include "tests/support/scratch_files.h"

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include <cstddef>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

const QString kExe = QStringLiteral(BLOCK2GCI_EXE);
const std::string kSourceDir = BLOCK2GCI_SOURCE_DIR;

// Every kind of log line, by a pattern that each of its listings holds
// whatever it puts in place of the paths, names and numbers.
struct Kind {
  const char* name;
  const char* pattern;
};
const std::vector<Kind> kKinds = {
    {"read", R"(^filePath: ")"},
    {"shared id", R"(Warning: photo id \S+ is shared: kept ")"},
    {"id without photo", R"(Warning: photo id \S+ is named by \S+ measurements but no photo has it)"},
    {"empty name", R"(Warning: control point \S+ has an empty name)"},
    {"blanks in name", R"(Warning: control point ".*" has blanks in its name)"},
    {"outside image", R"(Warning: control point ".*" has \S+ of \S+ measurements outside their image)"},
    {"not a number", R"(Warning: (control point|photo|photogroup) ".*": .* is (not a number|out of range), read as 0)"},
    {"no position", R"(Warning: control point ".*" has no Position, written at 0, 0, 0)"},
    {"missing coordinate", R"(Warning: control point ".*": Position .* missing or empty, written as 0)"},
    {"check point flag", R"(Warning: control point ".*": CheckPoint ".*" is neither "true" nor "false")"},
    {"same point name", R"(Warning: control points \S+ and \S+ have the same name ")"},
    {"earlier group's size", R"(Warning: photo \S+ \(photogroup ".*"\) takes the image size)"},
    {"no size", R"(Warning: photo \S+ \(photogroup ".*"\) has the image size 0 x 0)"},
    {"empty image name", R"(Warning: photo \S+ \(".*"\) has an empty image name)"},
    {"blanks in image name", R"(Warning: photo \S+ \(".*"\) has blanks in its image name ")"},
    {"same image name", R"(Warning: photos \S+ \(".*"\) and \S+ \(".*"\) have the same image name ")"},
    {"not UTF-8", R"(Warning: .*: its (image )?name .*has bytes that are not UTF-8)"},
    {"not representable", R"(Warning: .*: its (image )?name .*has characters that the local)"},
    {"code page",
     R"(^Warning: the block file is probably saved in a Windows code page, not in UTF-8: save it as UTF-8)"},
    {"more of a kind", R"(^Warning: and \S+ more)"},
    {"written", R"(^Generate file:  ")"},
    {"summary", R"(^Written: \S+ control points \(\S+ check points\), \S+ measurements)"},
    {"no file", R"(^Warning: no GCI file written: )"},
    {"ignored arguments", R"(^Warning: only the first argument is converted; ignored: ")"},
    {"open failed", R"((^|/ )Open failed( |$))"},
    {"reason", R"((^|/ )Reason: ".*" ")"},
    {"write failed", R"(^Write failed: ".*" ")"},
    {"out of memory", R"(^Out of memory$)"},
};

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

// The lines of `document` after the line `first`, up to the line that starts
// with `next` (or the end).
std::vector<std::string> section(const std::string& document, const std::string& first, const std::string& next) {
  std::vector<std::string> lines;
  bool inside = false;
  for (const std::string& line : splitLines(document)) {
    if (inside && !next.empty() && line.rfind(next, 0) == 0) break;
    if (inside) lines.push_back(line);
    if (line == first) inside = true;
  }
  return lines;
}

// README: the first cell of each row of the table under "## Log lines".
std::vector<std::string> readmeEntries() {
  std::vector<std::string> entries;
  for (const std::string& line :
       section(readFile(QString::fromStdString(kSourceDir + "/README.md")), "## Log lines", "## ")) {
    if (line.rfind("| `", 0) != 0) continue;
    const std::size_t end = line.find("` |");
    if (end != std::string::npos) entries.push_back(line.substr(3, end - 3));
  }
  return entries;
}

// --help: the lines indented by two blanks after "Log lines"; a line
// indented further continues the one before it.
std::vector<std::string> helpEntries(const std::string& help) {
  std::vector<std::string> entries;
  for (const std::string& line : section(help, "Log lines (standard error):", "")) {
    if (line.rfind("   ", 0) == 0 && !entries.empty()) {
      entries.back() += " " + line.substr(line.find_first_not_of(' '));
    } else if (line.rfind("  ", 0) == 0) {
      entries.push_back(line.substr(2));
    }
  }
  return entries;
}

// Man page: the bold tag of each item of the LOG LINES section, with the
// escapes it uses turned back into plain text.
std::vector<std::string> manEntries() {
  std::vector<std::string> entries;
  bool tag = false;
  for (std::string line :
       section(readFile(QString::fromStdString(kSourceDir + "/docs/block2gci.1.in")), ".SH LOG LINES", ".SH ")) {
    if (tag && line.rfind(".B ", 0) == 0) {
      line = line.substr(3);
      replaceAll(line, "\\(dq", "\"");
      replaceAll(line, "\\-", "-");
      entries.push_back(line);
    }
    tag = line == ".TP";
  }
  return entries;
}

// The kinds that `entries` name; an entry that names no kind is reported.
std::set<std::string> kindsListed(const std::vector<std::string>& entries, const char* where) {
  std::set<std::string> kinds;
  for (const std::string& entry : entries) {
    bool known = false;
    for (const Kind& kind : kKinds) {
      if (std::regex_search(entry, std::regex(kind.pattern))) {
        kinds.insert(kind.name);
        known = true;
      }
    }
    EXPECT_TRUE(known) << where << " lists a line of no known kind: " << entry;
  }
  return kinds;
}

TEST(LogLines, ReadmeHelpAndManPageListEveryKindOfLineAndNoOther) {
  ToolOptions options;
  options.program = kExe;
  options.args = QStringList{QStringLiteral("--help")};
  const ToolRun help = runTool(options);
  ASSERT_TRUE(exited(help, 0));

  std::set<std::string> all;
  for (const Kind& kind : kKinds) all.insert(kind.name);
  EXPECT_EQ(kindsListed(readmeEntries(), "README.md"), all);
  EXPECT_EQ(kindsListed(helpEntries(help.out), "--help"), all);
  EXPECT_EQ(kindsListed(manEntries(), "the man page"), all);
}

}  // namespace
