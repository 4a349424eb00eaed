// Running out of memory: the executable runs under a series of address-space
// limits just above what it needs to start. At every limit it either writes
// the complete output or ends with status 1, a log line that says memory ran
// out, and no output or temporary file.

#include "tests/support/run_tool.h"
#include "tests/support/sample_blocks.h"
#include "tests/support/scratch_files.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const QString kExe = QStringLiteral(BLOCK2GCI_EXE);

#if defined(BLOCK2GCI_ASAN)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

// A block whose parse needs some megabytes: photos and a tie-point section
// the tool must parse but never keeps. Few control points, because under
// AddressSanitizer a failing operator new ends the process instead of
// throwing, and only the parser's large allocations can fail cleanly there.
std::string block() {
  std::ostringstream out;
  out << "<?xml version=\"1.0\"?>\n<Root><Block><Photogroups><Photogroup><Name>G</Name>"
         "<ImageDimensions><Width>6000</Width><Height>4000</Height></ImageDimensions>\n";
  for (int id = 1; id <= 2000; ++id) {
    out << "<Photo><Id>" << id << "</Id><ImagePath>C:/flight/IMG_" << id << ".JPG</ImagePath></Photo>\n";
  }
  out << "</Photogroup></Photogroups><ControlPoints>\n";
  for (int p = 1; p <= 50; ++p) {
    out << "<ControlPoint><Name>GCP" << p << "</Name><Position><x>" << p << ".5</x><y>2.25</y><z>3</z>"
        << "</Position>";
    for (int m = 1; m <= 10; ++m) {
      out << "<Measurement><PhotoId>" << (p * m) % 2000 + 1 << "</PhotoId><x>" << m * 100 << "</x><y>" << m * 50
          << "</y></Measurement>";
    }
    out << "</ControlPoint>\n";
  }
  out << "</ControlPoints><TiePoints>\n";
  for (int t = 0; t < 60000; ++t) {
    out << "<TiePoint><Position><x>" << t << "</x><y>1</y><z>2</z></Position><Measurement><PhotoId>" << t % 2000
        << "</PhotoId><x>1</x><y>2</y></Measurement></TiePoint>\n";
  }
  out << "</TiePoints></Block></Root>\n";
  return out.str();
}

class MemoryLimit : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(scratch_.isValid()); }

  QString dir() const { return scratch_.path(); }
  QString path(const QString& name) const { return scratch_.filePath(name); }

  ToolOptions options(const QString& input) const {
    ToolOptions o;
    o.program = kExe;
    o.args = QStringList{input};
    o.workDir = dir();
    // Under AddressSanitizer a failed allocation must come back as null, as
    // it does from the system allocator.
    if (kAddressSanitizer) o.env.emplace_back("ASAN_OPTIONS", "allocator_may_return_null=1:detect_leaks=0");
    return o;
  }

  // The address space the tool has taken once it is started and waiting to
  // open its input (a FIFO nobody writes to).
  unsigned long long startedSize() {
    const QString fifo = path("waiting.xml");
    if (mkfifo(QFile::encodeName(fifo).constData(), 0600) != 0) return 0;
    unsigned long long size = 0;
    {
      const RunningTool tool(options(fifo));
      for (int i = 0; i < 200 && tool.pid() > 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const unsigned long long now = virtualMemorySize(tool.pid());
        if (now != 0 && now == size) break;  // settled
        size = now;
      }
    }
    QFile::remove(fifo);
    return size;
  }

  QTemporaryDir scratch_;
};

