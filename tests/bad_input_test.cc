// Hostile and damaged input: every case runs the built executable on bytes
// that other programs, half-finished copies or strangers could hand it, and
// checks that it ends by itself with 0 or 1, says why when it fails, and
// leaves either a complete output or none at all (never a temporary file).
// The cases that need FIFOs, /dev/null or Linux's path limits are built on
// Unix alone.

#include "tests/support/run_tool.h"
#include "tests/support/sample_blocks.h"
#include "tests/support/scratch_files.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QChar>
#include <QDir>
#include <QString>
#include <QTemporaryDir>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

const QString kExe = QStringLiteral(BLOCK2GCI_EXE);

ToolRun runOn(const QString& input, const EnvSettings& env = {}, int timeoutMs = 60000) {
  ToolOptions options;
  options.program = kExe;
  options.args = QStringList{input};
  options.env = env;
  options.timeoutMs = timeoutMs;
  return runTool(options);
}

bool hasLine(const ToolRun& run, const std::string& line) {
  const Lines lines = run.errLines();
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool hasLineStarting(const ToolRun& run, const std::string& start) {
  for (const std::string& line : run.errLines()) {
    if (startsWith(line, start)) return true;
  }
  return false;
}

std::vector<std::string> split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (size_t at; (at = text.find(separator, from)) != std::string::npos; from = at + separator.size()) {
    parts.push_back(text.substr(from, at - from));
  }
  parts.push_back(text.substr(from));
  return parts;
}

// Whether `gci` is a whole GCI text: CR LF after every line, the last one
// included, a header with the number of points, and per point its line, a
// count line and exactly that many measurement lines. A cut-off file fails.
testing::AssertionResult isCompleteGci(const std::string& gci) {
  if (gci.size() < 3 || gci.compare(gci.size() - 2, 2, "\r\n") != 0) {
    return testing::AssertionFailure() << "does not end with CR LF";
  }
  std::vector<std::string> lines = split(gci.substr(0, gci.size() - 2), "\r\n");
  for (const std::string& line : lines) {
    if (line.find_first_of("\r\n") != std::string::npos) return testing::AssertionFailure() << "a bare CR or LF";
  }
  size_t at = 0;
  auto count = [&](long long& value) {
    if (at >= lines.size()) return false;
    char* end = nullptr;
    value = std::strtoll(lines[at].c_str(), &end, 10);
    return !lines[at].empty() && *end == '\0' && value >= 0 && std::to_string(value) == lines[at++];
  };
  long long points = 0;
  if (!count(points)) return testing::AssertionFailure() << "bad header line";
  for (long long p = 0; p < points; ++p) {
    if (++at > lines.size()) return testing::AssertionFailure() << "point " << p << " missing";
    long long measurements = 0;
    if (!count(measurements)) return testing::AssertionFailure() << "bad count line of point " << p;
    at += static_cast<size_t>(measurements);
    if (at > lines.size()) return testing::AssertionFailure() << "measurements of point " << p << " missing";
  }
  if (at != lines.size()) return testing::AssertionFailure() << (lines.size() - at) << " lines too many";
  return testing::AssertionSuccess();
}

// One input in a scratch directory of its own, converted by the tool.
class Conversion {
 public:
  explicit Conversion(const std::string& bytes, const std::string& name = "block.xml") : name_(name) {
    EXPECT_TRUE(scratch_.isValid());
    writeFile(input(), bytes);
  }

  QString input() const { return scratch_.filePath(QString::fromStdString(name_)); }
  QString output() const { return scratch_.filePath(QString::fromStdString(outputName())); }
  QString dir() const { return scratch_.path(); }

  const ToolRun& run(const EnvSettings& env = {}, int timeoutMs = 60000) {
    run_ = runOn(input(), env, timeoutMs);
    return run_;
  }

  const ToolRun& result() const { return run_; }
  std::string gci() const { return readFile(output()); }

