#include "platform/console_wait.h"

#include <gtest/gtest.h>

namespace {

struct StartCase {
  const char* how;
  ConsoleStart start;
  bool fromExplorer;
};

ConsoleStart consoleStart(int processes, const char* parent, bool input = true, bool output = true, bool error = true) {
  ConsoleStart start;
  start.inputIsConsole = input;
  start.outputIsConsole = output;
  start.errorIsConsole = error;
  start.processesOnConsole = processes;
  start.parentName = QString::fromUtf8(parent);
  return start;
}

class StartedFromExplorer : public testing::TestWithParam<StartCase> {};

TEST_P(StartedFromExplorer, WaitsOnlyInExplorersOwnConsole) {
  EXPECT_EQ(startedFromExplorer(GetParam().start), GetParam().fromExplorer) << GetParam().how;
}

INSTANTIATE_TEST_SUITE_P(
    Starts, StartedFromExplorer,
    testing::Values(StartCase{"dropped onto the exe, double-clicked, Send To", consoleStart(1, "explorer.exe"), true},
                    StartCase{"Explorer's name in another case", consoleStart(1, "EXPLORER.EXE"), true},
                    StartCase{"typed in cmd", consoleStart(2, "cmd.exe"), false},
                    StartCase{"from a .bat run by cmd", consoleStart(3, "cmd.exe"), false},
                    StartCase{"typed in PowerShell", consoleStart(2, "powershell.exe"), false},
                    StartCase{"start from a script: a console of its own", consoleStart(1, "cmd.exe"), false},
                    StartCase{"Task Scheduler", consoleStart(1, "svchost.exe"), false},
                    StartCase{"a console shared with Explorer's child", consoleStart(2, "explorer.exe"), false},
                    StartCase{"no console (a service)", consoleStart(0, "services.exe", false, false, false), false},
                    StartCase{"the console list unknown", consoleStart(0, "explorer.exe"), false},
                    StartCase{"standard input from a pipe", consoleStart(1, "explorer.exe", false), false},
                    StartCase{"standard output to a file", consoleStart(1, "explorer.exe", true, false), false},
                    StartCase{"standard error to a file", consoleStart(1, "explorer.exe", true, true, false), false},
                    StartCase{"parent unknown", consoleStart(1, ""), false},
                    StartCase{"a program merely ending in explorer.exe", consoleStart(1, "myexplorer.exe"), false},
                    StartCase{"Explorer's name without its suffix", consoleStart(1, "explorer"), false}));

TEST(ExplorerClosingText, UsageLineOnlyWithoutArgument) {
  const QString afterRun = explorerClosingText(false);
  const QString withoutArgument = explorerClosingText(true);
  EXPECT_EQ(afterRun.count(QLatin1Char('\n')), 1);
  EXPECT_EQ(withoutArgument.count(QLatin1Char('\n')), 2);
  EXPECT_TRUE(withoutArgument.endsWith(afterRun));
  EXPECT_TRUE(withoutArgument.contains(QLatin1String("block2gci.exe"))) << withoutArgument.toStdString();
}

#if !defined(Q_OS_WIN)
// Outside Windows nothing is a console of Explorer's, whatever the streams are.
TEST(SystemConsoleStart, NeverFromExplorerOutsideWindows) { EXPECT_FALSE(startedFromExplorer(systemConsoleStart())); }
#endif

}  // namespace
