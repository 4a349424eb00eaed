#include "platform/replacing_file.h"

#include "tests/support/scratch_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#if defined(Q_OS_WIN)
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#endif

#include <algorithm>
#include <cstdlib>
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
       CreateHardLinkW(ResolvedPath(dir + "/link.xml").forSystem().c_str(),
                       ResolvedPath(dir + "/a.gci").forSystem().c_str(), nullptr);
       return dir + "/link.xml";
     }},
    {"OtherCase", true, [](const QString& dir) { return dir + "/A.GCI"; }},
    {"TrailingBlank", true, [](const QString& dir) { return dir + "/a.gci "; }},
    {"Backslashes", true, [](const QString& dir) { return QDir::toNativeSeparators(dir) + "\\a.gci"; }},
    {"DevicePath", true,
     [](const QString& dir) { return QString::fromStdWString(ResolvedPath(dir + "/a.gci").forSystem()); }},
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

// Writes "new" through a ReplacingFile at `path` made with `temporary`;
// the error string when it fails.
std::string replaceWithNew(const QString& path, ReplacingFile::Temporary temporary) {
  ReplacingFile file(path, temporary);
  if (file.open() && file.write("new", 3) && file.commit()) return std::string();
  return file.errorString().toStdString();
}

const ReplacingFile::Temporary kBothKinds[] = {ReplacingFile::Temporary::UnnamedWherePossible,
                                               ReplacingFile::Temporary::Named};

// A temporary name is short and of fixed length, so an output whose own name
// is as long as the system allows is written; an abandoned file leaves
// nothing behind.
TEST_F(ReplacingFileTest, LongestNameIsWrittenAndAbandonedFilesLeaveNothing) {
  for (const auto temporary : kBothKinds) {
    const QString longest = path(QString(251, QLatin1Char('n')) + ".gci");
    EXPECT_EQ(replaceWithNew(longest, temporary), "");
    EXPECT_EQ(readFile(longest), "new");
    {
      ReplacingFile abandoned(path("a.gci"), temporary);
      ASSERT_TRUE(abandoned.open());
      ASSERT_TRUE(abandoned.write("partial", 7));
    }
    EXPECT_EQ(readFile(path("a.gci")), "earlier");
    EXPECT_EQ(listDir(dir_.path()),
              (std::vector<std::string>{"a.gci", longest.mid(dir_.path().size() + 1).toStdString()}));
    QFile::remove(longest);
  }
}

// A file of many megabytes, written in pieces of odd sizes (whose writing
// to the disk begins while later pieces come), holds every byte, in order,
// and nothing else is left beside it.
TEST_F(ReplacingFileTest, LargeFilesAreWrittenWhole) {
  std::string text;
  for (std::size_t i = 0; text.size() < (std::size_t(21) << 20); ++i) text += std::to_string(i * 7919) + "\n";
  for (const auto temporary : kBothKinds) {
    ReplacingFile file(path("a.gci"), temporary);
    ASSERT_TRUE(file.open());
    for (std::size_t at = 0, piece = 1; at < text.size(); at += piece, piece = piece * 3 % 1000003 + 1) {
      ASSERT_TRUE(file.write(text.data() + at, std::min(piece, text.size() - at)));
    }
    ASSERT_TRUE(file.commit()) << file.errorString().toStdString();
    EXPECT_TRUE(readFile(path("a.gci")) == text);  // not EXPECT_EQ: a failure would print 21 MB
    EXPECT_EQ(listDir(dir_.path()), std::vector<std::string>{"a.gci"});
  }
}