  // The run ended by itself in one of the two ways a user may see: the
  // load failed and said why, and nothing was written; or the block was
  // loaded and either a complete output or, with no control points, none
  // at all stands beside the input. Never a temporary file.
  testing::AssertionResult endedCleanly() const {
    const Lines inputOnly = {name_};
    const Lines withOutput = {outputName(), name_};
    const Lines entries = listDir(dir());
    if (run_.exitedWith(1)) {
      if (!hasLine(run_, kOpenFailed) || !hasLineStarting(run_, "Reason: \"")) {
        return testing::AssertionFailure() << "exit 1 without saying why: " << run_.describe();
      }
      if (entries != inputOnly) return testing::AssertionFailure() << "a failed load left a file behind";
      return testing::AssertionSuccess();
    }
    if (run_.exitedWith(0)) {
      if (!hasLineStarting(run_, "filePath: \"")) return testing::AssertionFailure() << run_.describe();
      if (entries == inputOnly) {
        if (hasLineStarting(run_, "Generate file:")) return testing::AssertionFailure() << "announced, not written";
        return testing::AssertionSuccess();
      }
      if (entries != withOutput) return testing::AssertionFailure() << "unexpected files: " << entries.size();
      if (!hasLineStarting(run_, "Generate file:  \"")) return testing::AssertionFailure() << run_.describe();
      return isCompleteGci(gci());
    }
    return testing::AssertionFailure() << run_.describe();
  }

  // The load failed and said so; no output file.
  testing::AssertionResult loadFailed() const {
    if (!run_.exitedWith(1)) return testing::AssertionFailure() << run_.describe();
    return endedCleanly();
  }

  // The block was converted into a complete output.
  testing::AssertionResult converted() const {
    if (!run_.exitedWith(0)) return testing::AssertionFailure() << run_.describe();
    if (!exists(output())) return testing::AssertionFailure() << "no output; " << run_.describe();
    return endedCleanly();
  }

 private:
  std::string outputName() const { return name_.substr(0, name_.rfind('.')) + ".gci"; }

  QTemporaryDir scratch_;
  std::string name_;
  ToolRun run_;
};

std::string repeat(const std::string& piece, size_t times) {
  std::string text;
  text.reserve(piece.size() * times);
  for (size_t i = 0; i < times; ++i) text += piece;
  return text;
}

// Inserts `fragment` into the example block right before `before`.
std::string exampleWith(const std::string& before, const std::string& fragment) {
  std::string text = exampleBlock();
  const size_t at = text.find(before);
  EXPECT_NE(at, std::string::npos) << before;
  return at == std::string::npos ? text : text.insert(at, fragment);
}

TEST(DamagedFile, TruncatedAtManyOffsets) {
  const std::string whole = exampleBlock();
  const size_t rootEnd = whole.rfind("</BlocksExchange>") + std::string("</BlocksExchange>").size();
  std::vector<size_t> offsets;
  for (size_t offset = 0; offset < whole.size(); offset += 53) offsets.push_back(offset);
  for (size_t offset : {size_t{1}, size_t{5}, size_t{38}, rootEnd - 2, rootEnd - 1, rootEnd, whole.size() - 1}) {
    offsets.push_back(offset);
  }
  for (size_t offset : offsets) {
    SCOPED_TRACE("truncated to " + std::to_string(offset) + " bytes");
    Conversion c(whole.substr(0, offset));
    c.run();
    if (offset < rootEnd) {
      EXPECT_TRUE(c.loadFailed());
    } else {
      EXPECT_TRUE(c.converted());
      EXPECT_TRUE(sameText(c.gci(), exampleGci()));
    }
  }
}

TEST(DamagedFile, RandomByteDamage) {
  const std::string whole = exampleBlock();
  std::mt19937 random(20261208);
  const std::string special = std::string("<>&;/=\"'!?[]-\0\xff\xc3\r\n", 18);
  for (int variant = 0; variant < 60; ++variant) {
    std::string damaged = whole;
    const int changes = 1 + variant % 8;
    for (int i = 0; i < changes; ++i) {
      const size_t at = random() % damaged.size();
      damaged[at] = random() % 2 ? special[random() % special.size()] : static_cast<char>(random() % 256);
    }
    SCOPED_TRACE("variant " + std::to_string(variant));
    Conversion c(damaged);
    c.run();
    EXPECT_TRUE(c.endedCleanly());
  }
}