TEST_F(MemoryLimit, EachRunSucceedsCompletelyOrFailsCleanly) {
  const QString input = path("block.xml");
  ASSERT_TRUE(writeFile(input, block()));
  const ToolRun free = runTool(options(input));
  ASSERT_TRUE(exited(free, 0));
  const std::string expected = readFile(path("block.gci"));
  ASSERT_FALSE(expected.empty());
  ASSERT_TRUE(QFile::remove(path("block.gci")));

  const unsigned long long base = startedSize();
  ASSERT_GT(base, 0u);
  int failures = 0;
  int successes = 0;
  for (unsigned long long extraMb : {0ull, 1ull, 2ull, 4ull, 8ull, 16ull, 24ull, 32ull, 36ull, 40ull, 44ull, 48ull,
                                     52ull, 56ull, 60ull, 64ull, 128ull, 256ull, 512ull}) {
    SCOPED_TRACE("limit: start-up size + " + std::to_string(extraMb) + " MB");
    ToolOptions limited = options(input);
    limited.addressSpaceLimit = base + (extraMb << 20);
    const ToolRun run = runTool(limited);
    const std::vector<std::string> files = listDir(dir());
    if (run.exitedWith(0)) {
      ++successes;
      EXPECT_EQ(files, (std::vector<std::string>{"block.gci", "block.xml"}));
      EXPECT_EQ(readFile(path("block.gci")), expected) << "a successful run wrote an incomplete output";
      QFile::remove(path("block.gci"));
    } else if (kAddressSanitizer && (run.err.find("AddressSanitizer failed to allocate") != std::string::npos ||
                                     run.err.find("ERROR: Failed to mmap") != std::string::npos)) {
      // The sanitizer's own runtime ran out first and ended the process
      // with its own message: that says nothing about the tool, only that
      // no file may be left.
      EXPECT_EQ(files, std::vector<std::string>{"block.xml"}) << "a failed run left a file behind";
    } else {
      ++failures;
      ASSERT_TRUE(exited(run, 1));
      const std::vector<std::string> lines = run.errLines();
      const bool saysSo =
          std::find(lines.begin(), lines.end(), kOutOfMemory) != lines.end() ||
          std::find(lines.begin(), lines.end(), reasonLine(input, "Could not allocate memory")) != lines.end() ||
          std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
            return l.rfind("Write failed:", 0) == 0 && l.find("memory") != std::string::npos;
          });
      EXPECT_TRUE(saysSo) << run.describe();
      EXPECT_EQ(files, std::vector<std::string>{"block.xml"}) << "a failed run left a file behind";
    }
  }
  // The series must cover both sides, or it proved nothing.
  EXPECT_GT(failures, 0);
  EXPECT_GT(successes, 0);
}

// A block read ahead on the second thread, with long element names where
// that thread scans ahead of the main one: under limits around what those
// names need, every run still ends by itself, with the complete output or
// with status 1 and a line that says memory ran out, never with an abort.
TEST_F(MemoryLimit, ReadAheadThreadRunningOutEndsCleanly) {
  if (kAddressSanitizer) {
    GTEST_SKIP() << "under AddressSanitizer a failing operator new ends the process instead of throwing";
  }
  // The second half of each 1 MiB piece is scanned on the second thread.
  const std::string name(200000, 'n');
  std::string document = block();
  for (std::size_t piece = 1; piece <= 5; ++piece) {
    // Between two tie points, 70 % into the piece.
    const std::size_t where = document.find("<TiePoint>", (piece << 20) + (std::size_t(7) << 20) / 10);
    ASSERT_NE(where, std::string::npos);
    document.insert(where, "<" + name + ">x</" + name + ">\n");
  }
  const QString input = path("block.xml");
  ASSERT_TRUE(writeFile(input, document));
  const ToolRun free = runTool(options(input));
  ASSERT_TRUE(exited(free, 0));
  const std::string expected = readFile(path("block.gci"));
  ASSERT_TRUE(QFile::remove(path("block.gci")));

  const unsigned long long base = startedSize();
  ASSERT_GT(base, 0u);
  int failures = 0;
  int successes = 0;
  for (unsigned long long extraKb = 0; extraKb <= (48u << 10); extraKb += 512) {
    SCOPED_TRACE("limit: start-up size + " + std::to_string(extraKb) + " KB");
    ToolOptions limited = options(input);
    limited.addressSpaceLimit = base + (extraKb << 10);
    const ToolRun run = runTool(limited);
    if (run.exitedWith(0)) {
      ++successes;
      EXPECT_EQ(readFile(path("block.gci")), expected);
      QFile::remove(path("block.gci"));
      continue;
    }
    ++failures;
    ASSERT_TRUE(exited(run, 1));
    const std::vector<std::string> lines = run.errLines();
    const bool saysSo =
        std::find(lines.begin(), lines.end(), kOutOfMemory) != lines.end() ||
        std::find(lines.begin(), lines.end(), reasonLine(input, "Could not allocate memory")) != lines.end();
    EXPECT_TRUE(saysSo) << run.describe();
    EXPECT_EQ(listDir(dir()), std::vector<std::string>{"block.xml"});
  }
  EXPECT_GT(failures, 0);
  EXPECT_GT(successes, 0);
}

}  // namespace
