#include "platform/console_output.h"

#include <gtest/gtest.h>

#include <QTextCodec>

#include <algorithm>
#include <cerrno>
#include <string>

namespace {

// Standard error as a console that shows at most `takes` units a call and
// refuses any beyond the first `failsAt`, or as a file; what reaches it.
// Standard output cannot be written.
struct FakeStderr {
  bool console = true, bytesFail = false;
  int takes = 1 << 30, failsAt = 1 << 30, highSurrogateEnds = 0;  // pieces that end inside a character
  std::u16string shown;
  QByteArray bytes;

  StreamWriter writer() {
    return {[this](StdStream stream) { return console && stream == StdStream::Error; },
            [this](StdStream, const char16_t* text, int size) {
              highSurrogateEnds += QChar::isHighSurrogate(text[size - 1]);
              const int take = std::min({size, takes, failsAt - static_cast<int>(shown.size())});
              shown.append(text, static_cast<size_t>(std::max(take, 0)));
              return take;
            },
            [this](StdStream stream, const QByteArray& data) {
              errno = ENOSPC;
              if (bytesFail || stream != StdStream::Error) return false;
              bytes += data;
              return true;
            }};
  }
};

// Latin-1 as the local 8-bit encoding, the same on every platform and locale.
class ConsoleOutputTest : public testing::Test {
 protected:
  void SetUp() override { QTextCodec::setCodecForLocale(QTextCodec::codecForName("ISO-8859-1")); }
  void TearDown() override { QTextCodec::setCodecForLocale(saved_); }
  QTextCodec* saved_ = QTextCodec::codecForLocale();
};

// Accents, Greek, a character outside the basic plane, a lone surrogate.
const QString kText =
    QString::fromUtf16(u"\"M\u00fcller \u0391\u03bb\u03c6\u03b1\"\n\U0001F5FA") + QChar(0xDCFC) + "\n";
const std::u16string kShown = u"\"M\u00fcller \u0391\u03bb\u03c6\u03b1\"\r\n\U0001F5FA\uFFFD\r\n";

// A console shows every character with CR LF line ends, and a lone
// surrogate as U+FFFD; what it refuses reaches the bytes, each character
// once. A file or a pipe gets the local 8-bit bytes with "\n" line ends.
TEST_F(ConsoleOutputTest, ConsoleShowsEveryCharacterAndFilesGetLocalBytes) {
  const struct {
    const char* what;
    bool console;
    int takes, failsAt;
    std::u16string shown;
    QByteArray bytes;
  } cases[] = {
      {"console", true, 1 << 30, 1 << 30, kShown, ""},
      {"one unit a call", true, 1, 1 << 30, kShown, ""},
      {"refuses at once", true, 1 << 30, 0, u"", "\"M\xFCller ????\"\n???\n"},
      {"refuses between CR and LF", true, 1 << 30, 14, kShown.substr(0, 14), "\n???\n"},
      {"file", false, 1 << 30, 1 << 30, u"", "\"M\xFCller ????\"\n???\n"},
  };
  for (const auto& c : cases) {
    FakeStderr err;
    err.console = c.console, err.takes = c.takes, err.failsAt = c.failsAt;
    EXPECT_TRUE(writeText(StdStream::Error, kText, err.writer())) << c.what;
    EXPECT_EQ(err.shown, c.shown) << c.what;
    EXPECT_EQ(err.bytes, c.bytes) << c.what;
  }
}

// Bytes that cannot be written make the text fail, with errno set; a long
// text reaches the console in pieces that never split a character.
TEST_F(ConsoleOutputTest, FailsWithErrnoAndShowsLongTextInWholeCharacters) {
  FakeStderr err;
  errno = 0;
  EXPECT_FALSE(writeText(StdStream::Output, QStringLiteral("Usage\n"), err.writer()));
  EXPECT_EQ(errno, ENOSPC);
  err.failsAt = 0, err.bytesFail = true;
  EXPECT_FALSE(writeText(StdStream::Error, kText, err.writer()));

  FakeStderr longText;
  EXPECT_TRUE(writeText(StdStream::Error, QString::fromUtf16(u"x\U0001F5FA\n").repeated(3000), longText.writer()));
  EXPECT_EQ(longText.shown.size(), 3000u * 5);
  EXPECT_EQ(longText.highSurrogateEnds, 0);
}

}  // namespace