TEST(DamagedFile, InvalidUtf8IsReadAsReplacementCharacters) {
  struct Case {
    const char* what;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {"a stray continuation byte", "\x80"},    {"a byte that is never UTF-8", "\xff\xfe"},
      {"a sequence cut short", "\xe2\x82"},     {"an overlong slash", "\xc0\xaf"},
      {"an encoded surrogate", "\xed\xa0\x80"}, {"beyond U+10FFFF", "\xf4\x90\x80\x80"},
  };
  for (const Case& bad : cases) {
    SCOPED_TRACE(bad.what);
    Conversion c(oneMeasurementBlock("100", "50", "3", "dir/img" + bad.bytes + ".jpg", "P" + bad.bytes + "Q", "1", "2",
                                     "3", "3", "10", "20"));
    c.run();
    ASSERT_TRUE(c.converted());
    const std::string gci = c.gci();
    // The damaged bytes become U+FFFD (one or more), written in the local
    // encoding (UTF-8 here, the code page's replacement in an ANSI code
    // page); the rest is kept.
    EXPECT_TRUE(startsWith(gci, "1\r\nP")) << shownLine(gci);
    EXPECT_NE(gci.find(local8Bit(QString(QChar(0xFFFD)))), std::string::npos) << shownLine(gci);
    EXPECT_EQ(gci.find(bad.bytes), std::string::npos) << "raw invalid bytes reached the output";
    EXPECT_NE(gci.find("Q       "), std::string::npos) << shownLine(gci);
    EXPECT_NE(gci.find("\r\nimg"), std::string::npos) << shownLine(gci);
  }
}

TEST(DamagedFile, NulBytes) {
  const std::string nul(1, '\0');
  struct Case {
    const char* what;
    std::string bytes;
    bool converts;
  };
  const std::vector<Case> cases = {
      {"inside a name", exampleWith("GCP_01", "AB" + nul + "CD"), false},
      {"inside an element name", exampleWith("Block>", "Bl" + nul), false},
      {"before the declaration", nul + exampleBlock(), false},
      {"only NULs", std::string(4096, '\0'), false},
      {"after the root element", exampleBlock() + nul + "<junk>", true},
  };
  for (const Case& bad : cases) {
    SCOPED_TRACE(bad.what);
    Conversion c(bad.bytes);
    c.run();
    if (bad.converts) {
      EXPECT_TRUE(c.converted());
      EXPECT_TRUE(sameText(c.gci(), exampleGci()));
    } else {
      EXPECT_TRUE(c.loadFailed());
    }
  }
}

// `ascii` in UTF-16 without a byte-order mark.
std::string utf16(const std::string& ascii, bool bigEndian) {
  return utf16(QString::fromLatin1(ascii.data(), static_cast<int>(ascii.size())), bigEndian, false).toStdString();
}

TEST(DamagedFile, Utf16WithoutByteOrderMarkIsRecognised) {
  std::string block = exampleBlock();
  block.replace(block.find("encoding=\"utf-8\""), 16, "encoding=\"utf-16\"");
  ASSERT_EQ(std::count_if(block.begin(), block.end(), [](char c) { return c & 0x80; }), 0) << "not ASCII";
  for (bool bigEndian : {false, true}) {
    SCOPED_TRACE(bigEndian ? "UTF-16BE" : "UTF-16LE");
    Conversion c(utf16(block, bigEndian));
    c.run();
    ASSERT_TRUE(c.converted());
    EXPECT_TRUE(sameText(c.gci(), exampleGci()));
  }
  // Cut in the middle of a character, the text is no longer a document.
  Conversion odd(utf16(block, false).substr(0, 2001));
  odd.run();
  EXPECT_TRUE(odd.loadFailed());
}

