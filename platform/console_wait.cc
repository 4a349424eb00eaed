#include "platform/console_wait.h"

#include "platform/console_output.h"

#if defined(Q_OS_WIN)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>
#endif

namespace {

const char kExplorerUsage[] = "Drag a block file onto block2gci.exe to convert it, or run it from a console.\n";
const char kPressAnyKey[] = "Press any key to close this window.\n";

#if defined(Q_OS_WIN)
bool isConsole(DWORD which) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

// The program file name of the parent of this process, from a snapshot of
// the processes; empty when it cannot be found.
QString parentProcessName() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return QString();
  const DWORD self = GetCurrentProcessId();
  DWORD parent = 0;
  bool parentFound = false;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && !parentFound; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == self) {
      parent = entry.th32ParentProcessID;
      parentFound = true;
    }
  }
  QString name;
  entry.dwSize = sizeof entry;
  for (BOOL more = parentFound && Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == parent) {
      name = QString::fromWCharArray(entry.szExeFile);
      break;
    }
  }
  CloseHandle(snapshot);
  return name;
}

bool isModifierKey(WORD key) {
  switch (key) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_LWIN:
    case VK_RWIN:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
      return true;
    default:
      return false;
  }
}

// Waits for a key pressed on the console `input`, as `pause` does: a
// modifier alone does not count, and Ctrl-C is a key here rather than an
// interrupt (the run is over). Ends at once when the console cannot be read.
void waitForKey(HANDLE input) {
  DWORD mode = 0;
  const bool haveMode = GetConsoleMode(input, &mode) != 0;
  if (haveMode) SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_PROCESSED_INPUT));
  INPUT_RECORD record{};
  DWORD read = 0;
  while (ReadConsoleInputW(input, &record, 1, &read) && read == 1) {
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
        !isModifierKey(record.Event.KeyEvent.wVirtualKeyCode)) {
      break;
    }
  }
  if (haveMode) SetConsoleMode(input, mode);
}
#endif

}  // namespace

bool startedFromExplorer(const ConsoleStart& start) {
  return start.inputIsConsole && start.outputIsConsole && start.errorIsConsole && start.processesOnConsole == 1 &&
         start.parentName.compare(QLatin1String("explorer.exe"), Qt::CaseInsensitive) == 0;
}

ConsoleStart systemConsoleStart() {
  ConsoleStart start;
#if defined(Q_OS_WIN)
  start.inputIsConsole = isConsole(STD_INPUT_HANDLE);
  start.outputIsConsole = isConsole(STD_OUTPUT_HANDLE);
  start.errorIsConsole = isConsole(STD_ERROR_HANDLE);
  // Room for two: whether anyone shares the console is all that matters.
  DWORD processes[2] = {0, 0};
  start.processesOnConsole = static_cast<int>(GetConsoleProcessList(processes, 2));
  // The snapshot of every process only where the answer can still be yes.
  ConsoleStart asIfExplorer = start;
  asIfExplorer.parentName = QStringLiteral("explorer.exe");
  if (startedFromExplorer(asIfExplorer)) start.parentName = parentProcessName();
#endif
  return start;
}

QString explorerClosingText(bool withoutArgument) {
  return QLatin1String(withoutArgument ? kExplorerUsage : "") + QLatin1String(kPressAnyKey);
}

void holdWindowForExplorer(bool withoutArgument) {
#if defined(Q_OS_WIN)
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  // Keys typed during the run do not count. Dropped before the request
  // shows, so that every key pressed after it does.
  FlushConsoleInputBuffer(input);
  if (!writeText(StdStream::Output, explorerClosingText(withoutArgument))) return;
  waitForKey(input);
#else
  (void)withoutArgument;
#endif
}