// An interrupt in the middle of a write, run as the system would run it:
// the handler removes a named temporary file although it is still open, says
// so and ends the process as interrupted programs end.
TEST_F(ReplacingFileTest, InterruptRemovesTheTemporaryFile) {
#if defined(Q_OS_WIN)
  const int cause = CTRL_C_EVENT;
  const auto ending = ::testing::ExitedWithCode(static_cast<int>(0xC000013A));
#else
  const int cause = SIGTERM;
  const auto ending = ::testing::KilledBySignal(SIGTERM);
#endif
  const auto interrupted = [&]() {
    installInterruptCleanup();
    ReplacingFile file(path("a.gci"), ReplacingFile::Temporary::Named);
    if (!file.open() || !file.write("partial", 7)) std::abort();
    onInterrupt(cause);
  };
  EXPECT_EXIT(interrupted(), ending, "Interrupted");
  EXPECT_EQ(listDir(dir_.path()), std::vector<std::string>{"a.gci"});
  EXPECT_EQ(readFile(path("a.gci")), "earlier");
}

#if !defined(Q_OS_WIN)
int symlinkAt(const char* target, const QString& link) {
  return ::symlink(target, QFile::encodeName(link).constData());
}

bool isSymbolicLink(const QString& path) {
  struct stat info {};
  return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISLNK(info.st_mode);
}

// A link at the path is written through: the file it finally names gets the
// text (and is made when the link dangles), the link stays a link, and
// nothing else appears in either folder.
TEST_F(ReplacingFileTest, SymbolicLinksAreWrittenThrough) {
  ASSERT_TRUE(QDir(dir_.path()).mkdir("data"));
  ASSERT_EQ(symlinkAt("a.gci", path("same-folder.gci")), 0);
  ASSERT_EQ(symlinkAt("../a.gci", path("data/other-folder.gci")), 0);
  ASSERT_EQ(symlinkAt("data/other-folder.gci", path("chain.gci")), 0);
  ASSERT_EQ(symlinkAt(QFile::encodeName(path("data/made.gci")).constData(), path("dangling.gci")), 0);
  struct Row {
    const char* link;
    const char* target;
  };
  for (const auto temporary : kBothKinds) {
    for (const Row& row : {Row{"same-folder.gci", "a.gci"}, Row{"data/other-folder.gci", "a.gci"},
                           Row{"chain.gci", "a.gci"}, Row{"dangling.gci", "data/made.gci"}}) {
      SCOPED_TRACE(row.link);
      ASSERT_TRUE(writeFile(path("a.gci"), "earlier"));
      QFile::remove(path("data/made.gci"));
      EXPECT_EQ(replaceWithNew(path(row.link), temporary), "");
      EXPECT_TRUE(isSymbolicLink(path(row.link)));
      EXPECT_EQ(readFile(path(row.target)), "new");
    }
  }
  EXPECT_EQ(listDir(dir_.path()),
            (std::vector<std::string>{"a.gci", "chain.gci", "dangling.gci", "data", "same-folder.gci"}));
  EXPECT_EQ(listDir(path("data")), (std::vector<std::string>{"made.gci", "other-folder.gci"}));
}

// A loop of links names no file: the write fails with the system's reason.
TEST_F(ReplacingFileTest, LoopOfLinksFails) {
  ASSERT_EQ(symlinkAt("loop2.gci", path("loop1.gci")), 0);
  ASSERT_EQ(symlinkAt("loop1.gci", path("loop2.gci")), 0);
  EXPECT_EQ(replaceWithNew(path("loop1.gci"), ReplacingFile::Temporary::UnnamedWherePossible),
            "Too many levels of symbolic links");
}

// The replaced file's permissions stay, whether the temporary file had a
// name or not.
TEST_F(ReplacingFileTest, ReplacedFileKeepsItsPermissions) {
  for (const auto temporary : kBothKinds) {
    for (const mode_t mode : {mode_t{0600}, mode_t{0640}, mode_t{0755}}) {
      ASSERT_EQ(::chmod(QFile::encodeName(path("a.gci")).constData(), mode), 0);
      EXPECT_EQ(replaceWithNew(path("a.gci"), temporary), "");
      struct stat info {};
      ASSERT_EQ(::stat(QFile::encodeName(path("a.gci")).constData(), &info), 0);
      EXPECT_EQ(info.st_mode & 07777, mode);
    }
  }
}
#endif

}  // namespace