TEST(HostileFile, NestedEntitiesAreNotExpanded) {
  std::string dtd = "<!DOCTYPE BlocksExchange [\n<!ENTITY lol0 \"lol\">\n";
  for (int level = 1; level <= 12; ++level) {
    dtd +=
        "<!ENTITY lol" + std::to_string(level) + " \"" + repeat("&lol" + std::to_string(level - 1) + ";", 10) + "\">\n";
  }
  dtd += "]>\n";
  std::string block = oneMeasurementBlock("10", "10", "1", "&lol12;.jpg", "&lol12;", "1", "2", "3", "1", "4", "5");
  block.insert(block.find("<BlocksExchange>"), dtd);
  Conversion c(block);
  c.run({}, 20000);
  ASSERT_TRUE(c.converted());
  EXPECT_TRUE(sameText(c.gci(), oneMeasurementGci("&lol12;", 1, 2, 3, "&lol12;", -0.5, -0.5)));
}

TEST(HostileFile, ExternalEntitiesAndSystemIdsAreNeverRead) {
  QTemporaryDir secrets;
  const std::string secretFile = secrets.path().toStdString() + "/secret.txt";
  ASSERT_TRUE(writeFile(QString::fromStdString(secretFile), "TOPSECRET"));
#ifdef Q_OS_UNIX
  // Opening a FIFO for reading blocks until someone writes to it, so a
  // tool that follows the reference would hang and hit the timeout.
  const std::string fifo = secrets.path().toStdString() + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
#else
  // Without FIFOs: a tool that follows the reference would copy the secret.
  const std::string fifo = secretFile;
#endif

  struct Case {
    const char* what;
    std::string doctype;
  };
  const std::vector<Case> cases = {
      {"an external general entity", "<!DOCTYPE BlocksExchange [<!ENTITY secret SYSTEM \"file://" + secretFile +
                                         "\"><!ENTITY pipe SYSTEM \"" + fifo + "\">]>\n"},
      {"an external DTD", "<!DOCTYPE BlocksExchange SYSTEM \"" + fifo + "\">\n"},
      {"a public id", "<!DOCTYPE BlocksExchange PUBLIC \"-//x//y\" \"" + fifo + "\">\n"},
      {"an external parameter entity", "<!DOCTYPE BlocksExchange [<!ENTITY % ext SYSTEM \"" + fifo + "\"> %ext;]>\n"},
  };
  for (const Case& hostile : cases) {
    SCOPED_TRACE(hostile.what);
    std::string block = oneMeasurementBlock("10", "10", "1", "&pipe;", "&secret;", "1", "2", "3", "1", "4", "5");
    block.insert(block.find("<BlocksExchange>"), hostile.doctype);
    Conversion c(block);
    c.run({}, 20000);
    ASSERT_TRUE(c.converted());
    EXPECT_TRUE(sameText(c.gci(), oneMeasurementGci("&secret;", 1, 2, 3, "&pipe;", -0.5, -0.5)));
  }
}

TEST(HostileFile, NestingHundredsOfThousandsDeep) {
  const size_t depth = 300000;
  const std::string open = repeat("<a>", depth);
  const std::string close = repeat("</a>", depth);
  struct Case {
    const char* what;
    std::string bytes;
    std::string gci;  // empty: the load fails
  };
  std::string deepName = exampleWith("GCP_01", "");
  deepName.replace(deepName.find("GCP_01"), 6, "GCP_01" + open + "x" + close + "tail");
  const std::vector<Case> cases = {
      {"an ignored element inside the block", exampleWith("<ControlPoints>", open + "x" + close), exampleGci()},
      {"inside a point's name", deepName, exampleGci()},
      {"as the whole document", open + close, ""},
      {"never closed", exampleWith("<ControlPoints>", open), ""},
      {"closed too often", exampleWith("<ControlPoints>", close), ""},
  };
  for (const Case& deep : cases) {
    SCOPED_TRACE(deep.what);
    Conversion c(deep.bytes);
    c.run();
    if (deep.gci.empty() && deep.bytes.compare(0, 3, "<a>") == 0) {
      // Well-formed, but there is no block in it: nothing to write.
      EXPECT_TRUE(c.result().exitedWith(0)) << c.result().describe();
      EXPECT_TRUE(c.endedCleanly());
      EXPECT_FALSE(exists(c.output()));
    } else if (deep.gci.empty()) {
      EXPECT_TRUE(c.loadFailed());
    } else {
      EXPECT_TRUE(c.converted());
      EXPECT_TRUE(sameText(c.gci(), deep.gci));
    }
  }
}

