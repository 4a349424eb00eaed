#include "gci/replacing_file.h"

#include "tests/support/scratch_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#if defined(Q_OS_WIN)
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace {

class ReplacingFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    ASSERT_TRUE(writeFile(path("a.gci"), "earlier"));
  }
  QString path(const QString& name) const { return dir_.filePath(name); }

  QTemporaryDir dir_;
};

// A second name for a.gci, made by `make` in the scratch folder, or for a
// file of its own (`same` false).
struct SpellingRow {
  const char* label;
  bool same;
  std::function<QString(const QString& dir)> make;
};

void PrintTo(const SpellingRow& row, std::ostream* os) { *os << row.label; }

std::vector<SpellingRow> spellingRows() {
  std::vector<SpellingRow> rows = {
    {"SameSpelling", true, [](const QString& dir) { return dir + "/a.gci"; }},
    {"DotSegments", true, [](const QString& dir) { return dir + "/./../" + QDir(dir).dirName() + "/a.gci"; }},
    {"OtherFile", false, [](const QString& dir) { return writeFile(dir + "/b.gci", "earlier"), dir + "/b.gci"; }},
    {"Missing", false, [](const QString& dir) { return dir + "/missing.gci"; }},
#if defined(Q_OS_WIN)
    {"HardLink", true,
     [](const QString& dir) {
       CreateHardLinkW(nativePath(dir + "/link.xml").c_str(), nativePath(dir + "/a.gci").c_str(), nullptr);
       return dir + "/link.xml";
     }},
    {"OtherCase", true, [](const QString& dir) { return dir + "/A.GCI"; }},
    {"TrailingBlank", true, [](const QString& dir) { return dir + "/a.gci "; }},
    {"Backslashes", true, [](const QString& dir) { return QDir::toNativeSeparators(dir) + "\\a.gci"; }},
    {"DevicePath", true, [](const QString& dir) { return QString::fromStdWString(nativePath(dir + "/a.gci")); }},
#else
    {"HardLink", true,
     [](const QString& dir) {
       ::link(QFile::encodeName(dir + "/a.gci").constData(), QFile::encodeName(dir + "/link.xml").constData());
       return dir + "/link.xml";
     }},
    {"SymbolicLink", true,
     [](const QString& dir) {
       ::symlink("a.gci", QFile::encodeName(dir + "/link.xml").constData());
       return dir + "/link.xml";
     }},
    {"OtherCaseIsAnotherFile", false,
     [](const QString& dir) { return writeFile(dir + "/A.GCI", "earlier"), dir + "/A.GCI"; }},
#endif
  };
  return rows;
}

class SameFileTest : public ReplacingFileTest, public ::testing::WithParamInterface<SpellingRow> {};

TEST_P(SameFileTest, JudgesByIdentityNotSpelling) {
  const QString other = GetParam().make(dir_.path());
  EXPECT_EQ(isSameFile(path("a.gci"), other), GetParam().same) << other.toStdString();
  EXPECT_EQ(isSameFile(other, path("a.gci")), GetParam().same);
}

INSTANTIATE_TEST_SUITE_P(Spellings, SameFileTest, ::testing::ValuesIn(spellingRows()),
                         [](const ::testing::TestParamInfo<SpellingRow>& row) { return row.param.label; });

#if defined(Q_OS_WIN)
// Ctrl-C in the middle of a write: the handler, run as the console would run
// it, removes the temporary file although it is still open, says so and
// ends the process with STATUS_CONTROL_C_EXIT. (On Linux real signals are
// sent to the tool end to end.)
TEST_F(ReplacingFileTest, InterruptRemovesTheTemporaryFileAndEndsAsCtrlC) {
  const auto interrupted = [&]() {
    installInterruptCleanup();
    ReplacingFile file(path("a.gci"));
    if (!file.open() || !file.write("partial", 7)) std::abort();
    onInterrupt(CTRL_C_EVENT);
  };
  EXPECT_EXIT(interrupted(), ::testing::ExitedWithCode(static_cast<int>(0xC000013A)), "Interrupted");
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files), QStringList{"a.gci"});
  EXPECT_EQ(readFile(path("a.gci")), "earlier");
}
#endif

}  // namespace