TEST(HostileFile, FiveMegabyteNames) {
  const std::string huge = repeat("N", 5 * 1024 * 1024);
  {
    SCOPED_TRACE("a point name");
    Conversion c(oneMeasurementBlock("10", "10", "1", "img.jpg", huge, "1", "2", "3", "1", "4", "5"));
    c.run();
    ASSERT_TRUE(c.converted());
    EXPECT_TRUE(sameText(c.gci(), oneMeasurementGci(huge, 1, 2, 3, "img", -0.5, -0.5)));
  }
  {
    SCOPED_TRACE("an image path");
    Conversion c(oneMeasurementBlock("10", "10", "1", "dir/" + huge + ".jpg", "P", "1", "2", "3", "1", "4", "5"));
    c.run();
    ASSERT_TRUE(c.converted());
    EXPECT_TRUE(sameText(c.gci(), oneMeasurementGci("P", 1, 2, 3, huge, -0.5, -0.5)));
  }
  {
    SCOPED_TRACE("an element name");
    Conversion c(exampleWith("<ControlPoints>", "<" + huge + ">x</" + huge + ">"));
    c.run();
    ASSERT_TRUE(c.converted());
    EXPECT_TRUE(sameText(c.gci(), exampleGci()));
  }
  {
    SCOPED_TRACE("an unclosed attribute value");
    Conversion c(exampleWith("<ControlPoints>", "<a b=\"" + huge));
    c.run();
    EXPECT_TRUE(c.loadFailed());
  }
}

TEST(HostileFile, ExtremeNumbersInEveryNumericField) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* text;
    double value;  // as a coordinate; every integer field reads it as 0
  };
  const std::vector<Case> cases = {
      {"1e308", 1e308},       {"-1e308", -1e308}, {"1.7976931348623157e308", 1.7976931348623157e308},
      {"1e400", inf},         {"-1e400", -inf},   {"inf", inf},
      {"-inf", -inf},         {"nan", nan},       {"1e-400", 0.0},
      {"4.9e-324", 4.9e-324},
  };
  for (const Case& number : cases) {
    SCOPED_TRACE(number.text);
    const std::string v = number.text;
    Conversion c(oneMeasurementBlock(v, v, v, "img.jpg", "P", v, v, v, v, v, v));
    c.run();
    ASSERT_TRUE(c.converted());
    // Width, height and both ids read as 0, so the measurement moves by half a pixel.
    const double x = (number.value - 0.0) + 0.5;
    const double y = (0.0 - number.value) - 0.5;
    EXPECT_TRUE(sameText(c.gci(), oneMeasurementGci("P", number.value, number.value, number.value, "img", x, y)));
  }
  // The widest value prints whole: 309 digits before the point.
  Conversion wide(oneMeasurementBlock("0", "0", "1", "i", "P", "1e308", "0", "0", "1", "0", "0"));
  wide.run();
  ASSERT_TRUE(wide.converted());
  const std::string line = split(wide.gci(), "\r\n")[1];
  EXPECT_EQ(line.compare(0, 13, "P 10000000000"), 0) << line;
  EXPECT_EQ(split(line, " ")[1], formatted(0, 8, 1e308));
}

TEST(HostileFile, IntegersAtTheirLimits) {
  struct Case {
    const char* what;
    std::string width, height, id, photoId;
    double mx, my;      // the measurement, (0, 0) as read, converted
    std::string image;  // the image name it gets
  };
  const std::vector<Case> cases = {
      {"largest size and id", "2147483647", "2147483647", "2147483647", "2147483647", -1073741823.0, 1073741823.0,
       "img"},
      {"smallest size and id", "-2147483648", "-2147483648", "-2147483648", "-2147483648", 1073741824.5, -1073741824.5,
       "img"},
      {"one beyond the range reads as 0", "2147483648", "-2147483649", "2147483648", "-2147483649", 0.5, -0.5, "img"},
      {"an id that names no photo", "100", "50", "2147483647", "-2147483648", -49.5, 24.5, ""},
  };
  for (const Case& limit : cases) {
    SCOPED_TRACE(limit.what);
    Conversion c(oneMeasurementBlock(limit.width, limit.height, limit.id, "img.jpg", "P", "1", "2", "3", limit.photoId,
                                     "0", "0"));
    c.run();
    ASSERT_TRUE(c.converted());
    // A photo id that names no photo gets the default entry: no name, size 0.
    const double mx = limit.image.empty() ? 0.5 : limit.mx;
    const double my = limit.image.empty() ? -0.5 : limit.my;
    EXPECT_TRUE(sameText(c.gci(), oneMeasurementGci("P", 1, 2, 3, limit.image, mx, my)));
  }
}

TEST(HostilePath, InputIsADirectory) {
  QTemporaryDir scratch;
  ASSERT_TRUE(QDir(scratch.path()).mkdir("block.xml"));
  const QString dir = scratch.filePath("block.xml");
  const ToolRun run = runOn(dir);
  EXPECT_TRUE(run.exitedWith(1)) << run.describe();
  EXPECT_TRUE(hasLine(run, kOpenFailed)) << run.describe();
  EXPECT_TRUE(hasLine(run, reasonLine(dir, "Is a directory"))) << run.describe();
  EXPECT_EQ(listDir(scratch.path()), Lines{"block.xml"});
  EXPECT_EQ(listDir(dir), Lines{});
}

#ifdef Q_OS_UNIX
TEST(HostilePath, InputIsDevNull) {
  const ToolRun run = runOn("/dev/null");
  EXPECT_TRUE(run.exitedWith(1)) << run.describe();
  EXPECT_TRUE(hasLine(run, kOpenFailed)) << run.describe();
  EXPECT_TRUE(hasLine(run, reasonLine("/dev/null", "No document element found"))) << run.describe();
  EXPECT_FALSE(exists("/dev/null.gci"));
}
#endif

TEST(HostilePath, OutputPathLongerThanTheFileSystemAllows) {
  QTemporaryDir scratch;
  const QString base = scratch.path();
  struct Case {
    const char* what;
    QString dir;
    QString name;  // with a suffix of one letter
  };
  std::vector<Case> cases;

  // The output's file name is longer than the 255 characters a name may
  // have, although the input's is not.
  cases.push_back(Case{"file name", base, QString(252, 'n') + ".x"});

#ifdef Q_OS_UNIX
  // The output's whole path reaches PATH_MAX (4096, its NUL included)
  // although the input's does not.
  QString deep = base;
  while (deep.size() + 201 + 8 < 4094) {
    deep += "/" + QString(200, 'd');
    ASSERT_TRUE(QDir().mkdir(deep)) << deep.size();
  }
  cases.push_back(Case{"path", deep, QString(4094 - deep.size() - 3, 'f') + ".x"});
  ASSERT_EQ(cases.back().dir.size() + 1 + cases.back().name.size(), 4094);
#endif

  for (const Case& tooLong : cases) {
    SCOPED_TRACE(tooLong.what);
    const QString input = tooLong.dir + "/" + tooLong.name;
    ASSERT_TRUE(writeFile(input, exampleBlock()));
    const Lines before = listDir(tooLong.dir);
    const ToolRun run = runOn(input);
    EXPECT_TRUE(run.exitedWith(1)) << run.describe();
    EXPECT_TRUE(hasLine(run, filePathLine(input))) << run.describe();
    EXPECT_TRUE(hasLineStarting(run, writeFailedStart(beside(tooLong.dir, tooLong.name.chopped(2) + ".gci"))))
        << run.describe();
    EXPECT_FALSE(hasLineStarting(run, "Generate file:")) << run.describe();
    EXPECT_EQ(listDir(tooLong.dir), before);
  }
}

}  // namespace
